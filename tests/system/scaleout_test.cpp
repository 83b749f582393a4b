// The company's set-up: PostgreSQL, three efetivos-server processes and HAProxy
// in front of them terminating TLS on 127.0.0.1. Sixteen clerks work through
// the balancer; one server is killed (SIGKILL) and another restarted in the
// middle. The clerks go on without logging in again, every write they saw
// accepted is stored once with its audit, and a write whose reply was lost is
// wholly there or wholly absent.

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "contracts/result.h"
#include "support/pg_cluster.h"
#include "system_fixture.h"

extern char** environ;

using namespace systest;

namespace {

constexpr int kClerks = 16;
constexpr int kDaysPerClerk = 3;

std::string FindHaproxy() {
  for (const char* p : {"/usr/sbin/haproxy", "/usr/bin/haproxy", "/usr/local/sbin/haproxy"})
    if (access(p, X_OK) == 0) return p;
  return {};
}

int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t n = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
  close(fd);
  return ntohs(a.sin_port);
}

bool Accepts(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(fd);
  return ok;
}

// HAProxy in the foreground, as a child of the test; stopped with it.
class Balancer {
public:
  Balancer(const std::string& program, const std::filesystem::path& dir, const std::string& pem,
           const std::vector<int>& servers)
      : port_(FreePort()) {
    std::string cfg = (dir / "haproxy.cfg").string();
    std::ofstream out(cfg);
    out << "global\n  maxconn 2000\n"
        << "defaults\n  mode http\n  option http-keep-alive\n  option forwardfor\n  timeout connect 2s\n"
        << "  timeout http-request 10s\n  timeout client 60s\n  timeout server 60s\n"
        << "  retries 3\n  option redispatch\n"
        << "frontend efetivos\n  bind 127.0.0.1:" << port_ << " ssl crt " << pem << "\n  default_backend servers\n"
        << "backend servers\n  balance roundrobin\n  option httpchk GET /health\n  http-check expect status 200\n"
        << "  default-server inter 300ms fall 1 rise 1\n";
    for (size_t i = 0; i < servers.size(); ++i)
      out << "  server s" << i + 1 << " 127.0.0.1:" << servers[i] << " check\n";
    out.close();
    log_ = (dir / "haproxy.log").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char*> argv{const_cast<char*>(program.c_str()), const_cast<char*>("-db"), const_cast<char*>("-f"),
                            cfg.data(), nullptr};
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    for (int i = 0; i < 200 && pid_ > 0 && !Accepts(port_); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ~Balancer() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  int port() const { return port_; }
  bool running() const { return pid_ > 0 && Accepts(port_); }
  std::string log() const {
    std::ifstream in(log_);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

private:
  int port_;
  pid_t pid_ = -1;
  std::string log_;
};

}  // namespace

TEST(ScaleOut, ClerksGoOnThroughTheBalancerWhileServersDieAndRestart) {
  std::string haproxy = FindHaproxy();
  if (haproxy.empty()) GTEST_SKIP() << "haproxy is not installed (scripts/deps.sh installs it)";
  EFET_PG_DATABASE(conninfo, "efet_scaleout");

  std::string tmpl = (std::filesystem::temp_directory_path() / "efet-scaleout-XXXXXX").string();
  ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
  std::filesystem::path dir = tmpl;
  std::string cert = (dir / "cert.pem").string(), key = (dir / "key.pem").string(), pem = (dir / "both.pem").string();
  std::string make = "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1"
                     " -addext subjectAltName=IP:127.0.0.1 -keyout " + key + " -out " + cert +
                     " 2>/dev/null && cat " + cert + " " + key + " > " + pem;
  ASSERT_EQ(std::system(make.c_str()), 0) << "openssl is needed for the balancer's certificate";

  const rtl::TDateTime today = rtl::Date();
  BuildCompany(conninfo, today);
  std::vector<std::unique_ptr<testsupport::ServerProcess>> servers;
  for (int i = 0; i < 3; ++i)
    servers.push_back(std::make_unique<testsupport::ServerProcess>(ServerProgram(), conninfo));
  Balancer balancer(haproxy, dir, pem, {servers[0]->port(), servers[1]->port(), servers[2]->port()});
  ASSERT_TRUE(balancer.running()) << balancer.log();

  net::HttpTransportOptions https;
  https.https = true;
  https.caFile = cert;
  https.readTimeoutMs = 60000;
  RegisterPerThreadSessions(https);
  Ledger ledger;
  Stats stats;
  std::vector<std::unique_ptr<Clerk>> clerks;
  for (int i = 0; i < kClerks; ++i) {
    const std::string branch = kBranches[i % kBranches.size()];
    auto ops = OperatorsOf(branch);
    const std::string op = ops[(i / kBranches.size()) % ops.size()];
    clerks.push_back(std::make_unique<Clerk>(balancer.port(), op, PasswordOf(op), branch, stats, ledger));
  }

  enum Phase { Before, Killed, Restarted, Done };
  std::atomic<int> phase{Before}, working{0};
  std::atomic<int> failedWrites{0}, failedReads{0}, partial{0}, sessionLost{0};
  std::vector<int> acceptedAfterRestart(kClerks, 0);
  std::mutex lookMutex;
  std::vector<std::thread> threads;
  for (int i = 0; i < kClerks; ++i) {
    threads.emplace_back([&, i] {
      Clerk& clerk = *clerks[i];
      clerk.Login();  // the only login of the run
      ++working;
      for (int it = 0; phase != Done; ++it) {
        rtl::TDateTime day = today - (1 + i * kDaysPerClerk + it % kDaysPerClerk);
        bool after = phase == Restarted;
        try {
          for (Write& w : clerk.EnterDay(day, it)) {
            if (w.accepted) {
              if (after) ++acceptedAfterRestart[i];
              continue;
            }
            ++failedWrites;
            if (w.message.find("Sessão expirada") != std::string::npos) ++sessionLost;
            // A write whose reply was lost: wholly there, or wholly absent.
            auto c = db::Open(conninfo);
            Found f = Look(*c, w);
            if (f == Found::Partial) ++partial;
            if (f == Found::Present) ledger.Accept(w.changes);
          }
        } catch (const std::exception& e) {  // a read's CheckResultServ raised
          ++failedReads;
          if (std::string(e.what()).find("Sessão expirada") != std::string::npos) ++sessionLost;
        }
      }
    });
  }
  while (working < kClerks) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const double seconds = LoadSeconds(2.0);
  auto pause = [&](double s) { std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(s * 1000))); };
  pause(seconds);
  long acceptedBeforeKill = stats.accepted.load();
  servers[0]->Kill();
  phase = Killed;
  pause(seconds);
  servers[1]->Stop();
  servers[1]->Restart();
  phase = Restarted;
  pause(seconds * 1.5);
  phase = Done;
  for (auto& t : threads) t.join();

  ASSERT_GT(acceptedBeforeKill, kClerks) << "the clerks were working before the first server died";
  EXPECT_EQ(sessionLost, 0) << "a clerk lost its session";
  EXPECT_EQ(partial, 0) << "a write is partly in the database";
  for (int i = 0; i < kClerks; ++i)
    EXPECT_GT(acceptedAfterRestart[i], 0) << "clerk " << i << " did not go on after the restart";
  EXPECT_TRUE(stats.failures.empty()) << stats.failures.front();
  ExpectDatabaseMatches(conninfo, ledger);
  std::printf("[scaleout] clerks=%d accepted=%ld failed-writes=%d failed-reads=%d accepted-before-kill=%ld\n", kClerks,
              stats.accepted.load(), failedWrites.load(), failedReads.load(), acceptedBeforeKill);
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}
