// Standard normal deviate (mean 0, standard deviation 1) by the polar method
// on uniform deviates from ran1. Deviates come in pairs: a call that finds no
// waiting deviate draws a pair, returns one and keeps the other for the next
// call, which then returns it without touching the seed.
//
//   int seed = -911;
//   Ran1State uniform{};
//   GasdevState normal{};
//   double g1 = gasdev(seed, normal, uniform);   // draws u1, u2 from ran1 (again while rejected)
//   double g2 = gasdev(seed, normal, uniform);   // the spare of the same pair; seed unchanged
#pragma once

#include <cmath>

#include "fit/power.h"
#include "stats/ran1.h"

namespace tarvel {

// State kept between calls, owned by the caller; zero: no deviate waiting.
struct GasdevState {
  int waiting;    // 1 when `spare` holds the second deviate of a pair
  double spare;
};

double gasdev(int& seed, GasdevState& state, Ran1State& uniform);

// gasdev in its two halves, for a caller that draws the points in order and
// turns them into deviates elsewhere; gasdev is exactly these two, and
// neither touches GasdevState. gasdevPoint draws the next accepted point
// (v1, v2) of the unit disc from ran1; gasdevFactor gives the factor that
// turns it into the two deviates v2 * factor (returned first) and
// v1 * factor (kept for the next call).
void gasdevPoint(int& seed, Ran1State& uniform, double& v1, double& v2);
inline double gasdevFactor(double v1, double v2);
// gasdevPoint n times: the points' v1 and v2 into disc(2p), disc(2p + 1).
void gasdevPoints(int& seed, Ran1State& uniform, long long n, double* disc);

// The Box-Muller factor of a point: sqrt(-2 ln(rsq) / rsq). A point of the
// disc has 0 < rsq < 1, where log and sqrt are called straight; anything
// else goes through the checked functions, which end the run as they do.
double gasdevFactorChecked(double rsq);

// gasdevFactor of n points, (v1, v2) of point p at disc(2p), disc(2p + 1),
// into fac(p), with the same bits.
void gasdevFactors(const double* disc, long long n, double* fac);
inline double gasdevFactor(double v1, double v2) {
  const double rsq = ipow(v1, 2) + ipow(v2, 2);
  if (rsq > 0.0 && rsq < 1.0) return std::sqrt(-2.0 * std::log(rsq) / rsq);
  return gasdevFactorChecked(rsq);
}

}  // namespace tarvel
