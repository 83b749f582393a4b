// PLA01000 driven as a user drives it, against a real efetivos-server process
// that is killed while the user types and started again: the failed sends are
// shown as errors, nothing of them reaches the database, and once the server
// is back (and the operator logged in again) the same values are saved.

#include <gtest/gtest.h>

#include "net/http_transport.h"
#include "pla01000/cli_pla01000.h"
#include "platform/db/query.h"
#include "platform/host/branch.h"
#include "platform/host/context.h"
#include "platform/host/lookups.h"
#include "platform/rtl/format.h"
#include "platform/ui/driver.h"
#include "support/sqlite_temp.h"
#include "system_fixture.h"

using namespace systest;

namespace {

class ScreenFault : public ::testing::Test {
protected:
  void SetUp() override {
    file_.emplace("efet-screen-fault");
    cs_ = file_->connectionString();
    BuildCompany(cs_, today_);
    server_.emplace(ServerProgram(), cs_);
    net::RegisterHttpTransport();
    net::Login("127.0.0.1", server_->port(), "OP1", "um");
    db::dtmDBGeral.Configure(cs_);
    auto& ctx = host::Context();
    ctx = host::OperatorContext{};
    ctx.filiProc = "0001";
    ctx.operador = "OP1";
    ctx.webURL = "127.0.0.1";
    ctx.webPort = server_->port();
    host::UseDatabaseForContext();
    ui.services().Lookup.Opener = [](data::TClientDataSet& ds) { ds.Open(); };
    pla01000::InitializeUnit();
  }
  void TearDown() override {
    ui::Application().DestroyForms();
    contracts::RegisterTransportFactory({});
    contracts::ClearSession();
    db::dtmDBGeral.Disconnect();
  }

  void OpenDay(rtl::TDateTime d) {
    ui.act([] { pla01000::CriaMedEfetivos(); });
    f = pla01000::frmMediEfetivos;
    ASSERT_NE(f, nullptr);
    ASSERT_TRUE(ui.focus(*f->depCardapio));
    ui.type(rtl::FormatDateTime("dd/mm/yyyy", d));
    ui.focus(*f->dbgPadrao);
    ASSERT_TRUE(ui.errors().empty()) << ui.lastError();
  }
  // The server back on the same database; the host logs the operator in again.
  void Restart() {
    server_->Restart();
    net::Login("127.0.0.1", server_->port(), "OP1", "um");
  }
  Variant Stored(const std::string& sql) {
    auto c = db::Open(cs_);
    auto r = c->query(sql, {{"P_D", Variant::FromDate(day_)}});
    return r.empty() ? Variant::Null() : r.rows[0][0];
  }
  static int Col(const ui::TDBGrid& g, const std::string& field) {
    for (int i = 0; i < g.ColumnCount(); ++i)
      if (g.Columns(i).FieldName == field) return i;
    return -1;
  }

  const rtl::TDateTime today_ = rtl::Date();
  const rtl::TDateTime day_ = today_ - 1;
  std::optional<testsupport::TempSqlite> file_;
  std::string cs_;
  std::optional<testsupport::ServerProcess> server_;
  ui::Driver ui;
  pla01000::TfrmMediEfetivos* f = nullptr;
};

const char* const kServiceClients =
    "SELECT QTCLIEFETCAR FROM CARDAPIO WHERE CDFILIAL = '0001' AND CDSERVFILI = '00010' AND DTCARDAPIO = :P_D";

TEST_F(ScreenFault, ServiceRowPostedWhileTheServerIsDeadStaysInTheGridAndIsSavedAfterTheRestart) {
  OpenDay(day_);
  ASSERT_TRUE(ui.clickCell(*f->dbgPadrao, 1, Col(*f->dbgPadrao, "QTCLIEFETCAR")));
  server_->Kill();
  ui.type("77");
  ui.press(ui::VK_DOWN);  // leaves the row: posts, and the post sends it
  ASSERT_EQ(ui.errors().size(), 1u);
  EXPECT_NE(ui.lastError().find("servidor de aplicação"), std::string::npos) << ui.lastError();
  EXPECT_FALSE(ui.services().Busy.Visible());
  // The checks before the post ask the server, so the post ends there: the
  // row stays in edit with the typed count, nothing is pending as sent.
  EXPECT_EQ(f->cdsCardaDia.State(), data::TDataSetState::Edit);
  EXPECT_EQ(f->cdsCardaDia.FieldByName("QTCLIEFETCAR").AsFloat(), 77);
  EXPECT_EQ(f->dbgPadrao->EditorText(), "77");
  EXPECT_EQ(f->cdsCardaDia.ChangeCount(), 0);
  EXPECT_TRUE(Stored(kServiceClients).isNullOrEmpty());

  Restart();
  ui.press(ui::VK_DOWN);  // the same row, posted again
  EXPECT_EQ(ui.errors().size(), 1u) << ui.lastError();
  EXPECT_EQ(f->cdsCardaDia.State(), data::TDataSetState::Browse);
  EXPECT_EQ(f->cdsCardaDia.ChangeCount(), 0);
  EXPECT_EQ(Stored(kServiceClients).toDouble(), 77);
}

TEST_F(ScreenFault, ClientCountsConfirmedWhileTheServerIsDeadStayInTheGridAndAreSavedAfterTheRestart) {
  OpenDay(day_);
  ASSERT_TRUE(ui.pick(*f->pgcPadrao, *f->tshClientes)) << ui.lastError();
  ASSERT_TRUE(ui.clickCell(*f->dbgEfeCliCa, 1, Col(*f->dbgEfeCliCa, "QTCOMEFETCLI")));
  std::string client = f->cdsServCli.FieldByName("CDCLIENTE").AsString();
  ui.type("9");
  server_->Kill();
  ASSERT_TRUE(ui.click(*f->sbtConfirmar));
  ASSERT_EQ(ui.errors().size(), 1u);
  EXPECT_NE(ui.lastError().find("servidor de aplicação"), std::string::npos) << ui.lastError();
  // The typed count is still there, waiting to be sent.
  EXPECT_GT(f->cdsServCli.ChangeCount(), 0);
  ASSERT_TRUE(f->cdsServCli.Locate("CDCLIENTE", Variant(client)));
  EXPECT_EQ(f->cdsServCli.FieldByName("QTCOMEFETCLI").AsFloat(), 9);
  const std::string sql = "SELECT QTCOMEFETCLI FROM EFETCLIE WHERE CDFILIAL = '0001' AND CDCLIENTE = '" + client +
                          "' AND DTEFETCLIE = :P_D";
  EXPECT_TRUE(Stored(sql).isNullOrEmpty());

  Restart();
  ASSERT_TRUE(ui.click(*f->sbtConfirmar));
  EXPECT_EQ(ui.errors().size(), 1u) << ui.lastError();
  EXPECT_EQ(f->cdsServCli.ChangeCount(), 0);
  EXPECT_EQ(Stored(sql).toDouble(), 9);
}

}  // namespace
