#include "stats/ran1.h"

#include <climits>

namespace tarvel {

namespace {

constexpr int IA = 16807;
constexpr int IM = 2147483647;
constexpr int IQ = 127773;  // IM div IA
constexpr int IR = 2836;    // IM mod IA
constexpr int NTAB = 32;
constexpr int NDIV = 67108864;  // 1 + (IM - 1) div NTAB
constexpr double AM = 4.656612875245797e-10;
constexpr double RNMX = 0.99999988;

Ran1State state{};

// One step s -> IA * s mod IM by Schrage's factorisation, which keeps every
// intermediate value within 32 bits.
inline void advance(int& s) {
  const int k = s / IQ;
  s = IA * (s - k * IQ) - k * IR;
  if (s < 0) s += IM;
}

}  // namespace

Ran1State& ran1State() { return state; }

double ran1(int& seed) {
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
