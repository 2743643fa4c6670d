// Edges of whole runs: the chi-square probability against its closed forms, as
// many points as coefficients, the file-name prompt on redirected input, a CR
// before the end of input, a NUL in a file name and a failed fstat.
#include <gtest/gtest.h>

#include <cmath>
#include <regex>

#include "calibration.h"
#include "support.h"

using namespace testsupport;
using namespace std::string_literals;

// The chi-square probability Q(nu/2, x), x = chi2/2: e^-x sum_{j<k} x^j/j! for
// nu = 2k (h = 0); erfc(sqrt x) + e^-x sum_{j<k} x^(j+1/2)/Gamma(j+3/2) for
// nu = 2k+1 (h = 1/2).
static double chiSquareQ(int nu, double x, double h, double sum = 0) {
  for (double j = 0, term = std::pow(x, h) / std::tgamma(1 + h); j < nu / 2; term *= x / (++j + h)) sum += term;
  return 2 * h * std::erfc(std::sqrt(x)) + std::exp(-x) * sum;
}

// A run of control.dat and points.dat, with standard input and environment
// when given. Expected: the exit status; standard output holding `out`
// (exactly `out` when the run does not end normally); standard error exactly
// `err` (holding it after a run-time error); results.dat left alone exactly
// when an open is refused. With nu > 0: Q and its verdict as the closed form
// gives them for nu degrees of freedom and the printed reduced chi-square.
struct Row { const char* what; std::string control, data; int status; std::string out, err; int nu = 0; std::string input = "", env = ""; };

TEST(Edges, WholeRuns) {
  ScratchDir lib;  // an fstat that always fails, to preload
  ASSERT_EQ(runExecutable("gcc", lib.path(), "#include <errno.h>\nint fstat() { errno = EIO; return -1; }", "-shared -fPIC -x c -o fstat.so -").status, 0);
  // Three points in CR LF lines, the last one cut before its LF.
  const std::string pts = "3 0.005\r\n10 .5 .90 .01\r\n20 .5 .80 .01\r\n30 .5 .71 .01\r", stop = "Stop - Program terminated.\r\n";
  const std::string on = controlFile("points.dat", 2, {1, 0, 0, 1, 0, 0}), off = controlFile("points.dat", 2, {});
  const std::string ask = "File name missing or blank - please enter file name\r\nUNIT ", open = "tarvel1: cannot open ";
  const std::string nul = "': the name holds a NUL character\n", preload = "LD_PRELOAD=" + lib.file("fstat.so") + " ASAN_OPTIONS=verify_asan_link_order=0";
  const Row rows[] = {
      {"examples: 10 degrees of freedom", on, dataFile(examplePoints()), 0, "", "", 10},
      {"examples at order 3: 9 degrees of freedom", controlFile("points.dat", 3, {1, 0, 0, 1, 0, 0}), dataFile(examplePoints()), 0, "", "", 9},
      {"3 points for 3 coefficients, report on", on, pts, 1, "", "(points.dat)\r\n- as many points as coefficients leave no degree of freedom"},
      {"3 points for 3 coefficients, report off; a CR at the end of input", off, pts, 0, "  30.00   71.00    1.00\r\na(1)", ""},
      {"blank names asked for on redirected input", controlFile("''", 1, {}, "''"), pts, 0, ask + "2? " + ask + "3? Q index", "", 0, "points.dat\nresults.dat\n"},
      {"a NUL in the data file name", controlFile("'points.dat\0x'"s, 2, {}), pts, 2, stop, open + "data file 'points.dat?x" + nul},
      {"a NUL in the results file name", controlFile("points.dat", 2, {}, "'results.dat\0x'"s), pts, 2, stop, open + "results file 'results.dat?x" + nul},
      {"a NUL typed at the prompt", controlFile("''", 2, {}), pts, 2, ask + "2? " + stop, open + "data file 'points.dat?x" + nul, 0, "points.dat\0x\n"s},
      {"a failed fstat", off, pts, 2, stop, open + "control file 'control.dat': Input/output error\n", 0, "", preload},
  };
  for (std::smatch m; const Row& c : rows) {
    SCOPED_TRACE(c.what);
    ScratchDir d;
    d.write("control.dat", c.control), d.write("points.dat", c.data), d.write("results.dat", "kept");
    const RunResult r = runProgram(d.path(), c.input, "", c.env);
    EXPECT_EQ(std::pair(r.status, d.read("results.dat") == "kept"), std::pair(c.status, c.status == 2)) << visible(r.err);
    EXPECT_TRUE(c.status == 0 ? r.out.find(c.out) != std::string::npos : r.out == c.out) << visible(r.out);
    EXPECT_TRUE(c.status == 1 ? r.err.find(c.err) != std::string::npos : r.err == c.err) << visible(r.err);
    if (c.nu == 0) continue;
    ASSERT_TRUE(std::regex_search(r.out, m, std::regex("reduced chi2= *(\\S+)\r\n\r\nQ= *(\\S+)\r\n([^\r]*)\r")));
    const double want = chiSquareQ(c.nu, std::stod(m[1]) * c.nu / 2, c.nu % 2 / 2.0);
    EXPECT_NEAR(std::stod(m[2]), want, 2e-6 * want);
    EXPECT_EQ(m[3], want > 0.01 ? " Goodness of fit believable" : want > 0.001 ? " Not so good fit!" : " Bad fit!");
  }
}
