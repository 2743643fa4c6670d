// Reference linear algebra for the tests, independent of the solver under
// test: Gaussian elimination with partial pivoting in long double.
#pragma once

#include <cmath>
#include <utility>
#include <vector>

namespace testsupport {

// Solves the n x n system `a` (row by row) for each of the columns in place;
// the inverse is the solution for the unit columns.
inline void solveLong(std::vector<long double> a, int n, std::vector<std::vector<long double>>& cols) {
  for (int p = 0; p < n; ++p) {
    int best = p;
    for (int r = p + 1; r < n; ++r)
      if (std::fabs(a[r * n + p]) > std::fabs(a[best * n + p])) best = r;
    for (int k = 0; k < n; ++k) std::swap(a[p * n + k], a[best * n + k]);
    for (auto& c : cols) std::swap(c[p], c[best]);
    for (int r = p + 1; r < n; ++r) {
      const long double f = a[r * n + p] / a[p * n + p];
      for (int k = p; k < n; ++k) a[r * n + k] -= f * a[p * n + k];
      for (auto& c : cols) c[r] -= f * c[p];
    }
  }
  for (auto& c : cols)
    for (int r = n - 1; r >= 0; --r) {
      long double s = c[r];
      for (int k = r + 1; k < n; ++k) s -= a[r * n + k] * c[k];
      c[r] = s / a[r * n + r];
    }
}

}  // namespace testsupport
