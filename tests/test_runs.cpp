// Whole runs of the programs in scratch directories: the bytes of the files a
// run writes, the weighted coefficients against the long-double reference,
// every way a run ends, the kept fuzzing corpus and the picture.
#include <sys/stat.h>

#include <cstdio>
#include <iomanip>
#include <nlohmann/json.hpp>
#include <regex>

#include "fuzz_property.h"
#include "run/version.h"
#include "support.h"

namespace {

using ts::LD;
using ts::chiSquareQ;
using ts::control;
using namespace std::string_literals;

// Fw.d of a reference value, digit by digit: no zero before the point and no
// sign when it rounds to zero. The program's double must round alike, so the
// value must keep clear of a rounding tie.
std::string fixed(LD v, int w, int d) {
  const LD x = std::fabs(v) * std::pow(10.0L, d);
  EXPECT_GT(std::fabs(x - std::floor(x) - 0.5L), 0.005L) << "reference near a rounding tie: " << double(v);
  std::string s = std::to_string(std::llround(x));
  s.insert(0, std::max(0, d + 1 - static_cast<int>(s.size())), '0');
  s.insert(s.size() - d, ".");
  if (s[0] == '0') s.erase(0, 1);
  if (v < 0 && s.find_first_not_of("0.") != std::string::npos) s = "-" + s;
  return std::string(std::max(0, w - static_cast<int>(s.size())), ' ') + s;
}


std::string open(const std::string& what) { return "tarvel1: cannot open " + what + "\n"; }
std::string note(const std::string& what) { return "tarvel1: note: " + what + "\n"; }

const std::string kExample = ts::slurp(EXAMPLES_DIR "/points.dat"), kReport = "4 0.005\r\n1.5 0.04 0.9020 0.0021\r\n"
    "3 0.06 0.8462 0.0026\r\n6.2 0.09 0.7374 0.0032\r\n7.75 0.14 0.6790 0.0041";
#define STOP "Stop - Program terminated.\r\n"
#define USAGE "Usage: tarvel1 [--json FILE] [--report FILE] [--] [NAME...]\n"

// A run-time error report raised at `where`, in `called` from the main program.
std::string report(const std::string& e, const std::string& where = "run.cpp", const std::string& called = "") {
  return "\r\n" + where + "(#) : run-time error " + e + "\r\n\r\nExecution traceback:\r\n\t\tfrom " + called +
         "main program in run.cpp(#)\r\n";
}

}  // namespace

