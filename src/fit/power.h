// Integer power of a real by binary exponentiation, the one power used by the
// polynomial basis and by the efficiency routines.
//
//   ipow(2.0, 10) == 1024.0      ipow(0.0, 0) == 1.0      ipow(x, 1) == x
//
// The bits of k are taken from the lowest up: the result is multiplied by the
// running square when the bit is set, and the base is squared only while
// higher bits remain, so no unused final squaring can overflow.
#pragma once

namespace tarvel {

inline double ipow(double q, int k) {
  double result = 1.0;
  double base = q;
  unsigned bits = static_cast<unsigned>(k);
  while (bits != 0) {
    if (bits & 1u) result *= base;
    bits >>= 1;
    if (bits != 0) base *= base;
  }
  return result;
}

}  // namespace tarvel
