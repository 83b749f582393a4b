// Confirm from the keyboard and the close guard of the daily headcount
// screen, against the real server.

#include "screen_fixture.h"

using namespace pla01000test;

namespace {

class Confirm : public ScreenTest {
protected:
  void Build(server::DemoBuilder& b) override {
    ScreenTest::Build(b);
    b.GeneralParams("S", "N");  // a client-sum mismatch blocks
    b.Client("C1", "Cliente Um Ltda", "Um");
    b.Billed("0001", "00010", "00110", "Almoço faturado");
    b.BilledClient("0001", "00110", "C1");
    b.ClientCount("0001", "00110", "C1", D, 10);  // agrees with the 10 planned
  }
};

TEST_F(Confirm, CtrlEnterConfirmsOnlyARowInEdit) {
  Open();
  LoadDay(D);
  ASSERT_TRUE(ui.clickCell(*f->dbgPadrao, 1, 2));
  ui.press(ui::VK_RETURN, ui::ssCtrl);
  EXPECT_EQ(calls.count("PostCard"), 0);
  EXPECT_EQ(f->cdsCardaDia.State(), data::TDataSetState::Browse);

  ui.type("11");
  ASSERT_EQ(f->cdsCardaDia.State(), data::TDataSetState::Edit);
  ui.press(ui::VK_RETURN, ui::ssCtrl);
  ASSERT_EQ(ErrorCount(), 0u) << ui.lastError();
  EXPECT_EQ(f->cdsCardaDia.State(), data::TDataSetState::Browse);
  EXPECT_EQ(calls.count("PostCard"), 1);
  EXPECT_EQ(f->cdsCardaDia.FieldByName("QTCOMEFETCAR").AsFloat(), 14);
}

TEST_F(Confirm, CloseIsRefusedWhileTheClientSumFailsAndTheWindowComesBack) {
  Open();
  LoadDay(D);
  ASSERT_EQ(ErrorCount(), 0u) << ui.lastError();
  Exec("UPDATE EFETCLIE SET QTCOMEFETCLI = 9");
  ui.act([&] { f->SetWindowState(ui::TWindowState::Minimized); });
  ui.close(*f);
  ASSERT_EQ(ErrorCount(), 1u);
  EXPECT_EQ(ui.lastError(),
            "Somatória dos comensais dos clientes deve ser igual a quantidade de clientes do serviço Almoço.");
  ASSERT_EQ(pla01000::frmMediEfetivos, f) << "the screen closed";
  EXPECT_TRUE(pla01000::bCriado);
  EXPECT_EQ(f->WindowState(), ui::TWindowState::Normal);

  // Agreeing again, the close goes through.
  Exec("UPDATE EFETCLIE SET QTCOMEFETCLI = 10");
  ui.close(*f);
  EXPECT_EQ(ErrorCount(), 1u) << ui.lastError();
  EXPECT_FALSE(pla01000::bCriado);
}

TEST_F(Confirm, CancelOfAnEditBringsTheSavedRowBack) {
  Open();
  LoadDay(D);
  ASSERT_TRUE(ui.clickCell(*f->dbgPadrao, 1, 2));
  ui.type("4");
  ui.press(ui::VK_RIGHT);
  EXPECT_TRUE(f->sbtCancelar->Enabled());
  ui.answer(ui::mrYes);  // "Canc"
  ASSERT_TRUE(ui.click(*f->sbtCancelar));
  EXPECT_EQ(ErrorCount(), 0u) << ui.lastError();
  EXPECT_EQ(f->cdsCardaDia.State(), data::TDataSetState::Browse);
  EXPECT_EQ(f->cdsCardaDia.FieldByName("QTCLIEFETCAR").AsFloat(), 10);
  EXPECT_EQ(f->cdsCardaDia.FieldByName("QTCOMEFETCAR").AsFloat(), 13);
  EXPECT_EQ(calls.count("PostCard"), 0);
  EXPECT_TRUE(f->tshPadrao->Enabled());
  EXPECT_TRUE(f->depCardapio->Enabled());
}

}  // namespace
