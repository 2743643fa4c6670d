// Whole runs of the program that exercise the phases after the weighted fit:
// the Monte Carlo report and the covariance records, the residual table, the
// curve file courbe.dat, the query loop fed from standard input, and the
// reproducibility of a run.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "calibration.h"
#include "support.h"

using namespace testsupport;

namespace {

const std::string kStop = "Stop - Program terminated.";
const std::string kPrompt = "Quenching index? (0 to stop)";
const std::string kResidualHead = " Q-index   e-exp   e-calc  sdev    MC";
const std::string kCurveHead = "   QE        e        Ue";

// The fixed-point text of `v` in a field of w with d decimals: no zero
// before the point, no sign on a value that rounds to zero.
std::string fixedField(double v, int w, int d) {
  char buf[80];
  std::snprintf(buf, sizeof buf, "%.*f", d, std::fabs(v));
  std::string s = buf;
  if (s.size() > 1 && s[0] == '0' && s[1] == '.') s.erase(0, 1);
  if (v < 0 && s.find_first_not_of("0.") != std::string::npos) s = "-" + s;
  if (static_cast<int>(s.size()) > w) return std::string(w, '*');
  return std::string(w - s.size(), ' ') + s;
}

std::string num(double v) {
  std::ostringstream s;
  s << std::setprecision(17) << v;
  return s.str();
}

double parse(const std::string& field) { return std::strtod(field.c_str(), nullptr); }

// A calibration in a scratch directory and what a run of it left behind.
struct Outcome {
  RunResult r;
  std::vector<std::string> console, results, curve;
  bool curveExists = false;
  std::string resultsBytes, curveBytes;
};

void collect(const ScratchDir& d, const std::string& resfile, Outcome& o) {
  o.console = crlfRecords(o.r.out);
  o.resultsBytes = d.read(resfile);
  o.results = crlfRecords(o.resultsBytes);
  o.curveExists = d.exists("courbe.dat");
  o.curveBytes = o.curveExists ? d.read("courbe.dat") : "";
  o.curve = crlfRecords(o.curveBytes);
}

Outcome runCalibration(const std::vector<Point>& pts, int order, std::array<int, 6> opt, const std::string& input = "",
                       double urel = 0.005, const std::string& oldCurve = "") {
  ScratchDir d;
  d.write("control.dat", controlFile("points.dat", order, opt));
  d.write("points.dat", dataFile(pts, urel));
  if (!oldCurve.empty()) d.write("courbe.dat", oldCurve);
  Outcome o;
  o.r = runProgram(d.path(), input);
  collect(d, "results.dat", o);
  return o;
}

// Index of the first record equal to `rec` at or after `from`, or the size.
std::size_t find(const std::vector<std::string>& recs, const std::string& rec, std::size_t from = 0) {
  for (std::size_t k = from; k < recs.size(); ++k)
    if (recs[k] == rec) return k;
  return recs.size();
}

// One answer line of the query loop, console form (no leading blank).
struct Answer {
  std::string q, e, sd;
};

Answer answer(const std::string& rec) {
  static const std::regex re("Quenching index:  (.{7})  Detection efficiency:(.{6}) \\+/-(.{6})");
  std::smatch m;
  if (!std::regex_match(rec, m, re)) {
    ADD_FAILURE() << "not an answer line: [" << rec << "]";
    return {};
  }
  return {m[1], m[2], m[3]};
}

// One row of the residual table, file form.
struct Residual {
  std::string q, eexp, ecalc, sdev, mc;
};

Residual residual(const std::string& rec) {
  static const std::regex re(" (.{7})  (.{6})  (.{6})  (.{5})  (.{5})");
  std::smatch m;
  if (rec.size() != 38 || !std::regex_match(rec, m, re)) {
    ADD_FAILURE() << "not a residual row: [" << rec << "]";
    return {};
  }
  return {m[1], m[2], m[3], m[4], m[5]};
}

// The rows of the residual table in a results file.
std::vector<Residual> residualTable(const Outcome& o, std::size_t npt) {
  const std::size_t head = find(o.results, kResidualHead);
  EXPECT_LT(head, o.results.size()) << "no residual table";
  EXPECT_GE(head, 1u);
  if (head >= o.results.size() || head == 0) return {};
  EXPECT_EQ(o.results[head - 1], " ");
  std::vector<Residual> rows;
  for (std::size_t i = 0; i < npt && head + 1 + i < o.results.size(); ++i) rows.push_back(residual(o.results[head + 1 + i]));
  EXPECT_EQ(rows.size(), npt);
  return rows;
}

// The quenching indices of the curve file: from qmin, a step of
// (qmax - qmin) / 100 added each time, up to the first one past qmax.
std::vector<double> curveAbscissae(double qmin, double qmax) {
  std::vector<double> q;
  const double step = (qmax - qmin) / 100.0;
  for (double x = qmin;; x = x + step) {
    q.push_back(x);
    if (qmax < x) break;
  }
  return q;
}

// Checks the heading and rows of a curve file; returns the parsed rows.
std::vector<std::array<std::string, 3>> checkCurve(const Outcome& o, double qmin, double qmax) {
  const std::vector<double> q = curveAbscissae(qmin, qmax);
  EXPECT_EQ(o.curve.size(), q.size() + 1);
  std::vector<std::array<std::string, 3>> rows;
  if (o.curve.empty()) return rows;
  EXPECT_EQ(o.curve[0], kCurveHead);
  static const std::regex re(" (.{8})  (.{6})  (.{6})");
  for (std::size_t k = 1; k < o.curve.size(); ++k) {
    std::smatch m;
    if (o.curve[k].size() != 25 || !std::regex_match(o.curve[k], m, re)) {
      ADD_FAILURE() << "curve row " << k << ": [" << o.curve[k] << "]";
      continue;
    }
    if (k - 1 < q.size()) {
      EXPECT_EQ(m[1].str(), fixedField(q[k - 1], 8, 4)) << "row " << k << ", q " << num(q[k - 1]);
    }
    EXPECT_TRUE(std::regex_match(m[2].str(), std::regex(" *-?[0-9]*\\.[0-9]{4}"))) << o.curve[k];
    EXPECT_TRUE(std::regex_match(m[3].str(), std::regex(" *[0-9]*\\.[0-9]{4}"))) << o.curve[k];
    rows.push_back({m[1], m[2], m[3]});
  }
  return rows;
}

// Points on a smooth falling curve at the given indices, efficiencies with
// four decimals.
std::vector<Point> fallingPoints(const std::vector<double>& q, double q0, double span) {
  const double dev[] = {0.0012, -0.0008, 0.0005, -0.0011, 0.0009, -0.0004, 0.0010, -0.0007, 0.0003, -0.0009, 0.0006};
  std::vector<Point> pts;
  for (std::size_t i = 0; i < q.size(); ++i) {
    const double t = (q[i] - q0) / span;
    const double e = std::round((0.95 - 0.25 * t - 0.05 * t * t + dev[i % 11]) * 1e4) / 1e4;
    pts.push_back({q[i], 0.01 * span, e, 0.003 + 0.0002 * static_cast<double>(i)});
  }
  return pts;
}

// A covariance value in its 13-column field.
double covField(const std::string& f) {
  EXPECT_EQ(f.size(), 13u);
  EXPECT_TRUE(std::regex_match(f, std::regex(" *-?[0-9]*\\.[0-9]{7}"))) << "[" << f << "]";
  return parse(f);
}


}  // namespace

