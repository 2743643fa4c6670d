// Whole runs of the program that exercise the report of the weighted fit:
// the report lines under each switch, the goodness-of-fit verdicts, the
// dropping of negligible coefficients, the coefficients checked against the
// weighted normal equations solved here in long double, and the fatal ends
// of a fit that cannot be made.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "calibration.h"
#include "reference.h"
#include "support.h"

using namespace testsupport;

namespace {

using LD = long double;

// A weighted least-squares polynomial: coefficients (constant first), their
// covariance (the inverse of the normal matrix) and the chi-square.
struct Fit {
  std::vector<LD> a;
  std::vector<std::vector<LD>> cov;
  LD chi2 = 0;
  LD at(LD q) const {
    LD y = 0;
    for (std::size_t j = a.size(); j-- > 0;) y = y * q + a[j];
    return y;
  }
  LD sdAt(LD q) const {  // standard deviation of the polynomial's value
    LD v = 0;
    for (std::size_t j = 0; j < a.size(); ++j)
      for (std::size_t m = 0; m < a.size(); ++m) v += cov[j][m] * std::pow(q, static_cast<LD>(j + m));
    return std::sqrt(v);
  }
};

Fit weightedFit(const std::vector<Point>& pts, int n) {
  std::vector<LD> normal(n * n, 0);
  std::vector<std::vector<LD>> cols(n + 1, std::vector<LD>(n, 0));  // right-hand side, then unit columns
  for (const Point& p : pts) {
    const LD w = 1 / (static_cast<LD>(p.ue) * p.ue), q = p.q;
    for (int r = 0; r < n; ++r) {
      cols[0][r] += w * std::pow(q, static_cast<LD>(r)) * p.e;
      for (int c = 0; c < n; ++c) normal[r * n + c] += w * std::pow(q, static_cast<LD>(r + c));
    }
  }
  for (int j = 0; j < n; ++j) cols[j + 1][j] = 1;
  solveLong(normal, n, cols);
  Fit f{cols[0], {cols.begin() + 1, cols.end()}};
  for (const Point& p : pts) f.chi2 += std::pow((p.e - f.at(p.q)) / p.ue, 2);
  return f;
}

// Fixed-point text in a field of w with d decimals: no zero before the
// point, no sign on a value that rounds to zero, asterisks when too long.
std::string fixedField(LD v, int w, int d) {
  // The double result of the program and this long double value must print
  // alike: keep clear of rounding boundaries.
  const LD x = std::fabs(v) * std::pow(10.0L, d);
  EXPECT_GT(std::fabs(x - std::floor(x) - 0.5L), 1e-3L) << "reference value on a rounding boundary";
  char buf[80];
  std::snprintf(buf, sizeof buf, "%.*Lf", d, std::fabs(v));
  std::string s = buf;
  if (s.size() > 1 && s[0] == '0' && s[1] == '.') s.erase(0, 1);
  if (v < 0 && s.find_first_not_of("0.") != std::string::npos) s = "-" + s;
  return static_cast<int>(s.size()) > w ? std::string(w, '*') : std::string(w - s.size(), ' ') + s;
}

std::string coefLine(const Fit& f, int i) {  // console form
  return "a(" + std::to_string(i) + ")" + fixedField(f.a[i - 1], 12, 8) + " " +
         fixedField(std::sqrt(f.cov[i - 1][i - 1]), 12, 8);
}

std::string orderLine(int order, const char* how) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "%11d order polynomial fit with uncertainties in %s", order, how);
  return buf;
}

::testing::AssertionResult near(double got, LD want, LD rel) {
  if (std::fabs(got - want) <= rel * std::fabs(want)) return ::testing::AssertionSuccess();
  char buf[120];
  std::snprintf(buf, sizeof buf, "printed %.17g, reference %.20Lg", got, want);
  return ::testing::AssertionFailure() << buf;
}

struct Outcome {
  RunResult r;
  std::vector<std::string> console, results;
};

Outcome run(const std::vector<Point>& pts, int order, std::array<int, 6> opt, const std::string& input = "") {
  ScratchDir d;
  d.write("control.dat", controlFile("points.dat", order, opt));
  d.write("points.dat", dataFile(pts));
  Outcome o{runProgram(d.path(), input), {}, {}};
  o.console = crlfRecords(o.r.out);
  o.results = crlfRecords(d.read("results.dat"));
  return o;
}

std::vector<std::string> slice(const std::vector<std::string>& v, std::size_t from, std::size_t n) {
  from = std::min(from, v.size());
  return {v.begin() + from, v.begin() + from + std::min(n, v.size() - from)};
}

