// The polynomial model of the calibration fit: a(i) multiplies x^(i-1).
//
// fpoly has exactly the model interface that mrqcof calls once per data
// point, so it is passed to mrqmin as is. The model is linear in its
// coefficients, so the derivatives are the basis functions themselves.
//
//   double a[3] = {1.0, 2.0, 3.0}, yval, deriv[3];
//   fpoly(2.0, a, yval, deriv, 3);   // yval == 17.0, deriv == {1, 2, 4}
//
// PolyBasis holds what fpoly would give over the points of one fit and what
// does not change while the fit's coefficients move: the powers of every
// abscissa, the weights, and (the model being linear) the curvature matrix.
// A fit makes it once and then forms chi-square and its gradient at any
// coefficients with the very bits that fpoly and mrqcof give.
#pragma once

#include <cmath>
#include <cstddef>
#include <type_traits>

#include "records/runtime.h"

namespace tarvel {

// The coefficient slots of the calibration polynomial (order 8 at most):
// slot i multiplies x^(i-1); a fit of order n adjusts slots 1..n+1 and holds
// the others at zero.
inline constexpr int kSlots = 9;

// A model routine: stores the model value at x in yval and the partial
// derivative with respect to every parameter a(1..npar) in deriv(1..npar).
using ModelFn = void (*)(const double& x, const double* a, double& yval, double* deriv, int npar);

// yval := sum of x^(i-1) * a(i), summed from the constant term up (not by
// Horner's rule); deriv(i) := x^(i-1), also for coefficients that are zero.
// x^0 is 1 for every x, including 0.
void fpoly(const double& x, const double* a, double& yval, double* deriv, int npar);

// 2^e, exactly.
constexpr double twoTo(int e) {
  double r = 1.0;
  for (int i = 0; i < e; ++i) r *= 2.0;
  return r;
}

class PolyBasis {
 public:
  // Makes the basis of the points x(1..ndata) with standard deviations sig
  // for a fit of npar coefficients starting at a with flags ifit. The terms
  // kept are those of the fitted slots and of fixed slots whose value is not
  // zero; a slot held at zero costs nothing afterwards. Every power of every
  // point up to x^(npar-1) is formed (as fpoly forms them), with the traps
  // held off. Returns false when any of this raised an invalid operation, a
  // division by zero or an overflow: the fit must then call fpoly point by
  // point, where the error shows exactly where it always did.
  bool make(const double* x, const double* sig, int ndata, const double* a, const int* ifit, int npar);

  // True when a point at x with standard deviation sig lies within the
  // bounds inside which no power up to x^(npar-1), no weight and no product
  // of the two can overflow or divide by zero.
  static bool bounded(double x, double sig, int npar) {
    const double s = std::fabs(sig);
    return (npar >= 1) & (npar <= kMaxTerms) && (std::fabs(x) <= kPowerBound[npar]) & (s >= kSigLow) &
           (s <= kSigHigh);
  }
  static constexpr int kMaxTerms = 20;

  // mrqcof's chi-square and gradient at a (same terms, same order, same
  // bits); with alpha, also its curvature (leading dimension ndim), which is
  // the same at every a.
  void evaluate(const double* y, const double* a, double* alpha, int ndim, double* beta, double& chisq) const;

  // N when the terms are exactly the slots 1..N, all fitted, and every other
  // slot is held at zero (the calibration's fits); 0 otherwise.
  int plainOrder() const { return plain_ ? nfit_ : 0; }

  // evaluate() when plainOrder() is N, inline for the minimiser.
  template <int N>
  void evaluatePlain(const double* y, const double* a, double* alpha, std::ptrdiff_t ld, double* beta,
                     double& chisq) const;

