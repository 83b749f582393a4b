// Through the real transport: an efetivos-server process on a demo database,
// reached over HTTP on 127.0.0.1 as the screens reach it.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>
#include <tuple>

#include "contracts/net_connection.h"
#include "contracts/result.h"
#include "net/http_transport.h"
#include "platform/data/dataset.h"
#include "platform/db/connection.h"
#include "server/admin.h"
#include "support/sqlite_temp.h"

namespace {

class ServerProcess {
public:
  explicit ServerProcess(const std::string& db) : log_(db.substr(7) + ".log") {
    pid_ = fork();
    if (pid_ == 0) {
      FILE* f = std::fopen(log_.c_str(), "w");
      dup2(fileno(f), 2);
      execl(EFET_SERVER_EXE, EFET_SERVER_EXE, "--db", db.c_str(), "--demo", "--port", "0", static_cast<char*>(nullptr));
      _exit(127);
    }
    std::regex served("serving .* on 127\\.0\\.0\\.1:([0-9]+)");
    for (int i = 0; i < 600 && port_ == 0; ++i) {
      std::smatch m;
      std::string text = Log();
      if (std::regex_search(text, m, served)) port_ = std::stoi(m[1]);
      else std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  ~ServerProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    std::remove(log_.c_str());
  }
  int port() const { return port_; }
  std::string Log() const {
    std::ifstream in(log_);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

private:
  std::string log_;
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace

TEST(ServerEndToEnd, ScreensCallsReachTheDatabaseThroughHttp) {
  testsupport::TempSqlite file("efet-e2e");
  ServerProcess server(file.connectionString());
  ASSERT_NE(server.port(), 0) << server.Log();

  net::RegisterHttpTransport();
  contracts::TNetConnection conn("Pla01000.rdmMediEfetivos");
  conn.BeforeConnect = [&](contracts::TNetConnection& c) {
    c.SetHost("127.0.0.1");
    c.SetPort(server.port());
  };
  // Without a session the call fails as a result, not as an exception.
  rtl::Variant r = conn.Call("GetParamGeral");
  EXPECT_FALSE(contracts::ResultSucceeded(r));

  net::Login("127.0.0.1", server.port(), "DEM", "demo");
  r = conn.Call("GetParamGeral");
  ASSERT_TRUE(contracts::ResultSucceeded(r)) << r.debugString();

  rtl::Variant today = rtl::Variant::FromDate(rtl::Date());
  r = conn.Call("GetCardaDia", {"0001", today, ""});
  ASSERT_TRUE(contracts::ResultSucceeded(r)) << r.debugString();
  data::TClientDataSet card;
  card.SetData(r[1][0].asPacket());
  ASSERT_EQ(card.RecordCount(), 3);
  ASSERT_TRUE(card.Locate("CDSERVFILI", rtl::Variant("00010")));
  card.Edit();
  card.FieldByName("QTCLIEFETCAR").SetAsFloat(321);
  card.Post();
  r = conn.Call("PostCard", {"0001", "00010", today, card.Delta(), "DEM", ""});
  ASSERT_TRUE(contracts::ResultSucceeded(r)) << r.debugString();

  // A second workstation sees it.
  contracts::TNetConnection other("Pla01000.rdmMediEfetivos");
  other.BeforeConnect = conn.BeforeConnect;
  r = other.Call("GetCardaDia", {"0001", today, "ALM"});
  ASSERT_TRUE(contracts::ResultSucceeded(r)) << r.debugString();
  data::TClientDataSet again;
  again.SetData(r[1][0].asPacket());
  ASSERT_EQ(again.RecordCount(), 1);
  EXPECT_EQ(again.FieldByName("QTCLIEFETCAR").AsFloat(), 321);

  // By-reference arguments and a result read without CheckResultServ.
  rtl::VariantArray args{rtl::Variant::Null(), "0001", "00010", today, true, again.FieldByName("NRCARDAPIO").AsString(),
                         rtl::Variant::Null()};
  EXPECT_TRUE(conn.Call("UpdEfetClie", args).isEmpty());
  EXPECT_EQ(conn.Call("Vd_Retirada", {"0001", again.FieldByName("NRCARDAPIO").AsString(), "sem"}).toString(), "sem");

  std::string log = server.Log();
  EXPECT_NE(log.find("PostCard operador=DEM filial=0001"), std::string::npos) << log;
}

namespace {

// `efetivos-server add-operator ...` with `input` on its standard input: exit
// status and what it printed, both streams.
std::pair<int, std::string> AddOperator(const std::string& db, const std::string& args, const std::string& input) {
  std::string cmd = "printf '%s' '" + input + "' | " EFET_SERVER_EXE " add-operator --db '" + db + "' " + args + " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  std::string out;
  char buf[256];
  while (p && std::fgets(buf, sizeof buf, p)) out += buf;
  int rc = p ? pclose(p) : -1;
  return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, out};
}

}  // namespace

TEST(ServerEndToEnd, AddOperatorReadsThePasswordFromStandardInputOnly) {
  testsupport::TempSqlite file("efet-addop");
  const std::string db = file.connectionString();
  // On the command line it would be in every user's process list.
  auto [rc, out] = AddOperator(db, "--code ABC --all-branches --password segredo123", "");
  EXPECT_NE(rc, 0);
  EXPECT_NE(out.find("--password is not accepted"), std::string::npos) << out;
  std::tie(rc, out) = AddOperator(db, "--code ABC --all-branches", "curta12\n");
  EXPECT_NE(rc, 0);
  EXPECT_NE(out.find("pelo menos 8 caracteres"), std::string::npos) << out;
  std::tie(rc, out) = AddOperator(db, "--code ABC --all-branches", "");
  EXPECT_NE(rc, 0) << "no password at all";

  std::tie(rc, out) = AddOperator(db, "--code ABC --all-branches", "açúcar-123\n");
  ASSERT_EQ(rc, 0) << out;
  auto c = db::Open(db);
  auto r = c->query("SELECT DSSENHAHASH FROM OPERADOR WHERE CDOPERADOR = 'ABC'");
  ASSERT_EQ(r.size(), 1u);
  EXPECT_TRUE(server::VerifyPassword(r.rows[0][0].toString(), "açúcar-123"));
  EXPECT_FALSE(server::VerifyPassword(r.rows[0][0].toString(), "açúcar-123\n"));
}
