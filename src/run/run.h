// The calibration run: what it works on, and its phases in the order they run.
//
// A run is made of its settings and points (from the inputs), the fitted curve
// (the weighted fit, then the Monte Carlo fit; kept by the Calibration for its
// answers), the random sequence, and its report, which goes to the observer.
// The statements of the main program are numbered; STMT marks the one under
// way in the main frame, as the traceback shows it.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "fit/fpoly.h"
#include "records/format.h"
#include "records/listout.h"
#include "records/runtime.h"
#include "stats/gasdev.h"
#include "tarvel/tarvel.h"

namespace tarvel {

class WorkerPool;
class SpreadWork;

inline constexpr int kResults = kResultsUnit;
inline constexpr int kCurve = kCurveUnit;

// The fitted curve: everything that the answers to queries need.
struct FittedCurve {
  int ncoef = 0;  // coefficients of the final fits (order + 1)
  double qmin = 0.0, qmax = 0.0;
  // The weighted fit.
  Vec<double> asave{kSlots};
  Mat<double> cov{kSlots, kSlots};
  // The Monte Carlo fit: every trial's coefficients, their mean and sample covariance.
  Mat<double> aset{kSlots, kTrials};
  Vec<double> amc{kSlots};
  Mat<double> covmc{kSlots, kSlots};
};

// The calibration points.
struct Points {
  int npt = 0;
  double urel = 0.0;
  Vec<double> qe, uqe, e, ue;
};

// The run's report: records handed to the observer, if any, after the
// floating-point check that a write makes.
class Report : public RecordSink {
 public:
  explicit Report(Observer* observer) : observer_(observer) {}
  void writeRecord(int unit, std::string_view record) override;
  void list(int unit, std::initializer_list<ListOutItem> items);
  void both(std::initializer_list<ListOutItem> items);
  void formatted(int unit, const char* fmt, std::initializer_list<FmtItem> items);
  void bothFormatted(const char* fmt, std::initializer_list<FmtItem> items);
  void warning(const std::string& text) {
    if (observer_ != nullptr) observer_->warning(text);
  }
  Observer* observer() const { return observer_; }

 private:
  Observer* observer_;
};

struct Run {
  Run(const Inputs& in, Observer* observer, WorkerPool& workers, MainFrame& frame);
  ~Run();

  Switches sw;
  Points pts;
  std::shared_ptr<FittedCurve> fit = std::make_shared<FittedCurve>();
  // The random sequence of the trials, from its fixed seed.
  int seed = -911;
  Ran1State uniform{};
  GasdevState normal{};
  Report out;
  MainFrame& main;
  WorkerPool& pool;
  // Largest |qe(i)^(j-1)| over the points, slot by slot, with the bits of the
  // integer power (set by the Monte Carlo phase).
  double qpow[kSlots] = {};
  // The residual table's spreads, which the threads start on as soon as the
  // last trial is in.
  std::shared_ptr<SpreadWork> spreads;
  Calibration result;

  // Whether the observer has asked the run to stop (asked on the run's own
  // thread only); stopIfAsked() throws Cancelled then.
  bool stopAsked() {
    if (!stopping_ && out.observer() != nullptr && out.observer()->cancelled()) stopping_ = true;
    return stopping_;
  }
  void stopIfAsked() {
    if (stopAsked()) throw Cancelled();
  }

 private:
  bool stopping_ = false;
};

// The phases.
void echoPoints(Run& s);
void weightedFit(Run& s);
void monteCarlo(Run& s);
void covarianceReport(Run& s);
void residualTable(Run& s);
void curveTable(Run& s);
// The figures of the run into its Calibration.
void finish(Run& s);
// The fitted curve that a Calibration answers from; none when calibrate() did not make it.
const FittedCurve* fittedCurve(const Calibration& calibration);

// The answer to a query at q, its records in `out`: nullopt (and
// " Interpolation only !") outside the calibrated range.
std::optional<Answer> answerQuery(const FittedCurve& c, double q, Report& out, MainFrame& main);

// The verdict printed after the goodness-of-fit probability Q.
const char* fitVerdict(float Q);

// A weighted fit's degrees of freedom and information criteria over npt
// points, and, when `quietQ`, its Q and verdict computed without a pause, an
// error or a floating-point flag (none when they cannot be had).
void fitFigures(WeightedFit& fit, int npt, bool quietQ);

// The fit with uncertainties in x and y at q: its efficiency and combined
// standard uncertainty.
Estimate curvePoint(const FittedCurve& c, double q);

// True when no efficiency of the polynomial with coefficients a(1..9) at a
// calibration point can overflow (a bound over qpow); the evaluation itself
// can then be left to whoever needs the efficiency.
bool efficienciesBounded(const Run& s, const double* a);

// A workspace held by one calibration for its scope: throws std::logic_error
// when another calibration holds it; pool() is its threads, which run one job
// at a time together with the thread that hands it out, job index 0.
class WorkspaceHold {
 public:
  explicit WorkspaceHold(Workspace& w);
  ~WorkspaceHold();
  WorkspaceHold(const WorkspaceHold&) = delete;
  WorkspaceHold& operator=(const WorkspaceHold&) = delete;
  WorkerPool& pool() const;

 private:
  Workspace& w_;
};

// How a Monte Carlo trial comes to its turn in the trial loop.
enum class Turn {
  fitted,  // refitted ahead: its coefficients are in aset
  refit,   // its perturbed points are in points(): to be fitted here
};

// A trial's perturbed points.
struct TrialPoints {
  const double* q;
  const double* e;
  const double* sig;
};

// The Monte Carlo trials on every thread. The main thread draws the points
// of the disc that gasdev turns into deviates, a block of trials at a time,
// in trial order on the one random sequence; every thread turns a trial's
// points into its deviates and perturbed points and refits it (four at a
// time with ajustLanes where it can), inside a TrialScope. While the threads
// refit one block, the main thread draws the next and then joins them; while
// they refit the next, it takes the last one over. take() hands the trials
// over in order. A trial that would have ended the run (a floating-point
// error, a fatal error, a pause, an efficiency that overflows) comes back as
// Turn::refit, its perturbed points made again on the main thread, where an
// error in them ends the run as a one-thread draw does. With one thread the
// main thread does all of it, in the same way.
class ParallelTrials {
 public:
  explicit ParallelTrials(Run& s);
  ~ParallelTrials();
  ParallelTrials(const ParallelTrials&) = delete;
  ParallelTrials& operator=(const ParallelTrials&) = delete;
  Turn take(int k);
  TrialPoints points() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The residual table's spread of the trials at every calibration point: the
// efficiencies that each trial's coefficients in aset give at qe(i), their
// mean and standard deviation, computed ahead on every thread inside a
// TrialScope (started by the Monte Carlo phase, or here). take(i) gives them
// for point i; a point whose spread would have ended the run, or any point
// with one thread, is computed there and then, on the calling thread.
class TrialSpreads {
 public:
  explicit TrialSpreads(Run& s);
  ~TrialSpreads();
  TrialSpreads(const TrialSpreads&) = delete;
  TrialSpreads& operator=(const TrialSpreads&) = delete;
  std::pair<double, double> take(int i) const;

 private:
  Run& s_;
  std::shared_ptr<SpreadWork> work_;
};

}  // namespace tarvel
