// Headcounts against the stock withdrawals of the menu, and the verify button's
// reload, driven as a user drives them against the real server.

#include "billing_fixture.h"

using namespace pla01000test;

namespace {

const char* const kSemReti = "Não há produto baixado em estoque no dia.";
const char* const kTotalEfetivos = "Cardápio possui retirada, total de efetivos deve ser maior do que 0.";

class Withdrawals : public ScreenTest {
protected:
  // Lunch of day D has headcounts (13 in all); dinner has none. Dinner has a
  // dish of its own. D - 4 (closed) and D - 3 (the last open day) each have a
  // dinner without headcounts.
  void Build(server::DemoBuilder& b) override {
    ScreenTest::Build(b);
    b.DishType("03", "Sobremesa").Dish("0001", "PP004", "Pudim", "03").Dish("0001", "PP005", "Sopa", "01");
    cardJ = MenuOf(b, "00020", D);
    b.MenuDish("0001", cardJ, "PP005", 1).MenuDish("0001", cardJ, "PP004", 2);
    b.MenuDish("0001", cardD, "PP004", 2);
    cardClosed = b.Menu("0001", "00020", D - 4);
    cardLimit = b.Menu("0001", "00020", D - 3);
  }

  static std::string MenuOf(server::DemoBuilder& b, const std::string& service, rtl::TDateTime day) {
    auto r = b.connection().query("SELECT NRCARDAPIO, DTCARDAPIO FROM CARDAPIO WHERE CDFILIAL = '0001' AND CDSERVFILI = :P_S",
                                  {{"P_S", service}});
    for (auto& row : r.rows)
      if (row[1].toDateTime() == day) return row[0].toString();
    return {};
  }
  void Withdraw(const std::string& menu) {
    auto c = db::Open(cs_);
    server::DemoBuilder(*c).Withdrawal("0001", menu, "P1", "Farinha", 2);
  }
  void BlockOnWithdrawals() { Exec("UPDATE PARAMGERAL SET IDBLOQEFET = 'S'"); }

  void OpenDay(rtl::TDateTime day) {
    ASSERT_TRUE(Open());
    LoadDay(day);
    ASSERT_TRUE(f->cdsCardaDia.Active());
    ASSERT_EQ(ErrorCount(), 0u) << ui.lastError();
  }
  std::string Service() { return f->cdsCardaDia.FieldByName("CDSERVFILI").AsString(); }
  std::string Type() { return f->cdsCompCardAux.FieldByName("NMTIPOPRAT").AsString(); }
  std::string Dish() { return f->cdsPratoCard.FieldByName("NMPRATO").AsString(); }
  // Onto the dinner row of the service grid.
  void ToDinner() {
    ASSERT_TRUE(ui.focus(*f->dbgPadrao));
    ui.press(ui::VK_DOWN);
    ASSERT_EQ(Service(), "00020");
  }

