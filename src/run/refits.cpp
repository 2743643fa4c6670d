// The Monte Carlo refits and the residual table's spreads on every core. The
// work is the one-thread run's, done ahead: nothing a worker does is seen
// before the main thread takes it over in the run's own order, and whatever
// would have ended the run is done again in its turn, the one-thread way.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "fit/ajust.h"
#include "fit/ajust_lanes.h"
#include "fit/fpoly.h"
#include "fit/power.h"
#include "records/runtime.h"
#include "run/run.h"
#include "stats/calib.h"
#include "stats/gasdev.h"

namespace tarvel {

namespace {

constexpr int kMaxThreads = 256;
// A block holds the draws of at most kMaxBlock trials and, unless that
// leaves fewer than two trials a thread, at most kBlockBytes of them; two
// blocks are held at a time.
constexpr int kMaxBlock = 2048;
constexpr int kFirstBlock = 128;
constexpr long long kBlockBytes = 4LL << 20;
// The trials of a chunk are refitted kLanes at a time when the threads' lanes
// of points take at most this many doubles.
constexpr long long kLaneDoubles = 8LL << 20;

// Waits until ready() holds: first spinning for up to kSpin, then yielding
// the processor to any other thread that wants it up to kYield, then
// sleeping on `word` while it still equals `seen`. A thread that sleeps can
// take the better part of a millisecond to wake on a virtual machine, longer
// than a block of trials takes: during a run the threads stay awake, without
// keeping a thread that shares their processor from its work.
constexpr auto kSpin = std::chrono::microseconds(50);
constexpr auto kYield = std::chrono::milliseconds(3);

template <class Ready, class Word, class Value>
void await(Ready ready, const Word& word, Value seen) {
  const auto start = std::chrono::steady_clock::now();
  for (unsigned n = 1; !ready(); ++n) {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
    if (n % 64 != 0) continue;
    const auto waited = std::chrono::steady_clock::now() - start;
    if (waited > kYield) {
      while (!ready()) word.wait(seen);
      return;
    }
    if (waited > kSpin) std::this_thread::yield();
  }
}

int resolvedThreads(const RunState& s) { return s.threads > 0 ? std::min(s.threads, kMaxThreads) : threadCount(); }

// Hands out the items 0 .. count-1 in chunks to the threads of a job.
class Chunks {
 public:
  // Chunks of a multiple of `unit` items.
  void reset(int count, int threads, int unit = 1) {
    count_ = count;
    chunk_ = std::clamp(count / (threads * 16), 1, 16);
    chunk_ = (chunk_ + unit - 1) / unit * unit;
    next_.store(0);
  }
  // Hands out nothing more.
  void cancel() { next_.store(count_); }
  // The next chunk [begin, end), or false when none is left.
  bool next(int& begin, int& end) {
    begin = next_.fetch_add(chunk_);
    end = std::min(begin + chunk_, count_);
    return begin < count_;
  }

 private:
  int count_ = 0, chunk_ = 1;
  std::atomic<int> next_{0};
};

// One trial's perturbed points from its deviates, taken from deviate() in
// order: the trial's common deviate, then for each point that of its
// quenching index and that of its efficiency; point i at qfit(i * stride).
template <class Deviate>
void perturb(const RunState& s, Deviate deviate, double* qfit, double* efit, double* sfit, int stride = 1) {
  const double* qe = s.qe.data();
  const double* uqe = s.uqe.data();
  const double* e = s.e.data();
  const double* ue = s.ue.data();
  const double rdev = deviate() * s.urel;
  for (int i = 0; i < s.npt; ++i) {
    const double gq = deviate();
    qfit[i * stride] = qe[i] + uqe[i] * gq;
    const double ge = deviate();
    efit[i * stride] = e[i] * (1.0 + rdev) + ue[i] * ge;
    if (sfit != nullptr) sfit[i] = ue[i];
  }
}

}  // namespace

// A few threads that run one job at a time together with the thread that
// hands it out, which is job index 0.
class WorkerPool {
 public:
  explicit WorkerPool(int threads) {
    for (int i = 1; i < threads; ++i) {
      try {
        workers_.emplace_back([this, i] { loop(i); });
      } catch (...) {
        break;  // fewer threads than asked for: the work is shared all the same
      }
    }
  }
  ~WorkerPool() {
    stop_ = true;
    generation_.fetch_add(1);
    generation_.notify_all();
    for (std::thread& t : workers_) t.join();
  }
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  int size() const { return static_cast<int>(workers_.size()) + 1; }

