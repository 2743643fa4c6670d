// Standard normal deviate (mean 0, standard deviation 1) by the polar method
// on uniform deviates from ran1. Deviates come in pairs: a call that finds no
// waiting deviate draws a pair, returns one and keeps the other for the next
// call, which then returns it without touching the seed.
//
//   int seed = -911;
//   double g1 = gasdev(seed);   // draws u1, u2 from ran1 (again while rejected)
//   double g2 = gasdev(seed);   // the spare of the same pair; seed unchanged
#pragma once

namespace tarvel {

// State kept between calls, one copy for the process, zero at load.
struct GasdevState {
  int waiting;    // 1 when `spare` holds the second deviate of a pair
  double spare;
};
GasdevState& gasdevState();

double gasdev(int& seed);

}  // namespace tarvel
