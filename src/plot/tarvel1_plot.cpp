// tarvel1-plot: draws the calibration that tarvel1 computed, as a figure for
// a calibration report.
//
// Run in the directory of a tarvel1 run (with opt(5) = 1, so that courbe.dat
// exists). It reads control.dat, the data file it names, courbe.dat and the
// results file, and writes courbe.svg (or the file of -o) with
// - a title: control.dat's heading (without its quotes when it is one quoted
//   text), or the data file's name when it is blank; --title replaces it;
// - a caption: the order of the fit with uncertainties in x and y, the number
//   of points and, when the results file reports the weighted fits (opt(1) =
//   1), the last one's reduced chi-square and its chi-square probability Q;
// - two panels sharing the quenching index axis: the calibration points with
//   their uncertainty bars in both coordinates, the curve of the fit with
//   uncertainties in x and y and bands of plus and minus one and two combined
//   standard uncertainties; under it, the residuals e-exp - e-calc of the
//   results file's residual table in percentage points, each with its point's
//   efficiency uncertainty, and the band of plus and minus the curve's
//   combined standard uncertainty around zero.
// The curve and its bands span the data's indices only, the range where the
// calibration answers. The legend stands right of the panels, clear of every
// point and curve.
//
// The picture is laid out in units of 1/980 of its width (of 1/460 of its
// height when it is flatter than that), so its text keeps its size on a page
// whatever the pixels asked. The bands are drawn in data units (quenching
// index, efficiency or residual in percent) inside transformed groups, so the
// drawing keeps the values of courbe.dat; markers carry their point's values
// as data-q and data-e (or data-r) attributes.
//
// A courbe.dat left by an earlier run is refused: its first row must lie at
// the data's smallest index, with the efficiency that the residual table
// gives there, to the printed digits.
//
// Exit status: 0 when the picture is written; 2 when the command line is
// wrong, or a file is missing, cannot be read or written, or does not belong
// to this run; 1 when a file holds something unreadable.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tarvel/records.h"
#include "tarvel/tarvel.h"

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

// ---------------------------------------------------------------- command line

constexpr const char* kUsageLine = "Usage: tarvel1-plot [--width N] [--height N] [--title TEXT] [-o FILE]";
constexpr const char* kUsage =
    "\n       tarvel1-plot --help | --version\n"
    "\n"
    "Draws the calibration of a tarvel1 run as an SVG picture for a report: the\n"
    "points with their uncertainty bars, the curve with bands of one and two\n"
    "combined standard uncertainties, and the residuals under it.\n"
    "\n"
    "Run it in the directory of a tarvel1 run with opt(5) = 1. It reads control.dat,\n"
    "the data file, courbe.dat and the results file, and writes courbe.svg.\n"
    "  --width N, --height N  the picture's size in pixels (default 980 x 700); its\n"
    "                         text grows with the width\n"
    "  --title TEXT           the title, instead of control.dat's heading\n"
    "  -o FILE                the picture's file, instead of courbe.svg\n"
    "  --                     ends the options\n"
    "\n"
    "Exit status: 0 when the picture is written; 2 when the command line is wrong,\n"
    "or a file is missing, cannot be read or written, or belongs to another run;\n"
    "1 when a file holds something unreadable.\n";

struct Options {
  long width = 980, height = 700;
  std::optional<std::string> title;
  std::string out = "courbe.svg";
};

[[noreturn]] void usageError(const std::string& what) {
  std::fprintf(stderr, "tarvel1-plot: %s\n%s\n", what.c_str(), kUsageLine);
  std::exit(2);
}