  // The workers begin the job; finish() has the caller join it and waits
  // for all. run() is both.
  void start(const std::function<void(int)>& job) {
    job_ = &job;
    pending_.store(static_cast<int>(workers_.size()));
    generation_.fetch_add(1);
    generation_.notify_all();
  }
  void finish() {
    (*job_)(0);
    for (int left = pending_.load(); left != 0; left = pending_.load())
      await([this] { return pending_.load() == 0; }, pending_, left);
  }
  void run(const std::function<void(int)>& job) {
    start(job);
    finish();
  }

 private:
  void loop(int index) {
    unsigned seen = 0;
    for (;;) {
      await([this, seen] { return generation_.load() != seen; }, generation_, seen);
      seen = generation_.load();
      if (stop_) return;
      (*job_)(index);
      if (pending_.fetch_sub(1) == 1) pending_.notify_one();
    }
  }

  std::vector<std::thread> workers_;
  const std::function<void(int)>* job_ = nullptr;
  std::atomic<unsigned> generation_{0};
  std::atomic<int> pending_{0};
  std::atomic<bool> stop_{false};
};

// The residual table's spreads of every point, computed by the threads of a
// pool: start() sets the workers on them, finish() has the calling thread
// join them and waits.
class SpreadWork {
 public:
  SpreadWork(RunState& s, WorkerPool& pool);
  ~SpreadWork();
  SpreadWork(const SpreadWork&) = delete;
  SpreadWork& operator=(const SpreadWork&) = delete;
  void start();
  void finish();

  Vec<double> mean, sdev;  // of point i
  Vec<int> ok;             // 1: went through; 0: to be computed in its turn

 private:
  void spread(int i, View<double> sample);

  RunState& s;
  WorkerPool& pool;
  Vec<double> samples;  // each thread's kTrials efficiencies
  std::unique_ptr<Chunks> chunks;
  std::function<void(int)> job;
  bool running = false;
};

int threadCount() {
  if (const char* v = std::getenv("TARVEL_THREADS"); v != nullptr && *v != '\0') {
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(v, &end, 10);
    if (*end == '\0' && errno == 0 && n >= 1 && n <= kMaxThreads) return static_cast<int>(n);
  }
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : static_cast<int>(std::min<unsigned>(cores, kMaxThreads));
}

WorkerPool* runPool(RunState& s) {
  const int threads = resolvedThreads(s);
  if (!s.pool || s.pool->size() > threads) s.pool = std::make_shared<WorkerPool>(threads);
  return s.pool.get();
}

bool efficienciesBounded(const RunState& s, const double* a) {
  // Every term and every partial sum of the efficiency stays below the sum
  // of qpow(j) * |a(j)|, within rounding; 2^1019 leaves room for both.
  constexpr double kLimit = 0x1p1019;
  double sum = 0.0;
  for (int j = 0; j < kSlots; ++j) {
    const double c = std::fabs(a[j]);
    if (c == 0.0) continue;
    const double m = s.qpow[j];
    if (c > 1.0 && m > kLimit / c) return false;
    const double term = m * c;
    if (!(term <= kLimit)) return false;
    sum = sum + term;
    if (!(sum <= kLimit)) return false;
  }
  return true;
}

// ---------------------------------------------------------------- trials

struct ParallelTrials::Impl {
  struct Result {
    double a[kSlots];
    double chi2;
    int niter;
    bool ok;
  };
  // The draws of a block of trials: the points of the unit disc that gasdev
  // turns into deviates, in order, and a deviate left over from before the
  // block. Each trial takes 1 + 2 npt deviates of this stream.
  struct Block {
    int first = 0, count = 0;
    bool hasLead = false;
    double lead = 0.0;
    Vec<double> disc;  // v1, v2 of point p at 2p, 2p + 1
  };

  RunState& s;
  WorkerPool& pool;
  int blockSize = 1;
  int perTrial = 1;  // deviates a trial takes
  Block blocks[2];
  int current = 0;  // the block being taken
  bool started = false;
  // Per block: the results, the hand-out of its trials and the job.
  Vec<Result> results[2];
  Chunks chunks[2];
  std::function<void(int)> jobs[2];
  Vec<double> scratch;  // each thread's perturbed points: qfit and efit, 2 npt from 2 npt * index
  // Refits kLanes at a time: the weights of the points, and each thread's
  // lanes of points (x, y and the powers) and factors of the disc's points,
  // laneSize from laneSize * index.
  bool lanes = false;
  long long laneSize = 0;
  Vec<double> weight, laneScratch;

