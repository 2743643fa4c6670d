// tarvel1-plot: draws the calibration that tarvel1 computed.
//
// Run in the directory of a tarvel1 run (with opt(5) = 1, so that courbe.dat
// exists). It reads control.dat, the data file it names, courbe.dat and the
// results file, and writes courbe.svg with two panels sharing the quenching
// index axis:
// - the calibration points with their uncertainty bars in both coordinates,
//   the curve of the fit with uncertainties in x and y, and bands of plus and
//   minus one and two combined standard uncertainties;
// - under it, the residuals e-exp - e-calc of the results file's residual
//   table in percent points, each with its point's efficiency uncertainty,
//   and the band of plus and minus the curve's combined standard uncertainty
//   around zero.
// The legend stands right of the panels, clear of every point and curve.
//
// The bands are drawn in data units (quenching index, efficiency or residual
// in percent) inside transformed groups, so the drawing keeps the values of
// courbe.dat; markers carry their point's values as data-q and data-e (or
// data-r) attributes.
//
// A courbe.dat left by an earlier run is refused: its first row must lie at
// the data's smallest index, with the efficiency that the residual table
// gives there, to the printed digits.
//
// Exit status: 0 when courbe.svg is written; 2 when a file is missing, cannot
// be read or written, or does not belong to this run; 1 when a file holds
// something unreadable.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "records/format.h"
#include "records/listin.h"
#include "run/input.h"

