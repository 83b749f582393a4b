#include "net/admission.h"

#include <sys/socket.h>

#include <chrono>
#include <limits>

namespace net {

int64_t SteadyNowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

namespace {
bool Waiting(Phase p) { return p == Phase::Handshake || p == Phase::Idle || p == Phase::Header; }
}  // namespace

Admission::Admission(size_t perAddress, size_t total)
    : perAddress_(perAddress == 0 ? 1 : perAddress), total_(total == 0 ? 1 : total) {}

void Admission::shut(Admitted& c) {
  // Only the socket's reading and writing end here; its owner closes it.
  if (c.fd >= 0) ::shutdown(c.fd, SHUT_RDWR);
}

void Admission::uncount(Admitted& c) {
  if (!c.counted_) return;
  c.counted_ = false;
  --keys_[c.key_].counted;
  --counted_;
}

bool Admission::evictOldest(const std::list<Admitted*>* among, const Admitted* spare) {
  const std::list<Admitted*>& from = among ? *among : all_;
  // A candidate may leave its waiting phase while we look: try the next oldest.
  for (int attempt = 0; attempt < 8; ++attempt) {
    // The first in (trusted, since) order: untrusted before trusted, oldest first.
    Admitted* oldest = nullptr;
    bool oldestTrusted = true;
    int64_t oldestSince = std::numeric_limits<int64_t>::max();
    for (Admitted* c : from) {
      if (c == spare || !c->counted_ || !Waiting(c->phase.load())) continue;
      bool t = c->trusted.load();
      int64_t s = c->since.load();
      if (!oldest || (!t && oldestTrusted) || (t == oldestTrusted && s < oldestSince)) {
        oldest = c;
        oldestTrusted = t;
        oldestSince = s;
      }
    }
    if (!oldest) return false;
    Phase p = oldest->phase.load();
    if (Waiting(p) && oldest->move(p, Phase::Shut)) {
      uncount(*oldest);
      shut(*oldest);
      ++evictions_;
      return true;
    }
  }
  return false;
}

bool Admission::admit(Admitted& c, const std::string& key) {
  std::lock_guard lock(m_);
  Key& k = keys_[key];
  if (k.counted >= perAddress_ && !evictOldest(&k.members, &c)) {
    if (k.members.empty()) keys_.erase(key);
    return false;
  }
  if (counted_ >= total_ && !evictOldest(nullptr, &c)) {
    if (k.members.empty()) keys_.erase(key);
    return false;
  }
  c.key_ = key;
  c.inKey_ = k.members.insert(k.members.end(), &c);
  c.inAll_ = all_.insert(all_.end(), &c);
  c.registered_ = true;
  c.counted_ = true;
  ++k.counted;
  ++counted_;
  return true;
}

void Admission::rekey(Admitted& c, const std::string& key) {
  std::lock_guard lock(m_);
  if (!c.registered_ || c.key_ == key) return;
  Key& to = keys_[key];
  if (c.counted_ && to.counted >= perAddress_) evictOldest(&to.members, &c);
  auto from = keys_.find(c.key_);
  from->second.members.erase(c.inKey_);
  if (c.counted_) --from->second.counted;
  if (from->second.members.empty()) keys_.erase(from);
  c.key_ = key;
  c.inKey_ = to.members.insert(to.members.end(), &c);
  if (c.counted_) ++to.counted;
}

void Admission::leave(Admitted& c) {
  std::lock_guard lock(m_);
  if (!c.registered_) return;
  uncount(c);
  auto k = keys_.find(c.key_);
  k->second.members.erase(c.inKey_);
  if (k->second.members.empty()) keys_.erase(k);
  all_.erase(c.inAll_);
  c.registered_ = false;
}

size_t Admission::sweep(int64_t nowNs) {
  std::lock_guard lock(m_);
  size_t n = 0;
  for (Admitted* c : all_) {
    Phase p = c->phase.load();
    if (p == Phase::Busy || p == Phase::Shut || c->deadline.load() > nowNs) continue;
    if (c->move(p, Phase::Shut)) {
      uncount(*c);
      shut(*c);
      ++n;
    }
  }
  return n;
}

size_t Admission::shutWaiting() {
  std::lock_guard lock(m_);
  size_t n = 0;
  for (Admitted* c : all_) {
    Phase p = c->phase.load();
    if ((Waiting(p) || p == Phase::Body) && c->move(p, Phase::Shut)) {
      uncount(*c);
      shut(*c);
      ++n;
    }
  }
  return n;
}

size_t Admission::size() const {
  std::lock_guard lock(m_);
  return counted_;
}

size_t Admission::count(const std::string& key) const {
  std::lock_guard lock(m_);
  auto k = keys_.find(key);
  return k == keys_.end() ? 0 : k->second.counted;
}

}  // namespace net
