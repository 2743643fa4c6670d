// Benchmarks of the answers at many indices of the calibration of examples/
// (order 2): one index at a time through Calibration::efficiency, as a
// caller without the batch answers has them, beside
// Calibration::efficiencies with and without the full Monte Carlo answer,
// on one thread and on one a core (threads:0). Items are indices.
#include <benchmark/benchmark.h>

#include <vector>

#include "tarvel/tarvel.h"

namespace {

const tarvel::Calibration& examples() {
  static const tarvel::Calibration cal = tarvel::calibrate(tarvel::read(EXAMPLES_DIR));
  return cal;
}

std::vector<double> indices(std::size_t n) {
  const tarvel::Calibration& c = examples();
  std::vector<double> q(n);
  for (std::size_t i = 0; i < n; ++i) q[i] = c.qmin + (c.qmax - c.qmin) * static_cast<double>(i) / static_cast<double>(n - 1);
  return q;
}

void BM_EfficiencyOneByOne(benchmark::State& state) {
  const std::vector<double> q = indices(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state)
    for (double x : q) benchmark::DoNotOptimize(examples().efficiency(x));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_EfficiencyOneByOne)->Arg(100)->Unit(benchmark::kMillisecond);

void BM_Efficiencies(benchmark::State& state) {
  const std::vector<double> q = indices(static_cast<std::size_t>(state.range(0)));
  std::vector<tarvel::Answer> out(q.size());
  for (auto _ : state) {
    examples().efficiencies(q, out, state.range(1) != 0, tarvel::OutOfRange::raise, static_cast<int>(state.range(2)));
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
// indices, the Monte Carlo answer, threads
BENCHMARK(BM_Efficiencies)->ArgNames({"n", "mc", "threads"})
    ->Args({10000, 1, 1})->Args({10000, 1, 0})->Args({1000000, 0, 1})->Args({1000000, 0, 0})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
