#pragma once
// Scope guards: a value set for the length of a scope and put back when the
// scope ends, however it ends (return, Abort, any other exception).

#include <type_traits>
#include <utility>

namespace rtl {

// Sets slot to value now and restores what slot held before at scope end.
// Nested guards on the same slot restore in reverse order, so a counter
// raised by one (ScopedAssign<int> d(depth, depth + 1)) is lowered again;
// that holds for one thread only, not for a counter shared between threads.
template <class T>
class ScopedAssign {
public:
  ScopedAssign(T& slot, std::type_identity_t<T> value) : slot_(slot), saved_(std::exchange(slot, std::move(value))) {}
  ~ScopedAssign() { slot_ = std::move(saved_); }
  ScopedAssign(const ScopedAssign&) = delete;
  ScopedAssign& operator=(const ScopedAssign&) = delete;

private:
  T& slot_;
  T saved_;
};

}  // namespace rtl
