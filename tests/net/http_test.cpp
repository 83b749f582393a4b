#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "contracts/net_connection.h"
#include "contracts/result.h"
#include "net/http_server.h"
#include "net/http_transport.h"
#include "test_module.h"

extern char** environ;

using contracts::TNetConnection;
using contracts::TransportError;
using rtl::Variant;

namespace {

const char* const kSessionRefused = "Sessão expirada ou inválida. Entre novamente.";

class HttpTransportTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    operators_ = new nettest::Operators;
    operators_->Add("ADMIN", "senha");
    operators_->Add("CAIXA", "outra senha");
  }
  static void TearDownTestSuite() { delete operators_; }

  void SetUp() override {
    net::RegisterHttpTransport();
    contracts::ClearSession();
    options_.logger = [this](const net::RequestLog& log) {
      std::lock_guard lock(logMutex_);
      logs_.push_back(log);
    };
    options_.clock = [this] { return start_ + std::chrono::seconds(offsetSeconds_.load()); };
  }
  void TearDown() override {
    if (server_) server_->stop();
    contracts::ClearSession();
  }

  void StartServer() {
    server_ = std::make_unique<net::HttpServer>(*operators_, options_);
    server_->addModule(module_);
    server_->start();
  }

  std::unique_ptr<TNetConnection> Connection(int port = -1) {
    auto c = std::make_unique<TNetConnection>(nettest::kModuleName);
    int p = port < 0 ? server_->port() : port;
    c->BeforeConnect = [p](TNetConnection& sender) {
      sender.SetHost("127.0.0.1");
      sender.SetPort(p);
    };
    return c;
  }

  void LoginAdmin() { net::Login("127.0.0.1", server_->port(), "ADMIN", "senha"); }

  std::vector<net::RequestLog> Logs() {
    std::lock_guard lock(logMutex_);
    return logs_;
  }

  static nettest::Operators* operators_;
  nettest::EchoModule module_;
  net::HttpServerOptions options_;
  std::unique_ptr<net::HttpServer> server_;
  std::chrono::system_clock::time_point start_ = std::chrono::system_clock::now();
  std::atomic<long> offsetSeconds_{0};
  std::mutex logMutex_;
  std::vector<net::RequestLog> logs_;
};
nettest::Operators* HttpTransportTest::operators_ = nullptr;

bool IsFailure(const Variant& r, const std::string& message) {
  return contracts::IsResultArray(r) && !r[0].toBool() && r[1].toString() == message;
}
bool FailureContains(const Variant& r, const std::string& part) {
  return contracts::IsResultArray(r) && !r[0].toBool() && r[1].toString().find(part) != std::string::npos;
}

}  // namespace

