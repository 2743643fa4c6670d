// The integer power and its table of powers: exact values, and the table
// giving the very bits of the one-at-a-time power.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>

#include "fit/power.h"

using tarvel::ipow;
using tarvel::powers;

TEST(Power, ExactValues) {
  struct Case {
    double q;
    int k;
    double expected;
  } cases[] = {
      {2.0, 0, 1.0},     {0.0, 0, 1.0},       {0.0, 3, 0.0},        {-2.0, 3, -8.0},      {2.0, 10, 1024.0},
      {3.0, 13, 1594323.0}, {-1.5, 4, 5.0625}, {0.5, 9, 0.001953125}, {10.0, 16, 1e16},
      // The base is squared only while higher bits remain: 2^1023 does not
      // form the square 2^2048 on the way.
      {2.0, 1023, std::ldexp(1.0, 1023)},
  };
  for (const Case& c : cases) EXPECT_EQ(ipow(c.q, c.k), c.expected) << c.q << "^" << c.k;
}

TEST(Power, RoundingFollowsTheBitsOfTheExponent) {
  // 1.1^5 by the bits of 5 is 1.1 * (1.1^2)^2, which differs in its last bit
  // from the left-to-right product 1.1*1.1*1.1*1.1*1.1.
  const double x = 1.1;
  const double x2 = x * x;
  EXPECT_EQ(ipow(x, 5), x * (x2 * x2));
  EXPECT_EQ(ipow(x, 7), (x * x2) * (x2 * x2));
  EXPECT_EQ(ipow(x, 6), x2 * (x2 * x2));
}

TEST(Power, TableHasTheBitsOfEachPower) {
  const double qs[] = {0.0, 1.0, -1.0, 1.1, 12.3, 146.7, -0.37, 1e-3, 999.999, 0.3 + 0.6 / 100.0, 1e30};
  double p[40];
  for (double q : qs) {
    powers(q, 40, p);
    for (int k = 0; k < 40; ++k) {
      const double want = ipow(q, k);
      EXPECT_EQ(std::memcmp(&p[k], &want, sizeof want), 0) << q << "^" << k << ": " << p[k] << " vs " << want;
    }
  }
}
