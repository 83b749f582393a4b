// The HTTP engine: Boost.Beast's parser on Asio sockets.
//
// A connection is a chain of asynchronous steps, so it holds a thread only
// while its request runs:
//
//   [TLS handshake] -> wait for a request -> headers -> decide -> body -> run -> write the reply -+
//                          ^                                                                      |
//                          +---------------------------- keep-alive ------------------------------+
//
// "decide" is the endpoint's rule that a body is read only for a known session:
// the session is checked from the header, and a request without one gets its
// refusal after at most maxUnauthenticatedBytes of body, or, when it declares
// more, at once and with the connection closed.
//
// Waiting is done by one I/O thread (Asio's reactor), which holds no
// connection for long: the steps that block (the session check, the request
// itself: database, password hashing) are handed to Workers, a pool that
// starts another thread whenever all are busy. A worker that has written a
// reply on a plain connection waits on it a moment (kLinger) for the next
// request, as a clerk's action is often several calls in a row: those then
// cost no hand-over. After that the connection goes back to the reactor and
// holds no thread. Deadlines (header, idle, body, write) and the limits per
// address are admission.h's; a sweep thread enforces the deadlines, and an
// eviction or a deadline only shuts the socket down, which ends the step the
// connection has pending.

#include "net/http_server.h"

#include <poll.h>
#include <sodium.h>
#include <sys/socket.h>

#include <utility>  // before Asio: its awaitable.hpp uses std::exchange without it (Boost 1.74)

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "net/admission.h"
#include "net/sodium_init.h"
#include "platform/rtl/text.h"

namespace net {

namespace asio = boost::asio;
namespace http = boost::beast::http;
using tcp = asio::ip::tcp;
using boost::system::error_code;
using Clock = std::chrono::steady_clock;

namespace {

const char* const kTooLarge = "A requisição excede o tamanho máximo aceito pelo servidor de aplicação.";
const char* const kUnknownPath = "Recurso desconhecido no servidor de aplicação.";
const char* const kMalformed = "Requisição HTTP mal formada.";

constexpr uint32_t kHeaderLimit = 16 * 1024;
constexpr size_t kReadChunk = 16 * 1024;
// A reply buffer larger than this is not kept for the connection's next reply.
constexpr size_t kKeptReplyBytes = 64 * 1024;

int64_t Seconds(int s) { return static_cast<int64_t>(s < 1 ? 1 : s) * 1'000'000'000; }

const char* Reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 404: return "Not Found";
    case 408: return "Request Timeout";
    case 413: return "Payload Too Large";
    case 429: return "Too Many Requests";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Error";
  }
}

std::string_view SV(boost::beast::string_view s) { return {s.data(), s.size()}; }

enum class Route { Login, Call, Logout, Health, Unknown };

Route RouteOf(http::verb method, std::string_view target) {
  std::string_view path = target.substr(0, target.find('?'));
  if (method == http::verb::post) {
    if (path == "/call") return Route::Call;
    if (path == "/login") return Route::Login;
    if (path == "/logout") return Route::Logout;
  } else if (method == http::verb::get && path == "/health") {
    return Route::Health;
  }
  return Route::Unknown;
}

// The address a request came from. Behind a balancer on this machine (the peer
// is the loopback) it is the last address the balancer added to
// X-Forwarded-For, so failed logins and connections are counted per clerk's
// address, not once for the whole company.
std::string SourceAddress(const std::string& peer, bool peerIsLoopback, std::string_view forwarded) {
  if (!peerIsLoopback || forwarded.empty()) return peer;
  size_t comma = forwarded.rfind(',');
  std::string last = rtl::Trim(forwarded.substr(comma == std::string_view::npos ? 0 : comma + 1));
  return last.empty() || last.size() > 45 ? peer : last;
}

// How long a worker waits on a plain connection for its next request after
// writing a reply, before the connection goes back to the reactor.
constexpr int kLingerMs = 2;
// How long a login refused with "wait" (429) is held before its reply.
constexpr int kRefusedLoginDelayMs = 1000;

thread_local bool tOnWorker = false;

// The threads that run the blocking steps. A step is queued and taken by an
// idle worker; when none is idle another is started, up to maxThreads (beyond
// that, steps wait their turn).
class Workers {
public:
  Workers(size_t threads, size_t maxThreads) : max_(std::max<size_t>(std::max<size_t>(threads, maxThreads), 1)) {
    std::lock_guard lock(m_);
    for (size_t i = 0; i < std::max<size_t>(threads, 1); ++i) spawnLocked();
  }
  ~Workers() { stop(); }

