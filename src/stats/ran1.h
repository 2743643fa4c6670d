// Uniform random deviate on the open interval (0, 1): the minimal-standard
// congruential sequence s -> 16807 s mod (2^31 - 1), passed through a
// 32-entry shuffle table that breaks up its serial correlations.
//
//   int seed = -911;
//   double u = ran1(seed);   // initialises (seed 911, 8 warm-up steps), then draws
//   u = ran1(seed);          // next draw; seed carries the sequence state
//
// A seed of 0 or less (or the first call of the process) initialises the
// table again. Results lie in [4.656612875245797e-10, 0.99999988].
#pragma once

namespace tarvel {

// State kept between calls, one copy for the process, zero at load.
struct Ran1State {
  int last;          // table entry drawn by the previous call; 0: not initialised
  int shuffle[32];   // shuffle table, entry j of the table at index j - 1
};
Ran1State& ran1State();

double ran1(int& seed);

}  // namespace tarvel
