// tarvel1-plot: draws the calibration that tarvel1 computed.
//
// Run in the directory of a tarvel1 run (with opt(5) = 1, so that courbe.dat
// exists). It reads control.dat, the data file it names and courbe.dat, and
// writes courbe.svg: the calibration points with their uncertainty bars in
// both coordinates, the curve of the fit with uncertainties in x and y, and
// bands of plus and minus one and two combined standard uncertainties.
//
// The bands are drawn in data units (quenching index, efficiency in percent)
// inside one transformed group, so the drawing keeps the values of
// courbe.dat; markers carry their point's values as data-q and data-e
// attributes.
//
// Exit status: 0 when courbe.svg is written; 2 when a file is missing or
// cannot be read or written; 1 when a file holds something unreadable.
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

#include "records/listin.h"

namespace {

struct Point {
  double q, uq, e, ue;
};
struct Row {
  double q, e, u;
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

std::string trim(const std::string& s) {
  const std::size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

// Reads one list-directed statement or fails naming the file.
void read(tarvel::LineSource& src, const std::string& file, std::initializer_list<tarvel::ListItem> items) {
  if (auto error = tarvel::readListStatement(src, items)) fail(1, "cannot read " + file + ": " + error->message);
}

struct Settings {
  std::string datfile, resfile;
  int order = 0;
};

Settings readControl() {
  tarvel::MemoryLines src(readFile("control.dat", ""));
  Settings s;
  std::string label;
  int opt = 0;
  read(src, "control.dat", {tarvel::listTarget(label, 15)});
  read(src, "control.dat", {tarvel::listTarget(s.datfile, 255), tarvel::listTarget(label, 15)});
  read(src, "control.dat", {tarvel::listTarget(s.order), tarvel::listTarget(label, 15)});
  for (int k = 1; k <= 6; ++k) read(src, "control.dat", {tarvel::listTarget(opt), tarvel::listTarget(label, 15)});
  read(src, "control.dat", {tarvel::listTarget(s.resfile, 255), tarvel::listTarget(label, 15)});
  s.datfile = trim(s.datfile);
  s.resfile = trim(s.resfile);
  return s;
}

std::vector<Point> readPoints(const std::string& name) {
  tarvel::MemoryLines src(readFile(name, ""));
  int npt = 0;
  double urel = 0.0;
  read(src, name, {tarvel::listTarget(npt), tarvel::listTarget(urel)});
  if (npt < 1) fail(1, name + " holds no calibration point");
  std::vector<Point> pts;
  for (int i = 0; i < npt; ++i) {
    Point p{};
    read(src, name, {tarvel::listTarget(p.q), tarvel::listTarget(p.uq), tarvel::listTarget(p.e), tarvel::listTarget(p.ue)});
    pts.push_back(p);
  }
  return pts;
}

// The rows of courbe.dat after its heading; rows with an overflowed field
// (asterisks) are left out.
std::vector<Row> readCurve() {
  std::istringstream in(readFile("courbe.dat", " (run tarvel1 with opt(5) = 1 first)"));
  std::string line;
  std::getline(in, line);  // heading
  std::vector<Row> rows;
  while (std::getline(in, line)) {
    if (line.find('*') != std::string::npos) continue;
    Row r{};
    if (std::sscanf(line.c_str(), "%lf %lf %lf", &r.q, &r.e, &r.u) == 3) rows.push_back(r);
  }
  if (rows.empty()) fail(1, "courbe.dat holds no curve row");
  return rows;
}

// The order of the fit with uncertainties in x and y, as the results file
// reports it (the dropping of coefficients may have lowered the order of
// control.dat); the order of control.dat when the report is not there.
int finalOrder(const Settings& s) {
  std::ifstream f(s.resfile, std::ios::binary);
  std::string line;
  int order = s.order;
  while (std::getline(f, line)) {
    int n;
    if (line.find("order polynomial fit with uncertainties in x and y") != std::string::npos &&
        std::sscanf(line.c_str(), "%d", &n) == 1)
      order = n;
  }
  return order;
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

}  // namespace

int main() {
  const Settings s = readControl();
  const std::vector<Point> pts = readPoints(s.datfile);
  const std::vector<Row> rows = readCurve();
  const int order = finalOrder(s);

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

  // Plot area in pixels.
  const double W = 800, H = 560, left = 90, right = 30, top = 60, bottom = 70;
  const double pw = W - left - right, ph = H - top - bottom;
  const double sx = pw / (qhi - qlo), sy = -ph / (ehi - elo);
  const double tx = left - qlo * sx, ty = top - ehi * sy;
  auto X = [&](double q) { return tx + q * sx; };
  auto Y = [&](double e) { return ty + e * sy; };

  std::ostringstream svg;
  svg << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << W << "\" height=\"" << H << "\" viewBox=\"0 0 " << W
      << " " << H << "\" font-family=\"sans-serif\" font-size=\"13\">\n"
      << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
      << "<text class=\"title\" x=\"" << W / 2 << "\" y=\"30\" text-anchor=\"middle\" font-size=\"16\">"
      << xmlText("Calibration of " + s.datfile + ": polynomial of order " + std::to_string(order) +
                 ", uncertainties in x and y")
      << "</text>\n";
  // Grid and ticks.
  svg << "<g class=\"axes\" stroke=\"#888\" stroke-width=\"1\">\n";
  for (double q : ticks(qlo, qhi))
    svg << "<line x1=\"" << num(X(q)) << "\" y1=\"" << top << "\" x2=\"" << num(X(q)) << "\" y2=\"" << top + ph
        << "\" stroke=\"#eee\"/>\n<text class=\"xtick\" x=\"" << num(X(q)) << "\" y=\"" << top + ph + 18
        << "\" text-anchor=\"middle\" stroke=\"none\" fill=\"black\">" << num(q) << "</text>\n";
  for (double e : ticks(elo, ehi))
    svg << "<line x1=\"" << left << "\" y1=\"" << num(Y(e)) << "\" x2=\"" << left + pw << "\" y2=\"" << num(Y(e))
        << "\" stroke=\"#eee\"/>\n<text class=\"ytick\" x=\"" << left - 8 << "\" y=\"" << num(Y(e) + 4)
        << "\" text-anchor=\"end\" stroke=\"none\" fill=\"black\">" << num(e) << "</text>\n";
  svg << "<rect x=\"" << left << "\" y=\"" << top << "\" width=\"" << pw << "\" height=\"" << ph
      << "\" fill=\"none\"/>\n</g>\n"
      << "<text class=\"xlabel\" x=\"" << left + pw / 2 << "\" y=\"" << H - 20
      << "\" text-anchor=\"middle\">Quenching index</text>\n"
      << "<text class=\"ylabel\" transform=\"translate(24," << top + ph / 2
      << ") rotate(-90)\" text-anchor=\"middle\">Detection efficiency (%)</text>\n";
  // Bands and curve in data units.
  svg << "<g class=\"curve\" transform=\"matrix(" << num(sx) << " 0 0 " << num(sy) << " " << num(tx) << " " << num(ty)
      << ")\">\n"
      << "<path class=\"band2\" fill=\"#c6dbef\" stroke=\"none\" d=\"" << band(rows, 2.0) << "\"/>\n"
      << "<path class=\"band1\" fill=\"#6baed6\" stroke=\"none\" d=\"" << band(rows, 1.0) << "\"/>\n</g>\n"
      << "<path class=\"fit\" fill=\"none\" stroke=\"#08306b\" stroke-width=\"2\" d=\"";
  for (std::size_t i = 0; i < rows.size(); ++i) svg << (i == 0 ? "M" : " L") << num(X(rows[i].q)) << "," << num(Y(100.0 * rows[i].e));
  svg << "\"/>\n";
  // Points with their bars.
  svg << "<g class=\"points\" stroke=\"#a50f15\" stroke-width=\"1.2\">\n";
  for (const Point& p : pts) {
    const double x = X(p.q), y = Y(100.0 * p.e);
    svg << "<line x1=\"" << num(X(p.q - p.uq)) << "\" y1=\"" << num(y) << "\" x2=\"" << num(X(p.q + p.uq)) << "\" y2=\""
        << num(y) << "\"/><line x1=\"" << num(x) << "\" y1=\"" << num(Y(100.0 * (p.e - p.ue))) << "\" x2=\"" << num(x)
        << "\" y2=\"" << num(Y(100.0 * (p.e + p.ue))) << "\"/><circle class=\"marker\" data-q=\"" << num(p.q)
        << "\" data-e=\"" << num(p.e) << "\" cx=\"" << num(x) << "\" cy=\"" << num(y)
        << "\" r=\"3.5\" fill=\"#a50f15\"/>\n";
  }
  svg << "</g>\n";
  // Legend.
  const double lx = left + pw - 250, ly = top + 14;
  svg << "<g class=\"legend\" font-size=\"12\">\n"
      << "<rect x=\"" << lx - 10 << "\" y=\"" << ly - 12 << "\" width=\"250\" height=\"76\" fill=\"white\" stroke=\"#ccc\"/>\n"
      << "<circle cx=\"" << lx << "\" cy=\"" << ly << "\" r=\"3.5\" fill=\"#a50f15\"/><text x=\"" << lx + 14 << "\" y=\""
      << ly + 4 << "\">calibration points</text>\n"
      << "<line x1=\"" << lx - 6 << "\" y1=\"" << ly + 18 << "\" x2=\"" << lx + 6 << "\" y2=\"" << ly + 18
      << "\" stroke=\"#08306b\" stroke-width=\"2\"/><text x=\"" << lx + 14 << "\" y=\"" << ly + 22 << "\">fit</text>\n"
      << "<rect x=\"" << lx - 6 << "\" y=\"" << ly + 30 << "\" width=\"12\" height=\"8\" fill=\"#6baed6\"/><text x=\""
      << lx + 14 << "\" y=\"" << ly + 38 << "\">&#177;1 combined standard uncertainty</text>\n"
      << "<rect x=\"" << lx - 6 << "\" y=\"" << ly + 46 << "\" width=\"12\" height=\"8\" fill=\"#c6dbef\"/><text x=\""
      << lx + 14 << "\" y=\"" << ly + 54 << "\">&#177;2 combined standard uncertainties</text>\n"
      << "</g>\n</svg>\n";

  std::ofstream out("courbe.svg", std::ios::binary | std::ios::trunc);
  out << svg.str();
  out.close();
  if (!out) fail(2, std::string("cannot write 'courbe.svg': ") + std::strerror(errno));
  std::printf("courbe.svg written: %zu points, %zu curve rows, order %d\n", pts.size(), rows.size(), order);
  return 0;
}
