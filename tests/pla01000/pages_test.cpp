// Switching between the planning and billing pages and the check of the
// planned client headcount against the clients' sum, against the real server.

#include "billing_fixture.h"

using namespace pla01000test;

namespace {

class Pages : public BillingTest {
protected:
  // Planned clients of service 00010 on D, and the general "blocking" flag.
  void Planned(double clients) {
    Exec("UPDATE CARDAPIO SET QTCLIEFETCAR = :P_Q WHERE CDFILIAL = '0001' AND NRCARDAPIO = :P_N",
         {{"P_Q", rtl::Variant(clients)}, {"P_N", rtl::Variant(cardD)}});
  }
  void Blocking(bool on) {
    Exec("UPDATE PARAMGERAL SET IDCONSMINEFE = :P_A WHERE NRPARAM = 1", {{"P_A", rtl::Variant(std::string(on ? "S" : "N"))}});
  }
  // C1 billed 108 with 2 cash sales, C2 billed 8: 118 in all.
  void Billed118() {
    Exec("UPDATE EFETCLIE SET QTCOMEFETCLI = 108 WHERE CDCLIENTE = 'C1'");
    Exec("UPDATE EFETCLIE SET QTCOMEFETCLI = 8 WHERE CDCLIENTE = 'C2'");
  }
  const std::string kSoma118 =
      "Somatória dos comensais dos clientes Almoço (120) deve ser igual a quantidade de clientes do serviço (118).";
  const std::string kSomaD118 =
      "Somatória dos comensais dos clientes Almoço (120) difere da quantidade de clientes do serviço (118).";
};

// ---------------------------------------------------------------------------
TEST_F(Pages, BillingPageLoadsTheServiceAndAlwaysOpensOnClientsWithTheFocusInTheClientGrid) {
  OpenBilling();
  EXPECT_TRUE(ui.errors().empty()) << ui.lastError();
  EXPECT_EQ(calls.count("GetServiFat"), 1);
  EXPECT_EQ(calls.count("GetEfetCatraca"), 1);
  EXPECT_EQ(f->cdsServFatu.RecordCount(), 2);
  EXPECT_EQ(f->cdsServCli.RecordCount(), 2) << "the clients of the first billed service";
  EXPECT_EQ(f->cdsServCli.RecNo(), 1);
  EXPECT_EQ(f->PageControl1->ActivePage(), f->TabSheet1);
  EXPECT_EQ(ui.focused(), f->dbgEfeCliCa);
  EXPECT_TRUE(f->mnuClientes->Checked());
  EXPECT_FALSE(f->mnuEfetivos->Checked());
  EXPECT_TRUE(f->lblInscCli->Visible());
  EXPECT_TRUE(f->dbtInscCli->Visible());

  // Shown again after the shift sub-page: back on "Clientes".
  ASSERT_TRUE(ui.pick(*f->PageControl1, *f->tshTurnoCliente));
  EXPECT_EQ(f->cdsTurnoCliente.RecordCount(), 2);
  ASSERT_TRUE(ui.pick(*f->pgcPadrao, *f->tshPadrao)) << ui.lastError();
  EXPECT_FALSE(f->lblInscCli->Visible());
  EXPECT_TRUE(f->cdsTurnoCliente.IsEmpty()) << "leaving the billing page empties the shift rows";
  ASSERT_TRUE(ui.pick(*f->pgcPadrao, *f->tshClientes));
  EXPECT_EQ(f->PageControl1->ActivePage(), f->TabSheet1);
  EXPECT_EQ(ui.focused(), f->dbgEfeCliCa);
  EXPECT_TRUE(ui.errors().empty()) << ui.lastError();

  // The menu entries switch too.
  ASSERT_TRUE(ui.click(*f->mnuEfetivos));
  EXPECT_EQ(f->pgcPadrao->ActivePage(), f->tshPadrao);
  ASSERT_TRUE(ui.click(*f->mnuClientes));
  EXPECT_EQ(f->pgcPadrao->ActivePage(), f->tshClientes);
  EXPECT_EQ(f->PageControl1->ActivePage(), f->TabSheet1);
  EXPECT_EQ(calls.count("GetServiFat"), 3);
}

TEST_F(Pages, DifferenceBlocksWithSomaAndKeepsTheBillingPage) {
  Planned(120);
  Billed118();
  Blocking(true);
  OpenBilling();
  EXPECT_FALSE(ui.pick(*f->pgcPadrao, *f->tshPadrao));
  EXPECT_EQ(f->pgcPadrao->ActivePage(), f->tshClientes);
  ASSERT_EQ(ErrorCount(), 1u);
  EXPECT_EQ(ui.lastError(), kSoma118);
  EXPECT_EQ(ui.focused(), f->dbgServiFatu);

  // The menu entry is held back the same way.
  ui.click(*f->mnuEfetivos);
  EXPECT_EQ(f->pgcPadrao->ActivePage(), f->tshClientes);
  EXPECT_EQ(ErrorCount(), 2u);
  EXPECT_EQ(ui.lastError(), kSoma118);
}

TEST_F(Pages, DifferenceOnlyInformsWithSomaDWhenNotBlockingOrWhenBillingIsSettled) {
  Planned(120);
  Billed118();
  OpenBilling();
  ASSERT_TRUE(ui.pick(*f->pgcPadrao, *f->tshPadrao));
  EXPECT_TRUE(ui.errors().empty()) << ui.lastError();
  ASSERT_FALSE(ui.dialogs().empty());
  EXPECT_EQ(ui.lastDialog(), kSomaD118);
  EXPECT_EQ(ui.dialogs().back().Type, ui::TMsgDlgType::Information);

  // Blocking flag on, but C2's billing is settled for the day: notice only.
  Blocking(true);
  Exec("INSERT INTO APURACAO (CDFILIAL, NRAPURACFAT, CDCLIENTE, DTINIAPURAC, DTFIMAPURAC) VALUES "
       "('0001', 'AP1', 'C2', :P_I, :P_F)",
       {{"P_I", rtl::Variant::FromDate(D - 5)}, {"P_F", rtl::Variant::FromDate(D + 5)}});
  size_t shown = ui.dialogs().size();
  ASSERT_TRUE(ui.pick(*f->pgcPadrao, *f->tshClientes));
  ASSERT_TRUE(ui.pick(*f->pgcPadrao, *f->tshPadrao)) << ui.lastError();
  EXPECT_EQ(ui.dialogs().size(), shown + 1);
  EXPECT_EQ(ui.lastDialog(), kSomaD118);
}

TEST_F(Pages, NoClientRowReadsZeroAndEqualAfterRoundingOrNothingPlannedSaysNothing) {
  Exec("DELETE FROM EFETCLIE");
  Blocking(true);
  OpenBilling();
  EXPECT_FALSE(ui.pick(*f->pgcPadrao, *f->tshPadrao));
  EXPECT_EQ(ui.lastError(),
            "Somatória dos comensais dos clientes Almoço (10) deve ser igual a quantidade de clientes do serviço (0).");

  // 10.000001 planned against 10 billed: equal to 5 decimals.
  Exec("INSERT INTO EFETCLIE (CDFILIAL, CDSERVICFATURAM, CDCLIENTE, DTEFETCLIE, CDSERVPLAN, QTCOMEFETCLI) VALUES "
       "('0001', 'F0010', 'C1', :P_D, '00010', 10)",
       {{"P_D", rtl::Variant::FromDate(D)}});
  Planned(10.000001);
  size_t errors = ErrorCount(), shown = ui.dialogs().size();
  ASSERT_TRUE(ui.pick(*f->pgcPadrao, *f->tshPadrao)) << ui.lastError();
  EXPECT_EQ(ErrorCount(), errors);
  EXPECT_EQ(ui.dialogs().size(), shown);

  // Nothing planned: no comparison.
  Planned(0);
  ASSERT_TRUE(ui.pick(*f->pgcPadrao, *f->tshClientes));
  ASSERT_TRUE(ui.pick(*f->pgcPadrao, *f->tshPadrao)) << ui.lastError();
  EXPECT_EQ(ErrorCount(), errors);
  EXPECT_EQ(ui.dialogs().size(), shown);
}

TEST_F(Pages, ClosedDaySkipsTheCheckAndLocksTheGridsButNotTheTurnstiles) {
  Blocking(true);  // a day without client rows would block if it were checked
  OpenBilling(D - 4);
  EXPECT_TRUE(ui.errors().empty()) << ui.lastError();
  for (ui::TDBGrid* g : {f->dbgServiFatu, f->dbgEfeCliCa, f->dbgTurnoClie})
    EXPECT_FALSE(g->HasOption(ui::dgEditing)) << g->Name();
  EXPECT_TRUE(f->dbgMedCatraca->HasOption(ui::dgEditing));
  EXPECT_FALSE(f->sbtAlterar->Enabled());

  TypeCell(*f->dbgEfeCliCa, 1, "QTCOMEFETCLI", "3");
  EXPECT_EQ(f->cdsServCli.State(), data::TDataSetState::Browse);
  TypeCell(*f->dbgMedCatraca, 1, "QTEFETCATINI", "7");
  EXPECT_EQ(f->cdsEfetCat.State(), data::TDataSetState::Edit);
  ui.press(ui::VK_ESCAPE);
  ui.press(ui::VK_ESCAPE);

  ASSERT_TRUE(ui.pick(*f->pgcPadrao, *f->tshPadrao)) << ui.lastError();
  EXPECT_EQ(calls.count("GetComensais"), 0);
  EXPECT_TRUE(ui.errors().empty()) << ui.lastError();

  // An open day gets its editing back.
  LoadDay(D);
  ASSERT_TRUE(ui.pick(*f->pgcPadrao, *f->tshClientes));
  for (ui::TDBGrid* g : {f->dbgServiFatu, f->dbgEfeCliCa, f->dbgTurnoClie})
    EXPECT_TRUE(g->HasOption(ui::dgEditing)) << g->Name();
}

}  // namespace
