// The dish types and dishes of the menu day under the service grid, driven as
// a user drives them against the real server.

#include "screen_fixture.h"

using namespace pla01000test;

namespace {

class Dishes : public ScreenTest {
protected:
  // Two services of day D on different menus. Both menus have a "Principal"
  // dish, so the type 01 appears in both with different dishes.
  void Build(server::DemoBuilder& b) override {
    ScreenTest::Build(b);
    b.DishType("02", "Guarnição").DishType("03", "Sobremesa");
    b.Dish("0001", "PP002", "Arroz", "02").Dish("0001", "PP003", "Feijão", "02");
    b.Dish("0001", "PP004", "Pudim", "03").Dish("0001", "PP005", "Sopa", "01");
    b.MenuDish("0001", cardD, "PP002", 2, 3.0, 0.5).MenuDish("0001", cardD, "PP003", 3);
    // The fixture's only dinner menu.
    cardJ = b.connection()
                .query("SELECT NRCARDAPIO FROM CARDAPIO WHERE CDFILIAL = '0001' AND CDSERVFILI = '00020'")
                .rows[0][0]
                .toString();
    b.MenuDish("0001", cardJ, "PP005", 1).MenuDish("0001", cardJ, "PP004", 2);
    // Dinner has a withdrawal, so its dishes can be edited at zero headcount.
    b.Withdrawal("0001", cardJ, "P1", "Farinha", 2);
  }

  std::vector<std::string> Column(ui::TDBGrid& g, int col) {
    std::vector<std::string> r;
    auto& ds = *g.DataSet();
    auto b = ds.GetBookmark();
    ds.DisableControls();
    for (ds.First(); !ds.Eof(); ds.Next()) r.push_back(ds.FieldByName(g.Columns(col).Field()->FieldName()).AsString());
    ds.GotoBookmark(b);
    ds.EnableControls();
    return r;
  }
  std::vector<std::string> Types() { return Column(*f->dbgTipoPrat, 0); }
  std::vector<std::string> DishNames() { return Column(*f->dbgPrato, 0); }
  std::string Type() { return f->cdsCompCardAux.FieldByName("NMTIPOPRAT").AsString(); }
  std::string Dish() { return f->cdsPratoCard.FieldByName("NMPRATO").AsString(); }
  void Press(ui::Word k, ui::TShiftState s = ui::ssNone) { ui.press(k, s); }

  void OpenDay() {
    ASSERT_TRUE(Open());
    LoadDay(D);
    ASSERT_TRUE(f->cdsCardaDia.Active());
    ASSERT_EQ(ErrorCount(), 0u) << ui.lastError();
  }
  // Into the dish grid from the dish-type grid, as the user does with Enter.
  void IntoDishes() {
    ASSERT_TRUE(ui.focus(*f->dbgTipoPrat));
    Press(ui::VK_RETURN);
    ASSERT_EQ(ui.focused(), f->dbgPrato);
  }

