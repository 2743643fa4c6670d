// The phases of the calibration run: the table of calibration points, the
// weighted polynomial fit, 10000 Monte Carlo trials that perturb both
// coordinates and refit, the coefficients, their covariance and a residual
// table, the curve table, and the answers to queries. Every phase works on
// the run and writes its report through it.
#include "run/run.h"

#include <cmath>
#include <string>

#include "fit/ajust.h"
#include "run/input.h"
#include "records/listout.h"
#include "stats/calib.h"
#include "stats/gammq.h"

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

// Marks statement n of the main program.
#define STMT(n) s.main.at(n)

View<const double> view(const Vec<double>& v) { return {v.data(), v.size()}; }
View2<const double> view(const Mat<double>& m) { return {m.data(), m.rows(), m.cols()}; }

std::vector<double> leading(const Vec<double>& v, int n) { return {v.data(), v.data() + n}; }

// The leading n x n block, column by column; `plus` (when given) added
// element by element.
Matrix block(const Mat<double>& m, int n, const Mat<double>* plus = nullptr) {
  Matrix b{n, {}};
  for (int c = 1; c <= n; ++c)
    for (int r = 1; r <= n; ++r) b.values.push_back(plus ? m(r, c) + (*plus)(r, c) : m(r, c));
  return b;
}

// Square roots of the diagonal.
std::vector<double> deviations(const Matrix& m) {
  std::vector<double> d;
  for (int i = 1; i <= m.n; ++i) d.push_back(std::sqrt(m(i, i)));
  return d;
}

}  // namespace

// Efficiency of the fit with uncertainties in x and y at q, and its combined
// standard deviation.
Estimate curvePoint(const FittedCurve& c, double q) {
  Estimate r;
  double sdfit, sdmc;
  EFFICIENCY(r.e, view(c.amc), q, kSlots);
  SDEFFIC(view(c.cov), q, sdfit, kSlots);
  SDEFFIC(view(c.covmc), q, sdmc, kSlots);
  r.u = msqrt(sdmc * sdmc + sdfit * sdfit);
  return r;
}

void Report::writeRecord(int unit, std::string_view record) {
  // A value that went wrong in the statement writing it ends the run first.
  checkFloatingPoint();
  if (observer_ != nullptr) observer_->record(unit, record);
}

void Report::list(int unit, std::initializer_list<ListOutItem> items) { writeList(*this, unit, items); }

void Report::both(std::initializer_list<ListOutItem> items) {
  writeList(*this, kConsole, items);
  writeList(*this, kResults, items);
}

void Report::formatted(int unit, const char* fmt, std::initializer_list<FmtItem> items) {
  writeFormatted(*this, unit, fmt, items);
}

void Report::bothFormatted(const char* fmt, std::initializer_list<FmtItem> items) {
  writeFormatted(*this, kConsole, fmt, items);
  writeFormatted(*this, kResults, fmt, items);
}

const char* fitVerdict(float Q) {
  const double q = Q;
  return q > 0.01 ? " Goodness of fit believable" : q > 0.001 ? " Not so good fit!" : " Bad fit!";
}

void fitFigures(WeightedFit& fit, int npt, bool quietQ) {
  const int k = fit.order + 1;
  fit.dof = npt - k;
  // Q as the program computes it, where the program would not: quietly.
  if (quietQ) {
    if (const std::optional<double> q = gammqQuiet(static_cast<double>(fit.dof) / 2.0, fit.chi2 / 2.0)) {
      fit.Q = static_cast<float>(*q);
      fit.verdict = std::string(fitVerdict(*fit.Q)).substr(1);
    }
  }
  const double kk = k;
  fit.aic = fit.chi2 + 2.0 * kk;
  if (fit.dof - 1 > 0) fit.aicc = fit.aic + 2.0 * kk * (kk + 1.0) / static_cast<double>(fit.dof - 1);
  fit.bic = fit.chi2 + kk * std::log(static_cast<double>(npt));
}

// The table of calibration points, efficiencies in percent.
void echoPoints(Run& s) {
  STMT(149);
  s.out.formatted(kConsole, kEchoHead, {});
  for (int i = 1; i <= s.pts.npt; ++i) {
    STMT(155);
    s.out.formatted(kConsole, kEchoRow, {s.pts.qe(i), 100.0 * s.pts.e(i), 100.0 * s.pts.ue(i)});
  }
}

