// Weighted least-squares fit of a polynomial in one call.
//
// AJUST drives mrqmin with the model fpoly from the coefficients given in a:
// a starting call, step calls until chi-square changes by less than 1e-9
// (absolute) from one call to the next, five further steps, and the final
// call that turns the curvature matrix into the covariance matrix.
//
//   double a[9] = {1, 1, 1, 0, 0, 0, 0, 0, 0};
//   int ifit[9] = {1, 1, 1, 0, 0, 0, 0, 0, 0};
//   double cov[81], chisq; int niter;
//   AJUST(q, e, ue, n, a, 9, cov, chisq, niter, ifit);   // quadratic fit
//
// On return a holds the fitted coefficients (those with a zero flag are
// unchanged), covar (npar x npar, leading dimension npar) the covariance
// matrix with zero rows and columns for fixed coefficients, chisq the
// chi-square (not divided by anything), and niter the number of loop steps
// that lowered chi-square by at least 1e-9.
//
// The convergence loop is capped at kAjustMaxPasses passes. A polynomial
// model is linear in its coefficients, so a fit settles within a handful of
// steps and never comes near the cap; it only stops a loop whose chi-square
// never settles (for example one that is not a number). When the cap is
// reached the five further steps and the final call follow as usual.
//
// AJUST keeps a traceback frame; npar above 20 is a fatal run-time error.
#pragma once

#include "fit/minimiser.h"  // kAjustMaxPasses

namespace tarvel {

void AJUST(const double* x, const double* y, const double* sig, int ndata, double* a, int npar, double* covar,
           double& chisq, int& niter, const int* ifit);

}  // namespace tarvel
