// Gauss-Jordan solver: solutions and inverses against hand-calculated and
// long double references, the pivot choice, the untouched storage around the
// leading block, and the two ways a call can end the run.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "reference.h"

#include <cfloat>
#include <iomanip>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fit/gaussj.h"
#include "records/runtime.h"
#include "support.h"

using testsupport::solveLong;

namespace {

using tarvel::gaussj;

constexpr double kEps = DBL_EPSILON;

// Column-major 1-based access for the tests.
double& at(std::vector<double>& m, int ld, int r, int c) { return m[(r - 1) + (c - 1) * ld]; }

// Relative (or, near zero, absolute) closeness with 17 digits in failures.
::testing::AssertionResult near(double got, long double want, long double tol) {
  const long double diff = std::fabs(static_cast<long double>(got) - want);
  const long double scale = std::fabs(want) > 1.0L ? std::fabs(want) : 1.0L;
  if (diff <= tol * scale) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << std::setprecision(17) << "got " << got << ", want "
                                       << static_cast<double>(want) << ", diff " << static_cast<double>(diff);
}

struct SmallCase {
  const char* name;
  int nord;
  std::vector<double> rows;  // matrix, row by row
  std::vector<double> rhs;
  std::vector<double> x;     // expected solution
  std::vector<double> inv;   // expected inverse, row by row
  double tol;                // in units of the relative epsilon
};

// Systems whose solution and inverse are known by hand.
TEST(Gaussj, SmallSystemsKnownByHand) {
  const std::vector<SmallCase> cases = {
      // det 5: inverse (1/5)((3,-1),(-1,2)); solution (4/5, 7/5).
      {"2x2 symmetric", 2, {2, 1, 1, 3}, {3, 5}, {0.8, 1.4}, {0.6, -0.2, -0.2, 0.4}, 4},
      // largest elements off the diagonal: row exchange and column unscramble.
      {"swap", 2, {0, 1, 1, 0}, {3, 5}, {5, 3}, {0, 1, 1, 0}, 0},
      {"identity 3", 3, {1, 0, 0, 0, 1, 0, 0, 0, 1}, {-2.5, 7, 0.125}, {-2.5, 7, 0.125},
       {1, 0, 0, 0, 1, 0, 0, 0, 1}, 0},
      // a cyclic permutation: the inverse is the transpose.
      {"permutation 3", 3, {0, 0, 2, 4, 0, 0, 0, 8, 0}, {6, 12, 20}, {3, 2.5, 3},
       {0, 0.25, 0, 0, 0, 0.125, 0.5, 0, 0}, 0},
  };
  for (const SmallCase& c : cases) {
    SCOPED_TRACE(c.name);
    const int n = c.nord;
    std::vector<double> m(n * n);
    std::vector<double> b = c.rhs;
    for (int r = 1; r <= n; ++r)
      for (int k = 1; k <= n; ++k) at(m, n, r, k) = c.rows[(r - 1) * n + (k - 1)];
    gaussj(m.data(), n, n, b.data(), 1, 1);
    for (int r = 1; r <= n; ++r) {
      EXPECT_TRUE(near(b[r - 1], c.x[r - 1], c.tol * kEps)) << "x(" << r << ")";
      for (int k = 1; k <= n; ++k)
        EXPECT_TRUE(near(at(m, n, r, k), c.inv[(r - 1) * n + (k - 1)], c.tol * kEps))
            << "inverse(" << r << "," << k << ")";
    }
  }
}

// Elimination of a 2 x 2 system with the pivots taken on the diagonal in the
// given order (first = 1: (1,1) then (2,2); first = 2: (2,2) then (1,1)):
// scale the pivot row by the reciprocal, the pivot place receiving it, then
// subtract the multiple of the pivot row from the other row, whose pivot
// column entry is cleared first. Result: inverse column-major, solution.
struct Trace2 {
  double inv[4];
  double x[2];
};
Trace2 eliminate2(double m11, double m12, double m21, double m22, double r1, double r2, int first) {
  double m[2][2] = {{m11, m12}, {m21, m22}};
  double r[2] = {r1, r2};
  for (int pass = 0; pass < 2; ++pass) {
    const int pc = pass == 0 ? first - 1 : 2 - first;
    const int o = 1 - pc;
    const double p = 1.0 / m[pc][pc];
    m[pc][pc] = 1.0;
    m[pc][0] = m[pc][0] * p;
    m[pc][1] = m[pc][1] * p;
    r[pc] = r[pc] * p;
    const double d = m[o][pc];
    m[o][pc] = 0.0;
    m[o][0] = m[o][0] - m[pc][0] * d;
    m[o][1] = m[o][1] - m[pc][1] * d;
    r[o] = r[o] - r[pc] * d;
  }
  return Trace2{{m[0][0], m[1][0], m[0][1], m[1][1]}, {r[0], r[1]}};
}

bool sameBits(const double* a, const double* b, int n) { return std::memcmp(a, b, sizeof(double) * n) == 0; }

// Among equal magnitudes the last candidate in the row-by-row scan is the
// pivot. The matrices are chosen so that the other orders give results that
// differ in the last bits, which makes the choice observable.
TEST(Gaussj, EqualMagnitudesPivotOnTheLastCandidateOfTheRowScan) {
  // Ties on the diagonal, as in the identity: the first pivot is (2,2).
  {
    SCOPED_TRACE("diagonal tie");
    const Trace2 want = eliminate2(1.0, 0.1, 0.3, 1.0, 0.7, 0.9, 2);
    const Trace2 other = eliminate2(1.0, 0.1, 0.3, 1.0, 0.7, 0.9, 1);
    ASSERT_FALSE(sameBits(want.x, other.x, 2)) << "data does not tell the two orders apart";
    double m[4] = {1.0, 0.3, 0.1, 1.0};
    double b[2] = {0.7, 0.9};
    gaussj(m, 2, 2, b, 1, 1);
    for (int i = 0; i < 2; ++i)
      EXPECT_EQ(b[i], want.x[i]) << std::setprecision(17) << "x(" << i + 1 << ") " << b[i] << " vs " << want.x[i];
    for (int i = 0; i < 4; ++i) EXPECT_EQ(m[i], want.inv[i]) << std::setprecision(17) << "element " << i;
  }
  // Ties off the diagonal, at (1,2) and (2,1): the row scan ends at (2,1), so
  // rows 1 and 2 are exchanged and the pivot (1,1) of the exchanged matrix
  // ((1,0.3),(0.1,1)) comes first; a column scan would end at (1,2) and pivot
  // first on (2,2) of the same exchanged matrix. The inverse's columns are
  // exchanged back at the end; the solution needs no such step.
  {
    SCOPED_TRACE("off-diagonal tie");
    Trace2 want = eliminate2(1.0, 0.3, 0.1, 1.0, 0.9, 0.7, 1);
    Trace2 other = eliminate2(1.0, 0.3, 0.1, 1.0, 0.9, 0.7, 2);
    ASSERT_FALSE(sameBits(want.inv, other.inv, 4) && sameBits(want.x, other.x, 2))
        << "data does not tell the two orders apart";
    const double wantInv[4] = {want.inv[2], want.inv[3], want.inv[0], want.inv[1]};
    double m[4] = {0.1, 1.0, 1.0, 0.3};  // ((0.1,1),(1,0.3))
    double b[2] = {0.7, 0.9};
    gaussj(m, 2, 2, b, 1, 1);
    for (int i = 0; i < 2; ++i)
      EXPECT_EQ(b[i], want.x[i]) << std::setprecision(17) << "x(" << i + 1 << ") " << b[i] << " vs " << want.x[i];
    for (int i = 0; i < 4; ++i) EXPECT_EQ(m[i], wantInv[i]) << std::setprecision(17) << "element " << i;
  }
}

// A 3 x 3 system in the corner of a 9 x 9 array with two right-hand sides in
// a 9 x 3 array: the leading blocks are solved and inverted, every other
// element keeps its sentinel bit for bit.
TEST(Gaussj, LeadingBlockOfLargerArraysOnly) {
  const int ndim = 9;
  const int nord = 3;
  const std::vector<long double> rows = {4.25L, -1.5L, 0.75L, 2.0L, 3.125L, -0.5L, -1.0L, 0.625L, 5.5L};
  const double rhs[2][3] = {{1.75, -2.5, 3.0}, {0.3, 0.7, -1.9}};
  const double sentinel = -777.125;

  std::vector<double> m(ndim * ndim, sentinel);
  std::vector<double> b(ndim * 3, sentinel);
  for (int r = 1; r <= nord; ++r) {
    for (int k = 1; k <= nord; ++k) at(m, ndim, r, k) = static_cast<double>(rows[(r - 1) * nord + (k - 1)]);
    at(b, ndim, r, 1) = rhs[0][r - 1];
    at(b, ndim, r, 2) = rhs[1][r - 1];
  }
  gaussj(m.data(), nord, ndim, b.data(), 2, 3);

  std::vector<std::vector<long double>> cols(5, std::vector<long double>(nord, 0.0L));
  for (int r = 0; r < nord; ++r) {
    cols[0][r] = rhs[0][r];
    cols[1][r] = rhs[1][r];
    cols[2 + r][r] = 1.0L;
  }
  solveLong(rows, nord, cols);

  const long double tol = 16 * kEps;
  for (int r = 1; r <= ndim; ++r) {
    for (int k = 1; k <= ndim; ++k) {
      if (r <= nord && k <= nord)
        EXPECT_TRUE(near(at(m, ndim, r, k), cols[2 + (k - 1)][r - 1], tol)) << "inverse(" << r << "," << k << ")";
      else
        EXPECT_EQ(at(m, ndim, r, k), sentinel) << "matrix element (" << r << "," << k << ") changed";
    }
    for (int k = 1; k <= 3; ++k) {
      if (r <= nord && k <= 2)
        EXPECT_TRUE(near(at(b, ndim, r, k), cols[k - 1][r - 1], tol)) << "solution(" << r << "," << k << ")";
      else
        EXPECT_EQ(at(b, ndim, r, k), sentinel) << "right-hand side (" << r << "," << k << ") changed";
    }
  }
}

// A 6 x 6 non-symmetric system against the long double reference.
TEST(Gaussj, InverseAndSolutionOfAGeneralSystem) {
  const int n = 6;
  std::vector<long double> rows(n * n);
  for (int r = 0; r < n; ++r)
    for (int k = 0; k < n; ++k)
      rows[r * n + k] = (r == k ? 7.5L : 0.0L) + static_cast<long double>(((3 * r + 5 * k) % 7) - 3) * 0.375L +
                        static_cast<long double>(r - k) * 0.0625L;
  std::vector<double> m(n * n);
  std::vector<double> b(n);
  std::vector<std::vector<long double>> cols(n + 1, std::vector<long double>(n, 0.0L));
  for (int r = 1; r <= n; ++r) {
    for (int k = 1; k <= n; ++k) at(m, n, r, k) = static_cast<double>(rows[(r - 1) * n + (k - 1)]);
    b[r - 1] = 0.5 * r - 1.25;
    cols[0][r - 1] = b[r - 1];
    cols[r][r - 1] = 1.0L;
  }
  solveLong(rows, n, cols);
  gaussj(m.data(), n, n, b.data(), 1, 1);
  for (int r = 1; r <= n; ++r) {
    EXPECT_TRUE(near(b[r - 1], cols[0][r - 1], 64 * kEps)) << "x(" << r << ")";
    for (int k = 1; k <= n; ++k)
      EXPECT_TRUE(near(at(m, n, r, k), cols[k][r - 1], 64 * kEps)) << "inverse(" << r << "," << k << ")";
  }
}

TEST(Gaussj, OrderZeroLeavesEverythingAlone) {
  double m[4] = {1.5, 2.5, 3.5, 4.5};
  double b[2] = {5.5, 6.5};
  gaussj(m, 0, 2, b, 1, 1);
  EXPECT_EQ(m[0], 1.5);
  EXPECT_EQ(m[1], 2.5);
  EXPECT_EQ(m[2], 3.5);
  EXPECT_EQ(m[3], 4.5);
  EXPECT_EQ(b[0], 5.5);
  EXPECT_EQ(b[1], 6.5);
}

TEST(GaussjDeathTest, OrderAboveTheCapacityIsAFatalError) {
  std::vector<double> m(51 * 51, 1.0);
  std::vector<double> b(51, 1.0);
  EXPECT_EXIT(gaussj(m.data(), 51, 51, b.data(), 1, 1), ::testing::ExitedWithCode(1),
              "run-time error F6601: \\$DEBUG\r\n- gaussj: order 51 exceeds the capacity of 50\r\n");
}

// An all-zero matrix: the pause shows its text and reads the operator's line
// (end of input here), then the division by the zero pivot is trapped.
TEST(GaussjDeathTest, SingularMatrixPausesThenEndsWithDivideByZero) {
  testsupport::ScratchDir dir;
  const std::string outPath = dir.file("stdout");
  EXPECT_EXIT(
      {
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0) std::_Exit(3);
        tarvel::enableFloatingPointTraps();
        double m[1] = {0.0};
        double b[1] = {1.0};
        gaussj(m, 1, 1, b, 1, 1);
        std::_Exit(2);  // a return from the call is a failure
      },
      ::testing::ExitedWithCode(1), "run-time error M6103: MATH\r\n- floating-point error: divide by zero\r\n");
  EXPECT_EQ(testsupport::visible(dir.read("stdout")), testsupport::visible("singular matrix in gaussj\r\n"));
}

}  // namespace
