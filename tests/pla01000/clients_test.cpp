// The clients of each billed service: loading and the billed-service total,
// the client grid's keys and checks, the settled-client locks, the
// registration number, the apportionment offer, and moving to another billed
// service with unconfirmed rows.

#include "billing_fixture.h"

using namespace pla01000test;

namespace {

class Clients : public BillingTest {
protected:
  double Fatu() { return f->cdsServFatu.FieldByName("QTCOMEFETCLI").AsFloat(); }
  double Qt(const char* client) {
    EXPECT_TRUE(f->cdsServCli.Locate("CDCLIENTE", std::string(client)));
    return f->cdsServCli.FieldByName("QTCOMEFETCLI").AsFloat();
  }
  void Settle(const char* client) {
    Exec("INSERT INTO APURACAO (CDFILIAL, NRAPURACFAT, CDCLIENTE, DTINIAPURAC, DTFIMAPURAC) VALUES "
         "('0001', 'AP1', :P_C, :P_I, :P_F)",
         {{"P_C", rtl::Variant(std::string(client))},
          {"P_I", rtl::Variant::FromDate(D - 5)},
          {"P_F", rtl::Variant::FromDate(D + 5)}});
  }
  void CopyRule(const char* flag) {
    Exec("UPDATE PARAMFILIAL SET IDCOPALTEFEPLA = :P_A WHERE CDFILIAL = '0001'", {{"P_A", rtl::Variant(std::string(flag))}});
  }
};

// ---------------------------------------------------------------------------
TEST_F(Clients, BilledTotalIsBilledPlusCashSalesAndStaysUntilTheNextLoad) {
  OpenBilling();
  EXPECT_EQ(f->cdsServFatu.FieldByName("CDSERVICFATURAM").AsString(), "F0010");
  EXPECT_EQ(Fatu(), 10) << "6 + 2 cash sales + 2";
  EXPECT_EQ(calls.count("GetServCli"), 1);

  TypeCell(*f->dbgEfeCliCa, 2, "QTCOMEFETCLI", "5");
  ui.press(ui::VK_UP);  // posts C2
  EXPECT_TRUE(ui.errors().empty()) << ui.lastError();
  EXPECT_EQ(f->cdsServCli.State(), data::TDataSetState::Browse);
  EXPECT_EQ(Fatu(), 10) << "edits do not change the total";

  // A billed service without counts gets 0.
  ui.answer(ui::mrNo);
  ASSERT_TRUE(ui.clickCell(*f->dbgServiFatu, 2, 0));
  EXPECT_EQ(f->cdsServFatu.FieldByName("CDSERVICFATURAM").AsString(), "F0020");
  EXPECT_EQ(Fatu(), 0);
  EXPECT_EQ(f->cdsServCli.RecordCount(), 1);
}

TEST_F(Clients, LetterEIsDiscardedEverywhereAndSaleValueOnlyWhereItVariesByDate) {
  // A headcount for C3, so that the withdrawal check lets its row be edited.
  Exec("INSERT INTO EFETCLIE (CDFILIAL, CDSERVICFATURAM, CDCLIENTE, DTEFETCLIE, CDSERVPLAN, QTCOMEFETCLI) VALUES "
       "('0001', 'F0020', 'C3', :P_D, '00010', 1)",
       {{"P_D", rtl::Variant::FromDate(D)}});
  OpenBilling();
  TypeCell(*f->dbgEfeCliCa, 1, "NMFANTCLIE", "XeEy");
  EXPECT_EQ(f->dbgEfeCliCa->EditorText().find_first_of("eE"), std::string::npos) << f->dbgEfeCliCa->EditorText();
  ui.press(ui::VK_ESCAPE);
  ui.press(ui::VK_ESCAPE);
  TypeCell(*f->dbgEfeCliCa, 1, "QTCOMEFETCLI", "1e2");
  ui.press(ui::VK_TAB);
  EXPECT_EQ(f->cdsServCli.FieldByName("QTCOMEFETCLI").AsFloat(), 12);
  ui.press(ui::VK_ESCAPE);
  ui.press(ui::VK_ESCAPE);
  EXPECT_EQ(f->cdsServCli.State(), data::TDataSetState::Browse);

  // F0010 has a fixed sale value: nothing can be typed, not even an edit starts.
  TypeCell(*f->dbgEfeCliCa, 1, "VRSERVFATUEFCLI", "7");
  EXPECT_EQ(f->cdsServCli.State(), data::TDataSetState::Browse);
  EXPECT_TRUE(ui.errors().empty()) << "discarded without a message";

  ASSERT_TRUE(ui.clickCell(*f->dbgServiFatu, 2, 0));
  TypeCell(*f->dbgEfeCliCa, 1, "VRSERVFATUEFCLI", "7");
  ui.press(ui::VK_TAB);
  EXPECT_EQ(f->cdsServCli.FieldByName("VRSERVFATUEFCLI").AsFloat(), 7);
}

TEST_F(Clients, SettledClientIsLockedOnlyUnderTheClosedClientRule) {
  Settle("C1");
  OpenBilling();
  // Rule off: the settled client is edited and posted normally.
  TypeCell(*f->dbgEfeCliCa, 1, "QTCOMEFETCLI", "7");
  ui.press(ui::VK_DOWN);
  EXPECT_TRUE(ui.errors().empty()) << ui.lastError();
  EXPECT_EQ(f->cdsServCli.ChangeCount(), 1);
}

TEST_F(Clients, UnderTheRuleASettledClientTakesNoNumbersAndCannotBePosted) {
  Settle("C1");
  CopyRule("S");
  OpenBilling();
  const std::string efetApur = "Efetivos do cliente já apurados na data selecionada.";
  for (const char* col : {"QTCOMEFETCLI", "QTVENDAEFETCLI"}) {
    TypeCell(*f->dbgEfeCliCa, 1, col, "5");
    EXPECT_EQ(ui.lastError(), efetApur) << col;
    EXPECT_EQ(f->cdsServCli.State(), data::TDataSetState::Browse) << col;
  }
  size_t errors = ErrorCount();
  TypeCell(*f->dbgEfeCliCa, 1, "NMFANTCLIE", "Z");
  EXPECT_EQ(ErrorCount(), errors) << "the trade name takes keys";
  EXPECT_EQ(f->cdsServCli.State(), data::TDataSetState::Edit);
  ui.press(ui::VK_DOWN);
  EXPECT_EQ(ErrorCount(), errors + 1);
  EXPECT_EQ(ui.lastError(), efetApur);
  EXPECT_EQ(f->cdsServCli.State(), data::TDataSetState::Edit) << "the post was refused";
  EXPECT_EQ(f->cdsServCli.RecNo(), 1);
}

TEST_F(Clients, RegistrationNumberIsShownThroughThePersonTypesMask) {
  OpenBilling();
  ASSERT_TRUE(f->cdsServCli.Locate("CDCLIENTE", std::string("C1")));
  EXPECT_EQ(ui::Driver::text(*f->dbtInscCli), "12.345.678/0001-90");
  ASSERT_TRUE(f->cdsServCli.Locate("CDCLIENTE", std::string("C2")));
  EXPECT_EQ(ui::Driver::text(*f->dbtInscCli), "");
}

class Apportionment : public Clients {
protected:
  void Build(server::DemoBuilder& b) override {
    Clients::Build(b);
    auto i1 = b.Item("0001", "F0010", "I1", "Item Um");
    auto i2 = b.Item("0001", "F0010", "I2", "Item Dois");
    b.Line("0001", "F0010", "C1", D, i1, 2);
    b.Line("0001", "F0010", "C1", D, i2, 3);
  }
  std::vector<rtl::Variant> Lines() {
    std::vector<rtl::Variant> v;
    for (f->cdsItRatEfet.First(); !f->cdsItRatEfet.Eof(); f->cdsItRatEfet.Next())
      if (f->cdsItRatEfet.FieldByName("CDCLIENTE").AsString() == "C1")
        v.push_back(f->cdsItRatEfet.FieldByName("QTEFETIVOS").Value());
    return v;
  }
};

TEST_F(Apportionment, YesTakesTheLinesSum) {
  OpenBilling();
  ui.answer(ui::mrYes);
  TypeCell(*f->dbgEfeCliCa, 1, "QTCOMEFETCLI", "10");
  ui.press(ui::VK_TAB);
  ASSERT_FALSE(ui.dialogs().empty());
  EXPECT_EQ(ui.lastDialog(), "Existe rateio de efetivos para o cliente. Deseja utilizar o valor do rateio?");
  EXPECT_EQ(f->cdsServCli.FieldByName("QTCOMEFETCLI").AsFloat(), 5);
  EXPECT_EQ(f->cdsItRatEfet.ChangeCount(), 0);
}

TEST_F(Apportionment, NoKeepsTheTypedValueAndEmptiesTheLines) {
  OpenBilling();
  ui.answer(ui::mrNo);
  TypeCell(*f->dbgEfeCliCa, 1, "QTCOMEFETCLI", "10");
  ui.press(ui::VK_TAB);
  EXPECT_EQ(f->cdsServCli.FieldByName("QTCOMEFETCLI").AsFloat(), 10);
  auto lines = Lines();
  ASSERT_EQ(lines.size(), 2u);
  for (auto& l : lines) EXPECT_TRUE(l.isNullOrEmpty());
  EXPECT_EQ(f->cdsItRatEfet.ChangeCount(), 2);
  EXPECT_FALSE(f->cdsItRatEfet.Filtered());
  // C2 has no lines: no question.
  size_t shown = ui.dialogs().size();
  TypeCell(*f->dbgEfeCliCa, 2, "QTCOMEFETCLI", "4");
  ui.press(ui::VK_TAB);
  EXPECT_EQ(ui.dialogs().size(), shown);
}

// Unconfirmed client rows used to vanish when another billed service was
// picked; now the user is asked.
TEST_F(Clients, MovingToAnotherBilledServiceAsksBeforeDroppingTypedRows) {
  OpenBilling();
  TypeCell(*f->dbgEfeCliCa, 2, "QTCOMEFETCLI", "5");
  ui.press(ui::VK_UP);
  ui.answer(ui::mrNo);
  ASSERT_TRUE(ui.clickCell(*f->dbgServiFatu, 2, 0));
  EXPECT_EQ(ui.lastDialog(), "Deseja gravar as alterações antes de sair?");
  EXPECT_EQ(calls.count("UpdEfetClie"), 0);
  ASSERT_TRUE(ui.clickCell(*f->dbgServiFatu, 1, 0));
  EXPECT_EQ(Qt("C2"), 2) << "No drops the rows";

  TypeCell(*f->dbgEfeCliCa, 2, "QTCOMEFETCLI", "5");
  // Still in edit when the other billed service is picked: posted, then asked.
  ui.answer(ui::mrYes);
  ASSERT_TRUE(ui.clickCell(*f->dbgServiFatu, 2, 0));
  EXPECT_TRUE(ui.errors().empty()) << ui.lastError();
  EXPECT_EQ(calls.count("UpdEfetClie"), 1);
  EXPECT_EQ(f->cdsServFatu.FieldByName("CDSERVICFATURAM").AsString(), "F0020");
  ASSERT_TRUE(ui.clickCell(*f->dbgServiFatu, 1, 0));
  EXPECT_EQ(Qt("C2"), 5) << "Yes stored the row";
  EXPECT_EQ(Fatu(), 13);
}

TEST_F(Clients, RefusedSaveKeepsTheRowsAndTheBilledService) {
  Settle("C2");
  OpenBilling();
  TypeCell(*f->dbgEfeCliCa, 2, "QTCOMEFETCLI", "5");
  ui.press(ui::VK_UP);
  CopyRule("S");  // the server now refuses the settled client
  ui.answer(ui::mrYes);
  ui.clickCell(*f->dbgServiFatu, 2, 0);
  EXPECT_EQ(ui.lastError(),
            "Operação bloqueada. Efetivos dos clientes relacionados já apurados na data selecionada.");
  EXPECT_EQ(f->cdsServFatu.FieldByName("CDSERVICFATURAM").AsString(), "F0010");
  EXPECT_EQ(f->cdsServCli.ChangeCount(), 1);
  EXPECT_EQ(Qt("C2"), 5);
}

}  // namespace