// Each run against its expected files (tests/expected/NAME.txt: each file
// under a line "== name", LF standing for CR LF; a long file, "== name count",
// as its record count, first record and last record), the weighted
// coefficients against the reference fit, and a Debug build of the program
// (TARVEL1_DEBUG_EXE) against the bytes of the Release build.
TEST(WholeRuns, FilesAndReferenceFit) {
  const struct { std::string name; int order, fitted; const char* opt; std::string data, input = ""; } rows[] = {
      // CR LF and a last line without its end; the quadratic coefficient
      // dropped; an index refused, the top of the range answered; the curve
      // reaches the top exactly (steps of 1/16) and goes one step beyond.
      {"report", 2, 1, "101111", kReport, "0.5\n7.75\n0\n"},
      // A constant below 0.001 is never dropped; one index (below 0): one curve row.
      {"constant", 0, 0, "101110", "4 .01\n-50 .5 4e-4 1e-4\n-50 .5 9e-4 1e-4\n-50 .5 2e-4 1e-4\n-50 .5 6e-4 1e-4"},
      // Chi-square, below 1, nearer to 1 after each of two drops; the slope is not negligible.
      {"", 3, 1, "001000", "8 .005\n1 .05 .9484 .01\n2 .05 .9453 .01\n3 .05 .9442 .01\n4 .05 .9425 .01\n5 .05 .9394 .01\n"
       "6 .05 .9381 .01\n7 .05 .9357 .01\n8 .05 .9346 .01"},
      {"", 8, 8, "000000", "12 .005\n-1.15 0.01 1.304324 0.002\n-0.9 0.01 1.120773 0.0027\n-0.62 0.01 0.999441 0.0034\n"
       "-0.41 0.01 0.933815 0.0041\n-0.13 0.01 0.855589 0.0048\n0.08 0.01 0.806441 0.0055\n0.37 0.01 0.760728 0.0062\n"
       "0.55 0.01 0.737348 0.0069\n0.81 0.01 0.68209 0.0076\n1.06 0.01 0.65646 0.0083\n1.32 0.01 0.620457 0.009\n"
       "1.48 0.01 0.625864 0.0097\n"},
      {"", 2, 2, "100100", "13 .005\n" + kExample.substr(kExample.find('\n') + 1)},
      {"", 3, 3, "100100", "13 .005\n" + kExample.substr(kExample.find('\n') + 1)}};  // 10 and 9 degrees of freedom
  for (const auto& c : rows) {
    SCOPED_TRACE("order " + std::to_string(c.order) + " " + c.name);
    std::istringstream in(c.data);
    std::vector<double> n, q, e, ue;  // the count, the relative uncertainty, then four numbers a point
    for (double t; in >> t;) n.push_back(t);
    for (std::size_t i = 2; i + 3 < n.size(); i += 4) q.push_back(n[i]), e.push_back(n[i + 2]), ue.push_back(n[i + 3]);
    const int m = c.fitted + 1;
    const ts::Reference ref = ts::referenceFit(q, e, ue, std::vector<double>(m), std::vector<int>(m, 1));
    std::string coef = "\r\n";
    for (int j = 0; j < m; ++j)
      coef += "a(" + std::to_string(j + 1) + ")" + fixed(ref.a[j], 12, 8) + fixed(std::sqrt(ref.cov[j][j]), 13, 8) + "\r\n";
    std::string release;
    for (const char* exe : {TARVEL1_EXE, c.name.empty() ? "" : std::getenv("TARVEL1_DEBUG_EXE")}) {
      if (exe == nullptr || *exe == '\0') continue;
      ts::Scratch d;
      d.write("control.dat", control(c.order, c.opt));
      d.write("points.dat", c.data);
      for (const char* older : {"results.dat", "courbe.dat"}) d.write(older, std::string(30000, 'x') + "\r\n");
      const ts::Run r = ts::run(exe, d, c.input, "--json rec.json");
      EXPECT_EQ(std::pair(r.status, r.err.empty()), std::pair(0, std::all_of(e.begin(), e.end(), [](double v) {
                  return v > 0 && v <= 1;  // warnings name the efficiencies that are not fractions
                }))) << exe << r.err;
      EXPECT_NE(r.out.find(coef), std::string::npos) << ts::visible(coef) << "in\n" << ts::visible(r.out);
      // Each probability and verdict against the closed form at the printed reduced chi-square.
      const std::regex qline(" *(\\d+) order polynomial fit with uncertainties in y\r\nreduced chi2= *(\\S+)\r\n\r\nQ= *(\\S+)\r\n([^\r]*)");
      for (std::sregex_iterator it(r.out.begin(), r.out.end(), qline), end; it != end; ++it) {
        const int nu = static_cast<int>(q.size()) - std::stoi((*it)[1]) - 1;
        const double want = chiSquareQ(nu, std::stod((*it)[2]) * nu / 2);
        EXPECT_NEAR(std::stod((*it)[3]), want, 2e-6 * want) << nu;
        EXPECT_EQ((*it)[4], want > 0.01 ? " Goodness of fit believable" : want > 0.001 ? " Not so good fit!" : " Bad fit!");
      }
      // The record: the weighted coefficients at full precision, and every printed coefficient, deviation and
      // covariance figure of the results file as the record's values rounded.
      const nlohmann::json rec = nlohmann::json::parse(d.read("rec.json")), &wf = rec["final_weighted_fit"],
                           &mc = rec["monte_carlo_fit"];
      // The heading without its quotes, and the switches by name.
      EXPECT_EQ(rec["settings"]["heading"], "test calibration");
      const char* names[] = {"print_fits", "", "drop_negligible", "probability", "curve", "queries"};
      for (int k = 0; k < 6; ++k)
        EXPECT_TRUE(!*names[k] || rec["settings"]["switches"][names[k]] == (c.opt[k] == '1')) << names[k];
      // A probability in the record for each one printed.
      EXPECT_EQ(std::count_if(rec["weighted_fits"].begin(), rec["weighted_fits"].end(),
                              [](const nlohmann::json& f) { return f.contains("Q"); }),
                std::distance(std::sregex_iterator(r.out.begin(), r.out.end(), qline), std::sregex_iterator()));
      std::string printed;
      for (int j = 0; j < m; ++j) {
        EXPECT_NEAR(wf["coefficients"][j].get<double>(), double(ref.a[j]), 1e-8 * std::fabs(double(ref.a[j])));
        for (const auto* f : {&wf, &mc})
          printed += " a(" + std::to_string(j + 1) + ")" + tarvel::editF((*f)["coefficients"][j], 12, 8) + " " +
                     tarvel::editF((*f)["standard_deviations"][j], 12, 8) + "\r\n";
        for (int k = 0; k < m; ++k)
          printed += (k % 8 ? " " : k ? "\r\n" : " ") + tarvel::editF(mc["combined_covariance"][j][k], 13, 7) +
                     (k == m - 1 ? "\r\n" : "");
      }
      const std::string res = "\n" + d.read("results.dat");
      for (std::size_t b = 0, e; (e = printed.find("\r\n", b)) != std::string::npos; b = e + 2)
        EXPECT_NE(res.find("\n" + printed.substr(b, e + 2 - b)), std::string::npos) << ts::visible(printed.substr(b, e - b));
      std::string want, got;
      std::istringstream f(c.name.empty() ? "" : ts::slurp(TESTS_DIR "/expected/" + c.name + ".txt"));
      for (std::string line; std::getline(f, line); want += line + "\r\n") {
        if (line.rfind("== ", 0) != 0) continue;
        const std::string file = line.substr(3, line.find(' ', 3) - 3), bytes = file == "stdout" ? r.out : d.read(file);
        const auto count = std::count(bytes.begin(), bytes.end(), '\n');
        got += "== " + file + (file == line.substr(3) ? "\r\n" + bytes : " " + std::to_string(count) + "\r\n" +
               bytes.substr(0, bytes.find('\n') + 1) + bytes.substr(bytes.rfind('\n', bytes.size() - 2) + 1));
      }
      EXPECT_EQ(ts::visible(got), ts::visible(want)) << exe;
      if (release.empty()) release = got;
      EXPECT_EQ(got, release) << "a Debug build writes other bytes than the Release build";
    }
  }
}