TEST(Phases, MonteCarloReportOfOneCoefficient) {
  // A constant of about 50 with uncertainties of 1.5 to 2.2: large enough
  // for the covariance to show eight digits. The trials add the common
  // relative deviation (1% of the mean) to the spread of a weighted mean, so
  // the printed variance is about 2 / sum(1/ue^2) + (0.01 mean)^2.
  std::vector<Point> pts;
  const double e[8] = {50.3, 48.9, 51.2, 49.6, 50.8, 49.1, 50.1, 51.0};
  double sw = 0, swe = 0;
  for (int i = 0; i < 8; ++i) {
    const double ue = 1.5 + 0.1 * i;
    pts.push_back({10.0 * (i + 1), 0.5, e[i], ue});
    sw += 1 / (ue * ue);
    swe += e[i] / (ue * ue);
  }
  const double mean = swe / sw, expectedVar = 2 / sw + (0.01 * mean) * (0.01 * mean);
  // opt(5) off with an older courbe.dat: left alone.
  const std::string oldCurve = "older curve\r\n";
  ScratchDir d;
  d.write("control.dat", controlFile("points.dat", 0, {0, 0, 0, 0, 0, 0}));
  d.write("points.dat", dataFile(pts, 0.01));
  d.write("courbe.dat", oldCurve);
  Outcome o;
  o.r = runProgram(d.path());
  collect(d, "results.dat", o);
  ASSERT_EQ(o.r.status, 0) << o.r.err;
  EXPECT_EQ(o.curveBytes, oldCurve);

  // Results file: the weighted fit's line, then the Monte Carlo report and
  // the covariance, then the residual table.
  ASSERT_GE(o.results.size(), 11u);
  EXPECT_EQ(o.results[1], " ");
  EXPECT_EQ(o.results[2], "           0 order polynomial fit with uncertainties in x and y");
  EXPECT_EQ(o.results[3], " ");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(o.results[4], m, std::regex(" a\\(1\\)(.{12}) (.{12})"))) << o.results[4];
  const double amc = parse(m[1]), sd = parse(m[2]);
  EXPECT_EQ(o.results[5], " ");
  EXPECT_EQ(o.results[6], " ");
  EXPECT_EQ(o.results[7], "  Covariance matrix");
  ASSERT_EQ(o.results[8].size(), 14u) << o.results[8];
  EXPECT_EQ(o.results[8][0], ' ');
  const double var = covField(o.results[8].substr(1));
  EXPECT_EQ(o.results[9], " ");
  EXPECT_EQ(o.results[10], kResidualHead);
  // The printed uncertainty is the root of the printed variance.
  EXPECT_NEAR(sd * sd, var, 6e-8 + 2 * sd * 5e-9) << "sd " << num(sd) << ", variance " << num(var);
  // Sampling spreads over 10000 trials: about 1.4% on a variance, and a
  // hundredth of a deviation on the mean.
  EXPECT_NEAR(var, expectedVar, 0.08 * expectedVar) << num(var) << " vs " << num(expectedVar);
  EXPECT_NEAR(amc, mean, 5 * std::sqrt(var) / 100) << num(amc) << " vs " << num(mean);

  // Console: the same records without their first blank, and one more
  // empty record after the covariance.
  const std::size_t mc = find(o.console, "          0 order polynomial fit with uncertainties in x and y");
  ASSERT_GE(mc, 1u);
  ASSERT_LT(mc + 8, o.console.size()) << visible(o.r.out);
  EXPECT_EQ(o.console[mc - 2], o.results[0].substr(1)) << "the weighted fit's coefficient line";
  const std::vector<std::string> tail = {"",
                                         o.results[2].substr(1),
                                         "",
                                         o.results[4].substr(1),
                                         "",
                                         "",
                                         " Covariance matrix",
                                         o.results[8].substr(1),
                                         "",
                                         kStop,
                                         ""};
  const std::vector<std::string> got(o.console.begin() + static_cast<long>(mc - 1), o.console.end());
  EXPECT_EQ(got, tail) << visible(o.r.out);
}