 private:
  int ndata_ = 0, nterm_ = 0, nfit_ = 0, stride_ = 0;
  int term_[kMaxTerms];    // slot of each term that can add to the value, increasing
  int fitted_[kMaxTerms];  // term index of each fitted slot, in slot order
  bool plain_ = false;   // the terms are exactly slots 1..nfit, all fitted
  // Bounds within which none of the basis's own arithmetic can overflow or
  // divide by zero: |x| <= kPowerBound[npar] keeps |x|^(npar-1) <= 2^500, and
  // 2^-250 <= |sig| <= 2^250 keeps the weights within 2^-500 .. 2^500, so
  // the powers, the weights and their products stay finite.
  static constexpr double kPowerBound[kMaxTerms + 1] = {
      0.0,       INFINITY,  twoTo(500), twoTo(250), twoTo(166), twoTo(125), twoTo(100),
      twoTo(83), twoTo(71), twoTo(62),  twoTo(55),  twoTo(50),  twoTo(45),  twoTo(41),
      twoTo(38), twoTo(35), twoTo(33),  twoTo(31),  twoTo(29),  twoTo(27),  twoTo(26)};
  static constexpr double kSigLow = 1.0 / twoTo(250);
  static constexpr double kSigHigh = twoTo(250);
  // Per point: the weight 1/(sig*sig), the powers of the terms, and the
  // scaled derivatives weight * power of the fitted slots; a plain basis
  // keeps only the weight and x^1 .. x^(N-1) (x^0 is 1, and the scaled
  // derivatives are formed as they are used, so that a pass over many points
  // reads little memory). In place for a calibration's usual handful of
  // points.
  static constexpr int kInPlace = 1024;
  double inPlace_[kInPlace];
  Vec<double> heap_;
  double* table_ = inPlace_;
};

// The point loop of a plain basis of N slots: the operations of mrqcof with
// fpoly, in the same order, with the factors known to be 1 (x^0, and x^0 in
// weight * x^0) left out, which changes no bit: p * 1 = p, and the value's
// sum starts at 1 * a(1) + 0 = a(1). Two points a pass, each accumulator still
// summed point after point.
template <int N>
void PolyBasis::evaluatePlain(const double* y, const double* a, double* alpha, std::ptrdiff_t ld, double* beta,
                              double& chisq) const {
  constexpr int kStride = N;  // w, x^1 .. x^(N-1)
  bool nonzero[N];
  bool all = true;
  for (int l = 0; l < N; ++l) {
    nonzero[l] = a[l] != 0.0;
    all = all && nonzero[l];
  }
  double b[N];
  for (int j = 0; j < N; ++j) b[j] = 0.0;
  double chi = 0.0;
  // The value at point r (terms with a zero coefficient are skipped unless
  // All says there are none).
  auto value = [&](const double* r, auto allTag) {
    constexpr bool kAll = decltype(allTag)::value;
    double yval = kAll || nonzero[0] ? a[0] : 0.0;
    for (int l = 1; l < N; ++l)
      if (kAll || nonzero[l]) yval = r[l] * a[l] + yval;
    return yval;
  };
  auto gradient = [&](const double* r, double d) {
    b[0] = b[0] + d * r[0];
    for (int j = 1; j < N; ++j) b[j] = b[j] + d * (r[j] * r[0]);
    chi = chi + d * d * r[0];
  };
  auto points = [&](auto allTag) {
    int i = 0;
    for (; i + 1 < ndata_; i += 2) {
      const double* r0 = table_ + static_cast<std::ptrdiff_t>(i) * kStride;
      const double* r1 = r0 + kStride;
      const double d0 = y[i] - value(r0, allTag);
      const double d1 = y[i + 1] - value(r1, allTag);
      gradient(r0, d0);
      gradient(r1, d1);
    }
    if (i < ndata_) {
      const double* r = table_ + static_cast<std::ptrdiff_t>(i) * kStride;
      gradient(r, y[i] - value(r, allTag));
    }
  };
  if (alpha != nullptr) {
    double al[N][N];
    for (int j = 0; j < N; ++j)
      for (int k = 0; k <= j; ++k) al[j][k] = 0.0;
    for (int i = 0; i < ndata_; ++i) {
      const double* r = table_ + static_cast<std::ptrdiff_t>(i) * kStride;
      const double d = y[i] - value(r, std::false_type{});
      for (int j = 0; j < N; ++j) {
        const double t = j == 0 ? r[0] : r[j] * r[0];
        al[j][0] = al[j][0] + t;
        for (int k = 1; k <= j; ++k) al[j][k] = al[j][k] + t * r[k];
      }
      gradient(r, d);
    }
    for (int j = 0; j < N; ++j)
      for (int k = 0; k < N; ++k) alpha[j + k * ld] = k <= j ? al[j][k] : al[k][j];
  } else if (all) {
    points(std::true_type{});
  } else {
    points(std::false_type{});
  }
  for (int j = 0; j < N; ++j) beta[j] = b[j];
  chisq = chi;
}

}  // namespace tarvel