  std::string cardJ;
};

TEST_F(Dishes, EachServiceShowsOnlyTheTypesAndDishesOfItsOwnMenu) {
  OpenDay();
  EXPECT_EQ(f->cdsCardaDia.FieldByName("CDSERVFILI").AsString(), "00010");
  EXPECT_EQ(Types(), (std::vector<std::string>{"Principal", "Guarnição"}));
  // Sopa is a Principal of the dinner menu: never under lunch's Principal.
  EXPECT_EQ(DishNames(), (std::vector<std::string>{"Frango"}));

  ASSERT_TRUE(ui.focus(*f->dbgPadrao));
  Press(ui::VK_DOWN);
  ASSERT_EQ(f->cdsCardaDia.FieldByName("CDSERVFILI").AsString(), "00020");
  EXPECT_EQ(Types(), (std::vector<std::string>{"Principal", "Sobremesa"}));
  EXPECT_EQ(DishNames(), (std::vector<std::string>{"Sopa"}));

  // A new dish type brings its own dishes.
  ASSERT_TRUE(ui.clickCell(*f->dbgTipoPrat, 2, 0));
  EXPECT_EQ(DishNames(), (std::vector<std::string>{"Pudim"}));

  ASSERT_TRUE(ui.focus(*f->dbgPadrao));
  Press(ui::VK_UP);
  EXPECT_EQ(Types(), (std::vector<std::string>{"Principal", "Guarnição"}));
  EXPECT_EQ(Type(), "Principal");
  EXPECT_EQ(DishNames(), (std::vector<std::string>{"Frango"}));
  EXPECT_EQ(ErrorCount(), 0u) << ui.lastError();
}

TEST_F(Dishes, EnterWalksTheDishesPostsEachAndWrapsFromTheLastTypeToTheFirst) {
  OpenDay();
  IntoDishes();
  EXPECT_EQ(f->dbgPrato->SelectedField()->FieldName(), "QTCOMEFETPRA");
  EXPECT_TRUE(f->dbgTipoPrat->HasOption(ui::dgAlwaysShowSelection));

  ui.type("7");
  Press(ui::VK_RETURN);
  EXPECT_EQ(f->dbgPrato->SelectedField()->FieldName(), "QTPRODUZPRAT");
  EXPECT_EQ(calls.count("UpdPratoCard"), 0);
  ui.type("2");
  Press(ui::VK_RETURN);  // last dish of Principal: posted, on to Guarnição
  ASSERT_EQ(ErrorCount(), 0u) << ui.lastError();
  ASSERT_EQ(calls.count("UpdPratoCard"), 1);
  // Branch and date of the service row travel with the delta.
  auto upd = calls.of("UpdPratoCard")[0];
  EXPECT_EQ(upd.args[1].toString(), "0001");
  EXPECT_EQ(upd.args[2].toDateTime(), D);
  EXPECT_EQ(Type(), "Guarnição");
  EXPECT_EQ(Dish(), "Arroz");
  EXPECT_EQ(f->dbgPrato->SelectedField()->FieldName(), "QTCOMEFETPRA");
  EXPECT_EQ(ui.focused(), f->dbgPrato);

  Press(ui::VK_RETURN);
  Press(ui::VK_RETURN);
  EXPECT_EQ(Dish(), "Feijão");
  Press(ui::VK_RETURN);
  Press(ui::VK_RETURN);  // last dish of the last type: back to the first type
  EXPECT_EQ(Type(), "Principal");
  EXPECT_EQ(Dish(), "Frango");
  EXPECT_EQ(f->dbgPrato->SelectedField()->FieldName(), "QTCOMEFETPRA");
  EXPECT_EQ(ui.focused(), f->dbgPrato);
  // Nothing typed after the first dish: nothing more sent.
  EXPECT_EQ(calls.count("UpdPratoCard"), 1);
  // The server's type totals now include the new values.
  EXPECT_DOUBLE_EQ(f->cdsCompCardAux.FieldByName("QTCOMEFETPRA").AsFloat(), 7);
  EXPECT_DOUBLE_EQ(f->cdsPratoCard.FieldByName("QTPRODUZPRAT").AsFloat(), 2);
  EXPECT_EQ(f->cdsPratoCard.ChangeCount(), 0);
  EXPECT_FALSE(pla01000::bAtuPrato);

  // Leaving the dish grid takes the type grid's selection away.
  ASSERT_TRUE(ui.focus(*f->dbgPadrao));
  EXPECT_FALSE(f->dbgTipoPrat->HasOption(ui::dgAlwaysShowSelection));
  EXPECT_EQ(ErrorCount(), 0u) << ui.lastError();
}

TEST_F(Dishes, PostedDishKeepsItsTypeWhileTheTypesAreReplaced) {
  OpenDay();
  ASSERT_TRUE(ui.clickCell(*f->dbgTipoPrat, 2, 0));
  ASSERT_EQ(Type(), "Guarnição");
  ASSERT_TRUE(ui.clickCell(*f->dbgPrato, 2, 1));  // Feijão, Comensais
  ASSERT_EQ(Dish(), "Feijão");
  ui.type("4");
  ASSERT_TRUE(ui.focus(*f->dbgPadrao));  // leaving the grid posts
  ASSERT_EQ(ErrorCount(), 0u) << ui.lastError();
  ASSERT_EQ(calls.count("UpdPratoCard"), 1);
  EXPECT_EQ(Type(), "Guarnição");
  EXPECT_DOUBLE_EQ(f->cdsCompCardAux.FieldByName("QTCOMEFETPRA").AsFloat(), 7);  // Arroz 3 + Feijão 4
  EXPECT_EQ(DishNames(), (std::vector<std::string>{"Arroz", "Feijão"}));
  EXPECT_EQ(Dish(), "Feijão");
  // Stored on the server.
  auto c = db::Open(cs_);
  auto r = c->query("SELECT QTCOMEFETPRA FROM PRATOCARDAPIO WHERE CDPRATO = 'PP003' AND NRCARDAPIO = :P_N",
                    {{"P_N", cardD}});
  EXPECT_DOUBLE_EQ(r.rows[0][0].toDouble(), 4);
}

TEST_F(Dishes, NegativeQuantitiesAreRefusedOnTheColumnAndOnThePost) {
  OpenDay();
  IntoDishes();
  ui.type("-1");
  Press(ui::VK_TAB);
  ASSERT_EQ(ErrorCount(), 1u);
  EXPECT_EQ(ui.lastError(), "Quantidade de comensais do prato deve ser maior ou igual a zero. ");
  EXPECT_EQ(ui.focused(), f->dbgPrato);
  EXPECT_EQ(f->dbgPrato->SelectedField()->FieldName(), "QTCOMEFETPRA");
  EXPECT_EQ(f->cdsPratoCard.State(), data::TDataSetState::Edit);

  // Leaving the grid posts, and the post refuses the same value.
  EXPECT_FALSE(ui.focus(*f->dbgPadrao));
  EXPECT_EQ(ErrorCount(), 2u);
  EXPECT_EQ(ui.lastError(), "Quantidade de comensais do prato deve ser maior ou igual a zero. ");
  EXPECT_EQ(ui.focused(), f->dbgPrato);
  EXPECT_EQ(calls.count("UpdPratoCard"), 0);

  // Zero passes; a negative weight is refused with its own text.
  ui.press(ui::VK_BACK);
  ui.press(ui::VK_BACK);
  ui.type("0");
  Press(ui::VK_TAB);
  EXPECT_EQ(ErrorCount(), 2u) << ui.lastError();
  EXPECT_EQ(f->dbgPrato->SelectedField()->FieldName(), "QTPRODUZPRAT");
  ui.type("-3");
  Press(ui::VK_RETURN);
  ASSERT_EQ(ErrorCount(), 3u);
  EXPECT_EQ(ui.lastError(), "Quantidade vendida deve ser maior ou igual a zero.");
  EXPECT_EQ(f->dbgPrato->SelectedField()->FieldName(), "QTPRODUZPRAT");
  EXPECT_EQ(calls.count("UpdPratoCard"), 0);

  // An emptied cell counts as 0.
  while (!f->dbgPrato->EditorText().empty()) ui.press(ui::VK_BACK);
  ASSERT_TRUE(ui.focus(*f->dbgPadrao)) << ui.lastError();
  EXPECT_EQ(ErrorCount(), 3u) << ui.lastError();
  EXPECT_EQ(calls.count("UpdPratoCard"), 1);
  EXPECT_TRUE(f->cdsPratoCard.FieldByName("QTPRODUZPRAT").IsNull());
  EXPECT_DOUBLE_EQ(f->cdsPratoCard.FieldByName("QTCOMEFETPRA").AsFloat(), 0);
}

TEST_F(Dishes, InsertAndDeleteChangeNothingAndSayNothing) {
  OpenDay();
  IntoDishes();
  Press(ui::VK_INSERT);
  Press(ui::VK_DELETE, ui::ssCtrl);
  Press(ui::VK_DOWN);  // the last dish: Down would append
  ASSERT_TRUE(ui.focus(*f->dbgTipoPrat));
  Press(ui::VK_INSERT);
  Press(ui::VK_DELETE, ui::ssCtrl);
  EXPECT_EQ(ErrorCount(), 0u) << ui.lastError();
  EXPECT_TRUE(ui.dialogs().empty());
  EXPECT_EQ(Types(), (std::vector<std::string>{"Principal", "Guarnição"}));
  EXPECT_EQ(DishNames(), (std::vector<std::string>{"Frango"}));
  EXPECT_EQ(f->cdsPratoCard.ChangeCount(), 0);
  EXPECT_EQ(f->cdsCompCardAux.ChangeCount(), 0);
  EXPECT_EQ(calls.count("UpdPratoCard"), 0);
}

TEST_F(Dishes, FailedUpdateShowsTheDishsPreviousValuesAndTheDishesKeepFollowingTheTypes) {
  OpenDay();
  IntoDishes();
  calls.failNext("UpdPratoCard");
  ui.type("9");
  Press(ui::VK_RETURN);
  ui.type("8");
  Press(ui::VK_RETURN);
  ASSERT_EQ(ErrorCount(), 1u);
  EXPECT_EQ(ui.lastError(), kFalhaSimulada);
  EXPECT_EQ(Dish(), "Frango");
  EXPECT_DOUBLE_EQ(f->cdsPratoCard.FieldByName("QTCOMEFETPRA").AsFloat(), 5);
  EXPECT_DOUBLE_EQ(f->cdsPratoCard.FieldByName("QTPRODUZPRAT").AsFloat(), 1.5);
  EXPECT_EQ(f->cdsPratoCard.ChangeCount(), 0);
  EXPECT_FALSE(pla01000::bAtuPrato);
  EXPECT_FALSE(ui.services().Busy.Visible());

  ASSERT_TRUE(ui.clickCell(*f->dbgTipoPrat, 2, 0));
  EXPECT_EQ(DishNames(), (std::vector<std::string>{"Arroz", "Feijão"}));
  // And a later post goes through with the new value.
  ASSERT_TRUE(ui.clickCell(*f->dbgPrato, 1, 1));
  ui.type("6");
  ASSERT_TRUE(ui.focus(*f->dbgPadrao));
  EXPECT_EQ(ErrorCount(), 1u) << ui.lastError();
  EXPECT_EQ(calls.count("UpdPratoCard"), 2);
  EXPECT_DOUBLE_EQ(f->cdsCompCardAux.FieldByName("QTCOMEFETPRA").AsFloat(), 6);
}

}  // namespace
