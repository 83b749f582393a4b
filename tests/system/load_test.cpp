// Many branch clerks at once against a real efetivos-server process, each with
// its own login: headcounts, clients, turnstiles and shifts of their own days,
// plus pairs of clerks that write the same row from the same stale read. After
// the run the database holds exactly what was accepted, the audit trail
// accounts for every accepted change, and nothing failed but the provoked
// conflicts.

#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/rtl/format.h"
#include "support/pg_cluster.h"
#include "support/sqlite_temp.h"
#include "system_fixture.h"

using namespace systest;

namespace {

constexpr int kDaysPerClerk = 3;
constexpr int kConflictRounds = 2;
// A stale read ("... desde a leitura"), or on PostgreSQL an insert race ("... ao mesmo tempo").
const char* const kStale = "Registro alterado por outro usuário";

struct Result {
  long requests, timedRequests, accepted, conflicts;
  double seconds;
};

// Clerk i works on branch kBranches[(i / 2) % 4]; clerks 2k and 2k+1 share a
// branch and, for the provoked conflicts, one contested day.
Result RunLoad(const std::string& conninfo, int port, int sessions, double seconds, Ledger& ledger, Stats& stats,
               const rtl::TDateTime today) {
  std::vector<std::unique_ptr<std::barrier<>>> pairs;
  for (int k = 0; k < sessions / 2; ++k) pairs.push_back(std::make_unique<std::barrier<>>(2));
  // The timed part starts when every clerk has logged in and the provoked
  // conflicts are done.
  using Clock = std::chrono::steady_clock;
  Clock::time_point start, deadline;
  long requestsBefore = 0;
  auto begin = [&]() noexcept {
    start = Clock::now();
    deadline = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    requestsBefore = stats.requests.load();
  };
  std::barrier ready(sessions, begin);
  const auto t0 = Clock::now();
  std::vector<std::thread> threads;
  for (int i = 0; i < sessions; ++i) {
    threads.emplace_back([&, i] {
      const std::string branch = kBranches[(i / 2) % kBranches.size()];
      const auto ops = OperatorsOf(branch);
      const std::string op = ops[i % 2 == 0 ? 0 : ops.size() - 1];
      Clerk clerk(port, op, PasswordOf(op), branch, stats, ledger);
      bool waited = false, paired = false;
      try {
        clerk.Login();
        // Both clerks of a pair read the same row, then both send: one wins.
        std::barrier<>& pair = *pairs[i / 2];
        rtl::TDateTime contested = today - (100 + i / 2);
        for (int round = 0; round < kConflictRounds; ++round) {
          double value = 500 + round * 10 + i % 2;
          Clerk::Pending p = round % 2 == 0 ? clerk.ReadServiceForConflict(contested, value)
                                            : clerk.ReadClientForConflict(contested, value);
          pair.arrive_and_wait();
          Write w = clerk.Send(std::move(p));
          if (!w.accepted) {
            ++stats.conflicts;
            std::lock_guard l(stats.m);
            stats.conflictMessages.push_back(w.method + ": " + w.message);
          }
          pair.arrive_and_wait();
        }
        paired = waited = true;
        ready.arrive_and_wait();
        for (int it = 0; std::chrono::steady_clock::now() < deadline; ++it) {
          rtl::TDateTime day = today - (1 + i * kDaysPerClerk + it % kDaysPerClerk);
          for (const Write& w : clerk.EnterDay(day, it))
            if (!w.accepted) stats.Fail(op + " " + w.method + ": " + w.message);
        }
      } catch (const std::exception& e) {
        stats.Fail(op + " after " +
                   std::to_string(std::chrono::duration<double>(Clock::now() - t0).count()) + " s: " + e.what());
        // Neither the partner nor the others wait for a clerk that gave up.
        if (!paired) pairs[i / 2]->arrive_and_drop();
        if (!waited) ready.arrive_and_drop();
      }
    });
  }
  for (auto& t : threads) t.join();
  double took = std::chrono::duration<double>(Clock::now() - start).count();
  return {stats.requests.load(), stats.requests.load() - requestsBefore, stats.accepted.load(), stats.conflicts.load(),
          took};
}

class Load : public ::testing::TestWithParam<int> {
protected:
  void Run(const std::string& dbName, const std::string& conninfo) {
    const int sessions = GetParam();
    const rtl::TDateTime today = rtl::Date();
    BuildCompany(conninfo, today);
    testsupport::ServerProcess server(ServerProgram(), conninfo);
    RegisterPerThreadSessions();
    Ledger ledger;
    Stats stats;
    Result r = RunLoad(conninfo, server.port(), sessions, LoadSeconds(0.75), ledger, stats, today);
    std::printf("[load] db=%s sessions=%d seconds=%.1f requests=%ld accepted=%ld refused-conflicts=%ld req/s=%.0f\n",
                dbName.c_str(), sessions, r.seconds, r.requests, r.accepted, r.conflicts, r.timedRequests / r.seconds);

    // Nothing failed that was not provoked; each provoked conflict had one
    // loser, refused with the message that tells the clerk to reload.
    for (size_t k = 0; k < stats.failures.size() && k < 5; ++k) ADD_FAILURE() << stats.failures[k];
    EXPECT_EQ(stats.failed.load(), 0);
    EXPECT_EQ(r.conflicts, static_cast<long>(sessions / 2 * kConflictRounds));
    for (const auto& m : stats.conflictMessages) EXPECT_NE(m.find(kStale), std::string::npos) << m;
    EXPECT_GT(r.accepted, sessions * 4L);

    ExpectDatabaseMatches(conninfo, ledger);

    // The audit command of the server reports the same number of changes for
    // a contested day as the ledger holds.
    size_t n = 0;
    for (const auto& c : ledger.changes())
      if (c.branch == kBranches[0] && c.day == today - 100 && AuditText(c.before) != AuditText(c.after)) ++n;
    std::string out = server.Run({"audit", "--branch", kBranches[0], "--date",
                                  rtl::FormatDateTime("dd/mm/yyyy", today - 100)});
    EXPECT_NE(out.find(": " + std::to_string(n) + " alterações"), std::string::npos) << out;
    EXPECT_NE(out.find("QTCLIEFETCAR: (vazio) -> 50"), std::string::npos) << out;
  }
};

TEST_P(Load, SQLite) {
  testsupport::TempSqlite file("efet-load");
  Run("sqlite", file.connectionString());
}

TEST_P(Load, PostgreSQL) {
  EFET_PG_DATABASE(conninfo, "efet_load");
  Run("postgresql", conninfo);
}

INSTANTIATE_TEST_SUITE_P(Sessions, Load, ::testing::Values(2, 8, 32), [](const auto& info) {
  return std::to_string(info.param) + "Sessions";
});

}  // namespace
