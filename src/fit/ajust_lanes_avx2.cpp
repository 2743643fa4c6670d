// ajustLanes: the lanes on AVX2, four doubles an instruction. This file alone
// is compiled with -mavx2 (x86-64 only; see CMakeLists.txt), and is called
// only where ajustLanesAvailable() has found AVX2 on the processor. The
// operations are those of the scalar code, one lane each, so the bits are the
// same on every machine.
//
// Nothing here may be emitted as a function that other files share (an inline
// function of a header, a template instantiated elsewhere too): the linker
// could keep this AVX2 copy for the whole program. Everything below has
// internal linkage but ajustLanes; what it calls from headers (powers) is
// always inlined, and instantiated on a type of this file alone, so that a
// copy left out of line (as clang's -fsanitize=function leaves one at -O0)
// is this file's own.
#include "fit/ajust_lanes.h"

#include <cfloat>
#include <cstddef>
#include <cstring>

#include "fit/minimiser.h"
#include "fit/power.h"

#ifndef __AVX2__
#error "ajust_lanes_avx2.cpp must be compiled with -mavx2"
#endif

namespace tarvel {

namespace {

constexpr int K = kLanes;

// The tag of this file's own, internal, instantiation of powers.
struct Local {};

// A value of every lane, and a lane mask (all bits set where true). Every
// operation on them is the operation on each lane's double.
using V = double __attribute__((vector_size(K * sizeof(double))));
using Mask = long long __attribute__((vector_size(K * sizeof(long long))));

V load(const double* p) {
  V v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
V splat(double d) { return V{} + d; }
V vabs(V v) { return reinterpret_cast<V>(reinterpret_cast<Mask>(v) & 0x7fffffffffffffffLL); }
bool any(Mask m) { return __builtin_ia32_movmskpd256(reinterpret_cast<V>(m)) != 0; }

// The lanes' points: ordinates, weights, and the powers x^1 .. x^(N-1) of
// point i in lane l at pw[((i * (N - 1)) + n - 1) * K + l].
template <int N>
struct LanePoints {
  int ndata;
  const double* y;
  const double* w;
  const double* pw;

  // Chi-square and gradient at the coefficients c of every lane, and with
  // kCurvature the curvature (lower triangle of al): the point loop of
  // PolyBasis::evaluatePlain<N>, terms with a zero coefficient left out of
  // the value as there.
  template <bool kCurvature>
  void evaluate(const V (&c)[N], V (&b)[N], V& chi, V (&al)[N][N]) const {
    Mask nz[N];
    for (int n = 0; n < N; ++n) nz[n] = c[n] != 0.0;
    for (int j = 0; j < N; ++j) b[j] = V{};
    chi = V{};
    if constexpr (kCurvature)
      for (int j = 0; j < N; ++j)
        for (int k = 0; k <= j; ++k) al[j][k] = V{};
    for (int i = 0; i < ndata; ++i) {
      const V wi = splat(w[i]);
      const double* row = pw + static_cast<std::ptrdiff_t>(i) * (N - 1) * K;
      V r[N];
      for (int n = 1; n < N; ++n) r[n] = load(row + (n - 1) * K);
      V v = nz[0] ? c[0] : V{};
      for (int n = 1; n < N; ++n) {
        const V t = r[n] * c[n] + v;
        v = nz[n] ? t : v;
      }
      const V d = load(y + static_cast<std::ptrdiff_t>(i) * K) - v;
      if constexpr (kCurvature)
        for (int j = 0; j < N; ++j) {
          const V t = j == 0 ? wi : r[j] * wi;
          al[j][0] = al[j][0] + t;
          for (int k = 1; k <= j; ++k) al[j][k] = al[j][k] + t * r[k];
        }
      b[0] = b[0] + d * wi;
      for (int j = 1; j < N; ++j) b[j] = b[j] + d * (r[j] * wi);
      chi = chi + d * d * wi;
    }
  }
};

// gaussjFixed<N> on every lane's matrix m (row, column) and right-hand side
// rhs at once, without the closing column exchanges (a step uses only the
// solution). Each lane's pivot is found by the same scan; where it lies off
// the diagonal (which a damped curvature all but never gives), or is zero or
// not a number, the lanes are given up: false. With the pivot on the
// diagonal no rows are exchanged, and every other row is eliminated with the
// same operations, the pivot row's lanes keeping their values.
template <int N>
bool solveLanes(V (&m)[N][N], V (&rhs)[N]) {
  Mask done[N] = {};  // pivoted rows and columns
  for (int i = 0; i < N; ++i) {
    V big{}, pr{}, pc{};  // the pivot's magnitude, row and column
    for (int j = 0; j < N; ++j)
      for (int k = 0; k < N; ++k) {
        const V mag = vabs(m[j][k]);
        const Mask take = ~done[j] & ~done[k] & (mag >= big);
        big = take ? mag : big;
        pr = take ? splat(j) : pr;
        pc = take ? splat(k) : pc;
      }
    if (any(pr != pc)) return false;
    Mask at[N];  // the lanes whose pivot is (j, j)
    for (int j = 0; j < N; ++j) at[j] = pc == static_cast<double>(j);
    V pivot = m[0][0];
    for (int j = 1; j < N; ++j) pivot = at[j] ? m[j][j] : pivot;
    if (any(~(vabs(pivot) > 0.0))) return false;
    for (int j = 0; j < N; ++j) done[j] |= at[j];
    const V pivinv = 1.0 / pivot;
    // The pivot row, its pivot set to 1, scaled.
    V p[N];
    for (int c = 0; c < N; ++c) {
      V v = m[0][c];
      for (int j = 1; j < N; ++j) v = at[j] ? m[j][c] : v;
      p[c] = (at[c] ? splat(1.0) : v) * pivinv;
    }
    V rp = rhs[0];
    for (int j = 1; j < N; ++j) rp = at[j] ? rhs[j] : rp;
    rp = rp * pivinv;
    // Every other row: its pivot-column element cleared, then the pivot row
    // times that element taken away.
    for (int r = 0; r < N; ++r) {
      V dum = m[r][0];
      for (int c = 1; c < N; ++c) dum = at[c] ? m[r][c] : dum;
      dum = at[r] ? V{} : dum;
      for (int c = 0; c < N; ++c) {
        const V base = at[c] ? V{} : m[r][c];
        m[r][c] = at[r] ? p[c] : base - p[c] * dum;
      }
      rhs[r] = at[r] ? rp : rhs[r] - rp * dum;
    }
  }
  return true;
}

template <int N>
bool fitLanes(int ndata, const double* x, const double* y, const double* w, const double* start, double* pw,
              double (*out)[kSlots]) {
  for (int i = 0; i < ndata; ++i)
    for (int l = 0; l < K; ++l) {
      double p[N];
      powers<Local>(x[static_cast<std::ptrdiff_t>(i) * K + l], N, p);
      for (int n = 1; n < N; ++n) pw[(static_cast<std::ptrdiff_t>(i) * (N - 1) + n - 1) * K + l] = p[n];
    }
  const LanePoints<N> pts{ndata, y, w, pw};

  V a[N], beta[N], al[N][N], best, lambda;
  for (int n = 0; n < N; ++n) a[n] = splat(start[n]);

  // The starting call: chi-square, gradient and curvature at the start.
  V chi;
  pts.template evaluate<true>(a, beta, chi, al);
  if (any(~(chi <= DBL_MAX))) return false;
  best = chi;
  lambda = splat(kLambdaStart);

  // One call of the minimiser on every lane: the damped system solved; then,
  // but for the final call, the trial evaluated and, in the active lanes,
  // kept (lambda down) or refused (lambda up). A lane whose lambda has come
  // down to zero makes every call a final call, as the minimiser does: the
  // system solved, nothing else.
  auto call = [&](Mask active, bool final) {
    V m[N][N], rhs[N];
    const V damping = 1.0 + lambda;
    for (int j = 0; j < N; ++j) {
      for (int k = 0; k < N; ++k) m[j][k] = k <= j ? al[j][k] : al[k][j];
      m[j][j] = al[j][j] * damping;
      rhs[j] = beta[j];
    }
    if (!solveLanes<N>(m, rhs)) return false;
    if (final) return true;
    V trial[N], tbeta[N];
    for (int n = 0; n < N; ++n) trial[n] = a[n] + rhs[n];
    pts.template evaluate<false>(trial, tbeta, chi, al);
    const Mask stepping = active & (lambda != 0.0);
    const Mask kept = stepping & (chi < best);
    lambda = stepping ? (kept ? lambda * kLambdaAccepted : lambda * kLambdaRejected) : lambda;
    best = kept ? chi : best;
    for (int n = 0; n < N; ++n) {
      beta[n] = kept ? tbeta[n] : beta[n];
      a[n] = kept ? trial[n] : a[n];
    }
    return true;
  };

  // The starting call's step; then each lane steps through AJUST's
  // convergence loop (left < 0) and its five further steps, and waits.
  const Mask all = ~Mask{};
  if (!call(all, false)) return false;
  V prev = best;
  int pass[K], left[K];
  for (int l = 0; l < K; ++l) {
    pass[l] = 1;
    left[l] = -1;
  }
  for (Mask active = all; any(active);) {
    if (!call(active, false)) return false;
    const Mask settled = vabs(best - prev) < kAjustSettled;
    for (int l = 0; l < K; ++l) {
      if (left[l] < 0) {
        if (settled[l] != 0 || pass[l] == kAjustMaxPasses) {
          left[l] = kAjustFurtherSteps;
        } else {
          prev[l] = best[l];
          pass[l] = pass[l] + 1;
        }
      } else if (left[l] > 0) {
        left[l] = left[l] - 1;
      }
      active[l] = left[l] != 0 ? -1 : 0;
    }
  }
  // The final call's inversion of the undamped curvature.
  lambda = V{};
  if (!call(Mask{}, true)) return false;

  for (int l = 0; l < K; ++l)
    for (int n = 0; n < kSlots; ++n) out[l][n] = n < N ? a[n][l] : 0.0;
  return true;
}

using FitFn = bool (*)(int, const double*, const double*, const double*, const double*, double*, double (*)[kSlots]);
constexpr FitFn kFits[10] = {nullptr,     fitLanes<1>, fitLanes<2>, fitLanes<3>, fitLanes<4>,
                             fitLanes<5>, fitLanes<6>, fitLanes<7>, fitLanes<8>, fitLanes<9>};

}  // namespace

bool ajustLanes(int ncoef, int ndata, const double* x, const double* y, const double* weight, const double* start,
                double* scratch, double (*a)[kSlots]) {
  if (ncoef < 1 || ncoef > kSlots) return false;
  return kFits[ncoef](ndata, x, y, weight, start, scratch, a);
}

}  // namespace tarvel
