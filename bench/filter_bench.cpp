// Per-row cost of the filter language on its own, without the data set around
// it: parse once, then evaluate 100,000 rows shaped like the screens' keys.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

#include "platform/data/filter.h"

namespace {

using data::TFieldType;
using rtl::Variant;

struct Schema : data::FilterSchema {
  std::vector<std::pair<std::string, TFieldType>> fields{{"CDFILIAL", TFieldType::String},
                                                         {"NRCARDAPIO", TFieldType::String},
                                                         {"CDCLIENTE", TFieldType::String},
                                                         {"QTEFETFAT", TFieldType::Float},
                                                         {"DTCARDAPIO", TFieldType::DateTime}};
  int fieldIndex(std::string_view name) const override {
    for (size_t i = 0; i < fields.size(); ++i)
      if (rtl::SameText(fields[i].first, name)) return static_cast<int>(i);
    return -1;
  }
  TFieldType fieldType(int index) const override { return fields[index].second; }
};

struct Row : data::FilterRow {
  const std::vector<Variant>* values = nullptr;
  bool byRef = true;
  Variant value(int index) const override { return (*values)[index]; }
  const Variant* valueRef(int index) const override { return byRef ? &(*values)[index] : nullptr; }
};

const std::vector<std::vector<Variant>>& rows() {
  static const auto all = [] {
    std::vector<std::vector<Variant>> r;
    r.reserve(100000);
    char filial[8], cardapio[16], cliente[32];
    for (int i = 0; i < 100000; ++i) {
      std::snprintf(filial, sizeof filial, "%04d", i % 7);
      std::snprintf(cardapio, sizeof cardapio, "%010d", i % 1000);
      std::snprintf(cliente, sizeof cliente, "CLIENTE NUMERO %08d", i % 500);
      r.push_back({Variant(filial), Variant(cardapio), Variant(cliente), Variant(i * 0.25),
                   Variant::FromDate(45000 + i % 30)});
    }
    return r;
  }();
  return all;
}

void run(benchmark::State& state, const char* text, bool byRef) {
  Schema schema;
  auto expr = data::FilterExpression::Parse(text, schema, {}, rtl::TFormatSettings::BrazilianPortuguese());
  Row row;
  row.byRef = byRef;
  int64_t hits = 0;
  for (auto _ : state) {
    for (const auto& r : rows()) {
      row.values = &r;
      hits += expr->Evaluate(row);
    }
  }
  benchmark::DoNotOptimize(hits);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(rows().size()));
}

void BM_KeyFilter(benchmark::State& s) { run(s, "CDFILIAL = '0001' AND NRCARDAPIO = '0000000123'", true); }
void BM_KeyFilterByCopy(benchmark::State& s) { run(s, "CDFILIAL = '0001' AND NRCARDAPIO = '0000000123'", false); }
void BM_LongStringPrefix(benchmark::State& s) { run(s, "CDCLIENTE = 'CLIENTE NUMERO 0000012*'", true); }
void BM_LongStringByCopy(benchmark::State& s) { run(s, "CDCLIENTE = 'CLIENTE NUMERO 0000012*'", false); }
void BM_NumberDateOr(benchmark::State& s) {
  run(s, "QTEFETFAT > 100,5 AND DTCARDAPIO >= '15/03/2023' OR NOT CDFILIAL = '0003'", true);
}
void BM_Parse(benchmark::State& state) {
  Schema schema;
  auto fs = rtl::TFormatSettings::BrazilianPortuguese();
  for (auto _ : state)
    benchmark::DoNotOptimize(
        data::FilterExpression::Parse("CDFILIAL = '0001' AND NRCARDAPIO = '0000000123'", schema, {}, fs));
}

BENCHMARK(BM_KeyFilter);
BENCHMARK(BM_KeyFilterByCopy);
BENCHMARK(BM_LongStringPrefix);
BENCHMARK(BM_LongStringByCopy);
BENCHMARK(BM_NumberDateOr);
BENCHMARK(BM_Parse);

}  // namespace

BENCHMARK_MAIN();
