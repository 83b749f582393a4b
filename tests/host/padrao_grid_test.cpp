// The standard grid form driven as a user drives it: toolbar and menu
// enabling from the data set's state, the inherited confirm, cancel, edit,
// insert, delete and search, Ctrl+Enter and Escape, and the release of a
// closed screen.

#include <gtest/gtest.h>

#include "platform/host/frm_padrao_grid.h"
#include "platform/host/lookups.h"
#include "platform/ui/driver.h"

using namespace ui;
using data::TClientDataSet;
using data::TDataSetState;
using data::TFieldType;

namespace {

struct TfrmTeste : host::TfrmPadraoGrid {
  TClientDataSet cds{"cdsServico"};
  explicit TfrmTeste(TComponent* owner, const char* name = "frmTeste") : TfrmPadraoGrid(owner) {
    SetName(name);
    cds.FieldDefs() = {{"CDSERVFILI", TFieldType::String, 5},
                       {"NMSERVICO", TFieldType::String, 40},
                       {"QTCLIEFETCAR", TFieldType::Float}};
    cds.CreateDataSet();
    for (auto [c, n, q] : {std::tuple{"00001", "Almoço", 10.0}, {"00002", "Jantar", 20.0}, {"00003", "Ceia", 30.0}}) {
      cds.Append();
      cds.FieldByName("CDSERVFILI").SetAsString(c);
      cds.FieldByName("NMSERVICO").SetAsString(n);
      cds.FieldByName("QTCLIEFETCAR").SetAsFloat(q);
      cds.Post();
    }
    cds.MergeChangeLog();
    cds.First();
    dtsPadrao->SetDataSet(&cds);
    dbtNome->SetDataField("NMSERVICO");
  }
};

TfrmTeste* frmTeste = nullptr;

struct PadraoGridTest : ::testing::Test {
  Driver ui;
  TfrmTeste* f = nullptr;
  void SetUp() override {
    frmTeste = f = CreateForm<TfrmTeste>(nullptr);
    f->ClearOnDestroy(frmTeste);
    ui.act([&] { f->Show(); });
  }
  // Every standard button and the menu entry it owns agree.
  void expectMenusFollow() {
    for (TButtonFlat* b : {f->sbtIncluir, f->sbtAlterar, f->sbtExcluir, f->sbtProcurar, f->sbtVerificar,
                           f->sbtImprimir, f->sbtCancelar, f->sbtConfirmar, f->sbtAjuda, f->sbtFechar}) {
      ASSERT_NE(b->MenuItem(), nullptr) << b->Name();
      EXPECT_EQ(b->MenuItem()->Enabled(), b->Enabled()) << b->Name();
    }
  }
};

TEST_F(PadraoGridTest, ToolbarAndMenusFollowTheDataSetState) {
  EXPECT_TRUE(f->sbtIncluir->Enabled());
  EXPECT_TRUE(f->sbtAlterar->Enabled());
  EXPECT_TRUE(f->sbtProcurar->Enabled());
  EXPECT_FALSE(f->sbtConfirmar->Enabled());
  EXPECT_FALSE(f->sbtCancelar->Enabled());
  expectMenusFollow();

  ui.focus(*f->dbgPadrao);
  f->dbgPadrao->SetSelectedIndex(2);
  ui.type("5");  // typing starts an edit
  ASSERT_EQ(f->cds.State(), TDataSetState::Edit);
  EXPECT_TRUE(f->sbtConfirmar->Enabled());
  EXPECT_TRUE(f->sbtCancelar->Enabled());
  EXPECT_FALSE(f->sbtIncluir->Enabled());
  EXPECT_FALSE(f->sbtAlterar->Enabled());
  EXPECT_FALSE(f->sbtExcluir->Enabled());
  EXPECT_FALSE(f->sbtProcurar->Enabled());
  EXPECT_TRUE(f->sbtFechar->Enabled());
  expectMenusFollow();
  // A disabled entry's shortcut does nothing: F2 (insert) while editing.
  ui.press(VK_F2);
  EXPECT_EQ(f->cds.State(), TDataSetState::Edit);

  ui.click(*f->mnuConfirmar);  // the menu entry runs the button's handler
  EXPECT_EQ(f->cds.State(), TDataSetState::Browse);
  EXPECT_DOUBLE_EQ(f->cds.FieldByName("QTCLIEFETCAR").AsFloat(), 5);
  expectMenusFollow();

  // Emptied: nothing to edit, delete, search or verify; insert still possible.
  ui.act([&] { f->cds.EmptyDataSet(); });
  ui.act([&] { f->dtsPadraoStateChange(*f->dtsPadrao); });
  EXPECT_TRUE(f->sbtIncluir->Enabled());
  EXPECT_FALSE(f->sbtAlterar->Enabled());
  EXPECT_FALSE(f->sbtExcluir->Enabled());
  EXPECT_FALSE(f->sbtVerificar->Enabled());
  expectMenusFollow();

  // A screen that sets the menu side gets the button along with it.
  f->mnuProcurar->SetEnabled(true);
  EXPECT_TRUE(f->sbtProcurar->Enabled());
  f->sbtProcurar->SetEnabled(false);
  EXPECT_FALSE(f->mnuProcurar->Enabled());
}

TEST_F(PadraoGridTest, ScreenMenuEntryAtPositionFive) {
  auto* mnuConsolidar = Make<TMenuItem>(f, "mnuConsolidar");
  f->mnuManutencao->Insert(5, mnuConsolidar);
  EXPECT_EQ(f->mnuManutencao->IndexOf(f->mnuVerificar), 4);
  EXPECT_EQ(f->mnuManutencao->IndexOf(mnuConsolidar), 5);
}

TEST_F(PadraoGridTest, EditConfirmAndCtrlEnter) {
  ui.click(*f->sbtAlterar);
  EXPECT_EQ(f->cds.State(), TDataSetState::Edit);
  EXPECT_EQ(ui.focused(), f->dbgPadrao);
  f->dbgPadrao->SetSelectedIndex(2);
  ui.type("7");
  ui.press(VK_RETURN, ssCtrl);
  EXPECT_EQ(f->cds.State(), TDataSetState::Browse);
  EXPECT_DOUBLE_EQ(f->cds.FieldByName("QTCLIEFETCAR").AsFloat(), 7);  // the editor's text was posted
  EXPECT_EQ(f->cds.RecNo(), 1);
  EXPECT_TRUE(ui.errors().empty());

  // Ctrl+Enter in browse posts nothing and moves nothing.
  ui.press(VK_RETURN, ssCtrl);
  EXPECT_EQ(f->cds.State(), TDataSetState::Browse);
  EXPECT_EQ(f->cds.ChangeCount(), 1);
}

TEST_F(PadraoGridTest, CancelAsksOnlyWhenSomethingWasTyped) {
  ui.click(*f->sbtAlterar);
  ui.click(*f->sbtCancelar);  // nothing typed: no question
  EXPECT_TRUE(ui.dialogs().empty());
  EXPECT_EQ(f->cds.State(), TDataSetState::Browse);

  ui.focus(*f->dbgPadrao);
  f->dbgPadrao->SetSelectedIndex(2);
  ui.type("99");
  ui.answer(mrNo);
  ui.click(*f->sbtCancelar);
  ASSERT_EQ(ui.dialogs().size(), 1u);
  EXPECT_EQ(ui.lastDialog(), f->msgMensagensPadroes.Msg("Canc"));
  EXPECT_EQ(ui.dialogs().back().Type, TMsgDlgType::Confirmation);
  EXPECT_EQ(f->cds.State(), TDataSetState::Edit);  // No keeps the edit

  ui.answer(mrYes);
  ui.click(*f->sbtCancelar);
  EXPECT_EQ(f->cds.State(), TDataSetState::Browse);
  EXPECT_DOUBLE_EQ(f->cds.FieldByName("QTCLIEFETCAR").AsFloat(), 10);
  EXPECT_EQ(f->cds.ChangeCount(), 0);
}

TEST_F(PadraoGridTest, DeleteAsksExclAndInsertAppendsARow) {
  ui.answer(mrNo);
  ui.click(*f->sbtExcluir);
  EXPECT_EQ(ui.lastDialog(), f->msgMensagensPadroes.Msg("Excl"));
  EXPECT_EQ(f->cds.RecordCount(), 3);
  ui.answer(mrYes);
  ui.click(*f->sbtExcluir);
  EXPECT_EQ(f->cds.RecordCount(), 2);
  EXPECT_EQ(f->cds.FieldByName("CDSERVFILI").AsString(), "00002");

  ui.click(*f->sbtIncluir);
  EXPECT_EQ(f->cds.State(), TDataSetState::Insert);
  EXPECT_EQ(ui.focused(), f->dbgPadrao);
  EXPECT_FALSE(f->sbtIncluir->Enabled());
}

TEST_F(PadraoGridTest, ARefusedPostKeepsTheEditAndIsShownOnce) {
  f->cds.BeforePost = [](TClientDataSet&) { throw rtl::Exception("Quantidade inválida."); };
  ui.click(*f->sbtAlterar);
  f->dbgPadrao->SetSelectedIndex(2);
  ui.type("1");
  ui.press(VK_RETURN, ssCtrl);
  EXPECT_EQ(f->cds.State(), TDataSetState::Edit);
  ASSERT_EQ(ui.errors().size(), 1u);
  EXPECT_EQ(ui.lastError(), "Quantidade inválida.");
  EXPECT_TRUE(f->sbtConfirmar->Enabled());
}

TEST_F(PadraoGridTest, SearchLocatesTheTypedValue) {
  host::ScriptedLookupEx lookup(ui.services().Lookup, ui.services().services());
  ui.focus(*f->dbgPadrao);
  f->dbgPadrao->SetSelectedIndex(1);
  lookup.QueueSearch("jan");  // the selected column's field is offered first
  ui.click(*f->sbtProcurar);
  ASSERT_EQ(lookup.Searches.size(), 1u);
  EXPECT_EQ(lookup.Searches[0].Field, "NMSERVICO");
  EXPECT_EQ(f->cds.RecNo(), 2);

  lookup.QueueSearch("Feijoada");
  ui.click(*f->sbtProcurar);
  EXPECT_EQ(ui.lastDialog(), host::kRegNaoEncontrado);
  EXPECT_EQ(f->cds.RecNo(), 2);  // no match: the cursor stays

  lookup.QueueSearch("30", "QTCLIEFETCAR");
  ui.click(*f->sbtProcurar);
  EXPECT_EQ(f->cds.RecNo(), 3);

  lookup.QueueSearch("trinta", "QTCLIEFETCAR");
  ui.click(*f->sbtProcurar);
  EXPECT_NE(ui.lastError().find("trinta"), std::string::npos);
  EXPECT_EQ(f->cds.RecNo(), 3);

  lookup.QueueSearchCancel();
  ui.press(VK_F3);
  EXPECT_EQ(lookup.Searches.size(), 5u);
  EXPECT_EQ(f->cds.RecNo(), 3);
}

TEST_F(PadraoGridTest, ClosingReleasesTheScreenAndClearsItsGlobal) {
  bool destroyed = false;
  f->OnDestroyed([&] { destroyed = true; });
  ui.click(*f->sbtFechar);
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(frmTeste, nullptr);
  EXPECT_TRUE(Screen().Forms().empty());
}

TEST_F(PadraoGridTest, EscapeClosesInBrowseButNotWhileEditing) {
  ui.click(*f->sbtAlterar);
  f->dbgPadrao->SetSelectedIndex(2);
  ui.type("4");
  ui.press(VK_ESCAPE);  // the grid's editor takes it back
  ui.press(VK_ESCAPE);  // and then the edit is cancelled; the screen stays
  ASSERT_NE(frmTeste, nullptr);
  EXPECT_EQ(f->cds.State(), TDataSetState::Browse);
  EXPECT_DOUBLE_EQ(f->cds.FieldByName("QTCLIEFETCAR").AsFloat(), 10);
  ui.press(VK_ESCAPE);
  EXPECT_EQ(frmTeste, nullptr);
}

TEST_F(PadraoGridTest, NameLabelShowsTheCurrentRow) {
  EXPECT_EQ(Driver::text(*f->dbtNome), "Almoço");
  ui.focus(*f->dbgPadrao);
  ui.press(VK_DOWN);
  EXPECT_EQ(Driver::text(*f->dbtNome), "Jantar");
}

TEST(PadraoGridRelease, GlobalOfAnOlderInstanceIsNotTouched) {
  Driver ui;
  TfrmTeste* first = CreateForm<TfrmTeste>(nullptr);
  frmTeste = first;
  first->ClearOnDestroy(frmTeste);
  TfrmTeste* second = CreateForm<TfrmTeste>(nullptr, "frmTeste2");
  frmTeste = second;
  second->ClearOnDestroy(frmTeste);
  delete first;
  EXPECT_EQ(frmTeste, second);
  delete second;
  EXPECT_EQ(frmTeste, nullptr);
}

}  // namespace