  Impl(RunState& st, WorkerPool& workers) : s(st), pool(workers) {
    perTrial = iadd(imul(2, s.npt), 1);
    // Per trial, the two coordinates of half a point of the disc a deviate.
    const long long bytes = (static_cast<long long>(perTrial) + 1) * static_cast<long long>(sizeof(double));
    blockSize = static_cast<int>(std::min<long long>(kMaxBlock, std::max(kBlockBytes / bytes, 2LL * pool.size())));
    for (Block& b : blocks) b.disc.allocate(iadd(imul(blockSize, perTrial), 3));
    scratch.allocate(imul(imul(2, s.npt), pool.size()));
    laneSize = 2LL * s.npfit * kLanes + ajustLanesScratch(s.ncoef, s.npfit) + factorsOfLanes();
    lanes = ajustLanesAvailable() && laneSize * pool.size() <= kLaneDoubles && s.npfit == s.npt && s.ncoef >= 1 &&
            s.ncoef <= kSlots;
    // Weights that cannot overflow or divide by zero (the main thread's traps are on).
    for (int i = 1; i <= s.npfit && lanes; ++i) lanes = PolyBasis::bounded(0.0, s.ue(i), kSlots);
    if (lanes) {
      weight.allocate(s.npfit);
      for (int i = 0; i < s.npfit; ++i) {
        const double sig = s.ue.data()[i];
        weight.data()[i] = 1.0 / (sig * sig);
      }
      laneScratch.allocate(static_cast<int>(laneSize * pool.size()));
    }
    for (int c = 0; c < 2; ++c) {
      results[c].allocate(blockSize);
      jobs[c] = [this, c](int index) { fitBlock(c, index); };
    }
  }

  // Draws the points of the disc for the block of trials from `first` on, in
  // order on the one random sequence, and leaves gasdev as the trials' own
  // calls would.
  void draw(Block& b, int first, int size) {
    b.first = first;
    b.count = std::min(size, kTrials - first + 1);
    GasdevState& g = gasdevState();
    b.hasLead = g.waiting != 0;
    b.lead = g.spare;
    const long long fresh = static_cast<long long>(b.count) * perTrial - (b.hasLead ? 1 : 0);
    const long long points = (fresh + 1) / 2;
    double* disc = b.disc.data();
    gasdevPoints(s.seed, points, disc);
    const double* last = disc + 2 * (points - 1);
    g.spare = last[0] * gasdevFactor(last[0], last[1]);
    g.waiting = fresh % 2 == 1 ? 1 : 0;
  }

  // Trial k's perturbed points from its deviates: those gasdev gives in turn.
  void trialPoints(const Block& b, int k, double* qfit, double* efit, double* sfit) const {
    long long d = static_cast<long long>(k - b.first) * perTrial - (b.hasLead ? 1 : 0);
    const double* disc = b.disc.data();
    double fac = 0.0;
    long long facPoint = -1;  // the point whose factor fac is
    auto next = [&]() -> double {
      const long long at = d++;
      if (at < 0) return b.lead;
      const long long p = at / 2;
      const double* point = disc + 2 * p;
      if (p != facPoint) {
        fac = gasdevFactor(point[0], point[1]);
        facPoint = p;
      }
      return at % 2 == 0 ? point[1] * fac : point[0] * fac;
    };
    perturb(s, next, qfit, efit, sfit);
  }

  // Refits the trials of block c on thread `index`; the main thread first
  // draws the block after it.
  void fitBlock(int c, int index) {
    const TrialScope trial;
    const Block& b = blocks[c];
    if (index == 0 && b.first + b.count <= kTrials) draw(blocks[1 - c], b.first + b.count, blockSize);
    double* const qfit = scratch.data() + static_cast<std::size_t>(2 * s.npt) * static_cast<std::size_t>(index);
    double* const efit = qfit + s.npt;
    double covar[kSlots * kSlots];
    int begin, end;
    while (chunks[c].next(begin, end)) {
      for (int t = begin; t < end;) {
        const int k = b.first + t;
        const int n = std::min(kLanes, end - t);
        // The last trial is fitted alone: the run keeps its covariance.
        if (lanes && n >= 2 && k + n - 1 < kTrials) {
          fitLanes(c, k, n, index, qfit, efit, covar);
          t += n;
        } else {
          fit(c, k, qfit, efit, covar);
          t += 1;
        }
      }
    }
  }

