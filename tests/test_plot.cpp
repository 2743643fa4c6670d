// The picture of a calibration: tarvel1-plot after a run of tarvel1.
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "calibration.h"
#include "support.h"

using namespace testsupport;

namespace {

// Checks that `xml` is well formed in the sense a reader of SVG needs: tags
// nest and close, attributes are quoted, entities are known. Returns the
// first fault, or "".
std::string wellFormed(const std::string& xml) {
  std::vector<std::string> open;
  std::size_t i = 0;
  if (xml.rfind("<?xml ", 0) == 0) i = xml.find("?>") + 2;
  bool root = false;
  while (i < xml.size()) {
    if (xml[i] == '&') {
      static const std::regex entity("&(amp|lt|gt|quot|apos|#[0-9]+);");
      std::smatch m;
      const std::string rest = xml.substr(i, 8);
      if (!std::regex_search(rest, m, entity) || m.position(0) != 0) return "bad entity at " + std::to_string(i);
      i += m.length(0);
      continue;
    }
    if (xml[i] != '<') {
      if (open.empty() && !std::isspace(static_cast<unsigned char>(xml[i]))) return "text outside the root";
      ++i;
      continue;
    }
    const std::size_t end = xml.find('>', i);
    if (end == std::string::npos) return "unclosed tag";
    std::string tag = xml.substr(i + 1, end - i - 1);
    i = end + 1;
    if (tag[0] == '/') {
      if (open.empty() || open.back() != tag.substr(1)) return "mismatched </" + tag.substr(1) + ">";
      open.pop_back();
      continue;
    }
    const bool selfClosing = tag.back() == '/';
    if (selfClosing) tag.pop_back();
    static const std::regex element("([A-Za-z][A-Za-z0-9-]*)((\\s+[A-Za-z][A-Za-z0-9:-]*=\"[^\"<&]*(&[a-z#0-9]+;[^\"<&]*)*\")*)\\s*");
    std::smatch m;
    if (!std::regex_match(tag, m, element)) return "malformed tag <" + tag.substr(0, 40) + ">";
    if (open.empty()) {
      if (root) return "second root element";
      root = true;
    }
    if (!selfClosing) open.push_back(m[1]);
  }
  return open.empty() && root ? "" : "unclosed elements";
}

std::string attribute(const std::string& element, const std::string& name) {
  const std::regex a("\\s" + name + "=\"([^\"]*)\"");
  std::smatch m;
  return std::regex_search(element, m, a) ? std::string(m[1]) : "";
}

// All elements with the given class attribute.
std::vector<std::string> elementsOfClass(const std::string& svg, const std::string& cls) {
  std::vector<std::string> found;
  const std::regex e("<[a-z]+ [^>]*class=\"" + cls + "\"[^>]*>");
  for (std::sregex_iterator it(svg.begin(), svg.end(), e), stop; it != stop; ++it) found.push_back(it->str());
  return found;
}

}  // namespace

