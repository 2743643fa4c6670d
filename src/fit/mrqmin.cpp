#include "fit/mrqmin.h"

#include <cfloat>
#include <cstddef>

#include "fit/covsrt.h"
#include "fit/gaussj.h"
#include "fit/minimiser.h"
#include "fit/mrqcof.h"
#include "records/runtime.h"

namespace tarvel {

namespace {

// One call of mrqmin. N > 0: a polynomial basis of N fitted slots 1..N, every
// other slot held at zero, and leading dimension kSlots, known when compiled, so
// that the small loops unroll and gaussj comes inline; the operations are the
// same. N == 0: any fit.
template <int N>
void step(const double* x, const double* y, const double* sig, int ndata, double* a, const int* ifit, int npar,
          double* covar, double* alpha, int ndim, double& chisq, ModelFn model, double& lambda, MrqminState& s) {
  const std::ptrdiff_t ld = N > 0 ? kSlots : ndim;
  auto cv = [covar, ld](int r, int c) -> double& { return covar[(r - 1) + (c - 1) * ld]; };
  auto al = [alpha, ld](int r, int c) -> double& { return alpha[(r - 1) + (c - 1) * ld]; };

  // Starting call (any lambda that is not >= 0): evaluate at the start.
  if (!(lambda >= 0.0)) {
    s.nfit = 0;
    for (int j = 1; j <= npar; ++j)
      if (ifit[j - 1] != 0) s.nfit = s.nfit + 1;
    lambda = kLambdaStart;
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
  const int nfit = N > 0 ? N : s.nfit;

  // Damped curvature and gradient form the step equations.
  const double damping = 1.0 + lambda;
  for (int j = 1; j <= nfit; ++j) {
    for (int k = 1; k <= nfit; ++k) cv(j, k) = al(j, k);
    cv(j, j) = al(j, j) * damping;
    s.step[j - 1] = s.beta[j - 1];
  }
  if constexpr (N > 0)
    gaussjFixed<N, kSlots>(covar, kSlots, s.step);
  else
    gaussj(covar, nfit, ndim, s.step, 1, 1);

  // Final call: the undamped inverse is the covariance matrix.
  if (lambda == 0.0) {
    covsrt(covar, ndim, npar, ifit, nfit);
    covsrt(alpha, ndim, npar, ifit, nfit);
    return;
  }

  // Trial parameters; fixed ones keep the values copied at the start (with
  // N > 0 the fitted ones are the first N).
  if constexpr (N > 0) {
    for (int l = 0; l < N; ++l) s.atrial[l] = a[l] + s.step[l];
  } else {
    int j = 0;
    for (int l = 1; l <= npar; ++l) {
      if (ifit[l - 1] == 0) continue;
      j = j + 1;
      s.atrial[l - 1] = a[l - 1] + s.step[j - 1];
    }
  }
  // The trial curvature goes into covar, unless it is the kept one.
  if constexpr (N > 0)
    s.basis->evaluatePlain<N>(y, s.atrial, nullptr, kSlots, s.step, chisq);
  else if (s.basis != nullptr)
    s.basis->evaluate(y, s.atrial, nullptr, ndim, s.step, chisq);
  else
    mrqcof(x, y, sig, ndata, s.atrial, ifit, npar, covar, s.step, ndim, chisq, model);

  if (chisq < s.chisq_best) {
    // Success: move towards Gauss-Newton and keep the trial.
    lambda = lambda * kLambdaAccepted;
    s.chisq_best = chisq;
    for (int jj = 1; jj <= nfit; ++jj) {
      if (s.basis == nullptr)
        for (int k = 1; k <= nfit; ++k) al(jj, k) = cv(jj, k);
      s.beta[jj - 1] = s.step[jj - 1];
    }
    // The slots held fixed keep their values in both.
    for (int l = 1; l <= (N > 0 ? N : npar); ++l) a[l - 1] = s.atrial[l - 1];
  } else {
    // Failure (also on a tie): move towards steepest descent.
    lambda = lambda * kLambdaRejected;
    chisq = s.chisq_best;
  }
}

using StepFn = void (*)(const double*, const double*, const double*, int, double*, const int*, int, double*, double*,
                        int, double&, ModelFn, double&, MrqminState&);
constexpr StepFn kSteps[10] = {step<0>, step<1>, step<2>, step<3>, step<4>,
                               step<5>, step<6>, step<7>, step<8>, step<9>};

}  // namespace

void mrqmin(const double* x, const double* y, const double* sig, int ndata, double* a, const int* ifit, int npar,
            double* covar, double* alpha, int ndim, double& chisq, ModelFn model, double& lambda,
            MrqminState& s) {
  checkMrqCapacity("mrqmin", npar);
  const int plain = s.basis != nullptr && ndim == kSlots ? s.basis->plainOrder() : 0;
  kSteps[plain](x, y, sig, ndata, a, ifit, npar, covar, alpha, ndim, chisq, model, lambda, s);
}

}  // namespace tarvel