  // The disc's points that kLanes trials draw on, at most.
  long long factorsOfLanes() const { return static_cast<long long>(kLanes) * perTrial / 2 + 2; }

  // Refits the n trials from k on, kLanes at a time (the last lanes again
  // the last trial); if any would not go through, each again on its own.
  void fitLanes(int c, int k, int n, int index, double* qfit, double* efit, double* covar) {
    const Block& b = blocks[c];
    double* const x = laneScratch.data() + laneSize * index;
    double* const y = x + static_cast<std::ptrdiff_t>(s.npfit) * kLanes;
    double* const powers = y + static_cast<std::ptrdiff_t>(s.npfit) * kLanes;
    double* const fac = powers + ajustLanesScratch(s.ncoef, s.npfit);
    double a[kLanes][9];
    bool ok = true;
    try {
      // The factors of the disc's points p0 .. p1 that the trials' deviates
      // come from, all at once; then each trial's points, as trialPoints
      // makes them.
      const long long lead = b.hasLead ? 1 : 0;
      const long long d0 = static_cast<long long>(k - b.first) * perTrial - lead;
      const long long d1 = static_cast<long long>(k + n - b.first) * perTrial - lead;
      const long long p0 = std::max(d0, 0LL) / 2;
      const double* disc = b.disc.data();
      gasdevFactors(disc + 2 * p0, (d1 - 1) / 2 - p0 + 1, fac);
      for (int l = 0; l < kLanes; ++l) {
        long long d = static_cast<long long>(k + std::min(l, n - 1) - b.first) * perTrial - lead;
        auto next = [&]() -> double {
          const long long at = d++;
          if (at < 0) return b.lead;
          const long long p = at / 2;
          return (at % 2 == 0 ? disc[2 * p + 1] : disc[2 * p]) * fac[p - p0];
        };
        perturb(s, next, x + l, y + l, nullptr, kLanes);
      }
      for (int i = 0; i < s.npfit * kLanes; ++i) ok = ok & PolyBasis::bounded(x[i], s.ue.data()[i / kLanes], kSlots);
      ok = ok && ajustLanes(s.ncoef, s.npfit, x, y, weight.data(), s.asave.data(), powers, a) && !trapFlagsRaised();
    } catch (const TrialAbandoned&) {
      ok = false;
    }
    if (!ok) {
      clearTrapFlags();
      for (int l = 0; l < n; ++l) fit(c, k + l, qfit, efit, covar);
      return;
    }
    for (int l = 0; l < n; ++l) {
      Result r;
      std::memcpy(r.a, a[l], sizeof r.a);
      r.chi2 = 0.0;
      r.niter = 0;
      r.ok = efficienciesBounded(s, r.a);
      results[c].data()[k + l - b.first] = r;
    }
  }

  // Starts the refits of block c on the workers.
  void launch(int c) {
    chunks[c].reset(blocks[c].count, pool.size(), lanes ? kLanes : 1);
    pool.start(jobs[c]);
  }

  void fit(int c, int k, double* qfit, double* efit, double* covar) {
    const Block& b = blocks[c];
    // The fit works on this thread's own copy; the block's result is written
    // once at the end (the results of neighbouring trials share cache lines).
    Result r;
    int ifit[kSlots];
    for (int j = 0; j < kSlots; ++j) {
      r.a[j] = j < s.ncoef ? s.asave.data()[j] : 0.0;
      ifit[j] = j < s.ncoef ? 1 : 0;
    }
    try {
      trialPoints(b, k, qfit, efit, nullptr);
      AJUST(qfit, efit, s.ue.data(), s.npfit, r.a, kSlots, covar, r.chi2, r.niter, ifit);
      r.ok = !trapFlagsRaised() && efficienciesBounded(s, r.a);
    } catch (const TrialAbandoned&) {
      r.ok = false;
    }
    if (!r.ok) clearTrapFlags();
    if (r.ok && k == kTrials) std::memcpy(s.covtrial.data(), covar, sizeof(double) * kSlots * kSlots);
    results[c].data()[k - b.first] = r;
  }

