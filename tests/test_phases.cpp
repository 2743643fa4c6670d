// Whole runs of the program that exercise the phases after the weighted fit:
// the Monte Carlo report and the covariance records, the residual table, the
// curve file courbe.dat, the query loop fed from standard input, and the
// reproducibility of a run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "calibration.h"
#include "support.h"

using namespace testsupport;

namespace {

const std::string kStop = "Stop - Program terminated.";
const std::string kPrompt = "Quenching index? (0 to stop)";
const std::string kResidualHead = " Q-index   e-exp   e-calc  sdev    MC";
const std::regex kResidualRow(" [ 0-9]{4}\\.[0-9]{2}  [ 0-9-]\\.[0-9]{4}  [ 0-9-]\\.[0-9]{4}  \\.[0-9]{4}  \\.[0-9]{4}");
const std::regex kCurveRow(" [ 0-9]{3}\\.[0-9]{4}  [ 0-9-]\\.[0-9]{4}  [ 0-9]\\.[0-9]{4}");

struct Outcome {
  RunResult r;
  std::vector<std::string> console, results, curve;
  std::string resultsBytes, curveBytes;
  bool curveExists = false;
};

Outcome runCalibration(const std::vector<Point>& pts, int order, std::array<int, 6> opt, const std::string& input,
                       double urel = 0.005, const char* exe = nullptr, const std::string& res = "results.dat") {
  ScratchDir d;
  d.write("control.dat", controlFile("points.dat", order, opt, res));
  d.write("points.dat", dataFile(pts, urel));
  if (opt[4]) d.write("courbe.dat", std::string(30000, 'x') + "\r\n");  // an older, longer curve file
  Outcome o;
  o.r = exe ? runExecutable(exe, d.path(), input) : runProgram(d.path(), input);
  o.console = crlfRecords(o.r.out);
  o.resultsBytes = d.read(res);
  o.results = crlfRecords(o.resultsBytes);
  o.curveExists = d.exists("courbe.dat");
  o.curveBytes = o.curveExists ? d.read("courbe.dat") : "";
  o.curve = crlfRecords(o.curveBytes);
  return o;
}

std::size_t find(const std::vector<std::string>& recs, const std::string& rec) {
  return static_cast<std::size_t>(std::find(recs.begin(), recs.end(), rec) - recs.begin());
}

std::vector<std::string> slice(const std::vector<std::string>& v, std::size_t from, std::size_t n = SIZE_MAX) {
  from = std::min(from, v.size());
  return {v.begin() + from, v.begin() + from + std::min(n, v.size() - from)};
}

double num(const std::string& field) { return std::strtod(field.c_str(), nullptr); }

// Eleven points at 50, 60, ..., 150 on a smooth falling curve, efficiencies
// with four decimals.
std::vector<Point> falling() {
  const double dev[] = {0.0012, -0.0008, 0.0005, -0.0011, 0.0009, -0.0004, 0.0010, -0.0007, 0.0003, -0.0009, 0.0006};
  std::vector<Point> pts;
  for (int i = 0; i <= 10; ++i) {
    const double t = i / 10.0;
    pts.push_back({50.0 + 10 * i, 1.0, std::round((0.95 - 0.25 * t - 0.05 * t * t + dev[i]) * 1e4) / 1e4,
                   0.003 + 0.0002 * i});
  }
  return pts;
}

// Two indices just outside the range refused, both ends accepted, one inside.
Outcome queryRun(const char* exe = nullptr) {
  return runCalibration(falling(), 2, {1, 0, 0, 1, 1, 1}, "49.99\n150.01\n50\n  150  extra words\n80\n0\n", 0.005, exe);
}

const Outcome& cachedQueryRun() {
  static const Outcome o = queryRun();
  return o;
}

}  // namespace

