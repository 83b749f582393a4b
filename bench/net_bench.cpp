// Transport figures: the wire codec on a data packet (embedded as JSON, against
// the same bytes carried as an escaped string), and whole calls over loopback.
#include <benchmark/benchmark.h>

#include <memory>

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

}  // namespace

BENCHMARK_MAIN();
