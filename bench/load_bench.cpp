// Latency under hostile and heavy load, against a real efetivos-server process
// on a SQLite file, each figure beside the same measurement without the load,
// in the same run:
//
//   login   a clerk's logins (OP2, right password) while 8 threads guess
//           passwords: (a) one operator from one address, (b) unknown operators
//           from 254 addresses (each refused after a real check's time, with
//           no check run); 200 logins each, so p99 is not the worst alone,
//           taken in turns with the other two
//   flood   a clerk's GetCardaDia while another client on its address holds
//           300 idle and 300 slow-header connections open
//   saves   PostCard of 32 clerks at once (each on days of its own)
//
//   load_bench [login|flood|saves]...       (all three when none is named)
//   EFET_LOAD_SECONDS=N                     length of the saves run (default 10)
//
// Prints one line per figure: count, p50, p99 and the worst, in milliseconds.
// The other addresses arrive as X-Forwarded-For, which the server trusts from
// the loopback, as from a balancer on its machine.

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "flood.h"
#include "support/sqlite_temp.h"
#include "system_fixture.h"

using namespace systest;
using Clock = std::chrono::steady_clock;

namespace {

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

void Report(const char* what, std::vector<double> ms) {
  if (ms.empty()) {
    std::printf("%-58s n=0\n", what);
    return;
  }
  std::sort(ms.begin(), ms.end());
  auto at = [&](double q) { return ms[std::min(ms.size() - 1, static_cast<size_t>(q * (ms.size() - 1) + 0.5))]; };
  std::printf("%-58s n=%-5zu p50 %8.2f ms   p99 %8.2f ms   max %8.2f ms\n", what, ms.size(), at(0.5), at(0.99),
              ms.back());
  std::fflush(stdout);
}

struct Company {
  testsupport::TempSqlite file{"efet-loadbench"};
  rtl::TDateTime today = rtl::Date();
  std::unique_ptr<testsupport::ServerProcess> server;
  Company() {
    BuildCompany(file.connectionString(), today);
    server = std::make_unique<testsupport::ServerProcess>(ServerProgram(), file.connectionString());
    net::HttpTransportOptions o;
    o.readTimeoutMs = 30000;
    RegisterPerThreadSessions(o);
  }
  int port() const { return server->port(); }
};

std::vector<double> TimeLogins(int port, int n) {
  std::vector<double> ms;
  for (int i = 0; i < n; ++i) {
    auto t0 = Clock::now();
    try {
      net::Login("127.0.0.1", port, "OP2", "dois");
      ms.push_back(Ms(Clock::now() - t0));
    } catch (const std::exception& e) {
      std::printf("  login failed: %s\n", e.what());
    }
  }
  return ms;
}

// Eight threads guessing until stopped; manyAddresses rotates the forwarded
// address and the operator with every guess.
struct Guessing {
  std::atomic<bool> stop{false};
  std::atomic<long> guesses{0}, waited{0};
  std::vector<std::thread> threads;
  // round keeps the made-up operators of each round new.
  Guessing(int port, bool manyAddresses, int round = 0) {
    for (int t = 0; t < 8; ++t)
      threads.emplace_back([this, port, manyAddresses, t, round] {
        httplib::Client c("127.0.0.1", port);
        c.set_tcp_nodelay(true);
        for (int i = 0; !stop; ++i) {
          std::string from = manyAddresses ? "203.0.113." + std::to_string(1 + (t * 31 + i) % 254) : "203.0.113.7";
          std::string op = manyAddresses ? "X" + std::to_string((round * 8 + t) * 100000 + i) : "OP1";
          auto r = c.Post("/login", {{"X-Forwarded-For", from}},
                          R"({"operator":")" + op + R"(","password":"chute)" + std::to_string(i) + R"("})",
                          "application/json");
          ++guesses;
          if (r && r->status == 429) ++waited;
        }
      });
  }
  ~Guessing() {
    stop = true;
    for (auto& t : threads) t.join();
  }
};

// The three figures are taken in turns, 20 logins at a time, so that each
// sees the same drift of the machine's load.
void Logins() {
  Company co;
  const int rounds = 10, perRound = 20;
  std::vector<double> quiet, oneOperator, unknownOperators;
  long guesses[2] = {0, 0}, waited[2] = {0, 0};
  auto add = [](std::vector<double>& to, const std::vector<double>& ms) { to.insert(to.end(), ms.begin(), ms.end()); };
  for (int r = 0; r < rounds; ++r) {
    add(quiet, TimeLogins(co.port(), perRound));
    for (int many = 0; many < 2; ++many) {
      Guessing g(co.port(), many == 1, r);
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      add(many ? unknownOperators : oneOperator, TimeLogins(co.port(), perRound));
      guesses[many] += g.guesses.load();
      waited[many] += g.waited.load();
    }
  }
  Report("login: clerk's login, no flood", quiet);
  Report("login: clerk's login, guessing OP1 from one address", oneOperator);
  std::printf("  (%ld guesses, %ld told to wait)\n", guesses[0], waited[0]);
  Report("login: clerk's login, guessing unknown ops from 254 addresses", unknownOperators);
  std::printf("  (%ld guesses, %ld told to wait)\n", guesses[1], waited[1]);
}

std::vector<double> TimeReads(Clerk& clerk, rtl::TDateTime today, int n) {
  std::vector<double> ms;
  for (int i = 0; i < n; ++i) {
    auto t0 = Clock::now();
    try {
      clerk.Read("GetCardaDia", {kBranches[0], Variant::FromDate(today - i % 7), ""});
      ms.push_back(Ms(Clock::now() - t0));
    } catch (const std::exception& e) {
      std::printf("  GetCardaDia failed: %s\n", e.what());
    }
  }
  return ms;
}

void FloodRun() {
  Company co;
  Stats stats;
  Ledger ledger;
  Clerk clerk(co.port(), "OP1", "um", kBranches[0], stats, ledger);
  clerk.Login();
  TimeReads(clerk, co.today, 50);  // warm
  Report("flood: GetCardaDia, no flood", TimeReads(clerk, co.today, 500));
  Flood flood(co.port(), 300, 300);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  Report("flood: GetCardaDia, 300 idle + 300 slow-header connections", TimeReads(clerk, co.today, 500));
  std::printf("  (flood: %d open now, %ld closed by the server so far)\n", flood.open(), flood.closedByServer());
}

void Saves() {
  Company co;
  const int clerks = 32;
  double seconds = 10;
  if (const char* s = std::getenv("EFET_LOAD_SECONDS")) seconds = std::atof(s);
  std::vector<std::vector<double>> perClerk(clerks);
  std::atomic<long> refused{0};
  std::vector<std::thread> threads;
  Stats stats;
  Ledger ledger;
  auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds + 2));
  for (int i = 0; i < clerks; ++i)
    threads.emplace_back([&, i] {
      const std::string branch = kBranches[(i / 2) % kBranches.size()];
      const auto ops = OperatorsOf(branch);
      const std::string op = ops[i % 2 == 0 ? 0 : ops.size() - 1];
      Clerk clerk(co.port(), op, PasswordOf(op), branch, stats, ledger);
      clerk.Login();
      for (int it = 0; Clock::now() < end; ++it) {
        rtl::TDateTime day = co.today - (1 + i * 3 + it % 3);
        Clerk::Pending p = clerk.ReadServiceForConflict(day, 1000 + it);
        auto t0 = Clock::now();
        Write w = clerk.Send(std::move(p));
        if (!w.accepted) ++refused;
        else perClerk[i].push_back(Ms(Clock::now() - t0));
      }
    });
  for (auto& t : threads) t.join();
  std::vector<double> all;
  for (auto& v : perClerk) all.insert(all.end(), v.begin(), v.end());
  Report("saves: PostCard, 32 clerks at once on SQLite", all);
  std::printf("  (%ld saves not accepted)\n", refused.load());
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> what(argv + 1, argv + argc);
  if (what.empty()) what = {"login", "flood", "saves"};
  std::printf("load_bench: efetivos-server on SQLite, %u cores, load average at start: ",
              std::thread::hardware_concurrency());
  if (FILE* f = std::fopen("/proc/loadavg", "r")) {
    double a, b, c;
    if (std::fscanf(f, "%lf %lf %lf", &a, &b, &c) == 3) std::printf("%.2f %.2f %.2f", a, b, c);
    std::fclose(f);
  }
  std::printf("\n");
  for (const auto& w : what) {
    if (w == "login") Logins();
    else if (w == "flood") FloodRun();
    else if (w == "saves") Saves();
    else {
      std::fprintf(stderr, "usage: load_bench [login|flood|saves]...\n");
      return 2;
    }
  }
}
