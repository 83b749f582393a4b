#pragma once
// What the application server's endpoint does with a request, apart from the
// HTTP engine that carries it: sessions, logins, calls, logouts and the health
// check. The engine (http_server.cpp) reads headers and bodies and writes the
// replies; everything it must decide it asks here, so another engine can take
// its place without touching these rules.
//
//   POST /login   {"operator":"..","password":".."}     -> {"token":"..","operator":".."}
//   POST /call    Authorization: Bearer TOKEN
//                 {"server":"..","method":"..","args":[..]}
//                                                        -> {"result":..,"args":[..],"refs":"i,j"}
//   POST /logout  Authorization: Bearer TOKEN           -> {}
//   GET  /health                                         -> {"status":"ok"} or 503
//
// "args" of a reply holds only the method's by-reference arguments, and "refs"
// their positions in the request's arguments.
//
// The session is checked from the header before the engine reads the body; a
// body is decoded only for a known session (or a login, whose body is small).

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

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

// One line, each value cut to a fixed length and its control characters
// escaped, so that no request can flood or forge the log.
std::string FormatRequestLog(const RequestLog& log);
// The Server-Timing value of a handled request.
std::string ServerTimingHeader(const RequestLog& log);
// One line per request on standard error.
RequestLogger StderrRequestLogger();

struct HttpServerOptions {
  std::string address = "127.0.0.1";
  int port = 0;  // 0: a free port, see HttpServer::port()
  // Threads kept ready. A connection holds no thread while it waits for a
  // request or sends one; a request holds one while it runs (the modules'
  // database work blocks). Another is started whenever every thread is
  // running a request, up to maxThreads, so one is always left to read and
  // accept (beyond maxThreads running requests, new ones wait).
  size_t threads = 8;
  size_t maxThreads = 256;
  // Connections kept open from one address, and in all. At either limit the
  // oldest connection that is only waiting (idle, or still sending its
  // headers) is closed to make room; a newcomer is refused only when every
  // connection of its address is running a request. Behind a balancer on this
  // machine a connection counts under the address it forwards.
  size_t maxConnectionsPerAddress = 256;
  size_t maxConnections = 8192;
  std::chrono::seconds sessionTimeout = std::chrono::hours(12);  // sliding
  // Sessions one operator may hold at once; a new login ends the oldest.
  size_t maxSessionsPerOperator = 10;
  size_t maxBodyBytes = 64u << 20;
  // What is read of a body before its session is known (a login's whole body).
  size_t maxUnauthenticatedBytes = 64u << 10;
  WireLimits limits;  // maxBytes follows maxBodyBytes
  // A request's headers (and a TLS handshake) must arrive whole within
  // headerTimeoutSeconds of their first byte, however slowly they trickle in.
  int headerTimeoutSeconds = 10;
  // A body, or a reply being written, that makes no progress for this long
  // ends its connection.
  int readTimeoutSeconds = 30;
  int writeTimeoutSeconds = 30;
  // An idle keep-alive connection is closed after this; a new connection must
  // send its first request within headerTimeoutSeconds.
  int keepAliveTimeoutSeconds = 60;
  size_t keepAliveMaxCount = 100000;
  // Argon2id takes tens of megabytes per check: bound the checks run at once
  // (one more is kept for logins with no failure on record, see LoginGate).
  // The checks of logins with failures on record run on as many threads of
  // the lowest CPU priority, so a clean login's check gets the core first.
  int maxConcurrentLogins = 2;
  // Failed logins allowed before each further attempt must wait, counted per
  // operator and per source address (a branch's clerks may share one address);
  // the wait doubles with each failure, up to maxLoginWait.
  int loginFailuresPerOperator = 3;
  int loginFailuresPerAddress = 20;
  std::chrono::seconds firstLoginWait = std::chrono::seconds(2);
  std::chrono::seconds maxLoginWait = std::chrono::minutes(15);
  // Both set: HTTPS (OpenSSL).
  std::string certFile;
  std::string keyFile;
  RequestLogger logger;  // empty: standard error
  // Where sessions and failed logins are kept. Empty: the operator store when
  // it keeps them too (the real server: in the database), else this process's
  // memory.
  contracts::SessionStore* sessions = nullptr;
  // Session expiry and login waits read this clock; tests move it.
  std::function<std::chrono::system_clock::time_point()> clock;
};

// A refusal on the way, with the HTTP status that goes with it.
struct Refusal {
  int status;
  std::string message;
  int delayMs = 0;  // see Reply::delayMs
};

struct Reply {
  int status = 200;
  std::string body;
  // The engine holds the reply this long before sending it, on a timer, with
  // no thread: an unknown operator's login is answered as late as a real
  // password check would be, without doing one.
  int delayMs = 0;
};

class Endpoint {
public:
  Endpoint(contracts::OperatorStore& operators, HttpServerOptions& options);
  ~Endpoint();
  Endpoint(const Endpoint&) = delete;
  Endpoint& operator=(const Endpoint&) = delete;

  void addModule(contracts::RemoteModule& module);

  // The token of an "Authorization: Bearer" header, or "".
  static std::string BearerToken(std::string_view header);
  // The operator of the token's live session; throws Refusal (401, or 503
  // when the database is down). Each check pushes the session's expiry on.
  std::string authenticate(const std::string& token);

  // Each handler fills log and answers the reply; refusals are replies too.
  Reply login(std::string_view body, const std::string& sourceAddress, RequestLog& log);
  Reply call(const std::string& operatorCode, std::string_view body, RequestLog& log);
  Reply logout(const std::string& token, RequestLog& log);
  Reply health();
  // The reply to a refusal met anywhere on the way.
  static Reply refuse(const Refusal& r, RequestLog& log);

  contracts::SessionStore& sessions() { return *sessions_; }

private:
  std::string newSession(const std::string& op);
  int checkLoginWait(const std::string& key, int allowed);
  int64_t nowMs() const;

  contracts::OperatorStore& operators_;
  HttpServerOptions& options_;
  std::unique_ptr<contracts::SessionStore> ownSessions_;
  contracts::SessionStore* sessions_;
  std::unordered_map<std::string, contracts::RemoteModule*> modules_;  // lower-case name
  std::unordered_map<contracts::RemoteModule*, std::unordered_map<std::string, std::string>> methods_;
  struct LoginGate;
  std::unique_ptr<LoginGate> gate_;
};

// Sessions and failed logins in this process's memory: for a server with no
// database of its own (the transport's tests, a trial).
std::unique_ptr<contracts::SessionStore> MakeMemorySessionStore();

// Argon2id hash for OperatorStore::PasswordHash (libsodium's string format).
std::string HashPassword(const std::string& password);
bool VerifyPassword(const std::string& hash, const std::string& password);
// The key sessions are stored under: a hash of the token, so a store never
// holds a token (hexadecimal, 64 characters).
std::string TokenHash(const std::string& token);

}  // namespace net
