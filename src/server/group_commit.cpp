#include "server/group_commit.h"

#include <optional>

namespace server {

namespace {

// The group's connection as one save sees it: its transaction is a savepoint
// of the group's, so a refusal undoes only this save's changes.
class SavepointConnection : public db::Connection {
public:
  explicit SavepointConnection(db::Connection& c) : c_(c) {}

  db::Dialect dialect() const override { return c_.dialect(); }
  int64_t exec(std::string_view sql, const db::Params& params) override { return c_.exec(sql, params); }
  db::Result query(std::string_view sql, const db::Params& params) override { return c_.query(sql, params); }
  void execScript(std::string_view sql) override { c_.execScript(sql); }
  void begin() override {
    if (open_) throw db::DbError(db::ErrorKind::Usage, "A transaction is already running on this connection");
    c_.execScript("SAVEPOINT efet_save");
    open_ = true;
  }
  void commit() override {
    if (!open_) throw db::DbError(db::ErrorKind::Usage, "No transaction is running on this connection");
    open_ = false;
    c_.execScript("RELEASE efet_save");
  }
  void rollback() override {
    if (!open_) return;
    open_ = false;
    c_.execScript("ROLLBACK TO efet_save; RELEASE efet_save");
  }
  bool inTransaction() const override { return open_; }
  bool beginRead() override {
    throw db::DbError(db::ErrorKind::Usage, "A transaction is already running on this connection");
  }
  int64_t lastInsertId() override { return c_.lastInsertId(); }
  void clearStatementCache() override { c_.clearStatementCache(); }
  size_t cachedStatements() const override { return c_.cachedStatements(); }

private:
  db::Connection& c_;
  bool open_ = false;
};

}  // namespace

bool GroupCommit::Run(db::Connection& own, Save& save) {
  Waiting me{&save};
  std::unique_lock lock(m_);
  queue_.push_back(&me);
  cv_.wait(lock, [&] { return me.done || (!leading_ && queue_.front() == &me); });
  if (me.done) return false;  // a group led by another save ran it
  leading_ = true;
  std::vector<Waiting*> group;
  while (!queue_.empty() && group.size() < std::max<size_t>(maxGroup, 1)) {
    group.push_back(queue_.front());
    queue_.pop_front();
  }
  lock.unlock();
  bool broken = RunGroup(own, group);
  lock.lock();
  for (Waiting* w : group) w->done = true;
  leading_ = false;
  lock.unlock();
  cv_.notify_all();
  return broken;
}

bool GroupCommit::RunGroup(db::Connection& own, const std::vector<Waiting*>& group) {
  try {
    own.begin();  // the write lock, where the busy timeout applies
  } catch (const db::DbError& e) {
    for (Waiting* w : group) w->save->failed(e);
    return e.kind() == db::ErrorKind::Connection;
  }
  std::optional<db::DbError> lost;
  bool broken = false;
  for (Waiting* w : group) {
    SavepointConnection c(own);
    try {
      broken = w->save->run(c);
    } catch (...) {
      broken = true;
    }
    // A save that broke the connection, or an error after which SQLite undid
    // the whole transaction: what the group did so far cannot be committed.
    if (broken || !own.inTransaction()) {
      lost.emplace(db::ErrorKind::Busy, "the group's transaction was lost while a save ran");
      break;
    }
  }
  if (!lost) {
    try {
      own.commit();
      return false;
    } catch (const db::DbError& e) {
      lost = e;
    }
  }
  try {
    own.rollback();
  } catch (...) {
    broken = true;
  }
  for (Waiting* w : group) w->save->failed(*lost);
  return broken || lost->kind() == db::ErrorKind::Connection;
}

}  // namespace server
