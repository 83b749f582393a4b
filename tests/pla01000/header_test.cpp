// Opening the screen, the header fields and the loading of the menu day,
// driven as a user drives them against the real server.

#include "platform/host/checks.h"
#include "screen_fixture.h"

using namespace pla01000test;

namespace {

using Opening = ScreenTest;
using Header = ScreenTest;
using MenuDay = ScreenTest;

// ---------------------------------------------------------------------------
TEST_F(Opening, FirstActivationLoadsTheGeneralParametersOnceAndFillsTheHeader) {
  ASSERT_TRUE(Open());
  EXPECT_TRUE(ui.errors().empty()) << ui.lastError();
  EXPECT_EQ(calls.count("GetParamGeral"), 1);
  EXPECT_TRUE(f->cdsParamGeral.Active());
  EXPECT_EQ(ui::Driver::text(*f->medCdFilial), "0001");
  EXPECT_EQ(f->edtNmFilial->Text(), "Matriz");
  EXPECT_EQ(f->depCardapio->GetDate(), D);
  EXPECT_EQ(f->edtDiaCardapio->Text(), host::NomeSemana(D));
  EXPECT_EQ(ui.focused(), f->medCdFilial);
  EXPECT_EQ(f->cdsCardaDia.FieldByName("CDSERVFILI").Tag, 1);
  for (data::TClientDataSet* ds : {&f->cdsServFatu, &f->cdsServCli, &f->cdsTurnoCliente}) {
    EXPECT_TRUE(ds->Active()) << ds->Name;
    EXPECT_TRUE(ds->IsEmpty()) << ds->Name;
  }
  EXPECT_EQ(f->pgcPadrao->ActivePage(), f->tshPadrao);
  EXPECT_TRUE(f->mnuEfetivos->Checked());
  EXPECT_FALSE(f->bPrimeiraVez);
  EXPECT_EQ(ui.services().Cursor.History.back(), ui::TCursor::Default);

  // Another window and back: no second set-up, no second call.
  auto* other = ui::CreateForm<ui::TForm>(nullptr);
  ui.act([&] { other->Show(); });
  ui.act([] { pla01000::CriaMedEfetivos(); });
  EXPECT_EQ(pla01000::frmMediEfetivos, f) << "a second screen was created";
  EXPECT_EQ(calls.count("GetParamGeral"), 1);
  EXPECT_EQ(ui.activeForm(), f);
}

TEST_F(Opening, FailedFirstActivationIsRetriedOnTheNextOne) {
  calls.failNext("GetParamGeral");
  ASSERT_TRUE(Open());
  ASSERT_EQ(ErrorCount(), 1u);
  EXPECT_EQ(ui.lastError(), kFalhaSimulada);
  EXPECT_TRUE(f->bPrimeiraVez);
  EXPECT_FALSE(f->cdsParamGeral.Active());
  EXPECT_EQ(ui.services().Cursor.History.back(), ui::TCursor::Default);

  auto* other = ui::CreateForm<ui::TForm>(nullptr);
  ui.act([&] { other->Show(); });
  ui.act([] { pla01000::CriaMedEfetivos(); });
  EXPECT_EQ(ErrorCount(), 1u) << ui.lastError();
  EXPECT_EQ(calls.count("GetParamGeral"), 2);
  EXPECT_TRUE(f->cdsParamGeral.Active());
  EXPECT_FALSE(f->bPrimeiraVez);
  EXPECT_EQ(ui::Driver::text(*f->medCdFilial), "0001");
}

TEST_F(Opening, ModuleBoundToTheBranchLocksTheBranchAndStartsOnTheDate) {
  host::Context().moduFili = true;
  ASSERT_TRUE(Open());
  EXPECT_FALSE(f->medCdFilial->Enabled());
  EXPECT_FALSE(f->lblCdFilial->Enabled());
  EXPECT_FALSE(f->btpFilial->Enabled());
  EXPECT_EQ(ui.focused(), f->depCardapio);
  // Loading the day does not unlock it.
  LeaveHeader();
  EXPECT_TRUE(f->cdsCardaDia.Active());
  EXPECT_FALSE(f->medCdFilial->Enabled());
}

TEST_F(Opening, ClosingClearsTheCreatedFlagDisconnectsAndTheNextOpeningCreatesANewScreen) {
  ASSERT_TRUE(Open());
  EXPECT_TRUE(pla01000::bCriado);
  EXPECT_TRUE(f->netMediEfetivos.Connected());
  LoadDay(D);
  ui.close(*f);
  EXPECT_FALSE(pla01000::bCriado);
  EXPECT_EQ(pla01000::frmMediEfetivos, nullptr) << "the released screen is still referenced";
  ASSERT_TRUE(Open());
  EXPECT_EQ(calls.count("GetParamGeral"), 2);
  EXPECT_TRUE(pla01000::bCriado);
}

// ---------------------------------------------------------------------------
TEST_F(Header, BranchCodeIsUpperCaseFourWideAndPaddedBeforeValidation) {
  ASSERT_TRUE(Open());
  ASSERT_TRUE(ui.focus(*f->medCdFilial));
  ui.type("00ab");
  EXPECT_EQ(ui::Driver::text(*f->medCdFilial), "00AB");
  ui.press(ui::VK_TAB);
  EXPECT_EQ(f->edtNmFilial->Text(), "Filial AB");

  ASSERT_TRUE(ui.focus(*f->medCdFilial));
  ui.type("000123");
  EXPECT_EQ(f->medCdFilial->Text(), "0001");
  ui.press(ui::VK_TAB);

  ASSERT_TRUE(ui.focus(*f->medCdFilial));
  ui.type("2");
  EXPECT_EQ(f->edtNmFilial->Text(), "") << "changing the code clears the name";
  ui.press(ui::VK_TAB);
  EXPECT_TRUE(ui.errors().empty()) << ui.lastError();
  EXPECT_EQ(f->medCdFilial->Text(), "0002");
  EXPECT_EQ(f->edtNmFilial->Text(), "Campinas");
  EXPECT_EQ(ui.focused(), f->depCardapio);
}

TEST_F(Header, UnknownBranchKeepsTheFocusWithTheBranchMessage) {
  ASSERT_TRUE(Open());
  ASSERT_TRUE(ui.focus(*f->medCdFilial));
  ui.type("77");
  ui.press(ui::VK_TAB);
  ASSERT_EQ(ErrorCount(), 1u);
  EXPECT_EQ(ui.lastError(), host::kFiliNaoCad);
  EXPECT_EQ(f->medCdFilial->Text(), "0077");
  EXPECT_EQ(ui.focused(), f->medCdFilial);
}

TEST_F(Header, ServiceGroupIsThreeWideAndAnUnknownGroupKeepsTheFocus) {
  ASSERT_TRUE(Open());
  ASSERT_TRUE(ui.focus(*f->edtGrupServ));
  ui.type("xyzw");
  EXPECT_EQ(f->edtGrupServ->Text(), "xyz");
  ui.press(ui::VK_TAB);
  ASSERT_EQ(ErrorCount(), 1u);
  EXPECT_EQ(ui.lastError(), "Grupo de serviços não cadastrado.");
  EXPECT_EQ(ui.focused(), f->edtGrupServ);
  EXPECT_EQ(calls.count("GetCardaDia"), 0);

  // A known group is shown with its name, and only its services load.
  ASSERT_TRUE(ui.focus(*f->edtGrupServ));
  ui.type("JAN");
  LeaveHeader();
  EXPECT_EQ(ErrorCount(), 1u) << ui.lastError();
  EXPECT_EQ(f->edtNmGrupServ->Text(), "Jantar");
  for (auto& c : calls.of("GetCardaDia")) EXPECT_EQ(c.args.at(2), rtl::Variant("JAN"));
  ASSERT_EQ(f->cdsCardaDia.RecordCount(), 1);
  EXPECT_EQ(f->cdsCardaDia.FieldByName("CDSERVFILI").AsString(), "00020");
}

TEST_F(Header, GroupLookupListsEveryGroupAndFillsCodeAndName) {
  ASSERT_TRUE(Open());
  ui.lookupPicks(2);
  ASSERT_TRUE(ui.click(*f->btnGrupServ));
  ASSERT_EQ(ui.services().Lookup.Shown.size(), 1u);
  EXPECT_EQ(ui.services().Lookup.Shown[0].Title, "Grupo de Serviços");
  EXPECT_EQ(f->qryGrupServ.RecordCount(), 2);
  EXPECT_EQ(f->edtGrupServ->Text(), "JAN");
  EXPECT_EQ(f->edtNmGrupServ->Text(), "Jantar");
}

TEST_F(Header, DateLookupOffersTheMenuDatesWithTheirWeekdays) {
  ASSERT_TRUE(Open());
  ui.lookupPicks(1);  // newest first: D+1
  ASSERT_TRUE(ui.click(*f->btpDtCardapio));
  ASSERT_EQ(calls.count("GetDtCardapio"), 1);
  auto c = calls.of("GetDtCardapio")[0];
  EXPECT_EQ(c.args.at(0), rtl::Variant("0001"));
  EXPECT_EQ(c.args.at(1).toDateTime(), D);
  EXPECT_FALSE(ui.services().Busy.Visible());
  EXPECT_EQ(ui.services().Busy.History.front().Text, "Carregando cardápios (data)...");
  EXPECT_EQ(f->depCardapio->GetDate(), D + 1);
  EXPECT_EQ(f->edtDiaCardapio->Text(), host::NomeSemana(D + 1));
  f->cdsDtCardapio.First();
  EXPECT_EQ(f->cdsDtCardapio.FieldByName("DTCARDAPIO").AsString(), rtl::FormatDateTime("ddddd", D + 1));
  EXPECT_EQ(f->cdsDtCardapio.FieldByName("DSDIASEMANA").AsString(), host::NomeSemana(D + 1));
}

// ---------------------------------------------------------------------------
TEST_F(MenuDay, DateEqualToTheProcessingDateLoadsAndALaterOneIsRefusedOnlyWhenTheFlagIsN) {
  ASSERT_TRUE(Open());
  LoadDay(D);
  EXPECT_TRUE(ui.errors().empty()) << ui.lastError();
  EXPECT_TRUE(f->cdsCardaDia.Active());

  // Branch 0001 has IDPEREFEPOSDTPR "N": the day after is refused.
  TypeDate(D + 1);
  EXPECT_FALSE(f->cdsCardaDia.Active()) << "entering the header closes the day";
  EXPECT_FALSE(LeaveHeader());
  ASSERT_EQ(ErrorCount(), 1u);
  EXPECT_EQ(ui.lastError(), "Data do cardápio deve ser menor ou igual a data de  processamento.");
  EXPECT_EQ(ui.focused(), f->depCardapio);
  EXPECT_FALSE(f->cdsCardaDia.Active());

  // Branch 0002 has "S": the same later date loads.
  ASSERT_TRUE(ui.focus(*f->medCdFilial));
  ui.type("0002");
  LoadDay(D + 1);
  EXPECT_EQ(ErrorCount(), 1u) << ui.lastError();
  ASSERT_TRUE(f->cdsCardaDia.Active());
  EXPECT_EQ(f->cdsCardaDia.FieldByName("NMSERVICO").AsString(), "Almoço Campinas");
}

TEST_F(MenuDay, LaterDateLoadsWhenTheFlagIsEmpty) {
  Exec("UPDATE PARAMPLANEJA SET IDPEREFEPOSDTPR = NULL WHERE CDFILIAL = '0001'");
  ASSERT_TRUE(Open());
  LoadDay(D + 1);
  EXPECT_TRUE(ui.errors().empty()) << ui.lastError();
  EXPECT_TRUE(f->cdsCardaDia.Active());
  EXPECT_FALSE(f->cdsCardaDia.IsEmpty());
}

TEST_F(MenuDay, EmptyDateIsRefusedWithTheDateMessage) {
  ASSERT_TRUE(Open());
  ASSERT_TRUE(ui.focus(*f->depCardapio));
  ui.press(ui::VK_DELETE);
  ui.type(std::string(1, '\b'));
  ASSERT_EQ(f->depCardapio->GetDate(), 0);
  EXPECT_FALSE(LeaveHeader());
  EXPECT_EQ(ui.lastError(), "Data deve ser informada.");
  EXPECT_EQ(ui.focused(), f->depCardapio);
  EXPECT_EQ(calls.count("GetParamPlaneja"), 0);
}

TEST_F(MenuDay, ClosedDayWindowLastOpenDayIsEditableTheDayBeforeIsReadOnly) {
  ASSERT_TRUE(Open());
  LoadDay(D - 3);
  ASSERT_TRUE(ui.errors().empty()) << ui.lastError();
  ASSERT_FALSE(f->cdsCardaDia.IsEmpty());
  EXPECT_TRUE(f->dbgPadrao->HasOption(ui::dgEditing));
  EXPECT_TRUE(f->dbgPrato->HasOption(ui::dgEditing));
  EXPECT_TRUE(f->sbtAlterar->Enabled());
  EXPECT_TRUE(f->sbtProcurar->Enabled());

  LoadDay(D - 4);
  ASSERT_TRUE(ui.errors().empty()) << ui.lastError();
  ASSERT_FALSE(f->cdsCardaDia.IsEmpty());
  EXPECT_FALSE(f->dbgPadrao->HasOption(ui::dgEditing));
  EXPECT_FALSE(f->dbgPrato->HasOption(ui::dgEditing));
  for (ui::TButtonFlat* b : {f->sbtAlterar, f->sbtProcurar, f->sbtVerificar, f->sbtImprimir, f->sbtConsolidar}) {
    EXPECT_FALSE(b->Enabled()) << b->Name();
    EXPECT_FALSE(b->MenuItem()->Enabled()) << b->Name();
  }
  // Typing into the grid changes nothing.
  ASSERT_EQ(ui.focused(), f->dbgPadrao);
  f->dbgPadrao->SetSelectedIndex(2);
  ui.type("5");
  EXPECT_EQ(f->cdsCardaDia.State(), data::TDataSetState::Browse);
  EXPECT_EQ(f->cdsCardaDia.FieldByName("QTCLIEFETCAR").AsFloat(), 10);
}

TEST_F(MenuDay, WithoutTheClosedDayFlagTheNumberOfDaysIsIgnored) {
  Exec("UPDATE PARAMPLANEJA SET IDBLQEFEDIAFECH = 'N' WHERE CDFILIAL = '0001'");
  ASSERT_TRUE(Open());
  LoadDay(D - 4);
  ASSERT_TRUE(ui.errors().empty()) << ui.lastError();
  EXPECT_TRUE(f->dbgPadrao->HasOption(ui::dgEditing));
  EXPECT_TRUE(f->sbtAlterar->Enabled());
}

TEST_F(MenuDay, LeavingTheHeaderCallsGetCardaDiaTwiceWithAnEmptyGroupAndKeepsTheSecondResult) {
  ASSERT_TRUE(Open());
  // Between the two calls someone else changes the day on the server.
  calls.before["GetCardaDia"] = [this](int nth) {
    if (nth == 2) Exec("UPDATE CARDAPIO SET QTCLIEFETCAR = 42 WHERE NRCARDAPIO = :P_NR", {{"P_NR", rtl::Variant(cardD)}});
  };
  calls.clear();
  LoadDay(D);
  ASSERT_TRUE(ui.errors().empty()) << ui.lastError();
  auto cardaDia = calls.of("GetCardaDia");
  ASSERT_EQ(cardaDia.size(), 2u);
  for (auto& c : cardaDia) {
    ASSERT_EQ(c.args.size(), 3u);
    EXPECT_EQ(c.args[0], rtl::Variant("0001"));
    EXPECT_EQ(c.args[1].toDateTime(), D);
    EXPECT_EQ(c.args[2], rtl::Variant("")) << "an empty group goes as an empty text";
  }
  // The planning parameters come first, then the two loads.
  std::vector<std::string> order;
  for (auto& c : calls.calls) order.push_back(c.method);
  EXPECT_EQ(order, (std::vector<std::string>{"GetParamPlaneja", "GetCardaDia", "GetCardaDia"}));
  ASSERT_TRUE(f->cdsCardaDia.Locate("CDSERVFILI", rtl::Variant("00010")));
  EXPECT_EQ(f->cdsCardaDia.FieldByName("QTCLIEFETCAR").AsFloat(), 42);
  EXPECT_FALSE(ui.services().Busy.Visible());
}

TEST_F(MenuDay, DayWithoutServicesDisablesBothPagesWithTheEfetivosEntryChecked) {
  ASSERT_TRUE(Open());
  LoadDay(D - 10);
  ASSERT_TRUE(ui.errors().empty()) << ui.lastError();
  ASSERT_TRUE(f->cdsCardaDia.Active());
  EXPECT_TRUE(f->cdsCardaDia.IsEmpty());
  EXPECT_EQ(f->pgcPadrao->ActivePage(), f->tshPadrao);
  EXPECT_FALSE(f->tshPadrao->Enabled());
  EXPECT_FALSE(f->tshClientes->Enabled());
  EXPECT_TRUE(f->mnuEfetivos->Checked());
  EXPECT_FALSE(f->mnuEfetivos->Enabled());
  EXPECT_FALSE(f->mnuClientes->Checked());
  EXPECT_FALSE(f->mnuClientes->Enabled());

  // Back in the header the planning page is usable again.
  ASSERT_TRUE(ui.focus(*f->depCardapio));
  EXPECT_TRUE(f->tshPadrao->Enabled());
  EXPECT_TRUE(f->mnuEfetivos->Enabled());
  EXPECT_FALSE(f->tshClientes->Enabled());
}

TEST_F(MenuDay, FailedGetCardaDiaHidesTheBusyIndicatorAndKeepsTheDataSets) {
  ASSERT_TRUE(Open());

  // The load that Atualiza makes fails: the day stays closed, the focus on the date.
  calls.failNext("GetCardaDia");
  EXPECT_FALSE(LeaveHeader());
  ASSERT_EQ(ErrorCount(), 1u);
  EXPECT_EQ(ui.lastError(), kFalhaSimulada);
  EXPECT_FALSE(ui.services().Busy.Visible());
  EXPECT_FALSE(f->cdsCardaDia.Active());
  EXPECT_FALSE(f->cdsCardaDia.ControlsDisabled());
  EXPECT_EQ(ui.focused(), f->depCardapio);

  // The direct load fails: what the first load of the exit brought stays and
  // the dish data stays closed. (The recorder checks for a failure before it
  // runs the hook, so the hook of the first call makes the second one fail.)
  int before = calls.count("GetCardaDia");
  calls.before["GetCardaDia"] = [this, before](int nth) {
    if (nth == before + 1) calls.failNext("GetCardaDia");
  };
  EXPECT_FALSE(LeaveHeader());
  ASSERT_EQ(ErrorCount(), 2u);
  EXPECT_EQ(ui.lastError(), kFalhaSimulada);
  EXPECT_EQ(calls.count("GetCardaDia"), before + 2);
  EXPECT_FALSE(ui.services().Busy.Visible());
  EXPECT_TRUE(f->cdsCardaDia.Active()) << "the first load of this exit is kept";
  EXPECT_FALSE(f->cdsCompCardAux.Active());
  EXPECT_FALSE(f->cdsPratoCard.Active());
  EXPECT_NE(ui.focused(), f->dbgPadrao);

  // Once the server answers again the day loads.
  calls.before.clear();
  EXPECT_TRUE(LeaveHeader());
  EXPECT_EQ(ErrorCount(), 2u) << ui.lastError();
  EXPECT_TRUE(f->cdsCompCardAux.Active());
  EXPECT_EQ(ui.focused(), f->dbgPadrao);
}

}  // namespace