// Weighted fit with uncertainties in y, its report, the dropping of a
// negligible highest coefficient and the coefficient listing.
void weightedFit(Run& s) {
  FittedCurve& c = *s.fit;
  const Points& p = s.pts;
  Vec<double> a(kSlots);
  Vec<int> ifit(kSlots);
  double chi2 = 0.0, chi2prev = 1e10;
  int niter = 0, tooGood = 0;
  for (;;) {
    for (int i = 1; i <= kSlots; ++i) {
      ifit(i) = i <= c.ncoef ? 1 : 0;
      a(i) = i <= c.ncoef ? 1.0 : 0.0;
    }
    STMT(168);
    AJUST(p.qe.data(), p.e.data(), p.ue.data(), p.npt, a.data(), kSlots, c.cov.data(), chi2, niter, ifit.data());
    WeightedFit fit;
    fit.order = isub(c.ncoef, 1);
    fit.coefficients = leading(a, c.ncoef);
    fit.covariance = block(c.cov, c.ncoef);
    fit.chi2 = chi2;
    if (p.npt > c.ncoef) fit.reducedChi2 = chi2 / static_cast<double>(p.npt - c.ncoef);
    fitFigures(fit, p.npt, !s.sw.printFits);
    if (s.sw.printFits) {
      s.out.list(kConsole, {});
      s.out.list(kResults, {});
      STMT(174);
      s.out.both({listInt(isub(c.ncoef, 1)), listText(" order polynomial fit with uncertainties in y")});
      STMT(176);
      const double reduced = chi2 / static_cast<double>(isub(p.npt, c.ncoef));
      s.out.list(kConsole, {listText("reduced chi2="), listReal(reduced)});
      s.out.list(kConsole, {});
      s.out.list(kResults, {listText("reduced chi2="), listReal(reduced)});
      s.out.list(kResults, {});
      STMT(182);
      // The chi-square probability of npt - ncoef degrees of freedom.
      const double shape = static_cast<double>(isub(p.npt, c.ncoef)) / 2.0;
      const float Q = static_cast<float>(gammq(shape, chi2 / 2.0));
      fit.Q = Q;
      fit.verdict = std::string(fitVerdict(Q)).substr(1);
      // Points that scatter far less than their uncertainties say: most
      // often uncertainties typed in percent.
      if (static_cast<double>(Q) > 0.999 && ++tooGood <= kWarningsShown)
        s.out.warning("order " + std::to_string(fit.order) +
                      " fit: Q is above 0.999: the points scatter far less than their uncertainties say"
                      " (uncertainties in percent?)");
      if (s.sw.probability) {
        s.out.list(kConsole, {listText("Q="), listReal32(Q)});
        s.out.list(kConsole, {listText(fitVerdict(Q))});
      }
    }
    s.result.weightedFits.push_back(std::move(fit));
    // All nine slots: those above ncoef are 0 after the fit, so no dropped
    // coefficient of an earlier pass survives in the copy.
    for (int i = 1; i <= kSlots; ++i) c.asave(i) = a(i);
    STMT(195);
    if (s.sw.dropNegligible && c.ncoef > 1 && std::fabs(a(c.ncoef)) < 0.001 &&
        std::fabs(1.0 - chi2) < std::fabs(1.0 - chi2prev)) {
      c.ncoef = isub(c.ncoef, 1);
      chi2prev = chi2;
      s.out.list(kConsole, {listText(" Coefficient order"), listInt(c.ncoef), listText(" negligible")});
      continue;
    }
    break;
  }
  if (tooGood > kWarningsShown) s.out.warning(moreWarnings(tooGood - kWarningsShown, "fit", "fits", "with Q above 0.999"));
  for (int i = 1; i <= c.ncoef; ++i) {
    STMT(206);
    s.out.bothFormatted(kCoefLine, {i, a(i), msqrt(c.cov(i, i))});
  }
}

