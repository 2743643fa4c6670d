// The picture of a calibration (tarvel::svg), drawn from its figures at full
// precision: the title and a caption, the points and the curve with its bands
// in one panel, the residuals in another under it sharing the quenching index
// axis, the legend right of both, clear of every point and curve.
//
// The bands are drawn in data units (quenching index, efficiency or residual
// in percent) inside transformed groups, so the drawing keeps the curve's
// values; markers carry their point's values as data-q and data-e (or data-r)
// attributes.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "report/markup.h"
#include "run/run.h"
#include "tarvel/tarvel.h"

namespace tarvel {

namespace {

using markup::num;

struct Row {
  double q, e, u;
};

// Three significant digits; a power of ten written out (1.23 × 10⁻⁵) where
// printf would use an exponent.
std::string figure(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3g", v);
  std::string s = buf;
  const auto e = s.find('e');
  if (e == std::string::npos) return s;
  static const char* const kSuper[] = {"\u2070", "\u00b9", "\u00b2", "\u00b3", "\u2074",
                                       "\u2075", "\u2076", "\u2077", "\u2078", "\u2079"};
  std::string power = s[e + 1] == '-' ? "\u207b" : "";
  const int exponent = std::abs(std::atoi(s.c_str() + e + 1));
  for (char d : std::to_string(exponent)) power += kSuper[d - '0'];
  return s.substr(0, e) + " \u00d7 10" + power;
}

// The caption: the fit, the points and the last weighted fit's goodness.
std::string caption(const Calibration& cal) {
  const std::size_t npt = cal.inputs.points.size();
  std::string c = "Polynomial of order " + std::to_string(cal.monteCarloFit.order) + ", uncertainties in x and y \u00b7 " +
                  std::to_string(npt) + (npt == 1 ? " point" : " points");
  if (cal.weightedFits.empty()) return c;
  const WeightedFit& w = cal.weightedFits.back();
  if (w.reducedChi2 && std::isfinite(*w.reducedChi2)) {
    c += " \u00b7 weighted fit in y: reduced chi-square " + figure(*w.reducedChi2);
    if (w.Q && std::isfinite(*w.Q)) c += ", Q = " + figure(*w.Q);
  }
  return c;
}

// The curve over the points' indices, where the calibration answers: the
// abscissae of the curve table (qmin, then steps of a hundredth of the range,
// accumulated) up to qmax, and qmax itself.
std::vector<Row> curveRows(const Calibration& cal) {
  std::vector<Row> rows;
  auto add = [&](double q) {
    const Estimate xy = cal.efficiency(q).xy;
    rows.push_back({q, xy.e, xy.u});
  };
  const double qstep = (cal.qmax - cal.qmin) / 100.0;
  double q = cal.qmin;
  for (int k = 0; k <= 100 && q <= cal.qmax; ++k, q += qstep) {
    add(q);
    if (!(qstep > 0.0)) break;
  }
  // The last step may stop a rounding short of qmax: the row is then qmax's.
  if (rows.back().q < cal.qmax && rows.size() > 1 && cal.qmax - rows.back().q < 1e-9 * (cal.qmax - cal.qmin)) rows.pop_back();
  if (rows.back().q < cal.qmax) add(cal.qmax);
  return rows;
}

// Tick positions: a step of 1, 2 or 5 times a power of ten giving 4 to 10 ticks.
std::vector<double> ticks(double lo, double hi) {
  const double span = hi - lo;
  double step = std::pow(10.0, std::floor(std::log10(span / 5.0)));
  for (double m : {1.0, 2.0, 5.0, 10.0})
    if (span / (step * m) <= 10.0) {
      step *= m;
      break;
    }
  std::vector<double> t;
  for (double v = std::ceil(lo / step) * step; v <= hi + step * 1e-9; v += step) t.push_back(std::fabs(v) < step * 1e-9 ? 0.0 : v);
  return t;
}

// A line of text at (x, y) within `room` units: its font made smaller (down
// to 12) and then its glyphs squeezed when it would run longer, by the rough
// width of a sans-serif character, 0.55 of the font size.
void textLine(std::ostringstream& svg, const char* cls, double x, double y, double size, double room,
              const std::string& text, const char* style) {
  double chars = 0;
  for (char c : text) chars += (static_cast<unsigned char>(c) & 0xc0) != 0x80;
  if (0.55 * size * chars > room) size = std::max(12.0, room / (0.55 * chars));
  svg << "<text class=\"" << cls << "\" x=\"" << num(x) << "\" y=\"" << num(y) << "\" font-size=\"" << num(size)
      << "\" " << style;
  if (0.55 * size * chars > room) svg << " textLength=\"" << num(room) << "\" lengthAdjust=\"spacingAndGlyphs\"";
  svg << ">" << markup::escaped(text) << "</text>\n";
}

// Closed outline between e - k u and e + k u along the curve, in data units.
std::string band(const std::vector<Row>& rows, double k) {
  std::string d;
  for (std::size_t i = 0; i < rows.size(); ++i)
    d += (i == 0 ? "M" : " L") + num(rows[i].q) + "," + num(100.0 * (rows[i].e + k * rows[i].u));
  for (std::size_t i = rows.size(); i-- > 0;) d += " L" + num(rows[i].q) + "," + num(100.0 * (rows[i].e - k * rows[i].u));
  return d + " Z";
}

// The size of a marker: radius r, caps of half-width c, strokes of width w
// and opacity a.
struct Mark {
  double r, c, w, a;
};

// Markers shrink from 3.5 units at 30 points or fewer to 1.2 at 500 or more
// (logarithmically in between), and grow fainter, so that hundreds of points
// stay apart and the curve shows through them.
Mark markSize(std::size_t n) {
  const double t = std::clamp(std::log(static_cast<double>(std::max<std::size_t>(n, 1)) / 30.0) / std::log(500.0 / 30.0), 0.0, 1.0);
  const double r = 3.5 - 2.3 * t;
  return {r, r + 1.0, 0.6 + 0.2 * r, 1.0 - 0.4 * t};
}

// A marker with its error bars, in pixels: each bar ends in caps wider than
// the hollow marker, so that a bar shorter than the marker still shows.
void marker(std::ostringstream& svg, const char* cls, const std::string& data, double x, double y, double x0,
            double x1, double y0, double y1, const Mark& m) {
  std::string d;
  const std::string c = num(2 * m.c);
  if (x0 != x1)
    d += "M" + num(x0) + "," + num(y) + "H" + num(x1) + "M" + num(x0) + "," + num(y - m.c) + "v" + c + "M" + num(x1) +
         "," + num(y - m.c) + "v" + c;
  if (y0 != y1)
    d += "M" + num(x) + "," + num(y0) + "V" + num(y1) + "M" + num(x - m.c) + "," + num(y0) + "h" + c + "M" +
         num(x - m.c) + "," + num(y1) + "h" + c;
  if (!d.empty()) svg << "<path d=\"" << d << "\"/>";
  svg << "<circle class=\"" << cls << "\" " << data << " cx=\"" << num(x) << "\" cy=\"" << num(y) << "\" r=\""
      << num(m.r) << "\"/>\n";
}

// A panel's frame, horizontal grid lines and their labels; `xLabels` adds
// the labels of the shared vertical grid under it.
void frame(std::ostringstream& svg, const char* cls, double left, double top, double pw, double ph, double lo,
           double hi, const std::vector<double>& qticks, double tx, double sx, bool xLabels) {
  const double sy = -ph / (hi - lo);
  auto X = [&](double q) { return tx + q * sx; };
  svg << "<g class=\"axes\" stroke=\"#888\" stroke-width=\"1\">\n";
  for (double q : qticks) {
    svg << "<line x1=\"" << num(X(q)) << "\" y1=\"" << num(top) << "\" x2=\"" << num(X(q)) << "\" y2=\""
        << num(top + ph) << "\" stroke=\"#e4e4e4\"/>\n";
    if (xLabels)
      svg << "<text class=\"xtick\" x=\"" << num(X(q)) << "\" y=\"" << num(top + ph + 19)
          << "\" text-anchor=\"middle\" stroke=\"none\" fill=\"black\">" << num(q) << "</text>\n";
  }
  for (double v : ticks(lo, hi)) {
    const double y = top + (v - hi) * sy;
    svg << "<line x1=\"" << num(left) << "\" y1=\"" << num(y) << "\" x2=\"" << num(left + pw) << "\" y2=\""
        << num(y) << "\" stroke=\"#e4e4e4\"/>\n<text class=\"ytick\" x=\"" << num(left - 8) << "\" y=\""
        << num(y + 4.5) << "\" text-anchor=\"end\" stroke=\"none\" fill=\"black\">" << num(v) << "</text>\n";
  }
  svg << "<rect class=\"" << cls << "\" x=\"" << num(left) << "\" y=\"" << num(top) << "\" width=\"" << num(pw)
      << "\" height=\"" << num(ph) << "\" fill=\"none\"/>\n</g>\n";
}

}  // namespace

std::string svg(const Calibration& cal, const SvgOptions& opt) {
  if (opt.width < 1 || opt.width > 100000 || opt.height < 1 || opt.height > 100000)
    throw std::invalid_argument("a picture's width and height are from 1 to 100000 pixels");
  if (fittedCurve(cal) == nullptr || cal.inputs.points.empty()) throw std::invalid_argument("a Calibration that calibrate() did not make has no picture");
  const std::vector<Point>& pts = cal.inputs.points;
  const std::vector<Row> rows = curveRows(cal);

  // Data window: every point with its bars and the drawn outer band, with a margin.
  double qlo = rows.front().q, qhi = rows.front().q, elo = 100.0 * rows.front().e, ehi = elo;
  for (const Row& r : rows) {
    qlo = std::min(qlo, r.q), qhi = std::max(qhi, r.q);
    elo = std::min(elo, 100.0 * (r.e - 2.0 * r.u)), ehi = std::max(ehi, 100.0 * (r.e + 2.0 * r.u));
  }
  for (const Point& p : pts) {
    qlo = std::min(qlo, p.q - p.uq), qhi = std::max(qhi, p.q + p.uq);
    elo = std::min(elo, 100.0 * (p.e - p.ue)), ehi = std::max(ehi, 100.0 * (p.e + p.ue));
  }
  if (qhi <= qlo) qlo -= 1.0, qhi += 1.0;
  if (ehi <= elo) elo -= 1.0, ehi += 1.0;
  const double qpad = 0.04 * (qhi - qlo), epad = 0.06 * (ehi - elo);
  qlo -= qpad, qhi += qpad, elo -= epad, ehi += epad;

  // Residuals e-exp - e-calc in percentage points, and their symmetric window.
  std::vector<double> res(pts.size(), NAN);
  double rmax = 0.0;
  for (std::size_t i = 0; i < pts.size() && i < cal.residuals.size(); ++i) {
    const double r = 100.0 * (cal.residuals[i].eExp - cal.residuals[i].eCalc);
    if (std::isfinite(r)) res[i] = r, rmax = std::max(rmax, std::fabs(r) + 100.0 * std::fabs(pts[i].ue));
  }
  for (const Row& r : rows) rmax = std::max(rmax, 100.0 * r.u);
  rmax = rmax > 0.0 ? 1.1 * rmax : 1.0;

  // The layout, in units of 1/980 of the width (of 1/460 of the height for a
  // flatter picture): the title and caption, the curve's panel and the
  // residuals' under it, the legend right of both.
  const double unit = std::min(opt.width / 980.0, opt.height / 460.0);
  const double W = opt.width / unit, H = opt.height / unit;
  const double left = 92, top = 70, pw = W - left - 310, gap = 14, bottom = 62;
  const double ph = 0.66 * (H - top - gap - bottom), rtop = top + ph + gap, rh = H - bottom - rtop;
  const double lx = left + pw + 34;
  const double sx = pw / (qhi - qlo), sy = -ph / (ehi - elo), rsy = -rh / (2.0 * rmax);
  const double tx = left - qlo * sx, ty = top - ehi * sy, rty = rtop - rmax * rsy;
  auto X = [&](double q) { return tx + q * sx; };
  auto Y = [&](double e) { return ty + e * sy; };
  auto R = [&](double r) { return rty + r * rsy; };
  const std::vector<double> qticks = ticks(qlo, qhi);
  const Mark mark = markSize(pts.size());

  std::ostringstream svg;
  svg << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << opt.width << "\" height=\"" << opt.height
      << "\" viewBox=\"0 0 " << num(W) << " " << num(H) << "\" font-family=\"DejaVu Sans, Arial, Helvetica, sans-serif\" font-size=\"13\">\n"
      << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  if (!opt.title.empty()) textLine(svg, "title", left, 30, 17, W - left - 10, opt.title, "font-weight=\"bold\"");
  textLine(svg, "caption", left, 52, 13, W - left - 10, caption(cal), "fill=\"#333\"");
  frame(svg, "frame", left, top, pw, ph, elo, ehi, qticks, tx, sx, false);
  frame(svg, "frame", left, rtop, pw, rh, -rmax, rmax, qticks, tx, sx, true);
  svg << "<g font-size=\"14\" text-anchor=\"middle\">\n<text class=\"xlabel\" x=\"" << num(left + pw / 2) << "\" y=\""
      << num(H - 16) << "\">Quenching index</text>\n"
      << "<text class=\"ylabel\" transform=\"translate(30," << num(top + ph / 2)
      << ") rotate(-90)\">Detection efficiency (%)</text>\n"
      << "<text class=\"ylabel\" transform=\"translate(30," << num(rtop + rh / 2)
      << ") rotate(-90)\"><tspan x=\"0\" dy=\"-8\">e-exp &#8722; e-calc</tspan><tspan x=\"0\" dy=\"16\">(percentage "
         "points)</tspan></text>\n</g>\n";
  // Bands and curve in data units.
  svg << "<g class=\"curve\" transform=\"matrix(" << num(sx) << " 0 0 " << num(sy) << " " << num(tx) << " " << num(ty)
      << ")\">\n"
      << "<path class=\"band2\" fill=\"#c6dbef\" stroke=\"none\" d=\"" << band(rows, 2.0) << "\"/>\n"
      << "<path class=\"band1\" fill=\"#6baed6\" stroke=\"none\" d=\"" << band(rows, 1.0)
      << "\"/>\n</g>\n";
  // The residual band around zero, in data units.
  std::vector<Row> zero(rows);
  for (Row& r : zero) r.e = 0.0;
  svg << "<g class=\"residual-band\" transform=\"matrix(" << num(sx) << " 0 0 " << num(rsy) << " " << num(tx) << " "
      << num(rty) << ")\">\n<path class=\"rband\" fill=\"#6baed6\" stroke=\"none\" d=\""
      << band(zero, 1.0) << "\"/>\n</g>\n<line class=\"zero\" x1=\"" << num(left) << "\" y1=\"" << num(R(0.0))
      << "\" x2=\"" << num(left + pw) << "\" y2=\"" << num(R(0.0)) << "\" stroke=\"#444\"/>\n";
  // Points and residuals with their bars.
  svg << "<g class=\"points\" stroke=\"#a50f15\" stroke-width=\"" << num(mark.w) << "\" stroke-opacity=\""
      << num(mark.a) << "\" fill=\"none\">\n";
  for (std::size_t i = 0; i < pts.size(); ++i) {
    const Point& p = pts[i];
    marker(svg, "marker", "data-q=\"" + num(p.q) + "\" data-e=\"" + num(p.e) + "\"", X(p.q), Y(100.0 * p.e),
           X(p.q - p.uq), X(p.q + p.uq), Y(100.0 * (p.e - p.ue)), Y(100.0 * (p.e + p.ue)), mark);
    if (!std::isnan(res[i]))
      marker(svg, "residual", "data-q=\"" + num(p.q) + "\" data-r=\"" + num(res[i]) + "\"", X(p.q), R(res[i]), 0, 0,
             R(res[i] - 100.0 * p.ue), R(res[i] + 100.0 * p.ue), mark);
  }
  svg << "</g>\n";
  // The curve over the points, so that many points do not hide it.
  svg << "<path class=\"fit\" fill=\"none\" stroke=\"#08306b\" stroke-width=\"2\" d=\"";
  for (std::size_t i = 0; i < rows.size(); ++i) svg << (i == 0 ? "M" : " L") << num(X(rows[i].q)) << "," << num(Y(100.0 * rows[i].e));
  svg << "\"/>\n";
  // Legend, right of the panels: a box for each, its keys, then its entries.
  const double ly = top + 16, ry = rtop + 16;
  const Mark key{3.5, 4.5, 1.3, 1.0};
  auto entry = [&](double y, const char* text) {
    svg << "<text x=\"" << num(lx + 16) << "\" y=\"" << num(y + 4.5) << "\">" << text << "</text>\n";
  };
  auto swatch = [&](double y, const char* fill) {
    svg << "<rect x=\"" << num(lx - 7) << "\" y=\"" << num(y - 5) << "\" width=\"14\" height=\"10\" fill=\"" << fill
        << "\"/>";
  };
  svg << "<g class=\"legend\" font-size=\"12.5\">\n";
  for (const double y : {ly, ry})
    svg << "<rect x=\"" << num(lx - 12) << "\" y=\"" << num(y - 14) << "\" width=\"" << num(W - lx) << "\" height=\""
        << (y == ly ? 88 : 68) << "\" fill=\"white\" stroke=\"#ccc\"/>\n";
  svg << "<g stroke=\"#a50f15\" stroke-width=\"" << num(key.w) << "\" fill=\"none\">";
  marker(svg, "key", "", lx, ly, lx - 7, lx + 7, ly + 6, ly - 6, key);
  marker(svg, "key", "", lx, ry, 0, 0, ry + 6, ry - 6, key);
  svg << "</g>\n<line x1=\"" << num(lx - 8) << "\" y1=\"" << num(ly + 20) << "\" x2=\"" << num(lx + 8) << "\" y2=\""
      << num(ly + 20) << "\" stroke=\"#08306b\" stroke-width=\"2\"/>";
  swatch(ly + 40, "#6baed6");
  swatch(ly + 60, "#c6dbef");
  swatch(ry + 36, "#6baed6");
  entry(ly, "calibration points");
  entry(ly + 20, "fit with uncertainties in x and y");
  entry(ly + 40, "&#177;1 combined standard uncertainty");
  entry(ly + 60, "&#177;2 combined standard uncertainties");
  entry(ry, "residual, with the point's");
  entry(ry + 16, "efficiency uncertainty");
  entry(ry + 36, "&#177;1 combined standard uncertainty");
  svg << "</g>\n</svg>\n";
  return svg.str();
}

}  // namespace tarvel
