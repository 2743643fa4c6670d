// Calibration inputs for the end-to-end tests: control files and data files
// written the way a user writes them.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace testsupport {

struct Point {
  double q, uq, e, ue;
};

// control.dat with the given data file, order, six switches and results file.
std::string controlFile(const std::string& dat, int order, std::array<int, 6> opt,
                        const std::string& res = "results.dat");

// A data file: the count and common relative uncertainty, then one point a line.
std::string dataFile(const std::vector<Point>& points, double urel = 0.005);

// The thirteen points of examples/points.dat.
std::vector<Point> examplePoints();

// Splits a byte string into its CR LF records (fails the calling test on a
// bare LF).
std::vector<std::string> crlfRecords(const std::string& bytes);

}  // namespace testsupport
