// Whole runs of the program that exercise the report of the weighted fit:
// the report lines under each switch, the goodness-of-fit verdicts, the
// dropping of negligible coefficients, the coefficient listing checked against
// weighted normal equations solved here in long double, and the fatal ends
// of a fit that cannot be made.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iomanip>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "calibration.h"
#include "support.h"

using namespace testsupport;

namespace {

using LD = long double;

// ------------------------------------------------ independent reference

// A weighted least-squares polynomial: coefficients (constant first), their
// standard deviations and the chi-square.
struct Reference {
  std::vector<LD> a, sd;
  std::vector<std::vector<LD>> cov;
  LD chi2 = 0;

  LD at(LD q) const {
    LD y = 0;
    for (int j = static_cast<int>(a.size()) - 1; j >= 0; --j) y = y * q + a[j];
    return y;
  }
  // The standard deviation of the polynomial's value at q.
  LD sdAt(LD q) const {
    LD v = 0, pj = 1;
    for (std::size_t j = 0; j < a.size(); ++j, pj *= q) {
      LD pm = 1;
      for (std::size_t m = 0; m < a.size(); ++m, pm *= q) v += cov[j][m] * pj * pm;
    }
    return std::sqrt(v);
  }
};

// Solves the weighted normal equations of a polynomial with `ncoef`
// coefficients by Gauss-Jordan elimination with partial pivoting, in long
// double; the inverse of the normal matrix is the covariance.
Reference weightedFit(const std::vector<Point>& pts, int ncoef) {
  const int n = ncoef;
  std::vector<std::vector<LD>> m(n, std::vector<LD>(2 * n + 1, 0));
  for (const Point& p : pts) {
    const LD w = 1.0L / (static_cast<LD>(p.ue) * p.ue);
    std::vector<LD> x(n);
    for (int j = 0; j < n; ++j) x[j] = j == 0 ? 1.0L : x[j - 1] * p.q;
    for (int r = 0; r < n; ++r) {
      for (int c = 0; c < n; ++c) m[r][c] += w * x[r] * x[c];
      m[r][2 * n] += w * x[r] * p.e;
    }
  }
  for (int r = 0; r < n; ++r) m[r][n + r] = 1;
  for (int col = 0; col < n; ++col) {
    int piv = col;
    for (int r = col + 1; r < n; ++r)
      if (std::fabs(m[r][col]) > std::fabs(m[piv][col])) piv = r;
    std::swap(m[piv], m[col]);
    const LD d = m[col][col];
    for (LD& v : m[col]) v /= d;
    for (int r = 0; r < n; ++r) {
      if (r == col) continue;
      const LD f = m[r][col];
      for (int c = 0; c <= 2 * n; ++c) m[r][c] -= f * m[col][c];
    }
  }
  Reference ref;
  for (int j = 0; j < n; ++j) {
    ref.a.push_back(m[j][2 * n]);
    ref.sd.push_back(std::sqrt(m[j][n + j]));
    ref.cov.emplace_back(m[j].begin() + n, m[j].begin() + 2 * n);
  }
  for (const Point& p : pts) {
    LD y = 0;
    for (int j = n - 1; j >= 0; --j) y = y * p.q + ref.a[j];
    const LD r = (p.e - y) / p.ue;
    ref.chi2 += r * r;
  }
  return ref;
}

// Q(a, x) = 1 - P(a, x), with P from its power series
// x^a e^-x sum x^n / Gamma(a + n + 1), summed in long double.
LD upperGammaQ(LD a, LD x) {
  LD term = std::exp(a * std::log(x) - x - std::lgamma(a + 1));
  LD sum = term;
  for (int n = 1; n < 10000 && term > sum * 1e-24L; ++n) {
    term *= x / (a + n);
    sum += term;
  }
  return 1 - sum;
}

// The fixed-point text of `v` in a field of w with d decimals: no zero
// before the point, no sign on a value that rounds to zero, asterisks when
// the text does not fit.
std::string fixedField(LD v, int w, int d) {
  char buf[80];
  std::snprintf(buf, sizeof buf, "%.*Lf", d, std::fabs(v));
  std::string s = buf;
  if (s.size() > 1 && s[0] == '0' && s[1] == '.') s.erase(0, 1);
  if (v < 0 && s.find_first_not_of("0.") != std::string::npos) s = "-" + s;
  if (static_cast<int>(s.size()) > w) return std::string(w, '*');
  return std::string(w - s.size(), ' ') + s;
}

// True when `v` lies clear of every rounding boundary of d decimals, so that
// the program's double result and the long double reference print alike.
bool clearOfRoundingBoundary(LD v, int d) {
  const LD x = std::fabs(v) * std::pow(10.0L, d);
  return std::fabs(x - std::floor(x) - 0.5L) > 1e-3L;
}

std::string str(LD v) {
  std::ostringstream s;
  s << std::setprecision(20) << v;
  return s.str();
}

// The coefficient line " a(i)" F12.8 " " F12.8 of the reference.
std::string coefLine(const Reference& ref, int i) {
  EXPECT_TRUE(clearOfRoundingBoundary(ref.a[i - 1], 8)) << "a(" << i << ") = " << str(ref.a[i - 1]);
  EXPECT_TRUE(clearOfRoundingBoundary(ref.sd[i - 1], 8)) << "sd(" << i << ") = " << str(ref.sd[i - 1]);
  return " a(" + std::to_string(i) + ")" + fixedField(ref.a[i - 1], 12, 8) + " " + fixedField(ref.sd[i - 1], 12, 8);
}

// ------------------------------------------------------ runs and records

struct Outcome {
  RunResult r;
  std::vector<std::string> console;  // console records, echo table included
  std::vector<std::string> results;  // results-file records
};

Outcome runCalibration(const std::vector<Point>& pts, int order, std::array<int, 6> opt, double urel = 0.005,
                       const std::string& input = "") {
  ScratchDir d;
  d.write("control.dat", controlFile("points.dat", order, opt));
  d.write("points.dat", dataFile(pts, urel));
  Outcome run;
  run.r = runProgram(d.path(), input);
  run.console = crlfRecords(run.r.out);
  run.results = crlfRecords(d.read("results.dat"));
  return run;
}

// The console records that follow the echo table of `npt` points.
std::vector<std::string> afterEcho(const Outcome& run, std::size_t npt) {
  if (run.console.size() < npt + 1) return {};
  return {run.console.begin() + static_cast<long>(npt + 1), run.console.end()};
}

// The value of a "reduced chi2=" record (file form, leading blank included
// when `file`), after checking the 24-column field of a 64-bit real.
double reducedChi2(const std::string& rec, bool file) {
  const std::string head = std::string(file ? " " : "") + "reduced chi2=";
  EXPECT_EQ(rec.substr(0, head.size()), head) << rec;
  EXPECT_EQ(rec.size(), head.size() + 24) << rec;
  const std::string field = rec.substr(head.size());
  EXPECT_TRUE(std::regex_match(field, std::regex(" *([1-9][0-9]*\\.[0-9]{15}|[0-9]\\.[0-9]{15}E[-+][0-9]{3})")))
      << "[" << field << "]";
  return std::strtod(field.c_str(), nullptr);
}

std::string orderLine(int order, bool file) {
  char buf[80];
  std::snprintf(buf, sizeof buf, "%s%11d order polynomial fit with uncertainties in y", file ? " " : "", order);
  return buf;
}

::testing::AssertionResult relativelyNear(double got, LD want, LD tol) {
  const LD diff = std::fabs(got - want);
  if (diff <= tol * std::fabs(want)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << std::setprecision(17) << "printed " << got << ", reference "
                                       << static_cast<double>(want) << ", relative difference "
                                       << static_cast<double>(diff / std::fabs(want));
}

// ----------------------------------------------------------------- data

// Six indices with unequal uncertainties about 0.95 - 0.004 q + 0.00002 q^2,
// plus an alternating deviation of c standard deviations at every point.
std::vector<Point> parabolaPoints(LD c) {
  const double q[6] = {10, 20, 30, 40, 50, 60};
  const double ue[6] = {0.003, 0.004, 0.005, 0.003, 0.004, 0.005};
  std::vector<Point> pts;
  for (int i = 0; i < 6; ++i) {
    const LD base = 0.95L - 0.004L * q[i] + 0.00002L * q[i] * q[i];
    const LD dev = (i % 2 == 0 ? 1 : -1) * c * ue[i];
    pts.push_back({q[i], 0.2 + 0.02 * i, static_cast<double>(base + dev), ue[i]});
  }
  return pts;
}

// The parabola data scaled so that the quadratic fit's chi-square is `chi2`.
std::vector<Point> parabolaWithChi2(LD chi2) {
  const LD unit = weightedFit(parabolaPoints(1), 3).chi2;
  return parabolaPoints(std::sqrt(chi2 / unit));
}

}  // namespace

TEST(Report, ReferenceSeriesMatchesClosedForms) {
  // Q(1, x) = e^-x and Q(2, x) = (1 + x) e^-x.
  EXPECT_NEAR(static_cast<double>(upperGammaQ(1, 4)), std::exp(-4.0), 1e-15);
  EXPECT_NEAR(static_cast<double>(upperGammaQ(2, 3.5L)), 4.5 * std::exp(-3.5), 1e-15);
  EXPECT_EQ(fixedField(0.5L, 6, 4), " .5000");
  EXPECT_EQ(fixedField(-0.00004L, 6, 4), " .0000");
  EXPECT_EQ(fixedField(1000.25L, 12, 8), "************");
  EXPECT_EQ(fixedField(-0.0023119L, 12, 8), "  -.00231190");
}

TEST(Report, WithoutReportSwitchOnlyCoefficientLines) {
  // opt(4) on but opt(1) off: neither the report nor a probability.
  const std::vector<Point> pts = examplePoints();
  const Outcome run = runCalibration(pts, 2, {0, 0, 0, 1, 0, 0});
  ASSERT_EQ(run.r.status, 0) << run.r.err;
  const Reference ref = weightedFit(pts, 3);
  const auto con = afterEcho(run, pts.size());
  ASSERT_GE(con.size(), 5u) << visible(run.r.out);
  ASSERT_GE(run.results.size(), 5u);
  for (int i = 1; i <= 3; ++i) {
    const std::string line = coefLine(ref, i);
    EXPECT_EQ(con[i - 1], line.substr(1)) << "console coefficient " << i;
    EXPECT_EQ(run.results[i - 1], line) << "results coefficient " << i;
  }
  // The Monte Carlo report follows at once.
  EXPECT_EQ(con[3], "");
  EXPECT_EQ(con[4], "          2 order polynomial fit with uncertainties in x and y");
  EXPECT_EQ(run.results[3], " ");
  EXPECT_EQ(run.results[4], "           2 order polynomial fit with uncertainties in x and y");
  EXPECT_EQ(run.r.out.find("Q="), std::string::npos) << visible(run.r.out);
  EXPECT_EQ(run.r.out.find("reduced chi2"), std::string::npos) << visible(run.r.out);
}

TEST(Report, ReportWithoutProbability) {
  std::vector<Point> pts = examplePoints();
  const Outcome run = runCalibration(pts, 1, {1, 0, 0, 0, 0, 0});
  ASSERT_EQ(run.r.status, 0) << run.r.err;
  const Reference ref = weightedFit(pts, 2);
  const LD reduced = ref.chi2 / (pts.size() - 2);
  const auto con = afterEcho(run, pts.size());
  ASSERT_GE(con.size(), 6u) << visible(run.r.out);
  EXPECT_EQ(con[0], "");
  EXPECT_EQ(con[1], orderLine(1, false));
  EXPECT_TRUE(relativelyNear(reducedChi2(con[2], false), reduced, 1e-11));
  EXPECT_EQ(con[3], "");
  EXPECT_EQ(con[4], coefLine(ref, 1).substr(1)) << "no Q= line before the coefficients";
  EXPECT_EQ(con[5], coefLine(ref, 2).substr(1));
  // The results file: the same report with its leading blanks.
  ASSERT_GE(run.results.size(), 6u);
  EXPECT_EQ(run.results[0], " ");
  EXPECT_EQ(run.results[1], orderLine(1, true));
  EXPECT_EQ(run.results[2], " " + con[2]);
  EXPECT_EQ(run.results[3], " ");
  EXPECT_EQ(run.results[4], coefLine(ref, 1));
  EXPECT_EQ(run.results[5], coefLine(ref, 2));
  EXPECT_EQ(run.r.out.find("Q="), std::string::npos) << visible(run.r.out);
}

TEST(Report, ProbabilityAndVerdicts) {
  // Quadratic fits of six points: the probability is Q((6 - 3) / 3, chi2 / 3)
  // = exp(-chi2 / 3). The first case is believable only with the divisor 3;
  // with a divisor of 2 it would be Q(1.5, 6) = 0.0074.
  struct Case {
    LD chi2;
    LD qLow, qHigh;  // the band the reference probability must lie in
    const char* verdict;
  } cases[] = {
      {12.0L, 0.01L, 1.0L, " Goodness of fit believable"},
      {16.5L, 0.001L, 0.01L, " Not so good fit!"},
      {24.0L, 0.0L, 0.001L, " Bad fit!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.verdict);
    const std::vector<Point> pts = parabolaWithChi2(c.chi2);
    const Reference ref = weightedFit(pts, 3);
    ASSERT_NEAR(static_cast<double>(ref.chi2), static_cast<double>(c.chi2), 1e-9);
    const LD q = upperGammaQ(3.0L / 3.0L, ref.chi2 / 3.0L);
    ASSERT_GT(q, c.qLow);
    ASSERT_LT(q, c.qHigh);
    const Outcome run = runCalibration(pts, 2, {1, 0, 0, 1, 0, 0});
    ASSERT_EQ(run.r.status, 0) << run.r.err;
    const auto con = afterEcho(run, pts.size());
    ASSERT_GE(con.size(), 9u) << visible(run.r.out);
    EXPECT_EQ(con[0], "");
    EXPECT_EQ(con[1], orderLine(2, false));
    EXPECT_TRUE(relativelyNear(reducedChi2(con[2], false), ref.chi2 / 3.0L, 1e-11));
    EXPECT_EQ(con[3], "");
    // "Q=" and a 32-bit real in 15 columns, exponent form below 1.
    ASSERT_EQ(con[4].size(), 17u) << con[4];
    EXPECT_TRUE(std::regex_match(con[4], std::regex("Q=   [1-9]\\.[0-9]{6}E-[0-9]{2}"))) << con[4];
    EXPECT_TRUE(relativelyNear(std::strtod(con[4].c_str() + 2, nullptr), q, 2e-6));
    EXPECT_EQ(con[5], c.verdict);
    for (int i = 1; i <= 3; ++i) EXPECT_EQ(con[5 + i], coefLine(ref, i).substr(1));
    // The probability and the verdict are for the console only.
    ASSERT_GE(run.results.size(), 7u);
    const std::string expected[] = {" ", orderLine(2, true), " " + con[2], " ", coefLine(ref, 1),
                                    coefLine(ref, 2), coefLine(ref, 3)};
    for (int k = 0; k < 7; ++k) EXPECT_EQ(run.results[k], expected[k]) << "results record " << k;
  }
}

TEST(Report, OrderZeroListsOneCoefficient) {
  // A constant: the weighted mean. Q = Q(npt - 1, chi2).
  const std::vector<Point> pts = {{10, 0.5, 0.912, 0.004}, {20, 0.5, 0.908, 0.003}, {30, 0.5, 0.917, 0.005},
                                  {40, 0.5, 0.906, 0.004}, {50, 0.5, 0.910, 0.006}};
  const Reference ref = weightedFit(pts, 1);
  const LD q = upperGammaQ(4, ref.chi2);
  ASSERT_GT(q, 0.01L);
  const Outcome run = runCalibration(pts, 0, {1, 0, 1, 1, 0, 0});
  ASSERT_EQ(run.r.status, 0) << run.r.err;
  const auto con = afterEcho(run, pts.size());
  ASSERT_GE(con.size(), 9u) << visible(run.r.out);
  EXPECT_EQ(con[1], orderLine(0, false));
  EXPECT_TRUE(relativelyNear(reducedChi2(con[2], false), ref.chi2 / 4, 1e-11));
  EXPECT_TRUE(relativelyNear(std::strtod(con[4].c_str() + 2, nullptr), q, 2e-6)) << con[4];
  EXPECT_EQ(con[5], " Goodness of fit believable");
  // opt(3) on, but the last coefficient is never dropped.
  EXPECT_EQ(con[6], coefLine(ref, 1).substr(1));
  EXPECT_EQ(con[7], "");
  EXPECT_EQ(con[8], "          0 order polynomial fit with uncertainties in x and y");
  ASSERT_GE(run.results.size(), 6u);
  EXPECT_EQ(run.results[4], coefLine(ref, 1));
  EXPECT_EQ(run.results[5], " ");
}

TEST(Report, DroppingNegligibleCoefficients) {
  struct Case {
    const char* what;
    std::vector<Point> pts;
    int order;
    std::vector<int> orders;  // the orders of the successive fits
  };
  // Points close to a straight line of slope -0.002, with deviations well
  // inside their uncertainties: chi-square stays below 1 and grows towards
  // it as coefficients go, so the cubic and the quadratic terms are dropped
  // and the slope, of magnitude 0.002, stays.
  std::vector<Point> nearLine, scattered;
  const double small[8] = {0.0004, -0.0007, 0.0002, 0.0005, -0.0006, 0.0001, -0.0003, 0.0006};
  // Symmetric about the middle index, so they leave the slope alone.
  const double large[8] = {0.006, -0.012, 0.012, -0.006, -0.006, 0.012, -0.012, 0.006};
  for (int i = 0; i < 8; ++i) {
    const double q = 1.0 + i;
    nearLine.push_back({q, 0.05, 0.95 - 0.002 * q + small[i], 0.01});
    // A slope of -0.0005 under deviations of about two standard deviations:
    // chi-square far above 1, so the linear fit that follows the dropped
    // quadratic term moves away from 1 and ends the loop, though its slope
    // is negligible too.
    scattered.push_back({q, 0.05, 0.90 - 0.0005 * q + large[i], 0.005});
  }
  const Case cases[] = {
      {"two drops, then a coefficient too large", nearLine, 3, {3, 2, 1}},
      {"one drop, then chi-square moving away from 1", scattered, 2, {2, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // The expected sequence follows from the reference fits.
    std::vector<Reference> refs;
    LD prev = 1e10L;
    for (int order : c.orders) {
      refs.push_back(weightedFit(c.pts, order + 1));
      const Reference& r = refs.back();
      const bool drops = std::fabs(r.a[order]) < 0.001L && std::fabs(1 - r.chi2) < std::fabs(1 - prev);
      ASSERT_EQ(drops, order != c.orders.back()) << "order " << order << " a=" << str(r.a[order])
                                                  << " chi2=" << str(r.chi2);
      prev = r.chi2;
    }
    const Reference& last = refs.back();
    if (c.orders.size() == 2) {
      // The last fit stays because of its chi-square alone.
      ASSERT_LT(std::fabs(last.a.back()), 0.001L);
      ASSERT_GT(last.chi2, refs[0].chi2);
      ASSERT_GT(refs[0].chi2, 1);
    }
    // One query: its first answer is the last weighted fit's polynomial,
    // free of any coefficient dropped on the way.
    const Outcome run = runCalibration(c.pts, c.order, {1, 0, 1, 0, 0, 1}, 0.005, "3.73\n0\n");
    ASSERT_EQ(run.r.status, 0) << run.r.err;
    const auto got = afterEcho(run, c.pts.size());
    // Expected records; the chi-square fields are checked by value and then
    // taken over.
    std::vector<std::string> con, file;
    for (std::size_t p = 0; p < c.orders.size(); ++p) {
      const int order = c.orders[p];
      const LD reduced = refs[p].chi2 / static_cast<LD>(c.pts.size() - order - 1);
      const std::size_t k = con.size() + 2, kf = file.size() + 2;
      ASSERT_GT(got.size(), k) << visible(run.r.out);
      ASSERT_GT(run.results.size(), kf);
      EXPECT_TRUE(relativelyNear(reducedChi2(got[k], false), reduced, 1e-10)) << "order " << order;
      con.insert(con.end(), std::initializer_list<std::string>{"", orderLine(order, false), got[k], ""});
      file.insert(file.end(), std::initializer_list<std::string>{" ", orderLine(order, true), run.results[kf], " "});
      EXPECT_EQ(run.results[kf], " " + got[k]);
      if (p + 1 < c.orders.size()) {
        char buf[80];
        std::snprintf(buf, sizeof buf, " Coefficient order%11d negligible", order);
        con.push_back(buf);
      }
    }
    for (int i = 1; i <= c.orders.back() + 1; ++i) {
      con.push_back(coefLine(last, i).substr(1));
      file.push_back(coefLine(last, i));
    }
    ASSERT_GE(got.size(), con.size()) << visible(run.r.out);
    for (std::size_t k = 0; k < con.size(); ++k) EXPECT_EQ(got[k], con[k]) << "console record " << k;
    ASSERT_GE(run.results.size(), file.size() + 2);
    for (std::size_t k = 0; k < file.size(); ++k) EXPECT_EQ(run.results[k], file[k]) << "results record " << k;
    ASSERT_TRUE(clearOfRoundingBoundary(last.at(3.73L), 4)) << str(last.at(3.73L));
    ASSERT_TRUE(clearOfRoundingBoundary(last.sdAt(3.73L), 4)) << str(last.sdAt(3.73L));
    const std::string first = "Quenching index:     3.73  Detection efficiency:" + fixedField(last.at(3.73L), 6, 4) +
                              " +/-" + fixedField(last.sdAt(3.73L), 6, 4);
    const std::size_t q = con.size();
    EXPECT_NE(std::find(got.begin() + static_cast<long>(q), got.end(), first), got.end())
        << "first answer " << first << " in\n" << visible(run.r.out);
    EXPECT_EQ(run.results[file.size()], " ");
    EXPECT_EQ(run.results[file.size() + 1].substr(0, 12), std::string(11, ' ') + std::to_string(c.orders.back()));
  }
}

TEST(Report, CoefficientOfAThousandShowsAsterisks) {
  // 1000.3 + 999.6 q: the constant needs 13 characters in the 12.8 field,
  // the slope exactly 12.
  std::vector<Point> pts;
  const double dev[8] = {0.3, -0.2, -0.4, 0.1, 0.5, -0.3, 0.2, -0.1};
  for (int i = 0; i < 8; ++i) {
    const double q = 0.1 * (i + 1);
    pts.push_back({q, 0.001, 1000.3 + 999.6 * q + dev[i], 0.5});
  }
  const Reference ref = weightedFit(pts, 2);
  ASSERT_GE(ref.a[0], 1000);
  ASSERT_LT(ref.a[1], 1000);
  const Outcome run = runCalibration(pts, 1, {0, 0, 0, 0, 0, 0});
  ASSERT_EQ(run.r.status, 0) << run.r.err;
  const auto con = afterEcho(run, pts.size());
  ASSERT_GE(con.size(), 2u) << visible(run.r.out);
  EXPECT_EQ(con[0], "a(1)************ " + fixedField(ref.sd[0], 12, 8));
  EXPECT_EQ(con[0], coefLine(ref, 1).substr(1));
  EXPECT_EQ(con[1], coefLine(ref, 2).substr(1));
  EXPECT_EQ(con[1].substr(4, 4), "999.") << con[1];
  ASSERT_GE(run.results.size(), 2u);
  EXPECT_EQ(run.results[0], coefLine(ref, 1));
  EXPECT_EQ(run.results[1], coefLine(ref, 2));
}

TEST(Report, ZeroEfficiencyUncertaintyEndsTheRunInTheFirstFit) {
  std::vector<Point> pts = {{10, 0.5, 0.90, 0.01}, {20, 0.5, 0.80, 0.0}, {30, 0.5, 0.70, 0.01},
                            {40, 0.5, 0.61, 0.01}};
  const Outcome run = runCalibration(pts, 1, {1, 0, 1, 1, 1, 1});
  EXPECT_EQ(run.r.status, 1);
  // Standard output holds the echo table alone, with its last line break.
  std::string echo = "Q index   Effic     sdev";
  for (const Point& p : pts)
    echo += "\r\n" + fixedField(p.q, 7, 2) + "  " + fixedField(100.0L * p.e, 6, 2) + "  " +
            fixedField(100.0L * p.ue, 6, 2);
  EXPECT_EQ(run.r.out, echo + "\r\n") << visible(run.r.out);
  EXPECT_TRUE(run.results.empty());
  EXPECT_TRUE(std::regex_search(run.r.err, std::regex("^\r\n[^\r\n]*run-time error M6103: MATH\r\n"
                                                       "- floating-point error: divide by zero\r\n")))
      << visible(run.r.err);
  EXPECT_TRUE(std::regex_search(run.r.err, std::regex("\r\n\t\tfrom main program in [^\r\n]*\r\n$")))
      << visible(run.r.err);
}

TEST(Report, NoDegreesOfFreedomEndsTheRunAfterTheOrderLine) {
  const std::vector<Point> pts = {{10, 0.5, 0.90, 0.01}, {20, 0.5, 0.80, 0.01}, {30, 0.5, 0.75, 0.01}};
  const Outcome run = runCalibration(pts, 2, {1, 0, 0, 1, 0, 0});
  EXPECT_EQ(run.r.status, 1);
  const std::string tail = "\r\n\r\n" + orderLine(2, false) + "\r\n";
  ASSERT_GE(run.r.out.size(), tail.size()) << visible(run.r.out);
  EXPECT_EQ(run.r.out.substr(run.r.out.size() - tail.size()), tail) << visible(run.r.out);
  EXPECT_EQ(run.r.out.find("reduced"), std::string::npos) << visible(run.r.out);
  EXPECT_TRUE(std::regex_search(run.r.err, std::regex("run-time error M610[13]: MATH\r\n- floating-point error: ")))
      << visible(run.r.err);
  // The results file keeps what was written before the division.
  const std::vector<std::string> file = {" ", orderLine(2, true)};
  EXPECT_EQ(run.results, file);
}
