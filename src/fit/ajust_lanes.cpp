#include "fit/ajust_lanes.h"

// The lanes themselves (ajustLanes) are in ajust_lanes_avx2.cpp, compiled
// with AVX2 where the build targets x86-64 (TARVEL_LANES_AVX2 is then set
// here). This file is compiled for any processor: it tells at run time whether
// this one has AVX2, and elsewhere the trials are fitted one by one.

namespace tarvel {

#if defined(TARVEL_LANES_AVX2)
bool ajustLanesAvailable() { return __builtin_cpu_supports("avx2"); }
#else
bool ajustLanesAvailable() { return false; }
bool ajustLanes(int, int, const double*, const double*, const double*, const double*, double*, double (*)[kSlots]) {
  return false;
}
#endif

long long ajustLanesScratch(int ncoef, int ndata) {
  return static_cast<long long>(ndata) * (ncoef > 1 ? ncoef - 1 : 1) * kLanes;
}

}  // namespace tarvel
