// The server process killed (SIGKILL) in the middle of the clerks' work and
// started again on the same database: every write a clerk saw accepted is
// there with its audit rows, no delta is half there, the failed calls came
// back as failed results with a message, and work goes on after the restart
// without a new login.

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "contracts/result.h"
#include "support/pg_cluster.h"
#include "support/sqlite_temp.h"
#include "system_fixture.h"

using namespace systest;

namespace {

constexpr int kClerks = 8;
constexpr int kDaysPerClerk = 3;

void KillMidLoad(const std::string& dbName, const std::string& conninfo) {
  const rtl::TDateTime today = rtl::Date();
  BuildCompany(conninfo, today);
  testsupport::ServerProcess server(ServerProgram(), conninfo);
  RegisterPerThreadSessions();
  Ledger ledger;
  Stats stats;
  std::vector<Write> failed(kClerks);
  std::vector<std::string> failedReads(kClerks);
  std::vector<std::unique_ptr<Clerk>> clerks;
  for (int i = 0; i < kClerks; ++i) {
    const std::string branch = kBranches[i % kBranches.size()];
    const std::string op = OperatorsOf(branch).front();
    std::string password;
    for (const auto& o : Operators())
      if (o.code == op) password = o.password;
    clerks.push_back(std::make_unique<Clerk>(server.port(), op, password, branch, stats, ledger));
  }
  std::atomic<int> working{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kClerks; ++i) {
    threads.emplace_back([&, i] {
      Clerk& clerk = *clerks[i];
      clerk.Login();
      ++working;
      // Work until a call fails; the clerk then stops, as one whose screen
      // shows an error would.
      for (int it = 0;; ++it) {
        rtl::TDateTime day = today - (1 + i * kDaysPerClerk + it % kDaysPerClerk);
        try {
          for (Write& w : clerk.EnterDay(day, it))
            if (!w.accepted) {
              failed[i] = std::move(w);
              return;
            }
        } catch (const std::exception& e) {  // a read's CheckResultServ raised
          failedReads[i] = e.what();
          return;
        }
      }
    });
  }
  while (working < kClerks) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  long acceptedBeforeKill = stats.accepted.load();
  server.Kill();
  for (auto& t : threads) t.join();
  ASSERT_GT(acceptedBeforeKill, kClerks) << "the clerks were working when the server died";

  // Every clerk saw its failure as a failed result with the transport's message.
  int failedWrites = 0;
  for (int i = 0; i < kClerks; ++i) {
    if (!failed[i].method.empty()) {
      ++failedWrites;
      EXPECT_FALSE(failed[i].accepted);
      EXPECT_FALSE(failed[i].message.empty()) << failed[i].method;
      EXPECT_NE(failed[i].message.find("servidor de aplicação"), std::string::npos) << failed[i].message;
    } else {
      EXPECT_FALSE(failedReads[i].empty()) << "clerk " << i << " stopped without a failure";
      EXPECT_NE(failedReads[i].find("servidor de aplicação"), std::string::npos) << failedReads[i];
    }
  }

  server.Restart();
  auto c = db::Open(conninfo);
  int committedUnheard = 0;
  for (const auto& w : failed) {
    if (w.method.empty()) continue;
    Found f = Look(*c, w);
    EXPECT_NE(f, Found::Partial) << w.method << " is partly in the database";
    if (f == Found::Present) {
      // Committed before the kill, reply lost: the write is whole, with its audit.
      ++committedUnheard;
      ledger.Accept(w.changes);
    }
  }
  ExpectDatabaseMatches(conninfo, ledger);

  // Sessions live in the database: after the restart each clerk goes on
  // without logging in again, and its work is accepted.
  long before = stats.accepted.load();
  for (int i = 0; i < kClerks; ++i) {
    Clerk& clerk = *clerks[i];
    Variant still = clerk.Call("GetParamGeral", {});
    EXPECT_TRUE(contracts::ResultSucceeded(still)) << still.debugString();
    // Fresh reads, new values: nothing of the killed server is needed.
    for (const Write& w : clerk.EnterDay(today - (1 + i * kDaysPerClerk + 2), 1000))
      EXPECT_TRUE(w.accepted) << w.method << ": " << w.message;
  }
  EXPECT_EQ(stats.accepted.load() - before, kClerks * 4L);
  ExpectDatabaseMatches(conninfo, ledger);
  std::printf("[fault] db=%s clerks=%d accepted-before-kill=%ld failed-writes=%d committed-but-unheard=%d\n",
              dbName.c_str(), kClerks, acceptedBeforeKill, failedWrites, committedUnheard);
}

TEST(Fault, KillMidLoadSQLite) {
  testsupport::TempSqlite file("efet-fault");
  KillMidLoad("sqlite", file.connectionString());
}

TEST(Fault, KillMidLoadPostgreSQL) {
  EFET_PG_DATABASE(conninfo, "efet_fault");
  KillMidLoad("postgresql", conninfo);
}

}  // namespace
