// The calibration report (tarvel::reportHtml): one HTML page that a lab files
// with a calibration, self-contained (inline style and picture, no script,
// nothing fetched) and laid out for A4 when printed: each section starts a
// page, rows are never split, and no table is wider than the page.
//
// Every number is shown as the program prints it (coefficients F12.8, the
// covariance F13.7, the residual table and the answers F6.4 and F5.4, the
// reduced chi-square and Q as their list-directed lines), so the page never
// contradicts the console or the results file; the correlations and the
// normalised residuals, which the program does not print, at 4 and 2
// decimals. Numbers as read (the points) are in their shortest form that
// reads back to the same double.
#include <charconv>
#include <cstdio>
#include <cmath>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "report/markup.h"
#include "run/run.h"
#include "tarvel/tarvel.h"

namespace tarvel {

namespace {

using markup::escaped;

// A field as the program prints it, without its leading blanks.
std::string fixed(double v, int w, int d) {
  const std::string s = fixedField(v, w, d);
  return s.substr(std::min(s.find_first_not_of(' '), s.size()));
}

// The shortest text that reads back to the same double.
std::string shortest(double v) {
  char buf[32];
  return std::string(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

constexpr const char* kDash = "\u2014";

// A table cell of a number (right-aligned, monospaced) or of text.
std::string num(const std::string& s) { return "<td class=\"num\">" + s + "</td>"; }
std::string text(const std::string& s) { return "<td class=\"text\">" + s + "</td>"; }
// A cell of text from the inputs, escaped, which may break anywhere (a long file name).
std::string input(const std::string& s) { return "<td class=\"text input\">" + escaped(s) + "</td>"; }

constexpr const char* kStyle = R"(
@page { size: A4; margin: 14mm 14mm 16mm; }
html { font: 10pt/1.35 "DejaVu Sans", Arial, Helvetica, sans-serif; color: #111; background: white;
  -webkit-print-color-adjust: exact; print-color-adjust: exact; }
body { max-width: 182mm; margin: 0 auto; }
h1 { font-size: 16pt; margin: 0 0 1mm; overflow-wrap: anywhere; }
p.sub { margin: 0 0 4mm; color: #444; }
h2 { font-size: 13pt; border-bottom: 1px solid #888; margin: 0 0 2mm; padding-bottom: 1mm; }
h3 { font-size: 10.5pt; margin: 4mm 0 1mm; }
section { break-before: page; }
section:first-of-type { break-before: auto; }
p, li { margin: 1mm 0; }
ul { padding-left: 6mm; margin: 1mm 0; }
table { border-collapse: collapse; margin: 1mm 0 3mm; font-size: 8.5pt; max-width: 100%; }
th, td { border: 1px solid #bbb; padding: 1px 4px; vertical-align: top; }
th { background: #eee; font-weight: 600; text-align: center; }
td.num { text-align: right; white-space: nowrap; font-family: "DejaVu Sans Mono", "Courier New", monospace; }
td.text, th.text { text-align: left; overflow-wrap: break-word; }
td.input { overflow-wrap: anywhere; }
tr { break-inside: avoid; }
thead { display: table-header-group; }
tr.used td { font-weight: bold; }
tr.beyond2 td { background: #fff1b8; }
tr.beyond3 td { background: #f7c6c0; font-weight: bold; }
.note { font-size: 8.5pt; color: #333; }
figure { margin: 2mm 0; break-inside: avoid; }
figure svg { width: 100%; height: auto; display: block; }
@media screen { body { padding: 6mm 4mm; } section { margin-top: 8mm; } }
.hash { font-family: "DejaVu Sans Mono", "Courier New", monospace; font-size: 8pt; }
)";

// ---------------------------------------------------------------- order comparison


// Every order fitted to the same points (compareOrders), the order used
// marked, and the recommendation with its rule; the figures at the digits of
// tarvel1 --orders.
std::string orderSection(const OrderTable& t, int used) {
  std::ostringstream h;
  h << "<table class=\"orders\"><thead><tr><th>order</th><th>&#967;&#178;</th><th>&#957;</th>"
       "<th>&#967;&#178;/&#957;</th><th>Q</th><th>AIC</th><th>AICc</th><th>BIC</th>"
       "<th>largest |residual|/u (point)</th><th class=\"text\">note</th></tr></thead><tbody>\n";
  for (const OrderRow& r : t.rows) {
    const bool fitted = r.failure.empty();
    std::string note = fitted ? "" : "not fitted: " + escaped(r.failure);
    if (r.order == used) note = "the order used" + (note.empty() ? "" : "; " + note);
    if (t.recommended && *t.recommended == r.order) note += (note.empty() ? "" : "; ") + std::string("recommended");
    const WeightedFit& f = r.fit;
    h << "<tr" << (r.order == used ? " class=\"used\"" : "") << ">" << num(std::to_string(r.order))
      << num(fitted ? fixed(f.chi2, 12, 2) : kDash) << num(fitted ? std::to_string(f.dof) : kDash)
      << num(fitted && f.reducedChi2 ? fixed(*f.reducedChi2, 10, 3) : kDash)
      << num(fitted && f.Q ? listedReal(*f.Q) : kDash) << num(fitted ? fixed(f.aic, 12, 3) : kDash)
      << num(fitted && f.aicc ? fixed(*f.aicc, 12, 3) : kDash) << num(fitted ? fixed(f.bic, 12, 3) : kDash)
      << num(fitted ? fixed(r.largestResidual, 8, 2) + " (" + std::to_string(r.largestResidualPoint) + ")" : kDash)
      << text(note) << "</tr>\n";
  }
  h << "</tbody></table>\n<p>Recommended order: " << (t.recommended ? std::to_string(*t.recommended) : kDash)
    << (t.rule.empty() ? "" : ". Rule: " + escaped(t.rule)) << "</p>\n";
  if (!t.caution.empty()) h << "<p class=\"note\">" << escaped(t.caution) << "</p>\n";
  h << "<p class=\"note\">u of a residual: the point's uncertainty in both coordinates along the curve with "
       "uncertainties in x and y, &#8730;(u(e)&#178; + (de/dq&#183;u(q))&#178;).</p>\n";
  return h.str();
}

// ---------------------------------------------------------------- sections

// A fraction in percent, to 6 significant digits.
std::string percent(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", 100.0 * v);
  return buf;
}

std::string yesNo(bool on, const char* yes, const char* no) { return on ? yes : no; }

std::string runSection(const Calibration& cal, const ReportContext& c) {
  const Inputs& in = cal.inputs;
  const RecordContext& run = c.run;
  std::ostringstream h;
  h << "<h2>Run and data</h2>\n<table class=\"identity\"><tbody>\n"
    << "<tr><th class=\"text\">date and time of the run</th>" << (c.date.empty() ? text(kDash) : input(c.date)) << "</tr>\n"
    << "<tr><th class=\"text\">program</th>" << text("tarvel1 " + escaped(version())) << "</tr>\n";
  auto file = [&](const char* what, const std::string& name, const std::string& sha) {
    h << "<tr><th class=\"text\">" << what << "</th>" << (name.empty() ? text(kDash) : input(name));
    if (sha.empty()) h << "</tr>\n";
    else h << "</tr>\n<tr><th class=\"text\">SHA-256 of the " << what << "</th><td class=\"text input hash\">" << escaped(sha) << "</td></tr>\n";
  };
  file("control file", c.controlFile, c.controlSha256);
  file("data file", run.dataFile, c.dataSha256);
  file("results file", run.resultsFile, "");
  h << "</tbody></table>\n";

  const Switches& sw = in.switches;
  const int used = cal.monteCarloFit.order;
  h << "<h3>Settings</h3>\n<ul>\n<li>Polynomial order asked for: " << in.order << " (" << in.order + 1
    << (in.order == 0 ? " coefficient" : " coefficients") << ")"
    << (used != in.order ? "; the order used: " + std::to_string(used) + ", after dropping negligible coefficients" : "")
    << ".</li>\n<li>Each weighted fit's reduced chi-square and its probability Q reported (opt(1)): "
    << yesNo(sw.printFits, "yes", "no") << ".</li>\n<li>A negligible highest coefficient (|a| &lt; 0.001) dropped and the fit "
    << "repeated while the chi-square comes closer to 1 (opt(3)): " << yesNo(sw.dropNegligible, "yes", "no")
    << ".</li>\n<li>Q and its verdict printed on the console (opt(4), with opt(1)): "
    << yesNo(sw.printFits && sw.probability, "yes", "no") << ".</li>\n<li>The curve table courbe.dat (opt(5)): "
    << yesNo(sw.curve, "written", "not written") << ".</li>\n<li>Efficiencies asked for at the console (opt(6)): "
    << yesNo(run.queries, "yes", "no") << ".</li>\n<li>Common relative standard uncertainty of every efficiency: "
    << shortest(in.urel) << " (" << percent(in.urel) << " %).</li>\n<li>Monte Carlo trials: " << kTrials
    << ", from a fixed seed: the same data give the same figures in every run.</li>\n</ul>\n";

  h << "<h3>Calibration points, as read</h3>\n<table class=\"points\"><thead><tr><th>point</th>"
       "<th>quenching index q</th><th>u(q)</th><th>efficiency e</th><th>u(e)</th></tr></thead><tbody>\n";
  for (std::size_t i = 0; i < in.points.size(); ++i) {
    const Point& p = in.points[i];
    h << "<tr>" << num(std::to_string(i + 1)) << num(shortest(p.q)) << num(shortest(p.uq)) << num(shortest(p.e))
      << num(shortest(p.ue)) << "</tr>\n";
  }
  h << "</tbody></table>\n<p class=\"note\">Efficiencies and their uncertainties are fractions; every uncertainty "
       "is a standard uncertainty.</p>\n";
  return h.str();
}

std::string fitSection(const Calibration& cal) {
  const int npt = static_cast<int>(cal.inputs.points.size());
  std::ostringstream h;
  h << "<h2>Fits and coefficients</h2>\n<h3>Weighted fits (uncertainties in y)</h3>\n"
       "<table class=\"fits\"><thead><tr><th>fit</th><th>order</th><th>&#967;&#178;</th><th>degrees of freedom &#957;</th>"
       "<th>reduced &#967;&#178; (&#967;&#178;/&#957;)</th><th>Q</th><th class=\"text\">verdict</th></tr></thead><tbody>\n";
  for (std::size_t i = 0; i < cal.weightedFits.size(); ++i) {
    const WeightedFit& f = cal.weightedFits[i];
    h << "<tr" << (i + 1 == cal.weightedFits.size() ? " class=\"used\"" : "") << ">" << num(std::to_string(i + 1))
      << num(std::to_string(f.order)) << num(listedReal(f.chi2)) << num(std::to_string(npt - (f.order + 1)))
      << num(f.reducedChi2 ? listedReal(*f.reducedChi2) : kDash) << num(f.Q ? listedReal(*f.Q) : kDash)
      << text(f.verdict ? escaped(*f.verdict) : kDash) << "</tr>\n";
  }
  h << "</tbody></table>\n<p class=\"note\">Q is the chi-square probability of the fit: the chance that points "
       "scattering as their uncertainties say give a chi-square as large. The verdict: above 0.01 believable, above "
       "0.001 not so good, below that bad. The last fit (in bold) is the one kept.</p>\n";

  const FinalFit& w = cal.weightedFit;
  const MonteCarloFit& mc = cal.monteCarloFit;
  h << "<h3>Coefficients</h3>\n<table class=\"coefficients\"><thead><tr><th rowspan=\"2\">coefficient</th>"
       "<th colspan=\"2\">weighted fit (uncertainties in y)</th><th colspan=\"3\">fit with uncertainties in x and y</th></tr>"
       "<tr><th>value</th><th>standard deviation</th><th>value</th><th>combined standard uncertainty</th>"
       "<th>trials' own standard deviation</th></tr></thead><tbody>\n";
  for (int j = 1; j <= mc.order + 1; ++j) {
    const std::size_t k = static_cast<std::size_t>(j - 1);
    const std::string power = j == 1 ? "" : j == 2 ? " &#183; q" : " &#183; q<sup>" + std::to_string(j - 1) + "</sup>";
    h << "<tr>" << text("a(" + std::to_string(j) + ")" + power) << num(fixed(w.coefficients.at(k), 12, 8))
      << num(fixed(w.standardDeviations.at(k), 12, 8)) << num(fixed(mc.coefficients.at(k), 12, 8))
      << num(fixed(mc.standardDeviations.at(k), 12, 8))
      << num(fixed(std::sqrt(std::fabs(mc.monteCarloCovariance(j, j))), 12, 8)) << "</tr>\n";
  }
  h << "</tbody></table>\n<p class=\"note\">The efficiency is e(q) = a(1) + a(2) q + a(3) q&#178; + &#8230;. The "
       "combined standard uncertainty is from the combined covariance (the weighted fit's plus the trials' sample "
       "covariance), as the results file prints it; the trials' own standard deviation is from the trials' sample "
       "covariance alone (see the method).</p>\n";

  const Matrix& cov = mc.combinedCovariance;
  h << "<h3>Combined covariance of the coefficients</h3>\n<table class=\"matrix\"><thead><tr><th></th>";
  for (int j = 1; j <= cov.n; ++j) h << "<th>a(" << j << ")</th>";
  h << "</tr></thead><tbody>\n";
  for (int i = 1; i <= cov.n; ++i) {
    h << "<tr><th>a(" << i << ")</th>";
    for (int j = 1; j <= cov.n; ++j) h << num(fixed(cov(i, j), 13, 7));
    h << "</tr>\n";
  }
  h << "</tbody></table>\n<p class=\"note\">As the results file prints it (7 decimals); the record of the run "
       "(tarvel1 --json) holds it at full precision.</p>\n<h3>Correlation matrix</h3>\n<table class=\"matrix\"><thead><tr><th></th>";
  for (int j = 1; j <= cov.n; ++j) h << "<th>a(" << j << ")</th>";
  h << "</tr></thead><tbody>\n";
  for (int i = 1; i <= cov.n; ++i) {
    h << "<tr><th>a(" << i << ")</th>";
    for (int j = 1; j <= cov.n; ++j) h << num(fixed(cov(i, j) / std::sqrt(cov(i, i) * cov(j, j)), 7, 4));
    h << "</tr>\n";
  }
  h << "</tbody></table>\n";
  return h.str();
}

// The slope of the fit with uncertainties in x and y at q.
double slope(const std::vector<double>& a, double q) {
  double d = 0.0, p = 1.0;
  for (std::size_t j = 1; j < a.size(); ++j) d += static_cast<double>(j) * a[j] * p, p *= q;
  return d;
}

std::string residualSection(const Calibration& cal) {
  std::ostringstream h;
  h << "<h2>Residuals</h2>\n<table class=\"residuals\"><thead><tr><th>point</th><th>Q-index</th><th>e-exp</th>"
       "<th>e-calc</th><th>residual e-exp &#8722; e-calc</th><th>sdev (combined)</th><th>MC (trials' own)</th>"
       "<th>residual / u</th><th class=\"text\">beyond</th></tr></thead><tbody>\n";
  int beyond2 = 0, beyond3 = 0;
  for (std::size_t i = 0; i < cal.residuals.size() && i < cal.inputs.points.size(); ++i) {
    const Residual& r = cal.residuals[i];
    const Point& p = cal.inputs.points[i];
    const double s = slope(cal.monteCarloFit.coefficients, p.q) * p.uq;
    const double z = (r.eExp - r.eCalc) / std::sqrt(p.ue * p.ue + s * s);
    const bool b3 = std::fabs(z) > 3.0, b2 = !b3 && std::fabs(z) > 2.0;
    beyond3 += b3, beyond2 += b2;
    h << "<tr" << (b3 ? " class=\"beyond3\"" : b2 ? " class=\"beyond2\"" : "") << ">" << num(std::to_string(i + 1))
      << num(fixed(r.q, 7, 2)) << num(fixed(r.eExp, 6, 4)) << num(fixed(r.eCalc, 6, 4))
      << num(fixed(r.eExp - r.eCalc, 7, 4)) << num(fixed(r.sdev, 5, 4)) << num(fixed(r.mc, 5, 4))
      << num(fixed(z, 7, 2)) << text(b3 ? "3 u" : b2 ? "2 u" : "") << "</tr>\n";
  }
  h << "</tbody></table>\n<p class=\"note\">e-calc is the fit with uncertainties in x and y at the point's index; sdev "
       "its combined standard uncertainty and MC the trials' own standard deviation there, as the results file prints "
       "them. u is the point's own uncertainty at the curve, &#8730;(u(e)&#178; + (slope &#183; u(q))&#178;), the slope "
       "being the curve's at the point; a residual beyond 2 u is marked, one beyond 3 u in bold. Beyond 2 u: "
    << beyond2 << (beyond2 == 1 ? " point" : " points") << "; beyond 3 u: " << beyond3
    << (beyond3 == 1 ? " point" : " points") << ".</p>\n";
  return h.str();
}

std::string querySection(const ReportContext& c) {
  std::ostringstream h;
  h << "<h2>Efficiencies asked for</h2>\n";
  if (c.run.answers.empty()) {
    h << "<p>No efficiency was asked for in this run" << (c.run.queries ? "." : " (opt(6) = 0).") << "</p>\n";
    return h.str();
  }
  h << "<table class=\"answers\"><thead><tr><th rowspan=\"2\">quenching index</th><th colspan=\"3\">fit with "
       "uncertainties in x and y</th><th colspan=\"2\">trials' own</th><th colspan=\"2\">weighted fit alone</th></tr>"
       "<tr><th>efficiency</th><th>u, combined</th><th>U = 2u</th><th>u</th><th>U = 2u</th><th>efficiency</th>"
       "<th>u</th></tr></thead><tbody>\n";
  for (const Answer& a : c.run.answers)
    h << "<tr>" << num(fixed(a.q, 7, 2)) << num(fixed(a.xy.e, 6, 4)) << num(fixed(a.xy.u, 6, 4))
      << num(fixed(2.0 * a.xy.u, 6, 4)) << num(fixed(a.mc.u, 6, 4)) << num(fixed(2.0 * a.mc.u, 6, 4))
      << num(fixed(a.y.e, 6, 4)) << num(fixed(a.y.u, 6, 4)) << "</tr>\n";
  h << "</tbody></table>\n<p class=\"note\">u is a standard uncertainty, U = k u the expanded uncertainty with the "
       "coverage factor k = 2, for a coverage probability of about 95 %, as calibration certificates state it. The "
       "answer to report is the fit with uncertainties in x and y with its combined uncertainty (the line the results "
       "file holds). The trials' own uncertainty beside it is the standard deviation of the trials' curves at the "
       "index (their efficiency is the same to rounding), which counts each uncertainty once; the weighted fit alone "
       "leaves out the uncertainties of the indices and the common relative uncertainty.</p>\n";
  return h.str();
}

std::string methodSection(const Calibration& cal) {
  std::ostringstream h;
  h << "<h2>Method</h2>\n"
       "<p><b>Weighted fit.</b> A polynomial in the quenching index q is fitted to the measured efficiencies by "
       "weighted least squares (Levenberg-Marquardt), each point weighted by the inverse square of its efficiency "
       "uncertainty: the fit with uncertainties in y. Its chi-square, divided by the degrees of freedom (points less "
       "coefficients), is the reduced chi-square, near 1 when the points scatter as their uncertainties say; Q is the "
       "chance of a chi-square at least as large.";
  if (cal.inputs.switches.dropNegligible)
    h << " A highest coefficient below 0.001 in magnitude was dropped and the fit repeated while its chi-square came "
         "closer to 1.";
  h << "</p>\n<p><b>Monte Carlo trials.</b> Each of " << kTrials
    << " trials, drawn from a fixed seed, perturbs every point: its index by a normal deviate times u(q), its "
       "efficiency by a normal deviate times u(e), and all efficiencies together by one deviate times the common "
       "relative uncertainty; each trial refits the polynomial. The mean of the trials' coefficients is the fit "
       "with uncertainties in x and y.</p>\n"
       "<p><b>The three answers at an index.</b> (1) The weighted fit with the uncertainty of its own covariance: "
       "uncertainties in y only, which understates the uncertainty. (2) The fit with uncertainties in x and y with "
       "the combined standard uncertainty, from the weighted fit's covariance plus the trials' sample covariance: "
       "the answer to report, the one the results file, courbe.dat and the coefficients use. (3) The mean and "
       "standard deviation of the trials' curves at the index: the same efficiency to rounding, with the trials' "
       "own uncertainty.</p>\n"
       "<p><b>Caveat: the combined covariance counts the efficiency uncertainties twice.</b> The weighted fit's "
       "covariance comes from the efficiency uncertainties, and the trials perturb every efficiency by its "
       "uncertainty too, so their spread already holds that part. Every combined figure (the combined standard "
       "uncertainty of a coefficient, the combined covariance, sdev, courbe.dat's Ue, the second answer) is "
       "therefore conservative, larger than counting each uncertainty once. Beside each, this report shows the "
       "trials' own figure, from their sample covariance alone, which holds each coordinate's uncertainty once; "
       "each is labelled.</p>\n"
       "<p><b>Numbers.</b> Every figure is shown at the digits that tarvel1 prints on its console and in its "
       "results file (values below 1 without a zero before the point); the record of the run (tarvel1 --json FILE) "
       "holds every figure at full precision.</p>\n";
  return h.str();
}

}  // namespace

std::string reportHtml(const Calibration& cal, const ReportContext& c) {
  if (fittedCurve(cal) == nullptr) throw std::invalid_argument("a Calibration that calibrate() did not make has no report");
  const std::string heading = !c.run.heading.empty() ? c.run.heading : !c.run.dataFile.empty() ? c.run.dataFile : "Calibration";
  std::string picture = svg(cal, {980, 700, heading});
  picture.erase(0, picture.find("<svg"));
  picture.replace(picture.find("<svg"), 4, "<svg role=\"img\" aria-label=\"the calibration curve and its residuals\"");

  std::ostringstream h;
  h << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
    << "<meta name=\"generator\" content=\"tarvel1 " << escaped(version()) << "\">\n"
    << "<title>" << escaped(heading) << " \u2014 calibration report</title>\n<style>" << kStyle << "</style>\n</head>\n<body>\n"
    << "<header><h1>" << escaped(heading) << "</h1>\n<p class=\"sub\">Calibration report: detection efficiency "
       "against quenching index, tarvel1 "
    << escaped(version()) << "</p></header>\n"
    << "<section id=\"run\">\n" << runSection(cal, c) << "</section>\n"
    << "<section id=\"fits\">\n" << fitSection(cal) << "</section>\n"
    << "<section id=\"orders\">\n<h2>Choice of order</h2>\n" << orderSection(compareOrders(cal.inputs), cal.monteCarloFit.order)
    << "</section>\n"
    << "<section id=\"residuals\">\n" << residualSection(cal) << "</section>\n"
    << "<section id=\"picture\">\n<h2>Picture</h2>\n<figure>\n" << picture << "</figure>\n</section>\n"
    << "<section id=\"answers\">\n" << querySection(c) << "</section>\n"
    << "<section id=\"method\">\n" << methodSection(cal) << "</section>\n"
    << "</body>\n</html>\n";
  return h.str();
}

}  // namespace tarvel