// Reads the whole command line before any file is touched. A value follows
// its option, or joins it after '=' (--width=1200).
Options takeOptions(int argc, char** argv) {
  Options o;
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!options || arg.empty() || arg[0] != '-') usageError("unexpected argument '" + tarvel::printable(arg) + "'");
    if (arg == "--") {
      options = false;
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      std::printf("%s%s", kUsageLine, kUsage);
      std::exit(0);
    }
    if (arg == "--version") {
      std::printf("tarvel1-plot %s\n", tarvel::version());
      std::exit(0);
    }
    std::string name = arg;
    std::optional<std::string> value;
    if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string::npos)
      name = arg.substr(0, eq), value = arg.substr(eq + 1);
    if (name != "--width" && name != "--height" && name != "--title" && name != "-o")
      usageError("unknown option '" + tarvel::printable(arg) + "'");
    if (!value && i + 1 >= argc) usageError("option '" + name + "' needs a value");
    if (!value) value = argv[++i];
    if (name == "--title") {
      o.title = tarvel::trimBlanks(*value);
    } else if (name == "-o") {
      o.out = tarvel::trimBlanks(*value);
      if (o.out.empty()) usageError("option '-o' needs a file name");
    } else {
      char* end = nullptr;
      errno = 0;
      const long n = std::strtol(value->c_str(), &end, 10);
      if (value->empty() || *value->c_str() < '0' || *value->c_str() > '9' || *end != '\0' || errno != 0 || n < 1 ||
          n > 100000)
        usageError("option '" + name + "' needs a number of pixels from 1 to 100000, not '" +
                   tarvel::printable(*value) + "'");
      (name == "--width" ? o.width : o.height) = n;
    }
  }
  return o;
}

// ---------------------------------------------------------------- the run's files

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
  std::string heading, datfile, resfile;
  int order = 0;
};

Settings readInputs(std::vector<Point>& pts) {
  Settings s;
  std::string file = "control.dat";
  try {
    tarvel::MemoryLines control(readFile(file, ""));
    const tarvel::Control c = tarvel::readControl(control, file);
    s = {c.heading, c.dataFile, c.resultsFile, c.order};
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

// What the results file reports besides the residual table.
struct Results {
  int order = 0;                  // of the fit with uncertainties in x and y
  std::optional<double> reduced;  // the last weighted fit's reduced chi-square (opt(1) = 1)
  int reducedOrder = 0;           // and that fit's order
};

// From the results file: the order of the fit with uncertainties in x and y
// (the dropping of coefficients may have lowered the order of control.dat),
// the last reduced chi-square of the weighted fits, and the residual table,
// one row per point.
Results readResults(const Settings& s, std::size_t npt, std::vector<Residual>& table) {
  std::istringstream in(readFile(s.resfile, " (run tarvel1 first)"));
  std::string line;
  Results r{s.order, std::nullopt, s.order};
  int weighted = s.order;
  while (std::getline(in, line)) {
    int n;
    if (line.find("order polynomial fit with uncertainties in x and y") != std::string::npos &&
        std::sscanf(line.c_str(), "%d", &n) == 1)
      r.order = n;
    if (line.find("order polynomial fit with uncertainties in y") != std::string::npos &&
        std::sscanf(line.c_str(), "%d", &n) == 1)
      weighted = n;
    if (const auto at = line.find("reduced chi2="); at != std::string::npos) {
      const char* value = line.c_str() + at + 13;
      char* end = nullptr;
      const double v = std::strtod(value, &end);
      if (end != value) r.reduced = v, r.reducedOrder = weighted;
    }
    if (line.rfind(" Q-index   e-exp   e-calc  sdev    MC", 0) != 0) continue;
    table.clear();
    while (table.size() < npt && std::getline(in, line) && line.size() >= 38)
      table.push_back({line.substr(1, 7), line.substr(10, 6), line.substr(18, 6)});
  }
  if (table.size() != npt)
    fail(2, s.resfile + " holds no residual table of the " + std::to_string(npt) + " points of " + s.datfile +
                " (run tarvel1 again)");
  return r;
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

// Refuses a picture's file that is one of the files the picture is drawn from.
void checkOutput(const std::string& out, const Settings& s) {
  struct stat o {};
  if (stat(out.c_str(), &o) != 0) return;
  for (const std::string& in : {std::string("control.dat"), s.datfile, std::string("courbe.dat"), s.resfile}) {
    struct stat i {};
    if (stat(in.c_str(), &i) == 0 && i.st_dev == o.st_dev && i.st_ino == o.st_ino)
      fail(2, "-o '" + out + "' would overwrite " + in + ", a file of this run");
  }
}

// ---------------------------------------------------------------- what is drawn

// The chi-square probability of a fit of `ncoef` coefficients to `npt`
// points with reduced chi-square `reduced`, as the program computes it; none
// when the incomplete gamma function cannot give it.
std::optional<double> probability(double reduced, std::size_t npt, int ncoef) {
  const double nu = static_cast<double>(npt) - ncoef;
  if (!(nu > 0.0) || !(reduced >= 0.0) || !std::isfinite(reduced)) return std::nullopt;
  return tarvel::chiSquareProbability(reduced * nu, nu);
}

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

// The caption: the fit, the points and the weighted fit's goodness.
std::string caption(const Results& r, std::size_t npt) {
  std::string c = "Polynomial of order " + std::to_string(r.order) + ", uncertainties in x and y \u00b7 " +
                  std::to_string(npt) + (npt == 1 ? " point" : " points");
  if (r.reduced && std::isfinite(*r.reduced)) {
    c += " \u00b7 weighted fit in y: reduced chi-square " + figure(*r.reduced);
    if (const auto q = probability(*r.reduced, npt, r.reducedOrder + 1)) c += ", Q = " + figure(*q);
  }
  return c;
}

// The rows of the curve over [lo, hi], the range of the data's indices,
// where the calibration answers: the rows inside, and where the range ends
// between two rows, a row there interpolated linearly between them.
std::vector<Row> clip(const std::vector<Row>& rows, double lo, double hi) {
  auto at = [](const Row& a, const Row& b, double q) {
    const double t = (q - a.q) / (b.q - a.q);
    return Row{q, a.e + t * (b.e - a.e), a.u + t * (b.u - a.u)};
  };
  std::vector<Row> kept;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (i > 0 && rows[i - 1].q < lo && rows[i].q > lo) kept.push_back(at(rows[i - 1], rows[i], lo));
    if (rows[i].q >= lo && rows[i].q <= hi) kept.push_back(rows[i]);
    if (i > 0 && rows[i - 1].q < hi && rows[i].q > hi) kept.push_back(at(rows[i - 1], rows[i], hi));
  }
  if (kept.empty()) fail(1, "courbe.dat holds no curve row within the indices of the data");
  return kept;
}

// ---------------------------------------------------------------- SVG

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

bool isUtf8(const std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i++]);
    const int more = c < 0x80 ? 0 : c >= 0xc2 && c <= 0xdf ? 1 : c >= 0xe0 && c <= 0xef ? 2 : c >= 0xf0 && c <= 0xf4 ? 3 : -1;
    if (more < 0 || s.size() - i < static_cast<std::size_t>(more)) return false;
    for (int k = 0; k < more; ++k)
      if ((static_cast<unsigned char>(s[i++]) & 0xc0) != 0x80) return false;
  }
  return true;
}

