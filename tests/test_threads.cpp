// Whole runs on one thread, on two and on seven give the same bytes: standard
// output, standard error, results file, curve file and exit status. The cases
// are the examples, a drop and a query session, and a run that a Monte Carlo
// trial ends after the first block of trials (trial 592): x uncertainties so
// large that some trial's powers overflow where those of the weighted fit do
// not.
#include <gtest/gtest.h>

#include "calibration.h"
#include "support.h"

using namespace testsupport;

namespace {

struct Case {
  const char* name;
  int order;
  std::array<int, 6> opt;
  double uqScale;     // factor on the example's x uncertainties
  const char* input;  // standard input
  int status;
};

const Case kCases[] = {
    {"examples", 2, {1, 0, 0, 1, 1, 0}, 1.0, "", 0},
    {"drop and queries", 3, {1, 0, 1, 1, 0, 1}, 1.0, "50\n75.5\n200\n146.7\n0\n", 0},
    {"a trial ends the run", 8, {1, 0, 0, 1, 1, 0}, 1.7e18, "", 1},
};

TEST(Threads, EveryThreadCountGivesTheSameBytes) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::vector<Point> pts = examplePoints();
    for (Point& p : pts) p.uq *= c.uqScale;
    std::string first;
    for (const char* threads : {"1", "2", "7"}) {
      ScratchDir d;
      d.write("control.dat", controlFile("points.dat", c.order, c.opt));
      d.write("points.dat", dataFile(pts));
      const RunResult r = runProgram(d.path(), c.input, "", std::string("TARVEL_THREADS=") + threads);
      EXPECT_EQ(r.status, c.status) << threads << " threads: " << visible(r.err);
      EXPECT_EQ(r.err.empty(), c.status == 0) << threads << " threads: " << visible(r.err);
      const std::string bytes = "status " + std::to_string(r.status) + "\n[stdout]\n" + r.out + "\n[stderr]\n" +
                                r.err + "\n[results.dat]\n" + d.read("results.dat") + "\n[courbe.dat]\n" +
                                d.read("courbe.dat");
      if (first.empty()) first = bytes;
      EXPECT_EQ(visible(bytes), visible(first)) << threads << " threads against one";
    }
  }
}

}  // namespace
