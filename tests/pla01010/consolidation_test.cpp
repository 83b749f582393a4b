// PLA01010 driven as a user drives it, opened from PLA01000, against the real
// server on a temporary database.

#include <algorithm>

#include "cons_fixture.h"
#include "platform/host/checks.h"

namespace pla01010test {
namespace {

using pla01010::TfrmConsEfetClie;
using Strings = std::vector<std::string>;

class Opening : public ConsTest {};
class Header : public ConsTest {};
class Apportionment : public ConsTest {};
class Confirming : public ConsTest {};
class Closing : public ConsTest {};

TEST_F(Opening, HeaderComesFromPLA01000AsAOneDayPeriodAndLoadsOnLeaving) {
  Consolidate([&](TfrmConsEfetClie& s) {
    EXPECT_EQ(s.Caption(), "Efetivos por Cliente");
    EXPECT_TRUE(s.netConsEfet.Connected());
    EXPECT_EQ(s.medCdFilial->Text(), "0001");
    EXPECT_EQ(s.edtNmFilial->Text(), "Matriz");
    EXPECT_EQ(s.medCdServico->Text(), "00010");
    EXPECT_EQ(s.edtNmServico->Text(), "Almoço");
    EXPECT_EQ(s.depEfetIni->GetDate(), D);
    EXPECT_EQ(s.depEfetFin->GetDate(), D);
    EXPECT_TRUE(s.medCdFilial->Enabled());
    EXPECT_FALSE(s.sbtConsolidar->Enabled());
    EXPECT_FALSE(s.cdsEfetPlan.Active()) << "nothing loads before the header is left";
    EXPECT_EQ(calls.count("GetEfetPlanCli"), 0);

    ui.focus(*s.dbgEfetPlan);
    EXPECT_TRUE(ui.errors().empty()) << ui.lastError();
    ASSERT_EQ(calls.of("GetVerifApurac").size(), 1u);
    auto args = calls.of("GetEfetPlanCli").at(0).args;
    ASSERT_EQ(args.size(), 4u);
    EXPECT_EQ(args[0].toString(), "0001");
    EXPECT_EQ(args[1].toString(), "00010");
    EXPECT_EQ(args[2].toDateTime(), D);
    EXPECT_EQ(args[3].toDateTime(), D);
    EXPECT_EQ(s.cdsEfetPlan.RecordCount(), 1);
    EXPECT_EQ(s.edtEfetPlan->Text(), "10");
    EXPECT_EQ(s.edtEfetFat->Text(), "0");
    EXPECT_TRUE(s.sbtConsolidar->Enabled());
    EXPECT_FALSE(s.cdsEfetFat.Active());
  });
  EXPECT_TRUE(ui.errors().empty()) << ui.lastError();
  EXPECT_EQ(ui.services().Modal.Shown, Strings{"frmConsEfetClie"});
}

TEST_F(Opening, HourglassUntilTheModalLoopEndsAndEachCallAFreshScreen) {
  ASSERT_TRUE(Open());
  // The first screen is released before the second comes, which may reuse its
  // memory: a mark on the first tells them apart.
  std::vector<int> seen;
  auto script = [&](ui::TCustomForm& form) {
    seen.push_back(form.Tag);
    form.Tag = 7;
    EXPECT_EQ(&form, pla01010::frmConsEfetClie);
    EXPECT_EQ(ui.services().Cursor.History.back(), ui::TCursor::HourGlass);
    ui.close(form);
  };
  ui.onModal(script);
  ui.onModal(script);
  ui.act([] { pla01010::CriaConsEfetClie(); });
  ui.act([] { pla01010::CriaConsEfetClie(); });
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1], 0) << "the second call must show a new screen";
  EXPECT_EQ(ui.services().Cursor.History.back(), ui::TCursor::Default);
  EXPECT_TRUE(ui.errors().empty()) << ui.lastError();
  EXPECT_EQ(pla01010::frmConsEfetClie, nullptr) << "the closed screen was released";
}

