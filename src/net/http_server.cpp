#include "net/http_server.h"

#include <httplib.h>
#include <sodium.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <semaphore>
#include <thread>
#include <unordered_map>

#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "contracts/result.h"
#include "net/sodium_init.h"

namespace net {

using Clock = std::chrono::steady_clock;

namespace {

// The HTTP library runs each accepted connection as one job for as long as
// the connection stays open. With a fixed pool, the clerks beyond its size
// would wait until someone's idle keep-alive connection timed out; this pool
// starts another worker whenever a job arrives and none is idle.
class GrowingPool : public httplib::TaskQueue {
public:
  GrowingPool(size_t threads, size_t maxThreads) : max_(std::max(threads, maxThreads)) {
    std::lock_guard lock(m_);
    for (size_t i = 0; i < threads; ++i) spawnLocked();
  }
  ~GrowingPool() override = default;

  void enqueue(std::function<void()> fn) override {
    {
      std::lock_guard lock(m_);
      jobs_.push_back(std::move(fn));
      if (idle_ < jobs_.size() && workers_.size() < max_) spawnLocked();
    }
    cv_.notify_one();
  }

  // As the library's pool: the queued jobs still run, then the workers end.
  void shutdown() override {
    {
      std::lock_guard lock(m_);
      stop_ = true;
    }
    cv_.notify_all();
    std::vector<std::thread> workers;
    {
      std::lock_guard lock(m_);
      workers.swap(workers_);
    }
    for (auto& t : workers) t.join();
  }

private:
  void spawnLocked() {
    ++idle_;  // counted idle from the start, so a burst does not overshoot
    workers_.emplace_back([this] { run(); });
  }
  void run() {
    std::unique_lock lock(m_);
    for (;;) {
      cv_.wait(lock, [&] { return stop_ || !jobs_.empty(); });
      if (jobs_.empty()) break;  // stopping
      auto fn = std::move(jobs_.front());
      jobs_.pop_front();
      --idle_;
      lock.unlock();
      fn();
      lock.lock();
      ++idle_;
    }
  }

  std::mutex m_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> jobs_;
  std::vector<std::thread> workers_;
  size_t idle_ = 0;
  size_t max_;
  bool stop_ = false;
};

const char* const kSessionRefused = "Sessão expirada ou inválida. Entre novamente.";
const char* const kLoginRefused = "Operador ou senha inválidos.";

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

std::string toHex(const unsigned char* p, size_t n) {
  std::string hex(n * 2 + 1, '\0');
  sodium_bin2hex(hex.data(), hex.size(), p, n);
  hex.pop_back();
  return hex;
}

// Sessions are keyed by a hash of the token, so the table never holds a token
// and a lookup does not compare the secret itself.
std::string tokenKey(const std::string& token) {
  unsigned char h[crypto_generichash_BYTES];
  crypto_generichash(h, sizeof h, reinterpret_cast<const unsigned char*>(token.data()), token.size(), nullptr, 0);
  return std::string(reinterpret_cast<const char*>(h), sizeof h);
}

// A refusal on the way, with the HTTP status that goes with it.
struct Refusal {
  int status;
  std::string message;
};

std::string errorBody(const std::string& message, const char* code = nullptr) {
  Envelope e;
  e.texts["error"] = message;
  if (code) e.texts["code"] = code;
  return EncodeEnvelope(e);
}

}  // namespace

std::string ServerTimingHeader(const RequestLog& log) {
  char buf[128];
  int n = std::snprintf(buf, sizeof buf, "handler;dur=%.3f", log.milliseconds);
  if (log.methodMilliseconds > 0 && n > 0 && static_cast<size_t>(n) < sizeof buf)
    n += std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n), ", method;dur=%.3f", log.methodMilliseconds);
  if (log.databaseMilliseconds >= 0 && n > 0 && static_cast<size_t>(n) < sizeof buf)
    std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n), ", db;dur=%.3f", log.databaseMilliseconds);
  return buf;
}

