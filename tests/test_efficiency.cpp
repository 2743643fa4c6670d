// Evaluation of the calibration polynomial, its propagated standard
// deviation, and the mean and standard deviation of a sample: hand-computed
// examples, long double references, and the fatal errors.
#include <gtest/gtest.h>

#include <cmath>
#include <iomanip>
#include <sstream>
#include <string>
#include <vector>

#include "records/runtime.h"
#include "stats/calib.h"

namespace {

using tarvel::EFFICIENCY;
using tarvel::MOYSDEV;
using tarvel::SDEFFIC;
using tarvel::View;
using tarvel::View2;

std::string g17(double v) {
  std::ostringstream s;
  s << std::setprecision(17) << v;
  return s.str();
}

View<const double> view(const std::vector<double>& v) { return {v.data(), static_cast<int>(v.size())}; }

// Column-major n x n matrix from its rows as written on paper.
std::vector<double> columnMajor(const std::vector<std::vector<double>>& rows) {
  const std::size_t n = rows.size();
  std::vector<double> m(n * n);
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j) m[i + j * n] = rows[i][j];
  return m;
}

View2<const double> view2(const std::vector<double>& m, int n) { return {m.data(), n, n}; }

TEST(Efficiency, HandComputedValues) {
  struct Case {
    const char* what;
    std::vector<double> coef;
    double qidx;
    int nc;
    double want;  // exact
  };
  const Case cases[] = {
      {"constant term at qidx 0", {0.731, 5.0, -7.0, 1e3, 0, 0, 0, 0, 2.0}, 0.0, 9, 0.731},
      // -0.01 * 10 rounds to the double of -0.1, and 0.5 - 0.1 ties to the double of 0.4.
      {"linear, nine slots", {0.5, -0.01, 0, 0, 0, 0, 0, 0, 0}, 10.0, 9, 0.4},
      {"exact cubic", {0.25, 0.5, -0.125, 0.0625}, 2.0, 4, 1.25},
      // Added from the constant term up: 1e16 + 1 rounds back to 1e16 twice;
      // nested or reversed evaluation would give 1e16 + 2.
      {"constant term first", {1e16, 1.0, 1.0}, 1.0, 3, 1e16},
      {"only the first nc slots", {1.0, 2.0, 4.0, 1e9}, 3.0, 3, 43.0},
      {"nc = 0", {3.0}, 2.0, 0, 0.0},
      {"nc < 0", {3.0}, 2.0, -4, 0.0},
  };
  for (const Case& c : cases) {
    double eff = -99.0;
    EFFICIENCY(eff, view(c.coef), c.qidx, c.nc);
    EXPECT_EQ(eff, c.want) << c.what << ": " << g17(eff);
  }
}

TEST(Efficiency, NineTermPolynomialAgainstLongDouble) {
  const std::vector<double> coef = {0.62, 0.031, -0.0042, 3.1e-4, -1.2e-5, 2.7e-7, -3.3e-9, 2.1e-11, -5.4e-14};
  const double qs[] = {0.35, 1.7, 12.5, 48.0, 150.0};
  for (double q : qs) {
    long double ref = 0.0L;
    for (int i = 8; i >= 0; --i) ref = ref * q + coef[i];
    double eff;
    EFFICIENCY(eff, view(coef), q, 9);
    EXPECT_NEAR(eff, static_cast<double>(ref), 1e-13 * std::fabs(static_cast<double>(ref)) + 1e-15)
        << "qidx " << q << ": " << g17(eff) << " vs " << g17(static_cast<double>(ref));
  }
}

