#include "fit/covsrt.h"

#include <algorithm>
#include <cstddef>
#include <utility>

namespace tarvel {

void covsrt(double* covar, int ndim, int npar, const int* ifit, int nfit) {
  const std::ptrdiff_t ld = ndim;
  auto c = [covar, ld](int r, int l) -> double& { return covar[(r - 1) + (l - 1) * ld]; };

  // Clear everything outside the packed block: rows nfit+1..npar of the
  // first nfit columns, and the columns beyond (one stretch of memory when
  // the matrix is exactly npar rows high).
  if (nfit < npar) {
    for (int l = 1; l <= nfit; ++l) std::fill_n(&c(nfit + 1, l), npar - nfit, 0.0);
    if (ndim == npar)
      std::fill_n(&c(1, nfit + 1), static_cast<std::ptrdiff_t>(npar - nfit) * ld, 0.0);
    else
      for (int l = nfit + 1; l <= npar; ++l) std::fill_n(&c(1, l), npar, 0.0);
  }

  // Move each packed row and column to its parameter's place, last first.
  int k = nfit;
  for (int j = npar; j >= 1; --j) {
    if (ifit[j - 1] == 0) continue;
    // A parameter already in its place (k == j) swaps nothing.
    if (k != j) {
      for (int i = 1; i <= npar; ++i) std::swap(c(i, k), c(i, j));
      for (int i = 1; i <= npar; ++i) std::swap(c(k, i), c(j, i));
    }
    k = k - 1;
  }
}

}  // namespace tarvel
