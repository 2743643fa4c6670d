// Gauss-Jordan solver: solutions and inverses against hand-calculated and
// long double references, the pivot choice, the untouched storage around the
// leading block, and the two ways a call can end the run.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <iomanip>
#include <vector>

#include "fit/gaussj.h"
#include "records/runtime.h"
#include "reference.h"
#include "support.h"

namespace {

using tarvel::gaussj;

// Column-major 1-based access.
double& at(std::vector<double>& m, int ld, int r, int c) { return m[(r - 1) + (c - 1) * ld]; }

::testing::AssertionResult near(double got, long double want, long double tol) {
  if (std::fabs(got - want) <= tol * std::fmax(std::fabs(want), 1.0L)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << std::setprecision(17) << "got " << got << ", want "
                                       << static_cast<double>(want);
}

TEST(Gaussj, SmallSystemsKnownByHand) {
  struct Case {
    const char* name;
    int n;
    std::vector<double> rows, rhs, x, inv;  // matrices row by row
    double tol;                             // in units of DBL_EPSILON
  };
  const Case cases[] = {
      {"2x2", 2, {2, 1, 1, 3}, {3, 5}, {0.8, 1.4}, {0.6, -0.2, -0.2, 0.4}, 4},
      {"swap", 2, {0, 1, 1, 0}, {3, 5}, {5, 3}, {0, 1, 1, 0}, 0},
      {"identity", 3, {1, 0, 0, 0, 1, 0, 0, 0, 1}, {-2.5, 7, 0.125}, {-2.5, 7, 0.125}, {1, 0, 0, 0, 1, 0, 0, 0, 1}, 0},
      // a cyclic permutation: the column exchanges must be undone last pass first
      {"permutation", 3, {0, 0, 2, 4, 0, 0, 0, 8, 0}, {6, 12, 20}, {3, 2.5, 3},
       {0, 0.25, 0, 0, 0, 0.125, 0.5, 0, 0}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<double> m(c.n * c.n), b = c.rhs;
    for (int r = 1; r <= c.n; ++r)
      for (int k = 1; k <= c.n; ++k) at(m, c.n, r, k) = c.rows[(r - 1) * c.n + k - 1];
    gaussj(m.data(), c.n, c.n, b.data(), 1, 1);
    for (int r = 1; r <= c.n; ++r) {
      EXPECT_TRUE(near(b[r - 1], c.x[r - 1], c.tol * DBL_EPSILON)) << "x(" << r << ")";
      for (int k = 1; k <= c.n; ++k)
        EXPECT_TRUE(near(at(m, c.n, r, k), c.inv[(r - 1) * c.n + k - 1], c.tol * DBL_EPSILON)) << r << "," << k;
    }
  }
}

// Among equal magnitudes the last candidate of the row-by-row scan is the
// pivot, which shows in the last bits of the solution. Diagonal tie (as in
// the identity): (2,2) first, then (1,1), giving x1 = y, x2 = z with
// y = (0.7 - 0.9 * 0.1) * (1 / (1 - 0.3 * 0.1)) and z = 0.9 - y * 0.3.
// Off-diagonal tie: the scan ends at (2,1), the rows are exchanged and the
// pivots are (1,1), then (2,2), giving x1 = z, x2 = y. Any other order, or
// a column-by-column scan, gives different bits.
TEST(Gaussj, EqualMagnitudesPivotOnTheLastCandidateOfTheRowScan) {
  const double y = (0.7 - 0.9 * 0.1) * (1.0 / (1.0 - 0.3 * 0.1)), z = 0.9 - y * 0.3;
  struct Case {
    const char* name;
    double m[4];  // column-major
    double x[2];
  };
  const Case cases[] = {{"diagonal tie", {1.0, 0.3, 0.1, 1.0}, {y, z}},
                        {"off-diagonal tie", {0.1, 1.0, 1.0, 0.3}, {z, y}}};
  for (Case c : cases) {
    double b[2] = {0.7, 0.9};
    gaussj(c.m, 2, 2, b, 1, 1);
    for (int r = 0; r < 2; ++r)
      EXPECT_EQ(b[r], c.x[r]) << std::setprecision(17) << c.name << " x(" << r + 1 << ") " << b[r] << " vs " << c.x[r];
  }
}

// A 3 x 3 system in the corner of a 9 x 9 array with two right-hand sides in
// a 9 x 3 array: every element outside the leading blocks keeps its value.
TEST(Gaussj, LeadingBlockOfLargerArraysOnly) {
  const int ld = 9, n = 3;
  const std::vector<long double> rows = {4.25L, -1.5L, 0.75L, 2.0L, 3.125L, -0.5L, -1.0L, 0.625L, 5.5L};
  const double rhs[2][3] = {{1.75, -2.5, 3.0}, {0.3, 0.7, -1.9}};
  const double sentinel = -777.125;
  std::vector<double> m(ld * ld, sentinel), b(ld * 3, sentinel);
  std::vector<std::vector<long double>> cols(5, std::vector<long double>(n, 0.0L));  // 2 solutions, inverse
  for (int r = 1; r <= n; ++r) {
    for (int k = 1; k <= n; ++k) at(m, ld, r, k) = static_cast<double>(rows[(r - 1) * n + k - 1]);
    for (int k = 1; k <= 2; ++k) at(b, ld, r, k) = cols[k - 1][r - 1] = rhs[k - 1][r - 1];
    cols[1 + r][r - 1] = 1.0L;
  }
  gaussj(m.data(), n, ld, b.data(), 2, 3);
  testsupport::solveLong(rows, n, cols);
  for (int r = 1; r <= ld; ++r)
    for (int k = 1; k <= ld; ++k) {
      const bool inM = r <= n && k <= n, inB = r <= n && k <= 2;
      EXPECT_TRUE(near(at(m, ld, r, k), inM ? cols[1 + k][r - 1] : sentinel, inM ? 16 * DBL_EPSILON : 0))
          << "matrix " << r << "," << k;
      if (k > 3) continue;
      EXPECT_TRUE(near(at(b, ld, r, k), inB ? cols[k - 1][r - 1] : sentinel, inB ? 16 * DBL_EPSILON : 0))
          << "right-hand side " << r << "," << k;
    }
}

TEST(GaussjDeathTest, OrderAboveTheCapacityIsAFatalError) {
  std::vector<double> m(51 * 51, 1.0), b(51, 1.0);
  EXPECT_EXIT(gaussj(m.data(), 51, 51, b.data(), 1, 1), ::testing::ExitedWithCode(1),
              "run-time error F6601: \\$DEBUG\r\n- gaussj: order 51 exceeds the capacity of 50\r\n");
}

// An all-zero matrix: the pause shows its text and reads the operator's line
// (end of input here), then the division by the zero pivot is trapped.
TEST(GaussjDeathTest, SingularMatrixPausesThenEndsWithDivideByZero) {
  testsupport::ScratchDir dir;
  EXPECT_EXIT(
      {
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(dir.file("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0) std::_Exit(3);
        tarvel::enableFloatingPointTraps();
        double m[1] = {0.0};
        double b[1] = {1.0};
        gaussj(m, 1, 1, b, 1, 1);
        std::_Exit(2);
      },
      ::testing::ExitedWithCode(1), "run-time error M6103: MATH\r\n- floating-point error: divide by zero\r\n");
  EXPECT_EQ(testsupport::visible(dir.read("stdout")), testsupport::visible("singular matrix in gaussj\r\n"));
}

}  // namespace
