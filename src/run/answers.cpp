// The answers at many indices at once (Calibration::efficiencies): the
// arithmetic of the query loop's three answers, index by index, without its
// records, several indices in the lanes of one vector and blocks of indices
// on several threads.
//
// Every answer is summed as EFFICIENCY, SDEFFIC and MOYSDEV sum it, term by
// term in the same order, so the bits are the query loop's. Two shortcuts
// keep them: a term of a zero coefficient or covariance element, which those
// routines skip or add as an exact zero, is left out or added as a zero here;
// and a block that raised a floating-point error (an overflow, an invalid
// operation, a division by zero) is answered again through
// Calibration::answer, which reports the error as the query loop does.
#include <algorithm>
#include <cfenv>
#include <cmath>
#include <exception>
#include <thread>
#include <vector>

#include "fit/power.h"
#include "run/run.h"

namespace tarvel {

namespace {

constexpr int kPowers = 2 * kSlots - 1;  // q^0 .. q^16: what SDEFFIC's terms need
constexpr int kLanes = 8;                // indices at once in the Monte Carlo answer

// The terms of a quadratic form g'Cg, g_i = q^(i-1), in SDEFFIC's order: the
// diagonal element, then twice each one above it, row by row; zero elements
// left out.
struct Form {
  struct Term {
    int power;
    double c;
    bool twice;
  };
  Term terms[kSlots * (kSlots + 1) / 2];
  int n = 0;
  explicit Form(const Mat<double>& m) {
    for (int i = 1; i <= kSlots; ++i)
      for (int j = i; j <= kSlots; ++j)
        if (m(i, j) != 0.0) terms[n++] = {i + j - 2, m(i, j), j != i};
  }
  double variance(const double* pw) const {
    double v = 0.0;
    for (int t = 0; t < n; ++t) v = v + (terms[t].twice ? pw[terms[t].power] * terms[t].c * 2.0 : pw[terms[t].power] * terms[t].c);
    return v;
  }
};

// EFFICIENCY's sum over the nonzero coefficients a(1..9), constant term first.
double efficiency(const Vec<double>& a, const double* pw) {
  double e = 0.0;
  for (int i = 1; i <= kSlots; ++i)
    if (a(i) != 0.0) e = e + pw[i - 1] * a(i);
  return e;
}

struct Work {
  const FittedCurve& c;
  Form cov, covmc;
  const double* q;
  Answer* out;
  bool monteCarlo;
};

// The first two answers at q, as the query loop gives them.
void twoAnswers(const Work& w, double q, Answer& a) {
  double pw[kPowers];
  powers(q, kPowers, pw);
  a.q = q;
  a.y.e = efficiency(w.c.asave, pw);
  const double sdfit = std::sqrt(w.cov.variance(pw));
  a.y.u = sdfit;
  a.xy.e = efficiency(w.c.amc, pw);
  const double sdmc = std::sqrt(w.covmc.variance(pw));
  a.xy.u = std::sqrt(sdmc * sdmc + sdfit * sdfit);
}

// W doubles in a vector.
template <int W>
struct LanesOf;
template <>
struct LanesOf<2> {
  typedef double type __attribute__((vector_size(2 * sizeof(double))));
};
template <>
struct LanesOf<4> {
  typedef double type __attribute__((vector_size(4 * sizeof(double))));
};
template <>
struct LanesOf<8> {
  typedef double type __attribute__((vector_size(8 * sizeof(double))));
};

// The third answer at `count` indices (at most W) at once, one in each lane
// of a vector: the mean and the standard deviation of the trials'
// efficiencies, MOYSDEV's sums in each lane. The efficiencies are made again
// for the second sum rather than kept.
template <int W, int NC>
[[gnu::always_inline]] inline void monteCarloLanes(const FittedCurve& c, const double* q, Estimate* out, int count) {
  using Lanes = typename LanesOf<W>::type;
  Lanes p[NC];
  for (int l = 0; l < W; ++l) {
    double pw[kSlots];
    powers(l < count ? q[l] : q[0], kSlots, pw);
    for (int i = 0; i < NC; ++i) p[i][l] = pw[i];
  }
  const double* aset = c.aset.data();
  const double xn = static_cast<double>(kTrials), xn1 = xn - 1.0;
  Lanes mean = Lanes{} + 0.0, sdev = Lanes{} + 0.0, s;
  // Trial k's efficiency in every lane, into s.
#define TARVEL_SAMPLE(k) \
  s = Lanes{} + 0.0;     \
  for (int i = 0; i < NC; ++i) s = s + p[i] * aset[(k) * kSlots + i];
  for (std::ptrdiff_t k = 0; k < kTrials; ++k) {
    TARVEL_SAMPLE(k)
    mean = mean + s / xn;
  }
  for (std::ptrdiff_t k = 0; k < kTrials; ++k) {
    TARVEL_SAMPLE(k)
    const Lanes d = s - mean;
    sdev = sdev + d * d / xn1;
  }
#undef TARVEL_SAMPLE
  for (int l = 0; l < count; ++l) out[l] = {mean[l], std::sqrt(sdev[l])};
}

template <int W>
[[gnu::always_inline]] inline void monteCarloAnswers(const FittedCurve& c, const double* q, Estimate* out, int count) {
  switch (c.ncoef) {
#define TARVEL_NC(n) \
  case n:            \
    return monteCarloLanes<W, n>(c, q, out, count);
    TARVEL_NC(1) TARVEL_NC(2) TARVEL_NC(3) TARVEL_NC(4) TARVEL_NC(5) TARVEL_NC(6) TARVEL_NC(7) TARVEL_NC(8)
    TARVEL_NC(9)
#undef TARVEL_NC
  }
}

// The third answer at `count` indices, kLanes at most: in vectors of the
// fewest lanes that hold them. Compiled for the widest vectors of the
// processor too, and chosen when the program starts (not in the AFL++ build,
// whose instrumentation cannot take the clones).
#if defined(TARVEL_NO_CLONES)
#define TARVEL_CLONES
#else
#define TARVEL_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#endif
TARVEL_CLONES void monteCarloAnswers(const FittedCurve& c, const double* q, Estimate* out, int count) {
  if (count <= 2) return monteCarloAnswers<2>(c, q, out, count);
  if (count <= 4) return monteCarloAnswers<4>(c, q, out, count);
  return monteCarloAnswers<kLanes>(c, q, out, count);
}

// Compared quietly: a NaN index raises no invalid flag.
bool inRange(const FittedCurve& c, double q) { return std::islessequal(c.qmin, q) && std::islessequal(q, c.qmax); }

// Indices from..to (not included): true when no floating-point error came up.
bool answerBlock(const Work& w, std::size_t from, std::size_t to) {
  std::feclearexcept(FE_ALL_EXCEPT);
  const double nan = std::nan("");
  std::vector<double> lanes;
  std::vector<std::size_t> where;
  for (std::size_t i = from; i < to; ++i) {
    Answer& a = w.out[i];
    if (!inRange(w.c, w.q[i])) {
      a = {w.q[i], {nan, nan}, {nan, nan}, {nan, nan}};
      continue;
    }
    twoAnswers(w, w.q[i], a);
    a.mc = {nan, nan};
    if (w.monteCarlo) {
      lanes.push_back(w.q[i]);
      where.push_back(i);
    }
  }
  Estimate mc[kLanes];
  for (std::size_t l = 0; l < lanes.size(); l += kLanes) {
    const int count = static_cast<int>(std::min<std::size_t>(kLanes, lanes.size() - l));
    monteCarloAnswers(w.c, lanes.data() + l, mc, count);
    for (int k = 0; k < count; ++k) w.out[where[l + k]].mc = mc[k];
  }
  return !std::fetestexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
}

}  // namespace


void Calibration::efficiencies(std::span<const double> q, std::span<Answer> out, bool monteCarlo,
                               OutOfRange outside, int threads) const {
  if (!fitted) throw std::logic_error("a Calibration that calibrate() did not make answers nothing");
  if (q.size() != out.size()) throw std::invalid_argument("efficiencies: as many answers as indices");
  if (outside == OutOfRange::raise)
    for (double x : q)
      if (!inRange(*fitted, x)) efficiency(x);  // throws std::out_of_range
  const FpEnvironment held;
  const Work w{*fitted, Form(fitted->cov), Form(fitted->covmc), q.data(), out.data(), monteCarlo};

  // Blocks of a fraction of a millisecond's work, taken in turn by the threads.
  const std::size_t n = q.size(), block = monteCarlo ? 64 : 1 << 14;
  const std::size_t blocks = (n + block - 1) / block;
  std::vector<char> clean(blocks, 1);
  unsigned want = threads > 0 ? static_cast<unsigned>(threads) : std::max(1u, std::thread::hardware_concurrency());
  const std::size_t workers = std::min<std::size_t>(want, blocks);
  std::vector<std::exception_ptr> failed(workers + 1);
  auto runBlocks = [&](std::size_t first) {
    try {
      const FpEnvironment mine;
      for (std::size_t b = first; b < blocks; b += workers) clean[b] = answerBlock(w, b * block, std::min(n, (b + 1) * block));
    } catch (...) {
      failed[first] = std::current_exception();
    }
  };
  std::vector<std::thread> pool;
  try {
    for (std::size_t t = 1; t < workers; ++t) pool.emplace_back(runBlocks, t);
  } catch (...) {
    failed[workers] = std::current_exception();
  }
  if (!failed[workers] && workers > 0) runBlocks(0);
  for (std::thread& t : pool) t.join();
  for (const std::exception_ptr& e : failed)
    if (e) std::rethrow_exception(e);

  // A block that met a floating-point error is answered again index by
  // index, as the query loop answers: its first error is the one reported.
  for (std::size_t b = 0; b < blocks; ++b)
    if (!clean[b])
      for (std::size_t i = b * block; i < std::min(n, (b + 1) * block); ++i) {
        if (!inRange(*fitted, q[i])) continue;
        const Answer a = efficiency(q[i]);
        out[i].y = a.y;
        out[i].xy = a.xy;
        if (monteCarlo) out[i].mc = a.mc;
      }
}

}  // namespace tarvel
