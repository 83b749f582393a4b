#pragma once
// Writers of one SQLite database, served in the order they arrived. SQLite's
// own busy handler lets waiting writers poll for the lock in no order, so
// under load one save could wait many times longer than the rest; queued
// here, before the lock is asked for, each waits only for those ahead of it.

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace server {

class WriterQueue {
public:
  class Turn {
  public:
    explicit Turn(WriterQueue& q) : q_(q) {
      std::unique_lock lock(q_.m_);
      const uint64_t mine = q_.next_++;
      q_.cv_.wait(lock, [&] { return q_.serving_ == mine; });
    }
    ~Turn() {
      {
        std::lock_guard lock(q_.m_);
        ++q_.serving_;
      }
      q_.cv_.notify_all();
    }
    Turn(const Turn&) = delete;
    Turn& operator=(const Turn&) = delete;

  private:
    WriterQueue& q_;
  };

private:
  std::mutex m_;
  std::condition_variable cv_;
  uint64_t next_ = 0;     // the ticket the next arrival takes
  uint64_t serving_ = 0;  // the ticket whose holder may write
};

}  // namespace server
