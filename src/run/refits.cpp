// The Monte Carlo refits and the residual table's spreads on every core. The
// work is the one-thread run's, done ahead: nothing a worker does is seen
// before the main thread takes it over in the run's own order, and whatever
// would have ended the run is done again in its turn, the one-thread way.
#include <fenv.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
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
void perturb(const Points& p, Deviate deviate, double* qfit, double* efit, int stride = 1) {
  const double* qe = p.qe.data();
  const double* uqe = p.uqe.data();
  const double* e = p.e.data();
  const double* ue = p.ue.data();
  const double rdev = deviate() * p.urel;
  for (int i = 0; i < p.npt; ++i) {
    const double gq = deviate();
    qfit[i * stride] = qe[i] + uqe[i] * gq;
    const double ge = deviate();
    efit[i * stride] = e[i] * (1.0 + rdev) + ue[i] * ge;
  }
}

}  // namespace

// A few threads that run one job at a time together with the thread that
// hands it out, which is job index 0.
class WorkerPool {
 public:
  explicit WorkerPool(int threads) {
    for (int i = 1; i < std::min(threads, kMaxThreads); ++i) {
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
  // Waits for the workers' part of the job under way, without joining it.
  void wait() {
    for (int left = pending_.load(); left != 0; left = pending_.load())
      await([this] { return pending_.load() == 0; }, pending_, left);
  }

 private:
  void loop(int index) {
    // No traps, whatever the thread that made the pool had: a worker's
    // floating-point errors are found by the checks of its trials.
    fenv_t env;
    feholdexcept(&env);
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
  SpreadWork(Run& s, WorkerPool& pool);
  ~SpreadWork();
  SpreadWork(const SpreadWork&) = delete;
  SpreadWork& operator=(const SpreadWork&) = delete;
  void start();
  void finish();

  Vec<double> mean, sdev;  // of point i
  Vec<int> ok;             // 1: went through; 0: to be computed in its turn

 private:
  void spread(int i, View<double> sample);

  Run& s;
  WorkerPool& pool;
  Vec<double> samples;  // each thread's kTrials efficiencies
  std::unique_ptr<Chunks> chunks;
  std::function<void(int)> job;
  bool running = false;
};

struct Workspace::Impl {
  explicit Impl(int threads)
      : pool(threads > 0 ? threads
                         : std::max(1, static_cast<int>(std::min<unsigned>(std::thread::hardware_concurrency(),
                                                                           kMaxThreads)))) {}
  WorkerPool pool;
  std::atomic<bool> busy{false};  // a calibration works on the pool
};

Workspace::Workspace(int threads) : impl_(std::make_unique<Impl>(threads)) {}

Workspace::~Workspace() = default;

int Workspace::threads() const { return impl_->pool.size(); }

WorkspaceHold::WorkspaceHold(Workspace& w) : w_(w) {
  bool idle = false;
  if (!w.impl().busy.compare_exchange_strong(idle, true, std::memory_order_acquire))
    throw std::logic_error("tarvel::Workspace: another calibration is still running on this workspace");
}

WorkspaceHold::~WorkspaceHold() { w_.impl().busy.store(false, std::memory_order_release); }

WorkerPool& WorkspaceHold::pool() const { return w_.impl().pool; }

bool efficienciesBounded(const Run& s, const double* a) {
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

    // Trial k's deviates, in the order gasdev gives them: the block's lead,
    // then the two of each point of the disc (v2 * factor first, then
    // v1 * factor), factor(p) giving the factor of point p.
    template <class Factor>
    auto deviates(int k, long long perTrial, Factor factor) const {
      long long d = static_cast<long long>(k - first) * perTrial - (hasLead ? 1 : 0);
      return [this, d, factor]() mutable -> double {
        const long long at = d++;
        if (at < 0) return lead;
        const long long p = at / 2;
        const double* point = disc.data() + 2 * p;
        return (at % 2 == 0 ? point[1] : point[0]) * factor(p);
      };
    }
    // The disc point that trial k's deviate number `at` (from 0) comes from.
    long long pointOf(int k, long long perTrial, long long at = 0) const {
      return std::max(static_cast<long long>(k - first) * perTrial - (hasLead ? 1 : 0) + at, 0LL) / 2;
    }
  };

  Run& s;
  const Points& pts;
  WorkerPool& pool;
  int ncoef;
  int blockSize = 1;
  int perTrial = 1;  // deviates a trial takes
  Block blocks[2];
  int current = 0;  // the block being taken
  bool started = false;
  bool inFlight = false;  // the workers may be on a block
  // Per block: the results, the hand-out of its trials and the job.
  Vec<Result> results[2];
  Chunks chunks[2];
  std::function<void(int)> jobs[2];
  Vec<double> scratch;  // each thread's perturbed points: qfit and efit, 2 npt from 2 npt * index
  Vec<double> qfit, efit;  // a trial to be refitted on the main thread
  // Refits kLanes at a time: the weights of the points, and each thread's
  // lanes of points (x, y and the powers) and factors of the disc's points,
  // laneSize from laneSize * index.
  bool lanes = false;
  long long laneSize = 0;
  Vec<double> weight, laneScratch;

  Impl(Run& st, WorkerPool& workers) : s(st), pts(st.pts), pool(workers), ncoef(st.fit->ncoef) {
    const int npt = pts.npt;
    perTrial = iadd(imul(2, npt), 1);
    // Per trial, the two coordinates of half a point of the disc a deviate.
    const long long bytes = (static_cast<long long>(perTrial) + 1) * static_cast<long long>(sizeof(double));
    blockSize = static_cast<int>(std::min<long long>(kMaxBlock, std::max(kBlockBytes / bytes, 2LL * pool.size())));
    for (Block& b : blocks) b.disc.allocate(iadd(imul(blockSize, perTrial), 3));
    scratch.allocate(imul(imul(2, npt), pool.size()));
    qfit.allocate(npt);
    efit.allocate(npt);
    laneSize = 2LL * npt * kLanes + ajustLanesScratch(ncoef, npt) + factorsOfLanes();
    lanes = ajustLanesAvailable() && laneSize * pool.size() <= kLaneDoubles && ncoef >= 1 && ncoef <= kSlots;
    // Weights that cannot overflow or divide by zero.
    for (int i = 1; i <= npt && lanes; ++i) lanes = PolyBasis::bounded(0.0, pts.ue(i), kSlots);
    if (lanes) {
      weight.allocate(npt);
      for (int i = 0; i < npt; ++i) {
        const double sig = pts.ue.data()[i];
        weight.data()[i] = 1.0 / (sig * sig);
      }
      laneScratch.allocate(static_cast<int>(laneSize * pool.size()));
    }
    for (int c = 0; c < 2; ++c) {
      results[c].allocate(blockSize);
      jobs[c] = [this, c](int index) { fitBlock(c, index); };
    }
  }

  // A block that the workers are still on is given up before its memory is.
  ~Impl() {
    if (!inFlight) return;
    for (Chunks& c : chunks) c.cancel();
    pool.wait();
  }

  // Draws the points of the disc for the block of trials from `first` on, in
  // order on the one random sequence, and leaves gasdev as the trials' own
  // calls would.
  void draw(Block& b, int first, int size) {
    b.first = first;
    b.count = std::min(size, kTrials - first + 1);
    GasdevState& g = s.normal;
    b.hasLead = g.waiting != 0;
    b.lead = g.spare;
    const long long fresh = static_cast<long long>(b.count) * perTrial - (b.hasLead ? 1 : 0);
    const long long points = (fresh + 1) / 2;
    double* disc = b.disc.data();
    gasdevPoints(s.seed, s.uniform, points, disc);
    const double* last = disc + 2 * (points - 1);
    g.spare = last[0] * gasdevFactor(last[0], last[1]);
    g.waiting = fresh % 2 == 1 ? 1 : 0;
  }

  // Trial k's perturbed points from its deviates, each point's factor formed
  // as it is reached.
  void trialPoints(const Block& b, int k, double* q, double* e) const {
    const double* disc = b.disc.data();
    double fac = 0.0;
    long long facPoint = -1;  // the point whose factor fac is
    auto factor = [&fac, &facPoint, disc](long long p) {
      if (p != facPoint) {
        fac = gasdevFactor(disc[2 * p], disc[2 * p + 1]);
        facPoint = p;
      }
      return fac;
    };
    perturb(pts, b.deviates(k, perTrial, std::ref(factor)), q, e);
  }

  // Refits the trials of block c on thread `index`; the main thread first
  // draws the block after it.
  void fitBlock(int c, int index) {
    const TrialScope trial;
    const Block& b = blocks[c];
    if (index == 0 && b.first + b.count <= kTrials) draw(blocks[1 - c], b.first + b.count, blockSize);
    double* const q = scratch.data() + static_cast<std::size_t>(2 * pts.npt) * static_cast<std::size_t>(index);
    double* const e = q + pts.npt;
    int begin, end;
    while (chunks[c].next(begin, end)) {
      // The run's own thread gives the block up when the run is asked to stop.
      if (index == 0 && s.stopAsked()) chunks[c].cancel();
      for (int t = begin; t < end;) {
        const int k = b.first + t;
        const int n = std::min(kLanes, end - t);
        if (lanes && n >= 2) {
          fitLanes(c, k, n, index, q, e);
          t += n;
        } else {
          fit(c, k, q, e);
          t += 1;
        }
      }
    }
  }

  // The disc's points that kLanes trials draw on, at most.
  long long factorsOfLanes() const { return static_cast<long long>(kLanes) * perTrial / 2 + 2; }

  // Refits the n trials from k on, kLanes at a time (the last lanes again
  // the last trial); if any would not go through, each again on its own.
  void fitLanes(int c, int k, int n, int index, double* q, double* e) {
    const Block& b = blocks[c];
    const int npt = pts.npt;
    double* const x = laneScratch.data() + laneSize * index;
    double* const y = x + static_cast<std::ptrdiff_t>(npt) * kLanes;
    double* const powers = y + static_cast<std::ptrdiff_t>(npt) * kLanes;
    double* const fac = powers + ajustLanesScratch(ncoef, npt);
    double a[kLanes][kSlots];
    bool ok = true;
    try {
      // The factors of the disc's points p0 .. p1 that the trials' deviates
      // come from, all at once; then each trial's points, as trialPoints
      // makes them.
      const long long p0 = b.pointOf(k, perTrial);
      const long long p1 = b.pointOf(k + n - 1, perTrial, perTrial - 1);
      gasdevFactors(b.disc.data() + 2 * p0, p1 - p0 + 1, fac);
      auto factor = [fac, p0](long long p) { return fac[p - p0]; };
      for (int l = 0; l < kLanes; ++l) perturb(pts, b.deviates(k + std::min(l, n - 1), perTrial, factor), x + l, y + l, kLanes);
      for (int i = 0; i < npt * kLanes; ++i) ok = ok & PolyBasis::bounded(x[i], pts.ue.data()[i / kLanes], kSlots);
      ok = ok && ajustLanes(ncoef, npt, x, y, weight.data(), s.fit->asave.data(), powers, a) && !trapFlagsRaised();
    } catch (const TrialAbandoned&) {
      ok = false;
    }
    if (!ok) {
      clearTrapFlags();
      for (int l = 0; l < n; ++l) fit(c, k + l, q, e);
      return;
    }
    for (int l = 0; l < n; ++l) {
      Result r;
      std::memcpy(r.a, a[l], sizeof r.a);
      r.ok = efficienciesBounded(s, r.a);
      results[c].data()[k + l - b.first] = r;
    }
  }

  // Starts the refits of block c on the workers.
  void launch(int c) {
    chunks[c].reset(blocks[c].count, pool.size(), lanes ? kLanes : 1);
    pool.start(jobs[c]);
    inFlight = true;
  }

  void fit(int c, int k, double* q, double* e) {
    const Block& b = blocks[c];
    // The fit works on this thread's own copy; the block's result is written
    // once at the end (the results of neighbouring trials share cache lines).
    Result r;
    int ifit[kSlots];
    double covar[kSlots * kSlots], chi2;
    int niter;
    for (int j = 0; j < kSlots; ++j) {
      r.a[j] = j < ncoef ? s.fit->asave.data()[j] : 0.0;
      ifit[j] = j < ncoef ? 1 : 0;
    }
    try {
      trialPoints(b, k, q, e);
      AJUST(q, e, pts.ue.data(), pts.npt, r.a, kSlots, covar, chi2, niter, ifit);
      r.ok = !trapFlagsRaised() && efficienciesBounded(s, r.a);
    } catch (const TrialAbandoned&) {
      r.ok = false;
    }
    if (!r.ok) clearTrapFlags();
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
      inFlight = false;
      s.stopIfAsked();
      if (b.first + b.count <= kTrials) launch(1 - current);
      // The coefficients of the trials that went through, into aset.
      for (int t = 0; t < b.count; ++t)
        if (res[t].ok) std::memcpy(s.fit->aset.column(b.first + t), res[t].a, sizeof(double) * ncoef);
    }
    const Result& r = res[k - b.first];
    // A trial that would have ended the run does so here, the one-thread way:
    // in its draws (on this thread), or in its fit.
    if (!r.ok) {
      trialPoints(b, k, qfit.data(), efit.data());
      return Turn::refit;
    }
    if (k == kTrials) {
      // aset is complete: the threads start on the residual table's spreads
      // while the main thread reports.
      s.spreads = std::make_shared<SpreadWork>(s, pool);
      s.spreads->start();
    }
    return Turn::fitted;
  }
};

ParallelTrials::ParallelTrials(Run& s) {
  // The largest power of every slot over the points, for efficienciesBounded.
  double p[kSlots];
  for (double& m : s.qpow) m = 0.0;
  for (int i = 1; i <= s.pts.npt; ++i) {
    powers(s.pts.qe(i), kSlots, p);
    for (int j = 0; j < kSlots; ++j) s.qpow[j] = std::max(s.qpow[j], std::fabs(p[j]));
  }
  // Spreads of an earlier Monte Carlo phase that nobody took.
  if (s.spreads) s.spreads.reset();
  impl_ = std::make_unique<Impl>(s, s.pool);
}

ParallelTrials::~ParallelTrials() = default;

Turn ParallelTrials::take(int k) { return impl_->take(k); }

TrialPoints ParallelTrials::points() const { return {impl_->qfit.data(), impl_->efit.data(), impl_->pts.ue.data()}; }

// ---------------------------------------------------------------- spreads

SpreadWork::SpreadWork(Run& st, WorkerPool& workers) : s(st), pool(workers) {
  mean.allocate(s.pts.npt);
  sdev.allocate(s.pts.npt);
  ok.allocate(s.pts.npt);
  samples.allocate(imul(kTrials, pool.size()));
  chunks = std::make_unique<Chunks>();
  chunks->reset(s.pts.npt, pool.size());
  job = [this](int index) {
    const TrialScope trial;
    const View<double> sample{samples.data() + static_cast<std::size_t>(kTrials) * index, kTrials};
    int begin, end;
    while (chunks->next(begin, end)) {
      if (index == 0 && s.stopAsked()) chunks->cancel();
      for (int i = begin; i < end; ++i) spread(i, sample);
    }
  };
}

// Spreads that nobody takes are not computed further.
SpreadWork::~SpreadWork() {
  chunks->cancel();
  if (running) pool.wait();
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
    efficiencies(sample.p, s.fit->aset.column(1), kSlots, kTrials, s.pts.qe.data()[i], kSlots);
    MOYSDEV(View<const double>{sample.p, kTrials}, mean.data()[i], sdev.data()[i], kTrials);
    ok.data()[i] = trapFlagsRaised() ? 0 : 1;
  } catch (const TrialAbandoned&) {
    ok.data()[i] = 0;
  }
  if (ok.data()[i] == 0) clearTrapFlags();
}

TrialSpreads::TrialSpreads(Run& s) : s_(s) {
  work_ = std::move(s.spreads);
  if (!work_) {
    work_ = std::make_shared<SpreadWork>(s, s.pool);
    work_->start();
  }
  work_->finish();
  s.stopIfAsked();
}

TrialSpreads::~TrialSpreads() = default;

std::pair<double, double> TrialSpreads::take(int i) const {
  if (work_->ok(i) != 0) return {work_->mean(i), work_->sdev(i)};
  const double q = s_.pts.qe(i);
  Vec<double> sample(kTrials);
  for (int k = 1; k <= kTrials; ++k)
    EFFICIENCY(sample(k), View<const double>{s_.fit->aset.column(k), kSlots}, q, kSlots);
  double mean, sdev;
  MOYSDEV(View<const double>{sample.data(), kTrials}, mean, sdev, kTrials);
  return {mean, sdev};
}

}  // namespace tarvel
