// Integer power of a real by binary exponentiation, the one power used by the
// polynomial basis and by the efficiency routines.
//
//   ipow(2.0, 10) == 1024.0      ipow(0.0, 0) == 1.0      ipow(x, 1) == x
//
// The bits of k are taken from the lowest up: the result is multiplied by the
// running square when the bit is set, and the base is squared only while
// higher bits remain, so no unused final squaring can overflow.
//
// Both are always inlined. ajust_lanes_avx2.cpp, compiled with AVX2, calls
// powers: an out-of-line copy of it there, shared with the other callers,
// could be the one the linker keeps for all of them. Some builds emit one all
// the same (clang's -fsanitize=function at -O0), so that file names a Local
// type of its own unnamed namespace, which gives its copy internal linkage.
#pragma once

namespace tarvel {

[[gnu::always_inline]] inline double ipow(double q, int k) {
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

// Fills p[k] = ipow(q, k) for k = 0 .. n-1 with the very same bits, at one
// multiplication a power: ipow multiplies in the square of the highest bit of
// k last, so ipow(q, k) = ipow(q, k - 2^h) * q^(2^h), where the squares are
// the ones ipow forms.
//
//   double p[4]; powers(3.0, 4, p);   // p = {1, 3, 9, 27}
//
// Local is void but in ajust_lanes_avx2.cpp (see above).
template <class Local = void>
[[gnu::always_inline]] inline void powers(double q, int n, double* p) {
  if (n <= 0) return;
  p[0] = 1.0;
  double square = q;  // q^(2^h) for the current highest bit h
  int high = 1;       // 2^h
  for (int k = 1; k < n; ++k) {
    if (k == 2 * high) {
      square *= square;
      high = k;
    }
    p[k] = p[k - high] * square;
  }
}

}  // namespace tarvel
