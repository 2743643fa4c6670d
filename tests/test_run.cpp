// Whole runs of the program in scratch directories: start-up, the echo table
// and every way a run ends.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>

#include "calibration.h"
#include "support.h"

using namespace testsupport;

namespace {

const std::string kStop = "Stop - Program terminated.\r\n";

// Example calibration in a scratch directory, with the switches given.
void writeExample(const ScratchDir& d, std::array<int, 6> opt = {0, 0, 0, 0, 0, 0}, int order = 2) {
  d.write("control.dat", controlFile("points.dat", order, opt));
  d.write("points.dat", dataFile(examplePoints()));
}

// The last line of a run-time error report's traceback.
std::string lastTraceLine(const std::string& err) {
  const auto recs = crlfRecords(err);
  return recs.empty() ? "" : recs.back();
}

}  // namespace

TEST(Run, MissingControlFileEndsWithStopTextAndStatus2) {
  ScratchDir d;
  const RunResult r = runProgram(d.path());
  EXPECT_EQ(r.out, kStop) << visible(r.out);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("control.dat"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("No such file"), std::string::npos) << r.err;
}

TEST(Run, MissingDataFileCreatesNoResultsFile) {
  ScratchDir d;
  d.write("control.dat", controlFile("absent.dat", 2, {1, 0, 0, 1, 1, 0}));
  const RunResult r = runProgram(d.path());
  EXPECT_EQ(r.out, kStop) << visible(r.out);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("'absent.dat'"), std::string::npos) << r.err;
  EXPECT_FALSE(d.exists("results.dat"));
}

TEST(Run, EchoTableAndConsoleByteStream) {
  ScratchDir d;
  writeExample(d);
  std::vector<Point> pts = examplePoints();
  pts[0] = Point{12.5, 0.4, 0.8534, 0.0123};
  d.write("points.dat", dataFile(pts));
  const RunResult r = runProgram(d.path());
  ASSERT_EQ(r.status, 0) << r.err;
  // No line break before the first record; the carriage-control blank is not shown.
  const std::string head = "Q index   Effic     sdev\r\n  12.50   85.34    1.23\r\n  21.70   92.40     .25\r\n";
  EXPECT_EQ(r.out.substr(0, head.size()), head) << visible(r.out);
  // The stop text follows the last record's line break, and the exit adds one more.
  const std::string tail = "\r\n" + kStop + "\r\n";
  ASSERT_GE(r.out.size(), tail.size());
  EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail) << visible(r.out);
  EXPECT_EQ(crlfRecords(r.out).size(), std::count(r.out.begin(), r.out.end(), '\n'));
  // Every results-file record keeps its leading blank and ends in CR LF.
  for (const std::string& rec : crlfRecords(d.read("results.dat"))) {
    EXPECT_EQ(rec.substr(0, 1), " ") << rec;
  }
}

