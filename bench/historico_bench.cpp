// rdmHistorico: the history of one value on a branch with a year of audit
// trail (ten branches of it in the table), with and without the index of a
// value's history, in the same run; and the preview of a 10,000-line
// turnstile file over HTTP (one read of the server, then the judging).
//
//   historico_bench                    SQLite files in the temporary folder

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <filesystem>
#include <memory>

#include "additions/history.h"
#include "additions/turnstile_import.h"
#include "contracts/net_connection.h"
#include "contracts/result.h"
#include "net/http_server.h"
#include "net/http_transport.h"
#include "platform/rtl/format.h"
#include "server/admin.h"
#include "server/demo.h"
#include "server/historico.h"

namespace {

constexpr int kBranches = 10, kDays = 365;

// A year of changes of every headcount of every day, in each branch.
void FillAuditYear(db::Connection& c, rtl::TDateTime today) {
  db::Transaction t(c);
  const char* fields[] = {"QTCLIEFETCAR", "QTFUNEFETCAR", "QTDOAEFETCAR", "QTCOMEFETCAR"};
  for (int b = 1; b <= kBranches; ++b) {
    char branch[8];
    std::snprintf(branch, sizeof branch, "%04d", b);
    for (int d = 0; d < kDays; ++d) {
      rtl::Variant day = rtl::Variant::FromDate(today - d);
      for (int s = 1; s <= 3; ++s) {
        const std::string key = "Y" + std::to_string(d * 10 + s) + " serviço 000" + std::to_string(s) + "0";
        for (const char* f : fields)
          for (int change = 0; change < 2; ++change)
            c.exec("INSERT INTO AUDITORIA (DTHRAUDIT, CDOPERADOR, CDFILIAL, DTREFERENCIA, NMTABELA, DSCHAVE, NMCAMPO,"
                   " VRANTERIOR, VRNOVO, NMMETODO) VALUES (:P_T, 'DEM', :P_F, :P_D, 'CARDAPIO', :P_K, :P_C, '1', '2',"
                   " 'PostCard')",
                   {{"P_T", day}, {"P_F", std::string(branch)}, {"P_D", day}, {"P_K", key}, {"P_C", std::string(f)}});
        for (int client = 0; client < 8; ++client)
          c.exec("INSERT INTO AUDITORIA (DTHRAUDIT, CDOPERADOR, CDFILIAL, DTREFERENCIA, NMTABELA, DSCHAVE, NMCAMPO,"
                 " VRANTERIOR, VRNOVO, NMMETODO) VALUES (:P_T, 'DEM', :P_F, :P_D, 'EFETCLIE', :P_K, 'QTCOMEFETCLI', '1',"
                 " '2', 'UpdEfetClie')",
                 {{"P_T", day}, {"P_F", std::string(branch)}, {"P_D", day},
                  {"P_K", "1001" + std::to_string(s) + "/C" + std::to_string(client)}});
      }
    }
  }
  t.commit();
}

struct World {
  std::string cs, bare;  // bare: the same data without the history's index
  rtl::TDateTime today = rtl::Date();
  std::unique_ptr<server::MediEfetivos> module, bareModule;
  std::unique_ptr<server::Historico> hist, bareHist;
  std::unique_ptr<server::OperatorStore> ops;
  std::unique_ptr<net::HttpServer> http;

