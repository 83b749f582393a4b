#pragma once
// The seam between the transport and the application server: the server side
// implements RemoteModule and OperatorStore; the transport carries calls to it
// and keeps the sessions.

#include <optional>
#include <string>
#include <vector>

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
};

// Operators and their password hashes (Argon2id, libsodium's crypto_pwhash_str).
class OperatorStore {
public:
  virtual ~OperatorStore() = default;
  // The stored hash, or nothing for an unknown or disabled operator.
  virtual std::optional<std::string> PasswordHash(const std::string& operatorCode) = 0;
};

}  // namespace contracts
