#include "fit/fpoly.h"

#include <climits>
#include <cmath>
#include <cstddef>

#include "fit/power.h"
#include "records/runtime.h"

namespace tarvel {

void fpoly(const double& x, const double* a, double& yval, double* deriv, int npar) {
  // The powers x^(i-1), the terms' factors and their derivatives, with the
  // bits of the integer power (one table for the usual handful of terms).
  constexpr int kTable = 32;
  double p[kTable];
  const bool table = npar <= kTable;
  if (table) powers(x, npar, p);
  // A zero coefficient (a slot held at 0) adds an exact zero, which leaves
  // the sum's bits as they are, so its term is skipped: the sum starts at +0
  // and can never become -0, and a power large enough to turn 0 * power into
  // a NaN would have overflowed (and been trapped) while the table was made.
  yval = 0.0;
  for (int i = 1; i <= npar; ++i) {
    const double pw = table ? p[i - 1] : ipow(x, i - 1);
    if (a[i - 1] != 0.0) yval = pw * a[i - 1] + yval;
    deriv[i - 1] = pw;
  }
}

namespace {

constexpr int kMaxTerms = PolyBasis::kMaxTerms;

// The basis of a fit whose terms are the slots 1..N, all fitted, when its
// points lie within the bounds above.
template <int N>
void fillPlain(const double* x, const double* sig, int ndata, double* table) {
  constexpr int kStride = N;
  for (int i = 0; i < ndata; ++i) {
    double* r = table + static_cast<std::ptrdiff_t>(i) * kStride;
    double p[N];
    powers(x[i], N, p);
    const double s = sig[i];
    const double w = 1.0 / (s * s);
    r[0] = w;
    for (int n = 1; n < N; ++n) r[n] = p[n];
  }
}

using FillFn = void (*)(const double*, const double*, int, double*);
constexpr FillFn kFill[10] = {nullptr,      fillPlain<1>, fillPlain<2>, fillPlain<3>, fillPlain<4>,
                              fillPlain<5>, fillPlain<6>, fillPlain<7>, fillPlain<8>, fillPlain<9>};

}  // namespace

bool PolyBasis::make(const double* x, const double* sig, int ndata, const double* a, const int* ifit, int npar) {
  if (npar < 1 || npar > kMaxTerms) return false;
  nterm_ = 0;
  nfit_ = 0;
  for (int l = 0; l < npar; ++l) {
    if (ifit[l] == 0 && a[l] == 0.0) continue;
    if (ifit[l] != 0) fitted_[nfit_++] = nterm_;
    term_[nterm_++] = l;
  }
  plain_ = nfit_ == nterm_ && nfit_ >= 1 && nfit_ <= 9 && term_[nterm_ - 1] == nterm_ - 1;
  ndata_ = ndata;
  stride_ = plain_ ? nfit_ : 1 + nterm_ + nfit_;
  const long long size = static_cast<long long>(ndata) * stride_;
  if (size > INT_MAX) return false;
  if (size <= kInPlace) {
    table_ = inPlace_;
  } else {
    if (heap_.size() < size) heap_.allocate(static_cast<int>(size));
    table_ = heap_.data();
  }

  bool safe = true;
  for (int i = 0; i < ndata; ++i) safe = safe & bounded(x[i], sig[i], npar);
  // The powers up to x^(npar-1), as fpoly forms them; within the bounds only
  // those of the terms can matter.
  const int width = safe ? (nterm_ > 0 ? term_[nterm_ - 1] + 1 : 1) : npar;
  auto fill = [&] {
    double p[kMaxTerms];
    for (int i = 0; i < ndata; ++i) {
      double* r = table_ + static_cast<std::size_t>(i) * static_cast<std::size_t>(stride_);
      powers(x[i], width, p);
      const double s = sig[i];
      const double w = 1.0 / (s * s);
      r[0] = w;
      if (plain_) {
        for (int n = 1; n < nfit_; ++n) r[n] = p[n];
      } else {
        for (int n = 0; n < nterm_; ++n) r[1 + n] = p[term_[n]];
        for (int j = 0; j < nfit_; ++j) r[1 + nterm_ + j] = r[1 + fitted_[j]] * w;
      }
    }
  };
  if (safe) {
    if (plain_)
      kFill[nfit_](x, sig, ndata, table_);
    else
      fill();
    return true;
  }
  const FlagWatch watch;
  fill();
  return !watch.raised();
}

void PolyBasis::evaluate(const double* y, const double* a, double* alpha, int ndim, double* beta,
                         double& chisq) const {
  const std::ptrdiff_t ld = ndim;
  switch (plainOrder()) {
    case 1: return evaluatePlain<1>(y, a, alpha, ld, beta, chisq);
    case 2: return evaluatePlain<2>(y, a, alpha, ld, beta, chisq);
    case 3: return evaluatePlain<3>(y, a, alpha, ld, beta, chisq);
    case 4: return evaluatePlain<4>(y, a, alpha, ld, beta, chisq);
    case 5: return evaluatePlain<5>(y, a, alpha, ld, beta, chisq);
    case 6: return evaluatePlain<6>(y, a, alpha, ld, beta, chisq);
    case 7: return evaluatePlain<7>(y, a, alpha, ld, beta, chisq);
    case 8: return evaluatePlain<8>(y, a, alpha, ld, beta, chisq);
    case 9: return evaluatePlain<9>(y, a, alpha, ld, beta, chisq);
    default: break;
  }
  // Terms whose coefficient is zero add exact zeros and are skipped, as in
  // fpoly.
  int live[kMaxTerms];
  int nlive = 0;
  for (int n = 0; n < nterm_; ++n)
    if (a[term_[n]] != 0.0) live[nlive++] = n;
  if (alpha != nullptr)
    for (int j = 0; j < nfit_; ++j)
      for (int k = 0; k <= j; ++k) alpha[j + k * ld] = 0.0;
  for (int j = 0; j < nfit_; ++j) beta[j] = 0.0;
  chisq = 0.0;
  for (int i = 0; i < ndata_; ++i) {
    const double* r = table_ + static_cast<std::size_t>(i) * static_cast<std::size_t>(stride_);
    double yval = 0.0;
    for (int n = 0; n < nlive; ++n) yval = r[1 + live[n]] * a[term_[live[n]]] + yval;
    const double d = y[i] - yval;
    const double* t = r + 1 + nterm_;
    for (int j = 0; j < nfit_; ++j) {
      if (alpha != nullptr)
        for (int k = 0; k <= j; ++k) alpha[j + k * ld] = alpha[j + k * ld] + t[j] * r[1 + fitted_[k]];
      beta[j] = beta[j] + d * t[j];
    }
    chisq = chisq + d * d * r[0];
  }
  if (alpha != nullptr)
    for (int j = 1; j < nfit_; ++j)
      for (int k = 0; k < j; ++k) alpha[k + j * ld] = alpha[j + k * ld];
}

}  // namespace tarvel