TEST(Phases, MonteCarloReportOfNineCoefficients) {
  // Order 8 on twelve indices from -1.1 to 1.1; opt(5) off: no curve file.
  std::vector<Point> pts;
  const double dev[12] = {0.7, -1.1, 0.4, 0.9, -0.6, -1.3, 0.2, 1.2, -0.8, 0.5, -0.3, 1.0};
  for (int i = 0; i < 12; ++i) {
    const double q = -1.1 + 0.2 * i, ue = 0.003 + 0.0002 * i;
    const double e = 0.9 - 0.1 * q + 0.05 * q * q - 0.02 * q * q * q + 0.01 * q * q * q * q;
    pts.push_back({q, 0.01, e + dev[i] * ue, ue});
  }
  const Outcome o = runCalibration(pts, 8, {0, 0, 0, 0, 0, 0});
  ASSERT_EQ(o.r.status, 0) << o.r.err;
  EXPECT_FALSE(o.curveExists);
  // Nine weighted coefficient lines, then the Monte Carlo report.
  ASSERT_GE(o.results.size(), 9u + 3 + 9 + 3 + 18 + 2 + 12);
  std::size_t k = 0;
  for (int i = 1; i <= 9; ++i, ++k)
    EXPECT_TRUE(std::regex_match(o.results[k], std::regex(" a\\(" + std::to_string(i) + "\\).{12} .{12}")))
        << o.results[k];
  EXPECT_EQ(o.results[k++], " ");
  EXPECT_EQ(o.results[k++], "           8 order polynomial fit with uncertainties in x and y");
  EXPECT_EQ(o.results[k++], " ");
  std::vector<double> sd;
  for (int i = 1; i <= 9; ++i, ++k) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(o.results[k], m, std::regex(" a\\(" + std::to_string(i) + "\\)(.{12}) (.{12})")))
        << o.results[k];
    sd.push_back(parse(m[2]));
  }
  EXPECT_EQ(o.results[k++], " ");
  EXPECT_EQ(o.results[k++], " ");
  EXPECT_EQ(o.results[k++], "  Covariance matrix");
  // Each row: eight fields on a record of 112 characters, the ninth field
  // alone on a second record without a leading blank.
  const std::size_t covStart = k;
  double cov[9][9];
  for (int j = 0; j < 9; ++j) {
    const std::string& first = o.results[k++];
    const std::string& second = o.results[k++];
    ASSERT_EQ(first.size(), 112u) << first;
    ASSERT_EQ(second.size(), 13u) << second;
    EXPECT_EQ(first[0], ' ');
    for (int c = 0; c < 8; ++c) {
      cov[j][c] = covField(first.substr(1 + 14 * c, 13));
      if (c < 7) {
        EXPECT_EQ(first[14 + 14 * c], ' ') << first;
      }
    }
    cov[j][8] = covField(second);
  }
  for (int j = 0; j < 9; ++j) {
    // The uncertainties are the roots of the diagonal.
    EXPECT_NEAR(sd[j] * sd[j], cov[j][j], 6e-8 + 2 * sd[j] * 5e-9) << "coefficient " << j + 1;
    for (int c = 0; c < j; ++c) EXPECT_NEAR(cov[j][c], cov[c][j], 1.01e-7) << "element " << j + 1 << "," << c + 1;
  }
  EXPECT_EQ(o.results[k++], " ");
  EXPECT_EQ(o.results[k++], kResidualHead);
  // The console shows the same covariance records without their first
  // character, both records of a row in turn.
  const std::size_t con = find(o.console, " Covariance matrix");
  ASSERT_LT(con + 19, o.console.size());
  for (int r = 0; r < 18; ++r)
    EXPECT_EQ(o.console[con + 1 + r], o.results[covStart + r].substr(1)) << "covariance record " << r;
  EXPECT_EQ(o.console[con + 19], "");
  // Residual rows for all twelve points.
  const auto rows = residualTable(o, 12);
  for (std::size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i].q, fixedField(pts[i].q, 7, 2));
}

