#pragma once
// The application server's HTTP endpoint: JSON over HTTP/1.1 with keep-alive,
// HTTPS when given a certificate. The paths and what they answer are in
// endpoint.h; this engine carries them.
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

#include <memory>
#include <string>

#include "net/endpoint.h"

namespace net {

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
  // The connections counted against the limits now: open ones, less those
  // already made to give way. 0 when not running.
  size_t connections() const;

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace net
