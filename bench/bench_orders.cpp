// Every order side by side: compareOrders over the nine orders of examples/
// beside the nine calibrations one after the other on one Workspace, and
// each order's calibration alone (where the time goes), on one thread and
// on one a core (threads:0).
//
// bench_orders --confusion [SETS] checks the rule instead: SETS (200 unless
// given) seeded sets of made points (made_points.h) of each true order 1, 2
// and 3, every order fitted to each, and prints how often the rule names
// each order, with the span of every true curve's highest term in standard
// uncertainties, as the library's weighted fit of one order less leaves it.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "made_points.h"
#include "tarvel/tarvel.h"

using namespace tarvel;

namespace {

int threadsArg(const benchmark::State& state) { return static_cast<int>(state.range(0)); }

void BM_OrdersOfExample(benchmark::State& state) {
  const Inputs in = read(EXAMPLES_DIR);
  Workspace workspace(threadsArg(state));
  for (auto _ : state) benchmark::DoNotOptimize(compareOrders(in, {}, &workspace).recommended);
}
BENCHMARK(BM_OrdersOfExample)->ArgName("threads")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_NineCalibrationsOfExample(benchmark::State& state) {
  Inputs in = read(EXAMPLES_DIR);
  in.switches = Switches{};
  Workspace workspace(threadsArg(state));
  for (auto _ : state)
    for (int k = 0; k <= kMaxOrder; ++k) {
      in.order = k;
      benchmark::DoNotOptimize(calibrate(in, nullptr, &workspace).monteCarloFit.coefficients[0]);
    }
}
BENCHMARK(BM_NineCalibrationsOfExample)->ArgName("threads")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CalibrationOfExampleAtOrder(benchmark::State& state) {
  Inputs in = read(EXAMPLES_DIR);
  in.switches = Switches{};
  in.order = static_cast<int>(state.range(1));
  Workspace workspace(threadsArg(state));
  for (auto _ : state) benchmark::DoNotOptimize(calibrate(in, nullptr, &workspace).monteCarloFit.coefficients[0]);
}
BENCHMARK(BM_CalibrationOfExampleAtOrder)
    ->ArgNames({"threads", "order"})
    ->ArgsProduct({{1, 0}, {0, 1, 2, 3, 4, 5, 6, 7, 8}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The rule's confusion table over `sets` sets of each true order.
int confusion(int sets) {
  Workspace workspace;
  std::printf("true order: span of the highest term beyond the lower orders, in standard uncertainties\n");
  for (int order = 2; order <= 3; ++order) {
    Inputs exact = made::points(order, 0, false);
    exact.order = order - 1;
    const Calibration cal = calibrate(exact, nullptr, &workspace);
    double lo = 0.0, hi = 0.0;
    for (int i = 0; i < made::kPoints; ++i) {
      const std::vector<double>& a = cal.weightedFit.coefficients;
      double fit = 0.0;
      for (std::size_t j = a.size(); j-- > 0;) fit = fit * exact.points[i].q + a[j];
      const double r = (exact.points[i].e - fit) / exact.points[i].ue;
      lo = i == 0 ? r : std::min(lo, r);
      hi = i == 0 ? r : std::max(hi, r);
    }
    std::printf("  %d: %.3f\n", order, hi - lo);
  }
  // Beside the rule, for comparison: the order of the least AIC, AICc and BIC of the weighted fits
  // (uncertainties in y alone), and of the least AICc of chi2(x,y).
  const char* names[] = {"the rule", "least AIC", "least AICc", "least BIC", "least AICc of chi2(x,y)"};
  constexpr int kWays = 5;
  int named[kWays][4][kMaxOrder + 2] = {};
  for (int order = 1; order <= 3; ++order)
    for (int s = 1; s <= sets; ++s) {
      const OrderTable t = compareOrders(made::points(order, static_cast<std::uint64_t>(s)), {}, &workspace);
      ++named[0][order][t.recommended ? *t.recommended : kMaxOrder + 1];
      double best[kWays] = {};
      int at[kWays] = {kMaxOrder + 1, kMaxOrder + 1, kMaxOrder + 1, kMaxOrder + 1, kMaxOrder + 1};
      for (const OrderRow& r : t.rows) {
        if (!r.failure.empty()) continue;
        const double k = r.order + 1, n = made::kPoints;
        const double v[kWays] = {0.0, r.fit.aic, r.fit.aicc.value_or(HUGE_VAL), r.fit.bic,
                                 r.chi2xy + 2 * k + 2 * k * (k + 1) / (n - k - 1)};
        for (int w = 1; w < kWays; ++w)
          if (at[w] > kMaxOrder || v[w] < best[w]) best[w] = v[w], at[w] = r.order;
      }
      for (int w = 1; w < kWays; ++w) ++named[w][order][at[w]];
    }
  int worst = sets;
  for (int w = 0; w < kWays; ++w) {
    std::printf("\n%d sets of %d points of each true order: how often %s names each order\n", sets, made::kPoints,
                names[w]);
    std::printf("true  named:  0    1    2    3    4    5    6    7    8  none   right\n");
    for (int order = 1; order <= 3; ++order) {
      std::printf("%4d        ", order);
      for (int n : named[w][order]) std::printf("%4d ", n);
      std::printf(" %5.1f %%\n", 100.0 * named[w][order][order] / sets);
      if (w == 0) worst = std::min(worst, named[w][order][order]);
    }
  }
  return worst * 10 >= sets * 9 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--confusion") == 0) return confusion(argc >= 3 ? std::atoi(argv[2]) : 200);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
