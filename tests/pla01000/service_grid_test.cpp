// The service grid of the menu day: totals, sign checks, rows that cannot be
// added or removed, the keys of the grid, the sending of a posted row and the
// client-sum check, against the real server.

#include "platform/host/checks.h"
#include "screen_fixture.h"

using namespace pla01000test;

namespace {

enum Col { kServico = 0, kNome, kClientes, kFuncionarios, kDoacoes, kTotal };

class ServiceGrid : public ScreenTest {
protected:
  // The day loaded, the grid on row recNo, column col, as a click leaves it.
  void OnCell(int recNo, int col) {
    Open();
    LoadDay(D);
    ASSERT_EQ(ErrorCount(), 0u) << ui.lastError();
    ASSERT_TRUE(ui.clickCell(*f->dbgPadrao, recNo, col));
  }
  data::TField& F(const char* name) { return f->cdsCardaDia.FieldByName(name); }
  db::Result Stored(const std::string& service) {
    auto c = db::Open(cs_);
    return c->query(
        "SELECT QTCLIEFETCAR, QTFUNEFETCAR, QTDOAEFETCAR, QTCOMEFETCAR, QTCOMEFETRI, QTCOMEFETSL FROM CARDAPIO"
        " WHERE CDFILIAL = '0001' AND CDSERVFILI = :P_S AND DTCARDAPIO = :P_D",
        {{"P_S", service}, {"P_D", rtl::Variant::FromDate(D)}});
  }
};

TEST_F(ServiceGrid, LeavingTheCountsKeepsTheirTotalWithAnEmptyCountAsZero) {
  OnCell(1, kClientes);  // 10 clients, 2 employees, 1 donation
  ui.type("10");
  ui.press(ui::VK_RIGHT);
  ui.type("5");
  ui.press(ui::VK_RIGHT);
  ui.press(ui::VK_BACK);  // donations emptied
  ui.press(ui::VK_RIGHT);
  EXPECT_EQ(ErrorCount(), 0u) << ui.lastError();
  EXPECT_TRUE(F("QTDOAEFETCAR").IsNull());
  EXPECT_EQ(F("QTCOMEFETCAR").AsFloat(), 15);
  EXPECT_EQ(f->cdsCardaDia.State(), data::TDataSetState::Edit);
  EXPECT_EQ(calls.count("PostCard"), 0) << "nothing is sent before the post";
}

TEST_F(ServiceGrid, AllCountsEmptiedLeaveNoTotalAndStoreZeroCopies) {
  OnCell(1, kClientes);
  for (int i = 0; i < 3; ++i) {
    ui.press(ui::VK_BACK);
    ui.press(ui::VK_RIGHT);
  }
  EXPECT_TRUE(F("QTCOMEFETCAR").IsNull());
  ui.press(ui::VK_RETURN);  // on the last column: posts
  ASSERT_EQ(ErrorCount(), 0u) << ui.lastError();
  EXPECT_EQ(calls.count("PostCard"), 1);
  EXPECT_EQ(f->cdsCardaDia.State(), data::TDataSetState::Browse);
  EXPECT_EQ(f->cdsCardaDia.ChangeCount(), 0);
  EXPECT_TRUE(F("QTCOMEFETCAR").IsNull());
  EXPECT_FALSE(F("QTCOMEFETRI").IsNull());
  EXPECT_EQ(F("QTCOMEFETRI").AsFloat(), 0);
  EXPECT_EQ(F("QTCOMEFETSL").AsFloat(), 0);
  EXPECT_EQ(F("DTPROCES").AsDateTime(), D);

  auto r = Stored("00010");
  ASSERT_EQ(r.size(), 1u);
  EXPECT_TRUE(r.at(0, "QTCLIEFETCAR").isNullOrEmpty());
  EXPECT_TRUE(r.at(0, "QTCOMEFETCAR").isNullOrEmpty());
  EXPECT_EQ(r.at(0, "QTCOMEFETRI").toDouble(), 0);
  EXPECT_EQ(r.at(0, "QTCOMEFETSL").toDouble(), 0);
}

TEST_F(ServiceGrid, NegativeCountIsRefusedOnLeavingAndOnPosting) {
  OnCell(1, kClientes);
  ui.type("-1");
  ui.press(ui::VK_RIGHT);
  ASSERT_EQ(ErrorCount(), 1u);
  EXPECT_EQ(ui.lastError(), "Quantidade de clientes deve ser maior ou igual a zero.");
  EXPECT_EQ(ui.focused(), f->dbgPadrao);
  EXPECT_EQ(f->dbgPadrao->SelectedIndex(), kClientes);
  EXPECT_EQ(f->cdsCardaDia.State(), data::TDataSetState::Edit);

  // A row move posts: refused the same way, nothing sent.
  ui.press(ui::VK_DOWN);
  EXPECT_EQ(ErrorCount(), 2u);
  EXPECT_EQ(f->cdsCardaDia.State(), data::TDataSetState::Edit);
  EXPECT_EQ(calls.count("PostCard"), 0);
}

TEST_F(ServiceGrid, RowsCanBeNeitherAddedNorDeletedAndNothingIsShown) {
  OnCell(2, kClientes);  // the last row
  ui.press(ui::VK_DOWN);
  ui.press(ui::VK_INSERT);
  ui.press(ui::VK_DELETE, ui::ssCtrl);
  EXPECT_EQ(ErrorCount(), 0u) << ui.lastError();
  EXPECT_TRUE(ui.dialogs().empty());
  EXPECT_EQ(f->cdsCardaDia.RecordCount(), 2);
  EXPECT_EQ(f->cdsCardaDia.State(), data::TDataSetState::Browse);
  EXPECT_FALSE(f->sbtIncluir->Enabled());
  EXPECT_FALSE(f->sbtExcluir->Enabled());
  EXPECT_EQ(calls.count("PostCard"), 0);
}

TEST_F(ServiceGrid, BackspaceAndDeleteDoNothingInTheServiceCode) {
  OnCell(1, kServico);
  ui.press(ui::VK_F2);  // the editor open on the code
  ui.press(ui::VK_BACK);
  ui.press(ui::VK_DELETE);
  EXPECT_EQ(ErrorCount(), 0u) << ui.lastError();
  EXPECT_EQ(f->dbgPadrao->CellText(kServico), "00010");
  EXPECT_EQ(F("CDSERVFILI").AsString(), "00010");
  EXPECT_EQ(f->cdsCardaDia.State(), data::TDataSetState::Browse);

  // In a count they edit as usual.
  ASSERT_TRUE(ui.clickCell(*f->dbgPadrao, 1, kClientes));
  ui.press(ui::VK_BACK);
  EXPECT_EQ(f->dbgPadrao->CellText(kClientes), "");
  EXPECT_EQ(f->cdsCardaDia.State(), data::TDataSetState::Edit);
}

TEST_F(ServiceGrid, EnterWalksTheColumnsAndOnTheLastPostsAndGoesToTheDishTypes) {
  OnCell(1, kClientes);
  ui.type("12");
  ui.press(ui::VK_RETURN);
  EXPECT_EQ(f->dbgPadrao->SelectedIndex(), kFuncionarios);
  ui.press(ui::VK_RETURN);
  EXPECT_EQ(f->dbgPadrao->SelectedIndex(), kDoacoes);
  ui.press(ui::VK_RETURN);
  EXPECT_EQ(f->dbgPadrao->SelectedIndex(), kTotal);
  EXPECT_EQ(calls.count("PostCard"), 0);
  ui.press(ui::VK_RETURN);
  ASSERT_EQ(ErrorCount(), 0u) << ui.lastError();
  EXPECT_EQ(calls.count("PostCard"), 1);
  EXPECT_EQ(ui.focused(), f->dbgTipoPrat);
  EXPECT_EQ(f->dbgTipoPrat->SelectedIndex(), 0);
  EXPECT_EQ(F("QTCOMEFETCAR").AsFloat(), 15);

  auto r = Stored("00010");
  EXPECT_EQ(r.at(0, "QTCLIEFETCAR").toDouble(), 12);
  EXPECT_EQ(r.at(0, "QTCOMEFETCAR").toDouble(), 15);
  EXPECT_EQ(r.at(0, "QTCOMEFETRI").toDouble(), 15);

  // PostCard carries the row's service, the day, the operator and the group.
  auto sent = calls.of("PostCard").at(0).args;
  ASSERT_EQ(sent.size(), 6u);
  EXPECT_EQ(sent[0].toString(), "0001");
  EXPECT_EQ(sent[1].toString(), "00010");
  EXPECT_EQ(sent[2].toDateTime(), D);
  EXPECT_EQ(sent[4].toString(), "OPA");
  EXPECT_EQ(sent[5].toString(), "");
}

TEST_F(ServiceGrid, TabFromTheServiceCodeLandsOnTheClients) {
  OnCell(1, kServico);
  ui.press(ui::VK_TAB);
  EXPECT_EQ(f->dbgPadrao->SelectedIndex(), kClientes);
  EXPECT_FALSE(pla01000::bTabServico) << "consumed by the column exit";
  EXPECT_EQ(ErrorCount(), 0u) << ui.lastError();
}

TEST_F(ServiceGrid, FailedSendRevertsTheRowToItsSavedValues) {
  OnCell(1, kClientes);
  calls.failNext("PostCard");
  ui.type("7");
  ui.press(ui::VK_DOWN);  // posts
  ASSERT_EQ(ErrorCount(), 1u);
  EXPECT_EQ(ui.lastError(), kFalhaSimulada);
  EXPECT_EQ(f->cdsCardaDia.State(), data::TDataSetState::Browse);
  EXPECT_EQ(f->cdsCardaDia.ChangeCount(), 0);
  EXPECT_EQ(F("QTCLIEFETCAR").AsFloat(), 10);
  EXPECT_EQ(F("QTCOMEFETCAR").AsFloat(), 13);
  EXPECT_FALSE(ui.services().Busy.Visible());
  EXPECT_EQ(Stored("00010").at(0, "QTCLIEFETCAR").toDouble(), 10);

  // The server's own refusal reverts the same way.
  Exec("UPDATE CARDAPIO SET QTCLIEFETCAR = 11 WHERE CDFILIAL = '0001' AND CDSERVFILI = '00010'");
  ASSERT_TRUE(ui.clickCell(*f->dbgPadrao, 1, kClientes));
  ui.type("8");
  ui.press(ui::VK_DOWN);
  EXPECT_EQ(ErrorCount(), 2u);
  EXPECT_EQ(F("QTCLIEFETCAR").AsFloat(), 10);
  EXPECT_EQ(f->cdsCardaDia.ChangeCount(), 0);
  EXPECT_EQ(Stored("00010").at(0, "QTCLIEFETCAR").toDouble(), 11);
}

// ---------------------------------------------------------------------------
// Clients billed for both services of the day: 00010 has 10 clients planned.
class ClientSum : public ServiceGrid {
protected:
  void Build(server::DemoBuilder& b) override {
    ServiceGrid::Build(b);
    b.Client("C1", "Cliente Um Ltda", "Um").Client("C2", "Cliente Dois Ltda", "Dois");
    b.Billed("0001", "00010", "00110", "Almoço faturado").Billed("0001", "00020", "00120", "Jantar faturado");
    b.BilledClient("0001", "00110", "C1").BilledClient("0001", "00120", "C2");
    b.ClientCount("0001", "00110", "C1", D, 10.000004);
  }
  void Consult(const std::string& flag) {
    Exec("UPDATE PARAMGERAL SET IDCONSMINEFE = :P_F", {{"P_F", flag}});
    ui.act([&] { result = f->Vd_Comensais(); });
  }
  bool result = false;
};

TEST_F(ClientSum, CountsAreComparedAtFiveDecimalsAndAZeroWithoutClientCountsDiffers) {
  Open();
  LoadDay(D);
  ASSERT_EQ(ErrorCount(), 0u) << ui.lastError();
  calls.clear();
  Consult("S");
  EXPECT_EQ(ErrorCount(), 0u) << ui.lastError();
  EXPECT_TRUE(result);
  EXPECT_EQ(calls.count("GetComensais"), 1);
  EXPECT_EQ(ui.services().Cursor.History.back(), ui::TCursor::Default);

  Exec("UPDATE EFETCLIE SET QTCOMEFETCLI = 10.00002");
  Consult("S");
  ASSERT_EQ(ErrorCount(), 1u);
  EXPECT_EQ(ui.lastError(),
            "Somatória dos comensais dos clientes deve ser igual a quantidade de clientes do serviço Almoço.");
  EXPECT_EQ(ui.focused(), f->dbgPadrao);

  Consult("N");
  EXPECT_EQ(ErrorCount(), 1u);
  EXPECT_TRUE(result);
  EXPECT_EQ(ui.lastDialog(),
            "Somatória dos comensais dos clientes difere da quantidade de clientes do serviço Almoço.");

  // 00010 agrees again; 00020 has a client but none of its counts stored:
  // empty agrees, a typed 0 does not.
  Exec("UPDATE EFETCLIE SET QTCOMEFETCLI = 10");
  size_t dialogs = ui.dialogs().size();
  Consult("N");
  EXPECT_EQ(ui.dialogs().size(), dialogs);
  Exec("UPDATE CARDAPIO SET QTCLIEFETCAR = 0 WHERE CDSERVFILI = '00020'");
  Consult("S");
  EXPECT_EQ(ui.lastError(),
            "Somatória dos comensais dos clientes deve ser igual a quantidade de clientes do serviço Jantar.");
}

TEST_F(ClientSum, AClosedDayAsksTheServerNothing) {
  Open();
  LoadDay(D - 4);  // older than the three days of the window
  ASSERT_EQ(ErrorCount(), 0u) << ui.lastError();
  ASSERT_TRUE(f->DiaFechado());
  calls.clear();
  Consult("S");
  EXPECT_TRUE(result);
  EXPECT_EQ(calls.count("GetComensais"), 0);
  EXPECT_EQ(ErrorCount(), 0u);
}

}  // namespace
