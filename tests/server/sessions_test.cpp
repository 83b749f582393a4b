// Sessions and failed logins kept in the database: real efetivos-server
// processes over one database, reached over HTTP as the desktop reaches them.

#include <gtest/gtest.h>
#include <httplib.h>

#include "contracts/net_connection.h"
#include "contracts/result.h"
#include "net/http_server.h"
#include "net/http_transport.h"
#include "platform/db/connection.h"
#include "server/admin.h"
#include "server/demo.h"
#include "server/schema.h"
#include "support/pg_cluster.h"
#include "support/server_process.h"
#include "support/sqlite_temp.h"

namespace {

using testsupport::ServerProcess;

const char* const kSessionRefused = "Sessão expirada ou inválida. Entre novamente.";

// GetParamGeral through a server as the screens call it: the result, or the
// failure's message.
std::string ParamGeral(const ServerProcess& server) {
  contracts::TNetConnection conn("Pla01000.rdmMediEfetivos");
  int port = server.port();
  conn.BeforeConnect = [port](contracts::TNetConnection& c) {
    c.SetHost("127.0.0.1");
    c.SetPort(port);
  };
  rtl::Variant r = conn.Call("GetParamGeral");
  return contracts::ResultSucceeded(r) ? "ok" : contracts::ResultMessage(r);
}

std::string TryLogin(const ServerProcess& server, const std::string& op, const std::string& password) {
  try {
    net::Login("127.0.0.1", server.port(), op, password);
    return "ok";
  } catch (const contracts::TransportError& e) {
    return e.Message();
  }
}

// The demo company, built before the servers start so that none of them
// spends its start-up building it.
std::string Demo(const std::string& conninfo) {
  auto c = db::Open(conninfo);
  server::EnsureSchema(*c);
  db::Transaction t(*c);
  server::DemoBuilder(*c).BuildDemoCompany(rtl::Date());
  t.commit();
  return conninfo;
}

class SharedSessions : public ::testing::Test {
protected:
  void SetUp() override {
    net::RegisterHttpTransport();
    contracts::ClearSession();
  }
  void TearDown() override { contracts::ClearSession(); }

