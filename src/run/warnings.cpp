// Warnings about calibration points.
#include "run/warnings.h"

#include <charconv>
#include <cstdio>
#include <string>

#include "records/units.h"

namespace tarvel {

namespace {

constexpr int kShown = 10;

// The shortest text that reads back to the same double: 94.6, 0, -0.004.
std::string shortest(double v) {
  char buf[32];
  return std::string(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

}  // namespace

void warnAboutPoints(const RunState& s) {
  int count = 0;
  auto warn = [&](int i, const std::string& text) {
    if (++count == 1) consoleFlush();
    if (count <= kShown) std::fprintf(stderr, "tarvel1: warning: point %d: %s\n", i, text.c_str());
  };
  for (int i = 1; i <= s.npt; ++i) {
    const double e = s.e(i), ue = s.ue(i), uq = s.uqe(i);
    if (e > 1.0) warn(i, "efficiency " + shortest(e) + " is above 1 (efficiencies are fractions, not percent)");
    if (e <= 0.0) warn(i, "efficiency " + shortest(e) + " is not above 0");
    if (ue == 0.0) warn(i, "efficiency uncertainty is 0 (the fit will divide by zero)");
    if (ue < 0.0) warn(i, "efficiency uncertainty " + shortest(ue) + " is negative");
    if (uq < 0.0) warn(i, "index uncertainty " + shortest(uq) + " is negative");
  }
  if (count > kShown)
    std::fprintf(stderr, "tarvel1: warning: %d more warning%s not shown\n", count - kShown, count == kShown + 1 ? "" : "s");
}

}  // namespace tarvel
