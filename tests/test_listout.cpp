// List-directed output: the free real text of both real types and the
// layout of list-directed records, including the 79-character limit. The
// expected fields are worked out by hand from the 17-digit strings of the
// values (shown in the comments).
#include <gtest/gtest.h>

#include <cfenv>
#include <cfloat>
#include <climits>
#include <cmath>
#include <iomanip>
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

TEST(FreeReal64, FieldsOf24Columns) {
  struct Case {
    double value;
    std::string field;
  };
  const double inf = std::numeric_limits<double>::infinity();
  const Case cases[] = {
      {1.5, blanks(7) + "1.500000000000000"},
      {0.5, blanks(2) + "5.000000000000000E-001"},
      {0.0, blanks(2) + "0.000000000000000E+000"},
      {-0.0, blanks(2) + "0.000000000000000E+000"},
      {12345678.0, blanks(2) + "1.234567800000000E+007"},
      {-1.5, blanks(6) + "-1.500000000000000"},
      {1.0, blanks(7) + "1.000000000000000"},
      // The fixed range ends below 10^7.
      {9999999.0, blanks(1) + "9999999.000000000000000"},
      {1.0e7, blanks(2) + "1.000000000000000E+007"},
      // 13333333333333333 -> 16 digits, cut.
      {4.0 / 3.0, blanks(7) + "1.333333333333333"},
      // 33333333333333335: the 17th digit 5 rounds up.
      {10.0 / 3.0, blanks(7) + "3.333333333333334"},
      // 33333333333333336 -> 3333333333333334, the 17th digit prints as 0.
      {100.0 / 3.0, blanks(6) + "33.333333333333340"},
      // 12345600000000000: 18 digits wanted, the last two print as 0.
      {123.456, blanks(5) + "123.456000000000000"},
      // 66666666666666663: cut at 16 digits.
      {2.0 / 3.0, blanks(2) + "6.666666666666666E-001"},
      {-0.00123, blanks(1) + "-1.230000000000000E-003"},
      // 99999999999999694: a three-digit exponent of a subnormal.
      {1e-310, blanks(2) + "9.999999999999969E-311"},
      // 17976931348623157 rounds up at the 16th digit.
      {DBL_MAX, blanks(2) + "1.797693134862316E+308"},
      {1e300, blanks(2) + "1.000000000000000E+300"},
      {inf, blanks(21) + "Inf"},
      {-inf, blanks(20) + "-Inf"},
      {std::numeric_limits<double>::quiet_NaN(), blanks(21) + "NaN"},
  };
  for (const Case& c : cases) EXPECT_EQ(freeReal64(c.value), c.field) << "64-bit " << show(c.value);
}

TEST(FreeReal32, FieldsOf15Columns) {
  struct Case {
    float value;
    std::string field;
  };
  const Case cases[] = {
      // 34999999403953552 rounds up at the 7th digit.
      {0.35f, blanks(3) + "3.500000E-01"},
      {1.5f, blanks(7) + "1.500000"},
      {-2.5f, blanks(6) + "-2.500000"},
      {0.0f, blanks(3) + "0.000000E+00"},
      // 12345675000000000: the tie at the 8th digit goes up.
      {1234567.5f, blanks(1) + "1234568.000000"},
      {9999999.0f, blanks(1) + "9999999.000000"},
      {1.0e7f, blanks(3) + "1.000000E+07"},
      // 10000000149011612 and 12299999594688416.
      {0.1f, blanks(3) + "1.000000E-01"},
      {0.0123f, blanks(3) + "1.230000E-02"},
      // 34028234663852886 and a subnormal 14012984643248171.
      {FLT_MAX, blanks(3) + "3.402823E+38"},
      {1.4e-45f, blanks(3) + "1.401298E-45"},
      {-std::numeric_limits<float>::infinity(), blanks(11) + "-Inf"},
  };
  for (const Case& c : cases) EXPECT_EQ(freeReal32(c.value), c.field) << "32-bit " << show(c.value);
}

struct RecordCase {
  const char* what;
  std::vector<ListOutItem> items;
  std::vector<std::string> records;
};

void expectRecords(const RecordCase& c) {
  const std::vector<std::string> got = listRecords(c.items);
  ASSERT_EQ(got.size(), c.records.size()) << c.what;
  for (std::size_t k = 0; k < got.size(); ++k) EXPECT_EQ(got[k], c.records[k]) << c.what << " record " << k + 1;
}

TEST(ListRecords, ProgramRecords) {
  const std::string yText = " order polynomial fit with uncertainties in y";
  const std::string xyText = " order polynomial fit with uncertainties in x and y";
  const RecordCase cases[] = {
      {"empty record", {}, {" "}},
      {"empty text", {listText("")}, {" "}},
      // Leading blank, ten blanks of the 11-column field, the digit, the text.
      {"order line y", {listInt(2), listText(yText)}, {blanks(11) + "2" + yText}},
      {"order line x and y", {listInt(3), listText(xyText)}, {blanks(11) + "3" + xyText}},
      {"reduced chi2", {listText("reduced chi2="), listReal(1.5)}, {" reduced chi2=" + blanks(7) + "1.500000000000000"}},
      {"Q", {listText("Q="), listReal32(0.35f)}, {" Q=" + blanks(3) + "3.500000E-01"}},
      // No separator blank next to the texts: the 11-column field follows
      // the first text directly, the second text follows the digits.
      {"negligible coefficient",
       {listText(" Coefficient order"), listInt(4), listText(" negligible")},
       {"  Coefficient order" + blanks(10) + "4 negligible"}},
      {"verdict", {listText(" Goodness of fit believable")}, {"  Goodness of fit believable"}},
      {"covariance title", {listText(" Covariance matrix")}, {"  Covariance matrix"}},
      {"prompt", {listText("Quenching index? (0 to stop)")}, {" Quenching index? (0 to stop)"}},
  };
  for (const RecordCase& c : cases) expectRecords(c);
  EXPECT_EQ(listRecords({listText("Quenching index? (0 to stop)")})[0].size(), 29u);
}