TEST_F(HttpTransportTest, CallsCarryValuesAndByReferenceArguments) {
  StartServer();
  std::string token = net::Login("127.0.0.1", server_->port(), "ADMIN", "senha");
  EXPECT_EQ(token.size(), 64u);
  EXPECT_EQ(contracts::CurrentSession().token, token);
  EXPECT_EQ(contracts::CurrentSession().operatorCode, "ADMIN");

  auto conn = Connection();
  EXPECT_FALSE(conn->Connected());
  rtl::VariantArray sent = {"0001",  Variant::FromDate(45000.25), Variant(), Variant::Null(), 0.1,
                            1.0,     rtl::DataPacket(R"({"rows":[[1,"a"]]})"), rtl::VarArrayOf({1, "x"})};
  rtl::VariantArray args = sent;
  Variant r = conn->AppServer("Echo", args);
  EXPECT_TRUE(conn->Connected());
  ASSERT_TRUE(contracts::ResultSucceeded(r)) << r.debugString();
  EXPECT_EQ(r[1], Variant(sent));
  EXPECT_EQ(r[1][1].type(), rtl::VarType::DateTime);
  EXPECT_EQ(r[1][2].type(), rtl::VarType::Empty);
  EXPECT_EQ(r[1][5].type(), rtl::VarType::Double);

  rtl::VariantArray counters = {1, "x", 41};
  r = conn->Call("Increment", counters);
  EXPECT_EQ(r, rtl::VarArrayOf({true, 3}));
  EXPECT_EQ(Variant(counters), rtl::VarArrayOf({2, "x", 42}));

  EXPECT_EQ(conn->Call("WhoAmI")[1][0], Variant("ADMIN"));
  EXPECT_TRUE(IsFailure(conn->Call("Fail"), "Motivo da falha."));
  EXPECT_TRUE(IsFailure(conn->Call("Throws", {"0002"}), "Falha proposital no método."));
  EXPECT_EQ(conn->LastError(), "");  // both reached the server

  auto logs = Logs();
  auto echo = std::find_if(logs.begin(), logs.end(), [](auto& l) { return l.method == "Echo"; });
  ASSERT_NE(echo, logs.end());
  EXPECT_EQ(echo->operatorCode, "ADMIN");
  EXPECT_EQ(echo->branch, "0001");
  EXPECT_TRUE(echo->ok);
  EXPECT_NE(net::FormatRequestLog(*echo).find("/call Echo operador=ADMIN filial=0001"), std::string::npos);
  EXPECT_EQ(logs.back().method, "Throws");
  EXPECT_FALSE(logs.back().ok);
  EXPECT_EQ(logs.back().outcome, "falha: Falha proposital no método.");
}

TEST_F(HttpTransportTest, RepliesReportTheServersShareInServerTiming) {
  StartServer();
  LoginAdmin();
  auto conn = Connection();
  rtl::VariantArray args = {"0001"};
  ASSERT_TRUE(contracts::ResultSucceeded(conn->AppServer("Echo", args)));
  net::ServerTiming t = net::LastServerTiming();
  EXPECT_GE(t.methodMs, 0);
  EXPECT_GE(t.handlerMs, t.methodMs);
  EXPECT_GE(t.totalMs, t.handlerMs);
  EXPECT_EQ(t.databaseMs, -1);  // the test module does not measure it

  // A refusal on the way carries the handling time alone.
  httplib::Client raw("127.0.0.1", server_->port());
  auto res = raw.Post("/call", {{"Authorization", "Bearer forged"}}, R"({"server":"x","method":"Echo","args":[]})",
                      "application/json");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 401);
  net::ServerTiming refused = net::ParseServerTiming(res->get_header_value("Server-Timing"));
  EXPECT_GE(refused.handlerMs, 0);
  EXPECT_EQ(refused.methodMs, -1);

  net::ServerTiming p = net::ParseServerTiming("handler;dur=2.5, cache;desc=\"x\";dur=9, method;dur=1.25,db;dur=0.5");
  EXPECT_EQ(p.handlerMs, 2.5);
  EXPECT_EQ(p.methodMs, 1.25);
  EXPECT_EQ(p.databaseMs, 0.5);
  EXPECT_EQ(net::ParseServerTiming("garbage").handlerMs, -1);
}

TEST_F(HttpTransportTest, LoginRefusesWrongPasswordsAndUnknownOperators) {
  StartServer();
  std::string hash = net::HashPassword("senha");
  EXPECT_EQ(hash.rfind("$argon2id$", 0), 0u);
  EXPECT_TRUE(net::VerifyPassword(hash, "senha"));
  EXPECT_FALSE(net::VerifyPassword(hash, "Senha"));
  EXPECT_FALSE(net::VerifyPassword("lixo", "senha"));

  std::map<std::string, double> fastestMs;
  for (auto [op, pw] : {std::pair{"ADMIN", "errada"}, {"ADMIN", ""}, {"NINGUEM", "senha"}, {"", ""},
                        {"CAIXA", "senha"}}) {
    auto t0 = std::chrono::steady_clock::now();
    try {
      net::Login("127.0.0.1", server_->port(), op, pw);
      ADD_FAILURE() << op << " logged in with " << pw;
    } catch (const TransportError& e) {
      EXPECT_EQ(e.Message(), "Operador ou senha inválidos.") << op;
    }
    double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    auto [at, added] = fastestMs.emplace(op, ms);
    if (!added) at->second = std::min(at->second, ms);
  }
  // The unknown operator's refusal is held back about as long as a real check
  // takes (no check is run for it), so it cannot be told apart by its haste.
  EXPECT_GE(fastestMs["NINGUEM"], 0.5 * fastestMs["ADMIN"]);
  EXPECT_EQ(contracts::CurrentSession().token, "");
  net::Login("127.0.0.1", server_->port(), "CAIXA", "outra senha");
  EXPECT_EQ(Connection()->Call("WhoAmI")[1][0], Variant("CAIXA"));
}