// Text for the picture, in UTF-8: a text that is not UTF-8 (a heading written
// in Latin-1, say) is read as Latin-1; control characters are left out.
std::string xmlText(const std::string& s) {
  const bool utf8 = isUtf8(s);
  std::string r;
  for (char c : s) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '&') r += "&amp;";
    else if (c == '<') r += "&lt;";
    else if (c == '>') r += "&gt;";
    else if (c == '"') r += "&quot;";
    else if (u >= 0x80 && !utf8) r += {static_cast<char>(0xc0 | u >> 6), static_cast<char>(0x80 | (u & 0x3f))};
    else if (u >= 0x20) r += c;
  }
  return r;
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
  svg << ">" << xmlText(text) << "</text>\n";
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

int main(int argc, char** argv) {
  const Options opt = takeOptions(argc, argv);
  std::vector<Point> pts;
  const Settings s = readInputs(pts);
  std::string first;
  const std::vector<Row> all = readCurve(first);
  std::vector<Residual> table;
  const Results results = readResults(s, pts.size(), table);
  checkCurve(s, pts, table, first);
  checkOutput(opt.out, s);

  // The curve over the data's indices (courbe.dat goes one row further).
  double qmin = pts.front().q, qmax = qmin;
  for (const Point& p : pts) qmin = std::min(qmin, p.q), qmax = std::max(qmax, p.q);
  const std::vector<Row> rows = clip(all, qmin, qmax);

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

  // Residuals in percentage points, from the printed table (rows with an
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
  const std::string title = opt.title ? *opt.title : (s.heading.empty() ? s.datfile : s.heading);
  if (!title.empty()) textLine(svg, "title", left, 30, 17, W - left - 10, title, "font-weight=\"bold\"");
  textLine(svg, "caption", left, 52, 13, W - left - 10, caption(results, pts.size()), "fill=\"#333\"");
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

  std::ofstream out(opt.out, std::ios::binary | std::ios::trunc);
  out << svg.str();
  out.close();
  if (!out) fail(2, "cannot write '" + opt.out + "': " + std::strerror(errno));
  std::printf("%s written: %zu points, %zu curve rows, order %d\n", opt.out.c_str(), pts.size(), rows.size(),
              results.order);
  return 0;
}
