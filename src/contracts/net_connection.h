#pragma once
// TNetConnection: the screens' connection to a remote data module. Calls are
// late-bound by method name; arguments are Variants and by-reference ones come
// back updated. With ThrowException False (the default) every failure on the
// way, from an unreachable server to a refused session, comes back from the
// call as a failed result array [False, message], never as an exception.

#include <functional>
#include <initializer_list>
#include <memory>
#include <string>

#include "contracts/transport.h"
#include "platform/rtl/variant.h"

namespace contracts {

class TNetConnection;
using TNetConnectionEvent = std::function<void(TNetConnection& sender)>;

class TNetConnection {
public:
  TNetConnection() = default;
  explicit TNetConnection(std::string serverName) : serverName_(std::move(serverName)) {}
  ~TNetConnection();
  TNetConnection(const TNetConnection&) = delete;
  TNetConnection& operator=(const TNetConnection&) = delete;

  const std::string& ServerName() const { return serverName_; }
  void SetServerName(std::string name) { serverName_ = std::move(name); }
  const std::string& Host() const { return host_; }
  void SetHost(std::string host) { host_ = std::move(host); }
  int Port() const { return port_; }
  void SetPort(int port) { port_ = port; }
  bool ThrowException() const { return throwException_; }
  void SetThrowException(bool on) { throwException_ = on; }

  // Runs before every connect; the screen sets host and port here.
  TNetConnectionEvent BeforeConnect;
  TNetConnectionEvent AfterConnect;
  TNetConnectionEvent AfterDisconnect;

  bool Connected() const { return transport_ != nullptr; }
  // Connected := True / False.
  void SetConnected(bool on);
  // The connection is made lazily by the transport, so Connect fails only when
  // there is nothing to connect with (no transport, no host, a bad port); it
  // then raises TransportError, as there is no result to carry the failure.
  // A call that connects implicitly reports the same failure as any other.
  void Connect();
  void Disconnect();

  // AppServer.Method(args...): connects first when needed.
  rtl::Variant AppServer(const std::string& method, rtl::VariantArray& args);
  rtl::Variant Call(const std::string& method, rtl::VariantArray& args) { return AppServer(method, args); }
  // For calls without by-reference arguments.
  rtl::Variant Call(const std::string& method, std::initializer_list<rtl::Variant> args = {});

  // The last failure met on the way (empty after a call that reached the server).
  const std::string& LastError() const { return lastError_; }

private:
  rtl::Variant fail(const std::string& message);

  std::string serverName_;
  std::string host_;
  int port_ = 0;
  bool throwException_ = false;
  std::unique_ptr<Transport> transport_;
  std::string lastError_;
};

}  // namespace contracts