TEST_F(HttpTransportTest, ForgedLoggedOutAndExpiredSessionsAreRefused) {
  options_.sessionTimeout = std::chrono::hours(12);
  StartServer();
  auto conn = Connection();

  EXPECT_TRUE(IsFailure(conn->Call("Echo"), kSessionRefused));  // never logged in
  contracts::SetSession({std::string(64, 'a'), "ADMIN"});
  EXPECT_TRUE(IsFailure(conn->Call("Echo"), kSessionRefused));
  EXPECT_EQ(conn->LastError(), kSessionRefused);

  LoginAdmin();
  std::string token = contracts::CurrentSession().token;
  contracts::SetSession({token.substr(0, 63) + (token.back() == '0' ? "1" : "0"), "ADMIN"});
  EXPECT_TRUE(IsFailure(conn->Call("Echo"), kSessionRefused));
  contracts::SetSession({token, "ADMIN"});
  EXPECT_TRUE(contracts::ResultSucceeded(conn->Call("Echo")));

  // The expiry slides with each use.
  offsetSeconds_ = 11 * 3600;
  EXPECT_TRUE(contracts::ResultSucceeded(conn->Call("Echo")));
  offsetSeconds_ = 22 * 3600;
  EXPECT_TRUE(contracts::ResultSucceeded(conn->Call("Echo")));
  offsetSeconds_ = 34 * 3600 + 1;
  EXPECT_TRUE(IsFailure(conn->Call("Echo"), kSessionRefused));

  LoginAdmin();
  token = contracts::CurrentSession().token;
  EXPECT_TRUE(contracts::ResultSucceeded(conn->Call("Echo")));
  net::Logout("127.0.0.1", server_->port());
  contracts::SetSession({token, "ADMIN"});
  EXPECT_TRUE(IsFailure(conn->Call("Echo"), kSessionRefused));
}

TEST_F(HttpTransportTest, UnknownServersAndMethodsAreRefused) {
  StartServer();
  LoginAdmin();
  auto conn = Connection();
  EXPECT_TRUE(FailureContains(conn->Call("NaoExiste"), "Método desconhecido"));
  // Late-bound names match without regard to case, as the platform's do.
  EXPECT_TRUE(contracts::ResultSucceeded(conn->Call("echo")));
  conn->SetServerName("Outro.rdmQualquer");
  EXPECT_TRUE(FailureContains(conn->Call("Echo"), "Servidor de aplicação desconhecido"));
}

