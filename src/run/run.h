// The calibration run: its state, alive for the whole process, and its
// phases in the order main runs them.
#pragma once

#include <memory>
#include <string>

#include "records/runtime.h"

namespace tarvel {

class WorkerPool;
class SpreadWork;

inline constexpr int kTrials = 10000;  // Monte Carlo trials of every run
inline constexpr int kSlots = 9;       // coefficient slots: order 8 at most
inline constexpr int kNameLength = 255;
inline constexpr int kLabelLength = 15;
inline constexpr int kResults = 3;
inline constexpr int kCurve = 4;
inline constexpr int kInput = 2;

// Everything the run knows, alive until the process ends.
struct RunState {
  int seed = 0;
  std::string label, datfile, resfile;
  int ncoef = 0;
  int opt[7] = {};  // opt[1..6]
  int npt = 0, npfit = 0;
  double urel = 0.0;
  Vec<double> qe, uqe, e, ue, qfit, efit, sfit;
  double qmin = 0.0, qmax = 0.0, chi2prev = 0.0;
  Vec<double> a{kSlots}, asave{kSlots};
  Vec<int> ifit{kSlots};
  Mat<double> cov{kSlots, kSlots};
  double chi2 = 0.0;
  int niter = 0;
  float Q = 0.0f;
  // Monte Carlo results and the scratch values of the later phases.
  Mat<double> aset{kSlots, kTrials};
  Vec<double> amc{kSlots};
  Mat<double> covmc{kSlots, kSlots};
  Mat<double> covtrial{kSlots, kSlots};
  Vec<double> esample{kTrials}, awork{kSlots};
  double ecalc = 0.0, sdfit = 0.0, sdmc = 0.0, emean = 0.0, esd = 0.0, qx = 0.0, qstep = 0.0;
  // Threads of the Monte Carlo refits and of the residual table's spreads;
  // 0: one a core.
  int threads = 0;
  // Largest |qe(i)^(j-1)| over the points, slot by slot, with the bits of
  // the integer power (set by the Monte Carlo phase).
  double qpow[kSlots] = {};
  // The run's threads, made by the first phase that needs them; and the
  // residual table's spreads, which they start on as soon as the last trial
  // is in.
  std::shared_ptr<WorkerPool> pool;
  std::shared_ptr<SpreadWork> spreads;
};

// Start-up: control.dat, the data file, the results file, the point arrays
// and the table of calibration points.
void startUp(RunState& s);
// Weighted fit with uncertainties in y, its report and the coefficient listing.
void weightedFit(RunState& s);
// 10000 refits of perturbed points and the fit with uncertainties in x and y.
void monteCarlo(RunState& s);
// The summed covariance matrix.
void covarianceReport(RunState& s);
// Measured against calculated efficiencies, results file only.
void residualTable(RunState& s);
// courbe.dat, when opt(5) is 1.
void curveTable(RunState& s);
// Efficiency queries at the console, when opt(6) is 1.
void interpolation(RunState& s);
// The verdict printed after the goodness-of-fit probability Q.
const char* fitVerdict(float Q);
// Closes the results file and stops with `status`.
[[noreturn]] void endStep(int status);

// The threads a run uses: TARVEL_THREADS when it is a whole number from 1 to
// 256, otherwise one a core.
int threadCount();

// The run's pool of threads (made on first use); with one thread, the main
// thread alone.
WorkerPool* runPool(RunState& s);

// True when no efficiency of the polynomial with coefficients a(1..9) at a
// calibration point can overflow (a bound over qpow); the evaluation itself
// can then be left to whoever needs the efficiency.
bool efficienciesBounded(const RunState& s, const double* a);

// How a Monte Carlo trial comes to its turn in the trial loop.
enum class Turn {
  fitted,  // refitted ahead: its coefficients are in aset (the last trial's in a too)
  refit,   // its perturbed points are in qfit, efit, sfit: to be fitted here
};

// The Monte Carlo trials on every thread. The main thread draws the points
// of the disc that gasdev turns into deviates, a block of trials at a time,
// in trial order on the one random sequence; every thread turns a trial's
// points into its deviates and perturbed points and refits it (four at a
// time with ajustLanes where it can), inside a TrialScope. While the threads refit one block, the main thread draws the
// next and then joins them; while they refit the next, it takes the last one
// over. take() hands the trials over in order. A trial that would have ended
// the run (a trap, a fatal error, a pause, an efficiency that overflows)
// comes back as Turn::refit, its perturbed points made again, traps on, on
// the main thread, where an overflow in them ends the run as a one-thread
// draw does. With one thread the main thread does all of it, in the same way.
class ParallelTrials {
 public:
  explicit ParallelTrials(RunState& s);
  ~ParallelTrials();
  ParallelTrials(const ParallelTrials&) = delete;
  ParallelTrials& operator=(const ParallelTrials&) = delete;
  Turn take(int k);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The residual table's spread of the trials at every calibration point: the
// efficiencies that each trial's coefficients in aset give at qe(i) and their
// mean and standard deviation, computed ahead on every thread inside a
// TrialScope (started by the Monte Carlo phase, or here). take(i) sets emean
// and esd of point i; a point whose spread would have ended the run, or any
// point with one thread, is computed there and then, on the calling thread.
class TrialSpreads {
 public:
  explicit TrialSpreads(RunState& s);
  ~TrialSpreads();
  TrialSpreads(const TrialSpreads&) = delete;
  TrialSpreads& operator=(const TrialSpreads&) = delete;
  void take(int i) const;

 private:
  RunState& s_;
  std::shared_ptr<SpreadWork> work_;
};

// The whole run, as the program's entry point runs it.
[[noreturn]] void runCalibration(int argc, char** argv);

}  // namespace tarvel
