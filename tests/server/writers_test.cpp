// Saves on SQLite: queued in the server in arrival order and committed in
// groups, and a lock that still could not be had reported as the server being
// busy.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "server/group_commit.h"
#include "support/sqlite_temp.h"
#include "server_fixture.h"

namespace {

class SqliteWriters : public ServerTest {};

// 32 clerks save the turnstile count at once, each reading it first: every
// save lands or meets the other clerks' newer reading, none waits out the
// database's busy timeout or fails in the database.
TEST_P(SqliteWriters, ThirtyTwoClerksSavingAtOnceAllGetAnAnswer) {
  std::atomic<int> saved{0}, stale{0};
  std::mutex m;
  std::vector<std::string> other;
  std::vector<std::thread> clerks;
  for (int t = 0; t < 32; ++t)
    clerks.emplace_back([&, t] {
      for (int i = 0; i < 4; ++i) {
        data::TClientDataSet cat;
        cat.SetData(Call("GetEfetCatraca", {"0001", Day(D), "00010"})[1].asPacket());
        cat.Edit();
        cat.FieldByName("QTEFETCATINI").SetAsFloat(100 + t);
        cat.FieldByName("QTEFETCATFIM").SetAsFloat(1000 + i);
        cat.Post();
        rtl::Variant r = Call("SetEfetCat", {cat.Delta()});
        std::string text = contracts::ResultSucceeded(r) ? "" : contracts::ResultMessage(r);
        if (text.empty()) ++saved;
        else if (text.find("alterado por outro usuário desde a leitura") != std::string::npos) ++stale;
        else {
          std::lock_guard lock(m);
          other.push_back(text);
        }
      }
    });
  for (auto& c : clerks) c.join();
  EXPECT_TRUE(other.empty()) << other.front();
  EXPECT_GT(saved, 0);
  EXPECT_EQ(saved + stale, 32 * 4);
}

// A write lock held elsewhere past the busy timeout: the save says the server
// is busy and that nothing was saved, not that someone changed the record.
TEST_P(SqliteWriters, ALockHeldPastTheBusyTimeoutIsReportedAsBusy) {
  data::TClientDataSet cat;
  Load(cat, Ok(Call("GetEfetCatraca", {"0001", Day(D), "00010"})));
  cat.Edit();
  cat.FieldByName("QTEFETCATINI").SetAsFloat(10);
  cat.FieldByName("QTEFETCATFIM").SetAsFloat(20);
  cat.Post();
  auto holder = db::Open(cs_);
  holder->begin();  // BEGIN IMMEDIATE: the write lock
  std::string text = FailText(Call("SetEfetCat", {cat.Delta()}));
  holder->rollback();
  EXPECT_EQ(text, "Servidor ocupado: o banco de dados não liberou os registros a tempo e nada foi gravado. "
                  "Tente novamente em instantes.");
  Ok(Call("SetEfetCat", {cat.Delta()}));
}

INSTANTIATE_TEST_SUITE_P(Sqlite, SqliteWriters, ::testing::Values(Backend::SQLite), BackendName);

// A group of saves on a real SQLite file: the leader's own save is held until
// the others have queued behind it, so they all run as the next group.
class Group {
public:
  testsupport::TempSqlite file{"efet-group"};
  std::unique_ptr<db::Connection> leader = db::Open(file.connectionString());
  server::GroupCommit writers;
  std::mutex m;
  std::condition_variable cv;
  bool held = true;
  std::vector<int> order;

  Group() {
    leader->execScript(
        "CREATE TABLE P (ID INTEGER PRIMARY KEY);"
        "CREATE TABLE T (ID INTEGER PRIMARY KEY, P INTEGER REFERENCES P(ID) DEFERRABLE INITIALLY DEFERRED)");
  }
  // Runs the held save, then each of saves on a thread of its own, queued in
  // that order; returns each one's answer ("ok", or its failure).
  std::vector<std::string> Run(const std::vector<std::function<std::string(db::Connection&)>>& saves) {
    std::vector<std::string> answers(saves.size());
    std::thread first([&] {
      server::GroupCommit::Save s{[&](db::Connection&) {
                                    std::unique_lock lock(m);
                                    cv.wait(lock, [&] { return !held; });
                                    return false;
                                  },
                                  [](const db::DbError&) {}};
      writers.Run(*leader, s);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::vector<std::thread> threads;
    std::vector<std::unique_ptr<db::Connection>> own;
    for (size_t i = 0; i < saves.size(); ++i) {
      own.push_back(db::Open(file.connectionString()));
      threads.emplace_back([&, i, c = own.back().get()] {
        server::GroupCommit::Save s{[&, i](db::Connection& on) {
                                      {
                                        std::lock_guard lock(m);
                                        order.push_back(static_cast<int>(i));
                                      }
                                      answers[i] = saves[i](on);
                                      return false;
                                    },
                                    [&, i](const db::DbError& e) { answers[i] = std::string("failed: ") + e.what(); }};
        writers.Run(*c, s);
      });
      // Each arrives well after the one before.
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    {
      std::lock_guard lock(m);
      held = false;
    }
    cv.notify_all();
    first.join();
    for (auto& t : threads) t.join();
    return answers;
  }
  std::vector<int64_t> Stored(const char* table) {
    std::vector<int64_t> ids;
    auto check = db::Open(file.connectionString());
    for (auto& row : check->query(std::string("SELECT ID FROM ") + table + " ORDER BY ID").rows)
      ids.push_back(row[0].toInt());
    return ids;
  }
};

// A save as a method makes it: its own transaction, committed or rolled back.
std::function<std::string(db::Connection&)> Insert(int id, bool refuse = false, int parent = 0) {
  return [=](db::Connection& c) {
    db::Transaction t(c);
    c.exec("INSERT INTO T (ID, P) VALUES (:ID, :P)",
           {{"ID", rtl::Variant(id)}, {"P", parent ? rtl::Variant(parent) : rtl::Variant::Null()}});
    if (refuse) return std::string("refused");  // t rolls back
    t.commit();
    return std::string("ok");
  };
}

TEST(GroupCommit, SavesRunInArrivalOrderAndARefusedOneLeavesNoTrace) {
  Group g;
  std::vector<std::function<std::string(db::Connection&)>> saves;
  for (int i = 0; i < 8; ++i) saves.push_back(Insert(i + 1, i == 3));
  auto answers = g.Run(saves);
  EXPECT_EQ(g.order, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(answers, (std::vector<std::string>{"ok", "ok", "ok", "refused", "ok", "ok", "ok", "ok"}));
  EXPECT_EQ(g.Stored("T"), (std::vector<int64_t>{1, 2, 3, 5, 6, 7, 8}));
}

// The third save breaks a constraint checked only at commit: the group's
// commit fails, and so does every save of it, with nothing stored.
TEST(GroupCommit, AFailedCommitFailsEverySaveOfTheGroup) {
  Group g;
  auto answers = g.Run({Insert(1), Insert(2), Insert(3, false, 99), Insert(4)});
  ASSERT_EQ(answers.size(), 4u);
  for (const auto& a : answers) EXPECT_EQ(a.rfind("failed: ", 0), 0u) << a;
  EXPECT_TRUE(g.Stored("T").empty());
  // The queue goes on: the next group commits.
  answers = g.Run({Insert(5), Insert(6)});
  EXPECT_EQ(answers, (std::vector<std::string>{"ok", "ok"}));
  EXPECT_EQ(g.Stored("T"), (std::vector<int64_t>{5, 6}));
}

}  // namespace
