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

// What the server reported in Server-Timing for the last reply this thread
// received (milliseconds; -1 for a part it did not report), with the time the
// client spent on the whole exchange, encoding and decoding included.
struct ServerTiming {
  double totalMs = -1;    // client: from encoding the request to the decoded reply
  double handlerMs = -1;  // server: the request's handling
  double methodMs = -1;   // server: the module's call inside it
  double databaseMs = -1; // server: the module's database time inside that
};
ServerTiming LastServerTiming();
// Reads "name;dur=MS, ..." into the three server parts; unknown names are skipped.
ServerTiming ParseServerTiming(const std::string& header);

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