TEST(Phases, MonteCarloReportAndCovarianceRecords) {
  struct Case {
    int order;
    std::vector<Point> pts;
    double urel;
  };
  // A constant of about 5 at 0.3, 0.4, ..., 0.9 (a curve file of 101 rows),
  // and order 8 on twelve indices from -1.1 to 1.1 (nine coefficients, so a
  // second record for each covariance row).
  std::vector<Point> constant, nine;
  const double e[7] = {5.03, 4.89, 5.12, 4.96, 5.08, 4.91, 5.01};
  for (int i = 0; i < 7; ++i) constant.push_back({0.3 + 0.1 * i, 0.01, e[i], 0.15 + 0.01 * i});
  const double dev[12] = {0.7, -1.1, 0.4, 0.9, -0.6, -1.3, 0.2, 1.2, -0.8, 0.5, -0.3, 1.0};
  for (int i = 0; i < 12; ++i) {
    const double q = -1.1 + 0.2 * i, ue = 0.003 + 0.0002 * i;
    const double y = 0.9 - 0.1 * q + 0.05 * q * q - 0.02 * q * q * q + 0.01 * q * q * q * q;
    nine.push_back({q, 0.01, y + dev[i] * ue, ue});
  }
  for (const Case& c : {Case{0, constant, 0.01}, Case{8, nine, 0.005}}) {
    const int n = c.order + 1;
    SCOPED_TRACE(std::to_string(n) + " coefficients");
    const Outcome o = runCalibration(c.pts, c.order, {0, 0, 0, 0, n == 1, n == 1}, n == 1 ? "0.5\n0\n" : "", c.urel);
    ASSERT_EQ(o.r.status, 0) << o.r.err;
    const auto& res = o.results;
    ASSERT_GE(res.size(), 2u * n + 8 + (n > 8 ? 2 : 1) * n);
    // The weighted fit's coefficient lines, then the Monte Carlo report.
    std::vector<std::string> want = slice(res, 0, n);
    want.insert(want.end(), {" ", " " + std::to_string(c.order).insert(0, 10, ' ') +
                                      " order polynomial fit with uncertainties in x and y", " "});
    std::vector<double> amc, sd;
    for (int i = 1; i <= n; ++i) {
      const std::string& rec = res[want.size()];
      std::smatch m;
      EXPECT_TRUE(std::regex_match(rec, m, std::regex(" a\\(" + std::to_string(i) + "\\)(.{12}) (.{12})"))) << rec;
      amc.push_back(num(m[1]));
      sd.push_back(num(m[2]));
      want.push_back(rec);
    }
    want.insert(want.end(), {" ", " ", "  Covariance matrix"});
    // Each row: up to eight fields of 13 after a blank; the ninth field
    // alone on a second record.
    std::vector<std::vector<double>> cov(n, std::vector<double>(n));
    for (int j = 0; j < n; ++j)
      for (int part = 0; part < (n > 8 ? 2 : 1); ++part) {
        const std::string& rec = res[want.size()];
        const int width = part ? 13 : 14, fields = part ? 1 : std::min(n, 8);
        EXPECT_EQ(rec.size(), static_cast<std::size_t>(width * fields)) << rec;
        for (int f = 0; f < fields; ++f) {
          const std::string field = rec.substr(width * f, width);
          EXPECT_TRUE(std::regex_match(field, std::regex(" *-?[0-9]*\\.[0-9]{7}"))) << "[" << field << "]";
          cov[j][8 * part + f] = num(field);
        }
        want.push_back(rec);
      }
    for (int j = 0; j < n; ++j) {
      // The uncertainties are the roots of the diagonal; the matrix is symmetric.
      EXPECT_NEAR(sd[j] * sd[j], cov[j][j], 6e-8 + 1e-8 * sd[j]) << "coefficient " << j + 1;
      for (int k = 0; k < j; ++k) EXPECT_NEAR(cov[j][k], cov[k][j], 1.01e-7) << j + 1 << "," << k + 1;
    }
    std::vector<std::string> con;  // the same records on the console, without their first character
    for (const std::string& rec : want) con.push_back(rec.substr(1));
    con.insert(con.end(), {"", n == 1 ? kPrompt : kStop});
    want.insert(want.end(), {" ", kResidualHead});
    EXPECT_EQ(slice(res, 0, want.size()), want);
    EXPECT_EQ(slice(o.console, c.pts.size() + 1, con.size()), con) << visible(o.r.out);
    if (n == 1) {
      // The weighted fit's variance 1 / sum(1/ue^2) plus the trials' spread
      // of about as much and the common relative deviation: (urel mean)^2.
      double sw = 0, swe = 0;
      for (const Point& p : c.pts) sw += 1 / (p.ue * p.ue), swe += p.e / (p.ue * p.ue);
      const double mean = swe / sw, var = 2 / sw + (c.urel * mean) * (c.urel * mean);
      EXPECT_NEAR(cov[0][0], var, 0.08 * var);  // about 1.4% sampling spread
      EXPECT_NEAR(amc[0], mean, 0.05 * sd[0]);
      // The first answer is the weighted mean with its own deviation; the
      // curve shows the combined deviation of the report.
      char first[100], sdText[16];
      std::snprintf(sdText, sizeof sdText, "%.4f", 1 / std::sqrt(sw));
      std::snprintf(first, sizeof first, "Quenching index:      .50  Detection efficiency:%6.4f +/- %s", mean, sdText + 1);
      EXPECT_LT(find(o.console, first), o.console.size()) << first << "\n" << visible(o.r.out);
      // The accumulated 101st index lies just above 0.9: 101 rows.
      ASSERT_EQ(o.curve.size(), 102u);
      EXPECT_EQ(o.curve[1].substr(0, 9), "    .3000");
      EXPECT_EQ(o.curve[101].substr(0, 9), "    .9000");
      EXPECT_NEAR(num(o.curve[1].substr(19)), sd[0], 0.50001e-4) << o.curve[1];
      for (std::size_t k = 1; k < o.curve.size(); ++k) EXPECT_TRUE(std::regex_match(o.curve[k], kCurveRow)) << o.curve[k];
    } else {
      EXPECT_FALSE(o.curveExists) << "opt(5) off leaves no courbe.dat";
    }
  }
}

