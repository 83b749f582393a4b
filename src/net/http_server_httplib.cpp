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
#include <arpa/inet.h>
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

const char* const kTooLarge = "A requisição excede o tamanho máximo aceito pelo servidor de aplicação.";

// The address a request came from. Behind a balancer on this machine (the peer
// is the loopback) it is the last address the balancer added to
// X-Forwarded-For, so failed logins are counted per clerk's address, not once
// for the whole company.
std::string SourceAddress(const httplib::Request& req) {
  const std::string& peer = req.remote_addr;
  bool loopback = peer.rfind("127.", 0) == 0 || peer == "::1" || peer == "::ffff:127.0.0.1";
  if (!loopback || !req.has_header("X-Forwarded-For")) return peer;
  std::string chain = req.get_header_value("X-Forwarded-For");
  size_t comma = chain.rfind(',');
  std::string last = chain.substr(comma == std::string::npos ? 0 : comma + 1);
  last.erase(0, last.find_first_not_of(' '));
  last.erase(last.find_last_not_of(' ') + 1);
  return last.empty() || last.size() > 45 ? peer : last;
}

// A refusal after which the connection cannot go on.
struct CloseWith {
  Refusal refusal;
};

}  // namespace

struct HttpServer::Impl {
  HttpServerOptions options;
  Endpoint endpoint;
  std::unique_ptr<httplib::Server> server;
  std::thread thread;
  int boundPort = 0;
  bool isSecure = false;

  std::mutex stateMutex;
  std::condition_variable stopped;
  bool isStopped = true;

  std::atomic<int> inflight{0};  // requests inside a handler

  Impl(contracts::OperatorStore& ops, HttpServerOptions opts) : options(std::move(opts)), endpoint(ops, options) {
    if (!options.logger) options.logger = StderrRequestLogger();
    options.limits.maxBytes = options.maxBodyBytes;
  }

  // Runs one request: handle fills the reply and the log; refusals and
  // unexpected errors become replies in the envelope the client reads.
  template <class Fn>
  void serve(const char* path, const httplib::Request& req, httplib::Response& res, Fn handle) {
    ++inflight;
    struct Leave {
      std::atomic<int>& n;
      ~Leave() { --n; }
    } leave{inflight};
    auto started = Clock::now();
    RequestLog log;
    log.path = path;
    log.client = SourceAddress(req) + ":" + std::to_string(req.remote_port);
    Reply reply;
    try {
      reply = handle(log);
    } catch (const Refusal& r) {
      reply = Endpoint::refuse(r, log);
    } catch (const CloseWith& c) {
      reply = Endpoint::refuse(c.refusal, log);
      replyAndClose(req, reply);
    } catch (const WireError& e) {
      reply = Endpoint::refuse(Refusal{400, e.Message()}, log);
    } catch (const std::exception& e) {
      reply = Endpoint::refuse(Refusal{500, std::string("Erro no servidor de aplicação: ") + e.what()}, log);
    }
    res.status = reply.status;
    res.set_content(std::move(reply.body), "application/json");
    log.milliseconds = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
    res.set_header("Server-Timing", ServerTimingHeader(log));
    options.logger(log);
  }

  // Reads the body, at most limit bytes. A larger one is not read at all
  // (nothing of it is kept), and since what is left of it could not be told
  // from a next request, the refusal closes the connection.
  std::string readBody(const httplib::Request& req, const httplib::ContentReader& reader, size_t limit,
                       const Refusal& overLimit) {
    if (req.has_header("Content-Length")) {
      unsigned long long declared = std::strtoull(req.get_header_value("Content-Length").c_str(), nullptr, 10);
      if (declared > limit) throw CloseWith{overLimit};
    }
    std::string body;
    bool over = false;
    reader([&](const char* data, size_t n) {
      if (body.size() + n > limit) {
        over = true;
        return false;
      }
      body.append(data, n);
      return true;
    });
    if (over) throw CloseWith{overLimit};
    return body;
  }
  std::string readBody(const httplib::Request& req, const httplib::ContentReader& reader, size_t limit) {
    return readBody(req, reader, limit, Refusal{413, kTooLarge});
  }