TEST(Run, FatalInputErrors) {
  const std::string good = dataFile(examplePoints());
  struct Case {
    const char* what;
    std::string control;
    std::string data;
    std::string report;  // text the report must hold
  } cases[] = {
      {"letters for a number in the data file", controlFile("points.dat", 2, {}),
       "13 0.005\n12.3 0.42 abc 0.0021\n", ": READ(points.dat)\r\n- "},
      {"data file ends early", controlFile("points.dat", 2, {}), "13 0.005\n12.3 0.42 0.946 0.0021\n",
       ": READ(points.dat)\r\n- end of file"},
      {"control file ends early", "'head'\npoints.dat datafile\n2 order\n1 opt1\n", good,
       ": READ(control.dat)\r\n- end of file"},
      {"letters for the order", "'head'\npoints.dat datafile\ntwo order\n", good,
       ": READ(control.dat)\r\n- "},
      {"order above 8", controlFile("points.dat", 9, {}), good,
       ": READ(control.dat)\r\n- polynomial order 9 is outside 0 to 8"},
      {"order below 0", controlFile("points.dat", -1, {}), good,
       ": READ(control.dat)\r\n- polynomial order -1 is outside 0 to 8"},
      {"no points", controlFile("points.dat", 2, {}), "0 0.005\n",
       ": READ(points.dat)\r\n- point count 0 is below 1"},
      {"fewer points than coefficients", controlFile("points.dat", 3, {}),
       "3 0.005\n10 1 .9 .01\n20 1 .8 .01\n30 1 .7 .01\n",
       ": READ(points.dat)\r\n- point count 3 is below the 4 coefficients of an order 3 fit"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir d;
    d.write("control.dat", c.control);
    d.write("points.dat", c.data);
    const RunResult r = runProgram(d.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(c.report), std::string::npos) << visible(r.err);
    EXPECT_TRUE(std::regex_search(r.err, std::regex("^\r\nrun\\.cpp\\([0-9]+\\) : run-time error F65[0-9][0-9]: ")))
        << visible(r.err);
    EXPECT_NE(r.err.find("\r\nExecution traceback:\r\n"), std::string::npos) << visible(r.err);
    EXPECT_TRUE(std::regex_match(lastTraceLine(r.err), std::regex("\t\tfrom main program in run\\.cpp\\([0-9]+\\)")))
        << visible(r.err);
    // Nothing of a report reaches standard output; the stop text does not either.
    EXPECT_EQ(r.out.find("Stop - "), std::string::npos) << visible(r.out);
  }
}

TEST(Run, BlankFileNamesFromCommandLineThenConsole) {
  ScratchDir d;
  d.write("control.dat", controlFile("''", 0, {}, "''"));
  d.write("points.dat", dataFile(examplePoints()));
  // Both names from the command line, in the order of the opens.
  RunResult r = runProgram(d.path(), "", "points.dat out1.dat");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, 9), "Q index  ") << visible(r.out);
  EXPECT_TRUE(d.exists("out1.dat"));
  // The data file from the command line, the results file from the console,
  // after an empty answer that repeats the prompt.
  r = runProgram(d.path(), "\n  out2.dat  \n", "points.dat");
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string prompt = "File name missing or blank - please enter file name\r\nUNIT 3? ";
  EXPECT_EQ(r.out.substr(0, 2 * prompt.size() + 11), prompt + "\r\n" + prompt + "\r\nQ index") << visible(r.out);
  EXPECT_TRUE(d.exists("out2.dat"));
  // No answer at all: the console read meets the end of input.
  r = runProgram(d.path(), "", "points.dat");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(": OPEN(CON)\r\n- end of file"), std::string::npos) << visible(r.err);
}

TEST(Run, ResultsFileHoldsExactlyThisRun) {
  ScratchDir fresh, old;
  writeExample(fresh, {1, 0, 0, 1, 0, 0});
  writeExample(old, {1, 0, 0, 1, 0, 0});
  old.write("results.dat", std::string(20000, 'x') + "\r\n");
  ASSERT_EQ(runProgram(fresh.path()).status, 0);
  ASSERT_EQ(runProgram(old.path()).status, 0);
  EXPECT_EQ(old.read("results.dat"), fresh.read("results.dat"));
  // A run that ends before its first record leaves the old results file empty.
  old.write("results.dat", "old results\r\n");
  old.write("points.dat", "13 0.005\n1 2 x\n");
  EXPECT_EQ(runProgram(old.path()).status, 1);
  EXPECT_EQ(old.read("results.dat"), "");
}

TEST(Run, OutputNeverOverwritesInputs) {
  struct Case {
    const char* what;
    const char* resfile;
    const char* link;  // a symbolic link made first: name -> target
    const char* target;
    const char* kept;  // the file that must be unchanged
  } cases[] = {
      {"results file named control.dat", "control.dat", nullptr, nullptr, "control.dat"},
      {"results file named like the data file", "points.dat", nullptr, nullptr, "points.dat"},
      {"results file linked to the data file", "res.dat", "res.dat", "points.dat", "points.dat"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir d;
    d.write("control.dat", controlFile("points.dat", 2, {1, 0, 0, 1, 1, 0}, c.resfile));
    d.write("points.dat", dataFile(examplePoints()));
    if (c.link) {
      ASSERT_EQ(::symlink(c.target, d.file(c.link).c_str()), 0);
    }
    const std::string before = d.read(c.kept);
    const RunResult r = runProgram(d.path());
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, kStop) << visible(r.out);
    EXPECT_NE(r.err.find("must not be overwritten"), std::string::npos) << r.err;
    EXPECT_EQ(d.read(c.kept), before);
  }
}

