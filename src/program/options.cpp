// The command line's own options.
#include "options.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tarvel/records.h"
#include "tarvel/tarvel.h"

namespace tarvel {

namespace {

constexpr const char* kUsageLine = "Usage: tarvel1 [--json FILE] [--report FILE] [--] [NAME...]";
constexpr const char* kUsage =
    "\n       tarvel1 --orders [--] [NAME...]\n"
    "\n       tarvel1 --help | --version\n"
    "\n"
    "Fits a calibration curve of detection efficiency against a quenching index:\n"
    "a weighted polynomial fit, then 10000 Monte Carlo refits that perturb both\n"
    "coordinates, with the standard uncertainty of every figure.\n"
    "\n"
    "Run it in the directory that holds control.dat. It reads\n"
    "  control.dat       the data file's name, the polynomial order (0 to 8), six\n"
    "                    switches opt(1) to opt(6) and the results file's name\n"
    "  the data file     the point count and the common relative uncertainty, then\n"
    "                    per point: index, its uncertainty, efficiency (a fraction,\n"
    "                    not percent), its uncertainty\n"
    "  standard input    quenching indices to answer, when opt(6) is 1 (0 stops)\n"
    "and writes\n"
    "  standard output   the points, each fit with Q and its verdict, the\n"
    "                    coefficients and the combined covariance, the answers\n"
    "  the results file  the fits, coefficients and covariance without the\n"
    "                    points and Q, the residual table, an answer a query\n"
    "  courbe.dat        the tabulated curve, when opt(5) is 1\n"
    "  FILE              with --json: every figure of the run at full precision\n"
    "                    (JSON), written only when the run ends normally\n"
    "  FILE              with --report: the calibration report, one HTML page that\n"
    "                    prints on A4, written only when the run ends normally\n"
    "A blank file name in control.dat ('') is taken from the NAMEs, in order;\n"
    "after --, a NAME may start with '-'.\n"
    "Warnings about doubtful inputs, and a note that places a fault after an\n"
    "error's report, go to standard error.\n"
    "\n"
    "Exit status: 0 normal end; 1 run-time error (report on standard error);\n"
    "2 a file cannot be opened or would overwrite another file of the run, or an\n"
    "unknown option (before anything is read or written).\n"
    "\n"
    "With --orders it fits every order from 0 to 8 (as the points allow) to the\n"
    "data file's points and writes only a table of them side by side and the\n"
    "order it recommends, with the rule, to standard output: no results file,\n"
    "no courbe.dat, no record.\n"
    "\n"
    "tarvel1-plot, run afterwards in the same directory, draws courbe.svg.\n";

[[noreturn]] void usageError(const std::string& what) {
  std::fprintf(stderr, "tarvel1: %s\n%s\n", what.c_str(), kUsageLine);
  std::exit(2);
}

}  // namespace

int takeOptions(int argc, char** argv, std::string& record, std::string& report, bool* orders) {
  int kept = 1;
  bool json = false, html = false, options = true;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (!options || arg.empty() || arg[0] != '-') {
      argv[kept++] = argv[i];
    } else if (arg == "--") {
      options = false;
    } else if (arg == "-h" || arg == "--help") {
      std::printf("%s%s\nThe whole description: %s\n", kUsageLine, kUsage, TARVEL1_README);
      std::exit(0);
    } else if (arg == "--version") {
      std::printf("tarvel1 %s\n", version());
      std::exit(0);
    } else if (arg == "--json") {
      if (json) usageError("--json is given twice");
      if (i + 1 >= argc || trimBlanks(argv[i + 1]).empty()) usageError("--json needs a file name");
      json = true;
      record = trimBlanks(argv[++i]);
    } else if (arg == "--report") {
      if (html) usageError("--report is given twice");
      if (i + 1 >= argc || trimBlanks(argv[i + 1]).empty()) usageError("--report needs a file name");
      html = true;
      report = trimBlanks(argv[++i]);
    } else if (arg == "--orders" && orders != nullptr) {
      *orders = true;
    } else {
      usageError("unknown option '" + printable(std::string(arg)) + "'");
    }
  }
  if (orders != nullptr && *orders && json) usageError("--orders writes no record: --json cannot go with it");
  if (orders != nullptr && *orders && html) usageError("--orders writes no report: --report cannot go with it");
  return kept;
}

}  // namespace tarvel