  // Writes the reply straight to the socket and ends the connection: the
  // library would otherwise go on reading the unread body as its next request.
  void replyAndClose(const httplib::Request& req, const Reply& reply);

  void handleLogin(const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader) {
    serve("/login", req, res, [&](RequestLog& log) {
      std::string body = readBody(req, reader, options.maxUnauthenticatedBytes);
      return endpoint.login(body, SourceAddress(req), log);
    });
  }

  void handleCall(const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader) {
    serve("/call", req, res, [&](RequestLog& log) {
      std::string op;
      try {
        op = endpoint.authenticate(Endpoint::BearerToken(req.get_header_value("Authorization")));
      } catch (const Refusal& r) {
        // A small body is read to its end (and dropped) so the connection
        // stays usable; a larger one is not read at all.
        readBody(req, reader, options.maxUnauthenticatedBytes, r);
        throw;
      }
      log.operatorCode = op;
      std::string body = readBody(req, reader, options.maxBodyBytes);
      return endpoint.call(op, body, log);
    });
  }

  void handleLogout(const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader) {
    serve("/logout", req, res, [&](RequestLog& log) {
      readBody(req, reader, options.maxUnauthenticatedBytes);
      return endpoint.logout(Endpoint::BearerToken(req.get_header_value("Authorization")), log);
    });
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

void HttpServer::addModule(contracts::RemoteModule& module) { impl_->endpoint.addModule(module); }

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
  using Reader = httplib::ContentReader;
  s.Post("/login", [&d](const httplib::Request& q, httplib::Response& r, const Reader& c) { d.handleLogin(q, r, c); });
  s.Post("/call", [&d](const httplib::Request& q, httplib::Response& r, const Reader& c) { d.handleCall(q, r, c); });
  s.Post("/logout", [&d](const httplib::Request& q, httplib::Response& r, const Reader& c) { d.handleLogout(q, r, c); });
  s.Get("/health", [&d](const httplib::Request& q, httplib::Response& r) {
    Reply reply = d.endpoint.health();
    r.status = reply.status;
    r.set_content(reply.body, "application/json");
    (void)q;
  });
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
    RequestLog log;
    res.set_content(Endpoint::refuse(Refusal{res.status, message}, log).body, "application/json");
    log.path = req.path.substr(0, 60);
    log.client = req.remote_addr + ":" + std::to_string(req.remote_port);
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

void HttpServer::Impl::replyAndClose(const httplib::Request& req, const Reply& reply) {
  // The library does not hand out the socket: find it by its peer.
  std::string peer = req.remote_addr;
  int peerPort = req.remote_port;
  forEachSocketOnPort(boundPort, [&](int fd) {
    sockaddr_storage a{};
    socklen_t n = sizeof a;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&a), &n) != 0) return;
    char host[INET6_ADDRSTRLEN] = {};
    int port = -1;
    if (a.ss_family == AF_INET) {
      auto* in = reinterpret_cast<sockaddr_in*>(&a);
      inet_ntop(AF_INET, &in->sin_addr, host, sizeof host);
      port = ntohs(in->sin_port);
    } else if (a.ss_family == AF_INET6) {
      auto* in = reinterpret_cast<sockaddr_in6*>(&a);
      inet_ntop(AF_INET6, &in->sin6_addr, host, sizeof host);
      port = ntohs(in->sin6_port);
    }
    if (port != peerPort || peer != host) return;
    // Under TLS the bytes would have to be encrypted: there the connection
    // just ends.
    if (!isSecure) {
      std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " " +
                         (reply.status == 401 ? "Unauthorized" : reply.status == 413 ? "Payload Too Large" : "Error") +
                         "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(reply.body.size()) +
                         "\r\nConnection: close\r\n\r\n" + reply.body;
      for (size_t sent = 0; sent < head.size();) {
        ssize_t k = send(fd, head.data() + sent, head.size() - sent, MSG_NOSIGNAL);
        if (k <= 0) break;
        sent += static_cast<size_t>(k);
      }
    }
    shutdown(fd, SHUT_RDWR);
  });
}

}  // namespace net
