// The data-aware grid over a real data set: typing, editing refusals, column
// exits, appends and inserts, Escape, posting on row change, Tab, leaving the
// grid, deletion, and the data-bound controls beside it.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/data/dataset.h"
#include "platform/ui/driver.h"

using namespace ui;
using data::TClientDataSet;
using data::TDataSetState;
using data::TDataSource;
using data::TFieldType;

namespace {

using Log = std::vector<std::string>;

struct GridForm : TForm {
  TDBGrid* dbgPadrao;
  TEdit* edtOutro;
  TDBEdit* dbeTotaEsti;
  TDBText* dbtNome;
  TDBNavigator* dbnPadrao;
  GridForm(TComponent* owner, TDataSource& src) : TForm(owner) {
    SetName("frmGrade");
    dbgPadrao = Make<TDBGrid>(this, "dbgPadrao", this);
    dbgPadrao->SetOptions(dgEditing | dgTitles | dgTabs | dgAlwaysShowSelection | dgCancelOnExit | dgConfirmDelete);
    dbgPadrao->SetDataSource(&src);
    auto& c0 = dbgPadrao->AddColumn("CDSERVFILI");
    c0.Title.Caption = "Serviço";
    dbgPadrao->AddColumn("NMSERVICO").SetReadOnly(true);
    dbgPadrao->AddColumn("QTCLIEFETCAR").Title.Alignment = TAlignment::RightJustify;
    dbgPadrao->AddColumn("QTFUNEFETCAR");
    edtOutro = Make<TEdit>(this, "edtOutro", this);
    dbeTotaEsti = Make<TDBEdit>(this, "dbeTotaEsti", this);
    dbeTotaEsti->SetDataSource(&src);
    dbeTotaEsti->SetDataField("QTCOMESTICAR");
    dbtNome = Make<TDBText>(this, "dbtNome", this);
    dbtNome->SetDataSource(&src);
    dbtNome->SetDataField("NMSERVICO");
    dbnPadrao = Make<TDBNavigator>(this, "dbnPadrao", this);
    dbnPadrao->SetDataSource(&src);
  }
};

struct GridTest : ::testing::Test {
  Driver ui;
  TClientDataSet cds{"cdsCardaDia"};
  TDataSource dts{"dtsPadrao"};
  GridForm* f = nullptr;
  TDBGrid* g = nullptr;
  Log events;