  void post(std::function<void()> step) {
    {
      std::lock_guard lock(m_);
      steps_.push_back(std::move(step));
      if (idle_ < steps_.size() && threads_.size() < max_) spawnLocked();
    }
    cv_.notify_one();
  }
  // The queued steps still run, then the workers end.
  void stop() {
    {
      std::lock_guard lock(m_);
      stop_ = true;
    }
    cv_.notify_all();
    std::vector<std::thread> threads;
    {
      std::lock_guard lock(m_);
      threads.swap(threads_);
    }
    for (auto& t : threads) t.join();
  }

private:
  void spawnLocked() {
    ++idle_;  // counted idle from the start, so a burst does not overshoot
    threads_.emplace_back([this] { run(); });
  }
  void run() {
    tOnWorker = true;
    std::unique_lock lock(m_);
    for (;;) {
      cv_.wait(lock, [&] { return stop_ || !steps_.empty(); });
      if (steps_.empty()) break;  // stopping
      auto step = std::move(steps_.front());
      steps_.pop_front();
      --idle_;
      lock.unlock();
      step();
      step = nullptr;  // the connection it held may end here, outside the lock
      lock.lock();
      ++idle_;
    }
  }

  const size_t max_;
  std::mutex m_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> steps_;
  std::vector<std::thread> threads_;
  size_t idle_ = 0;
  bool stop_ = false;
};

}  // namespace

// What every connection of one started server reaches. Destroyed in reverse:
// the workers and the I/O thread end first, then the connections still
// pending in io (they use tls and admission).
struct HttpCore {
  HttpServerOptions& options;
  Endpoint& endpoint;
  Admission admission;
  std::optional<asio::ssl::context> tls;
  asio::io_context io;
  asio::executor_work_guard<asio::io_context::executor_type> work{io.get_executor()};
  std::optional<Workers> workers;
  std::thread ioThread;
  std::atomic<bool> stopping{false};

  HttpCore(HttpServerOptions& o, Endpoint& e)
      : options(o), endpoint(e), admission(o.maxConnectionsPerAddress, o.maxConnections) {}
};

namespace {

tcp ProtocolOf(tcp::socket& s) {
  error_code ec;
  auto at = s.local_endpoint(ec);
  return !ec && at.address().is_v6() ? tcp::v6() : tcp::v4();
}

template <class Stream>
class Connection : public std::enable_shared_from_this<Connection<Stream>> {
public:
  static constexpr bool kTls = !std::is_same_v<Stream, tcp::socket>;

  template <class... Args>
  Connection(HttpCore& core, std::string peer, int peerPort, bool loopback, Args&&... stream)
      : core_(core), stream_(std::forward<Args>(stream)...), peer_(std::move(peer)), peerPort_(peerPort),
        loopback_(loopback), protocol_(ProtocolOf(socket())) {}
  ~Connection() { close(); }