TEST_F(Opening, ModuleBoundToTheBranchDisablesTheBranchFieldButStillCopiesIt) {
  host::Context().moduFili = true;
  Consolidate([&](TfrmConsEfetClie& s) {
    EXPECT_FALSE(s.medCdFilial->Enabled());
    EXPECT_FALSE(s.lblCdFilial->Enabled());
    EXPECT_FALSE(s.btpFilial->Enabled());
    EXPECT_EQ(s.medCdFilial->Text(), "0001");
  });
}

TEST_F(Header, NewBranchClearsServiceAndNamesAndShortServiceCodeIsPadded) {
  Consolidate([&](TfrmConsEfetClie& s) {
    TypeInto(*s.medCdFilial, "2");
    EXPECT_EQ(s.edtNmFilial->Text(), "");
    EXPECT_EQ(s.medCdServico->Text(), "");
    EXPECT_EQ(s.edtNmServico->Text(), "");
    ui.focus(*s.medCdServico);
    EXPECT_EQ(s.medCdFilial->Text(), "0002");
    EXPECT_EQ(s.edtNmFilial->Text(), "Campinas");

    ui.type("10");
    ui.focus(*s.depEfetIni);
    EXPECT_TRUE(ui.errors().empty()) << ui.lastError();
    EXPECT_EQ(s.medCdServico->Text(), "00010");
    EXPECT_EQ(s.edtNmServico->Text(), "Almoço Campinas");
    EXPECT_EQ(s.qryServico.ParamByName("P_CDSERVFILI").AsString(), "00010");

    TypeInto(*s.medCdServico, "99");
    ui.focus(*s.depEfetIni);
    EXPECT_EQ(ui.lastError(), "Serviço não cadastrado.");
    EXPECT_EQ(ui.focused(), s.medCdServico);

    // Leaving the header without a service, and with a reversed period.
    TypeInto(*s.medCdServico, "");
    ui.press(ui::VK_DELETE);
    ui.focus(*s.dbgEfetPlan);
    EXPECT_EQ(ui.lastError(), "Serviço deve ser informado.");
    EXPECT_EQ(ui.focused(), s.medCdServico);
    ui.type("10");
    TypeInto(*s.depEfetIni, rtl::FormatDateTime("dd/mm/yyyy", D));
    TypeInto(*s.depEfetFin, rtl::FormatDateTime("dd/mm/yyyy", D - 1));
    ui.focus(*s.dbgEfetPlan);
    EXPECT_EQ(ui.lastError(), "Data inicial não pode ser maior que data final.");
    EXPECT_EQ(ui.focused(), s.depEfetFin);
    EXPECT_EQ(calls.count("GetEfetPlanCli"), 0);
  });
}

TEST_F(Header, SettledDayIsNamedAndNothingLoads) {
  Consolidate([&](TfrmConsEfetClie& s) {
    Load("00070", d1(), d3());
    EXPECT_EQ(ui.lastError(), "Período contempla dias já apurados (" + Day(d2()) + ").");
    EXPECT_EQ(ui.focused(), s.depEfetIni);
    EXPECT_EQ(calls.count("GetEfetPlanCli"), 0);
    EXPECT_FALSE(s.cdsEfetPlan.Active());
    EXPECT_FALSE(s.cdsEfetClie.Active());
    EXPECT_FALSE(s.sbtConsolidar->Enabled());
  });
}

