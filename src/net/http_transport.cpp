// The client side: one keep-alive connection per transport, blocking, as the
// screens call (synchronously, on the user-interface thread).
//
// An exchange is one send of the whole request and blocking reads until Beast's
// parser has the whole reply: on loopback the cheapest call costs little more
// than a TCP round trip. Timeouts are the socket's own (SO_RCVTIMEO and
// SO_SNDTIMEO, set once per connection), so a wait is a single system call.
// HTTPS is OpenSSL's, on the same socket.
//
// A kept connection that the server closed while it was idle (its keep-alive
// timeout, or to make room for other connections) is noticed before the next
// request is sent and replaced: the request goes out on a new connection. Once
// sent, a request is never sent again: a write may have landed.

#include "net/http_transport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <utility>  // before Asio, which Beast includes: see http_server.cpp

#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>

namespace net {

using contracts::TransportError;
namespace http = boost::beast::http;

namespace {

thread_local ServerTiming lastTiming;

}  // namespace

ServerTiming LastServerTiming() { return lastTiming; }

ServerTiming ParseServerTiming(const std::string& header) {
  ServerTiming t;
  size_t pos = 0;
  while (pos < header.size()) {
    size_t end = header.find(',', pos);
    if (end == std::string::npos) end = header.size();
    std::string part = header.substr(pos, end - pos);
    pos = end + 1;
    size_t b = part.find_first_not_of(' ');
    if (b == std::string::npos) continue;
    size_t semi = part.find(';', b);
    size_t dur = part.find("dur=", b);
    if (semi == std::string::npos || dur == std::string::npos) continue;
    std::string name = part.substr(b, semi - b);
    double ms = std::strtod(part.c_str() + dur + 4, nullptr);
    if (name == "handler") t.handlerMs = ms;
    else if (name == "method") t.methodMs = ms;
    else if (name == "db") t.databaseMs = ms;
  }
  return t;
}

namespace {

// Why an exchange failed; the message the clerk reads is chosen from it.
enum class Failure { Connect, ConnectTimeout, Tls, Write, Read, Malformed };

struct Failed {
  Failure kind;
};

std::string BareHost(const std::string& host) {
  return host.size() > 2 && host.front() == '[' && host.back() == ']' ? host.substr(1, host.size() - 2) : host;
}

// A server may refuse a request before reading its body and close the
// connection while the body is still being sent; the write must then fail as
// an error, not end the process with SIGPIPE (OpenSSL writes with write()).
void IgnoreBrokenPipes() {
  static std::once_flag once;
  std::call_once(once, [] { std::signal(SIGPIPE, SIG_IGN); });
}

timeval Timeval(int ms) {
  timeval tv{};
  tv.tv_sec = ms / 1000;
  tv.tv_usec = (ms % 1000) * 1000;
  return tv;
}

// One keep-alive connection: a socket, and OpenSSL's session on it for HTTPS.
class Link {
public:
  Link(std::string host, int port, const HttpTransportOptions& options)
      : host_(BareHost(host)), port_(port), options_(options) {
    if (options_.https) {
      ctx_ = SSL_CTX_new(TLS_client_method());
      if (!ctx_) throw Failed{Failure::Tls};
      SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION);
      SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER, nullptr);
      int loaded = options_.caFile.empty() ? SSL_CTX_set_default_verify_paths(ctx_)
                                           : SSL_CTX_load_verify_locations(ctx_, options_.caFile.c_str(), nullptr);
      if (loaded != 1) {
        SSL_CTX_free(ctx_);
        ctx_ = nullptr;
        caFailed_ = true;
      }
    }
  }
  ~Link() {
    close();
    if (ctx_) SSL_CTX_free(ctx_);
  }
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  // Sends request and reads its reply into parser; throws Failed.
  void exchange(const std::string& request, http::response_parser<http::string_body>& parser) {
    // Bytes left over from the last reply: the server spoke out of turn.
    if (fd_ >= 0 && (buf_.size() > 0 || !stillOpen())) close();
    if (fd_ < 0) open();
    try {
      sendAll(request);
      boost::system::error_code ec;
      for (;;) {
        while (buf_.size() > 0 && !parser.is_done()) {
          size_t used = parser.put(buf_.data(), ec);
          buf_.consume(used);
          if (ec == http::error::need_more) {
            ec = {};
            break;
          }
          if (ec) throw Failed{Failure::Malformed};
          if (used == 0) break;
        }
        if (parser.is_done()) break;
        auto space = buf_.prepare(64 * 1024);
        size_t n = receive(static_cast<char*>(space.data()), space.size());
        if (n == 0) {
          // The server ended the connection: the end of a reply without a
          // length, else a broken exchange.
          if (!parser.got_some()) throw Failed{Failure::Read};
          parser.put_eof(ec);
          if (ec || !parser.is_done()) throw Failed{Failure::Read};
          break;
        }
        buf_.commit(n);
      }
    } catch (const Failed&) {
      close();
      throw;
    }
    if (!parser.get().keep_alive()) close();
  }

