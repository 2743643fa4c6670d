// The calibration run: its state, alive for the whole process, and its
// phases in the order main runs them.
#pragma once

#include <string>

#include "records/runtime.h"

namespace tarvel {

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
  Mat<double> store;  // efficiency of trial k's polynomial at qe(i): (i, k)
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

// The whole run, as the program's entry point runs it.
[[noreturn]] void runCalibration(int argc, char** argv);

}  // namespace tarvel
