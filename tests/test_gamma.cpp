// Incomplete gamma function and ln Gamma against closed forms evaluated with
// the standard library, and the pause messages of the failure paths.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <iomanip>
#include <limits>
#include <sstream>
#include <string>

#include "records/units.h"
#include "stats/gammln.h"
#include "stats/gammq.h"
#include "stats/gcf.h"
#include "stats/gser.h"

namespace {

using tarvel::gammln;
using tarvel::gammq;
using tarvel::gcf;
using tarvel::gser;

const double kPi = std::acos(-1.0);

std::string g17(double v) {
  std::ostringstream s;
  s << std::setprecision(17) << v;
  return s.str();
}

// Q(a, x) from closed forms: a finite sum for integer a, the complementary
// error function for half-integer a (raised by Q(a+1) = Q(a) + x^a e^-x / Gamma(a+1)).
double closedQ(double a, double x) {
  if (a == std::floor(a)) {
    double term = 1.0, sum = 1.0;
    for (int k = 1; k < static_cast<int>(a); ++k) {
      term *= x / k;
      sum += term;
    }
    return std::exp(-x) * sum;
  }
  double q = std::erfc(std::sqrt(x));
  for (double b = 0.5; b < a; b += 1.0) q += std::exp(b * std::log(x) - x - std::lgamma(b + 1.0));
  return q;
}

// Both branches stop once a step changes the result by less than 3e-7 of it.
TEST(Gammq, AgreesWithClosedFormsToSevenDigits) {
  struct Case {
    double a, x;
  };
  // Series branch (x < a + 1) and continued-fraction branch (x >= a + 1).
  const Case cases[] = {{1.0, 1.0}, {1.0, 3.0},  {0.5, 0.5}, {0.5, 2.0},  {1.5, 1.0}, {1.5, 4.0},
                        {3.0, 2.0}, {3.0, 7.5},  {2.5, 10.0}, {5.0, 3.0}, {4.5, 0.2}, {7.0, 20.0}};
  for (const Case& c : cases) {
    const double ref = closedQ(c.a, c.x);
    const double got = gammq(c.a, c.x);
    EXPECT_NEAR(got, ref, 3e-7 * ref) << "gammq(" << c.a << ", " << c.x << ") = " << g17(got)
                                       << ", reference " << g17(ref);
  }
}

TEST(Gammq, NamedValues) {
  EXPECT_NEAR(gammq(1.0, 1.0), 0.36787944117144233, 1e-7 * 0.3678794) << g17(gammq(1.0, 1.0));
  EXPECT_NEAR(gammq(1.0, 3.0), 0.049787068367863944, 1e-7 * 0.0497871) << g17(gammq(1.0, 3.0));
  EXPECT_NEAR(gammq(0.5, 0.5), 0.31731050786291410, 1e-7 * 0.3173105) << g17(gammq(0.5, 0.5));
}

TEST(Gammln, AgreesWithLgammaToTenDigits) {
  const double xs[] = {1.0, 0.5, 2.0, 0.1, 1.7, 3.7, 10.0, 33.25, 100.5, 1000.0};
  for (double x : xs) {
    const double ref = std::lgamma(x);
    const double got = gammln(x);
    EXPECT_NEAR(got, ref, 1e-10 * std::max(1.0, std::fabs(ref)))
        << "gammln(" << x << ") = " << g17(got) << ", lgamma " << g17(ref);
  }
  EXPECT_NEAR(gammln(0.5), 0.5 * std::log(kPi), 1e-10) << g17(gammln(0.5));
  EXPECT_NEAR(gammln(1.0), 0.0, 1e-10) << g17(gammln(1.0));
}

TEST(GserGcf, ReturnProbabilityAndLnGamma) {
  struct Case {
    double a, x;
  };
  const Case series[] = {{1.0, 1.0}, {2.5, 0.7}, {6.0, 4.0}};
  for (const Case& c : series) {
    double p = -1.0, gln = -1.0;
    gser(p, c.a, c.x, gln);
    const double ref = 1.0 - closedQ(c.a, c.x);
    EXPECT_NEAR(p, ref, 1e-7 * ref) << "gser P(" << c.a << ", " << c.x << ") = " << g17(p);
    EXPECT_NEAR(gln, std::lgamma(c.a), 1e-10 * std::max(1.0, std::lgamma(c.a))) << g17(gln);
  }
  const Case fraction[] = {{1.0, 3.0}, {2.5, 4.0}, {6.0, 12.0}};
  for (const Case& c : fraction) {
    double q = -1.0, gln = -1.0;
    gcf(q, c.a, c.x, gln);
    const double ref = closedQ(c.a, c.x);
    EXPECT_NEAR(q, ref, 1e-7 * ref) << "gcf Q(" << c.a << ", " << c.x << ") = " << g17(q);
    EXPECT_NEAR(gln, std::lgamma(c.a), 1e-10 * std::max(1.0, std::lgamma(c.a))) << g17(gln);
  }
}

// The series and the fraction disagree in their last digits, which shows
// which branch produced a result.
TEST(Gammq, BranchChoiceAtBoundary) {
  const double as[] = {1.0, 2.0, 3.5, 7.0};
  for (double a : as) {
    double p, q, gln;
    const double x = a + 1.0;
    gser(p, a, x, gln);
    gcf(q, a, x, gln);
    ASSERT_NE(1.0 - p, q) << "branches agree at a = " << a << "; choose another a";
    EXPECT_EQ(gammq(a, x), q) << "x == a + 1 must use the continued fraction, a = " << a;

    const double below = std::nextafter(x, 0.0);
    gser(p, a, below, gln);
    gcf(q, a, below, gln);
    ASSERT_NE(1.0 - p, q) << "branches agree just below a + 1 at a = " << a;
    EXPECT_EQ(gammq(a, below), 1.0 - p) << "x < a + 1 must use the series, a = " << a;
  }
}

// Standard input at end of file, so that every pause returns at once, and
// standard output captured.
class GammaPause : public ::testing::Test {
 protected:
  void SetUp() override {
    savedStdin_ = ::dup(0);
    const int null = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(null, 0);
    ::dup2(null, 0);
    ::close(null);
    tarvel::resetUnitsForTesting();
    ::testing::internal::CaptureStdout();
  }
  void TearDown() override {
    ::dup2(savedStdin_, 0);
    ::close(savedStdin_);
    tarvel::resetUnitsForTesting();
  }
  int savedStdin_ = -1;
};

TEST_F(GammaPause, ZeroXGivesOneWithoutMessage) {
  const double as[] = {0.5, 1.0, 4.0};
  for (double a : as) EXPECT_EQ(gammq(a, 0.0), 1.0) << "a = " << a;
  double p = -1.0, gln = 0.0;
  gser(p, 2.0, 0.0, gln);
  EXPECT_EQ(p, 0.0);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

TEST_F(GammaPause, NegativeXPausesTwiceAndGivesOne) {
  const double q = gammq(1.0, -1.0);
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(q, 1.0) << g17(q);
  EXPECT_EQ(out, "bad arguments in gammq\r\nx < 0 in gser\r\n");
}

TEST_F(GammaPause, NaNArgumentIsReportedAndPropagates) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // NaN fails "a > 0"; x < a + 1 is false for NaN, so the fraction runs,
  // and a NaN never meets its convergence test.
  const double q = gammq(nan, 1.0);
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "bad arguments in gammq\r\na too large, ITMAX too small in gcf\r\n");
  EXPECT_TRUE(std::isnan(q)) << g17(q);
}