TEST(Phases, ResidualTableAndCurveFromFiftyToOneHundredFifty) {
  // qstep = 1 exactly: 102 rows from 50 to 151; the old, longer file goes.
  std::vector<double> q;
  for (int i = 0; i <= 10; ++i) q.push_back(50.0 + 10.0 * i);
  const std::vector<Point> pts = fallingPoints(q, 50, 100);
  const Outcome o = runCalibration(pts, 2, {0, 0, 0, 0, 1, 0}, "", 0.005, std::string(30000, 'x') + "\r\n");
  ASSERT_EQ(o.r.status, 0) << o.r.err;
  const auto rows = checkCurve(o, 50, 150);
  ASSERT_EQ(rows.size(), 102u);
  EXPECT_EQ(o.curve[1].substr(0, 9), "  50.0000");
  EXPECT_EQ(o.curve[102].substr(0, 9), " 151.0000");
  EXPECT_EQ(o.curveBytes.find('x'), std::string::npos);

  const auto table = residualTable(o, pts.size());
  ASSERT_EQ(table.size(), pts.size());
  for (std::size_t i = 0; i < pts.size(); ++i) {
    SCOPED_TRACE("point " + std::to_string(i + 1));
    EXPECT_EQ(table[i].q, fixedField(pts[i].q, 7, 2));
    EXPECT_EQ(table[i].eexp, fixedField(pts[i].e, 6, 4));
    // The combined deviation includes the Monte Carlo spread.
    EXPECT_GE(parse(table[i].sdev), parse(table[i].mc)) << table[i].sdev << " " << table[i].mc;
    // The curve row at the same index holds the same efficiency and deviation.
    const auto& row = rows[static_cast<std::size_t>(10 * i)];
    EXPECT_EQ(row[1], table[i].ecalc);
    EXPECT_EQ(row[2].substr(1), table[i].sdev);
  }
  // The table is the last thing in the results file: no query loop.
  EXPECT_EQ(o.results.size(), find(o.results, kResidualHead) + 1 + pts.size());
  EXPECT_EQ(o.results.back(), " " + table.back().q + "  " + table.back().eexp + "  " + table.back().ecalc + "  " +
                                  table.back().sdev + "  " + table.back().mc);
}

