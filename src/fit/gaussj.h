// Gauss-Jordan elimination with full pivoting: solves mat * x = rhs for one
// or more right-hand sides and replaces mat by its inverse, both in place.
//
// Matrices are stored column by column: element (r,c) of mat is
// mat[(r-1) + (c-1)*ndim], element (r,c) of rhs is rhs[(r-1) + (c-1)*ndim].
// Only the leading nord x nord block of mat and the leading nord x nrhs
// block of rhs are read and written; everything else is left untouched.
//
//   double m[4] = {2, 1, 1, 3};   // ((2,1),(1,3))
//   double b[2] = {3, 5};
//   gaussj(m, 2, 2, b, 1, 1);     // b ~ (0.8, 1.4), m ~ ((0.6,-0.2),(-0.2,0.4))
//
// Pivot choice: the remaining block is scanned row by row, each row column by
// column, and an element whose magnitude is >= the largest so far becomes the
// pivot, so among equal magnitudes the last one scanned wins (for the
// identity the first pivot is (nord,nord)).
//
// A pivot that is exactly zero (the whole remaining block is zero) is shown
// as "singular matrix in gaussj" through the pause; after the operator's line
// the division by that zero pivot is carried out, and the run's
// divide-by-zero trap ends it. Nearly singular matrices are not detected.
//
// nord is limited to 50 (the capacity of the pivot lists); a larger order is
// a fatal run-time error.
#pragma once

#include <cmath>
#include <cstddef>
#include <utility>

#include "records/runtime.h"

namespace tarvel {

inline constexpr int kGaussjCapacity = 50;

void gaussj(double* mat, int nord, int ndim, double* rhs, int nrhs, int nrhsdim);

// gaussj for one right-hand side and an order N from 1 to 9 fixed when
// compiled, and a leading dimension LD too unless it is 0 (then ld): the same
// operations in the same order, with the loops unrolled and the pivot search
// without branches. gaussj itself comes here for such systems; the minimiser
// calls it directly.
template <int N, int LD>
inline void gaussjFixed(double* mat, std::ptrdiff_t ld, double* rhs) {
  // LD: the leading dimension when fixed too (0: ld).
  auto m = [mat, ld](int r, int c) -> double& { return mat[r + c * (LD != 0 ? LD : ld)]; };
  int ipiv[N] = {};
  int indxr[N];
  int indxc[N];
  int irow = 0;
  int icol = 0;
  for (int i = 0; i < N; ++i) {
    double big = 0.0;
    for (int j = 0; j < N; ++j) {
      if (ipiv[j] == 1) continue;
      for (int k = 0; k < N; ++k) {
        if (ipiv[k] != 0) continue;
        const double mag = std::fabs(m(j, k));
        const bool take = mag >= big;
        big = take ? mag : big;
        irow = take ? j : irow;
        icol = take ? k : icol;
      }
    }
    ipiv[icol] += 1;
    if (irow != icol) {
      for (int l = 0; l < N; ++l) std::swap(m(irow, l), m(icol, l));
      std::swap(rhs[irow], rhs[icol]);
    }
    indxr[i] = irow;
    indxc[i] = icol;
    const double pivot = m(icol, icol);
    double pivinv;
    if (pivot == 0.0) {
      pause("singular matrix in gaussj");
      // Through a volatile, so that the division by zero is really carried out.
      const volatile double zero = pivot;
      pivinv = 1.0 / zero;
    } else {
      pivinv = 1.0 / pivot;
    }
    m(icol, icol) = 1.0;
    for (int l = 0; l < N; ++l) m(icol, l) = m(icol, l) * pivinv;
    rhs[icol] = rhs[icol] * pivinv;
    for (int r = 0; r < N; ++r) {
      if (r == icol) continue;
      const double dum = m(r, icol);
      m(r, icol) = 0.0;
      for (int l = 0; l < N; ++l) m(r, l) = m(r, l) - m(icol, l) * dum;
      rhs[r] = rhs[r] - rhs[icol] * dum;
    }
  }
  for (int l = N - 1; l >= 0; --l) {
    const int r = indxr[l];
    const int c = indxc[l];
    if (r == c) continue;
    for (int k = 0; k < N; ++k) std::swap(m(k, r), m(k, c));
  }
}

}  // namespace tarvel