  void SetUp() override {
    cds.FieldDefs() = {{"CDSERVFILI", TFieldType::String, 5},
                       {"NMSERVICO", TFieldType::String, 40},
                       {"QTCLIEFETCAR", TFieldType::Float},
                       {"QTFUNEFETCAR", TFieldType::Float},
                       {"QTCOMESTICAR", TFieldType::Float}};
    cds.CreateDataSet();
    add("00001", "ALMOCO", 10);
    add("00002", "JANTAR", 20);
    add("00003", "CEIA", 30);
    cds.MergeChangeLog();
    cds.First();
    dts.SetDataSet(&cds);
    f = CreateForm<GridForm>(nullptr, dts);
    g = f->dbgPadrao;
    ui.act([&] { f->Show(); });
    ASSERT_EQ(ui.focused(), g);
    cds.BeforeEdit = [&](TClientDataSet&) { events.push_back("BeforeEdit"); };
    cds.BeforeInsert = [&](TClientDataSet&) { events.push_back("BeforeInsert"); };
    cds.BeforePost = [&](TClientDataSet&) { events.push_back("BeforePost"); };
    cds.AfterPost = [&](TClientDataSet&) { events.push_back("AfterPost"); };
    cds.AfterCancel = [&](TClientDataSet&) { events.push_back("AfterCancel"); };
  }
  // The form goes before the data source its controls are linked to.
  ~GridTest() override { Application().DestroyForms(); }
  void add(const char* code, const char* name, double qt) {
    cds.Append();
    cds.FieldByName("CDSERVFILI").SetAsString(code);
    cds.FieldByName("NMSERVICO").SetAsString(name);
    cds.FieldByName("QTCLIEFETCAR").SetAsFloat(qt);
    cds.FieldByName("QTCOMESTICAR").SetAsFloat(qt * 2);
    cds.Post();
  }
  double qt(const char* field) { return cds.FieldByName(field).AsFloat(); }
  void selectColumn(int i) { ui.act([&] { g->SetSelectedIndex(i); }); }
};

TEST_F(GridTest, TypingStartsAnEditAndTheTextReachesTheFieldWhenTheColumnIsLeft) {
  Log cols;
  g->OnColExit = [&](TObject&) {
    cols.push_back("exit " + std::to_string(g->SelectedIndex()) + " value " + cds.FieldByName("QTCLIEFETCAR").AsString());
  };
  g->OnColEnter = [&](TObject&) { cols.push_back("enter " + std::to_string(g->SelectedIndex())); };
  selectColumn(2);
  cols.clear();
  ui.type("15");
  EXPECT_EQ(cds.State(), TDataSetState::Edit);
  EXPECT_EQ(events, (Log{"BeforeEdit"}));
  EXPECT_TRUE(g->EditorMode());
  EXPECT_EQ(g->EditorText(), "15");
  EXPECT_EQ(qt("QTCLIEFETCAR"), 10);  // not yet in the field
  ui.press(VK_RIGHT);
  EXPECT_EQ(qt("QTCLIEFETCAR"), 15);
  // The exit handler saw the new value and the old column; the enter handler the new one.
  EXPECT_EQ(cols, (Log{"exit 2 value 15", "enter 3"}));
  EXPECT_EQ(g->SelectedField()->FieldName(), "QTFUNEFETCAR");
  EXPECT_EQ(cds.State(), TDataSetState::Edit);  // a column change posts nothing
}

TEST_F(GridTest, MovingToAnotherRowWritesTheEditorAndPosts) {
  selectColumn(2);
  ui.type("7");
  ui.press(VK_DOWN);
  EXPECT_EQ(cds.RecNo(), 2);
  EXPECT_EQ(cds.State(), TDataSetState::Browse);
  EXPECT_EQ(events, (Log{"BeforeEdit", "BeforePost", "AfterPost"}));
  cds.First();
  EXPECT_EQ(qt("QTCLIEFETCAR"), 7);
  EXPECT_EQ(g->CellText(2), "7");
}

TEST_F(GridTest, BeforeEditCanRefuseTheFirstKey) {
  cds.BeforeEdit = [&](TClientDataSet&) { throw rtl::Exception("Cardápio possui retirada"); };
  selectColumn(2);
  ui.type("5");
  EXPECT_EQ(cds.State(), TDataSetState::Browse);
  EXPECT_FALSE(g->EditorModified());
  EXPECT_EQ(g->CellText(2), "10");
  EXPECT_EQ(ui.errors(), (Log{"Cardápio possui retirada"}));
  cds.BeforeEdit = [&](TClientDataSet&) { rtl::Abort(); };
  ui.type("5");
  EXPECT_EQ(cds.State(), TDataSetState::Browse);
  EXPECT_EQ(ui.errors().size(), 1u);
}

TEST_F(GridTest, ReadOnlyColumnsReadOnlyFieldsAndGridsWithoutEditingRefuseTyping) {
  selectColumn(1);  // read-only column
  ui.type("x");
  cds.FieldByName("QTFUNEFETCAR").ReadOnly = true;
  selectColumn(3);
  ui.type("1");
  EXPECT_EQ(cds.State(), TDataSetState::Browse);
  EXPECT_TRUE(events.empty());
  g->SetOptions(dgTitles | dgRowSelect | dgAlwaysShowSelection);
  selectColumn(2);
  ui.type("1");
  ui.press(VK_INSERT);
  cds.Last();
  ui.press(VK_DOWN);
  EXPECT_TRUE(events.empty());  // neither BeforeEdit nor BeforeInsert was reached
  EXPECT_EQ(cds.RecordCount(), 3);
  EXPECT_TRUE(ui.errors().empty());
}

TEST_F(GridTest, NumericColumnsRefuseLettersBeforeAnyEditStarts) {
  selectColumn(2);
  ui.type("x");
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(cds.State(), TDataSetState::Browse);
  // The exponent letter is a valid character of a float: it gets through.
  ui.type("e");
  EXPECT_EQ(events, (Log{"BeforeEdit"}));
  EXPECT_EQ(g->EditorText(), "e");
  ui.press(VK_BACK);
  ui.type("-1,5");
  EXPECT_EQ(g->EditorText(), "-1,5");
  // Data-bound edits judge characters the same way.
  ui.focus(*f->dbeTotaEsti);
  ui.type("a7");
  EXPECT_EQ(f->dbeTotaEsti->Text(), "7");
}

TEST_F(GridTest, ColumnExitCanVetoTheMove) {
  g->OnColExit = [&](TObject&) {
    if (cds.FieldByName("QTCLIEFETCAR").AsFloat() < 0)
      throw rtl::Exception("Quantidade de clientes deve ser maior ou igual a zero.");
  };
  int entered = 0;
  g->OnColEnter = [&](TObject&) { ++entered; };
  selectColumn(2);
  entered = 0;
  ui.type("-1");
  ui.press(VK_TAB);
  EXPECT_EQ(g->SelectedIndex(), 2);
  EXPECT_EQ(entered, 0);
  EXPECT_EQ(ui.focused(), g);
  EXPECT_EQ(ui.errors(), (Log{"Quantidade de clientes deve ser maior ou igual a zero."}));
  // The refused text stays in the editor (and in the field) until corrected.
  EXPECT_EQ(g->EditorText(), "-1");
  ui.press(VK_BACK);
  ui.press(VK_BACK);
  ui.type("3");
  ui.press(VK_TAB);
  EXPECT_EQ(g->SelectedIndex(), 3);
  EXPECT_EQ(entered, 1);
  EXPECT_EQ(qt("QTCLIEFETCAR"), 3);
}

TEST_F(GridTest, ColumnExitHandlerMayChooseTheColumn) {
  // Tab from the code skips to the clients column, chosen by the handler.
  g->OnColExit = [&](TObject&) {
    if (g->SelectedField()->FieldName() == "CDSERVFILI") g->SetSelectedField(cds.FindField("QTFUNEFETCAR"));
  };
  ui.press(VK_RIGHT);
  EXPECT_EQ(g->SelectedIndex(), 3);
}

TEST_F(GridTest, DownOnTheLastRowAndInsertReachBeforeInsert) {
  cds.BeforeInsert = [&](TClientDataSet&) {
    events.push_back("BeforeInsert");
    rtl::Abort();
  };
  cds.Last();
  ui.press(VK_DOWN);
  ui.press(VK_INSERT);
  EXPECT_EQ(events, (Log{"BeforeInsert", "BeforeInsert"}));
  EXPECT_EQ(cds.RecordCount(), 3);
  EXPECT_EQ(cds.State(), TDataSetState::Browse);
  EXPECT_TRUE(ui.errors().empty());
  // Allowed: Down on the last row appends; Down again on the untouched row stays.
  cds.BeforeInsert = nullptr;
  ui.press(VK_DOWN);
  EXPECT_EQ(cds.State(), TDataSetState::Insert);
  ui.press(VK_DOWN);
  EXPECT_EQ(cds.State(), TDataSetState::Insert);
  // Up on an untouched new row drops it.
  ui.press(VK_UP);
  EXPECT_EQ(cds.State(), TDataSetState::Browse);
  EXPECT_EQ(cds.RecordCount(), 3);
}

TEST_F(GridTest, EscapeRevertsTheEditorFirstThenCancelsTheRow) {
  selectColumn(2);
  ui.type("1");
  ui.press(VK_RIGHT);  // 1 is in the field now
  selectColumn(2);
  ui.type("99");
  ui.press(VK_ESCAPE);
  EXPECT_EQ(cds.State(), TDataSetState::Edit);
  EXPECT_EQ(g->CellText(2), "1");
  EXPECT_FALSE(g->EditorModified());
  ui.press(VK_ESCAPE);
  EXPECT_EQ(cds.State(), TDataSetState::Browse);
  EXPECT_EQ(qt("QTCLIEFETCAR"), 10);
  EXPECT_EQ(events, (Log{"BeforeEdit", "AfterCancel"}));
}

TEST_F(GridTest, EnterAcceptsTheEditorWithoutMoving) {
  selectColumn(3);
  ui.type("4");
  ui.press(VK_RETURN);
  EXPECT_EQ(qt("QTFUNEFETCAR"), 4);
  EXPECT_EQ(g->SelectedIndex(), 3);
  EXPECT_EQ(cds.RecNo(), 1);
  EXPECT_EQ(cds.State(), TDataSetState::Edit);
  EXPECT_FALSE(g->EditorMode());
}

TEST_F(GridTest, PostingInCodeTakesTheEditorText) {
  auto* sbtConfirmar = Make<TButtonFlat>(f, "sbtConfirmar", f);
  sbtConfirmar->OnClick = [&](TObject&) { cds.Post(); };
  selectColumn(3);
  ui.type("6");
  ui.click(*sbtConfirmar);
  EXPECT_EQ(cds.State(), TDataSetState::Browse);
  EXPECT_EQ(qt("QTFUNEFETCAR"), 6);
  EXPECT_EQ(events, (Log{"BeforeEdit", "BeforePost", "AfterPost"}));
  // A refused post keeps the row in edit with the typed text in the field.
  cds.BeforePost = [&](TClientDataSet&) { throw rtl::Exception("Quantidade de funcionários deve ser maior ou igual a zero."); };
  ui.type("-2");
  ui.click(*sbtConfirmar);
  EXPECT_EQ(cds.State(), TDataSetState::Edit);
  EXPECT_EQ(qt("QTFUNEFETCAR"), -2);
  EXPECT_EQ(ui.errors().size(), 1u);
}

TEST_F(GridTest, LookupButtonRunsItsEventsAroundTheHostDialog) {
  auto* btp = Make<TBtnPesquisa>(f, "btpServico", f);
  btp->Title = "Serviço";
  btp->EmptyText = "Não há serviço de restaurante cadastrado.";
  btp->DataSource = &dts;
  btp->Control = f->edtOutro;
  Log seen;
  btp->BeforePesq = [&](TObject&) { seen.push_back("Before"); };
  btp->AfterPesq = [&](TObject&) {
    seen.push_back("After " + cds.FieldByName("CDSERVFILI").AsString());
    f->edtOutro->SetText(cds.FieldByName("CDSERVFILI").AsString());
  };
  ui.lookupPicks(2);
  ui.click(*btp);
  EXPECT_EQ(seen, (Log{"Before", "After 00002"}));
  EXPECT_EQ(f->edtOutro->Text(), "00002");
  EXPECT_EQ(ui.focused(), f->edtOutro);
  ASSERT_EQ(ui.services().Lookup.Shown.size(), 1u);
  EXPECT_EQ(ui.services().Lookup.Shown[0].Title, "Serviço");
  ui.lookupCancels();
  ui.click(*btp);
  EXPECT_EQ(seen, (Log{"Before", "After 00002", "Before"}));
  // An empty list shows its text and picks nothing.
  cds.EmptyDataSet();
  ui.click(*btp);
  EXPECT_EQ(seen.size(), 4u);
  EXPECT_EQ(ui.lastDialog(), "Não há serviço de restaurante cadastrado.");
}

TEST_F(GridTest, TabMovesBetweenCellsAndTheFormPreviewSeesIt) {
  Log keys;
  f->KeyPreview = true;
  f->OnKeyDown = [&](TObject&, Word& k, TShiftState) { keys.push_back(std::to_string(k)); };
  ui.press(VK_TAB);
  EXPECT_EQ(g->SelectedIndex(), 2);  // the read-only name column is no tab stop
  EXPECT_EQ(keys, (Log{"9"}));
  ui.press(VK_TAB);
  ui.press(VK_TAB);  // from the last column to the first of the next row
  EXPECT_EQ(g->SelectedIndex(), 0);
  EXPECT_EQ(cds.RecNo(), 2);
  ui.press(VK_TAB, ssShift);
  EXPECT_EQ(g->SelectedIndex(), 3);
  EXPECT_EQ(cds.RecNo(), 1);
  // Without the tabs option, Tab leaves the grid and no key handler sees it.
  g->SetOptions(g->Options() & ~dgTabs);
  keys.clear();
  ui.press(VK_TAB);
  EXPECT_EQ(ui.focused(), f->edtOutro);
  EXPECT_TRUE(keys.empty());
}

TEST_F(GridTest, LeavingTheGridCancelsAnUntouchedInsertOrWritesTheEditor) {
  ui.press(VK_INSERT);
  EXPECT_EQ(cds.State(), TDataSetState::Insert);
  ui.focus(*f->edtOutro);
  EXPECT_EQ(cds.State(), TDataSetState::Browse);
  EXPECT_EQ(cds.RecordCount(), 3);

  ui.focus(*g);
  selectColumn(2);
  ui.type("8");
  ui.focus(*f->edtOutro);
  EXPECT_EQ(qt("QTCLIEFETCAR"), 8);
  EXPECT_EQ(cds.State(), TDataSetState::Edit);  // nothing posted
  EXPECT_EQ(std::count(events.begin(), events.end(), "BeforePost"), 0);
}

TEST_F(GridTest, CtrlDeleteAsksWhenTheGridConfirms) {
  ui.answer(mrCancel);
  ui.press(VK_DELETE, ssCtrl);
  EXPECT_EQ(cds.RecordCount(), 3);
  EXPECT_EQ(ui.lastDialog(), SDeleteRecordQuestion);
  ui.answer(mrOk);
  ui.press(VK_DELETE, ssCtrl);
  EXPECT_EQ(cds.RecordCount(), 2);
  // A handler that clears the key keeps the row.
  g->OnKeyDown = [](TObject&, Word& k, TShiftState s) {
    if (k == VK_DELETE && (s & ssCtrl)) k = 0;
  };
  ui.press(VK_DELETE, ssCtrl);
  EXPECT_EQ(cds.RecordCount(), 2);
  EXPECT_EQ(ui.dialogs().size(), 2u);
}

TEST_F(GridTest, EllipsisButtonRunsOnEditButtonClick) {
  int clicks = 0;
  g->OnEditButtonClick = [&](TObject&) { ++clicks; };
  ui.press(VK_RETURN, ssCtrl);
  EXPECT_FALSE(ui.clickEditButton(*g));
  EXPECT_EQ(clicks, 0);
  g->Columns(0).ButtonStyle = TColumnButtonStyle::Ellipsis;
  ui.press(VK_RETURN, ssCtrl);
  EXPECT_TRUE(ui.clickEditButton(*g));
  EXPECT_EQ(clicks, 2);
}

TEST_F(GridTest, MaskAndSizeOfTheFieldBoundTheEditor) {
  cds.FieldByName("CDSERVFILI").EditMask = ">ccccc;0; ";
  ui.type("abcdefg");
  EXPECT_EQ(g->EditorText(), "ABCDE");
  ui.press(VK_RIGHT);
  EXPECT_EQ(cds.FieldByName("CDSERVFILI").AsString(), "ABCDE");
}

TEST_F(GridTest, FocusingAFieldSelectsItsColumn) {
  ui.focus(*f->edtOutro);
  bool focused = false;
  ui.act([&] { focused = FocusField(cds.FieldByName("QTFUNEFETCAR")); });
  EXPECT_TRUE(focused);
  EXPECT_EQ(ui.focused(), g);
  EXPECT_EQ(g->SelectedIndex(), 3);
  EXPECT_TRUE(g->EditorMode());
}

TEST_F(GridTest, ClickingACellMovesRowAndColumn) {
  std::string clicked;
  g->OnCellClick = [&](TColumn& c) { clicked = c.FieldName; };
  ui.focus(*f->edtOutro);
  EXPECT_TRUE(ui.clickCell(*g, 3, 2));
  EXPECT_EQ(cds.RecNo(), 3);
  EXPECT_EQ(clicked, "QTCLIEFETCAR");
  EXPECT_EQ(Driver::gridRow(*g), (Log{"00003", "CEIA", "30", ""}));
  EXPECT_EQ(g->TitleText(0), "Serviço");
  EXPECT_EQ(g->TitleText(1), "NMSERVICO");
}

TEST_F(GridTest, DataBoundControlsFollowTheRowAndEditTheField) {
  EXPECT_EQ(Driver::text(*f->dbtNome), "ALMOCO");
  EXPECT_EQ(Driver::text(*f->dbeTotaEsti), "20");
  ui.press(VK_DOWN);
  EXPECT_EQ(Driver::text(*f->dbtNome), "JANTAR");
  EXPECT_EQ(Driver::text(*f->dbeTotaEsti), "40");
  ui.focus(*f->dbeTotaEsti);
  ui.type("41");
  EXPECT_EQ(cds.State(), TDataSetState::Edit);
  ui.focus(*f->edtOutro);
  EXPECT_EQ(qt("QTCOMESTICAR"), 41);
  // The navigator posts and moves, then reports the button.
  Log pressed;
  f->dbnPadrao->OnClick = [&](TObject&, TNavigateBtn b) { pressed.push_back(std::to_string(static_cast<int>(b))); };
  EXPECT_TRUE(ui.click(*f->dbnPadrao, TNavigateBtn::Post));
  EXPECT_EQ(cds.State(), TDataSetState::Browse);
  EXPECT_FALSE(f->dbnPadrao->ButtonEnabled(TNavigateBtn::Cancel));
  EXPECT_TRUE(ui.click(*f->dbnPadrao, TNavigateBtn::Next));
  EXPECT_EQ(cds.RecNo(), 3);
  EXPECT_TRUE(ui.click(*f->dbnPadrao, TNavigateBtn::Next));  // finds the end
  EXPECT_FALSE(ui.click(*f->dbnPadrao, TNavigateBtn::Next));
  EXPECT_EQ(pressed, (Log{"7", "2", "2"}));
}

}  // namespace
