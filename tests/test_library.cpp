// The library as other code calls it: calibrations one after the other and
// two at once in one process, each against the program's run of the same
// input, byte for byte (the record of a normal end, the report of an error);
// the pauses handed to the observer; the caller's floating-point environment
// as it was, traps and flags; a Calibration's figures changed by its caller,
// and a workspace asked for by a second calibration.
#include <future>
#include <thread>

#include "../bench/made_points.h"
#include "support.h"
#include "tarvel/tarvel.h"

namespace {

using namespace tarvel;

// Collects the pauses of a run.
struct Pauses : Observer {
  std::string texts;
  void pause(std::string_view text) override { texts += std::string(text) + "\n"; }
};

TEST(Library, CalibrationsAgainstTheProgram) {
  const std::string example = ts::slurp(EXAMPLES_DIR "/points.dat");
  std::ostringstream huge;  // a Monte Carlo trial overflows after the first block
  huge << std::setprecision(17) << "13 .005\n";
  std::istringstream in(example.substr(example.find('\n') + 1));
  for (double q, uq, e, ue; in >> q >> uq >> e >> ue;) huge << q << " " << uq * 1.7e18 << " " << e << " " << ue << "\n";
  const struct { int order; const char* opt; std::string data, pauses; } rows[] = {
      {2, "100110", example, ""},
      {3, "101101", example, ""},
      {8, "100110", huge.str(), ""},
      {1, "000000", "2 0.005\n1e-200 .5 .9 .01\n2e-200 .5 .8 .01\n", "singular matrix in gaussj\n"},
      {1, "001111", "2 0.005\n1 1 1 1\n3 1 1 0\n", ""}};
  for (const auto& c : rows) {
    SCOPED_TRACE(std::string("order ") + std::to_string(c.order) + " " + c.opt);
    ts::Scratch d;
    d.write("control.dat", ts::control(c.order, c.opt));
    d.write("points.dat", c.data);
    const ts::Run r = ts::run(TARVEL1_EXE, d, "\n0\n", "--json rec.json");
    const std::string want = r.status == 0 ? d.read("rec.json") : r.err.substr(r.err.find("\r\n"));
    RecordContext program{"test calibration", "points.dat", "results.dat", {}, c.opt[5] == '1', {}};
    for (int k = 0; k < 6; ++k) program.opt[k] = c.opt[k] - '0';
    const Inputs inputs = read(d.path);
    auto calibration = [&](std::string& got, std::string& pauses) {
      Pauses observer;
      try {
        got = record(calibrate(inputs, &observer), &program);
      } catch (const Error& e) {
        got = e.report();
      }
      pauses = observer.texts;
    };
    // One after the other, the caller holding a trap and a flag of its own.
    std::string got[4], pauses[4];
    fexcept_t flags;
    feclearexcept(FE_ALL_EXCEPT);
    feraiseexcept(FE_INEXACT);
    feenableexcept(FE_UNDERFLOW);
    calibration(got[0], pauses[0]);
    const int traps = fegetexcept();
    fegetexceptflag(&flags, FE_ALL_EXCEPT);
    fedisableexcept(FE_ALL_EXCEPT);
    EXPECT_EQ(traps, FE_UNDERFLOW);
    EXPECT_EQ(fetestexcept(FE_ALL_EXCEPT), FE_INEXACT);
    calibration(got[1], pauses[1]);
    // Two at once.
    std::thread first(calibration, std::ref(got[2]), std::ref(pauses[2]));
    std::thread second(calibration, std::ref(got[3]), std::ref(pauses[3]));
    first.join();
    second.join();
    for (int k = 0; k < 4; ++k) {
      EXPECT_EQ(ts::visible(got[k]), ts::visible(want)) << "calibration " << k;
      EXPECT_EQ(pauses[k], c.pauses) << "calibration " << k;
    }
  }
}

// The answers come from the fitted curve that calibrate() made, whatever a
// copy's public figures say: an index inside the range the copy now claims
// but outside the calibrated one is refused, an index inside the calibrated
// one answered with the original's bits; a Calibration that calibrate() did
// not make answers nothing.
TEST(Library, AnswersKeepToTheFittedCurve) {
  Inputs in = read(EXAMPLES_DIR);
  in.threads = 2;
  const Calibration cal = calibrate(in);
  const double low = cal.qmin, high = cal.qmax, mid = (low + high) / 2;
  const auto same = [](const Answer& a, const Answer& b) {
    return a.q == b.q && a.y.e == b.y.e && a.y.u == b.y.u && a.xy.e == b.xy.e && a.xy.u == b.xy.u &&
           a.mc.e == b.mc.e && a.mc.u == b.mc.u;
  };
  const struct { const char* change; double qmin, qmax, scale; } rows[] = {
      {"range widened", -1e9, 1e9, 1.0}, {"range narrowed", mid, mid, 1.0}, {"coefficients scaled", low, high, 3.0}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.change);
    Calibration c = cal;
    c.qmin = r.qmin;
    c.qmax = r.qmax;
    for (double& a : c.weightedFit.coefficients) a *= r.scale;
    for (double& a : c.monteCarloFit.coefficients) a *= r.scale;
    for (const double q : {low, mid, high}) EXPECT_TRUE(same(c.efficiency(q), cal.efficiency(q))) << q;
    for (const double q : {low - 1, high + 1}) {
      EXPECT_THROW(c.efficiency(q), std::out_of_range) << q;
      EXPECT_FALSE(c.answer(q, nullptr).has_value()) << q;
    }
  }
  for (const double q : {0.0, mid}) EXPECT_THROW(Calibration().efficiency(q), std::logic_error) << q;
}

