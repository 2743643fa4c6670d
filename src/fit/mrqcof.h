// Chi-square, gradient and curvature matrix of a weighted least-squares
// problem at the parameters a, for the Levenberg-Marquardt step of mrqmin.
//
// Only the fitted parameters (ifit(l) non-zero) take part, packed in their
// order of appearance in a: row and column j of alpha and entry j of beta
// belong to the j-th fitted parameter. With w = 1/(sig*sig) and
// d = y - model(x), summed over the points in order:
//
//   alpha(j,k) = sum of w * deriv(l_j) * deriv(l_k)   (leading nfit x nfit, symmetric)
//   beta(j)    = sum of d * w * deriv(l_j)            (entries 1..nfit)
//   chisq      = sum of d * d * w
//
// alpha is column-major with leading dimension ndim; nothing outside its
// leading nfit x nfit block is touched. npar is limited to 20 (the capacity
// of the derivative scratch); a larger value is a fatal run-time error.
#pragma once

#include "fit/fpoly.h"

namespace tarvel {

inline constexpr int kMrqCapacity = 20;

void mrqcof(const double* x, const double* y, const double* sig, int ndata, const double* a, const int* ifit,
            int npar, double* alpha, double* beta, int ndim, double& chisq, ModelFn model);

// Ends the run when npar exceeds the parameter capacity of the minimiser.
[[noreturn]] void mrqCapacityExceeded(const char* routine, int npar);
inline void checkMrqCapacity(const char* routine, int npar) {
  if (npar > kMrqCapacity) mrqCapacityExceeded(routine, npar);
}

}  // namespace tarvel
