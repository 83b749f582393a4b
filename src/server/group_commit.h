#pragma once
// Saves of one SQLite database, served in the order they arrived and
// committed in groups. SQLite's own busy handler lets waiting writers poll for
// the lock in no order, and each commit waits for its own sync to disk; here
// the saves queue before the lock is asked for, and whichever save finds no
// group running leads the next one: on its own connection it takes the lock
// once, runs every queued save in arrival order, each inside a savepoint of
// its own, and commits once for all of them. So a save waits for at most one
// group ahead of it and one sync, however many clerks save at once.
//
// A save that is refused rolls back its own savepoint and keeps its own
// answer; the others are not touched. Nobody's answer is given before the
// group's commit, and when the commit (or the group's transaction) fails,
// every save of the group fails with nothing stored.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/db/connection.h"

namespace server {

class GroupCommit {
public:
  struct Save {
    // Runs the save on the connection it is given (the group leader's, with
    // begin, commit and rollback made savepoints); sets its own answer and
    // returns whether the connection failed under it.
    std::function<bool(db::Connection&)> run;
    // The group could not be committed: the save's answer becomes this failure.
    std::function<void(const db::DbError&)> failed;
  };

  // Runs save in its turn and returns once its group is committed or rolled
  // back. Returns whether own, when it led a group, must not be used again.
  bool Run(db::Connection& own, Save& save);

  // The most saves one transaction holds.
  size_t maxGroup = 64;

private:
  struct Waiting {
    Save* save;
    bool done = false;
  };
  bool RunGroup(db::Connection& own, const std::vector<Waiting*>& group);

  std::mutex m_;
  std::condition_variable cv_;
  std::deque<Waiting*> queue_;
  bool leading_ = false;
};

}  // namespace server
