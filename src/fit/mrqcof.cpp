#include "fit/mrqcof.h"

#include <cstddef>
#include <string>

#include "records/runtime.h"

namespace tarvel {

void mrqCapacityExceeded(const char* routine, int npar) {
  fatalDebug(err::kSubscript, std::string(routine) + ": " + std::to_string(npar) +
                                  " parameters exceed the capacity of " + std::to_string(kMrqCapacity));
}

void mrqcof(const double* x, const double* y, const double* sig, int ndata, const double* a, const int* ifit,
            int npar, double* alpha, double* beta, int ndim, double& chisq, ModelFn model) {
  checkMrqCapacity("mrqcof", npar);
  const std::ptrdiff_t ld = ndim;
  auto al = [alpha, ld](int r, int c) -> double& { return alpha[(r - 1) + (c - 1) * ld]; };

  // Full-order index of each fitted parameter, so the point loop visits the
  // fitted pairs directly (same terms, same order as walking all of 1..npar).
  int fitted[kMrqCapacity];
  int nfit = 0;
  for (int j = 1; j <= npar; ++j)
    if (ifit[j - 1] != 0) fitted[nfit++] = j;

  for (int j = 1; j <= nfit; ++j) {
    for (int k = 1; k <= j; ++k) al(j, k) = 0.0;
    beta[j - 1] = 0.0;
  }
  chisq = 0.0;

  double yval;
  double deriv[kMrqCapacity];
  for (int i = 1; i <= ndata; ++i) {
    model(x[i - 1], a, yval, deriv, npar);
    const double s = sig[i - 1];
    const double w = 1.0 / (s * s);
    const double d = y[i - 1] - yval;
    // Lower triangle of the curvature and the gradient.
    for (int j = 1; j <= nfit; ++j) {
      const double t = deriv[fitted[j - 1] - 1] * w;
      for (int k = 1; k <= j; ++k) al(j, k) = al(j, k) + t * deriv[fitted[k - 1] - 1];
      beta[j - 1] = beta[j - 1] + d * t;
    }
    chisq = chisq + d * d * w;
  }

  // Mirror the lower triangle into the upper one.
  for (int j = 2; j <= nfit; ++j)
    for (int k = 1; k <= j - 1; ++k) al(k, j) = al(j, k);
}

}  // namespace tarvel