// Holds the calibration that runs on it at its first record until released.
struct Blocking : Observer {
  std::promise<void> started, released;
  std::shared_future<void> release = released.get_future().share();
  bool first = true;
  void record(int, std::string_view) override {
    if (!std::exchange(first, false)) return;
    started.set_value();
    release.wait();
  }
};

// A second calibration on a workspace that a calibration works on, from
// another thread or from the first one's observer, is refused with
// std::logic_error and leaves the first one's figures alone; the workspace
// serves again once the first is done, also after one that ended in an error.
TEST(Library, WorkspaceServesOneCalibrationAtATime) {
  const Inputs in = read(EXAMPLES_DIR);
  const std::string alone = record(calibrate(in));
  Workspace ws(2);
  Blocking blocking;
  std::string first;
  std::thread t([&] { first = record(calibrate(in, &blocking, &ws)); });
  blocking.started.get_future().wait();
  EXPECT_THROW(calibrate(in, nullptr, &ws), std::logic_error);
  blocking.released.set_value();
  t.join();
  EXPECT_EQ(first, alone);

  struct Nested : Observer {
    Workspace* ws;
    const Inputs* in;
    int refused = 0;
    void openCurve() override {
      try {
        calibrate(*in, nullptr, ws);
      } catch (const std::logic_error&) {
        ++refused;
      }
    }
  } nested;
  nested.ws = &ws;
  nested.in = &in;
  Inputs curve = in;
  curve.switches.curve = true;
  calibrate(curve, &nested, &ws);
  EXPECT_EQ(nested.refused, 1);

  Inputs broken = in;
  broken.points[1].ue = 0.0;  // the fit divides by zero
  EXPECT_THROW(calibrate(broken, nullptr, &ws), Error);
  EXPECT_EQ(record(calibrate(in, nullptr, &ws)), alone);
}

Inputs pointsOf(const std::string& data, int order, const char* opt) {
  ts::Scratch d;
  d.write("control.dat", ts::control(order, opt));
  d.write("points.dat", data);
  Inputs in = read(d.path);
  in.order = order;  // read() refuses too few points for the control's order
  return in;
}

// Q, its verdict, the degrees of freedom and AIC, AICc and BIC of every
// weighted fit whatever the switches; a Q that the program would not print
// never pauses, and stays out of the record.
TEST(Library, FitQualityWhateverTheSwitches) {
  const std::string example = ts::slurp(EXAMPLES_DIR "/points.dat"), three = "3 0\n1 0 .9 .01\n2 0 .82 .01\n4 0 .7 .01\n";
  std::ostringstream many;  // a chi-square just below its 798 degrees of freedom: gser needs more than 100 terms
  many << std::setprecision(17) << "800 0\n";
  for (int i = 1; i <= 800; ++i) many << i << " 0 " << 0.9 - 0.0001 * i + (i % 2 ? -0.0009993 : 0.0009993) << " .001\n";
  const struct { int order; const char* opt; std::string data; int dof; bool hasQ; const char* pauses; } rows[] = {
      {2, "000000", example, 10, true, ""},        {3, "100000", example, 9, true, ""},
      {2, "000000", three, 0, false, ""},          {1, "000000", three, 1, true, ""},
      {1, "000000", many.str(), 798, false, ""},   {1, "100000", many.str(), 798, true, "a too large, ITMAX too small in gser\n"}};
  for (const auto& c : rows) {
    SCOPED_TRACE(std::string("order ") + std::to_string(c.order) + " " + c.opt + " dof " + std::to_string(c.dof));
    Inputs in = pointsOf(c.data, 0, c.opt);
    in.order = c.order;
    Pauses observer;
    const Calibration cal = calibrate(in, &observer);
    const WeightedFit& f = cal.weightedFits.back();
    const double k = c.order + 1, n = static_cast<double>(in.points.size());
    EXPECT_EQ(observer.texts, c.pauses);
    EXPECT_EQ(f.dof, c.dof);
    EXPECT_EQ(f.Q.has_value(), c.hasQ);
    EXPECT_EQ(f.verdict.has_value(), c.hasQ);
    if (c.hasQ && !*c.pauses) {
      const double want = ts::chiSquareQ(c.dof, f.chi2 / 2);
      EXPECT_NEAR(*f.Q, want, 2e-6 * want);
      EXPECT_EQ(*f.verdict, want > 0.01 ? "Goodness of fit believable" : want > 0.001 ? "Not so good fit!" : "Bad fit!");
    }
    EXPECT_NEAR(f.aic, f.chi2 + 2 * k, 1e-12);
    EXPECT_NEAR(f.bic, f.chi2 + k * std::log(n), 1e-12);
    EXPECT_EQ(f.aicc.has_value(), n - k - 1 > 0);
    if (f.aicc) {
      EXPECT_NEAR(*f.aicc, f.chi2 + 2 * k + 2 * k * (k + 1) / (n - k - 1), 1e-12);
    }
    // The record holds Q as the program prints it, and the criteria.
    const std::string rec = record(cal);
    EXPECT_EQ(rec.find("\"Q\"") != std::string::npos, c.opt[0] == '1');
    EXPECT_NE(rec.find(f.aicc ? "\"aicc\": " : "\"aicc\": null"), std::string::npos);
  }
}

