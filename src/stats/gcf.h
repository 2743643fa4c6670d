// Regularised upper incomplete gamma function Q(a, x) by its continued
// fraction (modified Lentz method), the branch for x >= a + 1. Also returns
// ln Gamma(a).
//
//   double q, gln;  gcf(q, 1.0, 3.0, gln);    // q ~ exp(-3), gln ~ 0
//
// 100 levels without convergence are reported through the pause and the
// partial fraction is used.
#pragma once

namespace tarvel {

void gcf(double& gammcf, const double& a, const double& x, double& gln);

}  // namespace tarvel
