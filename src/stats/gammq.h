// Regularised upper incomplete gamma function Q(a, x) = Gamma(a, x) / Gamma(a),
// the probability that a chi-square of 2a degrees of freedom exceeds 2x.
// Uses the series (gser) for x < a + 1 and the continued fraction (gcf)
// otherwise.
//
//   gammq(1.0, 1.0) ~ exp(-1)     gammq(0.5, 0.5) ~ 0.3173105    gammq(a, 0) == 1
//
// x < 0 or a <= 0 is reported through the pause; the computation then goes on
// with the same arguments.
#pragma once

#include <optional>

namespace tarvel {

double gammq(const double& a, const double& x);

// gammq where nobody asked for it: none instead of a pause, a run-time error
// or a raised floating-point flag (x < 0 or a <= 0, a series or fraction that
// does not converge, an overflow); the caller's flags are left as they were.
std::optional<double> gammqQuiet(double a, double x);

}  // namespace tarvel
