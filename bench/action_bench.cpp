// Whole user actions of PLA01000 over loopback, each as the calls the screen
// makes for it, with the time split by the server's Server-Timing reply:
//
//   transport_ms  client total minus the server's handling (HTTP, sockets, the
//                 client's encoding and decoding)
//   codec_ms      the server's handling minus the module's call (the envelope's
//                 decoding and encoding, the session check)
//   server_ms     the module's call minus its database time (permissions, rules,
//                 packets)
//   db_ms         the module's time inside the database
//
// All per action (one iteration), in milliseconds.
//
//   action_bench                        SQLite demo database in the temporary folder
//   EFET_BENCH_PG="host=... dbname=..." action_bench   the same on PostgreSQL

#include <benchmark/benchmark.h>

#include <algorithm>

#include "bench_world.h"
#include "contracts/result.h"
#include "platform/data/dataset.h"

namespace {

benchworld::World& W() {
  static benchworld::World w("action-bench");
  return w;
}

// Branch 0002 has no closed-day window: a recent day stays writable.
const char* const kBranch = "0002";
const char* const kService = "00010";

rtl::Variant Day() { return rtl::Variant::FromDate(W().today - 2); }

std::string BilledService() {
  static std::string billed = [] {
    auto c = db::Open(W().cs);
    auto r = c->query("SELECT CDSERVICFATURAM FROM SERVFATU WHERE CDFILIAL = :P_F AND CDSERVFILI = :P_S"
                      " ORDER BY CDSERVICFATURAM",
                      {{"P_F", kBranch}, {"P_S", kService}});
    return r.empty() ? std::string() : r.rows[0][0].toString();
  }();
  return billed;
}

struct Split {
  double total = 0, handler = 0, method = 0, db = 0;
  int calls = 0;
};

class Action {
public:
  explicit Action(benchmark::State& st) : st_(st), c_(W().Connection()) {}
  ~Action() {
    using benchmark::Counter;
    auto avg = [](double v) { return Counter(v, Counter::kAvgIterations); };
    st_.counters["calls"] = avg(s_.calls);
    st_.counters["total_ms"] = avg(s_.total);
    st_.counters["transport_ms"] = avg(s_.total - s_.handler);
    st_.counters["codec_ms"] = avg(s_.handler - s_.method);
    st_.counters["server_ms"] = avg(s_.method - s_.db);
    st_.counters["db_ms"] = avg(s_.db);
  }

  // A call that must succeed; its payload.
  rtl::Variant Ok(const char* method, rtl::VariantArray args) {
    rtl::Variant r = Call(method, std::move(args));
    if (!contracts::ResultSucceeded(r)) {
      st_.SkipWithError((std::string(method) + ": " + r.debugString()).c_str());
      return {};
    }
    return r[1];
  }
  rtl::Variant Call(const char* method, rtl::VariantArray args) {
    rtl::Variant r = c_->Call(method, args);
    net::ServerTiming t = net::LastServerTiming();
    s_.total += std::max(0.0, t.totalMs);
    s_.handler += std::max(0.0, t.handlerMs);
    s_.method += std::max(0.0, t.methodMs);
    s_.db += std::max(0.0, t.databaseMs);
    ++s_.calls;
    return r;
  }
  // Setting up is not part of the action.
  void Forget() { s_ = Split{}; }

private:
  benchmark::State& st_;
  std::unique_ptr<contracts::TNetConnection> c_;
  Split s_;
};

// The branch and the date entered: the planning parameters, the menu day as the
// date's check loads it, and again as leaving the header does.
void BM_OpenDay(benchmark::State& st) {
  Action a(st);
  for (auto _ : st) {
    a.Ok("GetParamPlaneja", {kBranch});
    a.Ok("GetCardaDia", {kBranch, Day(), ""});
    a.Ok("GetCardaDia", {kBranch, Day(), ""});
  }
}

// A service row's counts changed and the row posted: the delta goes at once and
// the day's dish packets come back.
void BM_PostServiceRow(benchmark::State& st) {
  Action a(st);
  data::TClientDataSet ds;
  ds.SetData(a.Ok("GetCardaDia", {kBranch, Day(), ""})[0].asPacket());
  ds.Locate("CDSERVFILI", rtl::Variant(kService));
  double v = ds.FieldByName("QTCLIEFETCAR").AsFloat();
  a.Forget();
  for (auto _ : st) {
    ds.Edit();
    ds.FieldByName("QTCLIEFETCAR").SetAsFloat(++v);
    ds.FieldByName("QTCOMEFETCAR").SetAsFloat(v + ds.FieldByName("QTFUNEFETCAR").AsFloat() +
                                               ds.FieldByName("QTDOAEFETCAR").AsFloat());
    ds.Post();
    a.Ok("PostCard", {kBranch, kService, Day(), ds.Delta(), "DEM", ""});
    ds.MergeChangeLog();
  }
}

// The billing page picked: the headcount check of the service, its billed
// services, the clients of the first one, and the turnstile readings.
void BM_EnterBilling(benchmark::State& st) {
  Action a(st);
  std::string billed = BilledService();
  for (auto _ : st) {
    a.Ok("GetComensais", {kBranch, Day(), kService});
    a.Ok("GetServiFat", {kBranch, kService, Day(), 0});
    a.Ok("GetServCli", {kBranch, billed, Day(), kService});
    a.Ok("GetEfetCatraca", {kBranch, Day(), kService});
  }
}

// A client's headcount typed and the billing page confirmed: the client delta,
// then the billed services, their clients and the apportionment lines reloaded.
void BM_ConfirmBilling(benchmark::State& st) {
  Action a(st);
  std::string billed = BilledService();
  data::TClientDataSet card, clients;
  card.SetData(a.Ok("GetCardaDia", {kBranch, Day(), ""})[0].asPacket());
  card.Locate("CDSERVFILI", rtl::Variant(kService));
  std::string menu = card.FieldByName("NRCARDAPIO").AsString();
  clients.SetData(a.Ok("GetServCli", {kBranch, billed, Day(), kService})[0].asPacket());
  clients.First();
  double v = clients.FieldByName("QTCOMEFETCLI").AsFloat();
  a.Forget();
  for (auto _ : st) {
    clients.Edit();
    clients.FieldByName("QTCOMEFETCLI").SetAsFloat(++v);
    clients.Post();
    rtl::Variant r = a.Call("UpdEfetClie", {clients.Delta(), kBranch, kService, Day(), true, menu, rtl::Variant::Null()});
    // "OK" or a reloaded menu day; a message key or a failure is a refusal.
    bool ok = r.isArray() && r.size() > 0 && (!r[0].isString() || r[0].toString() == "OK");
    if (!ok) {
      st.SkipWithError(("UpdEfetClie: " + r.debugString()).c_str());
      break;
    }
    clients.MergeChangeLog();
    a.Ok("GetServiFat", {kBranch, kService, Day(), 0});
    a.Ok("GetServCli", {kBranch, billed, Day(), kService});
    a.Ok("GetItemRatEfet", {kBranch, billed, Day(), kService});
  }
}

}  // namespace

BENCHMARK(BM_OpenDay)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PostServiceRow)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EnterBilling)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConfirmBilling)->UseRealTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