TEST(Sdeffic, HandComputedValues) {
  struct Case {
    const char* what;
    std::vector<std::vector<double>> rows;
    double qidx;
    int nc;
    double want;  // exact
  };
  const double big = 1e300;  // below the diagonal: never read
  const Case cases[] = {
      // 4 + 2*2*1 + 4*9 = 44
      {"2 x 2 at qidx 2", {{4.0, 1.0}, {1.0, 9.0}}, 2.0, 2, std::sqrt(44.0)},
      {"lower triangle ignored", {{4.0, 1.0}, {big, 9.0}}, 2.0, 2, std::sqrt(44.0)},
      {"qidx 0 keeps covm(1,1)", {{2.25, 0.3, 0.1}, {0.3, 5.0, 0.2}, {0.1, 0.2, 7.0}}, 0.0, 3, 1.5},
      // 1 + 0.5*2*2 + 0.25*(-1)*2 + 0.25*3 + 0.125*0.5*2 + 0.0625*4 = 3.625
      {"3 x 3 at qidx 0.5", {{1.0, 2.0, -1.0}, {2.0, 3.0, 0.5}, {-1.0, 0.5, 4.0}}, 0.5, 3, std::sqrt(3.625)},
      {"leading block of a larger matrix", {{4.0, 1.0, 8.0}, {1.0, 9.0, 8.0}, {8.0, 8.0, 8.0}}, 2.0, 2,
       std::sqrt(44.0)},
      {"nc = 0", {{4.0}}, 2.0, 0, 0.0},
  };
  for (const Case& c : cases) {
    const std::vector<double> m = columnMajor(c.rows);
    double sdeff = -99.0;
    SDEFFIC(view2(m, static_cast<int>(c.rows.size())), c.qidx, sdeff, c.nc);
    EXPECT_EQ(sdeff, c.want) << c.what << ": " << g17(sdeff);
  }
}

// Fixed coefficients have zero rows and columns: a 9 x 9 matrix holding a
// 3 x 3 block gives the 3 x 3 result, which matches g' C g in long double.
TEST(Sdeffic, ZeroOutsideLeadingBlockDropsOut) {
  const std::vector<std::vector<double>> small = {
      {2.5e-5, -3.1e-7, 1.2e-9}, {-3.1e-7, 6.4e-9, -2.2e-11}, {1.2e-9, -2.2e-11, 9.0e-14}};
  std::vector<std::vector<double>> full(9, std::vector<double>(9, 0.0));
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) full[i][j] = small[i][j];
  const std::vector<double> m3 = columnMajor(small), m9 = columnMajor(full);
  const double qs[] = {0.0, 0.4, 17.0, 95.5, 210.0};
  for (double q : qs) {
    double s3, s9;
    SDEFFIC(view2(m3, 3), q, s3, 3);
    SDEFFIC(view2(m9, 9), q, s9, 9);
    EXPECT_EQ(s9, s3) << "qidx " << q;
    long double var = 0.0L;
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) var += std::pow(static_cast<long double>(q), i + j) * small[i][j];
    const double ref = static_cast<double>(std::sqrt(var));
    EXPECT_NEAR(s3, ref, 1e-12 * ref) << "qidx " << q << ": " << g17(s3) << " vs " << g17(ref);
  }
}

TEST(Moysdev, HandComputedValues) {
  struct Case {
    const char* what;
    std::vector<double> sample;
    int ns;
    double mean, sdev;  // exact, or within 1 ulp for sdev
  };
  const Case cases[] = {
      {"1, 2, 3, 4", {1.0, 2.0, 3.0, 4.0}, 4, 2.5, std::sqrt(5.0 / 3.0)},
      {"constant", {2.5, 2.5, 2.5, 2.5}, 4, 2.5, 0.0},
      // Dividing before adding keeps the sum finite; sum-then-divide would overflow.
      {"huge values", {1.5e308, 1.5e308}, 2, 1.5e308, 0.0},
      {"only the first ns values", {1.0, 3.0, 1e9}, 2, 2.0, std::sqrt(2.0)},
      {"ns = 0", {7.0}, 0, 0.0, 0.0},
      {"ns < 0", {7.0}, -3, 0.0, 0.0},
  };
  for (const Case& c : cases) {
    double mean = -99.0, sdev = -99.0;
    MOYSDEV(view(c.sample), mean, sdev, c.ns);
    EXPECT_EQ(mean, c.mean) << c.what << ": mean " << g17(mean);
    EXPECT_NEAR(sdev, c.sdev, 2.3e-16 * c.sdev) << c.what << ": sdev " << g17(sdev);
  }
}

