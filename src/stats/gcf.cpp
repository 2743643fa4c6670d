#include "stats/gcf.h"

#include <cmath>

#include "records/runtime.h"
#include "stats/gammln.h"

namespace tarvel {

namespace {
constexpr int ITMAX = 100;
// Single-precision constants widened to double: the floor that keeps C and D
// away from zero, and the convergence tolerance.
constexpr double FPMIN = static_cast<double>(1e-30f);
constexpr double EPS = static_cast<double>(3e-7f);
}  // namespace

void gcf(double& gammcf, const double& a, const double& x, double& gln) {
  gln = gammln(a);
  double b = x + 1.0 - a;
  double c = 1.0 / FPMIN;
  double d = 1.0 / b;
  double h = d;
  bool converged = false;
  for (int i = 1; i <= ITMAX; ++i) {
    const double an = -i * (i - a);
    b = b + 2.0;
    d = an * d + b;
    if (std::fabs(d) < FPMIN) d = FPMIN;
    c = b + an / c;
    if (std::fabs(c) < FPMIN) c = FPMIN;
    d = 1.0 / d;
    const double del = d * c;
    h = h * del;
    if (std::fabs(del - 1.0) < EPS) {
      converged = true;
      break;
    }
  }
  if (!converged) pause("a too large, ITMAX too small in gcf");
  gammcf = mexp(-x + a * mlog(x) - gln) * h;
}

}  // namespace tarvel
