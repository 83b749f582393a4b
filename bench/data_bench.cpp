// The data-set engine on rows shaped like the client headcounts (cdsServCli):
// packets, filters, Locate, edits with the change log, inserts, walks, copies.
// Items processed are rows; "bytes_per_row" is heap measured around a load or
// an insert run, "value_bytes_per_row" the size of the row's values (text
// bytes plus 8 per number) for comparison.

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>

#include "platform/data/dataset.h"
#include "platform/data/packet.h"
#include "platform/rtl/datetime.h"

using namespace data;
using rtl::Variant;

namespace {

std::vector<TFieldDef> servCliDefs() {
  return {{"CDFILIAL", TFieldType::String, 4},        {"CDSERVFILI", TFieldType::String, 5},
          {"CDCLIENTE", TFieldType::String, 21},      {"NMRAZSOCCLIE", TFieldType::String, 50},
          {"NMFANTCLIE", TFieldType::String, 100},    {"QTCOMEFETCLI", TFieldType::Float},
          {"VRSERVFATUEFCLI", TFieldType::Float},     {"DTEFETCLIE", TFieldType::DateTime},
          {"CDSERVPLAN", TFieldType::String, 5, true}, {"NRAPURACFAT", TFieldType::String, 10},
          {"IDTPIJURCLIE", TFieldType::String, 1},    {"NRINSJURCLIE", TFieldType::String, 20},
          {"QTVENDAEFETCLI", TFieldType::Float}};
}

const char* kWords[] = {"COMERCIO", "INDUSTRIA", "ALIMENTOS", "SERVICOS", "METALURGICA", "TEXTIL", "HOSPITAL",
                        "ESCOLA", "TRANSPORTES", "CONSTRUTORA", "AGRICOLA", "QUIMICA"};

std::vector<Variant> makeRow(std::mt19937& rng, int i, double& valueBytes) {
  char buf[64];
  std::vector<Variant> v;
  std::snprintf(buf, sizeof buf, "%04d", 1 + i % 20);
  v.emplace_back(std::string(buf));
  std::snprintf(buf, sizeof buf, "%05d", 100 + i % 37);
  v.emplace_back(std::string(buf));
  std::snprintf(buf, sizeof buf, "%014d", 10000000 + i * 7);
  v.emplace_back(std::string(buf));
  std::string razao = std::string(kWords[rng() % 12]) + " " + kWords[rng() % 12] + " " + std::to_string(i) + " LTDA";
  v.emplace_back(razao);
  v.emplace_back(std::string(kWords[rng() % 12]) + " " + std::to_string(i % 997));
  v.emplace_back(static_cast<double>(rng() % 500));
  v.emplace_back(static_cast<double>(rng() % 100000) / 100.0);
  v.push_back(Variant::FromDate(rtl::EncodeDate(2024, 1, 1) + i % 366));
  std::snprintf(buf, sizeof buf, "%05d", 100 + i % 37);
  v.emplace_back(std::string(buf));
  if (i % 3 == 0) {
    std::snprintf(buf, sizeof buf, "%010d", i);
    v.emplace_back(std::string(buf));
  } else {
    v.emplace_back(std::string());
  }
  v.emplace_back(std::string(i % 4 ? "J" : "F"));
  std::snprintf(buf, sizeof buf, "%014lld", 11222333000100LL + i);
  v.emplace_back(std::string(buf));
  v.emplace_back(static_cast<double>(rng() % 50));
  for (auto& x : v) valueBytes += x.isString() ? static_cast<double>(x.asStringRef().size()) : 8.0;
  return v;
}

struct Sample {
  rtl::DataPacket packet;
  double valueBytesPerRow = 0;
  std::vector<Variant> lastRow;
};

const Sample& sample(int rows) {
  static std::map<int, Sample> cache;
  auto it = cache.find(rows);
  if (it != cache.end()) return it->second;
  Sample s;
  std::mt19937 rng(7);
  PacketWriter w(servCliDefs());
  double bytes = 0;
  for (int i = 0; i < rows; ++i) {
    auto row = makeRow(rng, i, bytes);
    w.AddRow(row);
    if (i == rows - 1) s.lastRow = row;
  }
  s.packet = w.Finish();
  s.valueBytesPerRow = bytes / rows;
  return cache.emplace(rows, std::move(s)).first->second;
}

// Heap in use, including the large blocks malloc maps on their own.
size_t heapInUse() {
  auto m = mallinfo2();
  return m.uordblks + m.hblkhd;
}

void BM_LoadPacket(benchmark::State& state) {
  const auto& s = sample(static_cast<int>(state.range(0)));
  double perRow;
  {
    TClientDataSet warm;  // the first load also sets up the parser's reusable buffers
    warm.SetData(s.packet);
  }
  {
    TClientDataSet probe;
    size_t before = heapInUse();
    probe.SetData(s.packet);
    perRow = static_cast<double>(heapInUse() - before) / static_cast<double>(state.range(0));
  }
  for (auto _ : state) {
    auto ds = std::make_unique<TClientDataSet>("cdsServCli");
    ds->SetData(s.packet);
    benchmark::DoNotOptimize(ds->RecordCount());
    state.PauseTiming();
    ds.reset();  // freeing is not part of loading
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.counters["bytes_per_row"] = perRow;
  state.counters["value_bytes_per_row"] = s.valueBytesPerRow;
  state.counters["packet_bytes_per_row"] = static_cast<double>(s.packet.bytes().size()) / static_cast<double>(state.range(0));
}

void BM_EncodePacket(benchmark::State& state) {
  TClientDataSet ds;
  ds.SetData(sample(static_cast<int>(state.range(0))).packet);
  for (auto _ : state) {
    auto p = ds.Data();
    benchmark::DoNotOptimize(p.bytes().size());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_FilterText(benchmark::State& state) {
  TClientDataSet ds;
  ds.SetData(sample(static_cast<int>(state.range(0))).packet);
  ds.SetFilter("CDFILIAL = '0007' AND QTCOMEFETCLI >= 100");
  int shown = 0;
  for (auto _ : state) {
    ds.SetFiltered(true);
    shown = ds.RecordCount();
    state.PauseTiming();
    ds.SetFiltered(false);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.counters["shown"] = shown;
}

void BM_FilterRecord(benchmark::State& state) {
  TClientDataSet ds;
  ds.SetData(sample(static_cast<int>(state.range(0))).packet);
  TField& fil = ds.FieldByName("CDFILIAL");
  TField& qt = ds.FieldByName("QTCOMEFETCLI");
  ds.OnFilterRecord = [&](TClientDataSet&, bool& accept) { accept = fil.AsString() == "0007" && qt.AsFloat() >= 100; };
  for (auto _ : state) {
    ds.SetFiltered(true);
    benchmark::DoNotOptimize(ds.RecordCount());
    state.PauseTiming();
    ds.SetFiltered(false);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_Locate3KeysLastRow(benchmark::State& state) {
  const auto& s = sample(static_cast<int>(state.range(0)));
  TClientDataSet ds;
  ds.SetData(s.packet);
  Variant keys = rtl::VarArrayOf({s.lastRow[0], s.lastRow[1], s.lastRow[2]});
  for (auto _ : state) {
    ds.First();
    bool found = ds.Locate("CDFILIAL;CDSERVFILI;CDCLIENTE", keys);
    if (!found) state.SkipWithError("not found");
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_EditPostThenDeltaAndMerge(benchmark::State& state) {
  const int edits = 10000;
  const auto& s = sample(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    state.PauseTiming();
    TClientDataSet ds;
    ds.SetData(s.packet);
    TField& qt = ds.FieldByName("QTCOMEFETCLI");
    TField& nm = ds.FieldByName("NMFANTCLIE");
    int step = std::max(1, ds.RecordCount() / edits);
    ds.First();
    state.ResumeTiming();
    for (int i = 0; i < edits; ++i) {
      ds.Edit();
      qt.SetAsFloat(qt.AsFloat() + 1);
      if (i % 4 == 0) nm.SetAsString("ALTERADO " + std::to_string(i));
      ds.Post();
      ds.MoveBy(step);
    }
    auto delta = ds.Delta();
    benchmark::DoNotOptimize(delta.bytes().size());
    ds.MergeChangeLog();
    state.PauseTiming();
    if (ds.ChangeCount() != 0) state.SkipWithError("log not merged");
    state.counters["delta_bytes"] = static_cast<double>(delta.bytes().size());
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * edits);
}

void BM_InsertRows(benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0));
  std::vector<std::vector<Variant>> values;
  std::mt19937 rng(11);
  double bytes = 0;
  for (int i = 0; i < rows; ++i) values.push_back(makeRow(rng, i, bytes));
  double perRow = 0;
  for (auto _ : state) {
    auto ds = std::make_unique<TClientDataSet>("cdsServCli");
    ds->FieldDefs() = servCliDefs();
    size_t before = heapInUse();
    ds->CreateDataSet();
    std::vector<TField*> f;
    for (size_t i = 0; i < ds->FieldCount(); ++i) f.push_back(&ds->Fields(i));
    for (auto& row : values) {
      ds->Append();
      for (size_t c = 0; c < row.size(); ++c) f[c]->SetValue(row[c]);
      ds->Post();
    }
    perRow = static_cast<double>(heapInUse() - before) / rows;
    benchmark::DoNotOptimize(ds->ChangeCount());
    state.PauseTiming();
    ds.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * rows);
  state.counters["bytes_per_row"] = perRow;
  state.counters["value_bytes_per_row"] = bytes / rows;
}

void BM_WalkAllRows(benchmark::State& state) {
  TClientDataSet ds;
  ds.SetData(sample(static_cast<int>(state.range(0))).packet);
  TField& qt = ds.FieldByName("QTCOMEFETCLI");
  for (auto _ : state) {
    double sum = 0;
    for (ds.First(); !ds.Eof(); ds.Next()) sum += qt.AsFloat();
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_CopyData(benchmark::State& state) {
  TClientDataSet src;
  src.SetData(sample(static_cast<int>(state.range(0))).packet);
  // A few pending changes, as a screen copies a data set it is editing.
  for (int i = 0; i < 100; ++i) {
    src.Edit();
    src.FieldByName("QTCOMEFETCLI").SetAsFloat(i);
    src.Post();
    src.Next();
  }
  for (auto _ : state) {
    TClientDataSet copy;
    copy.CopyDataFrom(src);
    benchmark::DoNotOptimize(copy.RecordCount());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

}  // namespace

BENCHMARK(BM_LoadPacket)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodePacket)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FilterText)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FilterRecord)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Locate3KeysLastRow)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EditPostThenDeltaAndMerge)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InsertRows)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WalkAllRows)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CopyData)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// By default freed memory stays in the process for reuse, as in a client that
// keeps loading packets; --fresh-memory keeps the allocator's defaults, where
// every large buffer is mapped afresh (and page-faulted) on each run.
int main(int argc, char** argv) {
  bool fresh = false;
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (std::string(argv[i]) == "--fresh-memory") fresh = true;
    else args.push_back(argv[i]);
  }
  if (!fresh) {
    mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 1024 * 1024 * 1024);
  }
  int n = static_cast<int>(args.size());
  benchmark::Initialize(&n, args.data());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
