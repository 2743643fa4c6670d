// Reading control.dat and the data file, and the warnings about the points.
#include "run/input.h"

#include <charconv>
#include <fstream>
#include <new>
#include <sstream>

#include "records/listin.h"
#include "records/runtime.h"

namespace tarvel {

namespace {

// The main program's read statement n.
void readAt(MainFrame& main, int n, LineSource& src, std::string_view name, std::initializer_list<ListItem> items) {
  main.at(n);
  readList(src, name, items);
}

}  // namespace

Control readControl(LineSource& lines, std::string_view name) {
  MainFrame main;
  Control c;
  std::string label;
  CountedLines src(lines);
  readAt(main, 92, src, name, {listTarget(label, kLabelLength)});
  c.heading = trimBlanks(src.last());
  readAt(main, 94, src, name, {listTarget(c.dataFile, kNameLength), listTarget(label, kLabelLength)});
  readAt(main, 96, src, name, {listTarget(c.order), listTarget(label, kLabelLength)});
  if (c.order < 0 || c.order > kMaxOrder)
    fatalIo(err::kBadValue, "READ", name, "polynomial order " + std::to_string(c.order) + " is outside 0 to 8");
  for (int& opt : c.opt) readAt(main, 102, src, name, {listTarget(opt), listTarget(label, kLabelLength)});
  readAt(main, 105, src, name, {listTarget(c.resultsFile, kNameLength), listTarget(label, kLabelLength)});
  c.dataFile = trimBlanks(c.dataFile);
  c.resultsFile = trimBlanks(c.resultsFile);
  return c;
}

Inputs readData(LineSource& src, std::string_view name, const Control& control) {
  MainFrame main;
  Inputs in;
  in.order = control.order;
  in.switches = control.switches();
  int npt = 0;
  readAt(main, 119, src, name, {listTarget(npt), listTarget(in.urel)});
  if (npt < 1) fatalIo(err::kBadValue, "READ", name, "point count " + std::to_string(npt) + " is below 1");
  main.at(123);
  const int ncoef = iadd(control.order, 1);
  if (npt < ncoef)
    fatalIo(err::kBadValue, "READ", name,
            "point count " + std::to_string(npt) + " is below the " + std::to_string(ncoef) +
                " coefficients of an order " + std::to_string(control.order) + " fit");
  if (in.switches.printFits && npt == ncoef)  // the report divides chi2 by npt - ncoef
    fatalIo(err::kBadValue, "READ", name, "as many points as coefficients leave no degree of freedom for reduced chi2");
  main.at(129);
  try {
    in.points.resize(static_cast<std::size_t>(npt));
  } catch (const std::bad_alloc&) {
    fatalAllocate("insufficient virtual memory");
  }
  for (Point& p : in.points)
    readAt(main, 134, src, name, {listTarget(p.q), listTarget(p.uq), listTarget(p.e), listTarget(p.ue)});
  return in;
}

std::vector<std::string> pointWarnings(const std::vector<Point>& points) {
  constexpr int kShown = 10;
  // The shortest text that reads back to the same double: 94.6, 0, -0.004.
  auto shortest = [](double v) {
    char buf[32];
    return std::string(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
  };
  std::vector<std::string> lines;
  int count = 0;
  auto warn = [&](std::size_t i, const std::string& text) {
    if (++count <= kShown) lines.push_back("tarvel1: warning: point " + std::to_string(i + 1) + ": " + text);
  };
  for (std::size_t i = 0; i < points.size(); ++i) {
    const Point& p = points[i];
    if (p.e > 1.0) warn(i, "efficiency " + shortest(p.e) + " is above 1 (efficiencies are fractions, not percent)");
    if (p.e <= 0.0) warn(i, "efficiency " + shortest(p.e) + " is not above 0");
    if (p.ue == 0.0) warn(i, "efficiency uncertainty is 0 (the fit will divide by zero)");
    if (p.ue < 0.0) warn(i, "efficiency uncertainty " + shortest(p.ue) + " is negative");
    if (p.uq < 0.0) warn(i, "index uncertainty " + shortest(p.uq) + " is negative");
  }
  if (count > kShown)
    lines.push_back("tarvel1: warning: " + std::to_string(count - kShown) + " more warning" +
                    (count == kShown + 1 ? "" : "s") + " not shown");
  return lines;
}

}  // namespace tarvel
