#pragma once
// The run time's exception family. Handlers catch by these types the way the
// screens' event code catches Exception and lets EAbort pass silently.

#include <stdexcept>
#include <string>

namespace rtl {

// An error whose message reaches the user.
class Exception : public std::runtime_error {
public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  const std::string& Message() const { return message_cache(); }

private:
  const std::string& message_cache() const {
    if (cache_.empty()) cache_ = what();
    return cache_;
  }
  mutable std::string cache_;
};

// Ends the running operation without showing anything.
class EAbort : public Exception {
public:
  EAbort() : Exception("Operation aborted") {}
  explicit EAbort(const std::string& message) : Exception(message) {}
};

// A text that is not a number or a date, a variant that cannot be converted.
class EConvertError : public Exception {
public:
  using Exception::Exception;
};

// Data-set misuse: unknown field, wrong state, malformed filter or packet.
class EDatabaseError : public Exception {
public:
  using Exception::Exception;
};

// Throws EAbort: the platform's Abort procedure.
[[noreturn]] inline void Abort() { throw EAbort(); }

}  // namespace rtl