std::string FormatRequestLog(const RequestLog& log) {
  char ms[32];
  std::snprintf(ms, sizeof ms, "%.1f ms", log.milliseconds);
  std::string line = log.path;
  if (!log.method.empty()) line += " " + log.method;
  line += " operador=" + (log.operatorCode.empty() ? std::string("-") : log.operatorCode);
  if (!log.branch.empty()) line += " filial=" + log.branch;
  if (!log.client.empty()) line += " cliente=" + log.client;
  line += " ";
  line += ms;
  line += " " + log.outcome;
  // One line whatever the message holds.
  std::replace(line.begin(), line.end(), '\n', ' ');
  std::replace(line.begin(), line.end(), '\r', ' ');
  return line;
}

RequestLogger StderrRequestLogger() {
  return [](const RequestLog& log) {
    static std::mutex m;
    std::string line = FormatRequestLog(log) + "\n";
    std::lock_guard lock(m);
    std::fwrite(line.data(), 1, line.size(), stderr);
  };
}

std::string HashPassword(const std::string& password) {
  EnsureSodium();
  char out[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str(out, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                        crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
    throw rtl::Exception("Memória insuficiente para calcular o hash da senha.");
  return out;
}

bool VerifyPassword(const std::string& hash, const std::string& password) {
  EnsureSodium();
  if (hash.empty() || hash.size() >= crypto_pwhash_STRBYTES) return false;
  return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

struct HttpServer::Impl {
  contracts::OperatorStore& operators;
  HttpServerOptions options;
  std::unique_ptr<httplib::Server> server;
  std::thread thread;
  int boundPort = 0;
  bool isSecure = false;
  std::unordered_map<std::string, contracts::RemoteModule*> modules;  // lower-case name
  std::unordered_map<contracts::RemoteModule*, std::unordered_map<std::string, std::string>> methods;

  struct Session {
    std::string operatorCode;
    Clock::time_point expires;
  };
  mutable std::mutex sessionsMutex;
  std::unordered_map<std::string, Session> sessions;
  std::counting_semaphore<1024> loginSlots;
  std::once_flag dummyOnce;
  std::string dummyHash;

  std::mutex stateMutex;
  std::condition_variable stopped;
  bool isStopped = true;

  Impl(contracts::OperatorStore& ops, HttpServerOptions opts)
      : operators(ops), options(std::move(opts)), loginSlots(std::clamp(options.maxConcurrentLogins, 1, 1024)) {
    if (!options.clock) options.clock = [] { return Clock::now(); };
    if (!options.logger) options.logger = StderrRequestLogger();
    options.limits.maxBytes = options.maxBodyBytes;
  }

  Clock::time_point now() const { return options.clock(); }

  std::string newSession(const std::string& op) {
    unsigned char raw[32];
    randombytes_buf(raw, sizeof raw);
    std::string token = toHex(raw, sizeof raw);
    sodium_memzero(raw, sizeof raw);
    std::lock_guard lock(sessionsMutex);
    if (sessions.size() >= options.maxSessions) {
      auto t = now();
      std::erase_if(sessions, [&](const auto& kv) { return kv.second.expires <= t; });
      if (sessions.size() >= options.maxSessions)
        throw Refusal{503, "O servidor atingiu o limite de sessões abertas. Tente mais tarde."};
    }
    sessions[tokenKey(token)] = Session{op, now() + options.sessionTimeout};
    return token;
  }

  // The operator of a live session; each use pushes the expiry forward.
  std::string checkSession(const std::string& token) {
    if (token.empty()) throw Refusal{401, kSessionRefused};
    std::lock_guard lock(sessionsMutex);
    auto it = sessions.find(tokenKey(token));
    if (it == sessions.end()) throw Refusal{401, kSessionRefused};
    auto t = now();
    if (it->second.expires <= t) {
      sessions.erase(it);
      throw Refusal{401, kSessionRefused};
    }
    it->second.expires = t + options.sessionTimeout;
    return it->second.operatorCode;
  }

  std::string login(const Envelope& e) {
    std::string op = e.text("operator");
    std::string password = e.text("password");
    if (op.empty()) throw Refusal{401, kLoginRefused};
    std::optional<std::string> hash;
    try {
      hash = operators.PasswordHash(op);
    } catch (const std::exception& ex) {
      throw Refusal{500, std::string("Falha ao consultar o operador: ") + ex.what()};
    }
    loginSlots.acquire();
    bool ok;
    if (hash) {
      ok = VerifyPassword(*hash, password);
    } else {
      // Same work for an unknown operator, so timing does not tell which exist.
      std::call_once(dummyOnce, [&] { dummyHash = HashPassword("-"); });
      VerifyPassword(dummyHash, password);
      ok = false;
    }
    loginSlots.release();
    if (!ok) throw Refusal{401, kLoginRefused};
    return newSession(op);
  }

  void handleLogin(const httplib::Request& req, httplib::Response& res, RequestLog& log) {
    Envelope in = DecodeEnvelope(req.body, options.limits);
    log.operatorCode = in.text("operator").substr(0, 60);
    std::string token = login(in);
    Envelope out;
    out.texts["token"] = token;
    out.texts["operator"] = in.text("operator");
    res.set_content(EncodeEnvelope(out), "application/json");
    log.ok = true;
    log.outcome = "ok";
  }

  void handleLogout(const httplib::Request& req, httplib::Response& res, RequestLog& log) {
    Envelope in = DecodeEnvelope(req.body, options.limits);
    std::string token = in.text("token");
    {
      std::lock_guard lock(sessionsMutex);
      auto it = sessions.find(tokenKey(token));
      if (it != sessions.end()) {
        log.operatorCode = it->second.operatorCode;
        sessions.erase(it);
      }
    }
    res.set_content("{}", "application/json");
    log.ok = true;
    log.outcome = "ok";
  }

  void handleCall(const httplib::Request& req, httplib::Response& res, RequestLog& log) {
    Envelope in = DecodeEnvelope(req.body, options.limits);
    log.server = in.text("server");
    log.method = in.text("method").substr(0, 60);
    contracts::CallContext ctx;
    ctx.operatorCode = checkSession(in.text("token"));
    ctx.clientAddress = log.client;
    log.operatorCode = ctx.operatorCode;

    auto mod = modules.find(lower(log.server));
    if (mod == modules.end())
      throw Refusal{404, "Servidor de aplicação desconhecido: '" + log.server.substr(0, 60) + "'."};
    const auto& names = methods.at(mod->second);
    auto m = names.find(lower(in.text("method")));
    if (m == names.end())
      throw Refusal{404, "Método desconhecido no servidor " + mod->second->ServerName() + ": '" + log.method + "'."};
    log.method = m->second;

    rtl::VariantArray args = in.args ? std::move(*in.args) : rtl::VariantArray{};
    Envelope out;
    auto called = Clock::now();
    try {
      out.result = mod->second->Call(m->second, args, ctx);
      out.args = std::move(args);
    } catch (const std::exception& ex) {
      out.result = contracts::ResultFail(ex.what());
    } catch (...) {
      out.result = contracts::ResultFail("Erro desconhecido no servidor de aplicação.");
    }
    log.methodMilliseconds = std::chrono::duration<double, std::milli>(Clock::now() - called).count();
    log.databaseMilliseconds = ctx.databaseMs;
    log.branch = ctx.branch;
    const rtl::Variant& r = *out.result;
    log.ok = !(contracts::IsResultArray(r) && !r[0].toBool());
    log.outcome = log.ok ? "ok" : "falha: " + contracts::ResultMessage(r);
    res.set_content(EncodeEnvelope(out), "application/json");
  }

  using Handler = void (Impl::*)(const httplib::Request&, httplib::Response&, RequestLog&);

  std::atomic<int> inflight{0};  // requests inside a handler

  httplib::Server::Handler wrap(const char* path, Handler h) {
    return [this, path, h](const httplib::Request& req, httplib::Response& res) {
      ++inflight;
      struct Leave {
        std::atomic<int>& n;
        ~Leave() { --n; }
      } leave{inflight};
      auto started = Clock::now();
      RequestLog log;
      log.path = path;
      log.client = req.remote_addr + ":" + std::to_string(req.remote_port);
      try {
        (this->*h)(req, res, log);
      } catch (const Refusal& r) {
        res.status = r.status;
        res.set_content(errorBody(r.message, r.status == 401 ? "session" : nullptr), "application/json");
        log.outcome = "recusada: " + r.message;
      } catch (const WireError& e) {
        res.status = 400;
        res.set_content(errorBody(e.Message()), "application/json");
        log.outcome = "recusada: " + e.Message();
      } catch (const std::exception& e) {
        res.status = 500;
        res.set_content(errorBody(std::string("Erro no servidor de aplicação: ") + e.what()), "application/json");
        log.outcome = std::string("erro: ") + e.what();
      }
      log.milliseconds = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
      res.set_header("Server-Timing", ServerTimingHeader(log));
      options.logger(log);
    };
  }
};

namespace {
// Calls fn(fd) for every socket of this process whose own address has this
// port: the library hands out neither its listening socket nor the accepted ones.
template <class Fn>
void forEachSocketOnPort(int port, Fn fn) {
  DIR* dir = opendir("/proc/self/fd");
  if (!dir) return;
  while (dirent* e = readdir(dir)) {
    char* end = nullptr;
    long fd = std::strtol(e->d_name, &end, 10);
    if (!end || *end != '\0' || fd == dirfd(dir)) continue;
    struct stat st;
    if (fstat(static_cast<int>(fd), &st) != 0 || !S_ISSOCK(st.st_mode)) continue;
    sockaddr_storage self{};
    socklen_t n = sizeof self;
    if (getsockname(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&self), &n) != 0) continue;
    int own = self.ss_family == AF_INET    ? ntohs(reinterpret_cast<sockaddr_in*>(&self)->sin_port)
              : self.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&self)->sin6_port)
                                           : -1;
    if (own == port) fn(static_cast<int>(fd));
  }
  closedir(dir);
}

// The HTTP library listens with a backlog of 5, fixed when it was built; when
// a few dozen clerks connect at once the kernel drops the handshakes beyond
// it and those clients see their first request fail. listen() again on the
// bound socket raises the backlog.
void RaiseListenBacklog(int port) {
  forEachSocketOnPort(port, [](int fd) {
    int accepting = 0;
    socklen_t len = sizeof accepting;
    if (getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &accepting, &len) == 0 && accepting) listen(fd, SOMAXCONN);
  });
}
}  // namespace