  void close() {
    if (ssl_) {
      SSL_free(ssl_);
      ssl_ = nullptr;
    }
    if (fd_ >= 0) {
      ::close(fd_);
      fd_ = -1;
    }
    buf_.clear();
  }

private:
  void open() {
    if (caFailed_) throw Failed{Failure::Tls};
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (getaddrinfo(host_.c_str(), std::to_string(port_).c_str(), &hints, &found) != 0 || !found)
      throw Failed{Failure::Connect};
    Failure why = Failure::Connect;
    for (addrinfo* a = found; a && fd_ < 0; a = a->ai_next) {
      int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
      if (fd < 0) continue;
      if (connectWithin(fd, a->ai_addr, a->ai_addrlen, why))
        fd_ = fd;
      else
        ::close(fd);
    }
    freeaddrinfo(found);
    if (fd_ < 0) throw Failed{why};
    int one = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    timeval rt = Timeval(options_.readTimeoutMs), wt = Timeval(options_.writeTimeoutMs);
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &rt, sizeof rt);
    setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &wt, sizeof wt);
    if (ctx_) handshake();
  }

  // A non-blocking connect, waited for at most connectTimeoutMs.
  bool connectWithin(int fd, const sockaddr* to, socklen_t len, Failure& why) {
    int flags = fcntl(fd, F_GETFL, 0);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int r = ::connect(fd, to, len);
    if (r != 0 && errno != EINPROGRESS) return false;
    if (r != 0) {
      pollfd p{fd, POLLOUT, 0};
      int k;
      do k = ::poll(&p, 1, options_.connectTimeoutMs);
      while (k < 0 && errno == EINTR);
      if (k == 0) {
        why = Failure::ConnectTimeout;
        return false;
      }
      int err = 0;
      socklen_t n = sizeof err;
      if (k < 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &n) != 0 || err != 0) return false;
    }
    fcntl(fd, F_SETFL, flags);
    return true;
  }

  void handshake() {
    ssl_ = SSL_new(ctx_);
    if (!ssl_) throw Failed{Failure::Tls};
    SSL_set_fd(ssl_, fd_);
    in6_addr ip6;
    in_addr ip4;
    bool literal = inet_pton(AF_INET, host_.c_str(), &ip4) == 1 || inet_pton(AF_INET6, host_.c_str(), &ip6) == 1;
    if (literal) {
      X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), host_.c_str());
    } else {
      SSL_set_tlsext_host_name(ssl_, host_.c_str());
      SSL_set1_host(ssl_, host_.c_str());
    }
    if (SSL_connect(ssl_) != 1) {
      ERR_clear_error();
      close();
      throw Failed{Failure::Tls};
    }
  }

  // Whether the kept connection may carry a request: nothing is expected from
  // the server between replies, so anything readable means it closed the
  // connection (or speaks out of turn). Under TLS 1.3 the server's session
  // tickets may still wait there; they are read and the connection kept.
  bool stillOpen() {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 0) == 0 && (!ssl_ || SSL_pending(ssl_) == 0)) return true;
    if (!ssl_) return false;
    int flags = fcntl(fd_, F_GETFL, 0);
    fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
    char c;
    int r = SSL_read(ssl_, &c, 1);
    int err = r > 0 ? SSL_ERROR_NONE : SSL_get_error(ssl_, r);
    fcntl(fd_, F_SETFL, flags);
    ERR_clear_error();
    return r <= 0 && err == SSL_ERROR_WANT_READ;
  }

  void sendAll(const std::string& data) {
    for (size_t sent = 0; sent < data.size();) {
      size_t left = data.size() - sent;
      if (ssl_) {
        int k = SSL_write(ssl_, data.data() + sent, static_cast<int>(std::min<size_t>(left, 1 << 30)));
        if (k <= 0) {
          ERR_clear_error();
          throw Failed{Failure::Write};
        }
        sent += static_cast<size_t>(k);
      } else {
        ssize_t k = ::send(fd_, data.data() + sent, left, MSG_NOSIGNAL);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) throw Failed{Failure::Write};
        sent += static_cast<size_t>(k);
      }
    }
  }

  // Blocks for at most the read timeout; 0 when the server ended the connection.
  size_t receive(char* into, size_t room) {
    for (;;) {
      if (ssl_) {
        int k = SSL_read(ssl_, into, static_cast<int>(std::min<size_t>(room, 1 << 30)));
        if (k > 0) return static_cast<size_t>(k);
        int err = SSL_get_error(ssl_, k);
        ERR_clear_error();
        if (err == SSL_ERROR_ZERO_RETURN) return 0;
        throw Failed{Failure::Read};  // a timeout comes back as WANT_READ
      }
      ssize_t k = ::recv(fd_, into, room, 0);
      if (k >= 0) return static_cast<size_t>(k);
      if (errno == EINTR) continue;
      throw Failed{Failure::Read};  // EAGAIN: the read timeout
    }
  }

  const std::string host_;
  const int port_;
  const HttpTransportOptions& options_;
  SSL_CTX* ctx_ = nullptr;
  bool caFailed_ = false;
  SSL* ssl_ = nullptr;
  int fd_ = -1;
  boost::beast::flat_buffer buf_;
};

