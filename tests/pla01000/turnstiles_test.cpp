// The turnstile counters: whole-number keys, the measurement that follows the
// counters, the row checks and the send of each posted row.

#include "billing_fixture.h"

using namespace pla01000test;

namespace {

using Turnstiles = BillingTest;

TEST_F(Turnstiles, MeasurementFollowsTheCountersAndThePostedRowIsSentAtOnce) {
  OpenBilling();
  TypeCell(*f->dbgMedCatraca, 1, "QTEFETCATINI", "1200");
  ui.press(ui::VK_TAB);
  ui.type("1350");
  ui.press(ui::VK_TAB);  // leaves "Fim"
  EXPECT_EQ(f->cdsEfetCat.FieldByName("QTEFETCATTOT").AsFloat(), 150);
  EXPECT_EQ(calls.count("SetEfetCat"), 0);

  ASSERT_TRUE(ui.focus(*f->dbgEfeCliCa));  // leaving the grid posts and sends
  EXPECT_TRUE(ui.errors().empty()) << ui.lastError();
  EXPECT_EQ(calls.count("SetEfetCat"), 1);
  EXPECT_EQ(f->cdsEfetCat.ChangeCount(), 0);
  EXPECT_EQ(f->cdsEfetCat.FieldByName("CDFILIAL").AsString(), "0001");
  EXPECT_EQ(f->cdsEfetCat.FieldByName("CDSERVFILI").AsString(), "00010");

  // What the server stored comes back on the next load.
  ASSERT_TRUE(ui.pick(*f->pgcPadrao, *f->tshPadrao));
  ASSERT_TRUE(ui.pick(*f->pgcPadrao, *f->tshClientes));
  EXPECT_EQ(f->cdsEfetCat.FieldByName("QTEFETCATINI").AsFloat(), 1200);
  EXPECT_EQ(f->cdsEfetCat.FieldByName("QTEFETCATTOT").AsFloat(), 150);
}

TEST_F(Turnstiles, InvertedOrMissingCountersAreRefusedWithTheFocusOnTheNamedField) {
  OpenBilling();
  TypeCell(*f->dbgMedCatraca, 1, "QTEFETCATINI", "1350");
  ui.press(ui::VK_TAB);
  ui.type("1200");
  ui.press(ui::VK_TAB);
  EXPECT_TRUE(f->cdsEfetCat.FieldByName("QTEFETCATTOT").IsNull()) << "an inverted pair gives no measurement";
  ui.focus(*f->dbgEfeCliCa);
  ASSERT_EQ(ErrorCount(), 1u);
  EXPECT_EQ(ui.lastError(), "Contador inicial da catraca deve ser menor ou igual ao contador final.");
  EXPECT_EQ(f->cdsEfetCat.State(), data::TDataSetState::Edit);
  ASSERT_NE(f->dbgMedCatraca->SelectedField(), nullptr);
  EXPECT_EQ(f->dbgMedCatraca->SelectedField()->FieldName(), "QTEFETCATINI");
  EXPECT_EQ(calls.count("SetEfetCat"), 0);

  // Start present, end emptied.
  TypeCell(*f->dbgMedCatraca, 1, "QTEFETCATFIM", "");
  ui.press(ui::VK_BACK);
  ui.press(ui::VK_BACK);
  ui.press(ui::VK_BACK);
  ui.press(ui::VK_BACK);
  ui.focus(*f->dbgEfeCliCa);
  EXPECT_EQ(ui.lastError(), "Contador final da catraca deve ser informado.");

  // Escape reverts the row; nothing was sent.
  ASSERT_TRUE(ui.focus(*f->dbgMedCatraca));
  ui.press(ui::VK_ESCAPE);
  ui.press(ui::VK_ESCAPE);
  EXPECT_EQ(f->cdsEfetCat.State(), data::TDataSetState::Browse);
  EXPECT_EQ(f->cdsEfetCat.ChangeCount(), 0);
}

TEST_F(Turnstiles, CountersTakeDigitsOnlyAndNameAndMeasurementNothing) {
  OpenBilling();
  TypeCell(*f->dbgMedCatraca, 1, "QTEFETCATINI", "1a-2,3.4");
  EXPECT_EQ(f->dbgMedCatraca->EditorText(), "1234");
  ui.press(ui::VK_ESCAPE);
  ui.press(ui::VK_ESCAPE);
  for (const char* col : {"DSCATRACA", "QTEFETCATTOT"}) {
    TypeCell(*f->dbgMedCatraca, 1, col, "9");
    EXPECT_EQ(f->cdsEfetCat.State(), data::TDataSetState::Browse) << col;
  }
  // Ctrl+Delete removes nothing.
  ASSERT_TRUE(ui.focus(*f->dbgMedCatraca));
  ui.press(ui::VK_DELETE, ui::ssCtrl);
  EXPECT_EQ(f->cdsEfetCat.RecordCount(), 1);
  EXPECT_TRUE(ui.dialogs().empty());
}

}  // namespace
