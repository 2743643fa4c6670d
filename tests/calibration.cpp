#include "calibration.h"

#include <gtest/gtest.h>

#include "support.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace testsupport {

std::string controlFile(const std::string& dat, int order, std::array<int, 6> opt, const std::string& res) {
  std::ostringstream s;
  s << "'test calibration'\n" << dat << " datafile\n" << order << " order\n";
  for (int k = 0; k < 6; ++k) s << opt[k] << " opt" << (k + 1) << "\n";
  s << res << " resfile\n";
  return s.str();
}

std::string dataFile(const std::vector<Point>& points, double urel) {
  std::ostringstream s;
  char line[160];
  std::snprintf(line, sizeof line, "%zu %.17g\n", points.size(), urel);
  s << line;
  for (const Point& p : points) {
    std::snprintf(line, sizeof line, "%.17g %.17g %.17g %.17g\n", p.q, p.uq, p.e, p.ue);
    s << line;
  }
  return s.str();
}

std::vector<Point> examplePoints() {
  std::ifstream f(std::string(EXAMPLES_DIR) + "/points.dat");
  int n;
  double urel;
  std::string rest;
  f >> n >> urel;
  std::getline(f, rest);
  std::vector<Point> pts;
  for (int i = 0; i < n; ++i) {
    Point p;
    f >> p.q >> p.uq >> p.e >> p.ue;
    pts.push_back(p);
  }
  return pts;
}

std::vector<std::string> crlfRecords(const std::string& bytes) {
  std::vector<std::string> recs;
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    const std::size_t lf = bytes.find('\n', pos);
    if (lf == std::string::npos) {
      ADD_FAILURE() << "bytes after the last line end: " << visible(bytes.substr(pos));
      break;
    }
    if (lf == pos || bytes[lf - 1] != '\r') ADD_FAILURE() << "line without CR before LF at byte " << lf;
    recs.push_back(bytes.substr(pos, lf - pos - (lf > pos && bytes[lf - 1] == '\r' ? 1 : 0)));
    pos = lf + 1;
  }
  return recs;
}

}  // namespace testsupport