  void start() {
    adm_.fd = socket().native_handle();
    int64_t now = SteadyNowNs();
    adm_.phase = kTls ? Phase::Handshake : Phase::Idle;
    adm_.since = now;
    // A new connection has the header timeout to send its first request.
    adm_.deadline = now + Seconds(core_.options.headerTimeoutSeconds);
    if (!core_.admission.admit(adm_, peer_)) return close();
    if constexpr (kTls) {
      stream_.async_handshake(asio::ssl::stream_base::server, [self = this->shared_from_this()](error_code ec) {
        if (ec || !self->adm_.move(Phase::Handshake, Phase::Idle)) return self->close();
        self->waitRequest(false);
      });
    } else {
      waitRequest(false);
    }
  }

private:
  tcp::socket& socket() {
    if constexpr (kTls)
      return stream_.next_layer();
    else
      return stream_;
  }

  // ---- reading

  void waitRequest(bool keptAlive) {
    parser_.emplace();
    parser_->header_limit(kHeaderLimit);
    // Decided from the header (onHeader). Not boost::none: Beast 1.74 compares
    // a Content-Length with the optional limit, and every length exceeds none.
    parser_->body_limit(std::numeric_limits<std::uint64_t>::max());
    parser_->eager(false);             // stop after the header
    headerSeen_ = false;
    if (keptAlive) {
      int64_t now = SteadyNowNs();
      adm_.since = now;
      adm_.deadline = now + Seconds(core_.options.keepAliveTimeoutSeconds);
      if (!adm_.move(Phase::Writing, Phase::Idle)) return close();
    }
    if (buf_.size() > 0) {  // the next request came with the last one
      if (!beginRequest()) return close();
      return parse();
    }
    if constexpr (!kTls) {
      if (keptAlive && tOnWorker) {
        lingerNext_ = true;  // drive() lingers, so a burst does not deepen the stack
        return;
      }
    }
    readSome();
  }

  // Runs a blocking step on a worker.
  void handOver(void (Connection::*step)()) {
    core_.workers->post([self = this->shared_from_this(), step] { self->drive(step); });
  }
  void drive(void (Connection::*step)()) {
    if constexpr (!kTls) detach();
    (this->*step)();
    while (lingerNext_) {
      lingerNext_ = false;
      linger();
    }
  }

  // On a worker, after a reply: the next request of a burst is read right
  // here; otherwise the connection goes back to the reactor.
  void linger() {
    pollfd p{adm_.fd, POLLIN, 0};
    if (::poll(&p, 1, kLingerMs) <= 0) return readSome();
    error_code ec;
    size_t n = receive(ec);
    if (ec == asio::error::would_block) return readSome();
    onRead(ec, n);
  }

  // A plain socket is in the reactor's set only while the connection waits
  // there: while a worker drives it, each byte the client sends would wake
  // the I/O thread for nothing.
  void detach() {
    if (detached_) return;
    error_code ec;
    socket().release(ec);
    detached_ = !ec;
  }
  bool attach() {
    if (!detached_) return true;
    error_code ec;
    socket().assign(protocol_, adm_.fd, ec);
    if (ec) return false;
    detached_ = false;
    return true;
  }

  // Plain TCP: what the socket holds now, without waiting (the socket is
  // non-blocking); would_block when it holds nothing.
  size_t receive(error_code& ec) {
    auto space = buf_.prepare(kReadChunk);
    ssize_t n;
    do n = ::recv(adm_.fd, space.data(), space.size(), 0);
    while (n < 0 && errno == EINTR);
    if (n > 0) return static_cast<size_t>(n);
    ec = n == 0 ? error_code(asio::error::eof) : error_code(errno, boost::system::system_category());
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) ec = asio::error::would_block;
    return 0;
  }

  // The first bytes of a request: from now its headers have the header timeout.
  bool beginRequest() {
    int64_t now = SteadyNowNs();
    adm_.deadline = now + Seconds(core_.options.headerTimeoutSeconds);
    if (!adm_.move(Phase::Idle, Phase::Header)) return false;
    adm_.since = now;
    return true;
  }

