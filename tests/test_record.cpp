// What a lab user meets around a run: --help and --version, the record of
// --json FILE, the warnings that name a point, and the picture's residual
// panel and its refusal of a courbe.dat from another run.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <regex>

#include "calibration.h"
#include "records/format.h"
#include "reference.h"
#include "run/version.h"
#include "support.h"

using namespace testsupport;
using Json = nlohmann::json;
using tarvel::editF;
using LD = long double;

// Every submatch of `pattern` in `text`, as numbers.
static std::vector<double> all(const std::string& text, const std::string& pattern) {
  std::vector<double> found;
  const std::regex re(pattern);
  for (std::sregex_iterator it(text.begin(), text.end(), re), end; it != end; ++it)
    for (std::size_t k = 1; k < it->size(); ++k) found.push_back(std::stod((*it)[k]));
  return found;
}

TEST(Record, OptionsWarningsAndFailedRuns) {
  std::vector<Point> doubtful = {{10, -0.5, 0.9, 0.0}, {20, 0.5, 0.0, -0.01}};
  std::string warned = "tarvel1: warning: point 1: efficiency uncertainty is 0 (the fit will divide by zero)\n"
                       "tarvel1: warning: point 1: index uncertainty -0.5 is negative\n"
                       "tarvel1: warning: point 2: efficiency 0 is not above 0\n"
                       "tarvel1: warning: point 2: efficiency uncertainty -0.01 is negative\n";
  for (int i = 3; i <= 10; ++i) doubtful.push_back({10.0 * i, 0.5, 94.6, 0.3});  // efficiencies in percent
  for (int i = 3; i <= 8; ++i)  // the two warnings past the tenth are only counted
    warned += "tarvel1: warning: point " + std::to_string(i) + ": efficiency 94.6 is above 1 (efficiencies are fractions, not percent)\n";
  // `shown`: the start of standard output after a normal end, of standard error otherwise.
  struct Case { const char* args; bool control; std::vector<Point> pts; int status; std::string shown; } cases[] = {
      {"--help out.dat", true, examplePoints(), 0, "Usage: tarvel1 [--json FILE] [NAME...]\n"},
      {"--version", true, examplePoints(), 0, std::string("tarvel1 ") + tarvel::kVersion + "\n"},
      {"--json rec.json out.dat", true, doubtful, 1, warned + "tarvel1: warning: 2 more warnings not shown\n\r\n"},
      {"--json rec.json", false, examplePoints(), 2, "tarvel1: cannot open control file 'control.dat'"},
      {"out.dat --json points.dat", true, examplePoints(), 2,
       "tarvel1: cannot open record file 'points.dat': it is the same file as points.dat, which must"}};
  for (const Case& c : cases) {
    ScratchDir d;
    d.write("rec.json", "{\"program\": \"tarvel1\"}");  // an earlier run's record
    if (c.control) d.write("control.dat", controlFile("points.dat", 1, {1, 0, 0, 1, 1, 0}, "''"));  // blank results name
    d.write("points.dat", dataFile(c.pts));
    const RunResult r = runProgram(d.path(), "", c.args);
    // The record removed when named, the data file intact, a results file only when a run started (--help and
    // --version start none).
    EXPECT_EQ(std::make_tuple(r.status, (c.status ? r.err : r.out).substr(0, c.shown.size()), d.exists("rec.json"),
                              d.read("points.dat"), d.exists("out.dat")),
              std::make_tuple(c.status, c.shown, std::string(c.args).find("rec.json") == std::string::npos,
                              dataFile(c.pts), c.control && c.status != 0)) << c.args << "\n" << r.err;
  }
}

TEST(Record, HoldsWhatTheRunPrintsAndThePictureShowsIt) {
  ScratchDir d;
  const std::vector<Point> pts = examplePoints();
  d.write("control.dat", controlFile("points.dat", 2, {1, 0, 0, 1, 1, 0}));
  d.write("points.dat", dataFile(pts));
  ASSERT_EQ(runProgram(d.path(), "", "--json rec.json").err, "");  // a normal end, and no warning on sound points
  const Json rec = Json::parse(d.read("rec.json")), &wf = rec["weighted_fit"], &mc = rec["monte_carlo_fit"];

  // The weighted least-squares coefficients in long double, from the normal equations.
  std::vector<LD> normal(9, 0);
  std::vector<std::vector<LD>> ref(1, std::vector<LD>(3, 0));
  for (const Point& p : pts)
    for (int j = 0; j < 3; ++j) {
      ref[0][j] += std::pow(LD(p.q), j) * p.e / (LD(p.ue) * p.ue);
      for (int m = 0; m < 3; ++m) normal[3 * j + m] += std::pow(LD(p.q), j + m) / (LD(p.ue) * p.ue);
    }
  solveLong(normal, 3, ref);
  std::string want[3];  // the two coefficient listings and the covariance matrix, rebuilt from the record
  for (int j = 0; j < 3; ++j) {
    EXPECT_NEAR(wf["coefficients"][j].get<double>(), ref[0][j], 1e-9 * std::fabs(ref[0][j]));
    for (const Json* f : {&wf, &mc})
      want[f == &mc] += " a(" + std::to_string(j + 1) + ")" + editF((*f)["coefficients"][j], 12, 8) + " " +
                           editF((*f)["standard_deviations"][j], 12, 8) + "\r\n";
    for (int m = 0; m < 3; ++m) want[2] += " " + editF(mc["combined_covariance"][m][j], 13, 7) + (m < 2 ? "" : "\r\n");
  }
  const std::string results = d.read("results.dat");
  for (const std::string& lines : want) EXPECT_NE(results.find(lines), std::string::npos) << lines;

  // The picture: the residuals as want, in percent points, and the legend clear of the panels.
  ASSERT_EQ(runExecutable(TARVEL1_PLOT_EXE, d.path()).status, 0);
  const std::string svg = d.read("courbe.svg");
  const std::vector<double> drawn = all(svg, "class=\"residual\" data-q=\"[^\"]+\" data-r=\"([^\"]+)\""),
                            table = all(results, "\n +[0-9.]+ +([-.0-9]+) +([-.0-9]+) +\\.\\d{4} +\\.\\d{4}\r");
  ASSERT_TRUE(drawn.size() == pts.size() && table.size() == 2 * pts.size());
  for (std::size_t i = 0; i < pts.size(); ++i) EXPECT_NEAR(drawn[i], 100 * (table[2 * i] - table[2 * i + 1]), 1e-9);
  const std::vector<double> frame = all(svg, "class=\"frame\" x=\"([0-9.]+)\" y=\"[0-9.]+\" width=\"([0-9.]+)\"");
  EXPECT_GT(all(svg, "class=\"legend\"[^>]*>\n<rect x=\"([0-9.]+)\"")[0], frame[0] + frame[1]);  // the legend's box

  // Later runs that write no courbe.dat, at another order, then also without the first point.
  const char* why[] = {"its efficiency at 12.3000 is", "its first row is at 12.3000, not at 21.7000"};
  d.write("control.dat", controlFile("points.dat", 1, {1, 0, 0, 1, 0, 0}));
  for (int first : {0, 1}) {
    d.write("points.dat", dataFile(std::vector<Point>(pts.begin() + first, pts.end())));
    ASSERT_EQ(runProgram(d.path()).status, 0);
    const RunResult plot = runExecutable(TARVEL1_PLOT_EXE, d.path());
    const std::string refusal = std::string("tarvel1-plot: courbe.dat does not belong to this run: ") + why[first];
    EXPECT_TRUE(plot.status == 2 && plot.err.rfind(refusal, 0) == 0) << plot.err;
  }
}