TEST_F(Header, TotalsAndTheBillingGridFollowingTheClient) {
  Consolidate([&](TfrmConsEfetClie& s) {
    Load("00030", d1(), d3());
    ASSERT_TRUE(ui.errors().empty()) << ui.lastError();
    EXPECT_EQ(s.edtEfetPlan->Text(), "30");
    EXPECT_EQ(s.edtEfetFat->Text(), "30");
    EXPECT_EQ(s.dTotEfetFat, 30);
    EXPECT_TRUE(s.sbtConsolidar->Enabled());

    Apportion();
    ASSERT_TRUE(ui.errors().empty()) << ui.lastError();
    // 20 x 10/30, 20 x 12/30, 20 x 8/30 and 10 x the same shares.
    EXPECT_EQ(Rows(s.cdsEfetFat), (Strings{"CA " + Day(d1()) + " 7", "CA " + Day(d2()) + " 8",
                                          "CA " + Day(d3()) + " 5", "CB " + Day(d1()) + " 3",
                                          "CB " + Day(d2()) + " 4", "CB " + Day(d3()) + " 3"}));
    EXPECT_EQ(s.cdsEfetClie.FieldByName("CDCLIENTE").AsString(), "CA");
    EXPECT_EQ(s.dgbEfetFat->RowCount(), 3);
    s.cdsEfetFat.First();
    EXPECT_EQ(s.cdsEfetFat.FieldByName("DTCARDAPIO").AsDateTime(), d1()) << "days in date order";
    ui.clickCell(*s.dbgEfetClie, 2, 0);
    EXPECT_EQ(s.dgbEfetFat->RowCount(), 3);
    for (s.cdsEfetFat.First(); !s.cdsEfetFat.Eof(); s.cdsEfetFat.Next())
      EXPECT_EQ(s.cdsEfetFat.FieldByName("CDCLIENTE").AsString(), "CB");

    // Entering the header closes the three views and the button goes off.
    ui.focus(*s.medCdServico);
    EXPECT_FALSE(s.cdsEfetPlan.Active());
    EXPECT_FALSE(s.cdsEfetClie.Active());
    EXPECT_FALSE(s.cdsEfetFat.Active());
    EXPECT_FALSE(s.sbtConsolidar->Enabled());
    EXPECT_EQ(s.edtEfetPlan->Text(), "30");
  });
}

TEST_F(Header, NoPlannedDayKeepsTheButtonDisabled) {
  Consolidate([&](TfrmConsEfetClie& s) {
    Load("00060", d1(), d3());
    EXPECT_TRUE(ui.errors().empty()) << ui.lastError();
    EXPECT_EQ(s.cdsEfetPlan.RecordCount(), 0);
    EXPECT_EQ(s.cdsEfetClie.RecordCount(), 1);
    EXPECT_EQ(s.edtEfetFat->Text(), "5");
    EXPECT_EQ(s.edtEfetPlan->Text(), "0");
    EXPECT_FALSE(s.sbtConsolidar->Enabled());
  });
}

TEST_F(Apportionment, RoundsHalfToEvenAndTheConfirmChecksDaysNotClients) {
  Consolidate([&](TfrmConsEfetClie& s) {
    Load("00040", d1(), d3());
    Apportion();
    ASSERT_TRUE(ui.errors().empty()) << ui.lastError();
    EXPECT_EQ(Rows(s.cdsEfetFat), (Strings{"CA " + Day(d1()) + " 1", "CA " + Day(d2()) + " 1",
                                          "CA " + Day(d3()) + " 1", "CB " + Day(d1()) + " 0",
                                          "CB " + Day(d2()) + " 0", "CB " + Day(d3()) + " 0"}));
    Confirm();
    EXPECT_TRUE(ui.errors().empty()) << ui.lastError();
    auto sent = calls.of("SetConsolEfet");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].args[0].toString(), "0001");
    EXPECT_EQ(sent[0].args[1].toString(), "00040");
    data::TClientDataSet packet;
    packet.SetData(sent[0].args[2]);
    EXPECT_EQ(packet.RecordCount(), 6);
    EXPECT_EQ(ui.lastDialog(), "Consolidação de efetivos realizada com sucesso.");
    EXPECT_FALSE(ui.services().Busy.Visible());
    const auto& busy = ui.services().Busy.History;
    EXPECT_TRUE(std::any_of(busy.begin(), busy.end(), [](const ui::BusyRecord& r) {
      return r.Shown && r.Kind == 6 && r.Text == "Consolidando efetivos...";
    }));
    EXPECT_EQ(s.cdsEfetFat.RecordCount(), 3) << "the screen stays as it was";
  });
  EXPECT_EQ(db::Open(cs_)->query("SELECT COUNT(*) FROM EFETCONSOL WHERE CDFILIAL = '0001'").rows[0][0].toInt(), 6);
}