  void readSome() {
    auto self = this->shared_from_this();
    if constexpr (kTls) {
      stream_.async_read_some(buf_.prepare(kReadChunk),
                              [self](error_code ec, size_t n) { self->onRead(ec, n); });
    } else {
      // Waiting for the socket to become readable holds no buffer: an idle
      // connection costs its socket and this object, nothing more.
      if (!attach()) return close();
      socket().async_wait(tcp::socket::wait_read, [self](error_code ec) {
        if (ec) return self->close();
        size_t n = self->receive(ec);
        if (ec == asio::error::would_block) return self->readSome();
        self->onRead(ec, n);
      });
    }
  }

  void onRead(error_code ec, size_t n) {
    if (ec) return close();
    buf_.commit(n);
    Phase p = adm_.phase.load();
    if (p == Phase::Idle) {
      if (!beginRequest()) return close();
    } else if (p == Phase::Body) {
      adm_.deadline = SteadyNowNs() + Seconds(core_.options.readTimeoutSeconds);
    } else if (p == Phase::Shut) {
      return close();
    }
    parse();
  }

  void parse() {
    error_code ec;
    while (buf_.size() > 0 && !parser_->is_done()) {
      size_t used = parser_->put(buf_.data(), ec);
      buf_.consume(used);
      if (ec == http::error::need_more) {
        ec = {};
        break;
      }
      if (ec) break;
      if (parser_->is_header_done() && !headerSeen_) break;
      if (used == 0) break;
    }
    if (ec == http::error::body_limit) return refuseBody();
    if (ec) return malformed(ec == http::error::header_limit ? 431 : 400);
    if (parser_->is_header_done() && !headerSeen_) {
      headerSeen_ = true;
      return onHeader();
    }
    if (parser_->is_done()) return onRequest();
    readSome();
  }

  // The header is whole: the route, the session, and how much body to read.
  void onHeader() {
    if (!adm_.move(Phase::Header, Phase::Busy)) return close();
    if (!tOnWorker) return handOver(&Connection::decide);
    decide();
  }

  // On a worker: the session check may wait for the database.
  void decide() {
    const auto& req = parser_->get();
    started_ = Clock::now();
    route_ = RouteOf(req.method(), SV(req.target()));
    auto fwd = req.find("X-Forwarded-For");
    source_ = fwd == req.end() ? peer_ : SourceAddress(peer_, loopback_, SV(fwd->value()));
    if (source_ != peer_) core_.admission.rekey(adm_, source_);
    refused_.reset();
    op_.clear();
    limit_ = core_.options.maxUnauthenticatedBytes;
    if (route_ == Route::Call) {
      try {
        auto auth = req.find(http::field::authorization);
        op_ = core_.endpoint.authenticate(Endpoint::BearerToken(auth == req.end() ? "" : SV(auth->value())));
        limit_ = core_.options.maxBodyBytes;
        adm_.trusted = true;
      } catch (const Refusal& r) {
        refused_ = r;
      } catch (const std::exception& e) {
        refused_ = Refusal{500, std::string("Erro no servidor de aplicação: ") + e.what()};
      }
    }
    // A body declared larger than what may be read is not read at all; since
    // what is left of it could not be told from a next request, the refusal
    // ends the connection.
    if (auto declared = parser_->content_length(); declared && *declared > limit_) return refuseBody();
    parser_->body_limit(limit_);  // a chunked body is counted as it comes
    parser_->eager(true);
    adm_.deadline = SteadyNowNs() + Seconds(core_.options.readTimeoutSeconds);
    if (!adm_.move(Phase::Busy, Phase::Body)) return close();
    auto expect = req.find(http::field::expect);
    if (expect != req.end() && rtl::SameText(SV(expect->value()), "100-continue") && !parser_->is_done()) {
      out_ = "HTTP/1.1 100 Continue\r\n\r\n";
      return write(After::Continue);
    }
    parse();
  }

  // ---- running the request

  void onRequest() {
    if (!adm_.move(Phase::Body, Phase::Busy)) return close();
    if (!tOnWorker) return handOver(&Connection::runRequest);
    runRequest();
  }