// 10000 refits of points perturbed in both coordinates, a block of trials at
// a time on every core; mean coefficients and their sample covariance, then
// the report of the fit with uncertainties in x and y.
void monteCarlo(Run& s) {
  FittedCurve& c = *s.fit;
  ParallelTrials parallel(s);
  for (int k = 1; k <= kTrials; ++k) {
    STMT(216);
    // Every trial is drawn and refitted ahead, on every thread (with one
    // thread, on the main thread alone), and comes with its coefficients. One
    // that would have ended the run there is fitted again here, from its
    // draws, the one-thread way.
    s.stopIfAsked();
    if (parallel.take(k) == Turn::fitted) continue;
    const TrialPoints t = parallel.points();
    // Every trial starts from the coefficients of the weighted fit.
    double a[kSlots], covar[kSlots * kSlots], chi2;
    int ifit[kSlots], niter;
    for (int j = 1; j <= kSlots; ++j) {
      a[j - 1] = j <= c.ncoef ? c.asave(j) : 0.0;
      ifit[j - 1] = j <= c.ncoef ? 1 : 0;
    }
    STMT(229);
    AJUST(t.q, t.e, t.sig, s.pts.npt, a, kSlots, covar, chi2, niter, ifit);
    for (int j = 1; j <= c.ncoef; ++j) c.aset(j, k) = a[j - 1];
    STMT(233);
    // The residual table recomputes the trial's efficiencies at the points
    // from aset; they are evaluated here only when one might overflow.
    if (!efficienciesBounded(s, a)) {
      double ecalc;
      for (int i = 1; i <= s.pts.npt; ++i) EFFICIENCY(ecalc, View<const double>{a, kSlots}, s.pts.qe(i), kSlots);
    }
  }

  STMT(240);
  const double trials = static_cast<double>(kTrials);
  for (int j = 1; j <= c.ncoef; ++j) {
    c.amc(j) = 0.0;
    for (int m = 1; m <= c.ncoef; ++m) c.covmc(j, m) = 0.0;
  }
  for (int k = 1; k <= kTrials; ++k)
    for (int j = 1; j <= c.ncoef; ++j) c.amc(j) = c.aset(j, k) / trials + c.amc(j);
  for (int k = 1; k <= kTrials; ++k)
    for (int j = 1; j <= c.ncoef; ++j)
      for (int m = 1; m <= c.ncoef; ++m)
        c.covmc(j, m) = (c.aset(j, k) - c.amc(j)) * (c.aset(m, k) - c.amc(m)) / (trials - 1.0) + c.covmc(j, m);

  STMT(252);
  s.out.both({});
  s.out.both({listInt(isub(c.ncoef, 1)), listText(" order polynomial fit with uncertainties in x and y")});
  s.out.both({});
  for (int j = 1; j <= c.ncoef; ++j) {
    STMT(257);
    s.out.bothFormatted(kCoefLine, {j, c.amc(j), msqrt(c.cov(j, j) + c.covmc(j, j))});
  }
  s.out.both({});
}

// The summed covariance of the fit with uncertainties in x and y.
void covarianceReport(Run& s) {
  const FittedCurve& c = *s.fit;
  STMT(265);
  s.out.list(kResults, {});
  s.out.list(kConsole, {});
  s.out.both({listText(" Covariance matrix")});
  for (int j = 1; j <= c.ncoef; ++j) {
    for (int unit : {kConsole, kResults}) {
      STMT(271);
      FormattedWrite w(s.out, unit, kCovRow);
      for (int m = 1; m <= c.ncoef; ++m) w.item(c.cov(j, m) + c.covmc(j, m));
      w.end();
    }
  }
  s.out.list(kConsole, {});
}

// Measured against calculated efficiencies, results file only.
void residualTable(Run& s) {
  const TrialSpreads spreads(s);  // the trials' spread at every point, on every core
  STMT(294);
  s.out.list(kResults, {});
  s.out.formatted(kResults, kResidHead, {});
  for (int i = 1; i <= s.pts.npt; ++i) {
    s.stopIfAsked();
    STMT(298);
    const Estimate at = curvePoint(*s.fit, s.pts.qe(i));
    // The spread of the efficiencies that the trials' coefficients give at qe(i).
    const double mc = spreads.take(i).second;
    s.out.formatted(kResults, kResidRow, {s.pts.qe(i), s.pts.e(i), at.e, at.u, mc});
    s.result.residuals.push_back({s.pts.qe(i), s.pts.e(i), at.e, at.u, mc});
  }
}

