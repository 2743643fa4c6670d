// The library's entry points: reading the inputs, checking them, the whole
// calibration, the answers to queries and the workspace of threads. Each
// holds its caller's floating-point environment aside while it works.
#include <cerrno>
#include <cmath>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "records/listin.h"
#include "run/input.h"
#include "run/run.h"
#include "run/version.h"
#include "stats/gammq.h"

namespace tarvel {

void Observer::record(int, std::string_view) {}
void Observer::openCurve() {}
void Observer::closeCurve() {}
void Observer::pause(std::string_view) {}
void Observer::warning(std::string_view) {}
bool Observer::cancelled() { return false; }

Switches Control::switches() const {
  Switches s;
  s.printFits = opt[0] == 1;
  s.dropNegligible = opt[2] == 1;
  s.probability = opt[3] == 1;
  s.curve = opt[4] == 1;
  return s;
}

namespace {

// The whole file, or std::system_error naming it.
std::string slurp(const std::string& path, const char* what) {
  errno = 0;
  std::ifstream f(path, std::ios::binary);
  std::ostringstream bytes;
  if (f) bytes << f.rdbuf();
  if (!f) throw std::system_error(errno != 0 ? errno : EIO, std::generic_category(),
                                  std::string("cannot read ") + what + " '" + path + "'");
  return bytes.str();
}

void refuse(const std::string& what) { throw std::invalid_argument(what); }

}  // namespace

Inputs read(const std::string& directory, Control* said) {
  const FpEnvironment held;
  const std::string dir = directory.empty() ? "." : directory;
  MemoryLines control(slurp(dir + "/control.dat", "control file"));
  const Control c = readControl(control, "control.dat");
  if (said != nullptr) *said = c;
  if (c.dataFile.empty()) throw std::runtime_error("control.dat names no data file");
  MemoryLines data(slurp(dir + "/" + c.dataFile, "data file"));
  return readData(data, c.dataFile, c);
}

namespace {

// What calibrate() refuses.
void checkCounts(const Inputs& in) {
  if (in.order < 0 || in.order > kMaxOrder)
    refuse("order " + std::to_string(in.order) + " is outside 0 to " + std::to_string(kMaxOrder));
  const std::size_t ncoef = static_cast<std::size_t>(in.order) + 1;
  if (in.points.size() < ncoef)
    refuse(std::to_string(in.points.size()) + " points are fewer than the " + std::to_string(ncoef) +
           " coefficients of an order " + std::to_string(in.order) + " fit");
  if (in.switches.printFits && in.points.size() == ncoef)
    refuse("as many points as coefficients leave no degree of freedom for the reduced chi-square of each fit");
  if (const int distinct = distinctIndices(in.points, static_cast<int>(ncoef)); distinct < static_cast<int>(ncoef))
    refuse(fewerDistinct(distinct, in.order));
  if (in.points.size() > static_cast<std::size_t>(INT32_MAX)) refuse("too many points");
  if (in.threads < 0) refuse("a negative thread count");
}

}  // namespace

void checkInputs(const Inputs& in) {
  checkCounts(in);
  if (!std::isfinite(in.urel)) refuse("the relative uncertainty is not finite");
  for (std::size_t i = 0; i < in.points.size(); ++i) {
    const Point& p = in.points[i];
    const std::string point = "point " + std::to_string(i + 1) + ": ";
    if (!std::isfinite(p.q) || !std::isfinite(p.uq) || !std::isfinite(p.e) || !std::isfinite(p.ue))
      refuse(point + "a value is not finite");
    if (p.ue == 0.0) refuse(point + "the efficiency uncertainty is 0 (it is a weight of the fit)");
  }
}

Calibration calibrate(Inputs inputs, Observer* observer, Workspace* workspace) {
  checkCounts(inputs);
  const FpEnvironment held;
  std::unique_ptr<Workspace> own;
  if (workspace == nullptr) {
    own = std::make_unique<Workspace>(inputs.threads);
    workspace = own.get();
  }
  const WorkspaceHold hold(*workspace);
  const PauseHandler pauses(observer);
  MainFrame main;
  Run run(inputs, observer, hold.pool(), main);
  echoPoints(run);
  weightedFit(run);
  monteCarlo(run);
  covarianceReport(run);
  residualTable(run);
  curveTable(run);
  checkFloatingPoint();
  run.result.inputs = std::move(inputs);
  finish(run);
  return std::move(run.result);
}

std::optional<Answer> Calibration::answer(double q, Observer* observer) const {
  if (!fitted) throw std::logic_error("a Calibration that calibrate() did not make answers nothing");
  const FpEnvironment held;
  const PauseHandler pauses(observer);
  MainFrame main;
  Report out(observer);
  std::optional<Answer> a = answerQuery(*fitted, q, out, main);
  checkFloatingPoint();
  return a;
}

Answer Calibration::efficiency(double q) const {
  if (!fitted) throw std::logic_error("a Calibration that calibrate() did not make answers nothing");
  const FpEnvironment held;  // a NaN compared raises the invalid flag
  // The range is the fitted curve's own, whatever qmin and qmax now say.
  const FittedCurve& c = *fitted;
  if (!(q >= c.qmin && q <= c.qmax)) {
    std::ostringstream what;
    what.precision(17);
    what << "Interpolation only ! the index " << q << " is outside the calibrated range " << c.qmin << " to " << c.qmax;
    throw std::out_of_range(what.str());
  }
  return *answer(q, nullptr);
}

std::optional<double> chiSquareProbability(double chi2, double nu) {
  const FpEnvironment held;
  try {
    // The pause that a shape or an argument out of the function's domain
    // would make, and any floating-point error, abandon it.
    const TrialScope trial;
    const double q = gammq(nu / 2.0, chi2 / 2.0);
    abandonFlaggedTrial();
    if (std::isfinite(q)) return q;
  } catch (const TrialAbandoned&) {
  } catch (const Error&) {
  }
  return std::nullopt;
}

const char* version() { return kVersion; }

}  // namespace tarvel
