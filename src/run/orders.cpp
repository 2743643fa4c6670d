// Every polynomial order fitted to the same points, side by side: each order
// is a calibration of its own on the caller's threads, and the table holds
// its weighted fit's quality and information criteria, its residuals counted
// with the uncertainties of both coordinates, and the combined uncertainty of
// its curve; under it, the least complex order that no higher order betters.
#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

#include "records/runtime.h"
#include "run/run.h"
#include "stats/gammq.h"

namespace tarvel {

const char* const kOrderRule =
    "the least order that no higher order betters; a higher order betters it when its curve lowers the "
    "chi-square by more than chance does in 99 sets of points out of 100 (the 0.99 quantile of chi-square "
    "with as many degrees of freedom as it has more coefficients), both chi-squares counted with the "
    "uncertainties of both coordinates of the lower order's points: u = sqrt(ue^2 + (de/dq uq)^2), "
    "de/dq the slope of its curve with uncertainties in x and y";

namespace {

// The 0.99 quantiles of chi-square with 1 to 8 degrees of freedom.
constexpr double kQuantile99[kMaxOrder + 1] = {0.0,         6.634896601, 9.210340372,  11.34486673, 13.27670414,
                                              15.08627247, 16.81189383, 18.47530691, 20.09023503};

// Below this chi-square probability the chosen order gets a caution.
constexpr double kAdequate = 0.001;

// An order's calibration: nothing waits at a pause, whose text is kept for
// the reason of the error that follows it.
class Quiet : public Observer {
 public:
  void pause(std::string_view text) override { pauses += (pauses.empty() ? "" : "; ") + std::string(text); }
  std::string pauses;
};

// What the rule needs of a fitted order beyond its row: the curve with
// uncertainties in x and y at every point, and every point's squared
// uncertainty u^2 along that curve.
struct Fitted {
  std::vector<double> ecalc, u2;
};

// The slope at q of the polynomial with coefficients c (constant term first).
double slope(const std::vector<double>& c, double q) {
  double d = 0.0;
  for (std::size_t j = c.size() - 1; j >= 1; --j) d = d * q + static_cast<double>(j) * c[j];
  return d;
}

// The row of one order; `fitted` gets what the rule needs.
OrderRow fitOrder(const Inputs& base, int order, const std::array<double, 3>& at, Workspace& workspace,
                  Fitted& fitted) {
  OrderRow row;
  row.order = order;
  const std::size_t n = base.points.size();
  if (n < static_cast<std::size_t>(order) + 1) {
    row.failure = "too few points: " + std::to_string(n) + " for " + std::to_string(order + 1) + " coefficients";
    return row;
  }
  Inputs in = base;
  in.order = order;
  in.switches = Switches{};
  Quiet quiet;
  try {
    const Calibration cal = calibrate(std::move(in), &quiet, &workspace);
    row.fit = cal.weightedFits.back();
    {
      const FpEnvironment held;
      MainFrame main;
      for (std::size_t k = 0; k < at.size(); ++k) row.curveUncertainty[k] = curvePoint(*fittedCurve(cal), at[k]).u;
      checkFloatingPoint();
    }
    const FlagWatch quietFlags;  // a slope that overflows makes a chi-square that counts for nothing
    const std::vector<double>& c = cal.monteCarloFit.coefficients;
    for (std::size_t i = 0; i < n; ++i) {
      const Point& p = base.points[i];
      const double ecalc = cal.residuals[i].eCalc, s = slope(c, p.q) * p.uq;
      const double u2 = p.ue * p.ue + s * s, r = (p.e - ecalc) / std::sqrt(u2);
      fitted.ecalc.push_back(ecalc);
      fitted.u2.push_back(u2);
      row.chi2xy = row.chi2xy + r * r;
      if (std::fabs(r) > row.largestResidual || row.largestResidualPoint == 0) {
        row.largestResidual = std::fabs(r);
        row.largestResidualPoint = static_cast<int>(i) + 1;
      }
    }
    row.Qxy = gammqQuiet(static_cast<double>(row.fit.dof) / 2.0, row.chi2xy / 2.0);
  } catch (const Error& e) {
    row.failure = std::string("run-time error ") + e.letter() + std::to_string(e.number()) + ": " + e.message();
    if (!quiet.pauses.empty()) row.failure += " (after: " + quiet.pauses + ")";
    if (!e.note().empty()) row.failure += " (" + e.note() + ")";
  } catch (const std::invalid_argument& e) {
    row.failure = e.what();
  }
  return row;
}

// How much order m's curve lowers order k's chi-square, both counted with
// k's uncertainties.
double improvement(const Inputs& in, const Fitted& k, const Fitted& m) {
  const FlagWatch quietFlags;
  double d = 0.0;
  for (std::size_t i = 0; i < in.points.size(); ++i) {
    const double rk = in.points[i].e - k.ecalc[i], rm = in.points[i].e - m.ecalc[i];
    d = d + (rk * rk - rm * rm) / k.u2[i];
  }
  return d;
}

}  // namespace

OrderTable compareOrders(const Inputs& inputs, std::vector<int> orders, Workspace* workspace) {
  const std::size_t n = inputs.points.size();
  if (n == 0) throw std::invalid_argument("no calibration point");
  if (inputs.threads < 0) throw std::invalid_argument("a negative thread count");
  // Every order that leaves at least one degree of freedom, order 0 always.
  const int top = static_cast<int>(std::min<std::size_t>(n, kMaxOrder + 2)) - 2;
  if (orders.empty())
    for (int k = 0; k <= std::max(0, top); ++k) orders.push_back(k);
  for (int k : orders)
    if (k < 0 || k > kMaxOrder)
      throw std::invalid_argument("order " + std::to_string(k) + " is outside 0 to " + std::to_string(kMaxOrder));
  std::sort(orders.begin(), orders.end());
  orders.erase(std::unique(orders.begin(), orders.end()), orders.end());

  std::unique_ptr<Workspace> own;
  if (workspace == nullptr) {
    own = std::make_unique<Workspace>(inputs.threads);
    workspace = own.get();
  }
  OrderTable table;
  {
    const FpEnvironment held;  // a NaN index compares quietly
    double qmin = inputs.points[0].q, qmax = qmin;
    for (const Point& p : inputs.points) {
      if (p.q < qmin) qmin = p.q;
      if (p.q > qmax) qmax = p.q;
    }
    table.at = {qmin, qmin + (qmax - qmin) / 2.0, qmax};
  }
  std::vector<Fitted> fitted(orders.size());
  for (std::size_t r = 0; r < orders.size(); ++r)
    table.rows.push_back(fitOrder(inputs, orders[r], table.at, *workspace, fitted[r]));

  table.rule = kOrderRule;
  const FpEnvironment held;
  for (std::size_t k = 0; k < orders.size() && !table.recommended; ++k) {
    if (!table.rows[k].failure.empty()) continue;
    bool bettered = false;
    for (std::size_t m = k + 1; m < orders.size() && !bettered; ++m)
      bettered = table.rows[m].failure.empty() &&
                 improvement(inputs, fitted[k], fitted[m]) > kQuantile99[orders[m] - orders[k]];
    if (bettered) continue;
    table.recommended = orders[k];
    const OrderRow& row = table.rows[k];
    if (!(row.Qxy && *row.Qxy >= kAdequate))
      table.caution = "no order fits the points within their uncertainties: at order " + std::to_string(row.order) +
                      " the chi-square with both uncertainties has a probability below 0.001 (uncertainties too "
                      "small? see the point with the largest residual)";
  }
  return table;
}

}  // namespace tarvel
