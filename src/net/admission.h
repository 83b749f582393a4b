#pragma once
// Which connections the server keeps open, and for how long.
//
// Every accepted connection is counted under the address it comes from; behind
// a balancer on this machine, under the address the balancer forwards for its
// current request. When an address, or the whole server, already holds as many
// connections as allowed, the oldest one that is only waiting (idle between
// requests, or still sending its TLS handshake or its headers) is shut down to
// make room: a clerk and a flooder may share an address (everyone behind one
// NAT or one balancer), and a keep-alive client reconnects by itself, whereas
// refusing the newcomer would lock the clerk out. Connections that have not yet
// carried a request with a valid session go first, so that whoever holds no
// session cannot push a clerk's connection out. Only when every connection of
// the address is running a request is the newcomer refused.
//
// Each connection also has a deadline that a sweep enforces:
//
//   phase       deadline                                  set when
//   Handshake   accept + header timeout                   accepted (TLS)
//   Idle        last reply + keep-alive timeout           accepted (plain), reply written
//   Header      first byte + header timeout (fixed: a     first byte of a request
//               slow sender cannot push it on)
//   Body        last progress + read timeout              headers complete, each read
//   Busy        none (the request is running)             body complete
//   Writing     last progress + write timeout             reply started, each write
//   Shut        -                                         evicted or past its deadline
//
// The connection moves its own phase; the registry only moves a waiting (or a
// late) connection to Shut and shuts its socket down, which ends the read or
// write the connection has pending. Every move is a compare-and-swap, so a
// connection that just received its request cannot be evicted as idle, and one
// that was shut cannot come back. The registry never closes a socket: the
// connection closes its own, after leave().

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>

namespace net {

enum class Phase : uint8_t { Handshake, Idle, Header, Body, Busy, Writing, Shut };

// Nanoseconds of the steady clock.
int64_t SteadyNowNs();

// What the registry knows of one connection. The connection owns it and keeps
// it registered from admit() to leave().
struct Admitted {
  int fd = -1;
  std::atomic<Phase> phase{Phase::Idle};
  std::atomic<int64_t> since{0};     // when the current request (or idle wait) began: the eviction order
  std::atomic<int64_t> deadline{0};  // past it the sweep shuts the connection down, unless Busy
  std::atomic<bool> trusted{false};  // has carried a request with a valid session: evicted last

  // Moves from `from` to `to`; false when the phase was not `from` (the
  // registry shut the connection down meanwhile).
  bool move(Phase from, Phase to) { return phase.compare_exchange_strong(from, to); }

private:
  friend class Admission;
  std::string key_;
  bool registered_ = false;
  bool counted_ = false;  // still counted under key_ (not yet evicted)
  std::list<Admitted*>::iterator inKey_, inAll_;
};

class Admission {
public:
  Admission(size_t perAddress, size_t total);
  Admission(const Admission&) = delete;
  Admission& operator=(const Admission&) = delete;

  // Counts c under key, evicting the oldest waiting connection of that key (or
  // of the server) when it is full. False: nothing could be evicted, c is not
  // registered and must be closed.
  bool admit(Admitted& c, const std::string& key);
  // Counts c under another key from now on (a balancer's forwarded address),
  // evicting as admit() does when that key is full; c itself is never evicted here.
  void rekey(Admitted& c, const std::string& key);
  // Forgets c. Call before closing its socket.
  void leave(Admitted& c);

  // Shuts down the connections past their deadline (Busy ones have none).
  size_t sweep(int64_t nowNs);
  // Shuts down every connection that is not running a request or writing its
  // reply: the server is stopping.
  size_t shutWaiting();

  size_t size() const;
  size_t count(const std::string& key) const;
  size_t evictions() const { return evictions_.load(); }

private:
  struct Key {
    size_t counted = 0;
    std::list<Admitted*> members;
  };
  // REQUIRES: m_ held. Shuts the oldest waiting member of `among` (all
  // connections when null) other than `spare`; false when there is none.
  bool evictOldest(const std::list<Admitted*>* among, const Admitted* spare);
  // REQUIRES: m_ held.
  void shut(Admitted& c);
  void uncount(Admitted& c);

  const size_t perAddress_, total_;
  mutable std::mutex m_;
  std::unordered_map<std::string, Key> keys_;
  std::list<Admitted*> all_;
  size_t counted_ = 0;
  std::atomic<size_t> evictions_{0};
};

}  // namespace net
