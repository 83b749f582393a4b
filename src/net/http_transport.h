#pragma once
// The client side of the HTTP transport: what TNetConnection uses once the host
// called RegisterHttpTransport(), and the operator's login.

#include <memory>
#include <string>

#include "contracts/transport.h"
#include "net/wire.h"

namespace net {

struct HttpTransportOptions {
  bool https = false;
  std::string caFile;  // https: the certificate authority to trust; empty: the system's
  int connectTimeoutMs = 5000;
  int readTimeoutMs = 120000;  // a consolidation may take a while
  int writeTimeoutMs = 30000;
  WireLimits limits;
};

// Registers the HTTP transport as the factory TNetConnection uses. The host
// calls it once at start; being explicit, it survives static linking.
void RegisterHttpTransport(HttpTransportOptions options = {});

std::unique_ptr<contracts::Transport> MakeHttpTransport(const std::string& host, int port,
                                                       HttpTransportOptions options = {});

// Logs the operator in and stores the session where every connection finds it.
// Returns the token; throws contracts::TransportError with the server's message.
std::string Login(const std::string& host, int port, const std::string& operatorCode, const std::string& password,
                  HttpTransportOptions options = {});
// Ends the process-wide session on the server (best effort) and forgets it.
void Logout(const std::string& host, int port, HttpTransportOptions options = {});

}  // namespace net
