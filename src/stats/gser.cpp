#include "stats/gser.h"

#include <cmath>

#include "records/runtime.h"
#include "stats/gammln.h"

namespace tarvel {

namespace {
constexpr int ITMAX = 100;
constexpr double EPS = 3e-7;
}  // namespace

void gser(double& gamser, const double& a, const double& x, double& gln) {
  gln = gammln(a);
  if (!(x > 0.0)) {
    if (x < 0.0) pause("x < 0 in gser");
    gamser = 0.0;
    return;
  }
  // Sum x^n / (a (a+1) ... (a+n)) until a term no longer counts.
  double ap = a;
  double sum = 1.0 / a;
  double del = sum;
  bool converged = false;
  for (int n = 1; n <= ITMAX; ++n) {
    ap = ap + 1.0;
    del = del * x / ap;
    sum = sum + del;
    if (std::fabs(del) < std::fabs(sum) * EPS) {
      converged = true;
      break;
    }
  }
  if (!converged) pause("a too large, ITMAX too small in gser");
  gamser = sum * mexp(-x + a * mlog(x) - gln);
}

}  // namespace tarvel