// ---------------------------------------------------------------------------
// The confirm of the billing page with the client, apportionment, turnstile
// and shift rows of this page.
namespace {

using BillingConfirm = Clients;

TEST_F(BillingConfirm, OkReloadsTheBillingDataButNotTheMenuDayAndKeepsThePositions) {
  OpenBilling();
  TypeCell(*f->dbgEfeCliCa, 2, "QTCOMEFETCLI", "5");
  ASSERT_TRUE(f->sbtConfirmar->Enabled());
  int dia = calls.count("GetCardaDia"), fatu = calls.count("GetServiFat"), cli = calls.count("GetServCli");
  ASSERT_TRUE(ui.click(*f->sbtConfirmar));
  EXPECT_TRUE(ui.errors().empty()) << ui.lastError();
  EXPECT_EQ(calls.count("UpdEfetClie"), 1);
  EXPECT_EQ(calls.count("GetCardaDia"), dia);
  EXPECT_EQ(calls.count("GetServiFat"), fatu + 1);
  EXPECT_GE(calls.count("GetServCli"), cli + 1);
  EXPECT_EQ(f->cdsServCli.ChangeCount(), 0);
  EXPECT_EQ(f->cdsServFatu.FieldByName("CDSERVICFATURAM").AsString(), "F0010");
  EXPECT_EQ(f->cdsServCli.FieldByName("CDCLIENTE").AsString(), "C2") << "the client stays current";
  EXPECT_EQ(f->cdsServCli.FieldByName("QTCOMEFETCLI").AsFloat(), 5);
  EXPECT_EQ(Fatu(), 13) << "the reload recomputes the total";
  for (auto& d : ui.dialogs()) EXPECT_NE(d.Text, Msg("CACHECHEIO"));
}

TEST_F(BillingConfirm, ANewMenuDayIsLoadedWithoutAskingAboutTheRowsJustSent) {
  CopyRule("S");  // the server recomputes the service's clients from the billing
  OpenBilling();
  ASSERT_TRUE(ui.clickCell(*f->dbgServiFatu, 1, 0));
  TypeCell(*f->dbgEfeCliCa, 2, "QTCOMEFETCLI", "5");
  ASSERT_TRUE(ui.click(*f->sbtConfirmar));
  EXPECT_TRUE(ui.errors().empty()) << ui.lastError();
  EXPECT_TRUE(ui.dialogs().empty()) << ui.lastDialog();
  EXPECT_EQ(f->cdsCardaDia.FieldByName("QTCLIEFETCAR").AsFloat(), 13);
  EXPECT_EQ(f->cdsCardaDia.FieldByName("CDSERVFILI").AsString(), "00010");
  EXPECT_EQ(f->cdsServCli.FieldByName("CDCLIENTE").AsString(), "C2");
  EXPECT_EQ(f->cdsServCli.ChangeCount(), 0);
}

TEST_F(BillingConfirm, ARefusalIsShownAsItsCatalogTextAndKeepsTheChanges) {
  Settle("C2");
  OpenBilling();
  TypeCell(*f->dbgEfeCliCa, 2, "QTCOMEFETCLI", "5");
  CopyRule("S");
  ASSERT_TRUE(ui.click(*f->sbtConfirmar));
  ASSERT_EQ(ErrorCount(), 1u);
  EXPECT_EQ(ui.lastError(),
            "Operação bloqueada. Efetivos dos clientes relacionados já apurados na data selecionada.");
  EXPECT_EQ(f->cdsServCli.ChangeCount(), 1);
  EXPECT_EQ(calls.count("GetServiFat"), 1) << "nothing reloaded";
}

TEST_F(BillingConfirm, WithoutClientChangesNoUpdateIsSentButTurnstileAndShiftsAre) {
  OpenBilling();
  TypeCell(*f->dbgMedCatraca, 1, "QTEFETCATINI", "10");
  ui.press(ui::VK_TAB);
  ui.type("30");
  ASSERT_TRUE(ui.click(*f->sbtConfirmar));
  EXPECT_TRUE(ui.errors().empty()) << ui.lastError();
  EXPECT_EQ(calls.count("UpdEfetClie"), 0);
  EXPECT_EQ(calls.count("SetEfetCat"), 1);
  EXPECT_EQ(f->cdsEfetCat.FieldByName("QTEFETCATTOT").AsFloat(), 20);

  ASSERT_TRUE(ui.pick(*f->PageControl1, *f->tshTurnoCliente));
  TypeCell(*f->dbgTurnoClie, 1, "QTCOMTURNCLI", "6");
  ASSERT_TRUE(ui.click(*f->sbtConfirmar));
  EXPECT_TRUE(ui.errors().empty()) << ui.lastError();
  EXPECT_EQ(calls.count("UpdEfetClie"), 0);
  EXPECT_EQ(calls.count("SetTurnoCliente"), 1);
  EXPECT_EQ(f->cdsTurnoCliente.ChangeCount(), 0);
}

TEST_F(Apportionment, OnlyClearedLinesGoWithNullClientRows) {
  OpenBilling();
  ui.answer(ui::mrNo);
  TypeCell(*f->dbgEfeCliCa, 1, "QTCOMEFETCLI", "10");
  ui.press(ui::VK_TAB);
  ui.press(ui::VK_ESCAPE);  // the client row goes back; the cleared lines stay
  ASSERT_EQ(f->cdsServCli.State(), data::TDataSetState::Browse);
  ASSERT_EQ(f->cdsServCli.ChangeCount(), 0);
  ASSERT_EQ(f->cdsItRatEfet.ChangeCount(), 2);
  // A turnstile row in edit makes the confirm available.
  TypeCell(*f->dbgMedCatraca, 1, "QTEFETCATINI", "1");
  ui.press(ui::VK_TAB);
  ui.type("2");
  ASSERT_TRUE(ui.click(*f->sbtConfirmar));
  EXPECT_TRUE(ui.errors().empty()) << ui.lastError();
  auto upd = calls.of("UpdEfetClie");
  ASSERT_EQ(upd.size(), 1u);
  ASSERT_EQ(upd[0].args.size(), 7u);
  EXPECT_TRUE(upd[0].args[0].isNull());
  EXPECT_TRUE(upd[0].args[6].isPacket());
  EXPECT_EQ(f->cdsItRatEfet.ChangeCount(), 0);
}

}  // namespace

namespace {
// Saving on the way to another billed service when the server answers with a
// recomputed menu day: the service grid shows it and the move goes on.
TEST_F(Clients, SavingBeforeTheMoveTakesTheRecomputedMenuDay) {
  CopyRule("S");
  OpenBilling();
  TypeCell(*f->dbgEfeCliCa, 2, "QTCOMEFETCLI", "5");
  ui.press(ui::VK_UP);
  ui.answer(ui::mrYes);
  ASSERT_TRUE(ui.clickCell(*f->dbgServiFatu, 2, 0));
  EXPECT_TRUE(ui.errors().empty()) << ui.lastError();
  EXPECT_EQ(calls.count("UpdEfetClie"), 1);
  EXPECT_EQ(f->cdsCardaDia.FieldByName("QTCLIEFETCAR").AsFloat(), 13);
  EXPECT_EQ(f->cdsServFatu.FieldByName("CDSERVICFATURAM").AsString(), "F0020");
  EXPECT_EQ(f->cdsServCli.FieldByName("CDCLIENTE").AsString(), "C3");
  EXPECT_EQ(f->cdsCompCardAux.RecordCount(), 1) << "the dish types of the day's menu";
}
}  // namespace
