#pragma once
// The application server's HTTP endpoint: JSON over HTTP/1.1 with keep-alive.
//
//   POST /login   {"operator":"..","password":".."}         -> {"token":"..","operator":".."}
//   POST /call    {"server":"..","method":"..","token":"..","args":[..]}
//                                                            -> {"result":..,"args":[..]}
//   POST /logout  {"token":".."}                             -> {}
//
// Every answer carries `Server-Timing: handler;dur=MS, method;dur=MS, db;dur=MS`
// (the request's handling from the decoded body to the encoded reply, the
// module's call inside it, and the module's database time inside that; the
// last two on /call only), so that a client can tell the transport's share
// from the server's.
//
// A refusal on the way (bad body, unknown or expired session, unknown server or
// method) is {"error":"message"} with a 4xx status; an exception that escapes a
// method becomes the method's failed result [false, message].

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "contracts/remote.h"
#include "net/wire.h"

namespace net {

struct RequestLog {
  std::string path;  // /login, /call, /logout
  std::string server;
  std::string method;
  std::string operatorCode;
  std::string branch;  // when the module reported it
  std::string client;  // address:port
  double milliseconds = 0;
  // /call: the module's own call, and its database share when the module measures it (-1 otherwise).
  double methodMilliseconds = 0;
  double databaseMilliseconds = -1;
  bool ok = false;      // reached the method and it succeeded (or login/logout did)
  std::string outcome;  // "ok", "falha: <message>", "recusada: <message>"
};
using RequestLogger = std::function<void(const RequestLog&)>;

std::string FormatRequestLog(const RequestLog& log);
// The Server-Timing value of a handled request.
std::string ServerTimingHeader(const RequestLog& log);
// One line per request on standard error.
RequestLogger StderrRequestLogger();

struct HttpServerOptions {
  std::string address = "127.0.0.1";
  int port = 0;  // 0: a free port, see HttpServer::port()
  // Workers kept ready. An open keep-alive connection holds a worker while it
  // waits for its next request, so more are started while every worker is
  // busy, up to maxThreads (connections beyond that wait for a free worker).
  size_t threads = 8;
  size_t maxThreads = 256;
  std::chrono::seconds sessionTimeout = std::chrono::hours(12);  // sliding
  size_t maxSessions = 10000;
  size_t maxBodyBytes = 64u << 20;
  WireLimits limits;  // maxBytes follows maxBodyBytes
  int readTimeoutSeconds = 30;
  int writeTimeoutSeconds = 30;
  int keepAliveTimeoutSeconds = 60;
  size_t keepAliveMaxCount = 100000;
  // Argon2id takes tens of megabytes per check: bound the checks run at once.
  int maxConcurrentLogins = 2;
  // Both set: HTTPS (the HTTP library is built with OpenSSL).
  std::string certFile;
  std::string keyFile;
  RequestLogger logger;  // empty: standard error
  // Session expiry reads this clock; tests move it.
  std::function<std::chrono::steady_clock::time_point()> clock;
};

class HttpServer {
public:
  explicit HttpServer(contracts::OperatorStore& operators, HttpServerOptions options = {});
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Modules are served by their ServerName (compared without regard to case);
  // add them before start().
  void addModule(contracts::RemoteModule& module);

  // Binds and serves on a thread of its own; throws rtl::Exception when the
  // address cannot be bound or the certificate cannot be loaded.
  void start();
  // Stops listening and waits for the running requests.
  void stop();
  // Blocks until another thread calls stop().
  void wait();
  bool running() const;
  int port() const;
  const std::string& address() const;
  bool secure() const;

  size_t sessionCount() const;

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Argon2id hash for OperatorStore::PasswordHash (libsodium's string format).
std::string HashPassword(const std::string& password);
bool VerifyPassword(const std::string& hash, const std::string& password);

}  // namespace net
