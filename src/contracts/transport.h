#pragma once
// The client's view of the way to the application server. TNetConnection talks
// to a Transport made by a registered factory, so the contracts (and the
// screens above them) never see HTTP; the transport layer registers itself.

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/variant.h"

namespace contracts {

// A failure of the way to the server (unreachable, timed out, refused session,
// malformed reply), as opposed to a failed result that a method returns itself.
class TransportError : public rtl::Exception {
public:
  using rtl::Exception::Exception;
};

class Transport {
public:
  virtual ~Transport() = default;
  // Calls method of the remote module server with args in the caller's order;
  // by-reference arguments come back updated in args. Throws TransportError.
  virtual rtl::Variant Call(const std::string& server, const std::string& method, rtl::VariantArray& args,
                            const std::string& token) = 0;
};

using TransportFactory = std::function<std::unique_ptr<Transport>(const std::string& host, int port)>;

// The factory replaces any earlier one; an empty factory unregisters.
void RegisterTransportFactory(TransportFactory factory);
bool HasTransportFactory();
// The factory in use (empty when none), for a wrapper that decorates it.
TransportFactory CurrentTransportFactory();
// Throws TransportError when no transport was registered.
std::unique_ptr<Transport> CreateTransport(const std::string& host, int port);

// The process-wide session: set by the host after the operator logged in, read
// by every connection, so the screens never hold a password.
struct SessionInfo {
  std::string token;
  std::string operatorCode;
};
void SetSession(SessionInfo session);
void ClearSession();
SessionInfo CurrentSession();

}  // namespace contracts
