// Run-time layer hot paths: number and date formatting as grids and reports use them.

#include <benchmark/benchmark.h>

#include "platform/rtl/format.h"
#include "platform/rtl/mask.h"

namespace {

void BM_FloatToStr(benchmark::State& state) {
  double v = 1234.5678;
  for (auto _ : state) {
    benchmark::DoNotOptimize(rtl::FloatToStr(v));
    v += 0.37;
  }
}
BENCHMARK(BM_FloatToStr);

void BM_FormatFloat(benchmark::State& state) {
  double v = 1234.5678;
  for (auto _ : state) {
    benchmark::DoNotOptimize(rtl::FormatFloat("#,##0.00", v));
    v += 0.37;
  }
}
BENCHMARK(BM_FormatFloat);

void BM_StrToFloat(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(rtl::StrToFloat("1234,5678"));
}
BENCHMARK(BM_StrToFloat);

void BM_DateTimeToStr(benchmark::State& state) {
  double v = 45323.5;
  for (auto _ : state) {
    benchmark::DoNotOptimize(rtl::DateTimeToStr(v));
    v += 1.25;
  }
}
BENCHMARK(BM_DateTimeToStr);

void BM_FormatMaskText(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(rtl::FormatMaskText("999.999.999-99;0;_", "12345678901"));
}
BENCHMARK(BM_FormatMaskText);

}  // namespace

BENCHMARK_MAIN();
