// Evaluation of a fitted calibration polynomial: the efficiency at a
// quenching index, its standard deviation from a coefficient covariance
// matrix, and the mean and sample standard deviation of a set of values.
//
// Coefficient i (from 1) multiplies qidx^(i-1). Every sum accumulates term by
// term in its output argument; subscripts are checked against the sizes the
// views carry and integer arithmetic against overflow (fatal $DEBUG errors).
//
//   coef = (0.5, -0.01, 0, ...):   EFFICIENCY(eff, coef, 10.0, 9)   -> eff = 0.4
//   covm = ((4, 1), (1, 9)):       SDEFFIC(covm, 2.0, sdeff, 2)     -> sdeff = sqrt(44)
//   sample = (1, 2, 3, 4):         MOYSDEV(sample, mean, sdev, 4)   -> 2.5, sqrt(5/3)
#pragma once

#include <cstddef>

#include "records/runtime.h"

namespace tarvel {

// eff = sum over i = 1..nc of qidx^(i-1) * coef(i), constant term first.
void EFFICIENCY(double& eff, View<const double> coef, const double& qidx, int nc);

// EFFICIENCY at one qidx for count coefficient sets, set k (from 0) at
// coefs + k * ld: eff[k] has the bits EFFICIENCY gives for that set, the
// powers of qidx being made once for all.
void efficiencies(double* eff, const double* coefs, std::ptrdiff_t ld, int count, double qidx, int nc);

// sdeff = sqrt(g' C g) with g_i = qidx^(i-1), reading only the diagonal and
// the upper triangle of the symmetric covm (nc x nc leading block).
void SDEFFIC(View2<const double> covm, const double& qidx, double& sdeff, int nc);

// mean and sample standard deviation (divisor ns - 1) of sample(1..ns); each
// term is divided before it is added.
void MOYSDEV(View<const double> sample, double& mean, double& sdev, int ns);

}  // namespace tarvel
