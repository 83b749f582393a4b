#include "net/http_transport.h"

#include <httplib.h>

#include <charconv>
#include <csignal>
#include <mutex>
#include <chrono>
#include <cstdlib>

namespace net {

using contracts::TransportError;

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

std::string hostPart(const std::string& host) {
  return host.find(':') != std::string::npos && host.front() != '[' ? "[" + host + "]" : host;
}

// A server may refuse a request before reading its body and close the
// connection while the body is still being sent; the write must then fail as
// an error, not end the process with SIGPIPE.
void IgnoreBrokenPipes() {
  static std::once_flag once;
  std::call_once(once, [] { std::signal(SIGPIPE, SIG_IGN); });
}

class HttpTransport : public contracts::Transport {
public:
  HttpTransport(const std::string& host, int port, HttpTransportOptions options)
      : options_((IgnoreBrokenPipes(), std::move(options))),
        where_(host + ":" + std::to_string(port)),
        client_((options_.https ? "https://" : "http://") + hostPart(host) + ":" + std::to_string(port)) {
    if (!client_.is_valid()) throw TransportError("Endereço inválido do servidor de aplicação: " + where_ + ".");
    client_.set_keep_alive(true);
    client_.set_tcp_nodelay(true);
    client_.set_connection_timeout(options_.connectTimeoutMs / 1000, (options_.connectTimeoutMs % 1000) * 1000);
    client_.set_read_timeout(options_.readTimeoutMs / 1000, (options_.readTimeoutMs % 1000) * 1000);
    client_.set_write_timeout(options_.writeTimeoutMs / 1000, (options_.writeTimeoutMs % 1000) * 1000);
    if (options_.https) {
      client_.enable_server_certificate_verification(true);
      if (!options_.caFile.empty()) client_.set_ca_cert_path(options_.caFile.c_str());
    }
  }

  // The reply envelope of path, or a TransportError that says what went wrong.
  Envelope post(const std::string& path, const Envelope& request, const std::string& what,
               const std::string& token = {}) {
    auto started = std::chrono::steady_clock::now();
    lastTiming = ServerTiming{};
    httplib::Headers headers;
    if (!token.empty()) headers.emplace("Authorization", "Bearer " + token);
    auto res = client_.Post(path.c_str(), headers, EncodeEnvelope(request), "application/json");
    if (!res) throw TransportError(describe(res.error(), what));
    Envelope reply;
    try {
      reply = DecodeEnvelope(res->body, options_.limits);
      if (res->has_header("Server-Timing")) lastTiming = ParseServerTiming(res->get_header_value("Server-Timing"));
      lastTiming.totalMs =
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
    } catch (const WireError& e) {
      if (res->status != 200)
        throw TransportError("O servidor de aplicação recusou " + what + " (HTTP " + std::to_string(res->status) +
                             ").");
      throw TransportError("Resposta inválida do servidor de aplicação a " + what + ". " + e.Message());
    }
    if (reply.has("error")) throw TransportError(reply.text("error"));
    if (res->status != 200)
      throw TransportError("O servidor de aplicação recusou " + what + " (HTTP " + std::to_string(res->status) + ").");
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

  std::string describe(httplib::Error error, const std::string& what) const {
    switch (error) {
      case httplib::Error::Connection:
        return "Não foi possível conectar ao servidor de aplicação em " + where_ + ".";
      case httplib::Error::ConnectionTimeout:
        return "Tempo esgotado ao conectar ao servidor de aplicação em " + where_ + ".";
      case httplib::Error::Read:
        return "O servidor de aplicação em " + where_ + " não respondeu a tempo ou encerrou a conexão durante " +
               what + ".";
      case httplib::Error::Write:
        return "Falha ao enviar " + what + " ao servidor de aplicação em " + where_ + ".";
      case httplib::Error::SSLConnection:
      case httplib::Error::SSLLoadingCerts:
      case httplib::Error::SSLServerVerification:
        return "Falha na conexão segura com o servidor de aplicação em " + where_ + ".";
      default:
        return "Falha na comunicação com o servidor de aplicação em " + where_ + " (" + httplib::to_string(error) +
               ").";
    }
  }

private:
  HttpTransportOptions options_;
  std::string where_;
  httplib::Client client_;
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
