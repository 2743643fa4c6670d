// Time of one AJUST call on calibration-sized data: twelve points with
// quenching indices from 10 to 150, efficiencies falling smoothly from 0.95
// to 0.60 and uncertainties from 0.2 % to 1 %, nine coefficient slots, fits
// of order 2 and 3. "start ones" begins from all fitted coefficients 1.0 as
// the weighted fit does; "start fitted" begins from the fitted coefficients
// as every Monte Carlo trial does. The points of the example data set are
// timed as well when the file can be read.
//
// Counters: mrqmin_calls = the starting call + the loop steps (niter
// counted ones and the one that ends the loop) + 5 extra steps + the final
// call = niter + 8.
#include <benchmark/benchmark.h>

#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "fit/ajust.h"

namespace {

using tarvel::AJUST;

struct Points {
  std::vector<double> q, e, ue;
};

Points syntheticPoints() {
  // Small fixed deviations so that the fit is not exact.
  const double wiggle[12] = {0.4, -0.9, 0.3, 0.8, -0.5, -1.0, 0.1, 0.9, -0.7, 0.6, -0.2, 0.5};
  Points p;
  for (int i = 0; i < 12; ++i) {
    const double q = 10.0 + 140.0 * i / 11.0 + (i % 3 == 1 ? 1.7 : 0.0);
    const double t = (q - 10.0) / 140.0;
    const double e = 0.95 - 0.25 * t - 0.10 * t * t;
    const double rel = 0.002 + 0.008 * i / 11.0;
    p.q.push_back(q);
    p.e.push_back(e + wiggle[i] * rel * e);
    p.ue.push_back(rel * e);
  }
  return p;
}

// The points of the example data file: a header record, then q, u(q), e, u(e).
Points examplePoints() {
  Points p;
  std::ifstream in(std::string(EXAMPLES_DIR) + "/points.dat");
  int n = 0;
  double urel = 0.0;
  std::string rest;
  if (!(in >> n >> urel)) return p;
  std::getline(in, rest);
  for (int i = 0; i < n; ++i) {
    double q, uq, e, ue;
    if (!(in >> q >> uq >> e >> ue)) return Points{};
    p.q.push_back(q);
    p.e.push_back(e);
    p.ue.push_back(ue);
  }
  return p;
}

struct Start {
  std::vector<double> a;
  std::vector<int> ifit;
};

Start onesStart(int order) {
  Start s{std::vector<double>(9, 0.0), std::vector<int>(9, 0)};
  for (int l = 0; l <= order; ++l) {
    s.a[l] = 1.0;
    s.ifit[l] = 1;
  }
  return s;
}

void runFit(benchmark::State& state, const Points& p, int order, bool fromFitted) {
  if (p.q.empty()) {
    state.SkipWithError("no data");
    return;
  }
  const int n = static_cast<int>(p.q.size());
  Start s = onesStart(order);
  double covar[81];
  double chisq = 0.0;
  int niter = 0;
  if (fromFitted) AJUST(p.q.data(), p.e.data(), p.ue.data(), n, s.a.data(), 9, covar, chisq, niter, s.ifit.data());
  const std::vector<double> a0 = s.a;

  std::vector<double> a(9);
  for (auto _ : state) {
    a = a0;
    AJUST(p.q.data(), p.e.data(), p.ue.data(), n, a.data(), 9, covar, chisq, niter, s.ifit.data());
    benchmark::DoNotOptimize(a.data());
    benchmark::DoNotOptimize(chisq);
  }
  state.counters["niter"] = niter;
  state.counters["mrqmin_calls"] = niter + 8;
  state.counters["chisq"] = chisq;
}

void BM_AjustSynthetic(benchmark::State& state) {
  static const Points p = syntheticPoints();
  runFit(state, p, static_cast<int>(state.range(0)), state.range(1) != 0);
}
BENCHMARK(BM_AjustSynthetic)
    ->ArgNames({"order", "start_fitted"})
    ->Args({2, 0})
    ->Args({2, 1})
    ->Args({3, 0})
    ->Args({3, 1});

void BM_AjustExample(benchmark::State& state) {
  static const Points p = examplePoints();
  runFit(state, p, static_cast<int>(state.range(0)), state.range(1) != 0);
}
BENCHMARK(BM_AjustExample)->ArgNames({"order", "start_fitted"})->Args({2, 0})->Args({2, 1})->Args({3, 0});

}  // namespace

BENCHMARK_MAIN();
