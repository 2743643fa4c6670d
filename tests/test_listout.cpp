// List-directed output: the free real text of both real types and the
// layout of list-directed records, including the 79-character limit. The
// expected fields are worked out by hand from the 17-digit strings of the
// values (shown in the comments).
#include <gtest/gtest.h>

#include <cfenv>
#include <cfloat>
#include <climits>
#include <iomanip>
#include <iterator>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "records/listout.h"
#include "records/units.h"
#include "support.h"

namespace tarvel {
namespace {

std::string show(double v) {
  std::ostringstream s;
  s << std::setprecision(17) << v;
  return s.str();
}

std::string blanks(std::size_t n) { return std::string(n, ' '); }

TEST(FreeReal, Fields) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct { double value; std::string field; } reals64[] = {
      {1.5, blanks(7) + "1.500000000000000"}, {0.5, blanks(2) + "5.000000000000000E-001"},
      {0.0, blanks(2) + "0.000000000000000E+000"}, {-0.0, blanks(2) + "0.000000000000000E+000"},
      {12345678.0, blanks(2) + "1.234567800000000E+007"}, {-1.5, blanks(6) + "-1.500000000000000"},
      // The fixed range ends below 10^7.
      {9999999.0, blanks(1) + "9999999.000000000000000"}, {1.0e7, blanks(2) + "1.000000000000000E+007"},
      // 33333333333333335: the 17th digit rounds up; 66666666666666663: cut.
      {10.0 / 3.0, blanks(7) + "3.333333333333334"}, {2.0 / 3.0, blanks(2) + "6.666666666666666E-001"},
      // 33333333333333336: 16 digits kept, the 17th prints as 0; 12345600000000000: 18 wanted, 2 print as 0.
      {100.0 / 3.0, blanks(6) + "33.333333333333340"}, {123.456, blanks(5) + "123.456000000000000"},
      // 99999999999999694: a three-digit exponent of a subnormal; 17976931348623157 rounds up.
      {1e-310, blanks(2) + "9.999999999999969E-311"}, {DBL_MAX, blanks(2) + "1.797693134862316E+308"},
      {-0.00123, blanks(1) + "-1.230000000000000E-003"},
      {inf, blanks(21) + "Inf"}, {-inf, blanks(20) + "-Inf"},
      {std::numeric_limits<double>::quiet_NaN(), blanks(21) + "NaN"},
  };
  // The record layer runs with the invalid, divide-by-zero and overflow traps
  // enabled: writing a real must raise none of them.
  std::feclearexcept(FE_ALL_EXCEPT);
  for (const auto& c : reals64) EXPECT_EQ(freeReal64(c.value), c.field) << "64-bit " << show(c.value);
  const struct { float value; std::string field; } reals32[] = {
      // 34999999403953552 rounds up at the 7th digit; 12345675000000000: the tie at the 8th goes up.
      {0.35f, blanks(3) + "3.500000E-01"}, {1234567.5f, blanks(1) + "1234568.000000"},
      {-2.5f, blanks(6) + "-2.500000"}, {0.0f, blanks(3) + "0.000000E+00"},
      {9999999.0f, blanks(1) + "9999999.000000"}, {1.0e7f, blanks(3) + "1.000000E+07"},
      // 34028234663852886 and a subnormal 14012984643248171.
      {FLT_MAX, blanks(3) + "3.402823E+38"}, {1.4e-45f, blanks(3) + "1.401298E-45"},
      {-std::numeric_limits<float>::infinity(), blanks(11) + "-Inf"},
  };
  for (const auto& c : reals32) EXPECT_EQ(freeReal32(c.value), c.field) << "32-bit " << show(c.value);
  EXPECT_EQ(std::fetestexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW), 0) << "flag raised writing the reals above";
  std::feclearexcept(FE_ALL_EXCEPT);
}

std::vector<ListOutItem> ints(int n, std::vector<ListOutItem> more = {}) {
  std::vector<ListOutItem> items;
  for (int k = 1; k <= n; ++k) items.push_back(listInt(k));
  items.insert(items.end(), more.begin(), more.end());
  return items;
}

TEST(ListRecords, Layout) {
  const std::string yText = " order polynomial fit with uncertainties in y";
  const std::string r15 = blanks(8) + "1.500000000000000";  // a 64-bit 1.5 after another number
  std::string text100, six;                                  // six integers make 72 characters
  for (int k = 0; k < 100; ++k) text100 += static_cast<char>('a' + k % 26);
  for (int k = 1; k <= 6; ++k) six += blanks(11) + std::to_string(k);
  const std::string text78 = text100.substr(0, 78);
  const struct { std::vector<ListOutItem> items; std::vector<std::string> records; } cases[] = {
      {{}, {" "}},
      {{listText("")}, {" "}},
      // Leading blank, ten blanks of the 11-column field, the digit, the text.
      {{listInt(2), listText(yText)}, {blanks(11) + "2" + yText}},
      {{listText("reduced chi2="), listReal(1.5)}, {" reduced chi2=" + blanks(7) + "1.500000000000000"}},
      {{listText("Q="), listReal32(0.35f)}, {" Q=" + blanks(3) + "3.500000E-01"}},
      // No blank next to a text: the 11-column field follows the first text, the second text the digit.
      {{listText(" Coefficient order"), listInt(4), listText(" negligible")},
       {"  Coefficient order" + blanks(10) + "4 negligible"}},
      {{listText("Quenching index? (0 to stop)")}, {" Quenching index? (0 to stop)"}},
      // One separator blank between numbers; a text between them, even an empty one, cancels it.
      {{listInt(INT_MIN), listInt(INT_MAX)}, {" -2147483648  2147483647"}},
      {{listInt(1), listReal(1.5), listReal32(0.35f)}, {blanks(11) + "1" + r15 + blanks(4) + "3.500000E-01"}},
      {{listInt(1), listText("x"), listInt(2)}, {blanks(11) + "1x" + blanks(10) + "2"}},
      {{listInt(1), listText(""), listInt(2)}, {blanks(11) + "1" + blanks(10) + "2"}},
      {{listText("ab"), listText("cd")}, {" abcd"}},
      // At most 79 characters: a number that does not fit goes whole to a new
      // record, without separator; a text is split, its rest after one blank.
      {ints(7), {six, blanks(11) + "7"}},
      {{listReal(1.5), listReal(1.5), listReal(1.5), listReal(1.5)}, {r15 + r15 + r15, r15}},
      {{listText(text100)}, {" " + text78, " " + text100.substr(78)}},
      {{listText(text78)}, {" " + text78}},
      {ints(6, {listText("abcdefghij")}), {six + "abcdefg", " hij"}},
      {{listText(text78), listInt(5)}, {" " + text78, blanks(11) + "5"}},
  };
  for (std::size_t n = 0; n < std::size(cases); ++n) {
    EXPECT_EQ(listRecords(cases[n].items), cases[n].records) << "case " << n + 1;
  }
}

TEST(WriteList, RecordsReachTheFileUnit) {
  testsupport::ScratchDir dir;
  resetUnitsForTesting();
  ASSERT_TRUE(openUnit(3, dir.file("results.txt"), Status::Unknown).ok);
  writeList(3, {});
  writeList(3, {listInt(2), listText(" order polynomial fit with uncertainties in y")});
  closeUnit(3);
  const std::string got = dir.read("results.txt");
  EXPECT_EQ(got, " \r\n           2 order polynomial fit with uncertainties in y\r\n") << testsupport::visible(got);
  resetUnitsForTesting();
}

}  // namespace
}  // namespace tarvel
