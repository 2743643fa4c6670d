// Regularised lower incomplete gamma function P(a, x) by its power series,
// the branch that converges quickly for x < a + 1. Also returns ln Gamma(a).
//
//   double p, gln;  gser(p, 1.0, 1.0, gln);   // p ~ 1 - exp(-1), gln ~ 0
//
// x < 0 is reported through the pause and gives P = 0; 100 terms without
// convergence are reported and the partial sum is used.
#pragma once

namespace tarvel {

void gser(double& gamser, const double& a, const double& x, double& gln);

}  // namespace tarvel
