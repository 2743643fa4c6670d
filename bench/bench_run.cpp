// Benchmarks of the calibration run: the Monte Carlo phase of examples/, a
// whole run of examples/ (as it stands: no queries), a whole run of the
// program on the 12-point order-2 calibration that bench_gsl's GSL loop
// refits, and whole runs of the program with growing point counts, with their
// peak memory. Every one on one thread and on one a core (threads:0).
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

#include "bench_points.h"
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

// A run state after start-up and the weighted fit of examples/ as it stands
// (order 2, no drop, no queries): the trials fit three coefficients.
std::unique_ptr<RunState> preparedExample(const std::string& dir) {
  for (const char* name : {"control.dat", "points.dat"}) {
    std::ifstream in(std::string(EXAMPLES_DIR) + "/" + name, std::ios::binary);
    writeFile(dir + "/" + name, std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
  }
  if (chdir(dir.c_str()) != 0) std::abort();
  resetUnitsForTesting();
  ran1State() = {};
  gasdevState() = {};
  auto s = std::make_unique<RunState>();
  startUp(*s);
  weightedFit(*s);
  return s;
}

// Threads of a benchmark: its argument, 0 meaning one a core as in a run.
int threadsArg(const benchmark::State& state, int index) { return static_cast<int>(state.range(index)); }

void BM_MonteCarloPhase(benchmark::State& state) {
  const std::string dir = scratch();
  QuietConsole quiet;
  auto s = preparedExample(dir);
  s->threads = threadsArg(state, 0);
  for (auto _ : state) {
    s->seed = -911;
    ran1State() = {};
    gasdevState() = {};
    monteCarlo(*s);
    benchmark::DoNotOptimize(s->amc(1));
  }
  closeUnit(kResults);
}
BENCHMARK(BM_MonteCarloPhase)->ArgName("threads")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WholeRunOfExample(benchmark::State& state) {
  const std::string dir = scratch();
  QuietConsole quiet;
  for (auto _ : state) {
    auto s = preparedExample(dir);
    s->threads = threadsArg(state, 0);
    monteCarlo(*s);
    covarianceReport(*s);
    residualTable(*s);
    curveTable(*s);
    closeUnit(kResults);
    benchmark::DoNotOptimize(s->amc(1));
  }
}
BENCHMARK(BM_WholeRunOfExample)->ArgName("threads")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

// The built program on n points of order `order`, as a user runs it, with
// TARVEL_THREADS set to `threads` (0: unset, one thread a core); reports the
// peak resident memory of the run.
void programRun(benchmark::State& state, int n, int order, int threads) {
  const std::string dir = scratch();
  writeFile(dir + "/control.dat", control(order, "100110"));
  writeFile(dir + "/points.dat", benchdata::dataFile(n));
  long peakKb = 0;
  for (auto _ : state) {
    const pid_t pid = fork();
    if (pid == 0) {
      if (chdir(dir.c_str()) != 0) _exit(126);
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      if (threads > 0)
        setenv("TARVEL_THREADS", std::to_string(threads).c_str(), 1);
      else
        unsetenv("TARVEL_THREADS");
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

// Twelve points, order 2, no drop: the calibration of bench_gsl's loop.
void BM_ProgramTwelvePoints(benchmark::State& state) { programRun(state, 12, 2, threadsArg(state, 0)); }
BENCHMARK(BM_ProgramTwelvePoints)->ArgName("threads")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

// The scale table: n points at order 3.
void BM_ProgramPoints(benchmark::State& state) {
  programRun(state, static_cast<int>(state.range(0)), 3, threadsArg(state, 1));
}
BENCHMARK(BM_ProgramPoints)
    ->ArgNames({"points", "threads"})
    ->ArgsProduct({{10, 100, 1000}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_ProgramPoints)
    ->ArgNames({"points", "threads"})
    ->ArgsProduct({{10000, 100000}, {1, 0}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
