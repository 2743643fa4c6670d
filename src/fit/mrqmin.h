// One Levenberg-Marquardt step of a weighted least-squares fit per call, with
// any parameter held fixed by a zero fit flag ifit(l).
//
// The call mode is chosen by lambda on entry:
//   lambda < 0   starting call: counts the fitted parameters, sets lambda to
//                0.001, evaluates chi-square, gradient and curvature at a,
//                then tries a first step like a step call;
//   lambda > 0   step call: solves (alpha with diagonal * (1 + lambda)) * da =
//                beta and evaluates a + da; a strictly lower chi-square is
//                accepted (a, alpha, chisq updated, lambda * 0.1), otherwise
//                the step is rejected (lambda * 10, chisq := the best so far);
//   lambda == 0  final call: covar := inverse of alpha, and both are spread
//                to full parameter order by covsrt; a and chisq stay.
// After every call chisq is the best chi-square found and a the parameters
// that gave it.
//
//   MrqminState state{};
//   double lambda = -1.0;
//   mrqmin(x, y, sig, n, a, ifit, 9, covar, alpha, 9, chisq, fpoly, lambda, state);
//   while (...) mrqmin(..., lambda, state);           // step calls
//   lambda = 0.0;
//   mrqmin(..., lambda, state);                       // covar = covariance
//
// covar and alpha are column-major with leading dimension ndim >= npar.
// Between the starting and the final call the minimisation's state lives in
// the MrqminState that the caller owns and hands to every call, so fits with
// states of their own can run side by side. npar is limited to kMrqCapacity
// (20); a larger value is a fatal run-time error.
#pragma once

#include "fit/fpoly.h"
#include "fit/mrqcof.h"

namespace tarvel {

// State kept from one mrqmin call to the next (packed vectors hold the fitted
// parameters in their order of appearance).
struct MrqminState {
  int nfit;           // number of fitted parameters, counted at the starting call
  double beta[kMrqCapacity];    // gradient at the best parameters, packed
  double chisq_best;  // chi-square at the best parameters
  double atrial[kMrqCapacity];  // trial parameters, full order
  double step[kMrqCapacity];    // step equations' right-hand side, then solution; then trial gradient
  // When set (the model being fpoly over these very points), chi-square and
  // its gradient come from this basis instead of one model call a point, and
  // the curvature, the same at every parameter set of a linear model, is
  // formed once at the starting call and kept.
  const PolyBasis* basis;
};

void mrqmin(const double* x, const double* y, const double* sig, int ndata, double* a, const int* ifit, int npar,
            double* covar, double* alpha, int ndim, double& chisq, ModelFn model, double& lambda,
            MrqminState& state);

}  // namespace tarvel
