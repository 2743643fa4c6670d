// Incomplete gamma function and ln Gamma against closed forms evaluated with
// the standard library, the branch choice, and the pause messages.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <iomanip>
#include <limits>
#include <string>

#include "records/units.h"
#include "stats/gammln.h"
#include "stats/gammq.h"
#include "stats/gcf.h"
#include "stats/gser.h"

namespace {

using tarvel::gammq;

// Q(a, x) from closed forms: a finite sum for integer a, the complementary
// error function for half-integer a (raised by Q(a+1) = Q(a) + x^a e^-x / Gamma(a+1)).
double closedQ(double a, double x) {
  if (a == std::floor(a)) {
    double term = 1.0, sum = 1.0;
    for (int k = 1; k < static_cast<int>(a); ++k) sum += term *= x / k;
    return std::exp(-x) * sum;
  }
  double q = std::erfc(std::sqrt(x));
  for (double b = 0.5; b < a; b += 1.0) q += std::exp(b * std::log(x) - x - std::lgamma(b + 1.0));
  return q;
}

// Series (x < a + 1) and continued fraction, integer and half-integer a; both
// stop once a step changes the result by less than 3e-7 of it.
TEST(Gammq, AgreesWithClosedFormsToSevenDigits) {
  const double cases[][2] = {{1.0, 1.0}, {1.0, 3.0}, {0.5, 0.5}, {0.5, 2.0},
                             {1.5, 4.0}, {3.0, 2.0}, {4.5, 0.2}, {7.0, 20.0}};
  for (const auto& c : cases) {
    const double want = closedQ(c[0], c[1]), got = gammq(c[0], c[1]);
    EXPECT_NEAR(got, want, 3e-7 * want) << std::setprecision(17) << "gammq(" << c[0] << ", " << c[1] << ") = " << got
                                        << ", closed form " << want;
  }
}

TEST(Gammln, AgreesWithLgammaToTenDigits) {
  for (double x : {1.0, 0.5, 0.1, 3.7, 33.25, 1000.0}) {
    const double want = std::lgamma(x), got = tarvel::gammln(x);
    EXPECT_NEAR(got, want, 1e-10 * std::fmax(1.0, std::fabs(want)))
        << std::setprecision(17) << "gammln(" << x << ") = " << got << ", lgamma " << want;
  }
}

// The series and the fraction disagree in their last digits, which shows
// which branch produced a result: x == a + 1 takes the fraction, the double
// just below it the series.
TEST(Gammq, BranchChoiceAtBoundary) {
  for (double a : {1.0, 3.5}) {
    double p, q, gln;
    for (double x : {a + 1.0, std::nextafter(a + 1.0, 0.0)}) {
      tarvel::gser(p, a, x, gln);
      tarvel::gcf(q, a, x, gln);
      ASSERT_NE(1.0 - p, q) << "branches agree at a = " << a << ", x = " << x;
      EXPECT_EQ(gammq(a, x), x < a + 1.0 ? 1.0 - p : q) << std::setprecision(17) << "a = " << a << ", x = " << x;
    }
  }
}

// Every message is shown and the computation goes on (standard input is at
// end of file, so every pause returns at once): x = 0 needs none; a NaN fails
// "a > 0" and never meets the fraction's convergence test; the series of
// a = x = 10000 stops after 101 terms, the fraction of a = 10000, x = 10001
// after 100 levels. A negative a then ends the run in the logarithm of
// ln Gamma.
TEST(GammqDeathTest, PauseMessagesAndWhatFollows) {
  long double term = 1.0L / 10000, partial = term;  // the 101-term series of P(10000, 10000)
  for (int n = 1; n <= 100; ++n) partial += term = term * 10000 / (10000 + n);
  partial *= std::exp(10000 * std::log(10000.0L) - 10000 - std::lgamma(10000.0L));
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    double a, x;
    const char* out;
    double want, tol;
  };
  const Case cases[] = {
      {2.0, 0.0, "", 1.0, 0.0},
      {1.0, -1.0, "bad arguments in gammq\r\nx < 0 in gser\r\n", 1.0, 0.0},
      {nan, 1.0, "bad arguments in gammq\r\na too large, ITMAX too small in gcf\r\n", nan, 0.0},
      {10000.0, 10000.0, "a too large, ITMAX too small in gser\r\n", 1.0 - static_cast<double>(partial), 1e-8},
      {10000.0, 10001.0, "a too large, ITMAX too small in gcf\r\n", 0.5, 0.5},
  };
  const int savedStdin = ::dup(0), null = ::open("/dev/null", O_RDONLY);
  ASSERT_TRUE(savedStdin >= 0 && null >= 0 && ::dup2(null, 0) == 0 && ::close(null) == 0);
  for (const Case& c : cases) {
    tarvel::resetUnitsForTesting();
    ::testing::internal::CaptureStdout();
    const double q = gammq(c.a, c.x);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.out) << "a = " << c.a << ", x = " << c.x;
    if (std::isnan(c.want)) {
      EXPECT_TRUE(std::isnan(q)) << q;
    } else {
      EXPECT_NEAR(q, c.want, c.tol) << std::setprecision(17) << "a = " << c.a << ", x = " << c.x << ": " << q;
    }
  }
  tarvel::resetUnitsForTesting();
  ::testing::internal::CaptureStdout();
  EXPECT_EXIT(gammq(-0.5, 3.0), ::testing::ExitedWithCode(1), "run-time error M6201: MATH\r\n- log: DOMAIN");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "bad arguments in gammq\r\n");
  ::dup2(savedStdin, 0);
  ::close(savedStdin);
  tarvel::resetUnitsForTesting();
}

}  // namespace
