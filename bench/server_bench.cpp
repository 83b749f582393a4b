// Requests per second of GetCardaDia, PostCard and GetServCli through the HTTP
// transport (1, 2 and 8 client threads), beside the same statements run straight
// on the database: the database's own ceiling.
//
//   server_bench                       SQLite demo database in the temporary folder
//   EFET_BENCH_PG="host=... dbname=..." server_bench   the same on an empty PostgreSQL database

#include <benchmark/benchmark.h>

#include <map>
#include <memory>
#include <mutex>

#include "bench_world.h"
#include "contracts/net_connection.h"
#include "contracts/result.h"
#include "platform/data/dataset.h"
#include "server/module.h"

namespace {

benchworld::World& W() {
  static benchworld::World w("bench");
  return w;
}

std::unique_ptr<contracts::TNetConnection> Connection() { return W().Connection(); }

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

// Statements per iteration on this thread, beside the figures: the module and
// its ceiling must run the same number.
struct StatementCount {
  benchmark::State& st;
  int64_t start = db::CurrentThreadDbTime().statements;
  explicit StatementCount(benchmark::State& s) : st(s) {}
  ~StatementCount() {
    st.counters["statements"] = benchmark::Counter(static_cast<double>(db::CurrentThreadDbTime().statements - start),
                                                   benchmark::Counter::kAvgIterations);
  }
};

// The module called in-process: the server's own work without the transport.
rtl::Variant ModuleCall(const std::string& m, rtl::VariantArray args) {
  contracts::CallContext ctx;
  ctx.operatorCode = "DEM";
  return W().module->Call(m, args, ctx);
}

void BM_Module_GetCardaDia(benchmark::State& st) {
  StatementCount n(st);
  for (auto _ : st) Check(st, ModuleCall("GetCardaDia", {"0001", Day(W().today - 3), ""}));
}

void BM_Module_GetServCli(benchmark::State& st) {
  StatementCount n(st);
  for (auto _ : st) Check(st, ModuleCall("GetServCli", {"0001", "10010", Day(W().today - 3), "00010"}));
}

// The database's ceiling: the statements each method runs for its answer,
// straight on one connection, including the permission check (one statement)
// and the planned-service lookup, which the methods need before they answer.
// Reads run in one snapshot, as the module runs them.
const char* kCheckBranch =
    "SELECT F.IDCNTRRESC, O.CDOPERADOR, O.IDTODASFILIAIS, OFI.CDFILIAL FROM FILIAL F "
    "LEFT JOIN OPERADOR O ON O.CDOPERADOR = :P_CDOPERADOR AND O.IDATIVO = 'S' "
    "LEFT JOIN OPERFILIAL OFI ON OFI.CDOPERADOR = O.CDOPERADOR AND OFI.CDFILIAL = F.CDFILIAL "
    "WHERE F.CDFILIAL = :P_CDFILIAL";
const char* kCardaDia =
    "SELECT C.CDSERVFILI, S.NMSERVICO, C.QTCLIEFETCAR, C.QTFUNEFETCAR, C.QTDOAEFETCAR, C.QTCOMEFETCAR,"
    " C.QTCOMESTICAR, C.QTCLIESTICAR, C.QTFUNESTICAR, C.QTDOAESTICAR, C.QTCOMEFETRI, C.QTCOMEFETSL,"
    " C.DTCARDAPIO, C.CDFILIAL, C.CDOPERADOR, C.NRCARDAPIO, C.DTMESCARD, C.DTPROCES"
    " FROM CARDAPIO C JOIN SERVICO S ON S.CDFILIAL = C.CDFILIAL AND S.CDSERVFILI = C.CDSERVFILI"
    " WHERE C.CDFILIAL = :P_CDFILIAL AND C.DTCARDAPIO = :P_DIA AND S.IDTIPOSERV = 'N'"
    " AND (S.CDGRUPSERV = :P_CDGRUPSERV OR :P_TODOS = 'T') ORDER BY C.CDSERVFILI";
const char* kTypes =
    "SELECT T.NMTIPOPRAT, SUM(COALESCE(P.QTCOMEFETPRA, 0)) AS QTCOMEFETPRA,"
    " SUM(COALESCE(P.QTPRODUZPRAT, 0)) AS QTPRODUZPRAT, CC.CDTIPOPRAT, CC.CDFILIAL, CC.NRCARDAPIO"
    " FROM CARDAPIO C JOIN SERVICO S ON S.CDFILIAL = C.CDFILIAL AND S.CDSERVFILI = C.CDSERVFILI"
    " CROSS JOIN COMPCARDAPIO CC JOIN TIPOPRATO T ON T.CDTIPOPRAT = CC.CDTIPOPRAT"
    " LEFT JOIN PRATOCARDAPIO P ON P.CDFILIAL = CC.CDFILIAL AND P.NRCARDAPIO = CC.NRCARDAPIO"
    " AND P.CDTIPOPRAT = CC.CDTIPOPRAT"
    " WHERE CC.CDFILIAL = C.CDFILIAL AND CC.NRCARDAPIO = C.NRCARDAPIO"
    " AND C.CDFILIAL = :P_CDFILIAL AND C.DTCARDAPIO = :P_DIA AND S.IDTIPOSERV = 'N'"
    " AND (S.CDGRUPSERV = :P_CDGRUPSERV OR :P_TODOS = 'T')"
    " GROUP BY CC.CDFILIAL, CC.NRCARDAPIO, CC.CDTIPOPRAT, T.NMTIPOPRAT"
    " ORDER BY CC.NRCARDAPIO, CC.CDTIPOPRAT";
const char* kDishes =
    "SELECT P.CDFILIAL, P.NRCARDAPIO, P.CDTIPOPRAT, P.NRSEQPRATCAR, P.NRORDPRATCAR, P.CDFILAUXPRAT, P.CDPRATO,"
    " P.VRPECONSCARD, PR.NMPRATO, P.QTCOMEFETPRA, P.QTPRODUZPRAT"
    " FROM CARDAPIO C JOIN SERVICO S ON S.CDFILIAL = C.CDFILIAL AND S.CDSERVFILI = C.CDSERVFILI"
    " CROSS JOIN PRATOCARDAPIO P JOIN PRATO PR ON PR.CDFILIAL = P.CDFILAUXPRAT AND PR.CDPRATO = P.CDPRATO"
    " WHERE P.CDFILIAL = C.CDFILIAL AND P.NRCARDAPIO = C.NRCARDAPIO"
    " AND C.CDFILIAL = :P_CDFILIAL AND C.DTCARDAPIO = :P_DIA AND S.IDTIPOSERV = 'N'"
    " AND (S.CDGRUPSERV = :P_CDGRUPSERV OR :P_TODOS = 'T')"
    " ORDER BY P.NRCARDAPIO, P.CDTIPOPRAT, P.NRORDPRATCAR, P.NRSEQPRATCAR";
const char* kParamFilial = "SELECT IDUTEFETPLA, IDCOPALTEFEPLA FROM PARAMFILIAL WHERE CDFILIAL = :P_CDFILIAL";
const char* kParamPlaneja =
    "SELECT IDBLQEFEDIAFECH, IDPERLEFESRETPLA, NRDIAANTDTPROC, IDPEREFEPOSDTPR FROM PARAMPLANEJA "
    "WHERE CDFILIAL = :P_CDFILIAL";

db::Params DayParams(const char* branch, rtl::Variant day) {
  return {{"P_CDFILIAL", branch}, {"P_CDOPERADOR", "DEM"}, {"P_DIA", day}, {"P_CDGRUPSERV", ""}, {"P_TODOS", "T"}};
}

// One connection per client thread, kept across the benchmark's runs as the
// server keeps its pool: a fresh PostgreSQL backend would otherwise pay for
// its cold caches inside the measured loop.
db::Connection& CeilingConnection(benchmark::State& st) {
  static std::mutex m;
  static std::map<int, std::unique_ptr<db::Connection>> conns;
  std::lock_guard<std::mutex> g(m);
  auto& c = conns[st.thread_index()];
  if (!c) c = db::Open(W().cs);
  return *c;
}

// A read snapshot where the database has one (see db::Connection::beginRead).
struct Snapshot {
  db::Connection& c;
  bool open;
  explicit Snapshot(db::Connection& conn) : c(conn), open(conn.beginRead()) {}
  ~Snapshot() {
    if (open) c.rollback();
  }
};

void ReadDay(db::Connection& c, const db::Params& p) {
  Snapshot s(c);
  benchmark::DoNotOptimize(c.query(kCardaDia, p));
  benchmark::DoNotOptimize(c.query(kTypes, p));
  benchmark::DoNotOptimize(c.query(kDishes, p));
}

void BM_Db_GetCardaDia(benchmark::State& st) {
  db::Connection* c = &CeilingConnection(st);
  StatementCount n(st);
  db::Params p = DayParams("0001", Day(W().today - 3));
  for (auto _ : st) {
    Snapshot s(*c);
    benchmark::DoNotOptimize(c->query(kCheckBranch, p));
    benchmark::DoNotOptimize(c->query(kCardaDia, p));
    benchmark::DoNotOptimize(c->query(kTypes, p));
    benchmark::DoNotOptimize(c->query(kDishes, p));
    benchmark::DoNotOptimize(c->query(kParamFilial, p));
    benchmark::DoNotOptimize(c->query(kParamPlaneja, p));
  }
}

void BM_Db_GetServCli(benchmark::State& st) {
  db::Connection* c = &CeilingConnection(st);
  StatementCount n(st);
  db::Params p{{"P_CDFILIAL", "0001"}, {"P_CDOPERADOR", "DEM"}, {"P_FAT", "10010"}, {"P_DIA", Day(W().today - 3)}};
  for (auto _ : st) {
    Snapshot s(*c);
    benchmark::DoNotOptimize(c->query(kCheckBranch, p));
    benchmark::DoNotOptimize(
        c->query("SELECT CDSERVFILI FROM SERVFATU WHERE CDFILIAL = :P_CDFILIAL AND CDSERVICFATURAM = :P_FAT", p));
    benchmark::DoNotOptimize(c->query(
        "SELECT SC.CDFILIAL, SC.CDSERVICFATURAM AS CDSERVFILI, SC.CDCLIENTE, CL.NMRAZSOCCLIE, CL.NMFANTCLIE,"
        " E.QTCOMEFETCLI, E.VRSERVFATUEFCLI, E.DTEFETCLIE, E.CDSERVPLAN, CL.IDTPIJURCLIE, CL.NRINSJURCLIE,"
        " E.QTVENDAEFETCLI,"
        " (SELECT MIN(A.NRAPURACFAT) FROM APURACAO A WHERE A.CDFILIAL = SC.CDFILIAL AND A.CDCLIENTE = SC.CDCLIENTE"
        " AND A.DTINIAPURAC <= :P_DIA AND A.DTFIMAPURAC >= :P_DIA) AS NRAPURACFAT"
        " FROM SERVFATUCLIE SC JOIN CLIENTE CL ON CL.CDCLIENTE = SC.CDCLIENTE"
        " LEFT JOIN EFETCLIE E ON E.CDFILIAL = SC.CDFILIAL AND E.CDSERVICFATURAM = SC.CDSERVICFATURAM"
        " AND E.CDCLIENTE = SC.CDCLIENTE AND E.DTEFETCLIE = :P_DIA"
        " WHERE SC.CDFILIAL = :P_CDFILIAL AND SC.CDSERVICFATURAM = :P_FAT ORDER BY CL.NMRAZSOCCLIE, SC.CDCLIENTE",
        p));
    benchmark::DoNotOptimize(c->query(
        "SELECT A.CDFILIAL, A.CDCLIENTE, A.NRAPURACFAT, A.DTINIAPURAC, A.DTFIMAPURAC FROM APURACAO A"
        " JOIN SERVFATUCLIE SC ON SC.CDFILIAL = A.CDFILIAL AND SC.CDCLIENTE = A.CDCLIENTE"
        " WHERE A.CDFILIAL = :P_CDFILIAL AND SC.CDSERVICFATURAM = :P_FAT"
        " AND A.DTINIAPURAC <= :P_DIA AND A.DTFIMAPURAC >= :P_DIA ORDER BY A.CDCLIENTE, A.NRAPURACFAT",
        p));
    benchmark::DoNotOptimize(c->query(
        "SELECT NRITEMRATEIOEFET, CDITEMRATEIOEFET, NMITEMRATEIOEFET FROM ITEMRATEIO"
        " WHERE CDFILIAL = :P_CDFILIAL AND CDSERVICFATURAM = :P_FAT ORDER BY CDITEMRATEIOEFET",
        p));
    benchmark::DoNotOptimize(c->query(
        "SELECT L.NRITRATEFETCLIE, SC.CDCLIENTE, I.NRITEMRATEIOEFET, I.CDITEMRATEIOEFET, I.NMITEMRATEIOEFET,"
        " L.QTEFETIVOS FROM SERVFATUCLIE SC"
        " JOIN ITEMRATEIO I ON I.CDFILIAL = SC.CDFILIAL AND I.CDSERVICFATURAM = SC.CDSERVICFATURAM"
        " LEFT JOIN ITRATEFETCLIE L ON L.CDFILIAL = SC.CDFILIAL AND L.CDSERVICFATURAM = SC.CDSERVICFATURAM"
        " AND L.CDCLIENTE = SC.CDCLIENTE AND L.DTEFETCLIE = :P_DIA AND L.NRITEMRATEIOEFET = I.NRITEMRATEIOEFET"
        " WHERE SC.CDFILIAL = :P_CDFILIAL AND SC.CDSERVICFATURAM = :P_FAT"
        " ORDER BY I.CDITEMRATEIOEFET, SC.CDCLIENTE",
        p));
  }
}

// The write as the method does it: permission, parameters and processing date,
// the row locked and compared, the settlement check, the update, one audit row per
// changed field, then the day read back. Branch 0002, as the HTTP run, on days
// of its own.
void BM_Db_PostCard(benchmark::State& st) {
  db::Connection* c = &CeilingConnection(st);
  rtl::Variant day = Day(W().today - 10 - st.thread_index());
  auto nr = c->query("SELECT NRCARDAPIO FROM CARDAPIO WHERE CDFILIAL = '0002' AND CDSERVFILI = '00010'"
                     " AND DTCARDAPIO = :P_DIA", {{"P_DIA", day}}).rows[0][0];
  bool pg = c->dialect() == db::Dialect::PostgreSQL;
  db::Params p = DayParams("0002", day);
  p.set("P_NR", nr).set("P_CDSERVFILI", "00010");
  double v = 0;
  for (auto _ : st) {
    benchmark::DoNotOptimize(c->query(kCheckBranch, p));
    db::Transaction t(*c);
    benchmark::DoNotOptimize(c->query(kParamPlaneja, p));
    benchmark::DoNotOptimize(c->query("SELECT DTPROCES FROM FILIAL WHERE CDFILIAL = :P_CDFILIAL", p));
    benchmark::DoNotOptimize(c->query(std::string("SELECT CDSERVFILI, DTCARDAPIO, QTCLIEFETCAR, QTFUNEFETCAR,"
                                                  " QTDOAEFETCAR, QTCOMEFETCAR FROM CARDAPIO WHERE CDFILIAL = :P_CDFILIAL"
                                                  " AND NRCARDAPIO = :P_NR") + (pg ? " FOR UPDATE" : ""),
                                      p));
    benchmark::DoNotOptimize(c->query(
        "SELECT A.NRAPURACFAT FROM SERVFATU S "
        "JOIN SERVFATUCLIE C ON C.CDFILIAL = S.CDFILIAL AND C.CDSERVICFATURAM = S.CDSERVICFATURAM "
        "JOIN APURACAO A ON A.CDFILIAL = C.CDFILIAL AND A.CDCLIENTE = C.CDCLIENTE "
        "WHERE S.CDFILIAL = :P_CDFILIAL AND S.CDSERVFILI = :P_CDSERVFILI "
        "AND A.DTINIAPURAC <= :P_DIA AND A.DTFIMAPURAC >= :P_DIA",
        p));
    c->exec("UPDATE CARDAPIO SET QTCLIEFETCAR = :P_V WHERE CDFILIAL = '0002' AND NRCARDAPIO = :P_NR",
            {{"P_V", ++v}, {"P_NR", nr}});
    for (int i = 0; i < 2; ++i)
      c->exec("INSERT INTO AUDITORIA (DTHRAUDIT, CDOPERADOR, CDFILIAL, DTREFERENCIA, NMTABELA, DSCHAVE, NMCAMPO,"
              " VRANTERIOR, VRNOVO) VALUES (:P_T, 'DEM', '0002', :P_DIA, 'CARDAPIO', :P_NR, 'QTCLIEFETCAR', '1', '2')",
              {{"P_T", rtl::Variant::FromDate(rtl::Now())}, {"P_DIA", day}, {"P_NR", nr}});
    t.commit();
    ReadDay(*c, p);
  }
}

}  // namespace

#define EFET_THREADS ->Threads(1)->Threads(2)->Threads(8)->UseRealTime()->MeasureProcessCPUTime()
BENCHMARK(BM_Http_GetCardaDia) EFET_THREADS;
BENCHMARK(BM_Db_GetCardaDia) EFET_THREADS;
BENCHMARK(BM_Http_PostCard) EFET_THREADS;
BENCHMARK(BM_Db_PostCard) EFET_THREADS;
BENCHMARK(BM_Http_GetServCli) EFET_THREADS;
BENCHMARK(BM_Module_GetCardaDia) EFET_THREADS;
BENCHMARK(BM_Module_GetServCli) EFET_THREADS;
BENCHMARK(BM_Db_GetServCli) EFET_THREADS;

BENCHMARK_MAIN();