// Every way a run ends: exit status, standard output and standard error (*
// standing for any bytes, # for a number), and the files left besides the
// inputs, which stay as they were.
TEST(WholeRuns, Endings) {
  struct Row { const char* what; std::string control, data; int status; std::string out, err,
               files = "results.dat\n", input = "", args = "", pre = ""; };
  const std::string none = "File name missing or blank - please enter file name\r\nUNIT 3? ", x = kExample, blank = "''";
  const std::string absent = "': No such file or directory", same = "': it is the same file as ";
  const std::string kept = ", which must not be overwritten", div0 = "M6103: MATH\r\n- floating-point error: divide by zero";
  const std::string inAjust = report(div0, "ajust.cpp", "AJUST in ajust.cpp(#)\r\n\t\tfrom ");
  const std::string nul = "': the name holds a NUL character", three = "3 0.005\r\n10 .5 .9 .01\r\n20 .5 .8 .01\r\n30 .5 .71 .01\r";
  ts::Scratch lib;  // an fstat that always fails, to preload
  ts::run("g++", lib, "#include <errno.h>\nint fstat() { errno = EIO; return -1; }", "-shared -fPIC -x c -o fstat.so -");
  // Doubtful points: the warnings that name them, ten at most, come before the report of the zero uncertainty.
  std::string doubtful = "10 .005\n10 -.5 .9 0\n20 .5 0 -.01\n", warned = "tarvel1: warning: point 1: efficiency "
      "uncertainty is 0 (the fit will divide by zero)\ntarvel1: warning: point 1: index uncertainty -0.5 is negative\n"
      "tarvel1: warning: point 2: efficiency 0 is not above 0\ntarvel1: warning: point 2: efficiency uncertainty -0.01 is negative\n";
  for (int i = 3; i <= 10; ++i) doubtful += std::to_string(10 * i) + " .5 94.6 .3\n";
  for (int i = 3; i <= 8; ++i)
    warned += "tarvel1: warning: point " + std::to_string(i) + ": efficiency 94.6 is above 1 (efficiencies are fractions, not percent)\n";
  const std::string record = "echo '{\"program\": \"tarvel1\"}' >rec.json; ";  // an earlier run's record
  // An earlier run's record holding a number too large for a double.
  const std::string huge = "echo '{\"program\": \"tarvel1\", \"chi2\": 1e999}' >rec.json; ";
  const std::string count = note("points.dat line 1: the point count, a whole number, and the common relative uncertainty");
  std::string nearlySingular;  // indices 300 to 900 for an order 7 fit
  for (int i = 0; i < 13; ++i)
    nearlySingular += std::to_string(300 + 50 * i) + " .5 " + std::to_string(0.95 - 0.5 * std::pow(i / 12.0, 1.5)) + " .0025\n";
  const Row rows[] = {
      {"no control file", "", x, 2, STOP, open("control file 'control.dat" + absent), ""},
      {"no data file", control(2, "000000", "absent.dat"), x, 2, STOP, open("data file 'absent.dat" + absent), ""},
      // Control characters and more than 80 characters shown in one line.
      {"an odd name", control(2, "000000", "'a\tb\x7f" + std::string(96, 'c') + "'"), x, 2, STOP,
       open("data file 'a?b?" + std::string(73, 'c') + "..." + absent), ""},
      {"a directory for data", control(2, "000000", "."), x, 2, STOP, open("data file '.': Is a directory"), ""},
      {"a directory for results", control(2), x, 2, STOP, open("results file 'results.dat': Is a directory"),
       "results.dat\n", "", "", "mkdir results.dat; "},
      {"results linked to the data", control(2, "000000", "points.dat", "res.dat"), x, 2, STOP,
       open("results file 'res.dat" + same + "points.dat" + kept), "res.dat\n", "", "", "ln -s points.dat res.dat; "},
      {"results in courbe.dat", control(2, "000011", "points.dat", "courbe.dat"), x, 2, "Q index*\r\n\r\n" STOP "\r\n",
       open("curve file 'courbe.dat" + same + "courbe.dat" + kept), "courbe.dat\n", "50\n0\n"},
      // Read errors, each with a note that places it.
      {"letters for a real", control(2), "13 0.005\n12.3 0.42 abc 0.0021\n", 1, "",
       report("F6503: READ(points.dat)\r\n- invalid real: abc") +
       note("points.dat line 2: point 1: four numbers (index, its uncertainty, efficiency, its uncertainty)")},
      {"control.dat ending early", "'head'\npoints.dat datafile\n2 order\n1\n", x, 1, "",
       report("F6501: READ(control.dat)\r\n- end of file encountered") +
       note("control.dat ends after line 4, before switch opt(1), a whole number (1 is on), and a label word"), ""},
      {"a setting without its label", "'head'\n\npoints.dat datafile\n2\n1 a\n0 b\n0 c\n1 d\n1 e\n0 f\nresults.dat g\n", x, 1,
       "", report("F6502: READ(control.dat)\r\n- invalid integer: results.dat") +
       note("control.dat line 11: switch opt(6), a whole number (1 is on), and a label word (line 4 holds a value "
            "without its label word, so the settings after it were read a line too low)"), ""},
      {"order 9", control(9), x, 1, "", report("F6507: READ(control.dat)\r\n- polynomial order 9 is outside 0 to 8") +
       note("control.dat line 3: the polynomial order, a whole number from 0 to 8"), ""},
      {"no points", control(2), "0 0.005\n", 1, "", report("F6507: READ(points.dat)\r\n- point count 0 is below 1") + count},
      {"fewer points than coefficients", control(3), "3 0.005\n10 1 .9 .01\n20 1 .8 .01\n30 1 .7 .01\n", 1, "",
       report("F6507: READ(points.dat)\r\n- point count 3 is below the 4 coefficients of an order 3 fit") + count},
      {"fewer distinct indices than coefficients", control(1), "3 0.005\n10 1 .9 .01\n10 1 .8 .01\n10 1 .7 .01\n", 1, "",
       report("F6507: READ(points.dat)\r\n- 1 distinct index is fewer than the 2 coefficients of an order 1 fit") +
       note("points.dat: the points' quenching indices: an order 1 fit needs 2 distinct ones")},
      {"fewer points than declared", control(2), "15" + x.substr(2), 1, "",
       report("F6501: READ(points.dat)\r\n- end of file encountered") + note("points.dat: 15 points declared, 13 found")},
      {"a zero uncertainty", control(1, "001111"), "2 0.005\n1 1 1 1\n3 1 1 0\n", 1,
       "Q index   Effic     sdev\r\n   1.00  100.00  100.00\r\n   3.00  100.00     .00\r\n", "tarvel1: warning: point 2: efficiency "
       "uncertainty is 0 (the fit will divide by zero)\ntarvel1: warning: point 1: efficiency uncertainty 1 is not below the "
       "efficiency 1 (uncertainties in percent?)\n" + inAjust},
      {"as many points as coefficients", control(2, "101111"), three, 1, "", report("F6507: READ(points.dat)\r\n"
       "- as many points as coefficients leave no degree of freedom for reduced chi2") + count},
      // Rounding makes the curve's variance negative at a high order.
      {"a negative variance", control(7), "13 .005\n" + nearlySingular, 1, "*", report("M6201: MATH\r\n- sqrt: DOMAIN error",
       "calib.cpp", "SDEFFIC in calib.cpp(#)\r\n\t\tfrom ") + note("rounding made the curve's variance negative: the "
       "covariance of a fit of this order is too nearly singular; a lower order helps")},
      // Without the report they are a valid run; a CR just before the end of input ends the last line.
      {"as many points as coefficients, no report", control(2), three, 0, "*  30.00   71.00    1.00\r\na(1)*", ""},
      {"a NUL in the data file name", control(2, "000000", "'points.dat\0x'"s), x, 2, STOP, open("data file 'points.dat?x" + nul), ""},
      {"a NUL in the results name", control(2, "000000", "points.dat", "'results.dat\0x'"s), x, 2, STOP,
       open("results file 'results.dat?x" + nul), ""},
      {"a NUL typed at the prompt", control(2, "000000", blank), x, 2, none.substr(0, 58) + "2? " STOP,
       open("data file 'points.dat?x" + nul), "", "points.dat\0x\n"s},
      {"a failed fstat", control(2), x, 2, STOP, open("control file 'control.dat': Input/output error"), "", "", "",
       "LD_PRELOAD=" + lib.file("fstat.so") + " ASAN_OPTIONS=verify_asan_link_order=0 "},
      // The operator's line at the pause is read, and not run as a command.
      {"a singular matrix", control(1), "2 0.005\n1e-200 .5 .9 .01\n2e-200 .5 .8 .01\n", 1,
       "Q index*    1.00\r\nsingular matrix in gaussj\r\n\r\n", inAjust, "results.dat\n", "touch ran\n"},
      {"names from the command line", control(0, "000000", blank, blank), x, 0, "Q index*\r\n" STOP "\r\n", "",
       "out1.dat\n", "", "points.dat out1.dat"},
      {"a name from the console after an empty answer", control(0, "000000", blank, blank), x, 0,
       none + none + "Q index*", "", "out2.dat\n", "\n  out2.dat  \n", "points.dat"},
      {"no name from the console", control(0, "000000", blank, blank), x, 1, none,
       report("F6501: OPEN(CON)\r\n- end of file encountered"), "", "", "points.dat"},
      // The bottom of the range answered; a line ending in Ctrl-Z ends the console input.
      {"the end of the console input", control(2, "000001"), x, 1, "*\r\nQuenching index:    12.30  Detection*"
       "\r\nQuenching index? (0 to stop)\r\n", report("F6501: READ(CON)\r\n- end of file encountered"),
       "results.dat\n", "12.3\r\nlater\x1a\r\n7\n"},
      // The program's options; a record named is removed at start-up, and written at a normal end only.
      {"--help", control(2), x, 0, USAGE "*", "", "", "", "--help out.dat"},
      {"--version", control(2), x, 0, std::string("tarvel1 ") + tarvel::kVersion + "\n", "", "", "", "--version"},
      {"--json without a name", control(2), x, 2, "", "tarvel1: --json needs a file name\n" USAGE, "", "", "--json"},
      {"--json twice", control(2), x, 2, "", "tarvel1: --json is given twice\n" USAGE, "", "", "--json a --json b"},
      {"--json with a blank name", control(2), x, 2, "", "tarvel1: --json needs a file name\n" USAGE, "", "", "--json ' '"},
      {"an unknown option", control(2), x, 2, "", "tarvel1: unknown option '--jsn'\n" USAGE, "", "", "--jsn rec.json"},
      {"a name after --", control(0, "000000", "points.dat", blank), x, 0, "Q index*\r\n" STOP "\r\n", "", "-out.dat\n", "",
       "-- -out.dat"},
      // Every order side by side: the table alone, whatever the control's order and switches; no file written.
      {"--orders", control(8, "101111"), x, 0, "Polynomial orders fitted to the 13 points of points.dat\r\n\r\norder *\r\n"
       "    0 *\r\n    8 *\r\n\r\nRecommended order: 2\r\nRule: the least order that no higher order betters;*", "", "", "",
       "--orders"},
      {"--orders of four points at one index", control(2, "101111"), "4 .005\n0 .5 .9 .01\n0 .5 .8 .01\n0 .5 .85 .01\n"
       "0 .5 .87 .01\n", 0, "*\r\n    0 *\r\n    1  not fitted: 1 distinct index is fewer than the 2 coefficients of an "
       "order 1 fit\r\n    2  not fitted: *\r\n\r\nRecommended order: 0\r\n*", "", "", "", "--orders"},
      {"--orders with --json", control(2), x, 2, "", "tarvel1: --orders writes no record: --json cannot go with it\n" USAGE,
       "", "", "--orders --json rec.json"},
      {"--orders with --report", control(2), x, 2, "", "tarvel1: --orders writes no report: --report cannot go with it\n"
       USAGE, "", "", "--report r.html --orders"},
      {"doubtful points", control(1, "100110"), doubtful, 1, "*", warned + "tarvel1: warning: 2 more warnings not shown\n" +
       inAjust, "results.dat\n", "", "--json rec.json", record},
      {"a record of a run without control.dat", "", x, 2, STOP, open("control file 'control.dat" + absent), "", "",
       "--json rec.json", record},
      {"an old record with a huge number", control(0), x, 0, "Q index*" STOP "\r\n", "", "rec.json\nresults.dat\n", "",
       "--json rec.json", huge},
      {"a record over the data", control(2), x, 2, STOP, "tarvel1: cannot open record file 'points.dat" + same +
       "points.dat" + kept + "\n", "results.dat\n", "", "--json points.dat"},
      // The report's option and file, refused like the record's; an earlier run's report is removed.
      {"--report without a name", control(2), x, 2, "", "tarvel1: --report needs a file name\n" USAGE, "", "", "--report"},
      {"--report twice", control(2), x, 2, "", "tarvel1: --report is given twice\n" USAGE, "", "", "--report a --report b"},
      {"a report over the results", control(2), x, 2, STOP, "tarvel1: cannot open report file 'results.dat" + same +
       "results.dat" + kept + "\n", "results.dat\n", "", "--report results.dat"},
      {"a report over the record", control(2), x, 2, STOP, "tarvel1: cannot open record file 'out.x" + same + "out.x" + kept +
       "\n", "results.dat\n", "", "--report out.x --json out.x"},
      {"a report of a run that ends in an error", control(1, "100110"), doubtful, 1, "*", "*" + inAjust, "results.dat\n",
       "", "--report r.html", "echo '<meta name=\"generator\" content=\"tarvel1 0.9\">' >r.html; "},
#if !defined(__SANITIZE_ADDRESS__)  // whose allocator answers for itself
      // Seven arrays of the point count, 400 MB each, in 1 GB of address space.
      {"memory", control(2), "50000000 0.005\n1 1 1 1\n", 1, "",
       report("F6701: ALLOCATE\r\n- insufficient virtual memory"), "results.dat\n", "", "", "ulimit -v 1000000; "},
#endif
  };
  for (const Row& c : rows) {
    SCOPED_TRACE(c.what);
    ts::Scratch d;
    if (!c.control.empty()) d.write("control.dat", c.control);
    d.write("points.dat", c.data);
    // A system call is interposed in a dynamically linked build.
    const bool preload = c.pre.find("LD_PRELOAD") != std::string::npos;
    const ts::Run r = ts::run(preload ? TARVEL1_DYNAMIC_EXE : TARVEL1_EXE, d, c.input, c.args, c.pre);
    EXPECT_EQ(r.status, c.status);
    EXPECT_TRUE(ts::like(r.out.c_str(), c.out.c_str())) << ts::visible(r.out);
    EXPECT_TRUE(ts::like(r.err.c_str(), c.err.c_str())) << ts::visible(r.err);
    EXPECT_EQ(d.others(), c.files);
    struct stat st;  // a results file made by the run: read and write for everyone the umask allows
    if (const mode_t mask = umask(022); umask(mask), stat(d.file("results.dat").c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
    }
    EXPECT_EQ(d.read("points.dat"), c.data);
  }
}

// One thread, two and seven give the same bytes: standard output and error, the files and the status, also
// when a Monte Carlo trial after the first block ends the run (x uncertainties so large that some trial's
// powers overflow where those of the weighted fit do not).
TEST(WholeRuns, ThreadCounts) {
  std::ostringstream huge;
  huge << std::setprecision(17) << "13 .005\n";
  std::istringstream in(kExample.substr(kExample.find('\n') + 1));
  for (double q, uq, e, ue; in >> q >> uq >> e >> ue;) huge << q << " " << uq * 1.7e18 << " " << e << " " << ue << "\n";
  // The last ends in a trial's fit, the report that of a one-thread run.
  const char* overflow = "\r\najust.cpp(#) : run-time error M6104: MATH\r\n- floating-point error: overflow\r\n\r\n"
                         "Execution traceback:\r\n\t\tfrom AJUST in ajust.cpp(#)\r\n\t\tfrom main program in run.cpp(#)\r\n";
  const struct { int order; const char* opt; std::string data, input; int status; const char* err; } rows[] = {
      {2, "100110", kExample, "", 0, ""},
      {3, "101101", kExample, "50\n75.5\n200\n146.7\n0\n", 0, ""},
      {8, "100110", huge.str(), "", 1, overflow}};
  for (const auto& c : rows) {
    std::string first;
    for (const char* threads : {"1", "2", "7"}) {
      ts::Scratch d;
      d.write("control.dat", control(c.order, c.opt));
      d.write("points.dat", c.data);
      const ts::Run r = ts::run(TARVEL1_EXE, d, c.input, "", std::string("TARVEL_THREADS=") + threads + " ");
      EXPECT_TRUE(r.status == c.status && ts::like(r.err.c_str(), c.err))
          << threads << " threads, order " << c.order << ": " << r.status << " " << ts::visible(r.err);
      const std::string bytes = "[stdout]\n" + r.out + "[stderr]\n" + r.err + "[results.dat]\n" + d.read("results.dat") +
                                "[courbe.dat]\n" + d.read("courbe.dat");
      if (first.empty()) first = bytes;
      EXPECT_EQ(ts::visible(bytes), ts::visible(first)) << threads << " threads against one, order " << c.order;
    }
  }
}

// Replies at the query prompt: the indices answered (the first answer's on the console, the second's in
// the results file) and refused ("!"), in order. A null reply or a slash keeps the index as it was: the curve
// table's last abscissa (148.044, past the largest index 146.7), the last reply, or 0 when never set.
TEST(WholeRuns, QueryReplies) {
  const struct { const char* opt; std::string input, answered; } rows[] = {
      {"101111", "12.3\n146.7\n146.71\n,\n 35.5 , rest\n,\n\n0.0\n", "12.30 146.70 ! ! 35.50 35.50"},
      {"101111", ",\n0\n", "!"},
      {"101101", ",\n50\n", ""},
      {"101101", "/\n50\n", ""},
      {"101101", "50\n,\n/\n,,\n\n\n 7e1 /\n,\n0\n", "50.00 50.00 50.00 50.00 70.00 70.00"}};
  for (const auto& c : rows) {
    SCOPED_TRACE(c.opt + (" " + ts::visible(c.input)));
    ts::Scratch d;
    d.write("control.dat", control(3, c.opt));
    d.write("points.dat", kExample);
    const ts::Run r = ts::run(TARVEL1_EXE, d, c.input);
    EXPECT_EQ(r.status, 0) << r.err;
    // Each prompt is followed by an answer or a refusal; the last by the end of the run.
    std::string console, results, refused = "\r\n Interpolation only !\r\n";
    const std::regex asked("Quenching index\\? \\(0 to stop\\)(\r\nwith no uncertainty on quenching index:\r\n\r\n"
                           "Quenching index: +([.0-9]+) |" + refused + ")"), stored(" Quenching index: +([.0-9]+) ");
    for (std::sregex_iterator it(r.out.begin(), r.out.end(), asked), end; it != end; ++it)
      console += (*it)[2].matched ? " " + (*it)[2].str() : " !";
    const std::string res = d.read("results.dat");
    for (std::sregex_iterator it(res.begin(), res.end(), stored), end; it != end; ++it) results += " " + (*it)[1].str();
    EXPECT_EQ(console, c.answered.empty() ? "" : " " + c.answered);
    EXPECT_EQ(results, std::regex_replace(console, std::regex(" !"), ""));
    EXPECT_TRUE(r.out.ends_with("Quenching index? (0 to stop)\r\n" STOP "\r\n")) << ts::visible(r.out);
  }
}

// The kept fuzzing corpus, replayed: every case keeps the promise that the
// fuzzers check (fuzz_property.h).
TEST(WholeRuns, FuzzCorpus) {
  for (const std::string kind : {"listin", "run"}) {
    std::istringstream names(ts::listing(TESTS_DIR "/fuzz-corpus/" + kind));
    int cases = 0;
    for (std::string name; std::getline(names, name); ++cases) {
      const std::string bytes = ts::slurp(TESTS_DIR "/fuzz-corpus/" + kind + "/" + name);
      const fuzzcase::Parts p = fuzzcase::split(bytes);
      if (kind == "listin") {
        EXPECT_EQ(fuzzcase::readListCase(bytes), "") << name;
        continue;
      }
      ASSERT_EQ((p.control + p.input).find('/'), std::string::npos) << name << ": a kept case names no path";
      ts::Scratch d;
      d.write("control.dat", p.control);
      d.write("points.dat", p.data);
      const ts::Run r = ts::run(TARVEL1_EXE, d, p.input);
      const fuzzcase::Outcome o{r.status < 128, r.status < 128 ? r.status : r.status - 128, r.out, r.err};
      EXPECT_EQ(fuzzcase::check(o, d.others()), "") << name << "\n" << ts::visible(r.out) << ts::visible(r.err);
    }
    EXPECT_GE(cases, 4) << kind;
  }
}

// The picture of a run whose order was lowered; a missing curve file named.
TEST(WholeRuns, Picture) {
  ts::Scratch d;
  d.write("control.dat", control(2, "101110"));
  d.write("points.dat", kReport);
  const ts::Run program = ts::run(TARVEL1_EXE, d, "", "--json rec.json");
  ASSERT_EQ(program.status, 0);
  ts::Run r = ts::run(TARVEL1_PLOT_EXE, d);
  const std::string svg = d.read("courbe.svg");
  EXPECT_EQ(r.status, 0) << r.err;
  auto all = [](const std::string& text, const char* pattern) {
    std::vector<double> found;
    const std::regex re(pattern);
    for (std::sregex_iterator it(text.begin(), text.end(), re), end; it != end; ++it)
      for (std::size_t k = 1; k < it->size(); ++k) found.push_back(std::stod((*it)[k]));
    return found;
  };
  // The heading without its quotes as title; the caption with the order, the points, the last reduced
  // chi-square of results.dat and the Q that the program printed, to three digits.
  EXPECT_NE(svg.find(">test calibration</text>"), std::string::npos);
  const std::vector<double> caption = all(svg, "order (\\d), uncertainties in x and y \u00b7 (\\d) points \u00b7 "
                                               "weighted fit in y: reduced chi-square ([.0-9]+), Q = ([.0-9]+)<"),
      chi2 = all(d.read("results.dat"), "reduced chi2= +([-+.0-9E]+)"), q = all(program.out, "\nQ= +([-+.0-9E]+)");
  ASSERT_TRUE(caption.size() == 4 && chi2.size() == 2 && q.size() == 2) << svg;
  EXPECT_TRUE(caption[0] == 1 && caption[1] == 4) << caption[0] << " " << caption[1];
  EXPECT_NEAR(caption[2], chi2[1], 0.006 * chi2[1]);
  EXPECT_NEAR(caption[3], q[1], 0.006 * q[1]);
  // The curve from the smallest to the largest index of the points, not past them.
  std::smatch fit;
  ASSERT_TRUE(std::regex_search(svg, fit, std::regex("class=\"fit\"[^>]* d=\"([^\"]+)\"")));
  const std::vector<double> xs = all(fit[1], "[ML]([.0-9]+),"), cx = all(svg, "class=\"marker\"[^>]* cx=\"([.0-9]+)\"");
  ASSERT_TRUE(xs.size() > 2 && cx.size() == 4);
  EXPECT_EQ(std::pair(std::ranges::min(xs), std::ranges::max(xs)), std::pair(std::ranges::min(cx), std::ranges::max(cx)));
  // The residual panel: e-exp - e-calc of the record's residuals in percent points, to the drawing's six
  // digits; the legend right of the panels.
  const std::vector<double> drawn = all(svg, "class=\"residual\" data-q=\"[^\"]+\" data-r=\"([^\"]+)\""),
      frame = all(svg, "class=\"frame\" x=\"([0-9.]+)\" y=\"[0-9.]+\" width=\"([0-9.]+)\"");
  const nlohmann::json residuals = nlohmann::json::parse(d.read("rec.json"))["residuals"];
  ASSERT_TRUE(drawn.size() == 4 && residuals.size() == 4 && frame.size() >= 2);
  for (std::size_t i = 0; i < 4; ++i) {
    const double want = 100 * (double(residuals[i]["e_exp"]) - double(residuals[i]["e_calc"]));
    EXPECT_NEAR(drawn[i], want, 5e-6 * std::fabs(want));
  }
  EXPECT_GT(all(svg, "class=\"legend\"[^>]*>\n<rect x=\"([0-9.]+)\"").at(0), frame[0] + frame[1]);
  // A courbe.dat of another run: another order without a new curve, then data without the first point.
  d.write("control.dat", control(2));
  for (const char* why : {"its efficiency at 1.5000 is", "its first row is at 1.5000, not at 3.0000"}) {
    ASSERT_EQ(ts::run(TARVEL1_EXE, d).status, 0);
    r = ts::run(TARVEL1_PLOT_EXE, d);
    EXPECT_TRUE(r.status == 2 && r.err.starts_with("tarvel1-plot: courbe.dat does not belong to this run: " + std::string(why)))
        << r.err;
    d.write("points.dat", "3 .005" + kReport.substr(kReport.find("\r\n3 ")));
  }
  std::remove(d.file("courbe.dat").c_str());
  r = ts::run(TARVEL1_PLOT_EXE, d);
  EXPECT_TRUE(r.status == 2 && ts::like(r.err.c_str(), "tarvel1-plot: cannot open 'courbe.dat': No such file*"))
      << r.status << " " << r.err;
  // Without the weighted fits' report, a caption of the order, the points and the reduced chi-square; a blank
  // quoted heading gives the data file's name; --title and -o.
  const std::string c = control(1, "000010");
  d.write("control.dat", "  ''  " + c.substr(c.find('\n')));
  ASSERT_EQ(ts::run(TARVEL1_EXE, d).status, 0);
  r = ts::run(TARVEL1_PLOT_EXE, d);
  EXPECT_TRUE(r.status == 0 && ts::like(d.read("courbe.svg").c_str(), "*>points.dat</text>\n<text class=\"caption\"*>"
                                        "Polynomial of order 1, uncertainties in x and y \u00b7 3 points \u00b7 weighted fit in y: "
                                        "reduced chi-square #*</text>*")) << r.err;
  r = ts::run(TARVEL1_PLOT_EXE, d, "", "--title 'Tube <7>' -o pic.svg");
  EXPECT_TRUE(r.status == 0 && r.out.starts_with("pic.svg written: ") &&
              d.read("pic.svg").find(">Tube &lt;7&gt;</text>") != std::string::npos) << r.err;
  // A wrong command line, or a picture over a file of the run, is refused and nothing is written.
  const std::string before = d.others() + d.read("results.dat"),
      usage = "\nUsage: tarvel1-plot [--width N] [--height N] [--title TEXT] [-o FILE]\n";
  for (const auto& [args, err] : std::vector<std::pair<std::string, std::string>>{
           {"--bogus -o x.svg", "unknown option '--bogus'" + usage},
           {"-o x.svg --width", "option '--width' needs a value" + usage},
           {"--height 0 -o x.svg", "option '--height' needs a number of pixels from 1 to 100000, not '0'" + usage},
           {"-o x.svg x", "unexpected argument 'x'" + usage},
           {"-o results.dat", "-o 'results.dat' would overwrite results.dat, a file of this run\n"}}) {
    r = ts::run(TARVEL1_PLOT_EXE, d, "", args);
    EXPECT_TRUE(r.status == 2 && r.err == "tarvel1-plot: " + err && d.others() + d.read("results.dat") == before)
        << args << ": " << r.status << " " << r.err;
  }
  // The picture renders (rsvg-convert comes with the tests' dependencies).
  r = ts::run("rsvg-convert", d, "", "pic.svg -o pic.png");
  struct stat png {};
  EXPECT_TRUE(r.status == 0 && stat(d.file("pic.png").c_str(), &png) == 0 && png.st_size > 0) << r.status << r.err;
}

// The report beside a run: the other outputs' bytes unchanged, the heading escaped, the date, the inputs' digests,
// every number of the results file and the console's Q and verdict as printed, each residual over its uncertainty
// (from the record, with the curve's slope) and its mark, and the expanded uncertainty of the answer.
TEST(WholeRuns, Report) {
  ts::Scratch d;
  const std::string c = control(2, "100111");
  d.write("control.dat", "'<script>alert(1)</script> & \"Q<1\"'" + c.substr(c.find('\n')));
  d.write("points.dat", kExample.substr(0, kExample.find("0.8136")) + "0.8286" + kExample.substr(kExample.find("0.8136") + 6));
  const ts::Run plain = ts::run(TARVEL1_EXE, d, "50\n0\n");
  const std::string files = d.read("results.dat") + d.read("courbe.dat");
  const ts::Run r = ts::run(TARVEL1_EXE, d, "50\n0\n", "--report r.html --json rec.json", "SOURCE_DATE_EPOCH=86400 ");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out + r.err + d.read("results.dat") + d.read("courbe.dat"), plain.out + plain.err + files);
  const std::string html = d.read("r.html"), results = d.read("results.dat");
  auto cell = [&](const std::string& text) { return html.find(">" + text + "<") != std::string::npos; };
  EXPECT_TRUE(cell("&lt;script&gt;alert(1)&lt;/script&gt; &amp; &quot;Q&lt;1&quot;") && cell("1970-01-02 00:00:00 UTC"));
  EXPECT_FALSE(std::regex_search(html, std::regex("<script", std::regex::icase)));
  std::istringstream sums(ts::run("sha256sum", d, "", "control.dat points.dat").out);
  for (std::string line; std::getline(sums, line);) EXPECT_TRUE(cell(line.substr(0, 64))) << line;
  const std::regex number("-?[0-9]*\\.[0-9]+(E[-+][0-9]+)?");
  std::smatch q, verdict;
  ASSERT_TRUE(std::regex_search(r.out, q, std::regex("\nQ= +(\\S+)\r\n ?(.+)\r")));
  EXPECT_TRUE(cell(q[1]) && cell(q[2])) << q[1] << q[2];
  for (std::sregex_iterator it(results.begin(), results.end(), number), end; it != end; ++it) EXPECT_TRUE(cell(it->str())) << it->str();
  const nlohmann::json rec = nlohmann::json::parse(d.read("rec.json"));
  const auto &a = rec["monte_carlo_fit"]["coefficients"], &answer = rec["queries"][0]["uncertainties_in_x_and_y"];
  char u[16];
  std::snprintf(u, sizeof u, "%.4f", 2 * double(answer["u"]));
  EXPECT_TRUE(cell(u + 1)) << u;
  const std::string table = html.substr(html.find("<section id=\"residuals\">"));
  const std::regex row("<tr( class=\"beyond([23])\")?><td class=\"num\">([0-9]+)</td>(<td class=\"num\">[^<]*</td>){6}<td class=\"num\">([-.0-9]+)<");
  double worst = 0;
  std::sregex_iterator it(table.begin(), table.end(), row);
  for (std::size_t i = 0; i < 13; ++i, ++it) {
    ASSERT_NE(it, std::sregex_iterator()) << i;
    const auto &p = rec["data"]["points"][i], &res = rec["residuals"][i];
    const double slope = double(a[1]) + 2 * double(a[2]) * double(p["q"]);
    const double z = (double(res["e_exp"]) - double(res["e_calc"])) / std::hypot(double(p["ue"]), slope * double(p["uq"]));
    EXPECT_NEAR(std::stod((*it)[5]), z, 0.0051) << i;
    EXPECT_EQ((*it)[2].str(), std::fabs(z) > 3 ? "3" : std::fabs(z) > 2 ? "2" : "") << i << " " << z;
    worst = std::max(worst, std::fabs(z));
  }
  EXPECT_GT(worst, 2);
}

