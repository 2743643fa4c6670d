#include "stats/ran1.h"

namespace tarvel {

namespace {
Ran1State state{};
}  // namespace

Ran1State& ran1State() { return state; }

double ran1(int& seed) { return ran1(seed, state); }

}  // namespace tarvel