  // On a worker: the module's call blocks.
  void runRequest() {
    RequestLog log;
    bool logged = route_ != Route::Health;
    Reply reply = run(log);
    auto& req = parser_->get();
    if (route_ == Route::Login && !core_.stopping.load()) {
      int delayMs = reply.status == 429 ? kRefusedLoginDelayMs : reply.delayMs;
      if (delayMs > 0) return respondLater(std::move(reply), std::move(log), delayMs);
    }
    respond(reply, log, logged, !req.keep_alive());
  }

  // A login told to wait gets its refusal after kRefusedLoginDelay, on a
  // timer: a guesser that sends its next attempt as soon as it is answered
  // then costs a few requests a second instead of thousands, and holds no
  // thread meanwhile. An unknown operator's refusal waits as long as the
  // endpoint asks. The connection counts as waiting, so it may be evicted.
  void respondLater(Reply reply, RequestLog log, int delayMs) {
    int64_t now = SteadyNowNs();
    adm_.since = now;
    adm_.deadline = now + int64_t{delayMs} * 1'000'000 + Seconds(core_.options.writeTimeoutSeconds);
    if (!adm_.move(Phase::Busy, Phase::Idle)) return close();
    later_ = std::move(reply);
    laterLog_ = std::move(log);
    delay_.expires_after(std::chrono::milliseconds(delayMs));
    delay_.async_wait([self = this->shared_from_this()](error_code ec) {
      if (ec || !self->adm_.move(Phase::Idle, Phase::Busy)) return self->close();
      self->respond(self->later_, self->laterLog_, true, !self->parser_->get().keep_alive());
    });
  }

  Reply run(RequestLog& log) {
    auto& req = parser_->get();
    log.client = source_ + ":" + std::to_string(peerPort_);
    try {
      switch (route_) {
        case Route::Login: {
          log.path = "/login";
          Reply r = core_.endpoint.login(req.body(), source_, log);
          adm_.trusted = true;  // only a successful login returns
          return r;
        }
        case Route::Call:
          log.path = "/call";
          if (refused_) throw *refused_;
          log.operatorCode = op_;
          return core_.endpoint.call(op_, req.body(), log);
        case Route::Logout: {
          log.path = "/logout";
          auto auth = req.find(http::field::authorization);
          return core_.endpoint.logout(Endpoint::BearerToken(auth == req.end() ? "" : SV(auth->value())), log);
        }
        case Route::Health:
          return core_.endpoint.health();
        case Route::Unknown:
          log.path = std::string(SV(req.target()).substr(0, 60));
          throw Refusal{404, kUnknownPath};
      }
    } catch (const Refusal& r) {
      return Endpoint::refuse(r, log);
    } catch (const WireError& e) {
      return Endpoint::refuse(Refusal{400, e.Message()}, log);
    } catch (const std::exception& e) {
      return Endpoint::refuse(Refusal{500, std::string("Erro no servidor de aplicação: ") + e.what()}, log);
    }
    return Endpoint::refuse(Refusal{500, kUnknownPath}, log);
  }

  // The declared or chunked body is larger than may be read: the session's
  // refusal, or 413.
  void refuseBody() {
    if (!adm_.move(Phase::Body, Phase::Busy)) adm_.move(Phase::Header, Phase::Busy);
    RequestLog log;
    log.client = source_ + ":" + std::to_string(peerPort_);
    log.path = route_ == Route::Call ? "/call" : route_ == Route::Login ? "/login" : "/logout";
    Reply reply = Endpoint::refuse(refused_ ? *refused_ : Refusal{413, kTooLarge}, log);
    respond(reply, log, true, true);
  }

  void malformed(int status) {
    if (!adm_.move(Phase::Header, Phase::Busy) && !adm_.move(Phase::Body, Phase::Busy)) return close();
    started_ = Clock::now();
    RequestLog log;
    log.client = peer_ + ":" + std::to_string(peerPort_);
    log.path = "-";
    Reply reply = Endpoint::refuse(
        Refusal{status, status == 431 ? "Cabeçalhos da requisição longos demais." : kMalformed}, log);
    respond(reply, log, true, true);
  }

