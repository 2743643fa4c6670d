// The command line's own options.
#include "program/options.h"

#include "records/listin.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "records/listin.h"
#include "run/version.h"

namespace tarvel {

namespace {

constexpr const char* kUsage =
    "Usage: tarvel1 [--json FILE] [NAME...]\n"
    "       tarvel1 --help | --version\n"
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
    "  standard output   the points, the fits, their coefficients and covariance\n"
    "  the results file  the same reports, the residual table, the answers\n"
    "  courbe.dat        the tabulated curve, when opt(5) is 1\n"
    "  FILE              with --json: every figure of the run at full precision\n"
    "                    (JSON), written only when the run ends normally\n"
    "A blank file name in control.dat ('') is taken from the NAMEs, in order.\n"
    "Warnings about the points go to standard error.\n"
    "\n"
    "Exit status: 0 normal end; 1 run-time error (report on standard error);\n"
    "2 a file cannot be opened or would overwrite another file of the run.\n"
    "\n"
    "tarvel1-plot, run afterwards in the same directory, draws courbe.svg.\n";

[[noreturn]] void usageError(const char* what) {
  std::fprintf(stderr, "tarvel1: %s\nTry 'tarvel1 --help'.\n", what);
  std::exit(2);
}

}  // namespace

int takeOptions(int argc, char** argv, std::string& record) {
  if (argc > 1) {
    const std::string_view first = argv[1];
    if (first == "-h" || first == "--help") {
      std::printf("%s\nThe whole description: %s\n", kUsage, kReadme);
      std::exit(0);
    }
    if (first == "--version") {
      std::printf("tarvel1 %s\n", kVersion);
      std::exit(0);
    }
  }
  int kept = 1;
  bool json = false;
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) != "--json") {
      argv[kept++] = argv[i];
      continue;
    }
    if (json) usageError("--json is given twice");
    if (i + 1 >= argc || trimBlanks(argv[i + 1]).empty()) usageError("--json needs a file name");
    json = true;
    record = trimBlanks(argv[++i]);
  }
  return kept;
}

}  // namespace tarvel
