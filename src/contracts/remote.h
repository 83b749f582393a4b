#pragma once
// The seam between the transport and the application server: the server side
// implements RemoteModule and OperatorStore; the transport carries calls to it
// and keeps the sessions.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/variant.h"

namespace contracts {

// Who is calling: filled by the transport from the session token.
struct CallContext {
  std::string operatorCode;
  std::string clientAddress;
  // The branch the call works on, as the module reports it for the request log.
  mutable std::string branch;
  // The module's time inside the database for the call, in milliseconds, when it
  // measures it (-1 otherwise); the transport reports it to the client.
  mutable double databaseMs = -1;
};

// A remote data module ('Pla01000.rdmMediEfetivos'): methods called by name.
class RemoteModule {
public:
  virtual ~RemoteModule() = default;
  virtual std::string ServerName() const = 0;
  virtual std::vector<std::string> Methods() const = 0;
  // args are in the caller's order; by-reference arguments are updated in place
  // and travel back to the caller. A failure is returned as a failed result
  // array (see result.h), never thrown across the transport; an exception that
  // escapes is turned into a failed result by the transport.
  virtual rtl::Variant Call(const std::string& method, rtl::VariantArray& args, const CallContext& ctx) = 0;
  // Positions (from 0) of the method's by-reference arguments: only these
  // travel back to the caller.
  virtual std::vector<size_t> ByReference(const std::string& method) const {
    (void)method;
    return {};
  }
};

// Operators and their password hashes (Argon2id, libsodium's crypto_pwhash_str).
class OperatorStore {
public:
  virtual ~OperatorStore() = default;
  // The stored hash, or nothing for an unknown or disabled operator.
  virtual std::optional<std::string> PasswordHash(const std::string& operatorCode) = 0;
};

// Raised by a store when its database cannot be reached, so the transport can
// tell the operator to try again instead of passing on the driver's text.
class StoreUnavailable : public rtl::Exception {
public:
  using rtl::Exception::Exception;
};

// Sessions and failed logins. Kept apart from the servers' memory (in the
// database, for the real server) so that every server on one database accepts
// the same sessions and counts the same failures. Times are milliseconds since
// the Unix epoch, read by the transport from one clock.
class SessionStore {
public:
  virtual ~SessionStore() = default;
  // Records a session; when the operator then holds more than maxPerOperator,
  // the oldest ones go.
  virtual void CreateSession(const std::string& tokenHash, const std::string& operatorCode, int64_t nowMs,
                             int64_t expiresMs, size_t maxPerOperator) = 0;
  // The operator of a live session whose operator is still active, or nothing.
  // The expiry slides to nowMs + timeoutMs (a store may write it only when it
  // moved by more than a small fraction of the timeout).
  virtual std::optional<std::string> TouchSession(const std::string& tokenHash, int64_t nowMs, int64_t timeoutMs) = 0;
  // Ends one session; answers its operator when it existed.
  virtual std::optional<std::string> EndSession(const std::string& tokenHash) = 0;

  // Failed logins counted under a key ("O:" operator, "E:" source address).
  struct Failures {
    int count = 0;
    int64_t lastMs = 0;
  };
  virtual Failures LoginFailures(const std::string& key) = 0;
  virtual void RecordLoginFailure(const std::string& key, int64_t nowMs) = 0;
  virtual void ClearLoginFailures(const std::string& key) = 0;

  // Whether the store's database answers (the balancer's health check).
  virtual bool Healthy() { return true; }
};

}  // namespace contracts
