#pragma once
// Connections that only wait, held open against a server by one client: idle
// ones that never send a byte, and slow ones that send a request's headers a
// line at a time and never finish them. One the server closes is opened again
// (each pass, every 100 ms), so the flood lasts as long as the object does.

#include <atomic>
#include <thread>
#include <vector>

namespace systest {

class Flood {
public:
  Flood(int port, int idle, int slow);
  ~Flood();
  Flood(const Flood&) = delete;
  Flood& operator=(const Flood&) = delete;

  // Connections open now, and how many the server has closed so far.
  int open() const { return open_.load(); }
  long closedByServer() const { return closed_.load(); }

private:
  struct Conn {
    int fd = -1;
    bool slow = false;
    int lines = 0;
  };
  void run();
  void reopen(Conn& c);

  int port_;
  std::vector<Conn> conns_;
  std::atomic<bool> stop_{false};
  std::atomic<int> open_{0};
  std::atomic<long> closed_{0};
  std::thread thread_;
};

}  // namespace systest