TEST(Phases, CurveResidualTableAndQueryLoop) {
  const Outcome& o = cachedQueryRun();
  ASSERT_EQ(o.r.status, 0) << o.r.err;
  const std::vector<Point> pts = falling();
  // Step 1 exactly: rows at 50, 51, ..., 151; the older, longer file is gone.
  ASSERT_EQ(o.curve.size(), 103u) << visible(o.curveBytes.substr(0, 400));
  EXPECT_EQ(o.curve[0], "   QE        e        Ue");
  EXPECT_EQ(o.curve[102].substr(0, 9), " 151.0000");
  for (std::size_t k = 1; k < o.curve.size(); ++k) EXPECT_TRUE(std::regex_match(o.curve[k], kCurveRow)) << o.curve[k];
  const std::size_t head = find(o.results, kResidualHead);
  ASSERT_EQ(o.results.size(), head + 1 + pts.size() + 2 * 3) << "residual table, then two records per answer";
  EXPECT_EQ(o.results[head - 1], " ");
  for (std::size_t i = 0; i < pts.size(); ++i) {
    const std::string& row = o.results[head + 1 + i];
    ASSERT_TRUE(std::regex_match(row, kResidualRow)) << row;
    EXPECT_EQ(num(row.substr(1, 7)), pts[i].q) << row;
    EXPECT_EQ(num(row.substr(10, 6)), pts[i].e) << row;
    EXPECT_GE(num(row.substr(26, 5)), num(row.substr(33, 5))) << "sdev includes the Monte Carlo spread: " << row;
    // The curve row at the same index shows the same efficiency and deviation.
    EXPECT_EQ(o.curve[1 + 10 * i], row.substr(1, 7) + "00  " + row.substr(18, 6) + "   " + row.substr(26, 5));
  }

  const auto& c = o.console;
  const std::size_t k = find(c, kPrompt);
  ASSERT_TRUE(k > 0 && k < c.size()) << visible(o.r.out);
  EXPECT_EQ(c[k - 1], "") << "the covariance report's closing record";
  std::vector<std::string> want = {kPrompt, " Interpolation only !", kPrompt, " Interpolation only !"}, appended;
  const std::string rows[2] = {o.results[head + 1], o.results[head + 11]};
  const char* indices[3] = {"  50.00", " 150.00", "  80.00"};
  const std::regex answer("Quenching index:  (.{7})  Detection efficiency:(.{6}) \\+/-(.{6})");
  for (int n = 0; n < 3; ++n) {
    SCOPED_TRACE(indices[n]);
    std::smatch m[3];
    std::string ans[3];
    const std::size_t at[3] = {3, 7, 10};  // the three answer records of one index
    for (int a = 0; a < 3; ++a) {
      ans[a] = k + want.size() + at[a] < c.size() ? c[k + want.size() + at[a]] : "";
      EXPECT_TRUE(std::regex_match(ans[a], m[a], answer)) << ans[a];
      EXPECT_EQ(m[a][1].str(), indices[n]);
    }
    // The Monte Carlo mean is the mean coefficients' efficiency up to rounding.
    EXPECT_LE(std::fabs(num(m[2][2]) - num(m[1][2])), 1.0001e-4) << ans[2] << " vs " << ans[1];
    if (n < 2) {  // at a calibration index the answers repeat the residual table
      EXPECT_EQ(m[1][2].str(), rows[n].substr(18, 6));
      EXPECT_EQ(m[1][3].str(), " " + rows[n].substr(26, 5));
      EXPECT_EQ(m[2][3].str(), " " + rows[n].substr(33, 5));
    }
    want.insert(want.end(), {kPrompt, "with no uncertainty on quenching index:", "", ans[0], "",
                             "with uncertainties on quenching index:", "", ans[1], "", " Full Monte Carlo calculation",
                             ans[2], ""});
    appended.insert(appended.end(), {" " + ans[1], " "});
  }
  want.insert(want.end(), {kPrompt, kStop, ""});  // 0 ends the run
  EXPECT_EQ(slice(c, k), want) << visible(o.r.out);
  EXPECT_EQ(slice(o.results, head + 1 + pts.size()), appended);
}