TEST_F(Apportionment, HalvesRoundToZeroAndBothDaysAreListedWithTheirShortfall) {
  Consolidate([&](TfrmConsEfetClie& s) {
    Load("00050", d1(), d2());
    Apportion();
    ASSERT_TRUE(ui.errors().empty()) << ui.lastError();
    Confirm();
    EXPECT_EQ(ui.lastError(), "Efetivos do Faturamento difere dos efetivos do planejamento no(s) dia(s): \n\r" +
                                  Day(d1()) + "  -  (-1)\n\r" + Day(d2()) + "  -  (-1)");
    EXPECT_EQ(calls.count("SetConsolEfet"), 0);
    EXPECT_TRUE(s.cdsAux.Filtered());
    EXPECT_EQ(s.cdsAux.RecordCount(), 2) << "left on the last day";
  });
}

// The client code joins the filter quoted, so a code holding a quote still
// narrows the billing grid to that client instead of breaking the filter.
TEST_F(Apportionment, ClientCodeWithAQuoteStillFiltersTheBillingGrid) {
  Consolidate([&](TfrmConsEfetClie& s) {
    Load("00050", d1(), d2());
    Apportion();
    ASSERT_TRUE(ui.errors().empty()) << ui.lastError();
    s.cdsEfetClie.Locate("CDCLIENTE", rtl::Variant("C'Q"));
    EXPECT_TRUE(ui.errors().empty()) << ui.lastError();
    EXPECT_EQ(s.cdsEfetFat.RecordCount(), 2);
    for (s.cdsEfetFat.First(); !s.cdsEfetFat.Eof(); s.cdsEfetFat.Next())
      EXPECT_EQ(s.cdsEfetFat.FieldByName("CDCLIENTE").AsString(), "C'Q");
  });
}

// A plan of 0 gives every row 0 instead of dividing by zero; the confirm then
// checks and sends the period.
TEST_F(Apportionment, PlanOfZeroGivesZeroRowsThatCanBeSent) {
  Consolidate([&](TfrmConsEfetClie& s) {
    Load("00080", d1(), d2());
    EXPECT_EQ(s.edtEfetPlan->Text(), "0");
    Apportion();
    ASSERT_TRUE(ui.errors().empty()) << ui.lastError();
    EXPECT_EQ(Rows(s.cdsEfetFat), (Strings{"CA " + Day(d1()) + " 0", "CA " + Day(d2()) + " 0",
                                          "CB " + Day(d1()) + " 0", "CB " + Day(d2()) + " 0"}));
    Confirm();
    EXPECT_TRUE(ui.errors().empty()) << ui.lastError();
    EXPECT_EQ(calls.count("SetConsolEfet"), 1);
  });
}

TEST_F(Apportionment, CorrectionsMoveTheBilledTotalAndDifferingTotalsAreRefused) {
  Consolidate([&](TfrmConsEfetClie& s) {
    Load("00030", d1(), d3());
    // CB: 10 -> 12.
    TypeCell(*s.dbgEfetClie, 2, 1, "12", 1);
    EXPECT_TRUE(ui.errors().empty()) << ui.lastError();
    EXPECT_EQ(s.edtEfetFat->Text(), "32");
    EXPECT_EQ(s.cdsEfetClie.ChangeCount(), 0) << "corrections stay on the screen";
    // CA emptied: 0, and the total loses its old 20.
    ui.clickCell(*s.dbgEfetClie, 1, 1);
    ui.press(ui::VK_F2);
    ui.press(ui::VK_DELETE);
    ui.clickCell(*s.dbgEfetClie, 2, 1);
    EXPECT_EQ(s.edtEfetFat->Text(), "12");
    s.cdsEfetClie.First();
    EXPECT_EQ(s.cdsEfetClie.FieldByName("TOTALEFET").AsString(), "0");

    // CA back to 19: 31 against the plan of 30.
    TypeCell(*s.dbgEfetClie, 1, 1, "19", 2);
    EXPECT_EQ(s.edtEfetFat->Text(), "31");
    Apportion();
    EXPECT_EQ(ui.lastError(),
              "Total de efetivos do planejamento (30) difere do total de efetivos do faturamento (31).");
    EXPECT_FALSE(s.cdsEfetFat.Active());

    // Confirm without an apportionment.
    Confirm();
    EXPECT_EQ(ui.lastError(), "Rateio de efetivos deve ser realizado.");
    EXPECT_EQ(calls.count("SetConsolEfet"), 0);
  });
}

