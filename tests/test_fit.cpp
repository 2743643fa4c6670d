// The fitting engine: the polynomial basis, the curvature sums, the spreading
// of packed matrices, the call modes of the minimiser, and whole fits checked
// against weighted normal equations solved here in long double.
#include <gtest/gtest.h>

#include "reference.h"

#include <cfloat>
#include <cmath>
#include <iomanip>
#include <string>
#include <vector>

#include "fit/ajust.h"
#include "fit/covsrt.h"
#include "fit/fpoly.h"
#include "fit/mrqcof.h"
#include "fit/mrqmin.h"
#include "records/runtime.h"

using testsupport::solveLong;

namespace {

using namespace tarvel;

using LD = long double;

double& at(std::vector<double>& m, int ld, int r, int c) { return m[(r - 1) + (c - 1) * ld]; }

::testing::AssertionResult relNear(double got, LD want, LD tol, LD scale) {
  const LD diff = std::fabs(static_cast<LD>(got) - want);
  if (diff <= tol * scale) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << std::setprecision(17) << "got " << got << ", want "
                                       << static_cast<double>(want) << ", relative difference "
                                       << static_cast<double>(diff / scale);
}

// ------------------------------------------------------------------ data

// Twelve abscissae, unevenly spaced, and a fixed pattern of deviations of
// about one standard deviation each.
const double kX[12] = {-1.15, -0.9, -0.62, -0.41, -0.13, 0.08, 0.37, 0.55, 0.81, 1.06, 1.32, 1.48};
const double kPattern[12] = {0.7, -1.1, 0.4, 0.9, -0.6, -1.3, 0.2, 1.2, -0.8, 0.5, -0.3, 1.0};

struct Data {
  std::vector<double> x, y, sig;
  int n() const { return static_cast<int>(x.size()); }
};

// Points scattered about the polynomial with the given coefficients (the
// constant first), with uncertainties growing from 1e-6 to 4.85e-6: the
// polynomial fits as well as it should (chi-square near the number of
// points), so the best coefficients are sharply defined.
Data scatteredData(const std::vector<double>& coef) {
  Data d;
  for (int i = 0; i < 12; ++i) {
    double p = 0.0;
    for (int l = static_cast<int>(coef.size()) - 1; l >= 0; --l) p = p * kX[i] + coef[l];
    const double sig = 1e-6 * (1.0 + 0.35 * i);
    d.x.push_back(kX[i]);
    d.y.push_back(p + kPattern[i] * sig);
    d.sig.push_back(sig);
  }
  return d;
}

// A cubic with a non-trivial coefficient in every place.
const std::vector<double> kCubic = {0.83, -0.21, 0.064, -0.037};

// 0.75 - 0.5 x + 0.125 x^2 at x = -2, -1.5, ..., 3: every value is exact.
Data exactQuadraticData() {
  Data d;
  for (int i = 0; i <= 10; ++i) {
    const double x = -2.0 + 0.5 * i;
    d.x.push_back(x);
    d.y.push_back(0.75 - 0.5 * x + 0.125 * x * x);
    d.sig.push_back(0.01 + 0.001 * i);
  }
  return d;
}

// ---------------------------------------------- independent reference fit

LD powLong(LD x, int k) {
  LD r = 1.0L;
  for (int i = 0; i < k; ++i) r *= x;
  return r;
}

// Weighted least squares for a polynomial with fixed coefficients held at
// their values: normal matrix N, its inverse (the covariance), the solution
// and the chi-square at it, all in full 9-slot order.
struct Reference {
  std::vector<LD> a;      // 9 coefficients
  std::vector<LD> cov;    // 9 x 9 row by row, zero for fixed slots
  std::vector<LD> curv;   // 9 x 9 row by row, zero for fixed slots
  LD chisq = 0.0L;
};

Reference referenceFit(const Data& d, const std::vector<double>& fixedValues, const std::vector<int>& ifit) {
  const int npar = static_cast<int>(ifit.size());
  std::vector<int> fitted;
  for (int l = 0; l < npar; ++l)
    if (ifit[l] != 0) fitted.push_back(l);
  const int nf = static_cast<int>(fitted.size());
  std::vector<LD> nmat(nf * nf, 0.0L);
  std::vector<std::vector<LD>> cols(nf + 1, std::vector<LD>(nf, 0.0L));
  for (int i = 0; i < d.n(); ++i) {
    const LD x = d.x[i];
    const LD w = 1.0L / (static_cast<LD>(d.sig[i]) * d.sig[i]);
    LD yr = d.y[i];
    for (int l = 0; l < npar; ++l)
      if (ifit[l] == 0) yr -= fixedValues[l] * powLong(x, l);
    for (int j = 0; j < nf; ++j) {
      for (int k = 0; k < nf; ++k) nmat[j * nf + k] += w * powLong(x, fitted[j]) * powLong(x, fitted[k]);
      cols[0][j] += w * yr * powLong(x, fitted[j]);
    }
  }
  for (int j = 0; j < nf; ++j) cols[1 + j][j] = 1.0L;
  solveLong(nmat, nf, cols);

  Reference ref;
  ref.a.assign(npar, 0.0L);
  ref.cov.assign(npar * npar, 0.0L);
  ref.curv.assign(npar * npar, 0.0L);
  for (int l = 0; l < npar; ++l) ref.a[l] = fixedValues[l];
  for (int j = 0; j < nf; ++j) {
    ref.a[fitted[j]] = cols[0][j];
    for (int k = 0; k < nf; ++k) {
      ref.cov[fitted[j] * npar + fitted[k]] = cols[1 + k][j];
      ref.curv[fitted[j] * npar + fitted[k]] = nmat[j * nf + k];
    }
  }
  for (int i = 0; i < d.n(); ++i) {
    LD yv = 0.0L;
    for (int l = 0; l < npar; ++l) yv += ref.a[l] * powLong(d.x[i], l);
    const LD r = (d.y[i] - yv) / d.sig[i];
    ref.chisq += r * r;
  }
  return ref;
}

// ------------------------------------------------------------------ fpoly

TEST(Fpoly, ValueAndBasisFromTheConstantTermUp) {
  struct Case {
    const char* name;
    double x;
    std::vector<double> a;
    double yval;                // by hand
    std::vector<double> deriv;  // by hand
  };
  const std::vector<Case> cases = {
      {"x = 0", 0.0, {2.5, -3.0, 4.0, 5.0}, 2.5, {1.0, 0.0, 0.0, 0.0}},
      {"npar = 1", 7.3, {-0.625}, -0.625, {1.0}},
      {"npar = 1 at x = 0", 0.0, {0.875}, 0.875, {1.0}},
      {"integer powers", 2.0, {1.0, 2.0, 3.0}, 17.0, {1.0, 2.0, 4.0}},
      {"negative x", -1.5, {0.5, 0.25, -2.0, 1.0}, 0.5 - 0.375 - 4.5 - 3.375, {1.0, -1.5, 2.25, -3.375}},
      // zero coefficients add nothing, their basis entries are still filled
      {"zero tail", 3.0, {1.0, 1.0, 0.0, 0.0, 0.0}, 4.0, {1.0, 3.0, 9.0, 27.0, 81.0}},
      // the sum runs upwards, with 0.3^2 = 0.3*0.3 and 0.3^3 = 0.3*(0.3*0.3)
      {"order of the sum", 0.3, {0.7, 1.3, -0.9, 2.1},
       ((1.0 * 0.7 + 0.3 * 1.3) + (0.3 * 0.3) * -0.9) + (0.3 * (0.3 * 0.3)) * 2.1,
       {1.0, 0.3, 0.3 * 0.3, 0.3 * (0.3 * 0.3)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int npar = static_cast<int>(c.a.size());
    double yval = -99.0;
    std::vector<double> deriv(npar, -99.0);
    fpoly(c.x, c.a.data(), yval, deriv.data(), npar);
    EXPECT_EQ(yval, c.yval) << std::setprecision(17) << yval << " vs " << c.yval;
    for (int i = 0; i < npar; ++i)
      EXPECT_EQ(deriv[i], c.deriv[i]) << std::setprecision(17) << "deriv(" << i + 1 << ") " << deriv[i];
  }
  // Horner's rule would give a different last bit here.
  const double horner = ((2.1 * 0.3 + -0.9) * 0.3 + 1.3) * 0.3 + 0.7;
  EXPECT_NE(horner, ((0.7 + 0.3 * 1.3) + (0.3 * 0.3) * -0.9) + (0.3 * (0.3 * 0.3)) * 2.1)
      << "case does not tell the sums apart";
}

// ----------------------------------------------------------------- mrqcof

// Three points, four parameters of which the second is fixed: alpha and beta
// are packed over parameters 1, 3 and 4, worked out by hand below.
TEST(Mrqcof, PackedCurvatureGradientAndChiSquare) {
  const double x[3] = {0.5, 1.0, 2.0};
  const double y[3] = {1.25, 0.5, 3.0};
  const double sig[3] = {0.5, 0.25, 1.0};  // weights 4, 16, 1
  const double a[4] = {1.0, 0.5, -0.25, 0.125};
  const int ifit[4] = {1, 0, 1, 1};
  // model values: 1 + 0.25 - 0.0625 + 0.015625 = 1.203125;
  //               1 + 0.5 - 0.25 + 0.125 = 1.375; 1 + 1 - 1 + 1 = 2
  const LD w[3] = {4, 16, 1};
  const LD d[3] = {1.25L - 1.203125L, 0.5L - 1.375L, 1.0L};
  const LD b[3][3] = {{1, 0.25L, 0.125L}, {1, 1, 1}, {1, 4, 8}};  // x^0, x^2, x^3 per point
  const int ndim = 5;
  const double sentinel = 31.5;
  std::vector<double> alpha(ndim * ndim, sentinel);
  std::vector<double> beta(5, sentinel);
  double chisq = -1.0;
  mrqcof(x, y, sig, 3, a, ifit, 4, alpha.data(), beta.data(), ndim, chisq, fpoly);

  LD wantChisq = 0.0L;
  for (int i = 0; i < 3; ++i) wantChisq += d[i] * d[i] * w[i];
  EXPECT_TRUE(relNear(chisq, wantChisq, 0.0L, wantChisq));
  for (int j = 1; j <= 5; ++j) {
    if (j <= 3) {
      LD want = 0.0L;
      for (int i = 0; i < 3; ++i) want += w[i] * d[i] * b[i][j - 1];
      EXPECT_TRUE(relNear(beta[j - 1], want, 0.0L, std::fabs(want))) << "beta(" << j << ")";
    } else {
      EXPECT_EQ(beta[j - 1], sentinel) << "beta(" << j << ") changed";
    }
    for (int k = 1; k <= ndim; ++k) {
      if (j <= 3 && k <= 3) {
        LD want = 0.0L;
        for (int i = 0; i < 3; ++i) want += w[i] * b[i][j - 1] * b[i][k - 1];
        EXPECT_EQ(at(alpha, ndim, j, k), static_cast<double>(want)) << "alpha(" << j << "," << k << ")";
      } else {
        EXPECT_EQ(at(alpha, ndim, j, k), sentinel) << "alpha(" << j << "," << k << ") changed";
      }
    }
  }
}

// ----------------------------------------------------------------- covsrt

// A packed, deliberately non-symmetric 3 x 3 block spread over parameters
// 1, 3 and 4 of 5: element (l_j, l_k) receives packed (j, k); rows and
// columns 2 and 5 become zero; row and column 6 (beyond npar) are untouched.
TEST(Covsrt, PackedBlockMovesToTheFittedPlaces) {
  const int ndim = 6;
  const int npar = 5;
  const int ifit[5] = {1, 0, 1, 1, 0};
  const int place[3] = {1, 3, 4};
  std::vector<double> c(ndim * ndim);
  for (int r = 1; r <= ndim; ++r)
    for (int k = 1; k <= ndim; ++k) at(c, ndim, r, k) = (r <= 3 && k <= 3) ? 10.0 * r + k : 100.0 + 10.0 * r + k;
  covsrt(c.data(), ndim, npar, ifit, 3);

  std::vector<double> want(ndim * ndim, 0.0);
  for (int j = 1; j <= 3; ++j)
    for (int k = 1; k <= 3; ++k) at(want, ndim, place[j - 1], place[k - 1]) = 10.0 * j + k;
  for (int r = 1; r <= ndim; ++r) {
    at(want, ndim, r, 6) = 100.0 + 10.0 * r + 6;
    at(want, ndim, 6, r) = 100.0 + 60.0 + r;
  }
  for (int r = 1; r <= ndim; ++r)
    for (int k = 1; k <= ndim; ++k)
      EXPECT_EQ(at(c, ndim, r, k), at(want, ndim, r, k)) << "element (" << r << "," << k << ")";
}

// ----------------------------------------------------------------- mrqmin

struct Fit9 {
  std::vector<double> a = std::vector<double>(9, 0.0);
  std::vector<int> ifit = std::vector<int>(9, 0);
  std::vector<double> covar = std::vector<double>(81, 0.0);
  std::vector<double> alpha = std::vector<double>(81, 0.0);
  double chisq = 0.0;
  double lambda = -1.0;
  void call(const Data& d) {
    mrqmin(d.x.data(), d.y.data(), d.sig.data(), d.n(), a.data(), ifit.data(), 9, covar.data(), alpha.data(), 9,
           chisq, fpoly, lambda);
  }
};

TEST(Mrqmin, StartingCallTriesAFirstStep) {
  // From far away the first step lowers chi-square: lambda 0.001 * 0.1.
  {
    SCOPED_TRACE("accepted first step");
    const Data d = scatteredData(kCubic);
    Fit9 f;
    f.a = {1.0, 1.0, 1.0, 0, 0, 0, 0, 0, 0};
    f.ifit = {1, 1, 1, 0, 0, 0, 0, 0, 0};
    LD startChisq = 0.0L;
    for (int i = 0; i < d.n(); ++i) {
      const LD r = (d.y[i] - (1.0L + d.x[i] + static_cast<LD>(d.x[i]) * d.x[i])) / d.sig[i];
      startChisq += r * r;
    }
    f.lambda = -3.5;  // any negative value starts
    f.call(d);
    EXPECT_EQ(f.lambda, 0.001 * 0.1);
    EXPECT_LT(f.chisq, 0.5 * static_cast<double>(startChisq));
    EXPECT_EQ(mrqminState().nfit, 3);
    EXPECT_EQ(mrqminState().chisq_best, f.chisq);
  }
  // At coefficients that pass exactly through the data chi-square is 0 and
  // the trial cannot be lower: a tie is a rejection, lambda 0.001 * 10.
  {
    SCOPED_TRACE("rejected first step");
    const Data d = exactQuadraticData();
    Fit9 f;
    f.a = {0.75, -0.5, 0.125, 0, 0, 0, 0, 0, 0};
    f.ifit = {1, 1, 1, 0, 0, 0, 0, 0, 0};
    f.lambda = -1.0;
    f.call(d);
    EXPECT_EQ(f.lambda, 0.001 * 10.0);
    EXPECT_EQ(f.chisq, 0.0);
    EXPECT_EQ(f.a[0], 0.75);
    EXPECT_EQ(f.a[1], -0.5);
    EXPECT_EQ(f.a[2], 0.125);
  }
}

// A run of step calls with a fixed, non-zero second coefficient: every call
// either lowers chi-square strictly (lambda / 10) or returns the previous
// chi-square bit for bit with a unchanged (lambda * 10); the fixed slots
// never move. Then the final call.
TEST(Mrqmin, StepCallsAndTheFinalCall) {
  const Data d = scatteredData({0.83, 0.37, 0.064, -0.037, 0, 0, 0, 0, -0.0625});
  Fit9 f;
  f.a = {1.0, 0.37, 1.0, 1.0, 0, 0, 0, 0, -0.0625};
  f.ifit = {1, 0, 1, 1, 0, 0, 0, 0, 0};
  const std::vector<double> start = f.a;
  f.call(d);
  int accepted = 0;
  int rejected = 0;
  for (int call = 1; call <= 25; ++call) {
    SCOPED_TRACE("step call " + std::to_string(call));
    const double lambdaBefore = f.lambda;
    const double chisqBefore = f.chisq;
    const std::vector<double> aBefore = f.a;
    f.call(d);
    if (f.chisq < chisqBefore) {
      ++accepted;
      EXPECT_EQ(f.lambda, lambdaBefore * 0.1);
    } else {
      ++rejected;
      EXPECT_EQ(f.lambda, lambdaBefore * 10.0);
      EXPECT_EQ(f.chisq, chisqBefore) << std::setprecision(17) << f.chisq << " vs " << chisqBefore;
      for (int l = 0; l < 9; ++l) EXPECT_EQ(f.a[l], aBefore[l]) << "a(" << l + 1 << ")";
    }
    for (int l = 0; l < 9; ++l) {
      if (f.ifit[l] == 0) {
        EXPECT_EQ(f.a[l], start[l]) << "fixed a(" << l + 1 << ") moved";
      }
    }
  }
  EXPECT_GT(accepted, 0);
  EXPECT_GT(rejected, 0);

  // The final call keeps a and chisq and spreads the inverse of the
  // curvature (the covariance) and the curvature itself to 9 x 9.
  const std::vector<double> aBefore = f.a;
  const double chisqBefore = f.chisq;
  f.lambda = 0.0;
  f.call(d);
  EXPECT_EQ(f.lambda, 0.0);
  EXPECT_EQ(f.chisq, chisqBefore);
  for (int l = 0; l < 9; ++l) EXPECT_EQ(f.a[l], aBefore[l]) << "a(" << l + 1 << ")";

  std::vector<double> fixedValues(9, 0.0);
  for (int l = 0; l < 9; ++l) fixedValues[l] = start[l];
  const Reference ref = referenceFit(d, fixedValues, f.ifit);
  for (int l = 0; l < 9; ++l) {
    if (f.ifit[l] != 0) {
      EXPECT_TRUE(relNear(f.a[l], ref.a[l], 1e-10L, std::fabs(ref.a[l]))) << "a(" << l + 1 << ")";
    }
  }
  for (int j = 1; j <= 9; ++j) {
    for (int k = 1; k <= 9; ++k) {
      SCOPED_TRACE("element (" + std::to_string(j) + "," + std::to_string(k) + ")");
      const double cjk = at(f.covar, 9, j, k);
      const double ajk = at(f.alpha, 9, j, k);
      if (f.ifit[j - 1] == 0 || f.ifit[k - 1] == 0) {
        EXPECT_EQ(cjk, 0.0);
        EXPECT_EQ(ajk, 0.0);
        continue;
      }
      const LD cscale = std::sqrt(ref.cov[(j - 1) * 9 + (j - 1)] * ref.cov[(k - 1) * 9 + (k - 1)]);
      const LD ascale = std::sqrt(ref.curv[(j - 1) * 9 + (j - 1)] * ref.curv[(k - 1) * 9 + (k - 1)]);
      EXPECT_TRUE(relNear(cjk, ref.cov[(j - 1) * 9 + (k - 1)], 1e-10L, cscale));
      EXPECT_TRUE(relNear(ajk, ref.curv[(j - 1) * 9 + (k - 1)], 1e-13L, ascale));
      EXPECT_TRUE(relNear(cjk, at(f.covar, 9, k, j), 1e-12L, cscale)) << "not symmetric";
      EXPECT_EQ(ajk, at(f.alpha, 9, k, j)) << "curvature not symmetric";
    }
  }
}

TEST(MrqminDeathTest, MoreParametersThanTheCapacityIsAFatalError) {
  const Data d = scatteredData(kCubic);
  std::vector<double> a(21, 1.0);
  std::vector<int> ifit(21, 1);
  std::vector<double> covar(21 * 21), alpha(21 * 21);
  double chisq = 0.0;
  double lambda = -1.0;
  EXPECT_EXIT(mrqmin(d.x.data(), d.y.data(), d.sig.data(), d.n(), a.data(), ifit.data(), 21, covar.data(),
                     alpha.data(), 21, chisq, fpoly, lambda),
              ::testing::ExitedWithCode(1),
              "run-time error F6601: \\$DEBUG\r\n- mrqmin: 21 parameters exceed the capacity of 20\r\n");
}

// ------------------------------------------------------------------ AJUST

struct AjustResult {
  std::vector<double> a;
  std::vector<double> covar = std::vector<double>(81, -5.0);
  double chisq = -1.0;
  int niter = -1;
};

AjustResult runAjust(const Data& d, std::vector<double> a, const std::vector<int>& ifit) {
  AjustResult r;
  r.a = std::move(a);
  AJUST(d.x.data(), d.y.data(), d.sig.data(), d.n(), r.a.data(), 9, r.covar.data(), r.chisq, r.niter, ifit.data());
  return r;
}

// Fits of order 0 to 4 from all-ones starting values (as the weighted fit
// starts), one with a fixed non-zero coefficient in the middle, and exact
// data from a polynomial: coefficients, covariances and chi-square agree
// with the long double normal equations to 1e-10.
TEST(Ajust, AgreesWithTheWeightedNormalEquations) {
  struct Case {
    std::string name;
    Data data;
    std::vector<double> start;
    std::vector<int> ifit;
  };
  const std::vector<double> kQuartic = {0.83, -0.21, 0.064, -0.037, 0.0193};
  std::vector<Case> cases;
  for (int order = 0; order <= 4; ++order) {
    const std::vector<double> coef(kQuartic.begin(), kQuartic.begin() + order + 1);
    Case c{"order " + std::to_string(order), scatteredData(coef), std::vector<double>(9, 0.0),
           std::vector<int>(9, 0)};
    for (int l = 0; l <= order; ++l) {
      c.start[l] = 1.0;
      c.ifit[l] = 1;
    }
    cases.push_back(c);
  }
  cases.push_back({"fixed second coefficient", scatteredData({0.83, -0.1875, 0.064, -0.037}), {1.0, -0.1875, 1.0, 1.0, 0, 0, 0, 0, 0},
                   {1, 0, 1, 1, 0, 0, 0, 0, 0}});
  cases.push_back({"exact quadratic", exactQuadraticData(), {1.0, 1.0, 1.0, 0, 0, 0, 0, 0, 0},
                   {1, 1, 1, 0, 0, 0, 0, 0, 0}});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const AjustResult r = runAjust(c.data, c.start, c.ifit);
    const Reference ref = referenceFit(c.data, c.start, c.ifit);
    EXPECT_GE(r.niter, 1);
    for (int l = 0; l < 9; ++l) {
      if (c.ifit[l] == 0) {
        EXPECT_EQ(r.a[l], c.start[l]) << "fixed a(" << l + 1 << ") moved";
      } else {
        EXPECT_TRUE(relNear(r.a[l], ref.a[l], 1e-10L, std::fabs(ref.a[l]))) << "a(" << l + 1 << ")";
      }
    }
    if (c.name == "exact quadratic") {
      EXPECT_TRUE(relNear(r.a[0], 0.75L, 1e-10L, 0.75L));
      EXPECT_TRUE(relNear(r.a[1], -0.5L, 1e-10L, 0.5L));
      EXPECT_TRUE(relNear(r.a[2], 0.125L, 1e-10L, 0.125L));
      EXPECT_LT(r.chisq, 1e-20);
    } else {
      EXPECT_TRUE(relNear(r.chisq, ref.chisq, 1e-10L, ref.chisq)) << "chisq";
    }
    for (int j = 1; j <= 9; ++j) {
      for (int k = 1; k <= 9; ++k) {
        const double got = r.covar[(j - 1) + (k - 1) * 9];
        if (c.ifit[j - 1] == 0 || c.ifit[k - 1] == 0) {
          EXPECT_EQ(got, 0.0) << "covar(" << j << "," << k << ") of a fixed coefficient";
          continue;
        }
        const LD want = ref.cov[(j - 1) * 9 + (k - 1)];
        EXPECT_TRUE(relNear(got, want, 1e-10L, std::fabs(want))) << "covar(" << j << "," << k << ")";
      }
    }
  }
}

// AJUST is the call sequence start, steps until chi-square moves by less
// than 1e-9, five more steps, final call. Replayed here call by call on data
// where the loop counts three steps and the five extra steps still move the
// coefficients, the sequence must give AJUST's results bit for bit.
TEST(Ajust, IsTheDocumentedSequenceOfMinimiserCalls) {
  const Data d = scatteredData(kCubic);
  const std::vector<int> ifit = {1, 1, 1, 1, 0, 0, 0, 0, 0};
  const std::vector<double> start = {1, 1, 1, 1, 0, 0, 0, 0, 0};

  Fit9 f;
  f.a = start;
  f.ifit = ifit;
  f.lambda = -1.0;
  f.call(d);
  double chisqPrev = f.chisq;
  int counted = 0;
  for (;;) {
    f.call(d);
    if (std::fabs(f.chisq - chisqPrev) < 1e-9) break;
    chisqPrev = f.chisq;
    ++counted;
  }
  const std::vector<double> afterLoop = f.a;
  for (int extra = 0; extra < 5; ++extra) f.call(d);
  ASSERT_NE(f.a, afterLoop) << "the extra steps do not move the coefficients on this data";
  f.lambda = 0.0;
  f.call(d);

  const AjustResult r = runAjust(d, start, ifit);
  EXPECT_EQ(counted, 3);
  EXPECT_EQ(r.niter, counted);
  EXPECT_EQ(r.chisq, f.chisq) << std::setprecision(17) << r.chisq << " vs " << f.chisq;
  for (int l = 0; l < 9; ++l) EXPECT_EQ(r.a[l], f.a[l]) << std::setprecision(17) << "a(" << l + 1 << ")";
  for (int e = 0; e < 81; ++e) EXPECT_EQ(r.covar[e], f.covar[e]) << "covar element " << e;
}

// Starting exactly at the polynomial through the data: no step can lower a
// chi-square of 0, so the first loop step is rejected and niter stays 0;
// the coefficients come back bit for bit.
TEST(Ajust, NoCountedStepWhenTheStartIsExact) {
  const Data d = exactQuadraticData();
  const std::vector<double> start = {0.75, -0.5, 0.125, 0, 0, 0, 0, 0, 0};
  const AjustResult r = runAjust(d, start, {1, 1, 1, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(r.niter, 0);
  EXPECT_EQ(r.chisq, 0.0);
  for (int l = 0; l < 9; ++l) EXPECT_EQ(r.a[l], start[l]) << "a(" << l + 1 << ")";
}

// Each call is a complete minimisation: the same call twice gives the same
// bits, whatever ran in between.
TEST(Ajust, CallsDoNotInfluenceEachOther) {
  const Data d = scatteredData(kCubic);
  const std::vector<int> ifit = {1, 1, 1, 0, 0, 0, 0, 0, 0};
  const AjustResult first = runAjust(d, {1, 1, 1, 0, 0, 0, 0, 0, 0}, ifit);
  runAjust(exactQuadraticData(), {2, 2, 2, 2, 2, 0, 0, 0, 0}, {1, 1, 1, 1, 1, 0, 0, 0, 0});
  const AjustResult again = runAjust(d, {1, 1, 1, 0, 0, 0, 0, 0, 0}, ifit);
  EXPECT_EQ(again.chisq, first.chisq);
  EXPECT_EQ(again.niter, first.niter);
  for (int l = 0; l < 9; ++l) EXPECT_EQ(again.a[l], first.a[l]) << "a(" << l + 1 << ")";
  for (int e = 0; e < 81; ++e) EXPECT_EQ(again.covar[e], first.covar[e]) << "covar element " << e;
}

// A zero uncertainty makes the weight a division by zero; the trap ends the
// run and the traceback shows AJUST's frame.
TEST(AjustDeathTest, ZeroUncertaintyEndsTheRunInsideAjust) {
  Data d = scatteredData(kCubic);
  d.sig[4] = 0.0;
  EXPECT_EXIT(
      {
        enableFloatingPointTraps();
        runAjust(d, {1, 1, 1, 0, 0, 0, 0, 0, 0}, {1, 1, 1, 0, 0, 0, 0, 0, 0});
        std::_Exit(2);
      },
      ::testing::ExitedWithCode(1),
      "ajust.cpp\\([0-9]+\\) : run-time error M6103: MATH\r\n- floating-point error: divide by zero\r\n\r\n"
      "Execution traceback:\r\n\t\tfrom AJUST in ajust.cpp\\([0-9]+\\)\r\n$");
}

TEST(AjustDeathTest, MoreCoefficientsThanTheCapacityIsAFatalError) {
  const Data d = scatteredData(kCubic);
  std::vector<double> a(21, 1.0), covar(21 * 21);
  std::vector<int> ifit(21, 1);
  double chisq = 0.0;
  int niter = 0;
  EXPECT_EXIT(AJUST(d.x.data(), d.y.data(), d.sig.data(), d.n(), a.data(), 21, covar.data(), chisq, niter,
                    ifit.data()),
              ::testing::ExitedWithCode(1),
              "run-time error F6601: \\$DEBUG\r\n- mrqmin: 21 parameters exceed the capacity of 20\r\n\r\n"
              "Execution traceback:\r\n\t\tfrom AJUST in ajust.cpp\\([0-9]+\\)\r\n$");
}

}  // namespace