TEST(ListRecords, SeparatorsBetweenNumbers) {
  const RecordCase cases[] = {
      {"two integers", {listInt(1), listInt(-7)}, {blanks(11) + "1" + blanks(10) + "-7"}},
      {"extreme integers",
       {listInt(INT_MIN), listInt(INT_MAX)},
       {" -2147483648  2147483647"}},
      // Each number after another number gets one separator blank.
      {"mixed numbers",
       {listInt(1), listReal(1.5), listReal32(0.35f)},
       {blanks(11) + "1" + blanks(8) + "1.500000000000000" + blanks(4) + "3.500000E-01"}},
      // A text between two numbers cancels the separator, even an empty one.
      {"text between numbers",
       {listInt(1), listText("x"), listInt(2)},
       {blanks(11) + "1x" + blanks(10) + "2"}},
      {"empty text between numbers", {listInt(1), listText(""), listInt(2)}, {blanks(11) + "1" + blanks(10) + "2"}},
      {"text after text", {listText("ab"), listText("cd")}, {" abcd"}},
  };
  for (const RecordCase& c : cases) expectRecords(c);
}

TEST(ListRecords, SeventyNineCharacterLimit) {
  std::string text100;
  for (int k = 0; k < 100; ++k) text100 += static_cast<char>('a' + k % 26);
  std::string text200 = text100 + text100;
  const std::string six = blanks(11) + "1" + blanks(11) + "2" + blanks(11) + "3" + blanks(11) + "4" + blanks(11) +
                          "5" + blanks(11) + "6";  // 72 characters
  const std::string text78 = text100.substr(0, 78);

  const RecordCase cases[] = {
      // Seven integers: 72 + 12 > 79, the seventh goes whole to a new record
      // with its leading blank and no separator.
      {"seven integers",
       {listInt(1), listInt(2), listInt(3), listInt(4), listInt(5), listInt(6), listInt(7)},
       {six, blanks(11) + "7"}},
      // Three 64-bit reals make 75 characters; the fourth starts a new record.
      {"four reals",
       {listReal(1.5), listReal(1.5), listReal(1.5), listReal(1.5)},
       {blanks(8) + "1.500000000000000" + blanks(8) + "1.500000000000000" + blanks(8) + "1.500000000000000",
        blanks(8) + "1.500000000000000"}},
      // A text is split at the limit; its rest starts a new record after one blank.
      {"text of 100", {listText(text100)}, {" " + text100.substr(0, 78), " " + text100.substr(78)}},
      {"text of 200",
       {listText(text200)},
       {" " + text200.substr(0, 78), " " + text200.substr(78, 78), " " + text200.substr(156)}},
      {"text filling the record", {listText(text78)}, {" " + text78}},
      {"text after numbers",
       {listInt(1), listInt(2), listInt(3), listInt(4), listInt(5), listInt(6), listText("abcdefghij")},
       {six + "abcdefg", " hij"}},
      {"number after a full record", {listText(text78), listInt(5)}, {" " + text78, blanks(11) + "5"}},
  };
  for (const RecordCase& c : cases) expectRecords(c);
  EXPECT_EQ(six.size(), 72u);
  for (const RecordCase& c : cases)
    for (const std::string& r : listRecords(c.items)) EXPECT_LE(r.size(), 79u) << c.what;
}

// The record layer runs with the invalid, divide-by-zero and overflow traps
// enabled; a finite real must not raise any of them.
TEST(FreeReal, FiniteValuesRaiseNoTrappedException) {
  const double values[] = {0.0, -0.0, 1.5, 0.35, 12345678.0, 1e-310, 4.9406564584124654e-324, DBL_MIN, DBL_MAX,
                           -DBL_MAX, 9999999.999, 1.0 / 3.0};
  const float floats[] = {0.0f, -0.0f, 0.35f, 1234567.5f, 1.4e-45f, FLT_MIN, FLT_MAX, -FLT_MAX, 1.0f / 3.0f};
  std::feclearexcept(FE_ALL_EXCEPT);
  for (double v : values) {
    (void)freeReal64(v);
    (void)listRecords({listInt(1), listReal(v), listText("t"), listReal(-v)});
    EXPECT_EQ(std::fetestexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW), 0) << "64-bit free real of " << show(v);
  }
  for (float f : floats) {
    (void)freeReal32(f);
    (void)listRecords({listReal32(f), listReal32(-f)});
    EXPECT_EQ(std::fetestexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW), 0) << "32-bit free real of " << show(f);
  }
  std::feclearexcept(FE_ALL_EXCEPT);
}

TEST(WriteList, RecordsReachTheFileUnit) {
  testsupport::ScratchDir dir;
  resetUnitsForTesting();
  ASSERT_TRUE(openUnit(3, dir.file("results.txt"), Status::Unknown).ok);
  writeList(3, {});
  writeList(3, {listText("reduced chi2="), listReal(1.5)});
  writeList(3, {listInt(2), listText(" order polynomial fit with uncertainties in y")});
  closeUnit(3);
  const std::string expected =
      " \r\n"
      " reduced chi2=       1.500000000000000\r\n"
      "           2 order polynomial fit with uncertainties in y\r\n";
  const std::string got = dir.read("results.txt");
  EXPECT_EQ(got, expected) << testsupport::visible(got);
  resetUnitsForTesting();
}

}  // namespace
}  // namespace tarvel