  // A second server and a restart both accept the session the first opened;
  // a logout on one ends it on the other.
  void SessionsAreShared(const std::string& conninfo) {
    ServerProcess a(EFET_SERVER_EXE, Demo(conninfo));
    ServerProcess b(EFET_SERVER_EXE, conninfo);
    net::Login("127.0.0.1", a.port(), "DEM", "demo");
    EXPECT_EQ(ParamGeral(a), "ok");
    EXPECT_EQ(ParamGeral(b), "ok");
    a.Kill();
    a.Restart();
    EXPECT_EQ(ParamGeral(a), "ok");
    std::string token = contracts::CurrentSession().token;
    net::Logout("127.0.0.1", b.port());
    contracts::SetSession({token, "DEM"});
    EXPECT_EQ(ParamGeral(a), kSessionRefused);
  }
};

TEST_F(SharedSessions, ASecondServerAndARestartAcceptTheSessionOnSqlite) {
  testsupport::TempSqlite file("efet-sess");
  SessionsAreShared(file.connectionString());
}

TEST_F(SharedSessions, ASecondServerAndARestartAcceptTheSessionOnPostgres) {
  EFET_PG_DATABASE(conninfo, "sessions");
  SessionsAreShared(conninfo);
}

TEST_F(SharedSessions, LogoutPasswordChangeAndDeactivationEndSessionsOnEveryServer) {
  testsupport::TempSqlite file("efet-sess");
  ServerProcess a(EFET_SERVER_EXE, Demo(file.connectionString()));
  ServerProcess b(EFET_SERVER_EXE, file.connectionString());

  std::string token = net::Login("127.0.0.1", a.port(), "DEM", "demo");
  net::Logout("127.0.0.1", a.port());
  contracts::SetSession({token, "DEM"});
  EXPECT_EQ(ParamGeral(b), kSessionRefused);

  net::Login("127.0.0.1", a.port(), "DEM", "demo");
  EXPECT_EQ(ParamGeral(b), "ok");
  // A new password, as add-operator gives it.
  server::AddOperator(*db::Open(file.connectionString()), server::NewOperator{"DEM", "", "nova senha", true, {}});
  EXPECT_EQ(ParamGeral(b), kSessionRefused);
  EXPECT_EQ(ParamGeral(a), kSessionRefused);
  EXPECT_EQ(TryLogin(b, "DEM", "demo"), "Operador ou senha inválidos.");

  EXPECT_EQ(TryLogin(b, "DEM", "nova senha"), "ok");
  EXPECT_EQ(ParamGeral(a), "ok");
  EXPECT_NE(a.Run({"deactivate-operator", "--code", "DEM"}).find("desativado"), std::string::npos);
  EXPECT_EQ(ParamGeral(a), kSessionRefused);
  EXPECT_EQ(TryLogin(a, "DEM", "nova senha"), "Operador ou senha inválidos.");
  EXPECT_THROW(a.Run({"deactivate-operator", "--code", "XYZ"}), std::runtime_error);
}

// An operator made inactive in the database by any means can no longer call
// anything, even with a session that was not ended.
TEST_F(SharedSessions, EveryCallNeedsAnActiveOperator) {
  testsupport::TempSqlite file("efet-sess");
  ServerProcess a(EFET_SERVER_EXE, Demo(file.connectionString()));
  net::Login("127.0.0.1", a.port(), "CAM", "campinas");
  EXPECT_EQ(ParamGeral(a), "ok");
  auto c = db::Open(file.connectionString());
  c->exec("UPDATE OPERADOR SET IDATIVO = 'N' WHERE CDOPERADOR = 'CAM'");
  EXPECT_EQ(ParamGeral(a), kSessionRefused);
  c->exec("UPDATE OPERADOR SET IDATIVO = 'S' WHERE CDOPERADOR = 'CAM'");
  EXPECT_EQ(ParamGeral(a), "ok");
}

TEST_F(SharedSessions, FailedLoginsAreCountedAcrossServers) {
  testsupport::TempSqlite file("efet-sess");
  ServerProcess a(EFET_SERVER_EXE, Demo(file.connectionString()));
  ServerProcess b(EFET_SERVER_EXE, file.connectionString());
  for (int i = 0; i < 3; ++i) EXPECT_EQ(TryLogin(i % 2 ? a : b, "DEM", "errada"), "Operador ou senha inválidos.");
  std::string refused = TryLogin(a, "DEM", "demo");
  EXPECT_NE(refused.find("Aguarde"), std::string::npos) << refused;
  EXPECT_NE(TryLogin(b, "DEM", "demo").find("Aguarde"), std::string::npos);
  // The count is the database's: no server holds it.
  auto c = db::Open(file.connectionString());
  EXPECT_EQ(c->query("SELECT QTFALHAS FROM FALHALOGIN WHERE DSCHAVE = 'O:DEM'").rows.at(0)[0].toInt(), 3);
  // Another operator logs in at once.
  EXPECT_EQ(TryLogin(b, "CAM", "campinas"), "ok");
}

// With the database out of reach, a login says so in Portuguese, and the
// balancer's health check answers that this server cannot serve.
TEST(DatabaseDown, LoginAndHealthSayTheDatabaseIsNotAnswering) {
  server::OperatorStore operators("host=127.0.0.1 port=1 dbname=efetivos connect_timeout=2");
  net::HttpServerOptions options;
  std::vector<net::RequestLog> logs;
  options.logger = [&](const net::RequestLog& log) { logs.push_back(log); };
  net::HttpServer http(operators, options);
  http.start();
  try {
    net::Login("127.0.0.1", http.port(), "DEM", "demo");
    ADD_FAILURE() << "logged in without a database";
  } catch (const contracts::TransportError& e) {
    EXPECT_EQ(e.Message(), "Banco de dados indisponível no momento. Tente novamente em instantes.");
  }
  // The driver's own text is kept for the IT team, in the log.
  ASSERT_FALSE(logs.empty());
  EXPECT_GT(logs.back().outcome.size(), std::string("recusada: Banco de dados indisponível").size() + 80);

  httplib::Client c("127.0.0.1", http.port());
  auto res = c.Get("/health");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 503);
  http.stop();
}

TEST(DatabaseDown, HealthAnswersWhenTheDatabaseDoes) {
  testsupport::TempSqlite file("efet-health");
  {
    auto c = db::Open(file.connectionString());
    server::EnsureSchema(*c);
  }
  server::OperatorStore operators(file.connectionString());
  net::HttpServerOptions options;
  options.logger = [](const net::RequestLog&) {};
  net::HttpServer http(operators, options);
  http.start();
  httplib::Client c("127.0.0.1", http.port());
  auto res = c.Get("/health");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(res->body, R"({"status":"ok"})");
  http.stop();
}

}  // namespace
