#include "stats/calib.h"

#include "fit/power.h"

namespace tarvel {

namespace {
// Powers q^0 .. q^(n-1) with the bits of ipow; a table for the usual sizes.
struct PowerTable {
  static constexpr int kSize = 64;
  double p[kSize];
  double q;
  int n;
  PowerTable(double qidx, int count) : q(qidx), n(count) {
    if (n == 9) powers(q, 9, p); else if (n <= kSize) powers(q, n, p);  // unrolled for nine slots
  }
  double operator()(int k) const { return n <= kSize && k < n ? p[k] : ipow(q, k); }
};

// The efficiency of the coefficients c(1..nc) from the powers pw, summed
// from 0 and the constant term up. Zero coefficients (slots above the fitted
// order) add exact zeros, which leave the sum's bits unchanged: their terms
// are skipped.
template <class Coef>
double sumOfTerms(const PowerTable& pw, Coef c, int nc) {
  double sum = 0.0;
  for (int i = 1; i <= nc; ++i)
    if (c(i) != 0.0) sum = sum + pw(isub(i, 1)) * c(i);
  return sum;
}
}  // namespace

void EFFICIENCY(double& eff, View<const double> coef, const double& qidx, int nc) {
  FrameScope frame("EFFICIENCY", "calib.cpp", 34);
  eff = 0.0;
  frame.at(36);
  eff = sumOfTerms(PowerTable(qidx, nc), [&coef](int i) { return coef(i); }, nc);
  frame.leave();
}

void efficiencies(double* eff, const double* coefs, std::ptrdiff_t ld, int count, double qidx, int nc) {
  const PowerTable pw(qidx, nc);
  for (int k = 0; k < count; ++k) {
    const double* c = coefs + k * ld;
    eff[k] = sumOfTerms(pw, [c](int i) { return c[i - 1]; }, nc);
  }
}

void SDEFFIC(View2<const double> covm, const double& qidx, double& sdeff, int nc) {
  FrameScope frame("SDEFFIC", "calib.cpp", 49);
  sdeff = 0.0;
  frame.at(51);
  const PowerTable pw(qidx, nc > 0 ? isub(imul(2, nc), 1) : 0);
  for (int i = 1; i <= nc; ++i) {
    // Diagonal term, then twice each element above it.
    sdeff = sdeff + pw(imul(2, isub(i, 1))) * covm(i, i);
    for (int j = iadd(i, 1); j <= nc; ++j)
      sdeff = sdeff + pw(isub(iadd(i, j), 2)) * covm(i, j) * 2.0;
  }
  frame.at(59);
  try {
    sdeff = msqrt(sdeff);
  } catch (Error& e) {
    if (e.number() == err::kMathDomain)
      e.setNote("rounding made the curve's variance negative: the covariance of a fit of this order is too"
                " nearly singular; a lower order helps");
    throw;
  }
  frame.leave();
}

void MOYSDEV(View<const double> sample, double& mean, double& sdev, int ns) {
  FrameScope frame("MOYSDEV", "calib.cpp", 64);
  const double xn = static_cast<double>(ns);
  const double xn1 = xn - 1.0;
  mean = 0.0;
  sdev = 0.0;
  frame.at(69);
  for (int i = 1; i <= ns; ++i) mean = mean + sample(i) / xn;
  frame.at(71);
  for (int i = 1; i <= ns; ++i) {
    const double d = sample(i) - mean;
    sdev = sdev + d * d / xn1;
  }
  frame.at(76);
  sdev = msqrt(sdev);
  frame.leave();
}

}  // namespace tarvel
