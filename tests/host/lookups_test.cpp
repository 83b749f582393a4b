// Lookups through the scripted lookup service: picks, cancels, empty lists,
// the multiple-choice list and its result, IndiceCol and the focus helpers.

#include <gtest/gtest.h>

#include "platform/host/lookups.h"
#include "platform/ui/driver.h"

using namespace ui;
using data::TClientDataSet;
using data::TDataSource;
using data::TFieldType;

namespace {

struct LookupTest : ::testing::Test {
  Driver ui;
  host::ScriptedLookupEx lookup{ui.services().Lookup, ui.services().services()};
  TClientDataSet cds{"qryServico"};
  TDataSource dts{"dtsServico"};

  void SetUp() override {
    cds.FieldDefs() = {{"CDSERVFILI", TFieldType::String, 5}, {"NMSERVICO", TFieldType::String, 40}};
    cds.CreateDataSet();
    for (auto [c, n] : {std::pair{"00001", "Almoço"}, {"00002", "Jantar"}, {"00003", "Ceia"}}) {
      cds.Append();
      cds.FieldByName("CDSERVFILI").SetAsString(c);
      cds.FieldByName("NMSERVICO").SetAsString(n);
      cds.Post();
    }
    cds.First();
    dts.SetDataSet(&cds);
  }
};

TEST_F(LookupTest, PesquisarPicksCancelsAndShowsTheEmptyText) {
  ui.lookupPicks(3);
  EXPECT_TRUE(host::Pesquisar(&dts, "Serviço|Não há serviço.", false, true));
  EXPECT_EQ(cds.FieldByName("CDSERVFILI").AsString(), "00003");
  ASSERT_EQ(ui.services().Lookup.Shown.size(), 1u);
  EXPECT_EQ(ui.services().Lookup.Shown[0].Title, "Serviço");
  EXPECT_EQ(ui.services().Lookup.Shown[0].EmptyText, "Não há serviço.");

  // A real dialog moves the cursor while the user browses; restoreOnCancel
  // puts it back.
  struct BrowseThenCancel : ILookupDialog {
    bool Pick(const LookupRequest& r) override {
      r.DataSource->DataSet()->Last();
      return false;
    }
  } browsing;
  Services& svc = ui.services().services();
  ILookupDialog* saved = svc.Lookup;
  svc.Lookup = &browsing;
  cds.SetRecNo(2);
  EXPECT_FALSE(host::Pesquisar(&dts, "Serviço|Não há serviço.", true, true));
  EXPECT_EQ(cds.RecNo(), 2);
  cds.SetRecNo(2);
  EXPECT_FALSE(host::Pesquisar(&dts, "Serviço|Não há serviço.", false, true));
  EXPECT_EQ(cds.RecNo(), 3);  // without it the cursor stays where the user left it
  svc.Lookup = saved;

  cds.EmptyDataSet();
  EXPECT_FALSE(host::Pesquisar(&dts, "Serviço|Não há serviço.", false, true));
  EXPECT_EQ(ui.lastDialog(), "Não há serviço.");
  size_t shown = ui.dialogs().size();
  EXPECT_FALSE(host::Pesquisar(&dts, "Serviço|Não há serviço.", false, false));
  EXPECT_EQ(ui.dialogs().size(), shown);  // told nothing
  EXPECT_EQ(ui.services().Lookup.Shown.size(), 1u);  // the empty list never reached the dialog
}

TEST_F(LookupTest, PesquisarWithoutADataSetIsAClearError) {
  TDataSource none{"dtsNada"};
  EXPECT_THROW(host::Pesquisar(&none, "x|y"), rtl::Exception);
  EXPECT_THROW(host::Pesquisar(nullptr, "x|y"), rtl::Exception);
}

TEST_F(LookupTest, PesquisaListaMakesAListOfCodesInRowOrder) {
  std::string list;
  lookup.QueuePickMany({3, 1});
  EXPECT_TRUE(host::PesquisaLista(&dts, "CDSERVFILI", "Serviço|Não há serviço.", false, list));
  EXPECT_EQ(list, "00001,00003");
  EXPECT_EQ(host::SplitLista(list), (std::vector<std::string>{"00001", "00003"}));
  ASSERT_EQ(lookup.Lists.size(), 1u);
  EXPECT_EQ(lookup.Lists[0].Title, "Serviço");
  EXPECT_TRUE(lookup.Lists[0].Checked.empty());

  // The previous choice opens ticked; a cancel keeps it.
  lookup.QueuePickManyCancel();
  EXPECT_FALSE(host::PesquisaLista(&dts, "CDSERVFILI", "Serviço|Não há serviço.", false, list));
  EXPECT_EQ(lookup.Lists[1].Checked, (std::vector<int>{1, 3}));
  EXPECT_EQ(list, "00001,00003");

  // Everything ticked when asked for and nothing was chosen before.
  std::string fresh;
  lookup.QueuePickMany({2});
  EXPECT_TRUE(host::PesquisaLista(&dts, "cdservfili", "Serviço|Não há serviço.", true, fresh));
  EXPECT_EQ(lookup.Lists[2].Checked, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(fresh, "00002");

  // Confirming with nothing ticked empties the list.
  lookup.QueuePickMany({});
  EXPECT_TRUE(host::PesquisaLista(&dts, "CDSERVFILI", "Serviço|Não há serviço.", false, fresh));
  EXPECT_EQ(fresh, "");
}

TEST_F(LookupTest, PesquisaListaRefusesACodeThatCannotTravelInTheList) {
  cds.Append();
  cds.FieldByName("CDSERVFILI").SetAsString("1,2");
  cds.FieldByName("NMSERVICO").SetAsString("Vírgula");
  cds.Post();
  std::string list = "00001";
  lookup.QueuePickMany({1, 4});
  EXPECT_THROW(host::PesquisaLista(&dts, "CDSERVFILI", "Serviço|x", false, list), rtl::Exception);
  EXPECT_EQ(list, "00001");
}

TEST_F(LookupTest, PesquisaListaOnAnEmptyListShowsItsTextAndKeepsTheList) {
  cds.EmptyDataSet();
  std::string list = "00002";
  EXPECT_FALSE(host::PesquisaLista(&dts, "CDSERVFILI", "Serviço|Não há serviço.", false, list));
  EXPECT_EQ(ui.lastDialog(), "Não há serviço.");
  EXPECT_EQ(list, "00002");
}

TEST(LookupService, ListAndSearchNeedTheExtendedService) {
  Driver ui;  // the toolkit's plain scripted lookup
  TClientDataSet cds;
  cds.FieldDefs() = {{"CD", TFieldType::String, 5}};
  cds.CreateDataSet();
  cds.Append();
  cds.FieldByName("CD").SetAsString("A");
  cds.Post();
  TDataSource dts;
  dts.SetDataSet(&cds);
  std::string list;
  EXPECT_THROW(host::PesquisaLista(&dts, "CD", "t|e", false, list), ui::EInvalidOperation);
  EXPECT_THROW(host::Procura(cds), ui::EInvalidOperation);
}

struct FocusForm : TForm {
  TPanel* panDados;
  TEdit* edtA;
  TEdit* edtNm;
  TEdit* edtB;
  TPageControl* pgc;
  TTabSheet* tsh;
  TDBGrid* grid;
  explicit FocusForm(TComponent* owner) : TForm(owner) {
    SetName("frmFoco");
    panDados = Make<TPanel>(this, "panDados", this);
    edtA = Make<TEdit>(this, "edtA", panDados);
    edtNm = Make<TEdit>(this, "edtNm", panDados);
    edtNm->SetEnabled(false);
    edtB = Make<TEdit>(this, "edtB", panDados);
    pgc = Make<TPageControl>(this, "pgc", this);
    tsh = Make<TTabSheet>(this, "tsh", pgc);
    grid = Make<TDBGrid>(this, "grid", tsh);
    grid->TabStop = true;
  }
};

TEST(FocusHelpers, SelectNextSkipsDisabledAndSelectFirstEntersAContainer) {
  Driver ui;
  auto* f = CreateForm<FocusForm>(nullptr);
  f->SetActiveControl(f->edtA);
  ui.act([&] { f->Show(); });
  TWinControl* next = nullptr;
  ui.act([&] { next = host::SelectNextControl(f->edtA, true, true, false); });
  EXPECT_EQ(next, f->edtB);
  EXPECT_EQ(ui.focused(), f->edtB);
  ui.act([&] { next = host::SelectNextControl(*f, f->edtB, false); });
  EXPECT_EQ(ui.focused(), f->edtA);
  ui.act([&] { next = host::SelectFirstControl(f->tsh); });
  EXPECT_EQ(next, f->grid);
  EXPECT_EQ(ui.focused(), f->grid);
}

TEST(IndiceColTest, FindsTheColumnOfAFieldWithoutRegardToCase) {
  Driver ui;
  auto* f = CreateForm<FocusForm>(nullptr);
  f->grid->AddColumn("CDSERVFILI");
  f->grid->AddColumn("NMSERVICO");
  f->grid->AddColumn("QTCOMEFETCAR");
  EXPECT_EQ(host::IndiceCol(*f->grid, "NMSERVICO"), 1);
  EXPECT_EQ(host::IndiceCol(*f->grid, "qtcomefetcar"), 2);
  EXPECT_EQ(host::IndiceCol(*f->grid, "QTDOAEFETCAR"), -1);
}

}  // namespace