// ln Gamma of a negative a takes the logarithm of a negative number: after
// the message the run ends with the checked logarithm's math error.
TEST_F(GammaPause, NegativeAEndsInLogDomainError) {
  std::string out;
  EXPECT_EXIT(gammq(-0.5, 3.0), ::testing::ExitedWithCode(1), "run-time error M6201: MATH\r\n- log: DOMAIN");
  // The dying child wrote its message into the same captured output.
  out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "bad arguments in gammq\r\n");
}

TEST_F(GammaPause, SeriesOutOfTermsGoesOnWithPartialSum) {
  // Near x = a = 10000 the series needs several hundred terms.
  const double a = 10000.0, x = 10000.0;
  double p = -1.0, gln = 0.0;
  gser(p, a, x, gln);
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "a too large, ITMAX too small in gser\r\n");
  // Partial sum of 101 terms x^n / (a (a+1) ... (a+n)), in long double.
  long double term = 1.0L / a, sum = term;
  for (int n = 1; n <= 100; ++n) {
    term = term * x / (a + n);
    sum += term;
  }
  const double ref =
      static_cast<double>(sum * std::exp(static_cast<long double>(a) * std::log(static_cast<long double>(x)) - x -
                                         std::lgamma(static_cast<long double>(a))));
  EXPECT_NEAR(p, ref, 1e-8 * ref) << g17(p) << " vs " << g17(ref);
  EXPECT_LT(p, 0.5) << "partial sum must fall short of P(a, a) ~ 1/2";
}

TEST_F(GammaPause, FractionOutOfLevelsGoesOn) {
  const double a = 10000.0, x = 10001.0;
  const double q = gammq(a, x);
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "a too large, ITMAX too small in gcf\r\n");
  EXPECT_TRUE(std::isfinite(q)) << g17(q);
}

}  // namespace