TEST_F(HttpTransportTest, HostileBodiesGetAClearRefusalAndTheServerCarriesOn) {
  options_.maxBodyBytes = 16 * 1024;
  StartServer();
  LoginAdmin();
  std::string token = contracts::CurrentSession().token;
  httplib::Client raw("127.0.0.1", server_->port());
  raw.set_bearer_token_auth(token.c_str());
  auto errorOf = [](const httplib::Result& res) {
    return res ? net::DecodeEnvelope(res->body).text("error") : std::string("(no reply)");
  };

  auto res = raw.Post("/call", "{isto não é json", "application/json");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 400);
  EXPECT_NE(errorOf(res).find("Mensagem mal formada"), std::string::npos);

  res = raw.Post("/call", "{\"server\":\"Teste.rdmEco\",\"method\":\"Echo\",\"args\":\"x\"}", "application/json");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 400);
  EXPECT_NE(errorOf(res).find("'args' deve ser uma lista"), std::string::npos);

  std::string deep = "{\"args\":" + std::string(5000, '[') + std::string(5000, ']') + "}";
  res = raw.Post("/call", deep, "application/json");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 400);
  EXPECT_NE(errorOf(res).find("aninhamento"), std::string::npos);

  res = raw.Post("/call", std::string(64 * 1024, ' '), "application/json");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 413);
  EXPECT_NE(errorOf(res).find("tamanho máximo"), std::string::npos);

  res = raw.Get("/call");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 404);
  EXPECT_FALSE(errorOf(res).empty());

  // The same limit reaches the screens as a failed result.
  auto conn = Connection();
  EXPECT_TRUE(FailureContains(conn->Call("Echo", {std::string(20000, 'x')}), "tamanho máximo"));
  EXPECT_TRUE(contracts::ResultSucceeded(conn->Call("Echo", {"ainda aqui"})));
}

TEST_F(HttpTransportTest, ADownOrSlowServerGivesAFailedResult) {
  StartServer();
  LoginAdmin();
  int port = server_->port();
  server_->stop();

  auto conn = Connection(port);
  Variant r = conn->Call("Echo");
  EXPECT_TRUE(FailureContains(r, "Não foi possível conectar ao servidor de aplicação em 127.0.0.1:" +
                                     std::to_string(port)))
      << r.debugString();
  conn->SetThrowException(true);
  EXPECT_THROW(conn->Call("Echo"), TransportError);

  server_->start();  // a fresh port
  LoginAdmin();
  net::HttpServerOptions taken = options_;
  taken.port = server_->port();
  net::HttpServer second(*operators_, taken);
  EXPECT_THROW(second.start(), rtl::Exception);

  net::HttpTransportOptions quick;
  quick.readTimeoutMs = 300;
  net::RegisterHttpTransport(quick);
  auto slow = Connection();
  EXPECT_TRUE(FailureContains(slow->Call("Sleep", {1500}), "não respondeu a tempo"));
  EXPECT_TRUE(contracts::ResultSucceeded(slow->Call("Sleep", {10})));
}