  // ---- writing

  void respond(const Reply& reply, RequestLog& log, bool logged, bool closing) {
    ++requests_;
    closeAfter_ = closing || core_.stopping.load() || requests_ >= core_.options.keepAliveMaxCount;
    out_.clear();
    out_ += "HTTP/1.1 ";
    out_ += std::to_string(reply.status);
    out_ += ' ';
    out_ += Reason(reply.status);
    out_ += "\r\nContent-Type: application/json\r\nContent-Length: ";
    out_ += std::to_string(reply.body.size());
    if (logged) {
      log.milliseconds = std::chrono::duration<double, std::milli>(Clock::now() - started_).count();
      out_ += "\r\nServer-Timing: ";
      out_ += ServerTimingHeader(log);
    }
    out_ += closeAfter_ ? "\r\nConnection: close\r\n\r\n" : "\r\n\r\n";
    out_ += reply.body;
    if (logged) core_.options.logger(log);
    adm_.deadline = SteadyNowNs() + Seconds(core_.options.writeTimeoutSeconds);
    if (!adm_.move(Phase::Busy, Phase::Writing)) return close();
    write(After::Reply);
  }

  enum class After { Reply, Continue };

  void write(After after) {
    written_ = 0;
    if constexpr (kTls) {
      asio::async_write(stream_, asio::buffer(out_), [self = this->shared_from_this(), after](error_code ec, size_t) {
        if (ec) return self->close();
        self->written(after);
      });
    } else {
      writeSome(after);
    }
  }

  // Plain TCP: the reply is sent right away from this thread; only what the
  // socket does not take at once waits for it to be writable.
  void writeSome(After after) {
    while (written_ < out_.size()) {
      ssize_t n = ::send(adm_.fd, out_.data() + written_, out_.size() - written_, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      if (n <= 0) return close();
      written_ += static_cast<size_t>(n);
      adm_.deadline = SteadyNowNs() + Seconds(core_.options.writeTimeoutSeconds);
    }
    if (written_ == out_.size()) return written(after);
    if (!attach()) return close();
    socket().async_wait(tcp::socket::wait_write, [self = this->shared_from_this(), after](error_code ec) {
      if (ec) return self->close();
      self->writeSome(after);
    });
  }

  void written(After after) {
    if (after == After::Continue) {
      out_.clear();
      return parse();
    }
    if (closeAfter_) return close();
    if (out_.capacity() > kKeptReplyBytes) std::string().swap(out_);
    parser_.reset();
    waitRequest(true);
  }

  void close() {
    if (closed_) return;
    closed_ = true;
    core_.admission.leave(adm_);  // before the descriptor can be reused
    if (detached_) {
      ::shutdown(adm_.fd, SHUT_RDWR);
      ::close(adm_.fd);
      return;
    }
    error_code ec;
    socket().shutdown(tcp::socket::shutdown_both, ec);
    socket().close(ec);
  }

  HttpCore& core_;
  Stream stream_;
  Admitted adm_;
  const std::string peer_;
  const int peerPort_;
  const bool loopback_;
  const tcp protocol_;
  bool closed_ = false;
  bool detached_ = false;  // plain: a worker drives the socket, out of the reactor's set

  boost::beast::flat_buffer buf_;
  std::optional<http::request_parser<http::string_body>> parser_;
  bool headerSeen_ = false;
  bool lingerNext_ = false;
  // The request in progress.
  Clock::time_point started_;
  Route route_ = Route::Unknown;
  std::string source_;
  std::string op_;
  std::optional<Refusal> refused_;
  size_t limit_ = 0;
  // A refusal held back (respondLater), and its timer.
  Reply later_;
  RequestLog laterLog_;
  asio::steady_timer delay_{core_.io};
  // The reply.
  std::string out_;
  size_t written_ = 0;
  bool closeAfter_ = false;
  size_t requests_ = 0;
};

// Accepts connections for as long as the acceptor is open.
class Listener : public std::enable_shared_from_this<Listener> {
public:
  // The acceptor runs on a strand of its own, so that stop() can close it
  // while an accept completes; each accepted socket runs on the io_context.
  Listener(HttpCore& core, tcp::acceptor acceptor) : core_(core), acceptor_(std::move(acceptor)), retry_(acceptor_.get_executor()) {}

