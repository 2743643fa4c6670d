// The library as other code calls it: calibrations one after the other and
// two at once in one process, each against the program's run of the same
// input, byte for byte (the record of a normal end, the report of an error);
// the pauses handed to the observer; the caller's floating-point environment
// as it was, traps and flags; a Calibration's figures changed by its caller,
// and a workspace asked for by a second calibration.
#include <future>
#include <thread>

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

}  // namespace