// Doubtful inputs: each warning's exact lines on standard error. Where a twin input reads as the same values
// without the doubt, standard output and the files are those of the twin, whose standard error is empty.
TEST(WholeRuns, Warnings) {
  const std::string points = kExample.substr(kExample.find('\n') + 1), w = "tarvel1: warning: ";
  std::string percent = "13 -0.01\n", third = points;
  for (std::istringstream in(points); std::getline(in, third);) percent += third.substr(0, third.rfind(' ')) + " 1.5\n";
  // Commas that separate numbers, or integers of a line of four values, are no decimal commas; a relative
  // uncertainty of 0.1 is no percentage.
  const std::string rest = points.substr(points.find("41.8") - 2);
  const std::string commas = "13 0.1\n12.3,0.42,0.9460,0.0021,5 a comment\n21,7 0.9240 0.0025\n30.4 .6 .9094 .0029 0,5\n",
                    plain = "13 0.1\n12.3 0.42 0.9460 0.0021\n21 7 0.9240 0.0025\n30.4 .6 .9094 .0029\n";
  const struct { const char *what, *opt; std::string data, input, twin, twinInput, err; int order = 2; } rows[] = {
      {"a point count too small", "000000", "10" + kExample.substr(2), "", "10 .005\n" + points.substr(0, points.rfind('\n', points.find("121.4")) + 1) +
       "measured 2026-12-01\n1,,2,3 4\n", "", w + "points.dat: 3 lines after point 10 read as a point: is the point count 10 right?\n"},
      {"a comma between two digits", "000000", commas + rest, "", plain + rest, "",
       w + "point 3: '0,5' reads as two values: a decimal comma?\n"},
      {"queries of two values", "000001", kExample, "75,5\n60 1\n50,2\n40,1\n30,3\n0\n", kExample, "75\n60\n50\n40\n30\n0\n",
       w + "'75,5' reads as 75: a decimal comma?\n" + w + "'60 1' reads as 60\n" + w + "'50,2' reads as 50: a decimal comma?\n" +
       w + "2 more queries with more than one value\n"},
      {"a relative uncertainty in percent", "000000", "13 0.4\n" + points, "", "", "",
       w + "common relative uncertainty 0.4 is 40 %: is it in percent?\n"},
      {"uncertainties in percent, each fit of the dropping", "101000", percent, "", "", "",
       w + "point 1: efficiency uncertainty 1.5 is not below the efficiency 0.946 (uncertainties in percent?)\n" + w +
       "point 2: efficiency uncertainty 1.5 is not below the efficiency 0.924 (uncertainties in percent?)\n" + w +
       "point 3: efficiency uncertainty 1.5 is not below the efficiency 0.9094 (uncertainties in percent?)\n" + w +
       "10 more points with an efficiency uncertainty not below the efficiency\n" + w +
       "common relative uncertainty -0.01 is negative\n" + w + "order 4 fit: Q is above 0.999: the points scatter far "
       "less than their uncertainties say (uncertainties in percent?)\n" + w + "order 3 fit: Q is above 0.999: the points "
       "scatter far less than their uncertainties say (uncertainties in percent?)\n" + w + "order 2 fit: Q is above 0.999: "
       "the points scatter far less than their uncertainties say (uncertainties in percent?)\n" + w +
       "1 more fit with Q above 0.999\n", 4}};
  for (const auto& c : rows) {
    SCOPED_TRACE(c.what);
    ts::Scratch d, twin;
    d.write("control.dat", control(c.order, c.opt));
    d.write("points.dat", c.data);
    const ts::Run r = ts::run(TARVEL1_EXE, d, c.input);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, c.err);
    if (c.twin.empty()) continue;
    twin.write("control.dat", control(2, c.opt));
    twin.write("points.dat", c.twin);
    const ts::Run t = ts::run(TARVEL1_EXE, twin, c.twinInput);
    EXPECT_EQ(std::tie(t.status, t.err, t.out), std::tie(r.status, "", r.out));
    EXPECT_EQ(twin.read("results.dat"), d.read("results.dat"));
  }
}