  World() {
    auto dir = std::filesystem::temp_directory_path();
    const std::string stem = "efet-historico-" + std::to_string(getpid());
    cs = "sqlite:" + (dir / (stem + ".db")).string();
    bare = "sqlite:" + (dir / (stem + "-bare.db")).string();
    for (const std::string& conn : {cs, bare}) {
      server::MediEfetivos make(conn);
      auto c = db::Open(conn);
      db::Transaction t(*c);
      server::DemoBuilder(*c).BuildDemoCompany(today);
      t.commit();
      FillAuditYear(*c, today);
      c->exec("ANALYZE");
    }
    db::Open(bare)->exec("DROP INDEX IXAUDITORIACAMPO");
    module = std::make_unique<server::MediEfetivos>(cs);
    bareModule = std::make_unique<server::MediEfetivos>(bare);
    hist = std::make_unique<server::Historico>(*module);
    bareHist = std::make_unique<server::Historico>(*bareModule);
    ops = std::make_unique<server::OperatorStore>(cs);
    net::HttpServerOptions o;
    o.logger = [](const net::RequestLog&) {};
    http = std::make_unique<net::HttpServer>(*ops, o);
    http->addModule(*module);
    http->addModule(*hist);
    http->start();
    net::RegisterHttpTransport();
    net::Login("127.0.0.1", http->port(), "DEM", "demo");
  }
  ~World() {
    http->stop();
    for (const std::string& conn : {cs, bare})
      for (const char* s : {"", "-wal", "-shm"}) std::remove((conn.substr(7) + s).c_str());
  }
  std::unique_ptr<contracts::TNetConnection> Connection(const char* server) const {
    auto c = std::make_unique<contracts::TNetConnection>(server);
    c->SetHost("127.0.0.1");
    c->SetPort(http->port());
    return c;
  }
};

World& W() {
  static World w;
  return w;
}

// The history a clerk asks for: one field of one service row, 200 days back.
rtl::VariantArray HistoryArgs() {
  return {rtl::Variant("0003"), rtl::Variant("cdsCardaDia"), rtl::Variant("QTCLIEFETCAR"),
          rtl::Variant(rtl::VariantArray{rtl::Variant("NRCARDAPIO"), rtl::Variant("Y2002"), rtl::Variant("CDSERVFILI"),
                                         rtl::Variant("00020")})};
}

void Run(benchmark::State& st, server::Historico& h) {
  contracts::CallContext ctx;
  ctx.operatorCode = "DEM";
  for (auto _ : st) {
    auto args = HistoryArgs();
    rtl::Variant r = h.Call("GetHistorico", args, ctx);
    if (!contracts::ResultSucceeded(r) || r[1].asPacket().empty()) st.SkipWithError(r.debugString().c_str());
  }
}
void BM_History_Indexed(benchmark::State& st) { Run(st, *W().hist); }
void BM_History_WithoutIndex(benchmark::State& st) { Run(st, *W().bareHist); }

// As the desktop asks: over HTTP, through the additions library.
void BM_History_Http(benchmark::State& st) {
  auto c = W().Connection(additions::kHistoricoServer);
  data::TClientDataSet ds("cdsCardaDia");
  ds.AddField({"NRCARDAPIO", data::TFieldType::String, 10});
  ds.AddField({"CDSERVFILI", data::TFieldType::String, 5});
  ds.AddField({"CDFILIAL", data::TFieldType::String, 4});
  ds.AddField({"QTCLIEFETCAR", data::TFieldType::Float, 0});
  ds.CreateDataSet();
  ds.Append();
  ds.FieldByName("NRCARDAPIO").SetAsString("Y2002");
  ds.FieldByName("CDSERVFILI").SetAsString("00020");
  ds.FieldByName("CDFILIAL").SetAsString("0003");
  ds.Post();
  for (auto _ : st) {
    auto h = additions::ReadHistory(*c, ds, "QTCLIEFETCAR", "0003");
    if (h.size() != 2) st.SkipWithError("expected two changes");
  }
}

// 10,000 lines: three turnstiles of branch 0001 over 3,334 days.
std::string TenThousandLines() {
  std::string f = "CDFILIAL;CDSERVFILI;CDCATRACA;DTEFETCAT;QTEFETCATINI;QTEFETCATFIM\n";
  const char* cats[][2] = {{"CAT000101", "00010"}, {"CAT000102", "00010"}, {"CAT000103", "00020"}};
  for (int i = 0; i < 10000; ++i) {
    const auto& cat = cats[i % 3];
    f += std::string("0001;") + cat[1] + ";" + cat[0] + ";" + rtl::FormatDateTime("dd/mm/yyyy", W().today - i / 3) + ";" +
         std::to_string(1000 + i) + ";" + std::to_string(1100 + i) + "\n";
  }
  return f;
}

void BM_Preview_10000_Lines(benchmark::State& st) {
  auto c = W().Connection(additions::kHistoricoServer);
  const std::string file = TenThousandLines();
  for (auto _ : st) {
    auto p = additions::PreviewTurnstileFile(*c, file);
    if (p.lines.size() != 10000) st.SkipWithError("lines lost");
  }
}

void BM_Parse_10000_Lines(benchmark::State& st) {
  const std::string file = TenThousandLines();
  for (auto _ : st) benchmark::DoNotOptimize(additions::ParseTurnstileFile(file));
}

}  // namespace

// Interleaved: each with index, then without, then again.
BENCHMARK(BM_History_Indexed)->Unit(benchmark::kMillisecond)->Repetitions(3);
BENCHMARK(BM_History_WithoutIndex)->Unit(benchmark::kMillisecond)->Repetitions(3);
BENCHMARK(BM_History_Http)->Unit(benchmark::kMillisecond)->Repetitions(3);
BENCHMARK(BM_Parse_10000_Lines)->Unit(benchmark::kMillisecond)->Repetitions(3);
BENCHMARK(BM_Preview_10000_Lines)->Unit(benchmark::kMillisecond)->Repetitions(3);

BENCHMARK_MAIN();