HttpServer::HttpServer(contracts::OperatorStore& operators, HttpServerOptions options)
    : impl_(std::make_unique<Impl>(operators, std::move(options))) {
  EnsureSodium();
}

HttpServer::~HttpServer() { stop(); }

void HttpServer::addModule(contracts::RemoteModule& module) {
  impl_->modules[lower(module.ServerName())] = &module;
  auto& names = impl_->methods[&module];
  for (const std::string& m : module.Methods()) names[lower(m)] = m;
}

void HttpServer::start() {
  Impl& d = *impl_;
  if (d.server) return;
  const auto& o = d.options;
  if (!o.certFile.empty() || !o.keyFile.empty()) {
    if (o.certFile.empty() || o.keyFile.empty())
      throw rtl::Exception("HTTPS precisa do certificado e da chave privada.");
    auto ssl = std::make_unique<httplib::SSLServer>(o.certFile.c_str(), o.keyFile.c_str());
    if (!ssl->is_valid())
      throw rtl::Exception("Não foi possível carregar o certificado '" + o.certFile + "' ou a chave '" + o.keyFile +
                           "'.");
    d.server = std::move(ssl);
    d.isSecure = true;
  } else {
    d.server = std::make_unique<httplib::Server>();
    d.isSecure = false;
  }
  httplib::Server& s = *d.server;
  size_t threads = std::max<size_t>(1, o.threads), maxThreads = o.maxThreads;
  s.new_task_queue = [threads, maxThreads] { return new GrowingPool(threads, maxThreads); };
  s.set_tcp_nodelay(true);
  // The library's default adds SO_REUSEPORT, which lets a second server bind
  // the same port and silently take half of the connections; a restart only
  // needs SO_REUSEADDR.
  s.set_socket_options([](socket_t sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  s.set_keep_alive_max_count(o.keepAliveMaxCount);
  s.set_keep_alive_timeout(o.keepAliveTimeoutSeconds);
  s.set_read_timeout(o.readTimeoutSeconds, 0);
  s.set_write_timeout(o.writeTimeoutSeconds, 0);
  s.set_payload_max_length(o.maxBodyBytes);
  s.Post("/login", d.wrap("/login", &Impl::handleLogin));
  s.Post("/call", d.wrap("/call", &Impl::handleCall));
  s.Post("/logout", d.wrap("/logout", &Impl::handleLogout));
  // Whatever the library refuses by itself (unknown path, body too large,
  // malformed request) still answers in the envelope the client reads.
  s.set_error_handler([&d](const httplib::Request& req, httplib::Response& res) {
    if (!res.body.empty()) return;  // our own refusals, logged already
    std::string message;
    switch (res.status) {
      case 404: message = "Recurso desconhecido no servidor de aplicação."; break;
      case 413: message = "A requisição excede o tamanho máximo aceito pelo servidor de aplicação."; break;
      default: message = "Requisição recusada pelo servidor de aplicação (HTTP " + std::to_string(res.status) + ").";
    }
    res.set_content(errorBody(message), "application/json");
    RequestLog log;
    log.path = req.path.substr(0, 60);
    log.client = req.remote_addr + ":" + std::to_string(req.remote_port);
    log.outcome = "recusada: " + message;
    d.options.logger(log);
  });

  int port = o.port;
  if (port == 0) {
    port = s.bind_to_any_port(o.address);
  } else if (!s.bind_to_port(o.address, port)) {
    port = -1;
  }
  if (port <= 0) {
    d.server.reset();
    throw rtl::Exception("Não foi possível escutar em " + o.address + ":" + std::to_string(o.port) + ".");
  }
  d.boundPort = port;
  RaiseListenBacklog(port);
  {
    std::lock_guard lock(d.stateMutex);
    d.isStopped = false;
  }
  auto ended = std::make_shared<std::atomic<bool>>(false);
  d.thread = std::thread([&s, ended] {
    s.listen_after_bind();
    *ended = true;
  });
  // stop() only takes effect once the loop runs.
  while (!s.is_running() && !*ended) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

namespace {
// The connections this process accepted on port: sockets on that port that
// have a peer (the listening socket has none).
void shutdownAcceptedConnections(int port) {
  forEachSocketOnPort(port, [](int fd) {
    sockaddr_storage peer{};
    socklen_t m = sizeof peer;
    // Only shut down: the worker that owns the socket still closes it.
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &m) == 0) shutdown(fd, SHUT_RDWR);
  });
}
}  // namespace

void HttpServer::stop() {
  Impl& d = *impl_;
  if (!d.server) return;
  d.server->stop();
  // A worker holding an idle keep-alive connection would keep stop() waiting
  // for its read timeout: let the requests in flight finish and write their
  // replies, then cut the idle connections.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(std::max(1, d.options.readTimeoutSeconds));
  while (d.inflight > 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  if (d.boundPort > 0) shutdownAcceptedConnections(d.boundPort);
  if (d.thread.joinable()) d.thread.join();
  d.server.reset();
  {
    std::lock_guard lock(d.stateMutex);
    d.isStopped = true;
  }
  d.stopped.notify_all();
}

void HttpServer::wait() {
  std::unique_lock lock(impl_->stateMutex);
  impl_->stopped.wait(lock, [&] { return impl_->isStopped; });
}

bool HttpServer::running() const { return impl_->server && impl_->server->is_running(); }
int HttpServer::port() const { return impl_->boundPort; }
const std::string& HttpServer::address() const { return impl_->options.address; }
bool HttpServer::secure() const { return impl_->isSecure; }

size_t HttpServer::sessionCount() const {
  std::lock_guard lock(impl_->sessionsMutex);
  return impl_->sessions.size();
}

}  // namespace net