TEST(Moysdev, TenThousandValuesAgainstLongDouble) {
  std::vector<double> sample(10000);
  for (int i = 0; i < 10000; ++i) sample[i] = 0.4 + 0.01 * std::sin(0.37 * i) + 1e-4 * (i % 7);
  long double sum = 0.0L;
  for (double v : sample) sum += v;
  const long double m = sum / 10000.0L;
  long double ss = 0.0L;
  for (double v : sample) ss += (v - m) * (v - m);
  const double refMean = static_cast<double>(m), refSdev = static_cast<double>(std::sqrt(ss / 9999.0L));
  double mean, sdev;
  MOYSDEV(view(sample), mean, sdev, 10000);
  EXPECT_NEAR(mean, refMean, 1e-14 * refMean) << g17(mean) << " vs " << g17(refMean);
  EXPECT_NEAR(sdev, refSdev, 1e-11 * refSdev) << g17(sdev) << " vs " << g17(refSdev);
}

// ---------------------------------------------------------------- fatal errors

TEST(CalibDeath, NegativeVarianceIsSqrtDomainError) {
  const std::vector<double> m = columnMajor({{1.0, 0.0}, {0.0, -4.0}});
  double sdeff;
  EXPECT_EXIT(SDEFFIC(view2(m, 2), 1.0, sdeff, 2), ::testing::ExitedWithCode(1),
              "^\r\ncalib\\.cpp\\([0-9]+\\) : run-time error M6201: MATH\r\n- sqrt: DOMAIN[^\r]*\r\n"
              "\r\nExecution traceback:\r\n\t\tfrom SDEFFIC in calib\\.cpp\\([0-9]+\\)\r\n$");
}

void moysdevOfOneWithTraps() {
  const std::vector<double> one = {0.37};
  double mean, sdev;
  tarvel::enableFloatingPointTraps();
  MOYSDEV(view(one), mean, sdev, 1);
}

TEST(CalibDeath, SingleSampleDividesZeroByZero) {
  EXPECT_EXIT(moysdevOfOneWithTraps(), ::testing::ExitedWithCode(1),
              "run-time error M6101: MATH\r\n- floating-point error: invalid\r\n.*\t\tfrom MOYSDEV in calib\\.cpp");
}

TEST(CalibDeath, SubscriptBeyondDeclaredSize) {
  const std::vector<double> three = {1.0, 2.0, 3.0};
  const std::vector<double> m2 = columnMajor({{1.0, 0.0}, {0.0, 1.0}});
  double a, b;
  const char* debug = "run-time error F6601: \\$DEBUG\r\n- [^\r]*\r\n.*\t\tfrom ";
  EXPECT_EXIT(EFFICIENCY(a, view(three), 0.5, 9), ::testing::ExitedWithCode(1),
              std::string(debug) + "EFFICIENCY in calib\\.cpp");
  EXPECT_EXIT(SDEFFIC(view2(m2, 2), 0.5, a, 3), ::testing::ExitedWithCode(1),
              std::string(debug) + "SDEFFIC in calib\\.cpp");
  EXPECT_EXIT(MOYSDEV(view(three), a, b, 4), ::testing::ExitedWithCode(1),
              std::string(debug) + "MOYSDEV in calib\\.cpp");
}

void callAllThenFail() {
  const std::vector<double> four = {1.0, 2.0, 3.0, 4.0};
  const std::vector<double> m2 = columnMajor({{4.0, 1.0}, {1.0, 9.0}});
  double e, s, mean, sdev;
  EFFICIENCY(e, view(four), 2.0, 4);
  SDEFFIC(view2(m2, 2), 2.0, s, 2);
  MOYSDEV(view(four), mean, sdev, 4);
  tarvel::msqrt(-1.0);
}

// Each routine's frame is gone once it returns: a later error shows neither a
// location nor a traceback.
TEST(CalibDeath, FramesArePoppedOnReturn) {
  EXPECT_EXIT(callAllThenFail(), ::testing::ExitedWithCode(1),
              "^\r\nrun-time error M6201: MATH\r\n- sqrt: DOMAIN[^\r]*\r\n$");
}

}  // namespace
