// Requests per second of GetCardaDia, PostCard and GetServCli through the HTTP
// transport (1, 2 and 8 client threads), beside the same statements run straight
// on the database: the database's own ceiling.
//
//   server_bench                       SQLite demo database in the temporary folder
//   EFET_BENCH_PG="host=... dbname=..." server_bench   the same on an empty PostgreSQL database

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "contracts/net_connection.h"
#include "contracts/result.h"
#include "net/http_server.h"
#include "net/http_transport.h"
#include "platform/data/dataset.h"
#include "server/admin.h"
#include "server/demo.h"
#include "server/module.h"

namespace {

struct World {
  std::string cs;
  rtl::TDateTime today = rtl::Date();
  std::unique_ptr<server::MediEfetivos> module;
  std::unique_ptr<server::OperatorStore> ops;
  std::unique_ptr<net::HttpServer> http;

  World() {
    const char* pg = std::getenv("EFET_BENCH_PG");
    if (pg && *pg) {
      cs = pg;
    } else {
      auto path = std::filesystem::temp_directory_path() / ("efet-bench-" + std::to_string(getpid()) + ".db");
      cs = "sqlite:" + path.string();
    }
    module = std::make_unique<server::MediEfetivos>(cs);
    auto c = db::Open(cs);
    if (c->query("SELECT CDFILIAL FROM FILIAL").empty()) {
      db::Transaction t(*c);
      server::DemoBuilder(*c).BuildDemoCompany(today);
      t.commit();
    }
    ops = std::make_unique<server::OperatorStore>(cs);
    net::HttpServerOptions o;
    o.logger = [](const net::RequestLog&) {};
    http = std::make_unique<net::HttpServer>(*ops, o);
    http->addModule(*module);
    http->start();
    net::RegisterHttpTransport();
    net::Login("127.0.0.1", http->port(), "DEM", "demo");
  }
  ~World() {
    http->stop();
    if (cs.rfind("sqlite:", 0) == 0) {
      std::string p = cs.substr(7);
      for (const char* s : {"", "-wal", "-shm"}) std::remove((p + s).c_str());
    }
  }
};

World& W() {
  static World w;
  return w;
}

std::unique_ptr<contracts::TNetConnection> Connection() {
  auto c = std::make_unique<contracts::TNetConnection>("Pla01000.rdmMediEfetivos");
  c->SetHost("127.0.0.1");
  c->SetPort(W().http->port());
  return c;
}

rtl::Variant Day(rtl::TDateTime d) { return rtl::Variant::FromDate(d); }

void Check(benchmark::State& st, const rtl::Variant& r) {
  if (!contracts::ResultSucceeded(r)) st.SkipWithError(r.debugString().c_str());
}

void BM_Http_GetCardaDia(benchmark::State& st) {
  auto c = Connection();
  for (auto _ : st) Check(st, c->Call("GetCardaDia", {"0001", Day(W().today - 3), ""}));
}

void BM_Http_GetServCli(benchmark::State& st) {
  auto c = Connection();
  for (auto _ : st) Check(st, c->Call("GetServCli", {"0001", "10010", Day(W().today - 3), "00010"}));
}

// Each thread posts its own menu day, so writers never meet on one row.
void BM_Http_PostCard(benchmark::State& st) {
  auto c = Connection();
  // Branch 0002 has no closed-day window, so eight past days stay writable.
  rtl::Variant day = Day(W().today - 1 - st.thread_index());
  data::TClientDataSet ds;
  auto r = c->Call("GetCardaDia", {"0002", day, ""});
  Check(st, r);
  ds.SetData(r[1][0].asPacket());
  ds.Locate("CDSERVFILI", rtl::Variant("00010"));
  double v = ds.FieldByName("QTCLIEFETCAR").AsFloat();
  for (auto _ : st) {
    ds.Edit();
    ds.FieldByName("QTCLIEFETCAR").SetAsFloat(++v);
    // As the screen's BeforePost: the total follows the three counts.
    ds.FieldByName("QTCOMEFETCAR").SetAsFloat(v + ds.FieldByName("QTFUNEFETCAR").AsFloat() +
                                               ds.FieldByName("QTDOAEFETCAR").AsFloat());
    ds.Post();
    Check(st, c->Call("PostCard", {"0002", "00010", day, ds.Delta(), "DEM", ""}));
    ds.MergeChangeLog();
  }
}

// The database's ceiling: the statements of the methods, straight on a connection.
const char* kCardaDia =
    "SELECT C.CDSERVFILI, S.NMSERVICO, C.QTCLIEFETCAR, C.QTFUNEFETCAR, C.QTDOAEFETCAR, C.QTCOMEFETCAR,"
    " C.QTCOMESTICAR, C.QTCLIESTICAR, C.QTFUNESTICAR, C.QTDOAESTICAR, C.QTCOMEFETRI, C.QTCOMEFETSL,"
    " C.DTCARDAPIO, C.CDFILIAL, C.CDOPERADOR, C.NRCARDAPIO, C.DTMESCARD, C.DTPROCES"
    " FROM CARDAPIO C JOIN SERVICO S ON S.CDFILIAL = C.CDFILIAL AND S.CDSERVFILI = C.CDSERVFILI"
    " WHERE C.CDFILIAL = :P_CDFILIAL AND C.DTCARDAPIO = :P_DIA AND S.IDTIPOSERV = 'N' ORDER BY C.CDSERVFILI";
const char* kTypes =
    "SELECT T.NMTIPOPRAT, SUM(COALESCE(P.QTCOMEFETPRA, 0)), SUM(COALESCE(P.QTPRODUZPRAT, 0)), CC.CDTIPOPRAT"
    " FROM COMPCARDAPIO CC JOIN TIPOPRATO T ON T.CDTIPOPRAT = CC.CDTIPOPRAT"
    " JOIN CARDAPIO C ON C.CDFILIAL = CC.CDFILIAL AND C.NRCARDAPIO = CC.NRCARDAPIO"
    " LEFT JOIN PRATOCARDAPIO P ON P.CDFILIAL = CC.CDFILIAL AND P.NRCARDAPIO = CC.NRCARDAPIO"
    " AND P.CDTIPOPRAT = CC.CDTIPOPRAT WHERE C.CDFILIAL = :P_CDFILIAL AND C.DTCARDAPIO = :P_DIA"
    " GROUP BY CC.CDFILIAL, CC.NRCARDAPIO, CC.CDTIPOPRAT, T.NMTIPOPRAT";
const char* kDishes =
    "SELECT P.*, PR.NMPRATO FROM PRATOCARDAPIO P JOIN PRATO PR ON PR.CDFILIAL = P.CDFILAUXPRAT"
    " AND PR.CDPRATO = P.CDPRATO JOIN CARDAPIO C ON C.CDFILIAL = P.CDFILIAL AND C.NRCARDAPIO = P.NRCARDAPIO"
    " WHERE C.CDFILIAL = :P_CDFILIAL AND C.DTCARDAPIO = :P_DIA";

void BM_Db_GetCardaDia(benchmark::State& st) {
  auto c = db::Open(W().cs);
  db::Params p{{"P_CDFILIAL", "0001"}, {"P_DIA", Day(W().today - 3)}};
  for (auto _ : st) {
    benchmark::DoNotOptimize(c->query(kCardaDia, p));
    benchmark::DoNotOptimize(c->query(kTypes, p));
    benchmark::DoNotOptimize(c->query(kDishes, p));
  }
}

void BM_Db_GetServCli(benchmark::State& st) {
  auto c = db::Open(W().cs);
  db::Params p{{"P_CDFILIAL", "0001"}, {"P_FAT", "10010"}, {"P_DIA", Day(W().today - 3)}};
  for (auto _ : st) {
    benchmark::DoNotOptimize(c->query(
        "SELECT SC.CDCLIENTE, CL.NMRAZSOCCLIE, E.QTCOMEFETCLI FROM SERVFATUCLIE SC JOIN CLIENTE CL"
        " ON CL.CDCLIENTE = SC.CDCLIENTE LEFT JOIN EFETCLIE E ON E.CDFILIAL = SC.CDFILIAL"
        " AND E.CDSERVICFATURAM = SC.CDSERVICFATURAM AND E.CDCLIENTE = SC.CDCLIENTE AND E.DTEFETCLIE = :P_DIA"
        " WHERE SC.CDFILIAL = :P_CDFILIAL AND SC.CDSERVICFATURAM = :P_FAT",
        p));
    benchmark::DoNotOptimize(c->query(
        "SELECT A.NRAPURACFAT FROM APURACAO A JOIN SERVFATUCLIE SC ON SC.CDFILIAL = A.CDFILIAL"
        " AND SC.CDCLIENTE = A.CDCLIENTE WHERE A.CDFILIAL = :P_CDFILIAL AND SC.CDSERVICFATURAM = :P_FAT"
        " AND A.DTINIAPURAC <= :P_DIA AND A.DTFIMAPURAC >= :P_DIA",
        p));
    benchmark::DoNotOptimize(c->query(
        "SELECT L.NRITRATEFETCLIE, I.CDITEMRATEIOEFET, L.QTEFETIVOS FROM SERVFATUCLIE SC JOIN ITEMRATEIO I"
        " ON I.CDFILIAL = SC.CDFILIAL AND I.CDSERVICFATURAM = SC.CDSERVICFATURAM LEFT JOIN ITRATEFETCLIE L"
        " ON L.CDFILIAL = SC.CDFILIAL AND L.CDSERVICFATURAM = SC.CDSERVICFATURAM AND L.CDCLIENTE = SC.CDCLIENTE"
        " AND L.DTEFETCLIE = :P_DIA AND L.NRITEMRATEIOEFET = I.NRITEMRATEIOEFET"
        " WHERE SC.CDFILIAL = :P_CDFILIAL AND SC.CDSERVICFATURAM = :P_FAT",
        p));
  }
}

void BM_Db_PostCard(benchmark::State& st) {
  auto c = db::Open(W().cs);
  rtl::Variant day = Day(W().today - 20 - st.thread_index());
  auto nr = c->query("SELECT NRCARDAPIO FROM CARDAPIO WHERE CDFILIAL = '0001' AND CDSERVFILI = '00010'"
                     " AND DTCARDAPIO = :P_DIA", {{"P_DIA", day}}).rows[0][0];
  bool pg = c->dialect() == db::Dialect::PostgreSQL;
  double v = 0;
  for (auto _ : st) {
    db::Transaction t(*c);
    benchmark::DoNotOptimize(c->query(std::string("SELECT QTCLIEFETCAR, QTFUNEFETCAR FROM CARDAPIO WHERE CDFILIAL = '0001'"
                                                  " AND NRCARDAPIO = :P_NR") + (pg ? " FOR UPDATE" : ""),
                                      {{"P_NR", nr}}));
    c->exec("UPDATE CARDAPIO SET QTCLIEFETCAR = :P_V WHERE CDFILIAL = '0001' AND NRCARDAPIO = :P_NR",
            {{"P_V", ++v}, {"P_NR", nr}});
    for (int i = 0; i < 2; ++i)
      c->exec("INSERT INTO AUDITORIA (DTHRAUDIT, CDOPERADOR, CDFILIAL, DTREFERENCIA, NMTABELA, DSCHAVE, NMCAMPO,"
              " VRANTERIOR, VRNOVO) VALUES (:P_T, 'DEM', '0001', :P_DIA, 'CARDAPIO', :P_NR, 'QTCLIEFETCAR', '1', '2')",
              {{"P_T", rtl::Variant::FromDate(rtl::Now())}, {"P_DIA", day}, {"P_NR", nr}});
    t.commit();
    db::Params p{{"P_CDFILIAL", "0001"}, {"P_DIA", day}};
    benchmark::DoNotOptimize(c->query(kCardaDia, p));
    benchmark::DoNotOptimize(c->query(kTypes, p));
    benchmark::DoNotOptimize(c->query(kDishes, p));
  }
}

}  // namespace

#define EFET_THREADS ->Threads(1)->Threads(2)->Threads(8)->UseRealTime()->MeasureProcessCPUTime()
BENCHMARK(BM_Http_GetCardaDia) EFET_THREADS;
BENCHMARK(BM_Db_GetCardaDia) EFET_THREADS;
BENCHMARK(BM_Http_PostCard) EFET_THREADS;
BENCHMARK(BM_Db_PostCard) EFET_THREADS;
BENCHMARK(BM_Http_GetServCli) EFET_THREADS;
BENCHMARK(BM_Db_GetServCli) EFET_THREADS;

BENCHMARK_MAIN();
