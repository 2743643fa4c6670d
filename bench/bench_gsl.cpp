// The GSL reference beside which the program is measured: 10000 weighted
// refits of the 12-point order-2 calibration of bench_run's
// BM_ProgramTwelvePoints, each point perturbed in both coordinates, by a
// plain loop over gsl_multifit_wlinear (gsl_refits.c). Built only when GSL is
// installed (libgsl-dev).
#include <benchmark/benchmark.h>

#include <vector>

#include "bench_points.h"

extern "C" double gsl_refits(const double* q, const double* uq, const double* e, const double* ue, int n,
                             double urel, int order, int trials);

namespace {

void BM_GslRefitLoop(benchmark::State& state) {
  const std::vector<benchdata::Point> pts = benchdata::curvePoints(12);
  std::vector<double> q, uq, e, ue;
  for (const benchdata::Point& p : pts) {
    q.push_back(p.q);
    uq.push_back(p.uq);
    e.push_back(p.e);
    ue.push_back(p.ue);
  }
  for (auto _ : state) {
    const double sum = gsl_refits(q.data(), uq.data(), e.data(), ue.data(), 12, 0.005, 2, 10000);
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(BM_GslRefitLoop)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