std::string HostHeader(const std::string& host, int port) {
  bool v6 = host.find(':') != std::string::npos && host.front() != '[';
  return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

class HttpTransport : public contracts::Transport {
public:
  HttpTransport(const std::string& host, int port, HttpTransportOptions options)
      : options_((IgnoreBrokenPipes(), std::move(options))),
        where_(host + ":" + std::to_string(port)),
        hostHeader_(HostHeader(host, port)),
        link_(host, port, options_) {
    if (host.empty() || port <= 0 || port > 65535)
      throw TransportError("Endereço inválido do servidor de aplicação: " + where_ + ".");
  }

  // The reply envelope of path, or a TransportError that says what went wrong.
  Envelope post(const std::string& path, const Envelope& request, const std::string& what,
                const std::string& token = {}) {
    auto started = std::chrono::steady_clock::now();
    lastTiming = ServerTiming{};
    std::string body = EncodeEnvelope(request);
    std::string head;
    head.reserve(160 + token.size() + body.size());
    head += "POST ";
    head += path;
    head += " HTTP/1.1\r\nHost: ";
    head += hostHeader_;
    head += "\r\nContent-Type: application/json\r\nContent-Length: ";
    head += std::to_string(body.size());
    if (!token.empty()) {
      head += "\r\nAuthorization: Bearer ";
      head += token;
    }
    head += "\r\n\r\n";
    head += body;
    body.clear();

    http::response_parser<http::string_body> parser;
    parser.eager(true);
    parser.header_limit(64 * 1024);
    parser.body_limit(options_.limits.maxBytes);
    try {
      link_.exchange(head, parser);
    } catch (const Failed& f) {
      throw TransportError(describe(f.kind, what));
    }
    const auto& res = parser.get();
    int status = static_cast<int>(res.result_int());
    Envelope reply;
    try {
      reply = DecodeEnvelope(res.body(), options_.limits);
      auto timing = res.find("Server-Timing");
      if (timing != res.end()) lastTiming = ParseServerTiming(std::string(timing->value()));
      lastTiming.totalMs =
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
    } catch (const WireError& e) {
      if (status != 200)
        throw TransportError("O servidor de aplicação recusou " + what + " (HTTP " + std::to_string(status) + ").");
      throw TransportError("Resposta inválida do servidor de aplicação a " + what + ". " + e.Message());
    }
    if (reply.has("error")) throw TransportError(reply.text("error"));
    if (status != 200)
      throw TransportError("O servidor de aplicação recusou " + what + " (HTTP " + std::to_string(status) + ").");
    return reply;
  }

  rtl::Variant Call(const std::string& server, const std::string& method, rtl::VariantArray& args,
                    const std::string& token) override {
    Envelope request;
    request.texts["server"] = server;
    request.texts["method"] = method;
    request.args = args;
    Envelope reply = post("/call", request, "a chamada " + method, token);
    if (!reply.result) throw TransportError("Resposta do servidor de aplicação sem resultado para " + method + ".");
    if (reply.args) {
      // Only the by-reference arguments come back, at the positions "refs" names.
      std::vector<size_t> at;
      bool bad = false;
      for (std::string_view rest = reply.text("refs"); !rest.empty() && !bad;) {
        size_t q = rest.find(',');
        std::string_view part = rest.substr(0, q);
        size_t i = 0;
        auto [end, ec] = std::from_chars(part.data(), part.data() + part.size(), i);
        bad = ec != std::errc{} || end != part.data() + part.size() || i >= args.size();
        if (!bad) at.push_back(i);
        rest = q == std::string_view::npos ? std::string_view{} : rest.substr(q + 1);
      }
      if (bad || at.size() != reply.args->size())
        throw TransportError("Resposta do servidor de aplicação com argumentos por referência inválidos para " +
                             method + ".");
      for (size_t k = 0; k < at.size(); ++k) args[at[k]] = std::move((*reply.args)[k]);
    }
    return std::move(*reply.result);
  }

private:
  std::string describe(Failure f, const std::string& what) const {
    switch (f) {
      case Failure::Connect:
        return "Não foi possível conectar ao servidor de aplicação em " + where_ + ".";
      case Failure::ConnectTimeout:
        return "Tempo esgotado ao conectar ao servidor de aplicação em " + where_ + ".";
      case Failure::Read:
        return "O servidor de aplicação em " + where_ + " não respondeu a tempo ou encerrou a conexão durante " +
               what + ".";
      case Failure::Write:
        return "Falha ao enviar " + what + " ao servidor de aplicação em " + where_ + ".";
      case Failure::Tls:
        return "Falha na conexão segura com o servidor de aplicação em " + where_ + ".";
      case Failure::Malformed:
        break;
    }
    return "Resposta HTTP inválida do servidor de aplicação em " + where_ + " a " + what + ".";
  }

  HttpTransportOptions options_;
  std::string where_;
  std::string hostHeader_;
  Link link_;
};

}  // namespace