TEST(Run, UnreadableResultsFileEndsWithStatus2) {
  ScratchDir d;
  writeExample(d);
  ASSERT_EQ(::mkdir(d.file("results.dat").c_str(), 0755), 0);
  const RunResult r = runProgram(d.path());
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, kStop) << visible(r.out);
  EXPECT_NE(r.err.find("results file 'results.dat'"), std::string::npos) << r.err;
}

TEST(Run, CalibrationRangeStartsFromTheFirstPoint) {
  // Indices all below 0: the curve runs from the true smallest index to one
  // step past the true largest (not up to 0).
  ScratchDir d;
  std::vector<Point> pts;
  for (int i = 0; i < 6; ++i) pts.push_back({-60.0 + 10.0 * i, 0.5, 0.9 - 0.02 * i, 0.003});
  d.write("control.dat", controlFile("points.dat", 1, {0, 0, 0, 0, 1, 0}));
  d.write("points.dat", dataFile(pts));
  ASSERT_EQ(runProgram(d.path()).status, 0);
  const auto rows = crlfRecords(d.read("courbe.dat"));
  ASSERT_EQ(rows.size(), 103u);
  EXPECT_EQ(rows[1].substr(0, 9), " -60.0000");
  EXPECT_EQ(rows.back().substr(0, 9), "  -9.5000");
  // Indices all above 1000: 1100 lies below the smallest index and is refused.
  ScratchDir h;
  pts.clear();
  for (int i = 0; i < 6; ++i) pts.push_back({1200.0 + 100.0 * i, 5.0, 0.9 - 0.02 * i, 0.003});
  h.write("control.dat", controlFile("points.dat", 1, {0, 0, 0, 0, 0, 1}));
  h.write("points.dat", dataFile(pts));
  const RunResult r = runProgram(h.path(), "1100\n1250\n0\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\r\n Interpolation only !\r\nQuenching index? (0 to stop)\r\nwith no uncertainty"),
            std::string::npos)
      << visible(r.out);
}

TEST(Run, FileNameLongerThan15CharactersIsKeptWhole) {
  ScratchDir d;
  const std::string name = "calibration-points-of-2026.dat";  // 30 characters
  d.write("control.dat", controlFile(name, 2, {}, "results-of-the-long-name-run.dat"));
  d.write(name, dataFile(examplePoints()));
  const RunResult r = runProgram(d.path());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(d.exists("results-of-the-long-name-run.dat"));
}

TEST(Run, PointCountTooLargeForMemoryEndsWithAllocateReport) {
  struct Case {
    const char* what;
    const char* count;
    bool limited;  // run under a 1 GB address-space limit
  } cases[] = {
      {"a 16 GB point array in 1 GB of address space", "2147483647", true},
      {"seven 160 MB point arrays in 1 GB of address space", "20000000", true},
  };
#if defined(__SANITIZE_ADDRESS__)
  // Under the sanitizer its own allocator answers (with a warning of its own),
  // and its shadow memory needs more address space than any limit leaves.
  GTEST_SKIP() << "allocation failures are the sanitizer's own in this build";
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir d;
    writeExample(d);
    d.write("points.dat", std::string(c.count) + " 0.005\n12.3 0.42 0.946 0.0021\n");
    const RunResult r = c.limited ? runExecutable("sh", d.path(), "",
                                                  std::string("-c 'ulimit -v 1000000; exec \"") + TARVEL1_EXE + "\"'")
                                  : runProgram(d.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("run-time error F6701: ALLOCATE\r\n- insufficient virtual memory\r\n"), std::string::npos)
        << visible(r.err);
    EXPECT_EQ(lastTraceLine(r.err).rfind("\t\tfrom main program in run.cpp(", 0), 0u) << visible(r.err);
    EXPECT_EQ(r.out, "") << visible(r.out);
  }
}