// Six points about 0.95 - 0.004 q + 0.00002 q^2 with alternating deviations,
// scaled so that the quadratic fit's chi-square is `chi2`.
std::vector<Point> parabola(LD chi2) {
  const double ue[3] = {0.003, 0.004, 0.005};
  auto make = [&](LD c) {
    std::vector<Point> pts;
    for (int i = 0; i < 6; ++i) {
      const LD q = 10 * (i + 1), dev = (i % 2 == 0 ? c : -c) * ue[i % 3];
      pts.push_back({10.0 * (i + 1), 0.2 + 0.02 * i, static_cast<double>(0.95L - 0.004L * q + 0.00002L * q * q + dev),
                     ue[i % 3]});
    }
    return pts;
  };
  return make(std::sqrt(chi2 / weightedFit(make(1), 3).chi2));
}

}  // namespace

TEST(Report, WeightedFitReports) {
  struct Case {
    const char* what;
    std::vector<Point> pts;
    std::array<int, 6> opt;
    std::vector<int> orders;  // the orders of the successive fits
    const char* verdict;
    bool endsOnChi2;
  };
  std::vector<Point> thousand, tiny, nearLine, scattered;
  const double dev[8] = {0.3, -0.2, -0.4, 0.1, 0.5, -0.3, 0.2, -0.1};
  const double small[8] = {0.0004, -0.0007, 0.0002, 0.0005, -0.0006, 0.0001, -0.0003, 0.0006};
  const double large[8] = {0.006, -0.012, 0.012, -0.006, -0.006, 0.012, -0.012, 0.006};  // leave the slope alone
  for (int i = 0; i < 8; ++i) {
    const double q = 1.0 + i;
    // 1000.3 + 999.6 x: the constant needs 13 characters of its 12-column field.
    const double x = 0.1 * q;
    thousand.push_back({x, 0.001, 1000.3 + 999.6 * x + dev[i], 0.5});
    tiny.push_back({10 * q, 0.5, 0.0005 + dev[i] * 1e-4, 1e-4});
    // Slope -0.002, deviations well inside the uncertainties: chi-square
    // below 1 grows towards it while the cubic and quadratic terms go.
    nearLine.push_back({q, 0.05, 0.95 - 0.002 * q + small[i], 0.01});
    // Slope -0.0005, deviations of two standard deviations: the linear fit
    // after the dropped quadratic term moves chi-square away from 1.
    scattered.push_back({q, 0.05, 0.90 - 0.0005 * q + large[i], 0.005});
  }
  // Q is the chi-square probability of 6 - 3 degrees of freedom,
  // erfc(sqrt(chi2 / 2)) + sqrt(2 chi2 / pi) exp(-chi2 / 2).
  const Case cases[] = {
      {"opt(1) off: coefficient lines only, a(1) over 1000", thousand, {0, 0, 0, 1, 0, 0}, {1}, nullptr, false},
      {"order 0 with opt(4) off; the last coefficient is never dropped", tiny, {1, 0, 1, 0, 0, 0}, {0}, nullptr, false},
      {"believable", parabola(10), {1, 0, 0, 1, 0, 0}, {2}, " Goodness of fit believable", false},
      {"not so good", parabola(12), {1, 0, 0, 1, 0, 0}, {2}, " Not so good fit!", false},
      {"bad", parabola(24), {1, 0, 0, 1, 0, 0}, {2}, " Bad fit!", false},
      {"two drops, then a coefficient too large", nearLine, {1, 0, 1, 0, 0, 1}, {3, 2, 1}, nullptr, false},
      {"one drop, then chi-square moving away from 1", scattered, {1, 0, 1, 0, 0, 1}, {2, 1}, nullptr, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::size_t npt = c.pts.size();
    const Outcome o = run(c.pts, c.orders[0], c.opt, c.opt[5] ? "3.73\n0\n" : "");
    ASSERT_EQ(o.r.status, 0) << o.r.err;
    const std::vector<std::string> got = slice(o.console, npt + 1, o.console.size());  // after the echo table
    std::vector<std::string> con, file;
    auto both = [&](const std::string& s) {
      con.push_back(s);
      file.push_back(" " + s);
    };
    auto next = [&] { return con.size() < got.size() ? got[con.size()] : std::string(); };
    Fit fit;
    LD prev = 1e10L;
    for (std::size_t p = 0; p < c.orders.size(); ++p) {
      const int n = c.orders[p] + 1;
      fit = weightedFit(c.pts, n);
      if (c.opt[2]) {  // the data drop exactly the coefficients the case says
        ASSERT_EQ(n > 1 && std::fabs(fit.a.back()) < 0.001L && std::fabs(1 - fit.chi2) < std::fabs(1 - prev),
                  p + 1 < c.orders.size());
      }
      prev = fit.chi2;
      if (!c.opt[0]) continue;
      both("");
      both(orderLine(n - 1, "y"));
      const std::string chi = next();
      EXPECT_TRUE(chi.size() == 37 && std::regex_match(chi, std::regex("reduced chi2= *([1-9][0-9]*\\.[0-9]{15}|"
                                                                       "[0-9]\\.[0-9]{15}E[-+][0-9]{3})")))
          << chi;
      EXPECT_TRUE(near(std::strtod(chi.c_str() + 13, nullptr), fit.chi2 / (npt - n), 1e-10));
      both(chi);
      both("");
      if (c.opt[3]) {
        const std::string q = next();
        EXPECT_TRUE(std::regex_match(q, std::regex("Q=   [1-9]\\.[0-9]{6}E-[0-9]{2}"))) << q;
        const LD x = fit.chi2 / 2;
        EXPECT_TRUE(near(std::strtod(q.c_str() + 2, nullptr),
                         std::erfc(std::sqrt(x)) + 2 * std::sqrt(x / std::acos(-1.0L)) * std::exp(-x), 2e-6));
        con.insert(con.end(), {q, c.verdict});
      }
      if (p + 1 < c.orders.size()) {
        char buf[80];
        std::snprintf(buf, sizeof buf, " Coefficient order%11d negligible", n - 1);
        con.push_back(buf);
      }
    }
    if (c.endsOnChi2) {
      ASSERT_LT(std::fabs(fit.a.back()), 0.001L) << "the last coefficient is negligible too";
    }
    for (int i = 1; i <= c.orders.back() + 1; ++i) both(coefLine(fit, i));
    both("");
    both(orderLine(c.orders.back(), "x and y"));
    EXPECT_EQ(slice(got, 0, con.size()), con) << visible(o.r.out);
    EXPECT_EQ(slice(o.results, 0, file.size()), file);
    if (c.opt[5]) {
      // The first answer is the last weighted fit's polynomial, free of any
      // coefficient dropped on the way.
      const std::string first = "Quenching index:     3.73  Detection efficiency:" + fixedField(fit.at(3.73L), 6, 4) +
                                " +/-" + fixedField(fit.sdAt(3.73L), 6, 4);
      EXPECT_NE(std::find(got.begin(), got.end(), first), got.end()) << first << " in\n" << visible(o.r.out);
    }
  }
}

TEST(Report, FitsThatCannotBeMadeEndTheRun) {
  struct Case {
    const char* what;
    std::vector<Point> pts;
    int order;
    std::string outTail, errRegex;
    std::vector<std::string> results;
  } cases[] = {
      {"zero efficiency uncertainty: a warning, then M6103 in the first fit, only the echo table printed",
       {{10, 0.5, 0.90, 0.01}, {20, 0.5, 0.80, 0.0}, {30, 0.5, 0.70, 0.01}, {40, 0.5, 0.61, 0.01}},
       1,
       "Q index   Effic     sdev\r\n  10.00   90.00    1.00\r\n  20.00   80.00     .00\r\n"
       "  30.00   70.00    1.00\r\n  40.00   61.00    1.00\r\n",
       "^tarvel1: warning: point 2: efficiency uncertainty is 0 \\(the fit will divide by zero\\)\n"
       "\r\n[^\r\n]*run-time error M6103: MATH\r\n- floating-point error: divide by zero\r\n"
       "[\\s\\S]*\r\n\t\tfrom main program in [^\r\n]*\r\n$",
       {}},
      {"as many points as coefficients with the report on: refused right after the point count",
       {{10, 0.5, 0.90, 0.01}, {20, 0.5, 0.80, 0.01}, {30, 0.5, 0.75, 0.01}},
       2,
       "",
       "^\r\nrun\\.cpp\\([0-9]+\\) : run-time error F6507: READ\\(points\\.dat\\)\r\n"
       "- as many points as coefficients leave no degree of freedom for reduced chi2\r\n",
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Outcome o = run(c.pts, c.order, {1, 0, 1, 1, 1, 1});
    EXPECT_EQ(o.r.status, 1);
    EXPECT_TRUE(o.r.out.ends_with(c.outTail)) << visible(o.r.out);
    EXPECT_TRUE(std::regex_search(o.r.err, std::regex(c.errRegex))) << visible(o.r.err);
    EXPECT_EQ(o.results, c.results);
  }
}
