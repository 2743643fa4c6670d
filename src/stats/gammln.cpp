#include "stats/gammln.h"

#include "records/runtime.h"

namespace tarvel {

double gammln(const double& x) {
  static const double cof[6] = {76.18009172947146,     -86.50532032941677,
                                24.01409824083091,     -1.231739572450155,
                                0.1208650973866179e-2, -0.5395239384953e-5};
  // Leading Stirling-like part: (x + 1/2) ln(x + 11/2) - (x + 11/2).
  double z = x;
  double tmp = x + 5.5;
  tmp = (x + 0.5) * mlog(tmp) - tmp;
  // Lanczos series, one term per shifted argument.
  double ser = 1.000000000190015;
  for (int j = 0; j < 6; ++j) {
    z = z + 1.0;
    ser = ser + cof[j] / z;
  }
  return tmp + mlog(2.5066282746310005 * ser / x);
}

}  // namespace tarvel
