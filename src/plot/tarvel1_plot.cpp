// tarvel1-plot: draws the calibration of a tarvel1 run as a figure for a
// calibration report.
//
// Run in the directory of a tarvel1 run (with opt(5) = 1, so that courbe.dat
// exists). It reads control.dat and the data file it names, calibrates them
// as the program does (the same figures, bit for bit), and writes the
// calibration's picture (tarvel::svg) to courbe.svg or the file of -o, with
// control.dat's heading as its title (without its quotes when it is one
// quoted text), or the data file's name when it is blank; --title replaces it.
//
// A courbe.dat left by an earlier run is refused: its first row must lie at
// the data's smallest index, with the efficiency that the calibration gives
// there, to the printed digits.
//
// Exit status: 0 when the picture is written; 2 when the command line is
// wrong, or a file is missing, cannot be read or written, or does not belong
// to this run; 1 when a file holds something unreadable or unusable.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>

#include "tarvel/tarvel.h"

namespace {

[[noreturn]] void fail(int status, const std::string& message) {
  std::fprintf(stderr, "tarvel1-plot: %s\n", message.c_str());
  std::exit(status);
}

// A text for a message: control characters as '?', at most 80 characters.
std::string printable(const std::string& text) {
  std::string s;
  for (const char c : text.substr(0, text.size() > 80 ? 77 : 80)) {
    const unsigned char u = static_cast<unsigned char>(c);
    s += (u < 0x20 || u == 0x7f) ? '?' : c;
  }
  return text.size() > 80 ? s + "..." : s;
}

std::string trimBlanks(const std::string& s) {
  const auto a = s.find_first_not_of(" \t"), b = s.find_last_not_of(" \t");
  return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
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
    "Run it in the directory of a tarvel1 run with opt(5) = 1. It reads control.dat\n"
    "and the data file, calibrates them as tarvel1 does, checks that courbe.dat\n"
    "belongs to that run, and writes courbe.svg.\n"
    "  --width N, --height N  the picture's size in pixels (default 980 x 700); its\n"
    "                         text grows with the width\n"
    "  --title TEXT           the title, instead of control.dat's heading\n"
    "  -o FILE                the picture's file, instead of courbe.svg\n"
    "  --                     ends the options\n"
    "\n"
    "Exit status: 0 when the picture is written; 2 when the command line is wrong,\n"
    "or a file is missing, cannot be read or written, or belongs to another run;\n"
    "1 when a file holds something unreadable or unusable.\n";

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
    if (!options || arg.empty() || arg[0] != '-') usageError("unexpected argument '" + printable(arg) + "'");
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
      usageError("unknown option '" + printable(arg) + "'");
    if (!value && i + 1 >= argc) usageError("option '" + name + "' needs a value");
    if (!value) value = argv[++i];
    if (name == "--title") {
      o.title = trimBlanks(*value);
    } else if (name == "-o") {
      o.out = trimBlanks(*value);
      if (o.out.empty()) usageError("option '-o' needs a file name");
    } else {
      char* end = nullptr;
      errno = 0;
      const long n = std::strtol(value->c_str(), &end, 10);
      if (value->empty() || *value->c_str() < '0' || *value->c_str() > '9' || *end != '\0' || errno != 0 || n < 1 ||
          n > 100000)
        usageError("option '" + name + "' needs a number of pixels from 1 to 100000, not '" +
                   printable(*value) + "'");
      (name == "--width" ? o.width : o.height) = n;
    }
  }
  return o;
}

// ---------------------------------------------------------------- the run

std::string readFile(const std::string& name, const char* hint) {
  std::ifstream f(name, std::ios::binary);
  if (!f) fail(2, "cannot open '" + name + "': " + std::strerror(errno) + hint);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

// control.dat and its data file, read and calibrated as the program does.
tarvel::Calibration calibrate(tarvel::Control& c) {
  c.dataFile.clear();
  try {
    return tarvel::calibrate(tarvel::read(".", &c));
  } catch (const std::system_error& e) {
    const std::string file = c.dataFile.empty() ? "control.dat" : c.dataFile;
    fail(2, "cannot open '" + file + "': " + std::strerror(e.code().value()));
  } catch (const tarvel::Error& e) {
    fail(1, "cannot read " + (c.dataFile.empty() ? std::string("control.dat") : c.dataFile) + ": " + e.message());
  } catch (const std::exception& e) {
    fail(1, "cannot calibrate " + (c.dataFile.empty() ? std::string("control.dat") : c.dataFile) + ": " + e.what());
  }
}

// Refuses a courbe.dat that another run left: its first row must lie at the
// smallest index of the data, with the efficiency of the calibration there,
// as the row prints them.
void checkCurve(const std::string& curve, const tarvel::Control& c, const tarvel::Calibration& cal) {
  std::istringstream in(curve);
  std::string first;
  std::getline(in, first);  // heading
  std::getline(in, first);
  std::size_t low = 0;
  for (std::size_t i = 1; i < cal.inputs.points.size(); ++i)
    if (cal.inputs.points[i].q < cal.inputs.points[low].q) low = i;
  const std::string q = tarvel::fixedField(cal.inputs.points[low].q, 8, 4),
                    e = tarvel::fixedField(cal.residuals.at(low).eCalc, 6, 4);
  const std::string at = first.size() > 1 ? first.substr(1, 8) : first;
  std::string why;
  if (first.size() < 17 || at != q)
    why = "its first row is at " + trimBlanks(at) + ", not at " + trimBlanks(q) + ", the smallest index of " + c.dataFile;
  else if (first.compare(11, 6, e) != 0)
    why = "its efficiency at " + trimBlanks(q) + " is " + trimBlanks(first.substr(11, 6)) + ", not " + trimBlanks(e) +
          ", the curve's there";
  if (!why.empty()) fail(2, "courbe.dat does not belong to this run: " + why + " (run tarvel1 with opt(5) = 1 again)");
}

// Refuses a picture's file that is one of the files of the run.
void checkOutput(const std::string& out, const tarvel::Control& c) {
  struct stat o {};
  if (stat(out.c_str(), &o) != 0) return;
  for (const std::string& in : {std::string("control.dat"), c.dataFile, std::string("courbe.dat"), c.resultsFile}) {
    struct stat i {};
    if (stat(in.c_str(), &i) == 0 && i.st_dev == o.st_dev && i.st_ino == o.st_ino)
      fail(2, "-o '" + out + "' would overwrite " + in + ", a file of this run");
  }
}

}  // namespace

int main(int argc, char** argv) {
  const Options opt = takeOptions(argc, argv);
  tarvel::Control control;
  const tarvel::Calibration cal = calibrate(control);
  checkCurve(readFile("courbe.dat", " (run tarvel1 with opt(5) = 1 first)"), control, cal);
  checkOutput(opt.out, control);

  tarvel::SvgOptions picture;
  picture.width = static_cast<int>(opt.width), picture.height = static_cast<int>(opt.height);
  picture.title = opt.title ? *opt.title : (control.heading.empty() ? control.dataFile : control.heading);
  const std::string svg = tarvel::svg(cal, picture);
  std::ofstream out(opt.out, std::ios::binary | std::ios::trunc);
  out << svg;
  out.close();
  if (!out) fail(2, "cannot write '" + opt.out + "': " + std::strerror(errno));
  std::printf("%s written: %zu points, order %d\n", opt.out.c_str(), cal.inputs.points.size(), cal.monteCarloFit.order);
  return 0;
}