  Turn take(int k) {
    if (!started) {
      started = true;
      // A short first block, so that the threads start soon.
      draw(blocks[0], k, std::min(blockSize, kFirstBlock));
      launch(0);
    } else if (k >= blocks[current].first + blocks[current].count) {
      current = 1 - current;
    }
    const Block& b = blocks[current];
    const Result* const res = results[current].data();
    if (k == b.first) {
      // Join the block's refits (drawing the next block first) and wait for
      // them; then start the next block, which the workers fit while this
      // one is taken over.
      pool.finish();
      if (b.first + b.count <= kTrials) launch(1 - current);
      // The coefficients of the trials that went through, into aset.
      for (int t = 0; t < b.count; ++t)
        if (res[t].ok) std::memcpy(s.aset.column(b.first + t), res[t].a, sizeof(double) * s.ncoef);
    }
    const Result& r = res[k - b.first];
    if (!r.ok || k == kTrials) trialPoints(b, k, s.qfit.data(), s.efit.data(), s.sfit.data());
    // A trial that would have ended the run does so here, the one-thread way:
    // in its draws above (traps on), or in its fit.
    if (!r.ok) return Turn::refit;
    if (k == kTrials) {
      // The run keeps the last trial's values.
      for (int j = 1; j <= kSlots; ++j) {
        s.a(j) = r.a[j - 1];
        s.ifit(j) = j <= s.ncoef ? 1 : 0;
      }
      s.chi2 = r.chi2;
      s.niter = r.niter;
      // aset is complete: the threads start on the residual table's spreads
      // while the main thread reports.
      s.spreads = std::make_shared<SpreadWork>(s, pool);
      s.spreads->start();
    }
    return Turn::fitted;
  }
};

ParallelTrials::ParallelTrials(RunState& s) {
  // The largest power of every slot over the points, for efficienciesBounded.
  double p[kSlots];
  for (double& m : s.qpow) m = 0.0;
  for (int i = 1; i <= s.npt; ++i) {
    powers(s.qe(i), kSlots, p);
    for (int j = 0; j < kSlots; ++j) s.qpow[j] = std::max(s.qpow[j], std::fabs(p[j]));
  }
  // Spreads of an earlier Monte Carlo phase that nobody took.
  if (s.spreads) s.spreads.reset();
  impl_ = std::make_unique<Impl>(s, *runPool(s));
}

ParallelTrials::~ParallelTrials() = default;

Turn ParallelTrials::take(int k) { return impl_->take(k); }

// ---------------------------------------------------------------- spreads

SpreadWork::SpreadWork(RunState& st, WorkerPool& workers) : s(st), pool(workers) {
  mean.allocate(s.npt);
  sdev.allocate(s.npt);
  ok.allocate(s.npt);
  samples.allocate(imul(kTrials, pool.size()));
  chunks = std::make_unique<Chunks>();
  chunks->reset(s.npt, pool.size());
  job = [this](int index) {
    const TrialScope trial;
    const View<double> sample{samples.data() + static_cast<std::size_t>(kTrials) * index, kTrials};
    int begin, end;
    while (chunks->next(begin, end))
      for (int i = begin; i < end; ++i) spread(i, sample);
  };
}

// Spreads that nobody takes are not computed further.
SpreadWork::~SpreadWork() {
  chunks->cancel();
  finish();
}

void SpreadWork::start() {
  pool.start(job);
  running = true;
}

void SpreadWork::finish() {
  if (!running) return;
  pool.finish();
  running = false;
}

void SpreadWork::spread(int i, View<double> sample) {
  try {
    efficiencies(sample.p, s.aset.column(1), kSlots, kTrials, s.qe.data()[i], kSlots);
    MOYSDEV(View<const double>{sample.p, kTrials}, mean.data()[i], sdev.data()[i], kTrials);
    ok.data()[i] = trapFlagsRaised() ? 0 : 1;
  } catch (const TrialAbandoned&) {
    ok.data()[i] = 0;
  }
  if (ok.data()[i] == 0) clearTrapFlags();
}

TrialSpreads::TrialSpreads(RunState& s) : s_(s) {
  work_ = std::move(s.spreads);
  if (!work_) {
    work_ = std::make_shared<SpreadWork>(s, *runPool(s));
    work_->start();
  }
  work_->finish();
}

TrialSpreads::~TrialSpreads() = default;

void TrialSpreads::take(int i) const {
  if (work_->ok(i) != 0) {
    s_.emean = work_->mean(i);
    s_.esd = work_->sdev(i);
    return;
  }
  const double q = s_.qe(i);
  double* const sample = s_.esample.data();
  for (int k = 1; k <= kTrials; ++k)
    EFFICIENCY(sample[k - 1], View<const double>{s_.aset.column(k), kSlots}, q, kSlots);
  MOYSDEV(View<const double>{sample, kTrials}, s_.emean, s_.esd, kTrials);
}

}  // namespace tarvel