// The tabulated curve from qmin to one step beyond qmax.
void curveTable(Run& s) {
  if (!s.sw.curve) return;
  const FittedCurve& c = *s.fit;
  STMT(310);
  if (s.out.observer() != nullptr) s.out.observer()->openCurve();
  s.out.formatted(kCurve, kCurveHead, {});
  const double qstep = (c.qmax - c.qmin) / 100.0;
  double qx = c.qmin;
  for (;;) {
    s.stopIfAsked();
    STMT(317);
    const Estimate at = curvePoint(c, qx);
    s.out.formatted(kCurve, kCurveRow, {qx, at.e, at.u});
    s.result.curve.push_back({qx, at.e, at.u});
    if (c.qmax < qx) break;
    // A step too small to move the abscissa (qmax equal to qmin, or a step
    // below the resolution of qmin) would never pass qmax: one row only.
    const double next = qx + qstep;
    if (next == qx) break;
    qx = next;
  }
  if (s.out.observer() != nullptr) s.out.observer()->closeCurve();
}

std::optional<Answer> answerQuery(const FittedCurve& c, double q, Report& out, MainFrame& main) {
  if (c.qmin > q || q > c.qmax) {
    out.list(kConsole, {listText(" Interpolation only !")});
    return std::nullopt;
  }
  Answer r;
  r.q = q;
  main.at(345);
  EFFICIENCY(r.y.e, view(c.asave), q, kSlots);
  SDEFFIC(view(c.cov), q, r.y.u, kSlots);
  out.list(kConsole, {listText("with no uncertainty on quenching index:")});
  out.list(kConsole, {});
  out.formatted(kConsole, kAnswer, {q, r.y.e, r.y.u});
  out.list(kConsole, {});

  main.at(354);
  r.xy = curvePoint(c, q);
  out.list(kConsole, {listText("with uncertainties on quenching index:")});
  out.list(kConsole, {});
  out.formatted(kConsole, kAnswer, {q, r.xy.e, r.xy.u});
  out.list(kConsole, {});
  out.formatted(kResults, kAnswer, {q, r.xy.e, r.xy.u});
  out.list(kResults, {});

  main.at(364);
  // The efficiency that each trial's coefficients give at q.
  Vec<double> sample(kTrials), coef(kSlots);
  for (int k = 1; k <= kTrials; ++k) {
    for (int j = 1; j <= c.ncoef; ++j) coef(j) = c.aset(j, k);
    EFFICIENCY(sample(k), view(coef), q, kSlots);
  }
  MOYSDEV(view(sample), r.mc.e, r.mc.u, kTrials);
  out.list(kConsole, {listText(" Full Monte Carlo calculation")});
  out.formatted(kConsole, kAnswer, {q, r.mc.e, r.mc.u});
  out.list(kConsole, {});
  return r;
}

// ---------------------------------------------------------------- the run

Run::Run(const Inputs& in, Observer* observer, WorkerPool& workers, MainFrame& frame)
    : sw(in.switches), out(observer), main(frame), pool(workers) {
  pts.npt = static_cast<int>(in.points.size());
  pts.urel = in.urel;
  fit->ncoef = in.order + 1;
  main.at(129);
  for (Vec<double>* v : {&pts.qe, &pts.uqe, &pts.e, &pts.ue}) v->allocate(pts.npt);
  // Nothing else grows with the points: a trial keeps only its coefficients.
  for (int i = 1; i <= pts.npt; ++i) {
    const Point& p = in.points[static_cast<std::size_t>(i - 1)];
    pts.qe(i) = p.q;
    pts.uqe(i) = p.uq;
    pts.e(i) = p.e;
    pts.ue(i) = p.ue;
    // The range of the calibration starts from the first point, so indices
    // above 1000 or below 0 get their true limits.
    if (i == 1) fit->qmin = fit->qmax = p.q;
    if (p.q < fit->qmin) fit->qmin = p.q;
    if (p.q > fit->qmax) fit->qmax = p.q;
  }
}

Run::~Run() = default;

// The results of the run, as the Calibration holds them.
void finish(Run& s) {
  const FittedCurve& c = *s.fit;
  Calibration& r = s.result;
  const int n = c.ncoef;
  const FlagWatch quiet;  // a deviation of a negative variance is a NaN here
  r.weightedFit = {n - 1, leading(c.asave, n), {}, block(c.cov, n)};
  r.weightedFit.standardDeviations = deviations(r.weightedFit.covariance);
  r.monteCarloFit = {n - 1, leading(c.amc, n), {}, block(c.covmc, n), block(c.cov, n, &c.covmc)};
  r.monteCarloFit.standardDeviations = deviations(r.monteCarloFit.combinedCovariance);
  r.qmin = c.qmin;
  r.qmax = c.qmax;
  r.fitted = s.fit;
}

const FittedCurve* fittedCurve(const Calibration& calibration) { return calibration.fitted.get(); }

}  // namespace tarvel
