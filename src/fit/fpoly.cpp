#include "fit/fpoly.h"

#include "fit/power.h"

namespace tarvel {

void fpoly(const double& x, const double* a, double& yval, double* deriv, int npar) {
  // The powers x^(i-1), the terms' factors and their derivatives, with the
  // bits of the integer power (one table for the usual handful of terms).
  constexpr int kTable = 32;
  double p[kTable];
  const bool table = npar <= kTable;
  if (table) powers(x, npar, p);
  // A zero coefficient (a slot held at 0) adds an exact zero, which leaves
  // the sum's bits as they are, so its term is skipped: the sum starts at +0
  // and can never become -0, and a power large enough to turn 0 * power into
  // a NaN would have overflowed (and been trapped) while the table was made.
  yval = 0.0;
  for (int i = 1; i <= npar; ++i) {
    const double pw = table ? p[i - 1] : ipow(x, i - 1);
    if (a[i - 1] != 0.0) yval = pw * a[i - 1] + yval;
    deriv[i - 1] = pw;
  }
}

}  // namespace tarvel
