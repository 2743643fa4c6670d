// The table of tarvel1 --orders: one row an order, then the recommended order,
// the rule that chose it and what the columns mean, each explanation folded
// at 100 columns.
#include "orders.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

namespace tarvel {

namespace {

constexpr std::size_t kWidth = 100;

// v in `width` columns with `decimals` decimals, or in exponent form when
// that would not fit; "-" for a figure that cannot be had.
std::string number(std::optional<double> v, int width, int decimals) {
  char buf[64];
  if (!v) {
    std::snprintf(buf, sizeof buf, "%*s", width, "-");
    return buf;
  }
  std::snprintf(buf, sizeof buf, "%*.*f", width, decimals, *v);
  const bool tiny = *v != 0.0 && std::fabs(*v) < std::pow(10.0, -decimals);
  if (std::string(buf).size() > static_cast<std::size_t>(width) || tiny)
    std::snprintf(buf, sizeof buf, "%*.*e", width, std::max(1, width - 8), *v);
  return buf;
}

// `lead` and then the words of `text` folded at kWidth columns, the lines
// after the first indented by `indent`.
void fold(std::vector<std::string>& lines, const std::string& text, const std::string& indent,
          const std::string& lead = "") {
  std::string line = lead;
  bool first = true;  // the line holds no word yet
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find(' ', at);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(at, end - at);
    if (!first && line.size() + 1 + word.size() > kWidth) {
      lines.push_back(line);
      line = indent;
      first = true;
    }
    line += (first ? "" : " ") + word;
    first = false;
    at = end + 1;
  }
  lines.push_back(line);
}

std::string index(double q) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "u(%g)", q);
  return buf;
}

}  // namespace

std::vector<std::string> ordersReport(const OrderTable& t, const Inputs& in, const std::string& dataFile) {
  std::vector<std::string> lines;
  lines.push_back("Polynomial orders fitted to the " + std::to_string(in.points.size()) + " points of " + dataFile);
  lines.push_back("");
  char buf[512];
  std::snprintf(buf, sizeof buf, "%5s %10s %4s %9s %9s %10s %10s %10s %10s %7s %5s %10s %10s %10s", "order", "chi2",
                "dof", "chi2/dof", "Q", "AIC", "AICc", "BIC", "chi2(x,y)", "|r|/u", "point", index(t.at[0]).c_str(),
                index(t.at[1]).c_str(), index(t.at[2]).c_str());
  lines.push_back(buf);
  for (const OrderRow& r : t.rows) {
    if (!r.failure.empty()) {
      fold(lines, "not fitted: " + r.failure, std::string(7, ' '), "    " + std::to_string(r.order) + "  ");
      continue;
    }
    const WeightedFit& f = r.fit;
    std::optional<double> Q;
    if (f.Q) Q = *f.Q;
    std::snprintf(buf, sizeof buf, "%5d %s %4d %s %s %s %s %s %s %s %5d %s %s %s", r.order, number(f.chi2, 10, 2).c_str(),
                  f.dof, number(f.reducedChi2, 9, 3).c_str(), number(Q, 9, 4).c_str(), number(f.aic, 10, 2).c_str(),
                  number(f.aicc, 10, 2).c_str(), number(f.bic, 10, 2).c_str(), number(r.chi2xy, 10, 2).c_str(),
                  number(r.largestResidual, 7, 2).c_str(), r.largestResidualPoint,
                  number(r.curveUncertainty[0], 10, 6).c_str(), number(r.curveUncertainty[1], 10, 6).c_str(),
                  number(r.curveUncertainty[2], 10, 6).c_str());
    lines.push_back(buf);
  }
  lines.push_back("");
  lines.push_back(t.recommended ? "Recommended order: " + std::to_string(*t.recommended)
                                : std::string("Recommended order: none (no order could be fitted)"));
  fold(lines, "Rule: " + t.rule + ".", "  ");
  if (!t.caution.empty()) fold(lines, "Caution: " + t.caution + ".", "  ");
  lines.push_back("");
  fold(lines,
       "chi2, Q, AIC, AICc, BIC: the weighted fit (uncertainties in y); Q is the chi-square probability, AIC = "
       "chi2 + 2k, AICc = AIC + 2k(k+1)/(n-k-1), BIC = chi2 + k ln n (k coefficients, n points).",
       "  ");
  fold(lines,
       "chi2(x,y): the sum of ((e - ecalc)/u)^2 over the points, ecalc the curve with uncertainties in x and y at the "
       "point (the residual table's e-calc) and u = sqrt(ue^2 + (de/dq uq)^2), the point's uncertainties in both "
       "coordinates along that curve; |r|/u: the largest |e - ecalc|/u, at the point numbered (from 1, as in the "
       "data file).",
       "  ");
  fold(lines,
       "u(q): the combined standard uncertainty of the curve with uncertainties in x and y at the smallest index, "
       "the middle of the range and the largest index.",
       "  ");
  return lines;
}

}  // namespace tarvel