TEST_F(HttpTransportTest, AServerThatDiesMidCallGivesAFailedResult) {
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  pid_t pid = 0;
  char* argv[] = {const_cast<char*>(NET_TEST_SERVER), nullptr};
  ASSERT_EQ(posix_spawn(&pid, NET_TEST_SERVER, &actions, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  std::string line;
  char ch;
  while (read(out[0], &ch, 1) == 1 && ch != '\n') line += ch;
  close(out[0]);
  int port = std::atoi(line.c_str());
  ASSERT_GT(port, 0) << "the test server printed '" << line << "'";

  net::Login("127.0.0.1", port, "ADMIN", "senha");
  auto conn = Connection(port);
  ASSERT_TRUE(contracts::ResultSucceeded(conn->Call("Echo")));
  std::thread killer([pid] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(pid, SIGKILL);
  });
  Variant r = conn->Call("Sleep", {20000});
  killer.join();
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(FailureContains(r, "encerrou a conexão")) << r.debugString();
  EXPECT_TRUE(FailureContains(conn->Call("Echo"), "Não foi possível conectar"));
}

TEST_F(HttpTransportTest, OneConnectionIsKeptAliveAcrossCalls) {
  StartServer();
  LoginAdmin();
  auto conn = Connection();
  std::string first = conn->Call("WhoAmI")[1][1].toString();
  EXPECT_EQ(first.rfind("127.0.0.1:", 0), 0u);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(conn->Call("WhoAmI")[1][1].toString(), first);
  conn->Disconnect();
  EXPECT_FALSE(conn->Connected());
  EXPECT_NE(conn->Call("WhoAmI")[1][1].toString(), first);
}

TEST_F(HttpTransportTest, ConcurrentConnectionsEachGetTheirOwnAnswers) {
  options_.threads = 4;
  StartServer();
  LoginAdmin();
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t)
    threads.emplace_back([&, t] {
      auto conn = Connection();
      for (int i = 0; i < 40; ++i) {
        rtl::VariantArray args = {t * 1000 + i};
        conn->Call("Increment", args);
        if (args[0].toInt() != t * 1000 + i + 1) ++wrong;
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong, 0);
}

// Every open keep-alive connection holds a worker while it waits; a clerk who
// connects after the kept workers are all held must still be served, not wait
// for someone's keep-alive to time out (the client's read timeout is far below it).
TEST_F(HttpTransportTest, MoreOpenConnectionsThanWorkersAreAllServed) {
  options_.threads = 2;
  options_.keepAliveTimeoutSeconds = 60;
  StartServer();
  LoginAdmin();
  net::HttpTransportOptions quick;
  quick.readTimeoutMs = 5000;
  std::vector<std::unique_ptr<contracts::Transport>> idle;
  for (int i = 0; i < 5; ++i) {
    idle.push_back(net::MakeHttpTransport("127.0.0.1", server_->port(), quick));
    rtl::VariantArray args = {i};
    idle.back()->Call(nettest::kModuleName, "Increment", args, contracts::CurrentSession().token);
    EXPECT_EQ(args[0].toInt(), i + 1);
  }
  // The five connections stay open and idle; a sixth is answered.
  auto late = net::MakeHttpTransport("127.0.0.1", server_->port(), quick);
  rtl::VariantArray args = {41};
  EXPECT_NO_THROW(late->Call(nettest::kModuleName, "Increment", args, contracts::CurrentSession().token));
  EXPECT_EQ(args[0].toInt(), 42);
}

TEST_F(HttpTransportTest, NothingToConnectWithIsAFailedResultOrARaise) {
  contracts::TNetConnection conn(nettest::kModuleName);  // no BeforeConnect: no host
  EXPECT_THROW(conn.Connect(), TransportError);
  EXPECT_TRUE(FailureContains(conn.Call("Echo"), "endereço do servidor"));
  EXPECT_FALSE(conn.Connected());

  contracts::RegisterTransportFactory(nullptr);
  conn.SetHost("127.0.0.1");
  conn.SetPort(1);
  EXPECT_TRUE(FailureContains(conn.Call("Echo"), "Nenhum meio de comunicação"));
  conn.SetThrowException(true);
  EXPECT_THROW(conn.Call("Echo"), TransportError);
}

TEST_F(HttpTransportTest, ServesOnIpv6Loopback) {
  options_.address = "::1";
  try {
    StartServer();
  } catch (const rtl::Exception&) {
    GTEST_SKIP() << "no IPv6 loopback here";
  }
  net::Login("::1", server_->port(), "ADMIN", "senha");
  contracts::TNetConnection conn(nettest::kModuleName);
  conn.SetHost("::1");
  conn.SetPort(server_->port());
  EXPECT_EQ(conn.Call("WhoAmI")[1][0], Variant("ADMIN"));
}

namespace {
// Sends raw bytes on a new connection to the server and reads what comes back
// until the server closes or goes quiet for timeoutMs.
struct RawConnection {
  int fd = -1;
  explicit RawConnection(int port) {
    fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) ADD_FAILURE() << "connect";
  }
  ~RawConnection() { close(fd); }
  void Send(const std::string& s) { ASSERT_EQ(send(fd, s.data(), s.size(), MSG_NOSIGNAL), ssize_t(s.size())); }
  std::string Read(int timeoutMs) {
    std::string got;
    for (;;) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, timeoutMs) <= 0) break;
      char buf[4096];
      ssize_t n = recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      got.append(buf, static_cast<size_t>(n));
      if (got.find("\r\n\r\n") != std::string::npos && got.find("}", got.find("\r\n\r\n")) != std::string::npos) break;
    }
    return got;
  }
};
}  // namespace

