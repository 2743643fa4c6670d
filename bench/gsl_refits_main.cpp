// The GSL loop as a process of its own, for measuring a whole process against
// the program's: the 10000 refits of the 12-point order-2 calibration of
// bench_run's BM_ProgramTwelvePoints, and the sum of their constant terms.
#include <cstdio>
#include <vector>

#include "bench_points.h"

extern "C" double gsl_refits(const double* q, const double* uq, const double* e, const double* ue, int n,
                             double urel, int order, int trials);

int main() {
  std::vector<double> q, uq, e, ue;
  for (const benchdata::Point& p : benchdata::curvePoints(12)) {
    q.push_back(p.q);
    uq.push_back(p.uq);
    e.push_back(p.e);
    ue.push_back(p.ue);
  }
  std::printf("%.17g\n", gsl_refits(q.data(), uq.data(), e.data(), ue.data(), 12, 0.005, 2, 10000));
}