TEST_F(Apportionment, SwallowedKeysAndNoNewRows) {
  Consolidate([&](TfrmConsEfetClie& s) {
    Load("00030", d1(), d3());
    Apportion();
    ASSERT_TRUE(ui.errors().empty()) << ui.lastError();
    ui.clickCell(*s.dbgEfetClie, 1, 1);
    ui.type("+,-.e1");
    EXPECT_EQ(s.dbgEfetClie->EditorText(), "1");
    ui.clickCell(*s.dgbEfetFat, 1, 1);
    ui.type("-+.,e4");
    EXPECT_EQ(s.dgbEfetFat->EditorText(), "4");
    ui.press(ui::VK_ESCAPE);
    ui.clickCell(*s.dgbEfetFat, 1, 0);
    std::string day = s.cdsEfetFat.FieldByName("DTCARDAPIO").AsString();
    ui.type("01/01/2020");
    EXPECT_EQ(s.dgbEfetFat->CellText(0), day);
    ui.clickCell(*s.dgbEfetFat, 2, 0);
    s.cdsEfetFat.First();
    EXPECT_EQ(s.cdsEfetFat.FieldByName("DTCARDAPIO").AsString(), day);

    // Down on the last row would append: refused without a word.
    int rows = s.cdsEfetFat.RecordCount();
    ui.clickCell(*s.dgbEfetFat, rows, 1);
    ui.press(ui::VK_DOWN);
    EXPECT_EQ(s.cdsEfetFat.RecordCount(), rows);
    ui.clickCell(*s.dbgEfetClie, 2, 1);
    ui.press(ui::VK_DOWN);
    EXPECT_EQ(s.cdsEfetClie.RecordCount(), 2);
  });
  EXPECT_TRUE(ui.errors().empty()) << ui.lastError();
}

TEST_F(Confirming, SecondApportionmentReplacesManualCorrections) {
  Consolidate([&](TfrmConsEfetClie& s) {
    Load("00030", d1(), d3());
    Apportion();
    TypeCell(*s.dgbEfetFat, 1, 1, "9", 2);
    EXPECT_TRUE(ui.errors().empty()) << ui.lastError();
    s.cdsEfetFat.First();
    EXPECT_EQ(s.cdsEfetFat.FieldByName("QTEFETFAT").AsFloat(), 9);
    // CA's first day now makes day one 12 against the plan of 10.
    Confirm();
    EXPECT_EQ(ui.lastError(), "Efetivos do Faturamento difere dos efetivos do planejamento no(s) dia(s): \n\r" +
                                  Day(d1()) + "  -  (2)");
    Apportion();
    EXPECT_EQ(s.cdsEfetFat.RecordCount(), 3);
    s.cdsEfetFat.First();
    EXPECT_EQ(s.cdsEfetFat.FieldByName("QTEFETFAT").AsFloat(), 7);
    EXPECT_EQ(Rows(s.cdsEfetFat).size(), 6u);
    Confirm();
    EXPECT_EQ(ui.lastDialog(), "Consolidação de efetivos realizada com sucesso.");
    EXPECT_EQ(calls.count("SetConsolEfet"), 1);
  });
}