  std::string cardJ, cardClosed, cardLimit;
};

// ---- Starting an edit ---------------------------------------------------------
TEST_F(Withdrawals, AZeroHeadcountAsksTheServerAndShowsItsTextAsItComes) {
  OpenDay(D);
  ToDinner();
  ASSERT_TRUE(ui.clickCell(*f->dbgPrato, 1, 1));
  calls.clear();
  ui.type("3");
  ASSERT_EQ(calls.count("Vd_Retirada"), 1);
  auto c = calls.of("Vd_Retirada")[0];
  ASSERT_EQ(c.args.size(), 3u);
  EXPECT_EQ(c.args[0].toString(), "0001");
  EXPECT_EQ(c.args[1].toString(), cardJ);
  EXPECT_EQ(c.args[2].toString(), kSemReti);
  ASSERT_EQ(ErrorCount(), 1u);
  EXPECT_EQ(ui.lastError(), kSemReti);
  EXPECT_EQ(f->cdsPratoCard.State(), data::TDataSetState::Browse);
  EXPECT_FALSE(ui.services().Busy.Visible());

  // A refusal of the server itself comes back as its text and is shown as is.
  calls.before["Vd_Retirada"] = [&](int) { Exec("DELETE FROM CARDAPIO WHERE NRCARDAPIO = :P_N", {{"P_N", cardJ}}); };
  ui.type("3");
  ASSERT_EQ(ErrorCount(), 2u);
  EXPECT_NE(ui.lastError(), kSemReti);
  EXPECT_FALSE(ui.lastError().empty());
  EXPECT_EQ(f->cdsPratoCard.State(), data::TDataSetState::Browse);
}

TEST_F(Withdrawals, NoQuestionWithAHeadcountOrWhenTheBranchAllowsIt) {
  Withdraw(cardJ);
  OpenDay(D);
  // Lunch has headcounts: no call.
  ASSERT_TRUE(ui.clickCell(*f->dbgPrato, 1, 1));
  ui.type("3");
  EXPECT_EQ(calls.count("Vd_Retirada"), 0);
  EXPECT_EQ(f->cdsPratoCard.State(), data::TDataSetState::Edit);
  ui.press(ui::VK_ESCAPE);
  ui.press(ui::VK_ESCAPE);

  // Dinner at zero with a withdrawal: asked, the server answers "", editable.
  ToDinner();
  ASSERT_TRUE(ui.clickCell(*f->dbgPrato, 1, 1));
  ui.type("3");
  EXPECT_EQ(calls.count("Vd_Retirada"), 1);
  EXPECT_EQ(ErrorCount(), 0u) << ui.lastError();
  EXPECT_EQ(f->cdsPratoCard.State(), data::TDataSetState::Edit);
  ui.press(ui::VK_ESCAPE);
  ui.press(ui::VK_ESCAPE);

  // The branch allows headcounts without withdrawal: no call at all.
  Exec("UPDATE PARAMPLANEJA SET IDPERLEFESRETPLA = 'S' WHERE CDFILIAL = '0001'");
  Exec("DELETE FROM RETIRADA");
  ASSERT_TRUE(ui.focus(*f->depCardapio));
  LeaveHeader();
  ToDinner();
  calls.clear();
  ASSERT_TRUE(ui.clickCell(*f->dbgPrato, 1, 1));
  ui.type("3");
  EXPECT_EQ(calls.count("Vd_Retirada"), 0);
  EXPECT_EQ(ErrorCount(), 0u) << ui.lastError();
  EXPECT_EQ(f->cdsPratoCard.State(), data::TDataSetState::Edit);
}

TEST_F(Withdrawals, AFailedCallRefusesTheEditInsteadOfPassing) {
  OpenDay(D);
  ToDinner();
  ASSERT_TRUE(ui.clickCell(*f->dbgPrato, 1, 1));
  calls.failNext("Vd_Retirada");
  ui.type("3");
  ASSERT_EQ(ErrorCount(), 1u);
  EXPECT_EQ(ui.lastError(), kFalhaSimulada);
  EXPECT_EQ(f->cdsPratoCard.State(), data::TDataSetState::Browse);
  EXPECT_FALSE(ui.services().Busy.Visible());
}

// ---- Posting a service row ---------------------------------------------------------
TEST_F(Withdrawals, AZeroPostIsRefusedOnlyWhenTheMenuHasWithdrawals) {
  Withdraw(cardD);
  OpenDay(D);
  ASSERT_TRUE(ui.clickCell(*f->dbgPadrao, 1, 2));  // lunch, clients
  ui.type("0");
  ui.press(ui::VK_TAB);
  ui.type("0");
  ui.press(ui::VK_TAB);
  ui.type("0");
  ASSERT_EQ(ErrorCount(), 0u) << ui.lastError();
  ASSERT_EQ(f->dbgPadrao->SelectedField()->FieldName(), "QTDOAEFETCAR");
  ui.press(ui::VK_DOWN);
  ASSERT_EQ(ErrorCount(), 1u);
  EXPECT_EQ(ui.lastError(), kTotalEfetivos);
  EXPECT_EQ(f->cdsCardaDia.State(), data::TDataSetState::Edit);
  EXPECT_EQ(Service(), "00010");
  EXPECT_EQ(f->dbgPadrao->SelectedField()->FieldName(), "QTCLIEFETCAR");
  EXPECT_EQ(calls.count("PostCard"), 0);
  auto g = calls.of("GetRetirada");
  ASSERT_FALSE(g.empty());
  EXPECT_EQ(g.back().args[0].toString(), "0001");
  EXPECT_EQ(g.back().args[1].toString(), cardD);

  // A menu without withdrawals lets the row through to the other checks.
  Exec("DELETE FROM RETIRADA");
  ui.press(ui::VK_DOWN);
  EXPECT_EQ(ErrorCount(), 1u) << ui.lastError();
  EXPECT_EQ(calls.count("PostCard"), 1);
}

// ---- Leaving the planning page ---------------------------------------------------
TEST_F(Withdrawals, LeavingThePageControlLandsOnTheWithdrawnServiceWithoutHeadcount) {
  BlockOnWithdrawals();
  Withdraw(cardJ);
  OpenDay(D);
  ASSERT_TRUE(ui.focus(*f->dbgTipoPrat));
  ASSERT_EQ(Service(), "00010");
  EXPECT_FALSE(ui.focus(*f->medCdFilial));
  ASSERT_EQ(ErrorCount(), 1u);
  EXPECT_EQ(ui.lastError(), kTotalEfetivos);
  EXPECT_EQ(Service(), "00020");
  EXPECT_EQ(ui.focused(), f->dbgPadrao);
  EXPECT_EQ(f->pgcPadrao->ActivePage(), f->tshPadrao);
  EXPECT_TRUE(f->cdsCardaDia.Active());
  ASSERT_EQ(calls.count("GetVerifRetirada"), 1);
  auto v = calls.of("GetVerifRetirada")[0];
  EXPECT_EQ(v.args[0].toString(), "0001");
  EXPECT_EQ(v.args[1].toDateTime(), D);

  // Once dinner has a headcount the page control can be left.
  Exec("UPDATE CARDAPIO SET QTCLIEFETCAR = 4, QTCOMEFETCAR = 4 WHERE NRCARDAPIO = :P_N", {{"P_N", cardJ}});
  EXPECT_TRUE(ui.focus(*f->medCdFilial));
  EXPECT_EQ(ErrorCount(), 1u) << ui.lastError();
}

TEST_F(Withdrawals, AClosedDayIsNotCheckedAndTheLastOpenDayIs) {
  BlockOnWithdrawals();
  Withdraw(cardClosed);
  Withdraw(cardLimit);
  OpenDay(D - 4);
  ASSERT_TRUE(ui.focus(*f->dbgPadrao));
  EXPECT_TRUE(ui.focus(*f->medCdFilial));
  EXPECT_EQ(ErrorCount(), 0u) << ui.lastError();
  EXPECT_EQ(calls.count("GetVerifRetirada"), 0);

  LoadDay(D - 3);
  ASSERT_EQ(ErrorCount(), 0u) << ui.lastError();
  EXPECT_FALSE(ui.focus(*f->medCdFilial));
  EXPECT_EQ(ErrorCount(), 1u);
  EXPECT_EQ(ui.lastError(), kTotalEfetivos);
  EXPECT_EQ(Service(), "00020");
}

// ---- The verify button ----------------------------------------------------------
TEST_F(Withdrawals, VerifyFromTheDishGridKeepsServiceTypeAndDishes) {
  OpenDay(D);
  ToDinner();
  ASSERT_TRUE(ui.clickCell(*f->dbgTipoPrat, 2, 0));
  ASSERT_EQ(Type(), "Sobremesa");
  ASSERT_TRUE(ui.clickCell(*f->dbgPrato, 1, 1));
  // Someone else records a value meanwhile: the reload brings it.
  Exec("UPDATE PRATOCARDAPIO SET QTCOMEFETPRA = 11 WHERE NRCARDAPIO = :P_N AND CDPRATO = 'PP004'", {{"P_N", cardJ}});
  calls.clear();
  ASSERT_TRUE(ui.click(*f->sbtVerificar));
  ASSERT_EQ(ErrorCount(), 0u) << ui.lastError();
  ASSERT_EQ(calls.count("GetCardaDia"), 1);
  EXPECT_EQ(Service(), "00020");
  EXPECT_EQ(Type(), "Sobremesa");
  EXPECT_EQ(Dish(), "Pudim");
  EXPECT_EQ(f->dbgPrato->RowCount(), 1);
  EXPECT_DOUBLE_EQ(f->cdsPratoCard.FieldByName("QTCOMEFETPRA").AsFloat(), 11);
  EXPECT_TRUE(f->cdsPratoCard.Filtered());
  EXPECT_EQ(ui.focused(), f->dbgPrato);
  EXPECT_FALSE(ui.services().Busy.Visible());

  // From the dish-type grid the service stays, the type starts over.
  ASSERT_TRUE(ui.clickCell(*f->dbgTipoPrat, 2, 0));
  ASSERT_TRUE(ui.click(*f->sbtVerificar));
  EXPECT_EQ(Service(), "00020");
  EXPECT_EQ(Type(), "Principal");
  EXPECT_EQ(Dish(), "Sopa");

  // From the service grid the reloaded grid starts on its first service.
  ASSERT_TRUE(ui.focus(*f->dbgPadrao));
  ASSERT_EQ(Service(), "00020");
  ASSERT_TRUE(ui.click(*f->sbtVerificar));
  EXPECT_EQ(ErrorCount(), 0u) << ui.lastError();
  EXPECT_EQ(Service(), "00010");
  EXPECT_EQ(Type(), "Principal");
  EXPECT_EQ(Dish(), "Frango");
}

TEST_F(Withdrawals, AFailedReloadKeepsWhatWasShownAndHidesTheIndicator) {
  OpenDay(D);
  ToDinner();
  calls.failNext("GetCardaDia");
  ASSERT_TRUE(ui.click(*f->sbtVerificar));
  ASSERT_EQ(ErrorCount(), 1u);
  EXPECT_EQ(ui.lastError(), kFalhaSimulada);
  EXPECT_EQ(Service(), "00020");
  EXPECT_FALSE(ui.services().Busy.Visible());
}

// ---- The verify button on the billing page -------------------------------------
using BillingVerify = BillingTest;

TEST_F(BillingVerify, ReloadsTheBillingPageAndReturnsToTheInnerPagesGrid) {
  OpenBilling();
  ASSERT_EQ(f->cdsServCli.FieldByName("CDCLIENTE").AsString(), "C1");
  // Someone else records C2's headcount meanwhile: the reload brings it.
  Exec("UPDATE EFETCLIE SET QTCOMEFETCLI = 5 WHERE CDCLIENTE = 'C2'");
  calls.clear();
  ASSERT_TRUE(ui.click(*f->sbtVerificar));
  ASSERT_EQ(ErrorCount(), 0u) << ui.lastError();
  EXPECT_EQ(calls.count("GetCardaDia"), 0);
  EXPECT_GE(calls.count("GetServCli"), 1);
  EXPECT_EQ(ui.focused(), f->dbgEfeCliCa);
  ASSERT_TRUE(f->cdsServCli.Locate("CDCLIENTE", "C2"));
  EXPECT_DOUBLE_EQ(f->cdsServCli.FieldByName("QTCOMEFETCLI").AsFloat(), 5);
  EXPECT_FALSE(ui.services().Busy.Visible());

  ASSERT_TRUE(ui.pick(*f->PageControl1, *f->tshTurnoCliente)) << ui.lastError();
  calls.clear();
  ASSERT_TRUE(ui.click(*f->sbtVerificar));
  ASSERT_EQ(ErrorCount(), 0u) << ui.lastError();
  EXPECT_EQ(ui.focused(), f->dbgTurnoClie);
  ASSERT_EQ(calls.count("GetTurnoCliente"), 1);
  auto t = calls.of("GetTurnoCliente")[0];
  EXPECT_EQ(t.args[0].toString(), "0001");
  EXPECT_EQ(t.args[1].toString(), f->cdsServFatu.FieldByName("CDSERVICFATURAM").AsString());
  EXPECT_EQ(t.args[2].toString(), f->cdsServCli.FieldByName("CDCLIENTE").AsString());
  EXPECT_EQ(f->cdsTurnoCliente.RecordCount(), 2);
}

}  // namespace
