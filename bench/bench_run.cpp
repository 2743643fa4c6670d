// Benchmarks of the calibration: the Monte Carlo phase of examples/ and a
// whole calibration of it in process; whole runs of the program as a process
// on examples/ and on the 12-point order-2 calibration, beside the process of
// bench_gsl's GSL loop over the same refits (gsl_refits_process) and, when
// TARVEL1_BASELINE names another build of the program, beside that build;
// and whole runs with growing point counts, with their peak memory. Every one
// on one thread and on one a core (threads:0).
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
#include "run/run.h"

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

// Threads of a benchmark: its argument, 0 meaning one a core as in a run.
int threadsArg(const benchmark::State& state, int index) { return static_cast<int>(state.range(index)); }

// The Monte Carlo phase of examples/ as it stands (order 2, no drop, no
// queries: the trials fit three coefficients), after its weighted fit.
void BM_MonteCarloPhase(benchmark::State& state) {
  const Inputs in = read(EXAMPLES_DIR);
  Workspace workspace(threadsArg(state, 0));
  const WorkspaceHold hold(workspace);
  MainFrame main;
  Run run(in, nullptr, hold.pool(), main);
  weightedFit(run);
  for (auto _ : state) {
    run.seed = -911;
    run.uniform = {};
    run.normal = {};
    monteCarlo(run);
    benchmark::DoNotOptimize(run.fit->amc(1));
  }
}
BENCHMARK(BM_MonteCarloPhase)->ArgName("threads")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

// A whole calibration of examples/ in process, its threads kept.
void BM_CalibrationOfExample(benchmark::State& state) {
  const Inputs in = read(EXAMPLES_DIR);
  Workspace workspace(threadsArg(state, 0));
  for (auto _ : state) benchmark::DoNotOptimize(calibrate(in, nullptr, &workspace).monteCarloFit.coefficients[0]);
}
BENCHMARK(BM_CalibrationOfExample)->ArgName("threads")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

// A process: `exe` run in `dir` with TARVEL_THREADS set to `threads` (0:
// unset), standard output to /dev/null; the peak resident memory of the runs.
void process(benchmark::State& state, const char* exe, const std::string& dir, int threads) {
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
      execl(exe, exe, static_cast<char*>(nullptr));
      _exit(127);
    }
    int status;
    struct rusage use;
    wait4(pid, &status, 0, &use);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) state.SkipWithError("run failed");
    peakKb = use.ru_maxrss;
  }
  state.counters["peak_MB"] = static_cast<double>(peakKb) / 1024.0;
}

// The built program on n points of order `order`, as a user runs it, with
// TARVEL_THREADS set to `threads` (0: unset, one thread a core); reports the
// peak resident memory of the run.
void programRun(benchmark::State& state, int n, int order, int threads, const char* exe = TARVEL1_EXE) {
  const std::string dir = scratch();
  writeFile(dir + "/control.dat", control(order, "100110"));
  writeFile(dir + "/points.dat", benchdata::dataFile(n));
  process(state, exe, dir, threads);
  std::system(("rm -rf " + dir).c_str());
}

// Twelve points, order 2, no drop: the calibration of bench_gsl's loop.
void BM_ProgramTwelvePoints(benchmark::State& state) { programRun(state, 12, 2, threadsArg(state, 0)); }
BENCHMARK(BM_ProgramTwelvePoints)->ArgName("threads")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

// A scratch copy of examples/.
std::string exampleDir() {
  const std::string dir = scratch();
  for (const char* name : {"control.dat", "points.dat"}) {
    std::ifstream in(std::string(EXAMPLES_DIR) + "/" + name, std::ios::binary);
    writeFile(dir + "/" + name, std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
  }
  return dir;
}

// The program on examples/ as it stands.
void exampleRun(benchmark::State& state, const char* exe, int threads) {
  const std::string dir = exampleDir();
  process(state, exe, dir, threads);
  std::system(("rm -rf " + dir).c_str());
}
void BM_ProgramExample(benchmark::State& state) { exampleRun(state, TARVEL1_EXE, threadsArg(state, 0)); }
BENCHMARK(BM_ProgramExample)->ArgName("threads")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

#if defined(GSL_REFITS_PROCESS)
// The GSL loop's process: its 10000 refits of the twelve points, and its start and end.
void BM_GslProcessTwelvePoints(benchmark::State& state) {
  const std::string dir = scratch();
  process(state, GSL_REFITS_PROCESS, dir, 1);
  std::system(("rm -rf " + dir).c_str());
}
BENCHMARK(BM_GslProcessTwelvePoints)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

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

// Another build of the program, side by side, when TARVEL1_BASELINE names one.
const bool baseline = [] {
  const char* exe = std::getenv("TARVEL1_BASELINE");
  if (exe == nullptr || *exe == '\0') return false;
  for (int threads : {1, 0}) {
    const std::string suffix = "/threads:" + std::to_string(threads);
    benchmark::RegisterBenchmark(("BM_BaselineTwelvePoints" + suffix).c_str(), [exe, threads](benchmark::State& st) {
      programRun(st, 12, 2, threads, exe);
    })->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RegisterBenchmark(("BM_BaselineExample" + suffix).c_str(), [exe, threads](benchmark::State& st) {
      exampleRun(st, exe, threads);
    })->Unit(benchmark::kMillisecond)->UseRealTime();
  }
  return true;
}();

}  // namespace

BENCHMARK_MAIN();