TEST_F(Confirming, ASplitStoredBySomeoneElseSinceTheReadIsRefusedAndTheGridKept) {
  Consolidate([&](TfrmConsEfetClie& s) {
    Load("00030", d1(), d3());
    Apportion();
    const auto apportioned = Rows(s.cdsEfetFat);
    // Another clerk stores a split of the period after this screen read it.
    Exec("INSERT INTO EFETCONSOL (CDFILIAL, CDSERVFILI, DTCARDAPIO, CDCLIENTE, QTEFETFAT, CDOPERADOR)"
         " VALUES ('0001', '00030', :P_DIA, 'CA', 10, 'OPB')",
         {{"P_DIA", rtl::Variant::FromDate(d1())}});
    size_t dialogs = ui.dialogs().size();
    Confirm();
    EXPECT_EQ(ui.lastError().rfind("Registro alterado por outro usuário desde a leitura", 0), 0u) << ui.lastError();
    EXPECT_EQ(ui.dialogs().size(), dialogs) << "no success message";
    EXPECT_FALSE(ui.services().Busy.Visible());
    EXPECT_TRUE(s.cdsEfetFat.Active());
    EXPECT_EQ(Rows(s.cdsEfetFat), apportioned) << "the user's grid stays";

    // Read again: the confirm goes through, and confirming once more is not
    // taken for someone else's change (it only stores nothing new).
    ui.focus(*s.medCdServico);
    ui.focus(*s.dbgEfetPlan);
    Apportion();
    Confirm();
    EXPECT_EQ(ui.lastDialog(), "Consolidação de efetivos realizada com sucesso.");
    size_t errors = ui.errors().size();
    Confirm();
    EXPECT_EQ(ui.errors().size(), errors) << ui.lastError();
    EXPECT_EQ(calls.count("SetConsolEfet"), 3);
  });
  auto stored = db::Open(cs_)->query("SELECT QTEFETFAT FROM EFETCONSOL WHERE CDSERVFILI = '00030' AND CDCLIENTE = 'CA'"
                                     " AND DTCARDAPIO = :P_DIA",
                                     {{"P_DIA", rtl::Variant::FromDate(d1())}});
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored.rows[0][0].toDouble(), 7);
}

TEST_F(Confirming, ServerRefusalIsShownAndTheBusyIndicatorHidden) {
  Consolidate([&](TfrmConsEfetClie& s) {
    Load("00040", d1(), d3());
    Apportion();
    // The plan changed on the server since it was read.
    Exec("UPDATE CARDAPIO SET QTCLIEFETCAR = 2 WHERE CDFILIAL = '0001' AND CDSERVFILI = '00040'");
    size_t dialogs = ui.dialogs().size();
    Confirm();
    EXPECT_FALSE(ui.lastError().empty());
    EXPECT_EQ(ui.dialogs().size(), dialogs) << "no success message";
    EXPECT_FALSE(ui.services().Busy.Visible());
    calls.failNext("SetConsolEfet");
    Confirm();
    EXPECT_EQ(ui.lastError(), pla01000test::kFalhaSimulada);
    EXPECT_FALSE(ui.services().Busy.Visible());
  });
  EXPECT_EQ(db::Open(cs_)->query("SELECT COUNT(*) FROM EFETCONSOL").rows[0][0].toInt(), 0);
}

const char* const kRateioPendente = "O rateio dos efetivos não foi confirmado. Deseja confirmá-lo antes de sair?";

int Stored(const std::string& cs) {
  return db::Open(cs)->query("SELECT COUNT(*) FROM EFETCONSOL WHERE CDFILIAL = '0001'").rows[0][0].toInt();
}