  void accept() {
    acceptor_.async_accept(core_.io, [self = shared_from_this()](error_code ec, tcp::socket s) {
      self->onAccept(ec, std::move(s));
    });
  }
  // Closes the listening socket; returns once it is closed (or after 5 s).
  void close() {
    auto closed = std::make_shared<std::promise<void>>();
    asio::post(acceptor_.get_executor(), [self = shared_from_this(), closed] {
      error_code ec;
      self->acceptor_.close(ec);
      closed->set_value();
    });
    closed->get_future().wait_for(std::chrono::seconds(5));
  }

private:
  void onAccept(error_code ec, tcp::socket s) {
    if (!acceptor_.is_open() || ec == asio::error::operation_aborted) return;
    if (ec) {
      // Out of descriptors, most likely: try again shortly rather than spin.
      retry_.expires_after(std::chrono::milliseconds(50));
      retry_.async_wait([self = shared_from_this()](error_code e) {
        if (!e) self->accept();
      });
      return;
    }
    error_code ignored;
    s.set_option(tcp::no_delay(true), ignored);
    s.non_blocking(true, ignored);
    auto ep = s.remote_endpoint(ignored);
    asio::ip::address a = ep.address();
    if (a.is_v6() && a.to_v6().is_v4_mapped()) a = asio::ip::make_address_v4(asio::ip::v4_mapped, a.to_v6());
    std::string peer = a.to_string(ignored);
    bool loopback = a.is_loopback();
    if (core_.tls) {
      using TlsStream = asio::ssl::stream<tcp::socket>;
      std::make_shared<Connection<TlsStream>>(core_, std::move(peer), ep.port(), loopback, std::move(s), *core_.tls)
          ->start();
    } else {
      std::make_shared<Connection<tcp::socket>>(core_, std::move(peer), ep.port(), loopback, std::move(s))->start();
    }
    accept();
  }

  HttpCore& core_;
  tcp::acceptor acceptor_;
  asio::steady_timer retry_;
};

asio::ip::address ListenAddress(asio::io_context& io, std::string host) {
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  error_code ec;
  auto a = asio::ip::make_address(host, ec);
  if (!ec) return a;
  tcp::resolver resolver(io);
  auto found = resolver.resolve(host, "", ec);
  if (ec || found.empty()) throw rtl::Exception("Endereço inválido para escutar: " + host + ".");
  return found.begin()->endpoint().address();
}

}  // namespace

struct HttpServer::Impl {
  HttpServerOptions options;
  Endpoint endpoint;
  std::unique_ptr<HttpCore> core;
  std::shared_ptr<Listener> listener;
  std::thread sweeper;
  int boundPort = 0;
  bool isSecure = false;

  std::mutex stateMutex;
  std::condition_variable stateChanged;
  bool isStopped = true;

  Impl(contracts::OperatorStore& ops, HttpServerOptions opts) : options(std::move(opts)), endpoint(ops, options) {
    if (!options.logger) options.logger = StderrRequestLogger();
    options.limits.maxBytes = options.maxBodyBytes;
  }

  void sweep() {
    std::unique_lock lock(stateMutex);
    while (!isStopped) {
      stateChanged.wait_for(lock, std::chrono::milliseconds(100));
      if (core) core->admission.sweep(SteadyNowNs());
    }
  }
};

HttpServer::HttpServer(contracts::OperatorStore& operators, HttpServerOptions options)
    : impl_(std::make_unique<Impl>(operators, std::move(options))) {
  EnsureSodium();
}

