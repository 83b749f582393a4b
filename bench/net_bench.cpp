// Transport figures: the wire codec on a data packet (embedded as JSON, against
// the same bytes carried as an escaped string), and whole calls over loopback.
#include <benchmark/benchmark.h>

#include <memory>
#include <thread>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include "contracts/net_connection.h"
#include "contracts/result.h"
#include "net/http_server.h"
#include "net/http_transport.h"
#include "../tests/net/test_module.h"

namespace {

// A packet shaped like a menu day's services: field list and rows.
std::string SamplePacket(int rows) {
  std::string s = R"({"fields":[{"name":"CDFILIAL","type":"string","size":4},)"
                  R"({"name":"CDSERVFILI","type":"string","size":5},{"name":"DTCARDAPIO","type":"datetime"},)"
                  R"({"name":"NMSERVFILI","type":"string","size":40},{"name":"QTCOMENSAIS","type":"float"},)"
                  R"({"name":"QTFUNCIONAR","type":"float"}],"rows":[)";
  for (int i = 0; i < rows; ++i) {
    if (i) s += ',';
    s += "[\"0001\",\"" + std::to_string(10000 + i) + "\",45000,\"Almoço \\\"executivo\\\" " + std::to_string(i) +
         "\"," + std::to_string(i * 1.25) + "," + std::to_string(i % 7) + "]";
  }
  return s + "]}";
}

void BM_WirePacket(benchmark::State& state) {
  std::string bytes = SamplePacket(static_cast<int>(state.range(0)));
  // range(1): 1 embeds the packet as JSON, 0 carries the same bytes as a string.
  rtl::Variant v = state.range(1) ? rtl::Variant(rtl::DataPacket(bytes)) : rtl::Variant(bytes);
  size_t wireBytes = 0;
  for (auto _ : state) {
    std::string wire = net::EncodeVariant(v);
    wireBytes = wire.size();
    benchmark::DoNotOptimize(net::DecodeVariant(wire));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
  state.counters["wire_bytes"] = static_cast<double>(wireBytes);
}
BENCHMARK(BM_WirePacket)->ArgsProduct({{10, 1000}, {0, 1}})->ArgNames({"rows", "raw"});

struct Loopback {
  nettest::EchoModule module;
  nettest::Operators operators;
  std::unique_ptr<net::HttpServer> server;
  Loopback() {
    operators.Add("ADMIN", "senha");
    net::HttpServerOptions options;
    options.logger = [](const net::RequestLog&) {};
    server = std::make_unique<net::HttpServer>(operators, options);
    server->addModule(module);
    server->start();
    net::RegisterHttpTransport();
    net::Login("127.0.0.1", server->port(), "ADMIN", "senha");
  }
};

void BM_CallEcho(benchmark::State& state) {
  static Loopback loop;
  contracts::TNetConnection conn(nettest::kModuleName);
  conn.SetHost("127.0.0.1");
  conn.SetPort(loop.server->port());
  rtl::VariantArray args = {"0001", rtl::Variant::FromDate(45000), "00001"};
  if (state.range(0)) args.push_back(rtl::DataPacket(SamplePacket(static_cast<int>(state.range(0)))));
  for (auto _ : state) {
    rtl::VariantArray a = args;
    rtl::Variant r = conn.AppServer("Echo", a);
    if (!contracts::ResultSucceeded(r)) state.SkipWithError(r.debugString().c_str());
  }
}
BENCHMARK(BM_CallEcho)->Arg(0)->Arg(1000)->ArgName("packet_rows")->UseRealTime();

// The floor under any exchange: a raw TCP round trip on loopback of a message
// the size of the cheapest call's request, answered by a thread that echoes
// it. BM_CallEcho/0 divided by this is the transport's own cost.
class TcpEcho {
public:
  TcpEcho() {
    listen_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(listen_, 1);
    socklen_t n = sizeof a;
    getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &n);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] {
      int fd = accept(listen_, nullptr, nullptr);
      int one = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      char buf[4096];
      for (;;) {
        ssize_t k = recv(fd, buf, sizeof buf, 0);
        if (k <= 0) break;
        if (send(fd, buf, static_cast<size_t>(k), MSG_NOSIGNAL) != k) break;
      }
      close(fd);
    });
  }
  ~TcpEcho() {
    close(listen_);
    if (thread_.joinable()) thread_.join();
  }
  int port() const { return port_; }

private:
  int listen_ = -1, port_ = 0;
  std::thread thread_;
};

void BM_RawTcpPing(benchmark::State& state) {
  TcpEcho echo;
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(echo.port()));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  std::string message(static_cast<size_t>(state.range(0)), 'x');
  std::string reply(message.size(), '\0');
  for (auto _ : state) {
    send(fd, message.data(), message.size(), MSG_NOSIGNAL);
    for (size_t got = 0; got < reply.size();) {
      ssize_t k = recv(fd, reply.data() + got, reply.size() - got, 0);
      if (k <= 0) {
        state.SkipWithError("echo ended");
        break;
      }
      got += static_cast<size_t>(k);
    }
  }
  close(fd);
}
BENCHMARK(BM_RawTcpPing)->Arg(256)->ArgName("bytes")->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