// A question closed without an answer keeps the screen and its grid; Sim then
// confirms before closing.
TEST_F(Closing, UnconfirmedApportionmentAsksAndEscKeepsTheScreenThenSimConfirms) {
  Consolidate([&](TfrmConsEfetClie& s) {
    Load("00040", d1(), d3());
    Apportion();
    ASSERT_TRUE(ui.errors().empty()) << ui.lastError();
    const auto apportioned = Rows(s.cdsEfetFat);
    ui.answer(ui::mrCancel);
    ui.close(s);
    EXPECT_EQ(ui.lastDialog(), kRateioPendente);
    EXPECT_FALSE(s.ModalDone()) << "Esc keeps the screen";
    EXPECT_EQ(Rows(s.cdsEfetFat), apportioned);
    EXPECT_EQ(calls.count("SetConsolEfet"), 0);

    ui.answer(ui::mrYes);
    ui.close(s);
    EXPECT_TRUE(ui.errors().empty()) << ui.lastError();
    EXPECT_EQ(ui.lastDialog(), "Consolidação de efetivos realizada com sucesso.");
    EXPECT_TRUE(s.ModalDone());
  });
  EXPECT_EQ(Stored(cs_), 6);
  EXPECT_EQ(pla01010::frmConsEfetClie, nullptr);
}

// Não drops it: nothing is stored. A Sim whose confirm is refused keeps the
// screen open with the refusal shown.
TEST_F(Closing, NaoDropsTheApportionmentAndARefusedSimKeepsTheScreen) {
  Consolidate([&](TfrmConsEfetClie& s) {
    Load("00050", d1(), d2());
    Apportion();
    ASSERT_TRUE(ui.errors().empty()) << ui.lastError();
    ui.answer(ui::mrYes);
    ui.close(s);
    EXPECT_EQ(ui.lastError().rfind("Efetivos do Faturamento difere", 0), 0u) << ui.lastError();
    EXPECT_FALSE(s.ModalDone()) << "a refused confirm keeps the screen";

    ui.answer(ui::mrNo);
    ui.close(s);
    EXPECT_TRUE(s.ModalDone());
  });
  EXPECT_EQ(calls.count("SetConsolEfet"), 0);
  EXPECT_EQ(Stored(cs_), 0);
}

// Once confirmed, or before any apportionment, closing asks nothing.
TEST_F(Closing, NothingToLoseAsksNothing) {
  Consolidate([&](TfrmConsEfetClie& s) {
    Load("00040", d1(), d3());
    size_t dialogs = ui.dialogs().size();
    ui.close(s);
    EXPECT_TRUE(s.ModalDone());
    EXPECT_EQ(ui.dialogs().size(), dialogs);
  });
  Consolidate([&](TfrmConsEfetClie& s) {
    Load("00040", d1(), d3());
    Apportion();
    Confirm();
    ASSERT_TRUE(ui.errors().empty()) << ui.lastError();
    size_t dialogs = ui.dialogs().size();
    ui.close(s);
    EXPECT_TRUE(s.ModalDone());
    EXPECT_EQ(ui.dialogs().size(), dialogs);
  });
}

}  // namespace
}  // namespace pla01010test

namespace pla01010test {
namespace {

class FromPLA01000 : public ConsTest {};

// On the billing page the button reloads PLA01000 once the consolidation screen closes; F6 only opens it.
TEST_F(FromPLA01000, ButtonReloadsTheDayAndTheMenuEntryDoesNot) {
  ASSERT_TRUE(Open());
  LoadDay(D);
  ASSERT_TRUE(ui.errors().empty()) << ui.lastError();
  ASSERT_TRUE(ui.pick(*f->pgcPadrao, *f->tshClientes));
  ASSERT_TRUE(ui.errors().empty()) << ui.lastError();
  int opened = 0;
  auto script = [&](ui::TCustomForm& form) {
    ++opened;
    ui.close(form);
  };
  calls.clear();
  ui.onModal(script);
  ASSERT_TRUE(ui.click(*f->sbtConsolidar));
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(calls.count("GetServiFat"), 1) << "the billing page is reloaded";

  calls.clear();
  ui.onModal(script);
  ui.press(ui::VK_F6);
  EXPECT_EQ(opened, 2);
  EXPECT_EQ(calls.count("GetServiFat"), 0);
  EXPECT_TRUE(ui.errors().empty()) << ui.lastError();
}

}  // namespace
}  // namespace pla01010test