HttpServer::~HttpServer() { stop(); }

void HttpServer::addModule(contracts::RemoteModule& module) { impl_->endpoint.addModule(module); }

void HttpServer::start() {
  Impl& d = *impl_;
  if (d.core) return;
  const auto& o = d.options;
  auto core = std::make_unique<HttpCore>(d.options, d.endpoint);
  if (!o.certFile.empty() || !o.keyFile.empty()) {
    if (o.certFile.empty() || o.keyFile.empty())
      throw rtl::Exception("HTTPS precisa do certificado e da chave privada.");
    try {
      asio::ssl::context tls(asio::ssl::context::tls_server);
      tls.set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2 |
                      asio::ssl::context::no_sslv3 | asio::ssl::context::no_tlsv1 | asio::ssl::context::no_tlsv1_1 |
                      asio::ssl::context::single_dh_use);
      tls.use_certificate_chain_file(o.certFile);
      tls.use_private_key_file(o.keyFile, asio::ssl::context::pem);
      core->tls.emplace(std::move(tls));
    } catch (const boost::system::system_error&) {
      throw rtl::Exception("Não foi possível carregar o certificado '" + o.certFile + "' ou a chave '" + o.keyFile +
                           "'.");
    }
  }
  tcp::acceptor acceptor(asio::make_strand(core->io));
  try {
    tcp::endpoint at(ListenAddress(core->io, o.address), static_cast<unsigned short>(o.port));
    acceptor.open(at.protocol());
    // Only SO_REUSEADDR, for a restart: SO_REUSEPORT would let a second server
    // bind the same port and silently take half of the connections.
    acceptor.set_option(tcp::acceptor::reuse_address(true));
    acceptor.bind(at);
    acceptor.listen(asio::socket_base::max_listen_connections);
    d.boundPort = acceptor.local_endpoint().port();
  } catch (const boost::system::system_error&) {
    throw rtl::Exception("Não foi possível escutar em " + o.address + ":" + std::to_string(o.port) + ".");
  }
  d.isSecure = core->tls.has_value();
  d.listener = std::make_shared<Listener>(*core, std::move(acceptor));
  d.listener->accept();
  core->workers.emplace(o.threads, o.maxThreads);
  core->ioThread = std::thread([&io = core->io] { io.run(); });
  d.core = std::move(core);
  {
    std::lock_guard lock(d.stateMutex);
    d.isStopped = false;
  }
  d.sweeper = std::thread([&d] { d.sweep(); });
}

void HttpServer::stop() {
  Impl& d = *impl_;
  if (!d.core) return;
  HttpCore& core = *d.core;
  core.stopping = true;
  // Once the listening socket is closed, new connections are refused.
  d.listener->close();
  // Connections that wait end now; the requests in flight finish and write
  // their replies, then end too.
  auto deadline = Clock::now() + std::chrono::seconds(std::max(1, d.options.readTimeoutSeconds));
  while (Clock::now() < deadline) {
    core.admission.shutWaiting();
    if (core.admission.size() == 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  core.work.reset();
  core.io.stop();
  core.ioThread.join();
  core.workers->stop();
  {
    std::lock_guard lock(d.stateMutex);
    d.isStopped = true;
  }
  d.stateChanged.notify_all();
  if (d.sweeper.joinable()) d.sweeper.join();
  d.listener.reset();
  d.core.reset();  // the connections still pending close here
}

void HttpServer::wait() {
  std::unique_lock lock(impl_->stateMutex);
  impl_->stateChanged.wait(lock, [&] { return impl_->isStopped; });
}

bool HttpServer::running() const { return impl_->core && !impl_->core->stopping; }
int HttpServer::port() const { return impl_->boundPort; }
const std::string& HttpServer::address() const { return impl_->options.address; }
bool HttpServer::secure() const { return impl_->isSecure; }
size_t HttpServer::connections() const { return impl_->core ? impl_->core->admission.size() : 0; }

}  // namespace net
