#include "fit/gaussj.h"

#include <cmath>
#include <cstddef>
#include <string>
#include <utility>

#include "records/runtime.h"

namespace tarvel {

namespace {

using OrderFn = void (*)(double*, std::ptrdiff_t, double*);
// By order, for any leading dimension and for the minimiser's 9.
constexpr OrderFn kOrders[10] = {nullptr,           gaussjFixed<1, 0>, gaussjFixed<2, 0>, gaussjFixed<3, 0>,
                                 gaussjFixed<4, 0>, gaussjFixed<5, 0>, gaussjFixed<6, 0>, gaussjFixed<7, 0>,
                                 gaussjFixed<8, 0>, gaussjFixed<9, 0>};
constexpr OrderFn kOrders9[10] = {nullptr,           gaussjFixed<1, 9>, gaussjFixed<2, 9>, gaussjFixed<3, 9>,
                                  gaussjFixed<4, 9>, gaussjFixed<5, 9>, gaussjFixed<6, 9>, gaussjFixed<7, 9>,
                                  gaussjFixed<8, 9>, gaussjFixed<9, 9>};

}  // namespace

void gaussj(double* mat, int nord, int ndim, double* rhs, int nrhs, int nrhsdim) {
  static_cast<void>(nrhsdim);  // only the leading nrhs columns are used
  if (nrhs == 1 && nord >= 1 && nord <= 9) {
    (ndim == 9 ? kOrders9 : kOrders)[nord](mat, ndim, rhs);
    return;
  }
  if (nord > kGaussjCapacity)
    fatalDebug(err::kSubscript, "gaussj: order " + std::to_string(nord) + " exceeds the capacity of " +
                                    std::to_string(kGaussjCapacity));
  const std::ptrdiff_t ld = ndim;
  auto m = [mat, ld](int r, int c) -> double& { return mat[(r - 1) + (c - 1) * ld]; };
  auto b = [rhs, ld](int r, int c) -> double& { return rhs[(r - 1) + (c - 1) * ld]; };

  // Pivot marks of each index, and the pivot row and column of each pass.
  int ipiv[kGaussjCapacity];
  int indxr[kGaussjCapacity];
  int indxc[kGaussjCapacity];

  for (int j = 1; j <= nord; ++j) ipiv[j - 1] = 0;

  int irow = 1;
  int icol = 1;
  for (int i = 1; i <= nord; ++i) {
    // Search the rows and columns not yet pivoted for the largest magnitude;
    // >= lets the last of equal candidates win.
    double big = 0.0;
    for (int j = 1; j <= nord; ++j) {
      if (ipiv[j - 1] == 1) continue;
      for (int k = 1; k <= nord; ++k) {
        if (ipiv[k - 1] != 0) continue;
        const double mag = std::fabs(m(j, k));
        if (mag >= big) {
          big = mag;
          irow = j;
          icol = k;
        }
      }
    }
    ipiv[icol - 1] += 1;

    // Bring the pivot onto the diagonal by exchanging rows.
    if (irow != icol) {
      for (int l = 1; l <= nord; ++l) std::swap(m(irow, l), m(icol, l));
      for (int l = 1; l <= nrhs; ++l) std::swap(b(irow, l), b(icol, l));
    }
    indxr[i - 1] = irow;
    indxc[i - 1] = icol;

    // Read through a volatile so that the division by a zero pivot is really
    // executed: the divide-by-zero trap is what ends a singular run.
    const volatile double pivot = m(icol, icol);
    if (pivot == 0.0) pause("singular matrix in gaussj");
    const double pivinv = 1.0 / pivot;

    // Scale the pivot row; the pivot position receives the reciprocal.
    m(icol, icol) = 1.0;
    for (int l = 1; l <= nord; ++l) m(icol, l) = m(icol, l) * pivinv;
    for (int l = 1; l <= nrhs; ++l) b(icol, l) = b(icol, l) * pivinv;

    // Eliminate the pivot column from every other row. Clearing (r,icol)
    // first builds the inverse in place.
    for (int r = 1; r <= nord; ++r) {
      if (r == icol) continue;
      const double dum = m(r, icol);
      m(r, icol) = 0.0;
      for (int l = 1; l <= nord; ++l) m(r, l) = m(r, l) - m(icol, l) * dum;
      for (int l = 1; l <= nrhs; ++l) b(r, l) = b(r, l) - b(icol, l) * dum;
    }
  }

  // Undo the row exchanges as column exchanges, last pass first.
  for (int l = nord; l >= 1; --l) {
    const int r = indxr[l - 1];
    const int c = indxc[l - 1];
    if (r == c) continue;
    for (int k = 1; k <= nord; ++k) std::swap(m(k, r), m(k, c));
  }
}

}  // namespace tarvel
