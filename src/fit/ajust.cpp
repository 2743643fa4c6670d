#include "fit/ajust.h"

#include <cmath>

#include "fit/fpoly.h"
#include "fit/mrqmin.h"
#include "records/runtime.h"

namespace tarvel {

void AJUST(const double* x, const double* y, const double* sig, int ndata, double* a, int npar, double* covar,
           double& chisq, int& niter, const int* ifit) {
  // Its frame and statement numbers, as the traceback shows them.
  FrameScope frame("AJUST", "ajust.cpp", 15);
  // Curvature matrix of this fit, released on return, and the minimiser's state.
  MrqminState state;
  frame.at(18);
  double alpha[kMrqCapacity * kMrqCapacity];  // npar x npar; mrqmin refuses more than its capacity
  double* const curv = npar <= kMrqCapacity ? alpha : nullptr;
  PolyBasis basis;  // the points' powers and weights, made once for the fit
  frame.at(22);
  niter = 0;
  state.basis = basis.make(x, sig, ndata, a, ifit, npar) ? &basis : nullptr;
  // Starting call, which also tries a first step.
  double lambda = -1.0;
  frame.at(27);
  mrqmin(x, y, sig, ndata, a, ifit, npar, covar, curv, npar, chisq, fpoly, lambda, state);
  double chisq_prev = chisq;

  // Step until chi-square stops moving by kAjustSettled or more.
  for (int pass = 1; pass <= kAjustMaxPasses; ++pass) {
    frame.at(33);
    mrqmin(x, y, sig, ndata, a, ifit, npar, covar, curv, npar, chisq, fpoly, lambda, state);
    if (std::fabs(chisq - chisq_prev) < kAjustSettled) break;
    chisq_prev = chisq;
    frame.at(37);
    niter = iadd(niter, 1);
  }

  // Five more steps without a test.
  for (int extra = 1; extra <= kAjustFurtherSteps; ++extra) {
    frame.at(43);
    mrqmin(x, y, sig, ndata, a, ifit, npar, covar, curv, npar, chisq, fpoly, lambda, state);
  }

  // Final call: covariance matrix at the best coefficients.
  lambda = 0.0;
  frame.at(49);
  mrqmin(x, y, sig, ndata, a, ifit, npar, covar, curv, npar, chisq, fpoly, lambda, state);
  frame.leave();
}

}  // namespace tarvel