TEST(Phases, CurveFromPointThreeToPointNine) {
  // qstep = 0.006: the accumulated 101st index lies just above 0.9, so the
  // table ends there with 101 rows.
  std::vector<double> q = {0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9};
  const std::vector<double> abscissae = curveAbscissae(0.3, 0.9);
  ASSERT_EQ(abscissae.size(), 101u);
  ASSERT_GT(abscissae.back(), 0.9);
  const Outcome o = runCalibration(fallingPoints(q, 0.3, 0.6), 1, {0, 0, 0, 0, 1, 0});
  ASSERT_EQ(o.r.status, 0) << o.r.err;
  const auto rows = checkCurve(o, 0.3, 0.9);
  ASSERT_EQ(rows.size(), 101u);
  EXPECT_EQ(o.curve[1].substr(0, 9), "    .3000");
  EXPECT_EQ(o.curve[101].substr(0, 9), "    .9000");
  // The first row is the first point's: the same numbers as its residual row.
  const auto table = residualTable(o, q.size());
  ASSERT_FALSE(table.empty());
  EXPECT_EQ(rows[0][1], table[0].ecalc);
  EXPECT_EQ(rows[0][2].substr(1), table[0].sdev);
}

TEST(Phases, CurveFileThatIsTheResultsFileIsRefused) {
  ScratchDir d;
  const std::vector<Point> pts = examplePoints();
  d.write("control.dat", controlFile("points.dat", 2, {1, 0, 0, 1, 1, 1}, "courbe.dat"));
  d.write("points.dat", dataFile(pts));
  const RunResult r = runProgram(d.path(), "50\n0\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("courbe.dat"), std::string::npos) << r.err;
  const std::string tail = "\r\n" + kStop + "\r\n\r\n";
  ASSERT_GE(r.out.size(), tail.size());
  EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail) << visible(r.out);
  EXPECT_EQ(r.out.find(kPrompt), std::string::npos) << "no query loop after the refusal";
  // The results already written stay: the file ends with the residual table.
  const auto recs = crlfRecords(d.read("courbe.dat"));
  const std::size_t head = find(recs, kResidualHead);
  ASSERT_LT(head, recs.size());
  EXPECT_EQ(recs.size(), head + 1 + pts.size());
  EXPECT_EQ(recs[0], " ");
  EXPECT_EQ(find(recs, kCurveHead), recs.size());
}

