// Uniform random deviate on the open interval (0, 1): the minimal-standard
// congruential sequence s -> 16807 s mod (2^31 - 1), passed through a
// 32-entry shuffle table that breaks up its serial correlations.
//
//   int seed = -911;
//   Ran1State state{};
//   double u = ran1(seed, state);   // initialises (seed 911, 8 warm-up steps), then draws
//   u = ran1(seed, state);          // next draw; seed and state carry the sequence
//
// A seed of 0 or less (or a fresh state) initialises the table again. Results lie in [4.656612875245797e-10, 0.99999988].
#pragma once

#include <climits>

namespace tarvel {

// State kept between calls, owned by the caller (a run keeps one); zero is a
// fresh state.
struct Ran1State {
  int last;          // table entry drawn by the previous call; 0: not initialised
  int shuffle[32];   // shuffle table, entry j of the table at index j - 1
};

// Inline, for a caller that draws many in a row.
inline double ran1(int& seed, Ran1State& state) {
  constexpr unsigned long long IA = 16807;
  constexpr unsigned long long IM = 2147483647;  // 2^31 - 1
  constexpr int NTAB = 32;
  constexpr int NDIV = 67108864;  // 1 + (IM - 1) div NTAB
  constexpr double AM = 4.656612875245797e-10;
  constexpr double RNMX = 0.99999988;
  // One step s -> IA * s mod IM for 0 < s <= IM, in 64 bits: 2^31 is 1 modulo
  // IM, so the product's high bits add to its low 31. This is the value of
  // Schrage's 32-bit factorisation for every such s (IM itself goes to 0),
  // in a shorter chain of dependent instructions.
  auto advance = [](int& s) {
    const unsigned long long t = IA * static_cast<unsigned long long>(s);
    unsigned long long r = (t & IM) + (t >> 31);
    r = r >= IM ? r - IM : r;
    s = static_cast<int>(r);
  };
  if (seed <= 0 || state.last == 0) {
    // -seed, but at least 1 (the most negative value negates to itself).
    seed = (seed < 0 && seed != INT_MIN) ? -seed : 1;
    // Discard 8 steps, then fill the table from its last entry down.
    for (int j = NTAB + 7; j >= 0; --j) {
      advance(seed);
      if (j < NTAB) state.shuffle[j] = seed;
    }
    state.last = state.shuffle[0];
  }
  advance(seed);
  // The previous output picks the slot; the new sequence value replaces it.
  const int j = state.last / NDIV;
  state.last = state.shuffle[j];
  state.shuffle[j] = seed;
  const double temp = AM * state.last;
  return temp < RNMX ? temp : RNMX;
}

}  // namespace tarvel
