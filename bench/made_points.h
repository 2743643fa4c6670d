// Made calibration points whose true polynomial order is known, for checking
// the rule of compareOrders: 12 points at indices 12 to 147, equally spaced,
// with the uncertainties of examples/ (uq = 0.3 + 0.01 q, ue = 0.00158 +
// 0.0000431 q, a common relative uncertainty of 0.005), so that an index's
// uncertainty moves the efficiency by about half of the efficiency's own.
//
// The true curves run from about 0.94 down to 0.62, as examples/ does: a
// straight line, and a quadratic and a cubic whose highest term, beyond what
// the lower orders can take up of it, spans 5 standard uncertainties of a
// point over the points (the largest less the smallest of its part at each
// point over that point's ue). The coefficients were made so: q^k less its
// weighted least-squares fit of order k - 1 at the 12 indices, scaled to span
// 5, added to 0.97 - 0.0022 q, the lower terms gathered (numpy, double
// precision); bench_orders checks the span with the library's own fit.
//
// Each set draws, from its seed, one common deviate and then for every point
// one for its index and one for its efficiency (normal, by Box-Muller over
// a 64-bit Mersenne twister, the same on every platform):
//   q = qtrue + uq g,   e = etrue(qtrue) (1 + 0.005 g0) + ue g.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>

#include "tarvel/tarvel.h"

namespace made {

inline constexpr int kPoints = 12;

// The true coefficients of order 1, 2 and 3, constant term first.
inline constexpr double kTruth[4][4] = {
    {},
    {0.97, -0.0022, 0.0, 0.0},
    {0.9570622931806875, -0.0015485786940302119, -4.928224856886928e-06, 0.0},
    {0.9896310803246042, -0.0037777897028023824, 2.8127759947689775e-05, -1.3159818024000417e-07}};

inline double index(int i) { return 12.0 + 135.0 * i / (kPoints - 1); }

inline double truth(int order, double q) {
  const double* c = kTruth[order];
  return ((c[3] * q + c[2]) * q + c[1]) * q + c[0];
}

// The points of the true curve of `order` (1 to 3) as set `seed` draws them;
// with noise false, the true points themselves.
inline tarvel::Inputs points(int order, std::uint64_t seed, bool noise = true) {
  std::mt19937_64 bits(seed * 1000003u + static_cast<std::uint64_t>(order));
  auto normal = [&bits, spare = 0.0, has = false]() mutable {
    if (has) {
      has = false;
      return spare;
    }
    const double u1 = (static_cast<double>(bits() >> 11) + 1.0) * 0x1p-53, u2 = static_cast<double>(bits() >> 11) * 0x1p-53;
    const double r = std::sqrt(-2.0 * std::log(u1)), t = 2.0 * 3.141592653589793 * u2;
    spare = r * std::sin(t);
    has = true;
    return r * std::cos(t);
  };
  tarvel::Inputs in;
  in.urel = 0.005;
  const double g0 = noise ? normal() : 0.0;
  for (int i = 0; i < kPoints; ++i) {
    const double q = index(i), uq = 0.3 + 0.01 * q, ue = 0.00158 + 0.0000431 * q;
    const double gq = noise ? normal() : 0.0, ge = noise ? normal() : 0.0;
    in.points.push_back({q + uq * gq, uq, truth(order, q) * (1.0 + in.urel * g0) + ue * ge, ue});
  }
  return in;
}

}  // namespace made