// Every row of the table against a calibration of its own at that order,
// bit for bit; the rows that cannot be fitted, with their reasons.
TEST(Library, OrdersAgainstSingleCalibrations) {
  std::string negative = "10 .005\n";  // a negative variance of the curve at order 7
  for (int i = 1; i <= 10; ++i)
    negative += std::to_string(i) + " " + std::to_string(i / 100.0) + " " + std::to_string(0.95 - 0.03 * (i - 1)) + " .003\n";
  const struct { std::string data; std::vector<int> orders; std::vector<std::string> failures; int recommended; } rows[] = {
      {ts::slurp(EXAMPLES_DIR "/points.dat"), {5, 0, 2, 2}, {"", "", ""}, 2},
      {"2 0.005\n1e-200 .5 .9 .01\n2e-200 .5 .8 .01\n", {3, 1, 0},
       {"", "run-time error M6103: floating-point error: divide by zero (after: singular matrix in gaussj)",
        "too few points: 2 for 4 coefficients"}, 0},
      {"2 0.005\n0 .5 .9 .01\n0 .5 .8 .01\n", {}, {""}, 0},  // order 0 alone
      {negative, {1, 7}, {"", "run-time error M6201: sqrt: DOMAIN error (rounding made the curve's variance negative: the "
                              "covariance of a fit of this order is too nearly singular; a lower order helps)"}, 1}};
  for (const auto& c : rows) {
    const Inputs in = pointsOf(c.data, 0, "100110");
    const OrderTable t = compareOrders(in, c.orders);
    ASSERT_EQ(t.rows.size(), c.failures.size());
    EXPECT_EQ(t.recommended, c.recommended);
    for (std::size_t r = 0; r < t.rows.size(); ++r) {
      const OrderRow& row = t.rows[r];
      SCOPED_TRACE("order " + std::to_string(row.order));
      EXPECT_EQ(row.failure, c.failures[r]);
      if (!row.failure.empty()) continue;
      Inputs one = in;
      one.order = row.order;
      const Calibration cal = calibrate(one);
      const WeightedFit& f = cal.weightedFits.back();
      EXPECT_EQ(std::tuple(row.fit.coefficients, row.fit.chi2, row.fit.dof, row.fit.reducedChi2, row.fit.Q, row.fit.verdict,
                           row.fit.aic, row.fit.aicc, row.fit.bic),
                std::tuple(f.coefficients, f.chi2, f.dof, f.reducedChi2, f.Q, f.verdict, f.aic, f.aicc, f.bic));
      for (int k = 0; k < 3; ++k) EXPECT_EQ(row.curveUncertainty[k], cal.efficiency(t.at[k]).xy.u) << k;
      // Residuals along the curve with uncertainties in x and y, its slope from the coefficients.
      double chi2 = 0, largest = 0;
      int at = 0;
      for (std::size_t i = 0; i < in.points.size(); ++i) {
        const Point& p = in.points[i];
        double slope = 0;
        for (std::size_t j = 1; j < cal.monteCarloFit.coefficients.size(); ++j)
          slope += j * cal.monteCarloFit.coefficients[j] * std::pow(p.q, j - 1.0);
        const double z = std::fabs(p.e - cal.residuals[i].eCalc) / std::hypot(p.ue, slope * p.uq);
        chi2 += z * z;
        if (z > largest) largest = z, at = static_cast<int>(i) + 1;
      }
      EXPECT_NEAR(row.chi2xy, chi2, 1e-12 * chi2);
      EXPECT_NEAR(row.largestResidual, largest, 1e-12 * largest);
      EXPECT_EQ(row.largestResidualPoint, at);
      if (f.dof > 0) {
        EXPECT_NEAR(*row.Qxy, ts::chiSquareQ(f.dof, chi2 / 2), 1e-6);
      }
    }
  }
  EXPECT_THROW(compareOrders(Inputs{}), std::invalid_argument);
}

// The rule names the true order of made points: two sets of each of a
// straight line, a quadratic and a cubic (bench_orders --confusion checks 200).
TEST(Library, OrderRuleOnMadeData) {
  Workspace workspace;
  for (int order = 1; order <= 3; ++order)
    for (std::uint64_t set = 1; set <= 2; ++set)
      EXPECT_EQ(compareOrders(made::points(order, set), {0, 1, 2, 3, 4, 5}, &workspace).recommended, order) << set;
}

}  // namespace
