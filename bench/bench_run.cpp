// Benchmarks of the calibration run: the Monte Carlo phase of examples/, a
// whole run of examples/ (every switch but the query loop), and whole runs of
// the program with growing point counts, with their peak memory.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "records/units.h"
#include "run/run.h"
#include "stats/gasdev.h"
#include "stats/ran1.h"

using namespace tarvel;

namespace {

std::string scratch() {
  char dir[] = "/tmp/tarvel1-bench-XXXXXX";
  if (mkdtemp(dir) == nullptr) std::abort();
  return dir;
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string control(int order, const char* switches) {
  std::string s = "'bench'\npoints.dat datafile\n" + std::to_string(order) + " order\n";
  for (int k = 0; k < 6; ++k) s += std::string(1, switches[k]) + " opt\n";
  return s + "results.dat resfile\n";
}

// A smooth quench curve of n points between indices 10 and 150.
std::string points(int n) {
  std::string s = std::to_string(n) + " 0.005\n";
  char line[128];
  for (int i = 0; i < n; ++i) {
    const double q = 10.0 + 140.0 * i / (n > 1 ? n - 1 : 1);
    const double e = 0.968 - 0.00185 * q - 0.0000035 * q * q + 0.002 * ((i * 7919) % 11 - 5) / 5.0;
    std::snprintf(line, sizeof line, "%.4f %.3f %.5f %.5f\n", q, 0.3 + 0.01 * q, e, 0.002 + 0.00004 * q);
    s += line;
  }
  return s;
}

// Console output of the in-process runs goes to /dev/null.
struct QuietConsole {
  int saved;
  QuietConsole() {
    std::fflush(stdout);
    saved = dup(1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    close(null);
  }
  ~QuietConsole() {
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
  }
};

// A run state after start-up and the weighted fit of examples/.
std::unique_ptr<RunState> preparedExample(const std::string& dir, const char* switches) {
  writeFile(dir + "/control.dat", control(2, switches));
  std::ifstream in(std::string(EXAMPLES_DIR) + "/points.dat", std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  writeFile(dir + "/points.dat", bytes);
  if (chdir(dir.c_str()) != 0) std::abort();
  resetUnitsForTesting();
  ran1State() = {};
  gasdevState() = {};
  auto s = std::make_unique<RunState>();
  startUp(*s);
  weightedFit(*s);
  return s;
}

void BM_MonteCarloPhase(benchmark::State& state) {
  const std::string dir = scratch();
  QuietConsole quiet;
  auto s = preparedExample(dir, "101110");
  for (auto _ : state) {
    s->seed = -911;
    ran1State() = {};
    gasdevState() = {};
    monteCarlo(*s);
    benchmark::DoNotOptimize(s->amc(1));
  }
  closeUnit(kResults);
}
BENCHMARK(BM_MonteCarloPhase)->Unit(benchmark::kMillisecond);

void BM_WholeRunOfExample(benchmark::State& state) {
  const std::string dir = scratch();
  QuietConsole quiet;
  for (auto _ : state) {
    auto s = preparedExample(dir, "101110");
    monteCarlo(*s);
    covarianceReport(*s);
    residualTable(*s);
    curveTable(*s);
    closeUnit(kResults);
    benchmark::DoNotOptimize(s->amc(1));
  }
}
BENCHMARK(BM_WholeRunOfExample)->Unit(benchmark::kMillisecond);

// The built program on n points at order 3, as a user runs it; reports the
// peak resident memory of the run.
void BM_ProgramPoints(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::string dir = scratch();
  writeFile(dir + "/control.dat", control(3, "101110"));
  writeFile(dir + "/points.dat", points(n));
  long peakKb = 0;
  for (auto _ : state) {
    const pid_t pid = fork();
    if (pid == 0) {
      if (chdir(dir.c_str()) != 0) _exit(126);
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      execl(TARVEL1_EXE, "tarvel1", static_cast<char*>(nullptr));
      _exit(127);
    }
    int status;
    struct rusage use;
    wait4(pid, &status, 0, &use);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) state.SkipWithError("run failed");
    peakKb = use.ru_maxrss;
  }
  state.counters["peak_MB"] = static_cast<double>(peakKb) / 1024.0;
  std::system(("rm -rf " + dir).c_str());
}
BENCHMARK(BM_ProgramPoints)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ProgramPoints)->Arg(10000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