// A forged token cannot make the server read, let alone decode, a large body:
// the refusal comes while the body has not even been sent.
TEST_F(HttpTransportTest, ARequestWithoutAValidSessionIsRefusedBeforeItsBodyIsRead) {
  StartServer();
  RawConnection raw(server_->port());
  raw.Send("POST /call HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer " + std::string(64, 'f') +
           "\r\nContent-Type: application/json\r\nContent-Length: 62914560\r\n\r\n{\"server\":");
  std::string reply = raw.Read(10000);
  EXPECT_EQ(reply.rfind("HTTP/1.1 401", 0), 0u) << reply.substr(0, 200);
  EXPECT_NE(reply.find(kSessionRefused), std::string::npos);

  // The token travels in the header only: one in the body opens nothing.
  LoginAdmin();
  std::string token = contracts::CurrentSession().token;
  httplib::Client c("127.0.0.1", server_->port());
  auto res = c.Post("/call", "{\"token\":\"" + token + "\",\"server\":\"Teste.rdmEco\",\"method\":\"Echo\"}",
                    "application/json");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 401);
  // A small body of a refused request is read to its end: the connection goes on.
  res = c.Post("/call", {{"Authorization", "Bearer " + token}}, R"({"server":"Teste.rdmEco","method":"WhoAmI"})",
               "application/json");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
}

TEST_F(HttpTransportTest, RepliesCarryBackOnlyTheByReferenceArguments) {
  StartServer();
  LoginAdmin();
  httplib::Client c("127.0.0.1", server_->port());
  c.set_bearer_token_auth(contracts::CurrentSession().token.c_str());
  auto res = c.Post("/call", R"({"server":"Teste.rdmEco","method":"Echo","args":["um texto longo",2,3]})",
                    "application/json");
  ASSERT_TRUE(res);
  net::Envelope e = net::DecodeEnvelope(res->body);
  EXPECT_FALSE(e.args.has_value());
  res = c.Post("/call", R"({"server":"Teste.rdmEco","method":"Increment","args":[1,"a",3,4]})", "application/json");
  ASSERT_TRUE(res);
  e = net::DecodeEnvelope(res->body);
  ASSERT_TRUE(e.args.has_value());
  EXPECT_EQ(Variant(*e.args), rtl::VarArrayOf({2, "a", 4}));
  EXPECT_EQ(e.text("refs"), "0,1,2");

  // The client puts them back where they came from and keeps the others.
  rtl::VariantArray args = {1, "b", 3, 10};
  EXPECT_TRUE(contracts::ResultSucceeded(Connection()->Call("Increment", args)));
  EXPECT_EQ(Variant(args), rtl::VarArrayOf({2, "b", 4, 10}));
}

TEST_F(HttpTransportTest, RepeatedWrongPasswordsMakeTheNextLoginsWaitAndSaySo) {
  options_.loginFailuresPerOperator = 3;
  options_.firstLoginWait = std::chrono::seconds(30);
  StartServer();
  auto attempt = [&](const std::string& op, const std::string& pw) {
    try {
      net::Login("127.0.0.1", server_->port(), op, pw);
      return std::string("ok");
    } catch (const TransportError& e) {
      return e.Message();
    }
  };
  for (int i = 0; i < 3; ++i) EXPECT_EQ(attempt("ADMIN", "errada"), "Operador ou senha inválidos.");
  // Now even the right password waits, and the wait is told.
  std::string refused = attempt("ADMIN", "senha");
  EXPECT_NE(refused.find("Aguarde 30 segundos"), std::string::npos) << refused;
  // An unknown operator is counted the same way, so waits tell nothing.
  for (int i = 0; i < 3; ++i) attempt("NINGUEM", "x");
  EXPECT_NE(attempt("NINGUEM", "x").find("Aguarde"), std::string::npos);
  // Another operator is not held up.
  EXPECT_EQ(attempt("CAIXA", "outra senha"), "ok");

  offsetSeconds_ = 31;
  EXPECT_EQ(attempt("ADMIN", "errada"), "Operador ou senha inválidos.");
  // Each further failure doubles the wait.
  EXPECT_NE(attempt("ADMIN", "senha").find("Aguarde 60 segundos"), std::string::npos);
  offsetSeconds_ = 31 + 61;
  EXPECT_EQ(attempt("ADMIN", "senha"), "ok");
  // A success clears the count.
  EXPECT_EQ(attempt("ADMIN", "errada"), "Operador ou senha inválidos.");
  EXPECT_EQ(attempt("ADMIN", "senha"), "ok");
}

