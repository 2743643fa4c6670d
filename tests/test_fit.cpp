// The fitting engine: the polynomial basis, the spreading of packed matrices,
// the call modes of the minimiser, and whole fits checked against weighted
// normal equations solved here in long double.
#include <gtest/gtest.h>

#include <cmath>
#include <iomanip>
#include <string>
#include <vector>

#include "fit/ajust.h"
#include "fit/covsrt.h"
#include "fit/fpoly.h"
#include "fit/mrqmin.h"
#include "records/runtime.h"
#include "reference.h"

namespace {

using namespace tarvel;
using LD = long double;

::testing::AssertionResult relNear(double got, LD want, LD tol, LD scale) {
  if (std::fabs(static_cast<LD>(got) - want) <= tol * scale) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << std::setprecision(17) << "got " << got << ", want "
                                       << static_cast<double>(want);
}

::testing::AssertionResult same(const std::vector<double>& got, const std::vector<double>& want) {
  if (got == want) return ::testing::AssertionSuccess();
  ::testing::AssertionResult r = ::testing::AssertionFailure() << std::setprecision(17);
  for (std::size_t i = 0; i < got.size(); ++i)
    if (i >= want.size() || got[i] != want[i]) r << "(" << i + 1 << ") " << got[i] << " vs " << want[i] << "; ";
  return r;
}

struct Data {
  std::vector<double> x, y, sig;
  int n() const { return static_cast<int>(x.size()); }
};

// Twelve uneven abscissae, values off the polynomial `coef` (constant first)
// by about one uncertainty each, uncertainties from 1 to 4.85 times `sig`.
Data scatteredData(const std::vector<double>& coef, double sig = 1e-6) {
  const double x[12] = {-1.15, -0.9, -0.62, -0.41, -0.13, 0.08, 0.37, 0.55, 0.81, 1.06, 1.32, 1.48};
  const double dev[12] = {0.7, -1.1, 0.4, 0.9, -0.6, -1.3, 0.2, 1.2, -0.8, 0.5, -0.3, 1.0};
  Data d;
  for (int i = 0; i < 12; ++i) {
    double p = 0.0;
    for (int l = static_cast<int>(coef.size()) - 1; l >= 0; --l) p = p * x[i] + coef[l];
    d.x.push_back(x[i]);
    d.sig.push_back(sig * (1.0 + 0.35 * i));
    d.y.push_back(p + dev[i] * d.sig.back());
  }
  return d;
}

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

// Weighted least squares in long double with the fixed coefficients held at
// their values: coefficients, covariance (9 x 9 row by row, zero for fixed
// slots) and the chi-square.
struct Reference {
  std::vector<LD> a, cov;
  LD chisq = 0.0L;
};

Reference referenceFit(const Data& d, const std::vector<double>& start, const std::vector<int>& ifit) {
  std::vector<int> fitted;
  for (int l = 0; l < 9; ++l)
    if (ifit[l] != 0) fitted.push_back(l);
  const int nf = static_cast<int>(fitted.size());
  std::vector<LD> nmat(nf * nf, 0.0L);
  std::vector<std::vector<LD>> cols(nf + 1, std::vector<LD>(nf, 0.0L));
  for (int i = 0; i < d.n(); ++i) {
    const LD w = 1.0L / (static_cast<LD>(d.sig[i]) * d.sig[i]);
    LD yr = d.y[i];
    for (int l = 0; l < 9; ++l)
      if (ifit[l] == 0) yr -= start[l] * std::pow(static_cast<LD>(d.x[i]), l);
    for (int j = 0; j < nf; ++j) {
      const LD bj = std::pow(static_cast<LD>(d.x[i]), fitted[j]);
      for (int k = 0; k < nf; ++k) nmat[j * nf + k] += w * bj * std::pow(static_cast<LD>(d.x[i]), fitted[k]);
      cols[0][j] += w * yr * bj;
    }
  }
  for (int j = 0; j < nf; ++j) cols[1 + j][j] = 1.0L;
  testsupport::solveLong(nmat, nf, cols);
  Reference ref{std::vector<LD>(start.begin(), start.end()), std::vector<LD>(81)};
  for (int j = 0; j < nf; ++j) {
    ref.a[fitted[j]] = cols[0][j];
    for (int k = 0; k < nf; ++k) ref.cov[fitted[j] * 9 + fitted[k]] = cols[1 + k][j];
  }
  for (int i = 0; i < d.n(); ++i) {
    LD r = d.y[i];
    for (int l = 0; l < 9; ++l) r -= ref.a[l] * std::pow(static_cast<LD>(d.x[i]), l);
    ref.chisq += (r / d.sig[i]) * (r / d.sig[i]);
  }
  return ref;
}

TEST(Fpoly, ValueAndBasisFromTheConstantTermUp) {
  struct Case {
    const char* name;
    double x, yval;
    std::vector<double> a, deriv;
  };
  const Case cases[] = {
      {"x = 0", 0.0, 2.5, {2.5, -3.0, 4.0, 5.0}, {1.0, 0.0, 0.0, 0.0}},
      {"npar = 1", 7.3, -0.625, {-0.625}, {1.0}},
      // zero coefficients add nothing, their basis entries are still filled
      {"zero tail", 3.0, 4.0, {1.0, 1.0, 0.0, 0.0, 0.0}, {1.0, 3.0, 9.0, 27.0, 81.0}},
      // summed upwards with 0.3^3 = 0.3 * (0.3 * 0.3); Horner's rule differs in the last bit
      {"order of the sum", 0.3, ((1.0 * 0.7 + 0.3 * 1.3) + (0.3 * 0.3) * -0.9) + (0.3 * (0.3 * 0.3)) * 2.1,
       {0.7, 1.3, -0.9, 2.1}, {1.0, 0.3, 0.3 * 0.3, 0.3 * (0.3 * 0.3)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    double yval = -99.0;
    std::vector<double> deriv(c.a.size(), -99.0);
    fpoly(c.x, c.a.data(), yval, deriv.data(), static_cast<int>(c.a.size()));
    EXPECT_EQ(yval, c.yval) << std::setprecision(17) << yval << " vs " << c.yval;
    EXPECT_TRUE(same(deriv, c.deriv));
  }
}

// A packed, deliberately non-symmetric 3 x 3 block spread over parameters
// 1, 3 and 4 of 5: (place j, place k) receives packed (j, k), rows and
// columns 2 and 5 become zero, row and column 6 (beyond npar) are untouched.
TEST(Covsrt, PackedBlockMovesToTheFittedPlaces) {
  const int ifit[5] = {1, 0, 1, 1, 0};
  const int place[6] = {1, 0, 2, 3, 0, 0};  // packed index of each parameter, 0 if none
  std::vector<double> c(36);
  for (int e = 0; e < 36; ++e) c[e] = (e % 6 < 3 && e / 6 < 3 ? 0.0 : 100.0) + 10.0 * (e % 6 + 1) + e / 6 + 1;
  covsrt(c.data(), 6, 5, ifit, 3);
  for (int r = 1; r <= 6; ++r)
    for (int k = 1; k <= 6; ++k) {
      double want = r == 6 || k == 6 ? 100.0 + 10.0 * r + k : 0.0;
      if (place[r - 1] != 0 && place[k - 1] != 0) want = 10.0 * place[r - 1] + place[k - 1];
      EXPECT_EQ(c[(r - 1) + 6 * (k - 1)], want) << "element (" << r << "," << k << ")";
    }
}

struct Fit9 {
  std::vector<double> a;
  std::vector<int> ifit;
  std::vector<double> covar = std::vector<double>(81, 0.0), alpha = std::vector<double>(81, 0.0);
  double chisq = 0.0, lambda = -1.0;
  tarvel::MrqminState state{};
  void call(const Data& d) {
    mrqmin(d.x.data(), d.y.data(), d.sig.data(), d.n(), a.data(), ifit.data(), 9, covar.data(), alpha.data(), 9,
           chisq, fpoly, lambda, state);
  }
};

TEST(Mrqmin, CallModes) {
  // A starting call at coefficients through exact data: chi-square 0 cannot
  // be lowered, and a tie rejects the first step.
  Fit9 exact{{0.75, -0.5, 0.125, 0, 0, 0, 0, 0, 0}, {1, 1, 1, 0, 0, 0, 0, 0, 0}};
  exact.call(exactQuadraticData());
  EXPECT_EQ(exact.lambda, 0.001 * 10.0);
  EXPECT_EQ(exact.chisq, 0.0);
  EXPECT_TRUE(same(exact.a, {0.75, -0.5, 0.125, 0, 0, 0, 0, 0, 0}));

  // From far away, with fixed non-zero second and ninth coefficients: the
  // first step is accepted; every step call then lowers chi-square strictly
  // (lambda / 10) or returns the previous chi-square with a unchanged
  // (lambda * 10); fixed coefficients never move.
  const Data d = scatteredData({0.83, 0.37, 0.064, -0.037, 0, 0, 0, 0, -0.0625});
  Fit9 f{{1.0, 0.37, 1.0, 1.0, 0, 0, 0, 0, -0.0625}, {1, 0, 1, 1, 0, 0, 0, 0, 0}};
  const std::vector<double> start = f.a;
  f.call(d);
  EXPECT_EQ(f.lambda, 0.001 * 0.1);
  for (int call = 1; call <= 25; ++call) {
    SCOPED_TRACE("step call " + std::to_string(call));
    const double lambdaBefore = f.lambda, chisqBefore = f.chisq;
    const std::vector<double> aBefore = f.a;
    f.call(d);
    if (f.chisq < chisqBefore) {
      EXPECT_EQ(f.lambda, lambdaBefore * 0.1);
    } else {
      EXPECT_EQ(f.lambda, lambdaBefore * 10.0);
      EXPECT_EQ(f.chisq, chisqBefore) << std::setprecision(17) << f.chisq << " vs " << chisqBefore;
      EXPECT_TRUE(same(f.a, aBefore));
    }
    for (int l : {1, 4, 5, 6, 7, 8})
      EXPECT_EQ(f.a[l], start[l]) << std::setprecision(17) << "fixed a(" << l + 1 << ") moved to " << f.a[l];
  }

  // The final call keeps a and chisq; the covariance and the curvature come
  // back spread to 9 x 9, zero in the rows and columns of fixed coefficients;
  // the curvature is symmetric, the covariance to rounding.
  const std::vector<double> aBefore = f.a;
  const double chisqBefore = f.chisq;
  f.lambda = 0.0;
  f.call(d);
  EXPECT_EQ(f.chisq, chisqBefore);
  EXPECT_TRUE(same(f.a, aBefore));
  for (int j = 0; j < 9; ++j)
    for (int k = 0; k < 9; ++k) {
      SCOPED_TRACE("element (" + std::to_string(j + 1) + "," + std::to_string(k + 1) + ")");
      const double cjk = f.covar[j + 9 * k], ajk = f.alpha[j + 9 * k];
      if (f.ifit[j] == 0 || f.ifit[k] == 0) {
        EXPECT_EQ(cjk, 0.0);
        EXPECT_EQ(ajk, 0.0);
        continue;
      }
      EXPECT_TRUE(relNear(cjk, f.covar[k + 9 * j], 1e-12L, std::sqrt(f.covar[j * 10] * f.covar[k * 10])));
      EXPECT_EQ(ajk, f.alpha[k + 9 * j]);
    }
}

// Orders 0 to 4 and 8 (all nine slots) from all-ones starting values, a fixed
// non-zero coefficient in the middle, and data a quadratic passes through
// exactly: coefficients, covariances and chi-square agree with the long
// double reference.
TEST(Ajust, AgreesWithTheWeightedNormalEquations) {
  struct Case {
    std::string name;
    Data data;
    std::vector<double> start;
    std::vector<int> ifit;
  };
  const std::vector<double> coef = {0.83, -0.21, 0.064, -0.037, 0.0193, -0.011, 0.0071, -0.0042, 0.0023};
  std::vector<Case> cases;
  for (int order : {0, 1, 2, 3, 4, 8}) {
    Case c{"order " + std::to_string(order), scatteredData({coef.begin(), coef.begin() + order + 1}),
           std::vector<double>(9, 0.0), std::vector<int>(9, 0)};
    for (int l = 0; l <= order; ++l) c.start[l] = c.ifit[l] = 1;
    cases.push_back(c);
  }
  cases.push_back({"fixed second coefficient", scatteredData({0.83, -0.1875, 0.064, -0.037}),
                   {1.0, -0.1875, 1.0, 1.0, 0, 0, 0, 0, 0}, {1, 0, 1, 1, 0, 0, 0, 0, 0}});
  cases.push_back({"exact quadratic", exactQuadraticData(), {1, 1, 1, 0, 0, 0, 0, 0, 0}, {1, 1, 1, 0, 0, 0, 0, 0, 0}});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<double> a = c.start, covar(81, -5.0);
    double chisq = -1.0;
    int niter = -1;
    AJUST(c.data.x.data(), c.data.y.data(), c.data.sig.data(), c.data.n(), a.data(), 9, covar.data(), chisq, niter,
          c.ifit.data());
    const Reference ref = referenceFit(c.data, c.start, c.ifit);
    for (int l = 0; l < 9; ++l)
      EXPECT_TRUE(relNear(a[l], ref.a[l], c.ifit[l] ? 1e-10L : 0.0L, std::fabs(ref.a[l]))) << "a(" << l + 1 << ")";
    EXPECT_TRUE(relNear(chisq, ref.chisq, 1e-10L, std::fmax(ref.chisq, 1e-10L))) << "chisq";
    for (int e = 0; e < 81; ++e)
      EXPECT_TRUE(relNear(covar[e], ref.cov[(e % 9) * 9 + e / 9], 1e-10L, std::fabs(ref.cov[(e % 9) * 9 + e / 9])))
          << "covar(" << e % 9 + 1 << "," << e / 9 + 1 << ")";
  }
}

// AJUST is the starting call, step calls until chi-square moves by less than
// 1e-9, five more steps and the final call. Replayed call by call on a
// straight line through cubic data, where the loop counts two steps and the
// fifth extra step is accepted, the sequence gives AJUST's results bit for bit.
TEST(Ajust, IsTheDocumentedSequenceOfMinimiserCalls) {
  const Data d = scatteredData({0.83, -0.21, 0.064, -0.037}, 0.01);
  Fit9 f{{1, 1, 0, 0, 0, 0, 0, 0, 0}, {1, 1, 0, 0, 0, 0, 0, 0, 0}};
  std::vector<double> a = f.a, covar(81);
  f.call(d);
  int counted = 0;
  for (double previous = f.chisq; f.call(d), std::fabs(f.chisq - previous) >= 1e-9; previous = f.chisq) ++counted;
  for (int extra = 0; extra < 4; ++extra) f.call(d);
  const std::vector<double> beforeFifth = f.a;
  f.call(d);
  ASSERT_NE(f.a, beforeFifth) << "the fifth extra step is not accepted on this data";
  f.lambda = 0.0;
  f.call(d);

  double chisq = -1.0;
  int niter = -1;
  AJUST(d.x.data(), d.y.data(), d.sig.data(), d.n(), a.data(), 9, covar.data(), chisq, niter, f.ifit.data());
  EXPECT_EQ(counted, 2);
  EXPECT_EQ(niter, counted);
  EXPECT_EQ(chisq, f.chisq) << std::setprecision(17) << chisq << " vs " << f.chisq;
  EXPECT_TRUE(same(a, f.a));
  EXPECT_TRUE(same(covar, f.covar));
}

// A zero uncertainty is a division by zero inside AJUST's frame; more than 20
// coefficients exceed the minimiser's capacity.
TEST(AjustDeathTest, FatalErrorsShowAjustsFrame) {
  Data d = scatteredData({0.83, -0.21, 0.064, -0.037});
  std::vector<double> a(21, 1.0), covar(21 * 21);
  std::vector<int> ifit(21, 1);
  double chisq = 0.0;
  int niter = 0;
  const std::string frame = "\r\n\r\nExecution traceback:\r\n\t\tfrom AJUST in ajust.cpp\\([0-9]+\\)\r\n$";
  EXPECT_EXIT(AJUST(d.x.data(), d.y.data(), d.sig.data(), d.n(), a.data(), 21, covar.data(), chisq, niter,
                    ifit.data()),
              ::testing::ExitedWithCode(1),
              "run-time error F6601: \\$DEBUG\r\n- mrqmin: 21 parameters exceed the capacity of 20" + frame);
  d.sig[4] = 0.0;
  EXPECT_EXIT(
      {
        enableFloatingPointTraps();
        AJUST(d.x.data(), d.y.data(), d.sig.data(), d.n(), a.data(), 9, covar.data(), chisq, niter, ifit.data());
        std::_Exit(2);
      },
      ::testing::ExitedWithCode(1),
      "ajust.cpp\\([0-9]+\\) : run-time error M6103: MATH\r\n- floating-point error: divide by zero" + frame);
}

}  // namespace
