// The phases of the calibration run. The run reads control.dat and the calibration data file, fits a polynomial
// by weighted least squares, refits it in 10000 Monte Carlo trials that
// perturb both coordinates, prints the coefficients, their covariance and a
// residual table, tabulates the curve into courbe.dat and answers efficiency
// queries at the console. Every phase works on the one run state below.
#include <cmath>
#include <cstdio>
#include <string>

#include "fit/ajust.h"
#include "records/format.h"
#include "records/listin.h"
#include "records/listout.h"
#include "records/runtime.h"
#include "records/units.h"
#include "stats/calib.h"
#include "stats/gammq.h"
#include "stats/gasdev.h"
#include "run/options.h"
#include "run/record.h"
#include "run/run.h"
#include "run/warnings.h"

namespace tarvel {

namespace {

// The program's formats.
constexpr const char* kEchoHead = "(1X,'Q index',2X,' Effic',4X,' sdev')";
constexpr const char* kEchoRow = "(1X,F7.2,2X,F6.2,2X,F6.2)";
constexpr const char* kCoefLine = "(1X,'a(',I1,')',F12.8,1X,F12.8)";
constexpr const char* kCovRow = "(1X,8(F13.7,1X))";
constexpr const char* kResidHead = "(1X,'Q-index',3X,'e-exp',3X,'e-calc',2X,'sdev',4X,'MC')";
constexpr const char* kResidRow = "(1X,F7.2,2X,F6.4,2X,F6.4,2X,F5.4,2X,F5.4)";
constexpr const char* kCurveHead = "(3X,'QE',8X,'e',8X,'Ue')";
constexpr const char* kCurveRow = "(1X,F8.4,2X,F6.4,2X,F6.4)";
constexpr const char* kAnswer =
    "(1X,'Quenching index:',2X,F7.2,2X,'Detection efficiency:',F6.4,1X,'+/-',F6.4)";

FrameScope* mainFrame = nullptr;
// Marks the statement under way in the main program's traceback frame.
#define STMT() (mainFrame ? mainFrame->at(__LINE__) : void())

View<const double> view(const Vec<double>& v) { return {v.data(), v.size()}; }
View2<const double> view(const Mat<double>& m) { return {m.data(), m.rows(), m.cols()}; }

}  // namespace

const char* fitVerdict(float Q) {
  const double q = Q;
  return q > 0.01 ? " Goodness of fit believable" : q > 0.001 ? " Not so good fit!" : " Bad fit!";
}

// End step: every way of ending the run comes through here.
void endStep(int status) {
  STMT();
  closeUnit(kResults);
  stopRun(status);
}

namespace {

// A file that cannot be opened ends the run; standard output keeps its
// stop text, standard error names the file, and the status tells the caller.
[[noreturn]] void failedOpen(const char* what, const OpenResult& r) {
  consoleFlush();
  std::fprintf(stderr, "tarvel1: cannot open %s '%s': %s\n", what, printable(r.name).c_str(), r.reason.c_str());
  endStep(2);
}

void bothList(std::initializer_list<ListOutItem> items) {
  writeList(kConsole, items);
  writeList(kResults, items);
}

void bothFormatted(const char* fmt, std::initializer_list<FmtItem> items) {
  writeFormatted(kConsole, fmt, items);
  writeFormatted(kResults, fmt, items);
}

}  // namespace

// Reads control.dat, the data file and opens the results file; prints the
// table of calibration points.
void startUp(RunState& s) {
  s.seed = -911;
  STMT();
  OpenResult r = openUnit(kInput, "control.dat", Status::Old);
  if (!r.ok) failedOpen("control file", r);
  protectUnitFile(kInput);
  const std::string control = r.name;
  STMT();
  readList(kInput, {listTarget(s.label, kLabelLength)});
  STMT();
  readList(kInput, {listTarget(s.datfile, kNameLength), listTarget(s.label, kLabelLength)});
  STMT();
  readList(kInput, {listTarget(s.ncoef), listTarget(s.label, kLabelLength)});
  if (s.ncoef < 0 || s.ncoef > 8)
    fatalIo(err::kBadValue, "READ", control,
            "polynomial order " + std::to_string(s.ncoef) + " is outside 0 to 8");
  for (int k = 1; k <= 6; ++k) {
    STMT();
    readList(kInput, {listTarget(s.opt[k]), listTarget(s.label, kLabelLength)});
  }
  STMT();
  readList(kInput, {listTarget(s.resfile, kNameLength), listTarget(s.label, kLabelLength)});
  closeUnit(kInput);

  STMT();
  r = openUnit(kInput, s.datfile, Status::Old);
  if (!r.ok) failedOpen("data file", r);
  protectUnitFile(kInput);
  const std::string data = r.name;
  STMT();
  r = openUnit(kResults, s.resfile, Status::Unknown);
  if (!r.ok) failedOpen("results file", r);
  protectUnitFile(kResults);

  STMT();
  readList(kInput, {listTarget(s.npt), listTarget(s.urel)});
  if (s.npt < 1) fatalIo(err::kBadValue, "READ", data, "point count " + std::to_string(s.npt) + " is below 1");
  s.npfit = s.npt;
  STMT();
  if (s.npt < iadd(s.ncoef, 1))
    fatalIo(err::kBadValue, "READ", data, "point count " + std::to_string(s.npt) + " is below the " +
            std::to_string(s.ncoef + 1) + " coefficients of an order " + std::to_string(s.ncoef) + " fit");
  if (s.opt[1] == 1 && s.npt == iadd(s.ncoef, 1))  // the report divides chi2 by npt - ncoef
    fatalIo(err::kBadValue, "READ", data, "as many points as coefficients leave no degree of freedom for reduced chi2");
  STMT();
  for (Vec<double>* v : {&s.qe, &s.uqe, &s.e, &s.ue, &s.qfit, &s.efit, &s.sfit}) v->allocate(s.npt);
  // Nothing else grows with the points: a trial keeps only its coefficients.

  for (int i = 1; i <= s.npt; ++i) {
    STMT();
    readList(kInput, {listTarget(s.qe(i)), listTarget(s.uqe(i)), listTarget(s.e(i)), listTarget(s.ue(i))});
    // The range of the calibration starts from the first point, so indices
    // above 1000 or below 0 get their true limits.
    if (i == 1) s.qmin = s.qmax = s.qe(1);
    if (s.qe(i) < s.qmin) s.qmin = s.qe(i);
    if (s.qe(i) > s.qmax) s.qmax = s.qe(i);
  }
  warnAboutPoints(s);
  recordStart(s);
  closeUnit(kInput);
  STMT();
  s.ncoef = iadd(s.ncoef, 1);
  s.chi2prev = 1e10;

  STMT();
  writeFormatted(kConsole, kEchoHead, {});
  for (int i = 1; i <= s.npt; ++i) {
    s.qfit(i) = s.qe(i);
    s.efit(i) = s.e(i);
    s.sfit(i) = s.ue(i);
    STMT();
    writeFormatted(kConsole, kEchoRow, {s.qfit(i), 100.0 * s.efit(i), 100.0 * s.sfit(i)});
  }
}

// Weighted fit with uncertainties in y, its report, the dropping of a
// negligible highest coefficient and the coefficient listing.
void weightedFit(RunState& s) {
  for (;;) {
    for (int i = 1; i <= kSlots; ++i) {
      s.ifit(i) = i <= s.ncoef ? 1 : 0;
      s.a(i) = i <= s.ncoef ? 1.0 : 0.0;
    }
    STMT();
    AJUST(s.qfit.data(), s.efit.data(), s.sfit.data(), s.npfit, s.a.data(), kSlots, s.cov.data(), s.chi2, s.niter,
          s.ifit.data());
    if (s.opt[1] == 1) {
      writeList(kConsole, {});
      writeList(kResults, {});
      STMT();
      bothList({listInt(isub(s.ncoef, 1)), listText(" order polynomial fit with uncertainties in y")});
      STMT();
      const double reduced = s.chi2 / static_cast<double>(isub(s.npfit, s.ncoef));
      writeList(kConsole, {listText("reduced chi2="), listReal(reduced)});
      writeList(kConsole, {});
      writeList(kResults, {listText("reduced chi2="), listReal(reduced)});
      writeList(kResults, {});
      STMT();
      // The chi-square probability of npt - ncoef degrees of freedom.
      const double shape = static_cast<double>(isub(s.npt, s.ncoef)) / 2.0;
      s.Q = static_cast<float>(gammq(shape, s.chi2 / 2.0));
      if (s.opt[4] == 1) {
        writeList(kConsole, {listText("Q="), listReal32(s.Q)});
        writeList(kConsole, {listText(fitVerdict(s.Q))});
      }
    }
    recordWeightedFit(s);
    // All nine slots: those above ncoef are 0 after the fit, so no dropped
    // coefficient of an earlier pass survives in the copy.
    for (int i = 1; i <= kSlots; ++i) s.asave(i) = s.a(i);
    STMT();
    if (s.opt[3] == 1 && s.ncoef > 1 && std::fabs(s.a(s.ncoef)) < 0.001 &&
        std::fabs(1.0 - s.chi2) < std::fabs(1.0 - s.chi2prev)) {
      s.ncoef = isub(s.ncoef, 1);
      s.chi2prev = s.chi2;
      writeList(kConsole, {listText(" Coefficient order"), listInt(s.ncoef), listText(" negligible")});
      continue;
    }
    break;
  }
  for (int i = 1; i <= s.ncoef; ++i) {
    STMT();
    bothFormatted(kCoefLine, {i, s.a(i), msqrt(s.cov(i, i))});
  }
}

// 10000 refits of points perturbed in both coordinates, a block of trials at a time on every core; mean
// coefficients and their sample covariance, then the report of the fit with uncertainties in x and y.
void monteCarlo(RunState& s) {
  ParallelTrials parallel(s);
  for (int k = 1; k <= kTrials; ++k) {
    STMT();
    // Every trial is drawn and refitted ahead, on every thread (with one
    // thread, on the main thread alone), and comes with its coefficients. One
    // that would have ended the run there is fitted again here, from its
    // draws, the one-thread way.
    const Turn turn = parallel.take(k);
    if (turn == Turn::fitted) continue;

    // Every trial starts from the coefficients of the weighted fit.
    for (int j = 1; j <= kSlots; ++j) {
      s.a(j) = j <= s.ncoef ? s.asave(j) : 0.0;
      s.ifit(j) = j <= s.ncoef ? 1 : 0;
    }
    STMT();
    AJUST(s.qfit.data(), s.efit.data(), s.sfit.data(), s.npfit, s.a.data(), kSlots, s.covtrial.data(), s.chi2,
          s.niter, s.ifit.data());
    for (int j = 1; j <= s.ncoef; ++j) s.aset(j, k) = s.a(j);
    STMT();
    // The residual table recomputes the trial's efficiencies at the points
    // from aset; they are evaluated here only when one might overflow.
    if (!efficienciesBounded(s, s.a.data()))
      for (int i = 1; i <= s.npt; ++i) EFFICIENCY(s.ecalc, view(s.a), s.qe(i), kSlots);
  }

  STMT();
  for (int j = 1; j <= s.ncoef; ++j) {
    s.amc(j) = 0.0;
    for (int m = 1; m <= s.ncoef; ++m) s.covmc(j, m) = 0.0;
  }
  for (int k = 1; k <= kTrials; ++k)
    for (int j = 1; j <= s.ncoef; ++j) s.amc(j) = s.aset(j, k) / 10000.0 + s.amc(j);
  for (int k = 1; k <= kTrials; ++k)
    for (int j = 1; j <= s.ncoef; ++j)
      for (int m = 1; m <= s.ncoef; ++m)
        s.covmc(j, m) = (s.aset(j, k) - s.amc(j)) * (s.aset(m, k) - s.amc(m)) / 9999.0 + s.covmc(j, m);

  STMT();
  bothList({});
  bothList({listInt(isub(s.ncoef, 1)), listText(" order polynomial fit with uncertainties in x and y")});
  bothList({});
  for (int j = 1; j <= s.ncoef; ++j) {
    STMT();
    bothFormatted(kCoefLine, {j, s.amc(j), msqrt(s.cov(j, j) + s.covmc(j, j))});
  }
  bothList({});
}

// The summed covariance of the fit with uncertainties in x and y.
void covarianceReport(RunState& s) {
  STMT();
  writeList(kResults, {});
  writeList(kConsole, {});
  bothList({listText(" Covariance matrix")});
  for (int j = 1; j <= s.ncoef; ++j) {
    for (int unit : {kConsole, kResults}) {
      STMT();
      FormattedWrite w(unit, kCovRow);
      for (int m = 1; m <= s.ncoef; ++m) w.item(s.cov(j, m) + s.covmc(j, m));
      w.end();
    }
  }
  writeList(kConsole, {});
}

namespace {
// Efficiency of the fit with uncertainties in x and y at q, and its combined standard deviation.
void curvePoint(RunState& s, double q) {
  EFFICIENCY(s.ecalc, view(s.amc), q, kSlots);
  SDEFFIC(view(s.cov), q, s.sdfit, kSlots);
  SDEFFIC(view(s.covmc), q, s.sdmc, kSlots);
  s.sdmc = msqrt(s.sdmc * s.sdmc + s.sdfit * s.sdfit);
}

}  // namespace

// Measured against calculated efficiencies, results file only.
void residualTable(RunState& s) {
  const TrialSpreads spreads(s);  // the trials' spread at every point, on every core
  STMT();
  writeList(kResults, {});
  writeFormatted(kResults, kResidHead, {});
  for (int i = 1; i <= s.npt; ++i) {
    STMT();
    curvePoint(s, s.qe(i));
    // The spread of the efficiencies that the trials' coefficients give at qe(i).
    spreads.take(i);
    writeFormatted(kResults, kResidRow, {s.qe(i), s.e(i), s.ecalc, s.sdmc, s.esd});
    recordResidual(s.qe(i), s.e(i), s.ecalc, s.sdmc, s.esd);
  }
}

// The tabulated curve from qmin to one step beyond qmax.
void curveTable(RunState& s) {
  if (s.opt[5] == 1) {
    STMT();
    const OpenResult r = openUnit(kCurve, "courbe.dat", Status::Unknown);
    if (!r.ok) failedOpen("curve file", r);
    writeFormatted(kCurve, kCurveHead, {});
    s.qstep = (s.qmax - s.qmin) / 100.0;
    s.qx = s.qmin;
    for (;;) {
      STMT();
      curvePoint(s, s.qx);
      writeFormatted(kCurve, kCurveRow, {s.qx, s.ecalc, s.sdmc});
      recordCurveRow(s.qx, s.ecalc, s.sdmc);
      if (s.qmax < s.qx) break;
      // A step too small to move the abscissa (qmax equal to qmin, or a step
      // below the resolution of qmin) would never pass qmax: one row only.
      const double next = s.qx + s.qstep;
      if (next == s.qx) break;
      s.qx = next;
    }
  }
  closeUnit(kCurve);
}

// Efficiency queries at the console until the operator types 0.
void interpolation(RunState& s) {
  if (s.opt[6] != 1) return;
  for (;;) {
    STMT();
    writeList(kConsole, {listText("Quenching index? (0 to stop)")});
    STMT();
    readList(kConsole, {listTarget(s.qx)});
    if (s.qx == 0.0) return;
    if (s.qmin > s.qx || s.qx > s.qmax) {
      writeList(kConsole, {listText(" Interpolation only !")});
      continue;
    }
    STMT();
    EFFICIENCY(s.ecalc, view(s.asave), s.qx, kSlots);
    SDEFFIC(view(s.cov), s.qx, s.sdfit, kSlots);
    writeList(kConsole, {listText("with no uncertainty on quenching index:")});
    writeList(kConsole, {});
    writeFormatted(kConsole, kAnswer, {s.qx, s.ecalc, s.sdfit});
    recordAnswer(1, s.qx, s.ecalc, s.sdfit);
    writeList(kConsole, {});

    STMT();
    curvePoint(s, s.qx);
    writeList(kConsole, {listText("with uncertainties on quenching index:")});
    writeList(kConsole, {});
    writeFormatted(kConsole, kAnswer, {s.qx, s.ecalc, s.sdmc});
    writeList(kConsole, {});
    writeFormatted(kResults, kAnswer, {s.qx, s.ecalc, s.sdmc});
    recordAnswer(2, s.qx, s.ecalc, s.sdmc);
    writeList(kResults, {});

    STMT();
    for (int k = 1; k <= kTrials; ++k) {
      for (int j = 1; j <= s.ncoef; ++j) s.awork(j) = s.aset(j, k);
      EFFICIENCY(s.esample(k), view(s.awork), s.qx, kSlots);
    }
    MOYSDEV(view(s.esample), s.emean, s.esd, kTrials);
    writeList(kConsole, {listText(" Full Monte Carlo calculation")});
    writeFormatted(kConsole, kAnswer, {s.qx, s.emean, s.esd});
    recordAnswer(3, s.qx, s.emean, s.esd);
    writeList(kConsole, {});
  }
}

void runCalibration(int argc, char** argv) {
  enableFloatingPointTraps();
  argc = takeOptions(argc, argv);
  setCommandLine(argc, argv);
  FrameScope frame(nullptr, "run.cpp", __LINE__);
  mainFrame = &frame;
  static RunState s;
  s.threads = threadCount();
  runPool(s);  // the threads start while the run reads its files
  startUp(s);
  weightedFit(s);
  monteCarlo(s);
  covarianceReport(s);
  residualTable(s);
  curveTable(s);
  interpolation(s);
  recordFinish(s);
  endStep(0);
}

}  // namespace tarvel