namespace {

struct Point {
  double q, uq, e, ue;
};
struct Row {
  double q, e, u;
};
// One row of the residual table, as printed.
struct Residual {
  std::string q, eExp, eCalc;
};

[[noreturn]] void fail(int status, const std::string& message) {
  std::fprintf(stderr, "tarvel1-plot: %s\n", message.c_str());
  std::exit(status);
}

std::string readFile(const std::string& name, const char* hint) {
  std::ifstream f(name, std::ios::binary);
  if (!f) fail(2, "cannot open '" + name + "': " + std::strerror(errno) + hint);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

// The settings and points of the run: control.dat and its data file, read
// as the program reads them.
struct Settings {
  std::string datfile, resfile;
  int order = 0;
};

Settings readInputs(std::vector<Point>& pts) {
  Settings s;
  std::string file = "control.dat";
  try {
    tarvel::MemoryLines control(readFile(file, ""));
    const tarvel::Control c = tarvel::readControl(control, file);
    s = {c.dataFile, c.resultsFile, c.order};
    file = c.dataFile;
    tarvel::MemoryLines data(readFile(file, ""));
    for (const tarvel::Point& p : tarvel::readData(data, file, c).points) pts.push_back({p.q, p.uq, p.e, p.ue});
  } catch (const tarvel::Error& e) {
    fail(1, "cannot read " + file + ": " + e.message());
  }
  return s;
}

// The rows of courbe.dat after its heading; rows with an overflowed field
// (asterisks) are left out. `first` receives the first row as written.
std::vector<Row> readCurve(std::string& first) {
  std::istringstream in(readFile("courbe.dat", " (run tarvel1 with opt(5) = 1 first)"));
  std::string line;
  std::getline(in, line);  // heading
  std::vector<Row> rows;
  while (std::getline(in, line)) {
    if (first.empty()) first = line;
    if (line.find('*') != std::string::npos) continue;
    Row r{};
    if (std::sscanf(line.c_str(), "%lf %lf %lf", &r.q, &r.e, &r.u) == 3) rows.push_back(r);
  }
  if (rows.empty()) fail(1, "courbe.dat holds no curve row");
  return rows;
}

// From the results file: the order of the fit with uncertainties in x and y
// (the dropping of coefficients may have lowered the order of control.dat)
// and the residual table, one row per point.
int readResults(const Settings& s, std::size_t npt, std::vector<Residual>& table) {
  std::istringstream in(readFile(s.resfile, " (run tarvel1 first)"));
  std::string line;
  int order = s.order;
  while (std::getline(in, line)) {
    int n;
    if (line.find("order polynomial fit with uncertainties in x and y") != std::string::npos &&
        std::sscanf(line.c_str(), "%d", &n) == 1)
      order = n;
    if (line.rfind(" Q-index   e-exp   e-calc  sdev    MC", 0) != 0) continue;
    table.clear();
    while (table.size() < npt && std::getline(in, line) && line.size() >= 38)
      table.push_back({line.substr(1, 7), line.substr(10, 6), line.substr(18, 6)});
  }
  if (table.size() != npt)
    fail(2, s.resfile + " holds no residual table of the " + std::to_string(npt) + " points of " + s.datfile +
                " (run tarvel1 again)");
  return order;
}

// Refuses a courbe.dat that another run left: its first row must lie at the
// smallest index of the data, with the e-calc of the residual table there.
void checkCurve(const Settings& s, const std::vector<Point>& pts, const std::vector<Residual>& table,
                const std::string& first) {
  std::size_t low = 0;
  for (std::size_t i = 1; i < pts.size(); ++i)
    if (pts[i].q < pts[low].q) low = i;
  const std::string q = tarvel::editF(pts[low].q, 8, 4), e = table[low].eCalc;
  const std::string at = first.size() > 1 ? first.substr(1, 8) : first;
  std::string why;
  if (first.size() < 17 || at != q)
    why = "its first row is at " + tarvel::trimBlanks(at) + ", not at " + tarvel::trimBlanks(q) + ", the smallest index of " + s.datfile;
  else if (first.compare(11, 6, e) != 0)
    why = "its efficiency at " + tarvel::trimBlanks(q) + " is " + tarvel::trimBlanks(first.substr(11, 6)) + ", not the e-calc " + tarvel::trimBlanks(e) +
          " of " + s.resfile;
  if (!why.empty()) fail(2, "courbe.dat does not belong to this run: " + why + " (run tarvel1 with opt(5) = 1 again)");
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

std::string num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", v);
  return buf;
}

std::string xmlText(const std::string& s) {
  std::string r;
  for (char c : s) {
    if (c == '&') r += "&amp;";
    else if (c == '<') r += "&lt;";
    else if (c == '>') r += "&gt;";
    else if (c == '"') r += "&quot;";
    else if (static_cast<unsigned char>(c) >= 0x20) r += c;
  }
  return r;
}

// Closed outline between e - k u and e + k u along the curve, in data units.
std::string band(const std::vector<Row>& rows, double k) {
  std::string d;
  for (std::size_t i = 0; i < rows.size(); ++i)
    d += (i == 0 ? "M" : " L") + num(rows[i].q) + "," + num(100.0 * (rows[i].e + k * rows[i].u));
  for (std::size_t i = rows.size(); i-- > 0;) d += " L" + num(rows[i].q) + "," + num(100.0 * (rows[i].e - k * rows[i].u));
  return d + " Z";
}

// A marker with its error bars, in pixels.
void marker(std::ostringstream& svg, const char* cls, const std::string& data, double x, double y, double x0,
            double x1, double y0, double y1) {
  if (x0 != x1)
    svg << "<line x1=\"" << num(x0) << "\" y1=\"" << num(y) << "\" x2=\"" << num(x1) << "\" y2=\"" << num(y) << "\"/>";
  svg << "<line x1=\"" << num(x) << "\" y1=\"" << num(y0) << "\" x2=\"" << num(x) << "\" y2=\"" << num(y1)
      << "\"/><circle class=\"" << cls << "\" " << data << " cx=\"" << num(x) << "\" cy=\"" << num(y)
      << "\" r=\"3.5\" fill=\"#a50f15\"/>\n";
}

// A panel's frame, horizontal grid lines and their labels; `xLabels` adds
// the labels of the shared vertical grid under it.
void frame(std::ostringstream& svg, const char* cls, double left, double top, double pw, double ph, double lo,
           double hi, const std::vector<double>& qticks, double tx, double sx, bool xLabels) {
  const double sy = -ph / (hi - lo);
  auto X = [&](double q) { return tx + q * sx; };
  svg << "<g class=\"axes\" stroke=\"#888\" stroke-width=\"1\">\n";
  for (double q : qticks) {
    svg << "<line x1=\"" << num(X(q)) << "\" y1=\"" << top << "\" x2=\"" << num(X(q)) << "\" y2=\"" << top + ph
        << "\" stroke=\"#eee\"/>\n";
    if (xLabels)
      svg << "<text class=\"xtick\" x=\"" << num(X(q)) << "\" y=\"" << top + ph + 18
          << "\" text-anchor=\"middle\" stroke=\"none\" fill=\"black\">" << num(q) << "</text>\n";
  }
  for (double v : ticks(lo, hi)) {
    const double y = top + (v - hi) * sy;
    svg << "<line x1=\"" << left << "\" y1=\"" << num(y) << "\" x2=\"" << left + pw << "\" y2=\"" << num(y)
        << "\" stroke=\"#eee\"/>\n<text class=\"ytick\" x=\""
        << left - 8 << "\" y=\"" << num(y + 4) << "\" text-anchor=\"end\" stroke=\"none\" fill=\"black\">" << num(v)
        << "</text>\n";
  }
  svg << "<rect class=\"" << cls << "\" x=\"" << left << "\" y=\"" << top << "\" width=\"" << pw << "\" height=\""
      << ph << "\" fill=\"none\"/>\n</g>\n";
}

}  // namespace

int main() {
  std::vector<Point> pts;
  const Settings s = readInputs(pts);
  std::string first;
  const std::vector<Row> rows = readCurve(first);
  std::vector<Residual> table;
  const int order = readResults(s, pts.size(), table);
  checkCurve(s, pts, table, first);

  // Data window: every point with its bars and the outer band, with a margin.
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

  // Residuals in percent points, from the printed table (rows with an
  // overflowed field are left out), and their symmetric window.
  std::vector<double> res(pts.size(), NAN);
  double rmax = 0.0;
  for (std::size_t i = 0; i < pts.size(); ++i) {
    if ((table[i].eExp + table[i].eCalc).find('*') == std::string::npos)
      res[i] = 100.0 * (std::strtod(table[i].eExp.c_str(), nullptr) - std::strtod(table[i].eCalc.c_str(), nullptr));
    if (!std::isnan(res[i])) rmax = std::max(rmax, std::fabs(res[i]) + 100.0 * std::fabs(pts[i].ue));
  }
  for (const Row& r : rows) rmax = std::max(rmax, 100.0 * r.u);
  rmax = rmax > 0.0 ? 1.1 * rmax : 1.0;

  // Panels in pixels: the curve, and the residuals under it; the legend right of both.
  const double W = 980, H = 700, left = 90, top = 60, pw = 590, ph = 380, gap = 14, rtop = top + ph + gap, rh = 170;
  const double lx = left + pw + 34;
  const double sx = pw / (qhi - qlo), sy = -ph / (ehi - elo), rsy = -rh / (2.0 * rmax);
  const double tx = left - qlo * sx, ty = top - ehi * sy, rty = rtop - rmax * rsy;
  auto X = [&](double q) { return tx + q * sx; };
  auto Y = [&](double e) { return ty + e * sy; };
  auto R = [&](double r) { return rty + r * rsy; };
  const std::vector<double> qticks = ticks(qlo, qhi);

  std::ostringstream svg;
  svg << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << W << "\" height=\"" << H << "\" viewBox=\"0 0 " << W
      << " " << H << "\" font-family=\"sans-serif\" font-size=\"13\">\n"
      << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
      << "<text class=\"title\" x=\"" << left + pw / 2 << "\" y=\"30\" text-anchor=\"middle\" font-size=\"16\">"
      << xmlText("Calibration of " + s.datfile + ": polynomial of order " + std::to_string(order) +
                 ", uncertainties in x and y")
      << "</text>\n";
  frame(svg, "frame", left, top, pw, ph, elo, ehi, qticks, tx, sx, false);
  frame(svg, "frame", left, rtop, pw, rh, -rmax, rmax, qticks, tx, sx, true);
  svg << "<text class=\"xlabel\" x=\"" << left + pw / 2 << "\" y=\"" << H - 20
      << "\" text-anchor=\"middle\">Quenching index</text>\n"
      << "<text class=\"ylabel\" transform=\"translate(24," << top + ph / 2
      << ") rotate(-90)\" text-anchor=\"middle\">Detection efficiency (%)</text>\n"
      << "<text class=\"ylabel\" transform=\"translate(24," << rtop + rh / 2
      << ") rotate(-90)\" text-anchor=\"middle\">e-exp &#8722; e-calc (%)</text>\n";
  // Bands and curve in data units.
  svg << "<g class=\"curve\" transform=\"matrix(" << num(sx) << " 0 0 " << num(sy) << " " << num(tx) << " " << num(ty)
      << ")\">\n"
      << "<path class=\"band2\" fill=\"#c6dbef\" stroke=\"none\" d=\"" << band(rows, 2.0) << "\"/>\n"
      << "<path class=\"band1\" fill=\"#6baed6\" stroke=\"none\" d=\"" << band(rows, 1.0) << "\"/>\n</g>\n"
      << "<path class=\"fit\" fill=\"none\" stroke=\"#08306b\" stroke-width=\"2\" d=\"";
  for (std::size_t i = 0; i < rows.size(); ++i) svg << (i == 0 ? "M" : " L") << num(X(rows[i].q)) << "," << num(Y(100.0 * rows[i].e));
  svg << "\"/>\n";
  // The residual band around zero, in data units.
  std::vector<Row> zero(rows);
  for (Row& r : zero) r.e = 0.0;
  svg << "<g class=\"residual-band\" transform=\"matrix(" << num(sx) << " 0 0 " << num(rsy) << " " << num(tx) << " "
      << num(rty) << ")\">\n<path class=\"rband\" fill=\"#6baed6\" stroke=\"none\" d=\"" << band(zero, 1.0)
      << "\"/>\n</g>\n<line class=\"zero\" x1=\"" << left << "\" y1=\"" << num(R(0.0)) << "\" x2=\"" << left + pw
      << "\" y2=\"" << num(R(0.0)) << "\" stroke=\"#444\"/>\n";
  // Points and residuals with their bars.
  svg << "<g class=\"points\" stroke=\"#a50f15\" stroke-width=\"1.2\">\n";
  for (std::size_t i = 0; i < pts.size(); ++i) {
    const Point& p = pts[i];
    marker(svg, "marker", "data-q=\"" + num(p.q) + "\" data-e=\"" + num(p.e) + "\"", X(p.q), Y(100.0 * p.e),
           X(p.q - p.uq), X(p.q + p.uq), Y(100.0 * (p.e - p.ue)), Y(100.0 * (p.e + p.ue)));
    if (!std::isnan(res[i]))
      marker(svg, "residual", "data-q=\"" + num(p.q) + "\" data-r=\"" + num(res[i]) + "\"", X(p.q), R(res[i]), 0, 0,
             R(res[i] - 100.0 * p.ue), R(res[i] + 100.0 * p.ue));
  }
  svg << "</g>\n";
  // Legend, right of the panels.
  const double ly = top + 14, ry = rtop + 14;
  svg << "<g class=\"legend\" font-size=\"12\">\n"
      << "<rect x=\"" << lx - 10 << "\" y=\"" << ly - 12 << "\" width=\"" << W - lx << "\" height=\"76\" fill=\"white\" stroke=\"#ccc\"/>\n"
      << "<circle cx=\"" << lx << "\" cy=\"" << ly << "\" r=\"3.5\" fill=\"#a50f15\"/><text x=\"" << lx + 14 << "\" y=\""
      << ly + 4 << "\">calibration points</text>\n"
      << "<line x1=\"" << lx - 6 << "\" y1=\"" << ly + 18 << "\" x2=\"" << lx + 6 << "\" y2=\"" << ly + 18
      << "\" stroke=\"#08306b\" stroke-width=\"2\"/><text x=\"" << lx + 14 << "\" y=\"" << ly + 22 << "\">fit</text>\n"
      << "<rect x=\"" << lx - 6 << "\" y=\"" << ly + 30 << "\" width=\"12\" height=\"8\" fill=\"#6baed6\"/><text x=\""
      << lx + 14 << "\" y=\"" << ly + 38 << "\">&#177;1 combined standard uncertainty</text>\n"
      << "<rect x=\"" << lx - 6 << "\" y=\"" << ly + 46 << "\" width=\"12\" height=\"8\" fill=\"#c6dbef\"/><text x=\""
      << lx + 14 << "\" y=\"" << ly + 54 << "\">&#177;2 combined standard uncertainties</text>\n"
      << "<rect x=\"" << lx - 10 << "\" y=\"" << ry - 12 << "\" width=\"" << W - lx << "\" height=\"60\" fill=\"white\" stroke=\"#ccc\"/>\n"
      << "<circle cx=\"" << lx << "\" cy=\"" << ry << "\" r=\"3.5\" fill=\"#a50f15\"/><text x=\"" << lx + 14 << "\" y=\""
      << ry + 4 << "\">residual, with the point's</text>\n<text x=\"" << lx + 14 << "\" y=\"" << ry + 18
      << "\">efficiency uncertainty</text>\n"
      << "<rect x=\"" << lx - 6 << "\" y=\"" << ry + 28 << "\" width=\"12\" height=\"8\" fill=\"#6baed6\"/><text x=\""
      << lx + 14 << "\" y=\"" << ry + 36 << "\">&#177;1 combined standard uncertainty</text>\n"
      << "</g>\n</svg>\n";

  std::ofstream out("courbe.svg", std::ios::binary | std::ios::trunc);
  out << svg.str();
  out.close();
  if (!out) fail(2, std::string("cannot write 'courbe.svg': ") + std::strerror(errno));
  std::printf("courbe.svg written: %zu points, %zu curve rows, order %d\n", pts.size(), rows.size(), order);
  return 0;
}
