#include "stats/gasdev.h"

#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "fit/power.h"
#include "records/runtime.h"
#include "stats/ran1.h"

namespace tarvel {

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

void gasdevPoint(int& seed, Ran1State& uniform, double& v1, double& v2) {
  pointOfDisc([&seed, &uniform] { return ran1(seed, uniform); }, v1, v2);
}

void gasdevPoints(int& seed, Ran1State& uniform, long long n, double* disc) {
  // ran1's state in a local copy, so that it stays in registers. Every
  // candidate is written and the count moves on only when it is kept: the
  // loop has no branch that depends on the draws.
  Ran1State st = uniform;
  for (long long p = 0; p < n;) {
    const double v1 = 2.0 * ran1(seed, st) - 1.0;
    const double v2 = 2.0 * ran1(seed, st) - 1.0;
    const double rsq = ipow(v1, 2) + ipow(v2, 2);
    disc[2 * p] = v1;
    disc[2 * p + 1] = v2;
    p += static_cast<long long>(rsq < 1.0) & static_cast<long long>(rsq != 0.0);
  }
  uniform = st;
}

double gasdevFactorChecked(double rsq) { return msqrt(-2.0 * mlog(rsq) / rsq); }

void gasdevFactors(const double* disc, long long n, double* fac) {
  // The logarithms first, then the square roots of the quotients two at a
  // time, so that no point waits for the one before; a point off the open
  // disc (there is none) is left to gasdevFactor.
  bool inside = true;
  for (long long p = 0; p < n; ++p) {
    const double rsq = ipow(disc[2 * p], 2) + ipow(disc[2 * p + 1], 2);
    const bool in = rsq > 0.0 && rsq < 1.0;
    inside = inside && in;
    fac[p] = in ? std::log(rsq) : std::numeric_limits<double>::quiet_NaN();
  }
  long long p = 0;
#if defined(__SSE2__)
  const __m128d minusTwo = _mm_set1_pd(-2.0);
  for (; p + 1 < n; p += 2) {
    const __m128d v1 = _mm_set_pd(disc[2 * p + 2], disc[2 * p]);
    const __m128d v2 = _mm_set_pd(disc[2 * p + 3], disc[2 * p + 1]);
    const __m128d rsq = _mm_add_pd(_mm_mul_pd(v1, v1), _mm_mul_pd(v2, v2));
    const __m128d quotient = _mm_div_pd(_mm_mul_pd(minusTwo, _mm_loadu_pd(fac + p)), rsq);
    _mm_storeu_pd(fac + p, _mm_sqrt_pd(quotient));
  }
#endif
  for (; p < n; ++p) {
    const double rsq = ipow(disc[2 * p], 2) + ipow(disc[2 * p + 1], 2);
    fac[p] = std::sqrt(-2.0 * fac[p] / rsq);
  }
  if (!inside)
    for (p = 0; p < n; ++p) fac[p] = gasdevFactor(disc[2 * p], disc[2 * p + 1]);
}

double gasdev(int& seed, GasdevState& state, Ran1State& uniform) {
  if (state.waiting == 0) {
    double v1, v2;
    gasdevPoint(seed, uniform, v1, v2);
    const double fac = gasdevFactor(v1, v2);
    state.spare = v1 * fac;
    state.waiting = 1;
    return v2 * fac;
  }
  state.waiting = 0;
  return state.spare;
}

}  // namespace tarvel
