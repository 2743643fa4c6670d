#include "stats/gammq.h"

#include "records/runtime.h"
#include "stats/gcf.h"
#include "stats/gser.h"

namespace tarvel {

double gammq(const double& a, const double& x) {
  // Written as negated tests so that a NaN argument is reported too.
  if (!(x >= 0.0) || !(a > 0.0)) pause("bad arguments in gammq");
  double gln;
  if (x < a + 1.0) {
    double gamser;
    gser(gamser, a, x, gln);
    return 1.0 - gamser;
  }
  double gammcf;
  gcf(gammcf, a, x, gln);
  return gammcf;
}

std::optional<double> gammqQuiet(double a, double x) {
  if (!(x >= 0.0) || !(a > 0.0)) return std::nullopt;
  // Inside a trial scope a pause or an error throws TrialAbandoned, and the
  // flags are put back on leaving.
  const TrialScope quiet;
  try {
    const double q = gammq(a, x);
    if (trapFlagsRaised()) return std::nullopt;
    return q;
  } catch (const TrialAbandoned&) {
    return std::nullopt;
  }
}

}  // namespace tarvel