TEST(Phases, QueryLoopInputErrors) {
  struct Case {
    const char* what;
    const char* input;
    std::size_t answered;
  } cases[] = {{"end of input after one answer", "80\n", 1}, {"letters for an index", "abc\n", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Outcome o = runCalibration(falling(), 1, {0, 0, 0, 0, 0, 1}, c.input);
    EXPECT_EQ(o.r.status, 1);
    EXPECT_TRUE(std::regex_search(o.r.err, std::regex("run-time error F[0-9]{4}: READ\\(CON\\)\r\n- "))) << visible(o.r.err);
    EXPECT_TRUE(o.r.out.ends_with(kPrompt + "\r\n")) << visible(o.r.out);
    EXPECT_EQ(o.results.size(), find(o.results, kResidualHead) + 1 + falling().size() + 2 * c.answered);
  }
}

TEST(Phases, CurveFileThatIsTheResultsFileIsRefused) {
  const Outcome o = runCalibration(falling(), 2, {1, 0, 0, 1, 1, 1}, "50\n0\n", 0.005, nullptr, "courbe.dat");
  EXPECT_EQ(o.r.status, 2);
  EXPECT_NE(o.r.err.find("courbe.dat"), std::string::npos) << o.r.err;
  EXPECT_TRUE(o.r.out.ends_with("\r\n" + kStop + "\r\n\r\n")) << visible(o.r.out);
  EXPECT_EQ(o.r.out.find(kPrompt), std::string::npos) << "no query loop after the refusal";
  // The results already written stay: the file ends with the residual table.
  ASSERT_FALSE(o.results.empty());
  EXPECT_EQ(o.results[0], " ");
  EXPECT_EQ(o.results.size(), find(o.results, kResidualHead) + 1 + falling().size());
}

TEST(Phases, SameInputSameBytes) {
  const Outcome& a = cachedQueryRun();
  const Outcome b = queryRun();
  ASSERT_EQ(a.r.status, 0) << a.r.err;
  EXPECT_EQ(a.r.out, b.r.out);
  EXPECT_EQ(a.r.err, b.r.err);
  EXPECT_EQ(a.resultsBytes, b.resultsBytes);
  EXPECT_EQ(a.curveBytes, b.curveBytes);
}

TEST(Phases, DebugBuildGivesTheSameBytes) {
  const char* debugExe = std::getenv("TARVEL1_DEBUG_EXE");
  if (debugExe == nullptr || *debugExe == '\0') GTEST_SKIP() << "TARVEL1_DEBUG_EXE is not set";
  const Outcome& rel = cachedQueryRun();
  const Outcome dbg = queryRun(debugExe);
  ASSERT_EQ(rel.r.status, 0) << rel.r.err;
  EXPECT_EQ(dbg.r.status, 0) << dbg.r.err;
  EXPECT_EQ(rel.r.out, dbg.r.out);
  EXPECT_EQ(rel.resultsBytes, dbg.resultsBytes);
  EXPECT_EQ(rel.curveBytes, dbg.curveBytes);
}
