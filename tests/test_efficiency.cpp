// Evaluation of the calibration polynomial, its propagated standard
// deviation, and the mean and standard deviation of a sample: hand-computed
// examples, long double references, and the fatal errors.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <iomanip>
#include <string>
#include <vector>

#include "records/runtime.h"
#include "stats/calib.h"

namespace {

using namespace tarvel;
using Rows = std::vector<std::vector<double>>;

View<const double> view(const std::vector<double>& v) { return {v.data(), static_cast<int>(v.size())}; }

double efficiency(const std::vector<double>& coef, double qidx, int nc) {
  double eff = -99.0;
  EFFICIENCY(eff, view(coef), qidx, nc);
  return eff;
}

// SDEFFIC of the matrix with these rows, stored column by column.
double sdeffic(const Rows& rows, double qidx, int nc) {
  const int n = static_cast<int>(rows.size());
  std::vector<double> m(n * n);
  for (int e = 0; e < n * n; ++e) m[e] = rows[e % n][e / n];
  double sdeff = -99.0;
  SDEFFIC({m.data(), n, n}, qidx, sdeff, nc);
  return sdeff;
}

// Mean (which = 0) or standard deviation (which = 1).
double moysdev(const std::vector<double>& sample, int ns, int which) {
  double r[2] = {-99.0, -99.0};
  MOYSDEV(view(sample), r[0], r[1], ns);
  return r[which];
}

TEST(Calib, ValuesAgainstHandCalculationAndLongDouble) {
  const std::vector<double> nine = {0.62, 0.031, -0.0042, 3.1e-4, -1.2e-5, 2.7e-7, -3.3e-9, 2.1e-11, -5.4e-14};
  auto horner = [&](long double q) {
    long double v = 0.0L;
    for (int i = 8; i >= 0; --i) v = v * q + nine[i];
    return static_cast<double>(v);
  };
  // Fixed coefficients have zero rows and columns: a 9 x 9 matrix holding a
  // 3 x 3 block gives the 3 x 3 result.
  const Rows small = {{2.5e-5, -3.1e-7, 1.2e-9}, {-3.1e-7, 6.4e-9, -2.2e-11}, {1.2e-9, -2.2e-11, 9.0e-14}};
  Rows full(9, std::vector<double>(9, 0.0));
  for (int e = 0; e < 9; ++e) full[e / 3][e % 3] = small[e / 3][e % 3];
  auto gtcg = [&](long double q) {
    long double v = 0.0L;
    for (int e = 0; e < 9; ++e) v += std::pow(q, e / 3 + e % 3) * small[e / 3][e % 3];
    return static_cast<double>(std::sqrt(v));
  };
  const double big = 1e300;  // below the diagonal: never read
  const struct {
    const char* what;
    std::function<double()> got;
    double want, tol;  // relative tolerance
  } cases[] = {
      {"EFFICIENCY at qidx 0", [] { return efficiency({0.731, 5.0, -7.0, 1e3, 0, 0, 0, 0, 2.0}, 0.0, 9); }, 0.731, 0},
      // -0.01 * 10 rounds to the double of -0.1, and 0.5 - 0.1 ties to the double of 0.4.
      {"EFFICIENCY linear", [] { return efficiency({0.5, -0.01, 0, 0, 0, 0, 0, 0, 0}, 10.0, 9); }, 0.4, 0},
      {"EFFICIENCY cubic", [] { return efficiency({0.25, 0.5, -0.125, 0.0625}, 2.0, 4); }, 1.25, 0},
      // Added from the constant term up: 1e16 + 1 rounds back to 1e16 twice;
      // nested or reversed evaluation would give 1e16 + 2.
      {"EFFICIENCY constant term first", [] { return efficiency({1e16, 1.0, 1.0}, 1.0, 3); }, 1e16, 0},
      {"EFFICIENCY first nc slots", [] { return efficiency({1.0, 2.0, 4.0, 1e9}, 3.0, 3); }, 43.0, 0},
      {"EFFICIENCY nc = 0", [] { return efficiency({3.0}, 2.0, 0); }, 0.0, 0},
      {"EFFICIENCY nc < 0", [] { return efficiency({3.0}, 2.0, -4); }, 0.0, 0},
      {"EFFICIENCY nine terms at 1.7", [&] { return efficiency(nine, 1.7, 9); }, horner(1.7), 1e-13},
      {"EFFICIENCY nine terms at 150", [&] { return efficiency(nine, 150.0, 9); }, horner(150.0), 1e-13},
      // 4 + 2*2*1 + 4*9 = 44
      {"SDEFFIC 2 x 2", [] { return sdeffic({{4.0, 1.0}, {1.0, 9.0}}, 2.0, 2); }, std::sqrt(44.0), 0},
      {"SDEFFIC lower triangle", [&] { return sdeffic({{4.0, 1.0}, {big, 9.0}}, 2.0, 2); }, std::sqrt(44.0), 0},
      {"SDEFFIC qidx 0", [] { return sdeffic({{2.25, 0.3, 0.1}, {0.3, 5.0, 0.2}, {0.1, 0.2, 7.0}}, 0.0, 3); }, 1.5, 0},
      // 1 + 0.5*2*2 + 0.25*(-1)*2 + 0.25*3 + 0.125*0.5*2 + 0.0625*4 = 3.625
      {"SDEFFIC 3 x 3", [] { return sdeffic({{1.0, 2.0, -1.0}, {2.0, 3.0, 0.5}, {-1.0, 0.5, 4.0}}, 0.5, 3); },
       std::sqrt(3.625), 0},
      {"SDEFFIC nc below the matrix order",
       [] { return sdeffic({{4.0, 1.0, 8.0}, {1.0, 9.0, 8.0}, {8.0, 8.0, 8.0}}, 2.0, 2); }, std::sqrt(44.0), 0},
      {"SDEFFIC nc = 0", [] { return sdeffic({{4.0}}, 2.0, 0); }, 0.0, 0},
      {"SDEFFIC 3 x 3 block at 0.4", [&] { return sdeffic(small, 0.4, 3); }, gtcg(0.4), 1e-12},
      {"SDEFFIC 3 x 3 block at 95.5", [&] { return sdeffic(small, 95.5, 3); }, gtcg(95.5), 1e-12},
      {"SDEFFIC 9 x 9 holding the block", [&] { return sdeffic(full, 95.5, 9); }, sdeffic(small, 95.5, 3), 0},
      {"MOYSDEV mean of 1..4", [] { return moysdev({1.0, 2.0, 3.0, 4.0}, 4, 0); }, 2.5, 0},
      {"MOYSDEV sdev of 1..4", [] { return moysdev({1.0, 2.0, 3.0, 4.0}, 4, 1); }, std::sqrt(5.0 / 3.0), 2.3e-16},
      {"MOYSDEV constant", [] { return moysdev({2.5, 2.5, 2.5, 2.5}, 4, 1); }, 0.0, 0},
      // Dividing before adding keeps the sum finite; sum-then-divide would overflow.
      {"MOYSDEV huge mean", [] { return moysdev({1.5e308, 1.5e308}, 2, 0); }, 1.5e308, 0},
      {"MOYSDEV huge sdev", [] { return moysdev({1.5e308, 1.5e308}, 2, 1); }, 0.0, 0},
      {"MOYSDEV first ns mean", [] { return moysdev({1.0, 3.0, 1e9}, 2, 0); }, 2.0, 0},
      {"MOYSDEV first ns sdev", [] { return moysdev({1.0, 3.0, 1e9}, 2, 1); }, std::sqrt(2.0), 2.3e-16},
      {"MOYSDEV ns = 0", [] { return moysdev({7.0}, 0, 0) + moysdev({7.0}, 0, 1); }, 0.0, 0},
      {"MOYSDEV ns < 0", [] { return moysdev({7.0}, -3, 0) + moysdev({7.0}, -3, 1); }, 0.0, 0},
  };
  for (const auto& c : cases) {
    const double got = c.got();
    EXPECT_NEAR(got, c.want, c.tol * std::fabs(c.want)) << std::setprecision(17) << c.what << ": " << got;
  }
}

// The fatal paths, each with its routine's frame in the traceback; once a
// routine has returned, its frame is gone from a later error.
TEST(CalibDeathTest, FatalErrors) {
  const std::vector<double> one = {0.37}, four = {1.0, 2.0, 3.0, 4.0};
  const Rows ident = {{1.0, 0.0}, {0.0, 1.0}};
  const std::string debug = "run-time error F6601: \\$DEBUG\r\n- [^\r]*\r\n.*\t\tfrom ";
  double a, b;
  const struct {
    const char* what;
    std::function<void()> call;
    std::string stderrRegex;
  } cases[] = {
      {"negative variance", [&] { sdeffic({{1.0, 0.0}, {0.0, -4.0}}, 1.0, 2); },
       "^\r\ncalib\\.cpp\\([0-9]+\\) : run-time error M6201: MATH\r\n- sqrt: DOMAIN[^\r]*\r\n"
       "\r\nExecution traceback:\r\n\t\tfrom SDEFFIC in calib\\.cpp\\([0-9]+\\)\r\n$"},
      {"ns = 1", [&] {
         enableFloatingPointTraps();
         MOYSDEV(view(one), a, b, 1);
       },
       "run-time error M6101: MATH\r\n- floating-point error: invalid\r\n.*\t\tfrom MOYSDEV in calib\\.cpp"},
      {"EFFICIENCY subscript", [&] { EFFICIENCY(a, view(four), 0.5, 5); }, debug + "EFFICIENCY in calib\\.cpp"},
      {"SDEFFIC subscript", [&] { sdeffic(ident, 0.5, 3); }, debug + "SDEFFIC in calib\\.cpp"},
      {"MOYSDEV subscript", [&] { MOYSDEV(view(four), a, b, 5); }, debug + "MOYSDEV in calib\\.cpp"},
      {"frames popped on return",
       [&] {
         EFFICIENCY(a, view(four), 2.0, 4);
         sdeffic(ident, 2.0, 2);
         MOYSDEV(view(four), a, b, 4);
         msqrt(-1.0);
       },
       "^\r\nrun-time error M6201: MATH\r\n- sqrt: DOMAIN[^\r]*\r\n$"},
  };
  for (const auto& c : cases) EXPECT_EXIT(c.call(), ::testing::ExitedWithCode(1), c.stderrRegex) << c.what;
}

}  // namespace