TEST(Plot, PictureOfTheExampleCalibration) {
  ScratchDir d;
  const std::vector<Point> pts = examplePoints();
  d.write("control.dat", controlFile("points.dat", 2, {1, 0, 0, 1, 1, 0}));
  d.write("points.dat", dataFile(pts));
  ASSERT_EQ(runProgram(d.path()).status, 0);
  const RunResult r = runExecutable(TARVEL1_PLOT_EXE, d.path());
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string svg = d.read("courbe.svg");
  EXPECT_EQ(wellFormed(svg), "");

  // One marker per point, at the point's values.
  const auto markers = elementsOfClass(svg, "marker");
  ASSERT_EQ(markers.size(), pts.size());
  for (std::size_t i = 0; i < pts.size(); ++i) {
    EXPECT_DOUBLE_EQ(std::stod(attribute(markers[i], "data-q")), pts[i].q);
    EXPECT_DOUBLE_EQ(std::stod(attribute(markers[i], "data-e")), pts[i].e);
  }

  // Both bands run from the first abscissa of courbe.dat (qmin) to its last row.
  const auto rows = crlfRecords(d.read("courbe.dat"));
  ASSERT_EQ(rows.size(), 103u);
  const double first = std::stod(rows[1].substr(0, 9)), last = std::stod(rows.back().substr(0, 9));
  EXPECT_EQ(first, 12.3);
  for (const char* band : {"band1", "band2"}) {
    const auto paths = elementsOfClass(svg, band);
    ASSERT_EQ(paths.size(), 1u) << band;
    std::istringstream in(std::regex_replace(attribute(paths[0], "d"), std::regex("[MLZ,]"), " "));
    std::vector<double> xs;
    double x, y;
    while (in >> x >> y) xs.push_back(x);
    ASSERT_EQ(xs.size(), 2 * (rows.size() - 1)) << band;
    EXPECT_EQ(xs.front(), first) << band;
    EXPECT_EQ(*std::max_element(xs.begin(), xs.end()), last) << band;
    EXPECT_EQ(*std::min_element(xs.begin(), xs.end()), first) << band;
  }
  // Title and axis labels.
  EXPECT_NE(svg.find(">Calibration of points.dat: polynomial of order 2, uncertainties in x and y</text>"),
            std::string::npos);
  EXPECT_NE(svg.find(">Quenching index</text>"), std::string::npos);
  EXPECT_NE(svg.find(">Detection efficiency (%)</text>"), std::string::npos);
  EXPECT_GE(elementsOfClass(svg, "xtick").size(), 4u);
  EXPECT_GE(elementsOfClass(svg, "ytick").size(), 4u);
}

TEST(Plot, OrderInTheTitleIsTheOrderAfterDropping) {
  ScratchDir d;
  std::vector<Point> pts;
  for (int i = 0; i < 8; ++i) pts.push_back({10.0 * (i + 1), 0.5, 0.95 - 0.004 * (i + 1) + 0.001 * (i % 2), 0.002});
  d.write("control.dat", controlFile("points.dat", 3, {1, 0, 1, 1, 1, 0}));
  d.write("points.dat", dataFile(pts));
  const RunResult run = runProgram(d.path());
  ASSERT_EQ(run.status, 0) << run.err;
  const std::size_t at = run.out.rfind(" order polynomial fit with uncertainties in x and y");
  ASSERT_NE(at, std::string::npos);
  const std::string order = run.out.substr(at - 1, 1);
  ASSERT_NE(order, "3") << "the data must make the run drop a coefficient";
  ASSERT_EQ(runExecutable(TARVEL1_PLOT_EXE, d.path()).status, 0);
  EXPECT_NE(d.read("courbe.svg").find("polynomial of order " + order + ","), std::string::npos);
}

TEST(Plot, MissingFilesAreNamed) {
  struct Case {
    const char* what;
    std::array<int, 6> opt;  // of the run before the picture
    const char* remove;      // file removed after the run
    const char* message;
  } cases[] = {
      {"no curve table", {1, 0, 0, 1, 0, 0}, nullptr, "cannot open 'courbe.dat': No such file or directory (run tarvel1 with opt(5) = 1 first)"},
      {"no control file", {1, 0, 0, 1, 1, 0}, "control.dat", "cannot open 'control.dat': No such file or directory"},
      {"no data file", {1, 0, 0, 1, 1, 0}, "points.dat", "cannot open 'points.dat': No such file or directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir d;
    d.write("control.dat", controlFile("points.dat", 2, c.opt));
    d.write("points.dat", dataFile(examplePoints()));
    ASSERT_EQ(runProgram(d.path()).status, 0);
    if (c.remove) std::remove(d.file(c.remove).c_str());
    const RunResult r = runExecutable(TARVEL1_PLOT_EXE, d.path());
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, std::string("tarvel1-plot: ") + c.message + "\n");
    EXPECT_FALSE(d.exists("courbe.svg"));
  }
}