TEST(Phases, QueryLoopFromRedirectedInput) {
  const std::vector<Point> pts = examplePoints();  // indices 12.3 to 146.7
  const Outcome o = runCalibration(pts, 2, {1, 0, 0, 1, 1, 1}, "12.29\n146.71\n12.3\n  146.7  extra words\n80\n0\n");
  ASSERT_EQ(o.r.status, 0) << o.r.err;
  const auto& c = o.console;
  std::size_t k = find(c, kPrompt);
  ASSERT_LT(k, c.size()) << visible(o.r.out);
  // Before the loop: the covariance report's closing empty record.
  EXPECT_EQ(c[k - 1], "");
  // Two refused indices, just outside each end.
  for (int i = 0; i < 2; ++i) {
    ASSERT_LT(k + 1, c.size());
    EXPECT_EQ(c[k++], kPrompt);
    EXPECT_EQ(c[k++], " Interpolation only !");
  }
  const auto table = residualTable(o, pts.size());
  ASSERT_EQ(table.size(), pts.size());
  const char* indices[] = {"  12.30", " 146.70", "  80.00"};
  std::vector<std::string> appended;
  for (int n = 0; n < 3; ++n) {
    SCOPED_TRACE(indices[n]);
    ASSERT_LT(k + 12, c.size()) << visible(o.r.out);
    EXPECT_EQ(c[k++], kPrompt);
    EXPECT_EQ(c[k++], "with no uncertainty on quenching index:");
    EXPECT_EQ(c[k++], "");
    const Answer first = answer(c[k++]);
    EXPECT_EQ(c[k++], "");
    EXPECT_EQ(c[k++], "with uncertainties on quenching index:");
    EXPECT_EQ(c[k++], "");
    const std::string secondLine = c[k++];
    const Answer second = answer(secondLine);
    EXPECT_EQ(c[k++], "");
    EXPECT_EQ(c[k++], " Full Monte Carlo calculation");
    const Answer third = answer(c[k++]);
    EXPECT_EQ(c[k++], "");
    EXPECT_EQ(first.q, indices[n]);
    EXPECT_EQ(second.q, indices[n]);
    EXPECT_EQ(third.q, indices[n]);
    // The Monte Carlo mean is the mean coefficients' efficiency up to
    // rounding, and its spread is the Monte Carlo part of the second
    // answer's deviation.
    EXPECT_LE(std::fabs(parse(third.e) - parse(second.e)), 1.0001e-4) << third.e << " vs " << second.e;
    EXPECT_LE(parse(third.sd), parse(second.sd) + 1.0001e-4) << third.sd << " vs " << second.sd;
    EXPECT_LE(parse(first.sd), parse(second.sd) + 1.0001e-4) << first.sd << " vs " << second.sd;
    if (n < 2) {
      // At a calibration index the answers repeat the residual table.
      const Residual& row = table[n == 0 ? 0 : pts.size() - 1];
      EXPECT_EQ(second.e, row.ecalc);
      EXPECT_EQ(second.sd.substr(1), row.sdev);
      EXPECT_EQ(third.sd.substr(1), row.mc);
    }
    appended.push_back(" " + secondLine);
    appended.push_back(" ");
  }
  // 0 ends the run: the stop text after the prompt's line break, then the
  // closing empty line.
  ASSERT_EQ(k + 3, c.size()) << visible(o.r.out);
  EXPECT_EQ(c[k], kPrompt);
  EXPECT_EQ(c[k + 1], kStop);
  EXPECT_EQ(c[k + 2], "");
  // The results file gains the second answer and an empty record per index.
  const std::size_t end = find(o.results, kResidualHead) + 1 + pts.size();
  ASSERT_EQ(o.results.size(), end + appended.size());
  EXPECT_EQ(std::vector<std::string>(o.results.begin() + static_cast<long>(end), o.results.end()), appended);
  // The curve file's first row is the first point's too.
  ASSERT_GE(o.curve.size(), 2u);
  EXPECT_EQ(o.curve[1], "  12.3000  " + table[0].ecalc + "   " + table[0].sdev);
}

TEST(Phases, FirstAnswerIgnoresTheMonteCarloUncertainties) {
  // The weighted fit uses only the efficiencies and their uncertainties:
  // other index uncertainties and another common relative uncertainty
  // change the second answer, not the first.
  std::vector<Point> pts = examplePoints();
  const std::string input = "80\n0\n";
  const Outcome base = runCalibration(pts, 2, {0, 0, 0, 0, 0, 1}, input, 0.005);
  for (Point& p : pts) p.uq *= 4;
  const Outcome other = runCalibration(pts, 2, {0, 0, 0, 0, 0, 1}, input, 0.03);
  ASSERT_EQ(base.r.status, 0) << base.r.err;
  ASSERT_EQ(other.r.status, 0) << other.r.err;
  const std::size_t kb = find(base.console, "with no uncertainty on quenching index:");
  const std::size_t ko = find(other.console, "with no uncertainty on quenching index:");
  ASSERT_LT(kb + 6, base.console.size());
  ASSERT_LT(ko + 6, other.console.size());
  EXPECT_EQ(base.console[kb + 2], other.console[ko + 2]);
  EXPECT_EQ(answer(base.console[kb + 2]).q, "  80.00");
  EXPECT_NE(answer(base.console[kb + 6]).sd, answer(other.console[ko + 6]).sd)
      << "the Monte Carlo uncertainties did not reach the second answer";
}

