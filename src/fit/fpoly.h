// The polynomial model of the calibration fit: a(i) multiplies x^(i-1).
//
// fpoly has exactly the model interface that mrqcof calls once per data
// point, so it is passed to mrqmin as is. The model is linear in its
// coefficients, so the derivatives are the basis functions themselves.
//
//   double a[3] = {1.0, 2.0, 3.0}, yval, deriv[3];
//   fpoly(2.0, a, yval, deriv, 3);   // yval == 17.0, deriv == {1, 2, 4}
#pragma once

namespace tarvel {

// A model routine: stores the model value at x in yval and the partial
// derivative with respect to every parameter a(1..npar) in deriv(1..npar).
using ModelFn = void (*)(const double& x, const double* a, double& yval, double* deriv, int npar);

// yval := sum of x^(i-1) * a(i), summed from the constant term up (not by
// Horner's rule); deriv(i) := x^(i-1), also for coefficients that are zero.
// x^0 is 1 for every x, including 0.
void fpoly(const double& x, const double* a, double& yval, double* deriv, int npar);

}  // namespace tarvel
