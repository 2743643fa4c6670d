// AJUST on kLanes fits at once: the Monte Carlo trials' refits of a
// polynomial whose ncoef lowest coefficients are all fitted and whose other
// slots are held at zero, each over its own points, with the same standard
// deviations. The lanes share only the instruction stream: every lane goes
// through the starting call, the step calls and the final call of AJUST
// with the very operations, in the same order, that AJUST carries out for
// that fit alone, so its coefficients come out with the same bits; and the
// processor overlaps the lanes' chains of dependent operations.
//
//   double x[n * kLanes], y[n * kLanes];   // point i of lane l at i * kLanes + l
//   double a[kLanes][kSlots];
//   if (!ajustLanes(3, n, x, y, weight, start, scratch, a)) { ... fit them one by one with AJUST }
//
// weight(i) is 1/(sig(i)*sig(i)), start the starting coefficients (ncoef of
// them), scratch room for ajustLanesScratch(ncoef, n) values. Every point
// must lie within PolyBasis::bounded for a fit of kSlots slots. A lane that stays
// in its convergence loop waits, fitted, while the others finish theirs.
//
// Returns false when a lane meets a pivot that is zero or not a number, or a
// starting chi-square that is not finite: what would pause or end a run is
// never done here, and the fits must be made one by one. Floating-point
// flags raised on the way (an overflow, say) are left for the caller to test;
// such fits too must be made again one by one.
#pragma once

#include "fit/fpoly.h"

namespace tarvel {

inline constexpr int kLanes = 4;

// True when this processor runs the lanes (it has AVX2).
bool ajustLanesAvailable();

long long ajustLanesScratch(int ncoef, int ndata);

bool ajustLanes(int ncoef, int ndata, const double* x, const double* y, const double* weight, const double* start,
                double* scratch, double (*a)[kSlots]);

}  // namespace tarvel
