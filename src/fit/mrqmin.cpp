#include "fit/mrqmin.h"

#include <cfloat>
#include <cstddef>

#include "fit/covsrt.h"
#include "fit/gaussj.h"
#include "fit/mrqcof.h"
#include "records/runtime.h"

namespace tarvel {

void mrqmin(const double* x, const double* y, const double* sig, int ndata, double* a, const int* ifit, int npar,
            double* covar, double* alpha, int ndim, double& chisq, ModelFn model, double& lambda,
            MrqminState& s) {
  checkMrqCapacity("mrqmin", npar);
  const std::ptrdiff_t ld = ndim;
  auto cv = [covar, ld](int r, int c) -> double& { return covar[(r - 1) + (c - 1) * ld]; };
  auto al = [alpha, ld](int r, int c) -> double& { return alpha[(r - 1) + (c - 1) * ld]; };

  // Starting call (any lambda that is not >= 0): evaluate at the start.
  if (!(lambda >= 0.0)) {
    s.nfit = 0;
    for (int j = 1; j <= npar; ++j)
      if (ifit[j - 1] != 0) s.nfit = s.nfit + 1;
    lambda = 0.001;
    if (s.basis != nullptr)
      s.basis->evaluate(y, a, alpha, ndim, s.beta, chisq);
    else
      mrqcof(x, y, sig, ndata, a, ifit, npar, alpha, s.beta, ndim, chisq, model);
    // A chi-square that is not finite would never settle; off the run's own
    // order (with the traps held off) the fit is given up at once.
    if (!(chisq <= DBL_MAX)) abandonFlaggedTrial();
    s.chisq_best = chisq;
    for (int j = 1; j <= npar; ++j) s.atrial[j - 1] = a[j - 1];
  }
  const int nfit = s.nfit;

  // Damped curvature and gradient form the step equations.
  for (int j = 1; j <= nfit; ++j) {
    for (int k = 1; k <= nfit; ++k) cv(j, k) = al(j, k);
    cv(j, j) = al(j, j) * (1.0 + lambda);
    s.step[j - 1] = s.beta[j - 1];
  }
  gaussj(covar, nfit, ndim, s.step, 1, 1);

  // Final call: the undamped inverse is the covariance matrix.
  if (lambda == 0.0) {
    covsrt(covar, ndim, npar, ifit, nfit);
    covsrt(alpha, ndim, npar, ifit, nfit);
    return;
  }

  // Trial parameters; fixed ones keep the values copied at the start.
  int j = 0;
  for (int l = 1; l <= npar; ++l) {
    if (ifit[l - 1] == 0) continue;
    j = j + 1;
    s.atrial[l - 1] = a[l - 1] + s.step[j - 1];
  }
  // The trial curvature goes into covar, unless it is the kept one.
  if (s.basis != nullptr)
    s.basis->evaluate(y, s.atrial, nullptr, ndim, s.step, chisq);
  else
    mrqcof(x, y, sig, ndata, s.atrial, ifit, npar, covar, s.step, ndim, chisq, model);

  if (chisq < s.chisq_best) {
    // Success: move towards Gauss-Newton and keep the trial.
    lambda = lambda * 0.1;
    s.chisq_best = chisq;
    for (int jj = 1; jj <= nfit; ++jj) {
      if (s.basis == nullptr)
        for (int k = 1; k <= nfit; ++k) al(jj, k) = cv(jj, k);
      s.beta[jj - 1] = s.step[jj - 1];
    }
    for (int l = 1; l <= npar; ++l) a[l - 1] = s.atrial[l - 1];
  } else {
    // Failure (also on a tie): move towards steepest descent.
    lambda = lambda * 10.0;
    chisq = s.chisq_best;
  }
}

}  // namespace tarvel