std::unique_ptr<contracts::Transport> MakeHttpTransport(const std::string& host, int port,
                                                       HttpTransportOptions options) {
  return std::make_unique<HttpTransport>(host, port, std::move(options));
}

void RegisterHttpTransport(HttpTransportOptions options) {
  contracts::RegisterTransportFactory(
      [options](const std::string& host, int port) { return MakeHttpTransport(host, port, options); });
}

std::string Login(const std::string& host, int port, const std::string& operatorCode, const std::string& password,
                  HttpTransportOptions options) {
  HttpTransport t(host, port, std::move(options));
  Envelope request;
  request.texts["operator"] = operatorCode;
  request.texts["password"] = password;
  Envelope reply = t.post("/login", request, "a entrada do operador");
  std::string token = reply.text("token");
  if (token.empty()) throw TransportError("O servidor de aplicação não abriu a sessão.");
  contracts::SetSession({token, reply.has("operator") ? reply.text("operator") : operatorCode});
  return token;
}

void Logout(const std::string& host, int port, HttpTransportOptions options) {
  contracts::SessionInfo session = contracts::CurrentSession();
  contracts::ClearSession();
  if (session.token.empty()) return;
  try {
    HttpTransport t(host, port, std::move(options));
    t.post("/logout", Envelope{}, "a saída do operador", session.token);
  } catch (const TransportError&) {
    // The session expires on the server by itself.
  }
}

}  // namespace net