namespace {

int habilitaCalls = 0;

// A screen that adjusts the toolbar after the standard handler, as the
// screens' Habilita does.
struct TfrmHabilita : TfrmTeste {
  TClientDataSet own{"cdsProprio"};  // dies with this class, before the bases
  explicit TfrmHabilita(TComponent* owner) : TfrmTeste(owner, "frmHabilita") {
    own.CopyDataFrom(cds);
    own.First();
    dtsPadrao->SetDataSet(&own);
    habilitaCalls = 0;
  }
  void dtsPadraoStateChange(data::TDataSource& sender) override {
    TfrmPadraoGrid::dtsPadraoStateChange(sender);
    ++habilitaCalls;
    sbtIncluir->SetEnabled(false);
    mnuVerificar->SetEnabled(false);
  }
};

TEST(PadraoGridOverride, ScreenAdjustsAfterTheStandardTableAndIsNotCalledWhileDying) {
  Driver ui;
  auto* f = CreateForm<TfrmHabilita>(nullptr);
  ui.act([&] { f->Show(); });
  ui.click(*f->sbtAlterar);
  ui.press(VK_RETURN, ssCtrl);  // edit and back: two state changes
  EXPECT_EQ(habilitaCalls, 2);
  EXPECT_FALSE(f->sbtIncluir->Enabled());
  EXPECT_FALSE(f->mnuIncluir->Enabled());
  EXPECT_FALSE(f->sbtVerificar->Enabled());  // the menu side was set; the button followed
  EXPECT_TRUE(f->sbtAlterar->Enabled());
  // The screen's data set goes before the base form: the override, whose
  // members are already gone, must not run.
  delete f;
  EXPECT_EQ(habilitaCalls, 2);
}

}  // namespace
