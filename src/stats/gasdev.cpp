#include "stats/gasdev.h"

#include "fit/power.h"
#include "records/runtime.h"
#include "stats/ran1.h"

namespace tarvel {

namespace {
GasdevState state{};
}  // namespace

GasdevState& gasdevState() { return state; }

namespace {
// A point uniform in the square, kept only when inside the unit circle and
// not at its centre; uniform() is ran1.
template <class Uniform>
void pointOfDisc(Uniform uniform, double& v1, double& v2) {
  double rsq;
  do {
    v1 = 2.0 * uniform() - 1.0;
    v2 = 2.0 * uniform() - 1.0;
    rsq = ipow(v1, 2) + ipow(v2, 2);
  } while (rsq >= 1.0 || rsq == 0.0);
}
}  // namespace

void gasdevPoint(int& seed, double& v1, double& v2) {
  pointOfDisc([&seed] { return ran1(seed); }, v1, v2);
}

void gasdevPoints(int& seed, long long n, double* disc) {
  // ran1's state in a local copy, so that it stays in registers. Every
  // candidate is written and the count moves on only when it is kept: the
  // loop has no branch that depends on the draws.
  Ran1State st = ran1State();
  for (long long p = 0; p < n;) {
    const double v1 = 2.0 * ran1(seed, st) - 1.0;
    const double v2 = 2.0 * ran1(seed, st) - 1.0;
    const double rsq = ipow(v1, 2) + ipow(v2, 2);
    disc[2 * p] = v1;
    disc[2 * p + 1] = v2;
    p += static_cast<long long>(rsq < 1.0) & static_cast<long long>(rsq != 0.0);
  }
  ran1State() = st;
}

double gasdevFactorChecked(double rsq) { return msqrt(-2.0 * mlog(rsq) / rsq); }

double gasdev(int& seed) {
  if (state.waiting == 0) {
    double v1, v2;
    gasdevPoint(seed, v1, v2);
    const double fac = gasdevFactor(v1, v2);
    state.spare = v1 * fac;
    state.waiting = 1;
    return v2 * fac;
  }
  state.waiting = 0;
  return state.spare;
}

}  // namespace tarvel
