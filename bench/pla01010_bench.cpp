// PLA01010: the apportionment of every client's billed headcount over the
// days of the period, and the confirm's check of every day against the plan
// (the copy of all rows and the day sums, stopped before the server call by a
// day that does not add up). Both should grow with days x clients.
//
//   pla01010_bench --benchmark_filter='Apportion|DayCheck'

#include <benchmark/benchmark.h>

#include "pla01010/cli_pla01010.h"
#include "platform/host/dialogs.h"
#include "platform/rtl/format.h"

namespace {

using pla01010::TfrmConsEfetClie;

// A screen with the plan and the clients loaded as the header's exit leaves them.
TfrmConsEfetClie* Screen(int days, int clients) {
  auto* s = ui::CreateForm<TfrmConsEfetClie>(nullptr);
  s->cdsEfetPlan.CreateDataSet();
  double plan = 0;
  const rtl::TDateTime first = rtl::EncodeDate(2024, 5, 1);
  for (int d = 0; d < days; ++d) {
    s->cdsEfetPlan.Append();
    s->cdsEfetPlan.FieldByName("DTCARDAPIO").SetAsDateTime(first + d);
    double qt = 100 + (d * 37) % 50;
    s->cdsEfetPlan.FieldByName("QTCLIEFETCAR").SetAsFloat(qt);
    s->cdsEfetPlan.Post();
    plan += qt;
  }
  s->cdsEfetClie.CreateDataSet();
  s->cdsEfetClie.BeforeInsert = nullptr;
  s->cdsEfetClie.BeforePost = nullptr;
  s->cdsEfetClie.AfterScroll = nullptr;
  for (int c = 0; c < clients; ++c) {
    s->cdsEfetClie.Append();
    s->cdsEfetClie.FieldByName("CDCLIENTE").SetAsString("CL" + std::to_string(c));
    s->cdsEfetClie.FieldByName("NMRAZSOCCLIE").SetAsString("Cliente " + std::to_string(c));
    s->cdsEfetClie.FieldByName("TOTALEFET").SetAsFloat(1 + c % 40);
    s->cdsEfetClie.Post();
  }
  s->cdsEfetClie.MergeChangeLog();
  s->cdsEfetClie.BeforeInsert = [s](data::TClientDataSet& d) { s->cdsEfetClieBeforeInsert(d); };
  s->cdsEfetClie.BeforePost = [s](data::TClientDataSet& d) { s->cdsEfetClieBeforePost(d); };
  s->cdsEfetClie.AfterScroll = [s](data::TClientDataSet& d) { s->cdsEfetClieAfterScroll(d); };
  s->cdsEfetClie.First();
  // The totals must read alike for the apportionment to run.
  s->edtEfetPlan->SetText(rtl::FloatToStr(plan));
  s->edtEfetFat->SetText(rtl::FloatToStr(plan));
  return s;
}

void Apportion(benchmark::State& state) {
  const int days = static_cast<int>(state.range(0)), clients = static_cast<int>(state.range(1));
  TfrmConsEfetClie* s = Screen(days, clients);
  for (auto _ : state) {
    s->sbtConsolidarClick(*s);
    benchmark::DoNotOptimize(s->cdsEfetFat.RecordCount());
  }
  state.counters["rows"] = static_cast<double>(days) * clients;
  state.SetComplexityN(static_cast<int64_t>(days) * clients);
  delete s;
}

void DayCheck(benchmark::State& state) {
  const int days = static_cast<int>(state.range(0)), clients = static_cast<int>(state.range(1));
  TfrmConsEfetClie* s = Screen(days, clients);
  s->sbtConsolidarClick(*s);
  // One day off by one, so the check lists it and nothing goes to the server.
  s->cdsEfetFat.SetFiltered(false);
  s->cdsEfetFat.First();
  s->cdsEfetFat.Edit();
  s->cdsEfetFat.FieldByName("QTEFETFAT").SetAsFloat(s->cdsEfetFat.FieldByName("QTEFETFAT").AsFloat() + 1);
  s->cdsEfetFat.Post();
  std::string refused;
  for (auto _ : state) {
    try {
      s->sbtConfirmaClick(*s);
    } catch (const host::EMensErro& e) {
      refused = e.what();
    }
    benchmark::DoNotOptimize(refused.size());
  }
  if (refused.find("dia(s)") == std::string::npos) state.SkipWithError("the day check did not refuse");
  state.counters["rows"] = static_cast<double>(days) * clients;
  state.SetComplexityN(static_cast<int64_t>(days) * clients);
  delete s;
}

void Sizes(benchmark::internal::Benchmark* b) {
  for (int clients : {1000, 2500, 5000}) b->Args({31, clients});
  for (int days : {8, 16}) b->Args({days, 5000});
  b->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);
}

BENCHMARK(Apportion)->Apply(Sizes);
BENCHMARK(DayCheck)->Apply(Sizes);

}  // namespace

BENCHMARK_MAIN();