TEST_F(HttpTransportTest, AnOperatorHoldsABoundedNumberOfSessionsAndTheOldestGo) {
  options_.maxSessionsPerOperator = 2;
  StartServer();
  std::vector<std::string> tokens;
  for (int i = 0; i < 3; ++i) tokens.push_back(net::Login("127.0.0.1", server_->port(), "ADMIN", "senha"));
  auto conn = Connection();
  contracts::SetSession({tokens[0], "ADMIN"});
  EXPECT_TRUE(IsFailure(conn->Call("Echo"), kSessionRefused));
  for (int i = 1; i < 3; ++i) {
    contracts::SetSession({tokens[i], "ADMIN"});
    EXPECT_TRUE(contracts::ResultSucceeded(conn->Call("Echo")));
  }
}

TEST(RequestLog, ValuesAreCutAndControlCharactersEscaped) {
  net::RequestLog log;
  log.path = "/call";
  log.method = "Get\x1b[2JParam";
  log.operatorCode = "DEM\r\nfalso /login operador=ADMIN";
  log.branch = std::string(1 << 20, 'B');
  log.outcome = "falha: " + std::string(1 << 20, 'x');
  std::string line = net::FormatRequestLog(log);
  EXPECT_LT(line.size(), 1200u);
  EXPECT_EQ(line.find('\x1b'), std::string::npos);
  EXPECT_EQ(line.find('\r'), std::string::npos);
  EXPECT_EQ(line.find('\n'), std::string::npos);
  EXPECT_NE(line.find("Get\\x1B[2JParam"), std::string::npos) << line.substr(0, 200);
  EXPECT_NE(line.find("DEM\\x0D\\x0Afalso"), std::string::npos);
  // A cut never splits a character.
  log.branch = std::string(119, 'B') + "ção";
  line = net::FormatRequestLog(log);
  EXPECT_NE(line.find(std::string(119, 'B') + "..."), std::string::npos);
}

// Behind a balancer on the same machine every clerk arrives from the loopback:
// failed logins are counted per address the balancer forwards.
TEST_F(HttpTransportTest, FailedLoginsAreCountedPerForwardedAddress) {
  options_.loginFailuresPerAddress = 2;
  options_.loginFailuresPerOperator = 100;
  options_.firstLoginWait = std::chrono::seconds(60);
  StartServer();
  httplib::Client c("127.0.0.1", server_->port());
  auto login = [&](const char* from, const std::string& op, const std::string& pw) {
    auto res = c.Post("/login", {{"X-Forwarded-For", std::string("192.0.2.9, ") + from}},
                      R"({"operator":")" + op + R"(","password":")" + pw + R"("})", "application/json");
    return res ? res->status : -1;
  };
  EXPECT_EQ(login("10.0.0.1", "NINGUEM", "x"), 401);
  EXPECT_EQ(login("10.0.0.1", "OUTRO", "x"), 401);
  EXPECT_EQ(login("10.0.0.1", "CAIXA", "outra senha"), 429);
  EXPECT_EQ(login("10.0.0.2", "CAIXA", "outra senha"), 200);
  auto logs = Logs();
  EXPECT_EQ(logs.back().client.rfind("10.0.0.2:", 0), 0u) << logs.back().client;
}
