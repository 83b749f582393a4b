#include "flood.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>

namespace systest {

Flood::Flood(int port, int idle, int slow) : port_(port), conns_(static_cast<size_t>(idle + slow)) {
  for (size_t i = 0; i < conns_.size(); ++i) {
    conns_[i].slow = i >= static_cast<size_t>(idle);
    reopen(conns_[i]);
  }
  thread_ = std::thread([this] { run(); });
}

Flood::~Flood() {
  stop_ = true;
  thread_.join();
  for (auto& c : conns_)
    if (c.fd >= 0) close(c.fd);
}

void Flood::reopen(Conn& c) {
  if (c.fd >= 0) {
    close(c.fd);
    --open_;
  }
  c.fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port_));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (c.fd < 0 || connect(c.fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    if (c.fd >= 0) close(c.fd);
    c.fd = -1;
    return;
  }
  ++open_;
  c.lines = 0;
  if (c.slow) {
    const char* start = "POST /call HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    send(c.fd, start, std::char_traits<char>::length(start), MSG_NOSIGNAL | MSG_DONTWAIT);
  }
}

void Flood::run() {
  std::vector<pollfd> fds(conns_.size());
  while (!stop_) {
    for (size_t i = 0; i < conns_.size(); ++i) fds[i] = pollfd{conns_[i].fd, POLLIN, 0};
    poll(fds.data(), fds.size(), 0);
    for (size_t i = 0; i < conns_.size() && !stop_; ++i) {
      Conn& c = conns_[i];
      bool gone = c.fd < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
      if (!gone && c.slow) {
        // One more header line, never the blank line that would end them.
        std::string line = "X-Devagar-" + std::to_string(c.lines++) + ": a\r\n";
        gone = send(c.fd, line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT) <= 0;
      }
      if (gone) {
        if (c.fd >= 0) ++closed_;
        reopen(c);
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

}  // namespace systest
