// Shifts per client: the row checks, the sum check when the shift rows are
// left, the keys, and what happens to shift rows that were never sent.

#include "billing_fixture.h"

using namespace pla01000test;

namespace {

// C1 billed 10 (with 2 cash sales), C2 billed 8 with 2 cash sales.
class Shifts : public BillingTest {
protected:
  void SetUp() override {
    BillingTest::SetUp();
    Exec("UPDATE EFETCLIE SET QTCOMEFETCLI = 10 WHERE CDCLIENTE = 'C1'");
    Exec("UPDATE EFETCLIE SET QTCOMEFETCLI = 8, QTVENDAEFETCLI = 2 WHERE CDCLIENTE = 'C2'");
  }
  // The billing page with the shifts of the client on row `client` shown.
  void OpenShifts(int client = 1) {
    OpenBilling();
    f->cdsServCli.SetRecNo(client);
    ASSERT_TRUE(ui.pick(*f->PageControl1, *f->tshTurnoCliente)) << ui.lastError();
    ASSERT_EQ(f->cdsTurnoCliente.RecordCount(), 2);
  }
  void TypeShifts(const std::string& first, const std::string& second) {
    TypeCell(*f->dbgTurnoClie, 1, "QTCOMTURNCLI", first);
    ui.press(ui::VK_DOWN);
    ui.type(second);
  }
  double Stored(const char* shift) {
    auto c = db::Open(cs_);
    auto q = c->query("SELECT QTCOMTURNCLI FROM TURNOCLIENTE WHERE CDCLIENTE = 'C1' AND CDTURNO = :P_T",
                      {{"P_T", rtl::Variant(std::string(shift))}});
    return q.empty() ? -1 : q.rows[0][0].toDouble();
  }
  // While a shift row is in edit the planning page is held back; posted, and
  // with the focus through the turnstile grid, the page can be left.
  void PostAndStepAside() {
    ui.press(ui::VK_UP);
    ASSERT_EQ(f->cdsTurnoCliente.State(), data::TDataSetState::Browse);
    ASSERT_TRUE(ui.focus(*f->dbgMedCatraca)) << ui.lastError();
    ASSERT_TRUE(f->tshPadrao->Enabled());
  }
  int Asked() const {
    int n = 0;
    for (auto& d : ui.dialogs()) n += d.Text == "Deseja gravar as alterações antes de sair?";
    return n;
  }
  const std::string kIgual = "Soma total dos comensais dos turnos deve ser igual ao faturado pelo cliente";
};

TEST_F(Shifts, SumEqualToTheClientIsAcceptedAndYesSavesOnLeavingTheSubPage) {
  OpenShifts();
  TypeShifts("4", "6");
  ui.answer(ui::mrYes);
  ASSERT_TRUE(ui.pick(*f->PageControl1, *f->TabSheet1)) << ui.lastError();
  EXPECT_TRUE(ui.errors().empty()) << ui.lastError();
  EXPECT_EQ(ui.lastDialog(), "Deseja gravar as alterações antes de sair?");
  EXPECT_EQ(calls.count("SetTurnoCliente"), 1);
  EXPECT_TRUE(f->cdsTurnoCliente.IsEmpty());
  EXPECT_EQ(Stored("1"), 4);
  EXPECT_EQ(Stored("2"), 6);
}

TEST_F(Shifts, SumDifferentFromTheClientKeepsTheSubPage) {
  OpenShifts();
  TypeShifts("4", "5");
  EXPECT_FALSE(ui.pick(*f->PageControl1, *f->TabSheet1));
  ASSERT_EQ(ErrorCount(), 1u);
  EXPECT_EQ(ui.lastError(), kIgual);
  EXPECT_EQ(f->PageControl1->ActivePage(), f->tshTurnoCliente);
  EXPECT_EQ(ui.focused(), f->dbgTurnoClie);
  EXPECT_EQ(f->cdsTurnoCliente.RecordCount(), 2) << "the rows stay";
  EXPECT_EQ(calls.count("SetTurnoCliente"), 0);
}

TEST_F(Shifts, AShiftAboveTheClientIsRefusedAndCashSalesDoNotCount) {
  OpenShifts();
  TypeCell(*f->dbgTurnoClie, 1, "QTCOMTURNCLI", "11");
  ui.press(ui::VK_DOWN);
  ASSERT_EQ(ErrorCount(), 1u);
  EXPECT_EQ(ui.lastError(),
            "Quantidade de comensais do turno não pode ser maior que a quantidade de comensais do  cliente");
  EXPECT_EQ(f->cdsTurnoCliente.State(), data::TDataSetState::Edit);
  ui.press(ui::VK_ESCAPE);
  ui.press(ui::VK_ESCAPE);

  // C2: billed 8 with 2 cash sales; 5 + 5 is refused.
  ASSERT_TRUE(ui.pick(*f->PageControl1, *f->TabSheet1)) << ui.lastError();
  f->cdsServCli.SetRecNo(2);
  ASSERT_TRUE(ui.pick(*f->PageControl1, *f->tshTurnoCliente));
  TypeShifts("5", "5");
  ui.press(ui::VK_UP);
  EXPECT_EQ(ErrorCount(), 1u) << ui.lastError();
  EXPECT_FALSE(ui.pick(*f->PageControl1, *f->TabSheet1));
  EXPECT_EQ(ui.lastError(), kIgual);
}

TEST_F(Shifts, MinusAndLetterEAreIgnoredAndAnEmptiedQuantityIsStoredAsZero) {
  OpenShifts();
  TypeCell(*f->dbgTurnoClie, 1, "QTCOMTURNCLI", "-e3");
  EXPECT_EQ(f->dbgTurnoClie->EditorText(), "3");
  ui.press(ui::VK_BACK);
  ui.press(ui::VK_DOWN);
  EXPECT_TRUE(ui.errors().empty()) << ui.lastError();
  ASSERT_TRUE(f->cdsTurnoCliente.Locate("CDTURNO", std::string("1")));
  EXPECT_FALSE(f->cdsTurnoCliente.FieldByName("QTCOMTURNCLI").IsNull());
  EXPECT_EQ(f->cdsTurnoCliente.FieldByName("QTCOMTURNCLI").AsFloat(), 0);
}

TEST_F(Shifts, AFailedShiftLoadIsReportedOnceAndTheGridKeepsItsRows) {
  OpenShifts();
  ASSERT_TRUE(ui.pick(*f->PageControl1, *f->TabSheet1));
  ASSERT_TRUE(f->cdsTurnoCliente.IsEmpty());
  calls.failNext("GetTurnoCliente");
  EXPECT_TRUE(ui.pick(*f->PageControl1, *f->tshTurnoCliente));
  ASSERT_EQ(ErrorCount(), 1u);
  EXPECT_EQ(ui.lastError(), kFalhaSimulada);
  EXPECT_EQ(f->PageControl1->ActivePage(), f->tshTurnoCliente);
  EXPECT_TRUE(f->cdsTurnoCliente.IsEmpty());
}

// Leaving the billing page used to drop typed shift rows without a word.
TEST_F(Shifts, LeavingTheBillingPageAsksBeforeDroppingUnsentShifts) {
  OpenShifts();
  TypeShifts("4", "6");
  PostAndStepAside();
  ui.answer(ui::mrNo);
  ASSERT_TRUE(ui.pick(*f->pgcPadrao, *f->tshPadrao)) << ui.lastError();
  EXPECT_EQ(Asked(), 1);
  EXPECT_EQ(calls.count("SetTurnoCliente"), 0);
  EXPECT_TRUE(f->cdsTurnoCliente.IsEmpty());
  EXPECT_EQ(Stored("1"), -1);

  ASSERT_TRUE(ui.pick(*f->pgcPadrao, *f->tshClientes));
  ASSERT_TRUE(ui.pick(*f->PageControl1, *f->tshTurnoCliente));
  TypeShifts("4", "6");
  PostAndStepAside();
  ui.answer(ui::mrYes);
  ASSERT_TRUE(ui.pick(*f->pgcPadrao, *f->tshPadrao)) << ui.lastError();
  EXPECT_EQ(Asked(), 2);
  EXPECT_EQ(calls.count("SetTurnoCliente"), 1);
  EXPECT_EQ(Stored("1"), 4);
}

}  // namespace
