// The numerical routines against independent references: weighted least
// squares in long double, residuals of the solved systems, the random
// sequence by its 64-bit recurrence, the incomplete gamma function by closed
// forms and lgamma, and hand calculation.
#include <fcntl.h>
#include <unistd.h>

#include <bit>
#include <cstdint>
#include <filesystem>
#include <iomanip>
#include <sstream>

#include "run/run.h"
#include "support.h"

namespace tarvel {
namespace {

// Fits of orders 0, 2 and 8 from starting values 1, and a cubic with its
// second coefficient held, to twelve uneven abscissae whose values lie off
// the polynomial of the fitted (and held) coefficients by about one
// uncertainty each; and but for order 8 (whose curvature would overflow)
// the same with abscissae 1e19 times larger (and coefficients as much
// smaller), beyond the bounds within which the points' basis is made
// without watching for overflow.
TEST(Fit, AjustAgreesWithTheLongDoubleReference) {
  const double x[12] = {-1.15, -0.9, -0.62, -0.41, -0.13, 0.08, 0.37, 0.55, 0.81, 1.06, 1.32, 1.48};
  const double dev[12] = {0.7, -1.1, 0.4, 0.9, -0.6, -1.3, 0.2, 1.2, -0.8, 0.5, -0.3, 1.0};
  const double unscaled[9] = {0.83, -0.1875, 0.064, -0.037, 0.0193, -0.011, 0.0071, -0.0042, 0.0023};
  for (const double scale : {1.0, 1e19})
  for (const std::vector<int>& ifit : {std::vector{1, 0, 0, 0, 0, 0, 0, 0, 0}, {1, 1, 1, 0, 0, 0, 0, 0, 0},
                                      {1, 1, 1, 1, 1, 1, 1, 1, 1}, {1, 0, 1, 1, 0, 0, 0, 0, 0}}) {
    if (scale > 1 && ifit[8]) continue;
    const bool held = ifit[1] == 0 && ifit[2] == 1;  // the second coefficient, at its value
    double coef[9];
    for (int l = 0; l < 9; ++l) coef[l] = unscaled[l] / std::pow(scale, l);
    std::vector<double> xs, y, sig, a(9), covar(81, -5.0);
    for (const double xi : x) xs.push_back(xi * scale);
    for (int i = 0; i < 12; ++i) {
      double p = 0;
      for (int l = 8; l >= 0; --l) p = p * xs[i] + (ifit[l] || (held && l == 1) ? coef[l] : 0.0);
      sig.push_back(1e-6 * (1 + 0.35 * i));
      y.push_back(p + dev[i] * sig.back());
    }
    for (int l = 0; l < 9; ++l) a[l] = ifit[l] ? 1.0 / std::pow(scale, l) : held && l == 1 ? coef[1] : 0.0;
    const ts::Reference ref = ts::referenceFit(xs, y, sig, a, ifit);
    double chisq = -1;
    int niter = -1;
    AJUST(xs.data(), y.data(), sig.data(), 12, a.data(), 9, covar.data(), chisq, niter, ifit.data());
    for (int j = 0; j < 9; ++j) {
      EXPECT_NEAR(a[j], ref.a[j], 1e-10 * std::fabs(ref.a[j])) << "a(" << j + 1 << "), x times " << scale;
      for (int k = 0; k < 9; ++k)
        EXPECT_NEAR(covar[j + 9 * k], ref.cov[j][k], 1e-10 * std::fabs(ref.cov[j][k])) << j + 1 << "," << k + 1;
    }
    EXPECT_NEAR(chisq, ref.chi2, 1e-10 * ref.chi2);
  }
}

// Four fits of every order refitted at once come out, lane by lane, with the
// very bits of AJUST on each alone: abscissae of both signs, a zero starting
// coefficient, and lanes whose points lie ever further off the polynomial,
// so that they step through AJUST's loop a different number of times; the
// last lane's abscissae, near -2e18, so ill-conditioned at the higher orders
// that lambda runs down to zero, after which every call is a final call.
// With every abscissa 0 the damped curvature has a zero pivot: the lanes
// give up.
TEST(Fit, LanesGiveTheBitsOfAjust) {
  if (!ajustLanesAvailable()) GTEST_SKIP() << "this processor has no AVX2";
  constexpr int n = 11;
  double sig[n], w[n];
  for (int i = 0; i < n; ++i) {
    sig[i] = 0.002 + 0.0003 * i;
    w[i] = 1.0 / (sig[i] * sig[i]);
  }
  for (int ncoef = 1; ncoef <= 9; ++ncoef) {
    double start[9] = {}, x[n * kLanes], y[n * kLanes], lanes[kLanes][9];
    for (int j = 0; j < ncoef; ++j) start[j] = j == 1 ? 0.0 : 0.9 / (j + 1);
    for (int l = 0; l < kLanes; ++l)
      for (int i = 0; i < n; ++i) {
        const double xi = -1.2 + 0.23 * i + 0.013 * l, dev = ((i * 7 + l * 3) % 5 - 2) * sig[i];
        x[i * kLanes + l] = l == kLanes - 1 ? (xi - 20.0) * 1e17 : xi;
        y[i * kLanes + l] = 0.93 - 0.21 * xi + 0.05 * xi * xi + dev * (1 + 30 * l);
      }
    std::vector<double> scratch(ajustLanesScratch(ncoef, n));
    ASSERT_TRUE(ajustLanes(ncoef, n, x, y, w, start, scratch.data(), lanes)) << ncoef;
    for (int l = 0; l < kLanes; ++l) {
      double xs[n], ys[n], a[9], covar[81], chisq;
      int ifit[9], niter;
      for (int i = 0; i < n; ++i) {
        xs[i] = x[i * kLanes + l];
        ys[i] = y[i * kLanes + l];
      }
      for (int j = 0; j < 9; ++j) {
        a[j] = start[j];
        ifit[j] = j < ncoef ? 1 : 0;
      }
      AJUST(xs, ys, sig, n, a, 9, covar, chisq, niter, ifit);
      for (int j = 0; j < 9; ++j)
        EXPECT_EQ(std::bit_cast<std::uint64_t>(lanes[l][j]), std::bit_cast<std::uint64_t>(a[j]))
            << "order " << ncoef - 1 << " lane " << l << " a(" << j + 1 << ") " << lanes[l][j] << " " << a[j];
    }
    if (ncoef == 3) {
      for (double& v : x) v = 0.0;
      EXPECT_FALSE(ajustLanes(ncoef, n, x, y, w, start, scratch.data(), lanes));
    }
  }
}

// Among equal magnitudes the last candidate of the row-by-row scan is the
// pivot, which shows in the last bits of the solution: the diagonal tie
// pivots on (2,2), then (1,1), giving x1 = y, x2 = z; the off-diagonal tie
// exchanges the rows and pivots on (1,1), then (2,2), giving x1 = z, x2 = y.
// The matrix times the inverse is the identity to rounding.
TEST(Fit, GaussjPivotsSolvesAndInverts) {
  const double y = (0.7 - 0.9 * 0.1) * (1.0 / (1.0 - 0.3 * 0.1)), z = 0.9 - y * 0.3;
  const double m[2][4] = {{1.0, 0.3, 0.1, 1.0}, {0.1, 1.0, 1.0, 0.3}}, want[2][2] = {{y, z}, {z, y}};
  for (int c = 0; c < 2; ++c) {
    double inv[4] = {m[c][0], m[c][1], m[c][2], m[c][3]}, x[2] = {0.7, 0.9};  // column by column
    gaussj(inv, 2, 2, x, 1, 1);
    EXPECT_TRUE(x[0] == want[c][0] && x[1] == want[c][1]) << c << ": " << x[0] - want[c][0] << " " << x[1] - want[c][1];
    for (int e = 0; e < 4; ++e) {  // (m times the inverse)(r, k)
      const int r = e % 2, k = e / 2;
      EXPECT_NEAR(m[c][r] * static_cast<long double>(inv[2 * k]) + m[c][r + 2] * inv[2 * k + 1], r == k, 4e-16) << e;
    }
  }
}

// s -> 16807 s mod (2^31 - 1) in 64 bits, 8 steps discarded, then a 32-entry
// shuffle table filled from its last entry; the previous output picks the slot.
struct RefUniform {
  std::int64_t s, table[32], previous;
  explicit RefUniform(std::int64_t start) : s(start) {
    for (int k = 0; k < 8; ++k) s = 16807 * s % 2147483647;
    for (int k = 31; k >= 0; --k) table[k] = s = 16807 * s % 2147483647;
    previous = table[0];
  }
  double next() {
    s = 16807 * s % 2147483647;
    const int slot = static_cast<int>(previous >> 26);
    previous = table[slot];
    table[slot] = s;
    return std::fmin(4.656612875245797e-10 * static_cast<double>(previous), 0.99999988);
  }
};

// A fresh state initialises as seed 1 whatever the seed; a
// seed of 0 or less starts again from its magnitude (the most negative from
// 1), a positive seed goes on. Normal deviates come in pairs by the polar
// method on the same uniforms.
TEST(Random, Ran1AndGasdevFollowTheRecurrence) {
  Ran1State uniform{};
  GasdevState normal{};
  const struct { int seed; std::int64_t start; } cases[] = {
      {12345, 1}, {-911, 911}, {0, 1}, {INT_MIN, 1}, {-2147483646, 2147483646}, {777, 0},
      {1320667465, 0}};  // its next state, 67108863, is the top of the first slot's share
  RefUniform ref(1);
  for (const auto& c : cases) {
    int seed = c.seed;
    if (c.start == 0) ref.s = seed;  // a positive seed goes on with the table
    if (c.start != 0) ref = RefUniform(c.start);
    for (int n = 1; n <= 2000; ++n) {
      const double want = ref.next(), got = ran1(seed, uniform);
      ASSERT_TRUE(got == want && seed == ref.s) << "seed " << c.seed << ", draw " << n << ": " << got - want;
    }
  }
  int seed = -911;
  RefUniform u(911);
  for (int pair = 1; pair <= 1000; ++pair) {
    double v1, v2, r;
    do v1 = 2.0 * u.next() - 1.0, v2 = 2.0 * u.next() - 1.0;
    while ((r = v1 * v1 + v2 * v2) >= 1.0 || r == 0.0);
    const double f = std::sqrt(-2.0 * std::log(r) / r), first = gasdev(seed, normal, uniform),
                 second = gasdev(seed, normal, uniform);
    ASSERT_TRUE(first == v2 * f && second == v1 * f && seed == u.s) << "pair " << pair;
  }
}

// Q(a, x) by the series and the continued fraction against the finite sum
// (integer a), and erfc raised by Q(a+1) = Q(a) + x^a e^-x / Gamma(a+1)
// (half-integer a); ln Gamma against lgamma.
TEST(Gamma, ClosedFormsAndLgamma) {
  const double cases[][2] = {{1, 1}, {1, 3}, {0.5, 0.5}, {0.5, 2}, {1.5, 4}, {3, 2}, {4.5, 0.2}, {7, 20}};
  for (const auto& [a, x] : cases) {
    double half = std::erfc(std::sqrt(x)), term = 1, sum = 1;
    for (double b = 0.5; b < a; b += 1) half += std::exp(b * std::log(x) - x - std::lgamma(b + 1));
    for (int k = 1; k < a; ++k) sum += term *= x / k;
    const double want = a == std::floor(a) ? std::exp(-x) * sum : half;
    EXPECT_NEAR(gammq(a, x), want, 3e-7 * want) << "a = " << a << ", x = " << x;
  }
  for (double x : {1.0, 0.5, 0.1, 3.7, 33.25, 1000.0})
    EXPECT_NEAR(gammln(x), std::lgamma(x), 1e-10 * std::fmax(1.0, std::fabs(std::lgamma(x)))) << x;
}

// The efficiency, its deviation from the diagonal and upper triangle of a
// covariance, and the mean and deviation of the first values of a sample, by hand.
TEST(Calib, HandCalculatedValues) {
  double r = -99, s = -99;
  // The covariance column by column, 1e300 below the diagonal where nothing is read.
  const std::vector<double> cubic = {0.25, 0.5, -0.125, 0.0625, 1e9}, cov = {1, 1e300, 1e300, 2, 3, 1e300, -1, 0.5, 4};
  EFFICIENCY(r, {cubic.data(), 5}, 2.0, 4);  // the first nc slots only
  EXPECT_EQ(r, 1.25);
  SDEFFIC({cov.data(), 3, 3}, 0.5, r, 3);  // 1 + 0.75 + 0.25 + 2 * (1 - 0.25 + 0.0625)
  EXPECT_EQ(r, std::sqrt(3.625));
  SDEFFIC({cov.data(), 3, 3}, 0.5, r, 2);  // 1 + 0.75 + 2 * 1
  EXPECT_EQ(r, std::sqrt(3.75));
  MOYSDEV({cubic.data(), 5}, r, s, 4);  // deviations 0.078125, 0.328125, -0.296875, -0.109375 from 0.171875
  EXPECT_TRUE(r == 0.171875 && std::fabs(s - std::sqrt(0.2138671875 / 3)) < 1e-16) << r << " " << s;
}

// The Monte Carlo phase, drawn ahead in blocks and refitted on one or two
// threads four trials at a time, gives every trial the bits of the plain
// refit: gasdev's deviates in trial order (the trial's common one, then each
// point's abscissa and efficiency), both coordinates perturbed, AJUST from
// the weighted fit's coefficients. The example on one thread and on two, and
// the example at order 8 with abscissa uncertainties 1e17 times larger, where
// a trial's lambda runs down to zero.
TEST(MonteCarlo, EveryTrialIsThePlainRefit) {
  std::istringstream in(ts::slurp(EXAMPLES_DIR "/points.dat"));
  int n;
  Inputs example;
  in >> n >> example.urel;
  in.ignore(1000, '\n');
  for (Point p; in >> p.q >> p.uq >> p.e >> p.ue;) example.points.push_back(p);
  Inputs wide = example;
  for (Point& p : wide.points) p.uq *= 1e17;
  const struct { int order; const Inputs& points; int threads; } cases[] = {{2, example, 1}, {2, example, 2}, {8, wide, 2}};
  for (const auto& [order, points, threads] : cases) {
    Inputs run = points;
    run.order = order;
    run.threads = threads;
    const Calibration cal = calibrate(run);
    const FittedCurve& c = *fittedCurve(cal);
    Ran1State uniform{};
    GasdevState normal{};
    int seed = -911, niter = 0, mismatches = 0;
    double chi2 = 0;
    const int npt = static_cast<int>(run.points.size());
    std::vector<double> ue;
    for (const Point& p : run.points) ue.push_back(p.ue);
    for (int k = 1; k <= kTrials; ++k) {
      std::vector<double> qs(npt), es(npt), a(9), covar(81);
      std::vector<int> ifit(9);
      const double rdev = gasdev(seed, normal, uniform) * run.urel;
      for (int i = 0; i < npt; ++i) {
        qs[i] = run.points[i].q + run.points[i].uq * gasdev(seed, normal, uniform);
        es[i] = run.points[i].e * (1.0 + rdev) + run.points[i].ue * gasdev(seed, normal, uniform);
      }
      for (int j = 1; j <= 9; ++j) {
        a[j - 1] = j <= c.ncoef ? c.asave(j) : 0.0;
        ifit[j - 1] = j <= c.ncoef;
      }
      AJUST(qs.data(), es.data(), ue.data(), npt, a.data(), 9, covar.data(), chi2, niter, ifit.data());
      for (int j = 1; j <= c.ncoef; ++j)
        if (std::bit_cast<std::uint64_t>(a[j - 1]) != std::bit_cast<std::uint64_t>(c.aset(j, k)) && ++mismatches <= 3)
          ADD_FAILURE() << "order " << order << ", " << threads << " threads, trial " << k << ": a(" << j
                        << ") = " << c.aset(j, k) << ", not " << a[j - 1];
    }
    EXPECT_EQ(mismatches, 0);
  }
}

}  // namespace
}  // namespace tarvel
