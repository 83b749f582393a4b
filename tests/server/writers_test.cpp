// Saves on SQLite: queued in the server in arrival order, and a lock that
// still could not be had reported as the server being busy.

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "server/writer_queue.h"
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

TEST(WriterQueue, TurnsAreServedInArrivalOrder) {
  server::WriterQueue q;
  std::vector<int> order;
  std::mutex m;
  std::vector<std::thread> waiting;
  {
    server::WriterQueue::Turn first(q);
    for (int i = 0; i < 8; ++i) {
      waiting.emplace_back([&, i] {
        server::WriterQueue::Turn turn(q);
        std::lock_guard lock(m);
        order.push_back(i);
      });
      // Each arrives well after the one before.
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
  }
  for (auto& t : waiting) t.join();
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
}

}  // namespace