TEST(Phases, QueryLoopInputErrors) {
  struct Case {
    const char* what;
    const char* input;
    int answered;
    const char* report;
  } cases[] = {
      {"end of input after one answer", "80\n", 1, ": READ(CON)\r\n- "},
      {"letters for an index", "abc\n", 0, ": READ(CON)\r\n- "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Outcome o = runCalibration(examplePoints(), 1, {0, 0, 0, 0, 0, 1}, c.input);
    EXPECT_EQ(o.r.status, 1);
    EXPECT_NE(o.r.err.find(c.report), std::string::npos) << visible(o.r.err);
    EXPECT_TRUE(std::regex_search(o.r.err, std::regex("run-time error F[0-9]{4}: READ\\(CON\\)"))) << visible(o.r.err);
    EXPECT_EQ(o.r.out.find(kStop), std::string::npos) << visible(o.r.out);
    // Standard output ends with the last prompt and its line break.
    const std::string tail = kPrompt + "\r\n";
    ASSERT_GE(o.r.out.size(), tail.size());
    EXPECT_EQ(o.r.out.substr(o.r.out.size() - tail.size()), tail) << visible(o.r.out);
    const std::size_t end = find(o.results, kResidualHead) + 1 + examplePoints().size();
    ASSERT_EQ(o.results.size(), end + 2 * c.answered);
    if (c.answered) {
      EXPECT_EQ(answer(o.results[end].substr(1)).q, "  80.00");
      EXPECT_EQ(o.results[end + 1], " ");
    }
  }
}

TEST(Phases, SameInputSameBytes) {
  const std::string input = "30\n99.9\n0\n";
  const Outcome a = runCalibration(examplePoints(), 3, {1, 0, 1, 1, 1, 1}, input);
  const Outcome b = runCalibration(examplePoints(), 3, {1, 0, 1, 1, 1, 1}, input);
  ASSERT_EQ(a.r.status, 0) << a.r.err;
  ASSERT_FALSE(a.curveBytes.empty());
  EXPECT_EQ(a.r.out, b.r.out);
  EXPECT_EQ(a.resultsBytes, b.resultsBytes);
  EXPECT_EQ(a.curveBytes, b.curveBytes);
  EXPECT_EQ(a.r.err, b.r.err);
}

TEST(Phases, DebugBuildGivesTheSameBytes) {
  const char* debugExe = std::getenv("TARVEL1_DEBUG_EXE");
  if (debugExe == nullptr || *debugExe == '\0') GTEST_SKIP() << "TARVEL1_DEBUG_EXE is not set";
  const std::string input = "12.3\n57.25\n146.7\n0\n";
  Outcome rel, dbg;
  for (Outcome* o : {&rel, &dbg}) {
    ScratchDir d;
    d.write("control.dat", controlFile("points.dat", 2, {1, 0, 1, 1, 1, 1}));
    d.write("points.dat", dataFile(examplePoints()));
    o->r = o == &rel ? runProgram(d.path(), input) : runExecutable(debugExe, d.path(), input);
    collect(d, "results.dat", *o);
  }
  ASSERT_EQ(rel.r.status, 0) << rel.r.err;
  EXPECT_EQ(dbg.r.status, 0) << dbg.r.err;
  EXPECT_EQ(rel.r.out, dbg.r.out);
  EXPECT_EQ(rel.resultsBytes, dbg.resultsBytes);
  EXPECT_EQ(rel.curveBytes, dbg.curveBytes);
  EXPECT_FALSE(rel.curveBytes.empty());
}
