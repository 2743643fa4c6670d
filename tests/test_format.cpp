// Formatted records: the Iw and Fw.d editors and the format walk (groups,
// pending blanks, the end of a statement, format reversion), pinned to exact
// bytes. Expected fields are derived by hand from the 17-digit strings of the
// values (shown in the comments).
#include <gtest/gtest.h>

#include <cfenv>
#include <cfloat>
#include <climits>
#include <iomanip>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "records/format.h"
#include "records/units.h"
#include "support.h"

namespace tarvel {
namespace {

std::string show(double v) {
  std::ostringstream s;
  s << std::setprecision(17) << v;
  return s.str();
}

TEST(EditF, Fields) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct { double value; int w, d; const char* field; } cases[] = {
      // 12345000000000000: the tie goes up; 99995999999999996 carries out of the first digit.
      {0.12345, 6, 4, " .1235"}, {0.99996, 6, 4, "1.0000"}, {1.0, 5, 4, "*****"}, {1.0, 6, 4, "1.0000"},
      // Rounds to zero, or lies below the last decimal: no minus sign.
      {-0.00004, 6, 4, " .0000"}, {-1e-10, 6, 4, " .0000"},
      // 12500000000000000: the tie goes up; 26749999999999998: below the tie.
      {0.125, 5, 2, "  .13"}, {2.675, 5, 2, " 2.67"},
      // No zero before the point.
      {0.5, 6, 4, " .5000"}, {0.1234, 5, 4, ".1234"}, {0.0, 7, 2, "    .00"}, {-0.0, 7, 2, "    .00"},
      {-0.25, 6, 4, "-.2500"},
      // d = 0: "0." only when nothing is left before the point.
      {0.4, 3, 0, " 0."}, {-0.4, 3, 0, " 0."}, {0.6, 3, 0, " 1."}, {-0.6, 3, 0, "-1."}, {2.5, 3, 0, " 3."},
      {0.04, 3, 0, "  ."},
      // Rounding to no digit: 50000000000000001 carries, 48999999999999998 does not.
      {0.005, 4, 2, " .01"}, {0.0049, 4, 2, " .00"},
      // 99960000000000004 carries into a new digit: -10.00 needs 6 columns.
      {-9.996, 5, 2, "*****"}, {-9.996, 6, 2, "-10.00"}, {-1e300, 10, 2, "**********"},
      {DBL_MAX, 8, 2, "********"}, {1e-310, 6, 2, "   .00"}, {4.9406564584124654e-324, 10, 3, "      .000"},
      // 12345678901234568: 16 digits kept (...457), the 17th and 18th print as 0.
      {123456789012345678.0, 22, 1, "  123456789012345700.0"},
      // Infinities and NaN: a marker right-justified, or asterisks when too narrow.
      {inf, 6, 2, "   Inf"}, {-inf, 6, 2, "  -Inf"}, {std::numeric_limits<double>::quiet_NaN(), 6, 2, "   NaN"},
      {inf, 3, 0, "Inf"}, {-inf, 3, 0, "***"},
  };
  // The record layer runs with the invalid, divide-by-zero and overflow traps
  // enabled: editing must raise none of them.
  for (const auto& c : cases) {
    std::feclearexcept(FE_ALL_EXCEPT);
    EXPECT_EQ(editF(c.value, c.w, c.d), c.field) << "F" << c.w << "." << c.d << " of " << show(c.value);
    EXPECT_EQ(std::fetestexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW), 0) << "flag raised by " << show(c.value);
  }
  std::feclearexcept(FE_ALL_EXCEPT);
}

TEST(EditI, RightJustifiedOrAsterisks) {
  const struct { int value, w; const char* field; } cases[] = {
      {10, 1, "*"}, {-1, 1, "*"}, {7, 1, "7"}, {0, 3, "  0"}, {-42, 4, " -42"}, {-42, 3, "-42"}, {-42, 2, "**"},
      {INT_MIN, 11, "-2147483648"}, {INT_MIN, 10, "**********"}, {INT_MAX, 10, "2147483647"},
  };
  for (const auto& c : cases) EXPECT_EQ(editI(c.value, c.w), c.field) << "I" << c.w << " of " << c.value;
}

struct RecordCase {
  const char* fmt;
  std::vector<FmtItem> items;
  std::vector<std::string> records;
};

void expectRecords(const RecordCase& c) { EXPECT_EQ(formatRecords(c.fmt, c.items), c.records) << c.fmt; }

TEST(FormatRecords, ProgramFormats) {
  const RecordCase cases[] = {
      {"(1X,'Q index',2X,' Effic',4X,' sdev')", {}, {" Q index   Effic     sdev"}},
      {"(1X,F7.2,2X,F6.2,2X,F6.2)", {12.5, 100.0 * 0.8534, 100.0 * 0.0123}, {"   12.50   85.34    1.23"}},
      // 94999999999999996 and 11999999999999999.
      {"(1X,'a(',I1,')',F12.8,1X,F12.8)", {1, 0.95, 0.0012}, {" a(1)   .95000000    .00120000"}},
      {"(1X,'Q-index',3X,'e-exp',3X,'e-calc',2X,'sdev',4X,'MC')", {}, {" Q-index   e-exp   e-calc  sdev    MC"}},
      {"(1X,F7.2,2X,F6.4,2X,F6.4,2X,F5.4,2X,F5.4)",
       {45.2, 0.9512, 0.9498, 0.0031, 0.0029},
       {"   45.20   .9512   .9498  .0031  .0029"}},
      {"(3X,'QE',8X,'e',8X,'Ue')", {}, {"   QE        e        Ue"}},
      {"(1X,F8.4,2X,F6.4,2X,F6.4)", {35.5, 0.8123, 0.0042}, {"  35.5000   .8123   .0042"}},
      // 52299999999999997 rounds up at the fourth digit.
      {"(1X,'Quenching index:',2X,F7.2,2X,'Detection efficiency:',F6.4,1X,'+/-',F6.4)",
       {52.3, 0.9123, 0.0021},
       {" Quenching index:    52.30  Detection efficiency: .9123 +/- .0021"}},
  };
  for (const RecordCase& c : cases) expectRecords(c);
}

TEST(FormatRecords, CovarianceRowsAndReversion) {
  std::vector<FmtItem> nine;
  std::string eight = " ";  // F13.7 of 1 to 8, each but the last followed by a blank
  for (int k = 1; k <= 9; ++k) nine.emplace_back(static_cast<double>(k));
  for (int k = 1; k <= 8; ++k) eight += "    " + std::to_string(k) + ".0000000" + (k < 8 ? " " : "");
  const RecordCase cases[] = {
      // Three values: no trailing blank after the last field.
      {"(1X,8(F13.7,1X))", {1.0, -2.5, 0.0000125}, {"     1.0000000    -2.5000000      .0000125"}},
      // Nine values: the ninth alone on a second record, without leading blank.
      {"(1X,8(F13.7,1X))", nine, {eight, "    9.0000000"}},
      // No group: reversion to the whole format, as often as needed.
      {"(1X,I3)", {1, 2, 3}, {"   1", "   2", "   3"}},
      // Reversion to the group, then on to the end of the format.
      {"(1X,'A',2(I2),'B')", {1, 2, 3, 4, 5}, {" A 1 2B", " 3 4B", " 5"}},
      // The last group of the outermost level, not the first.
      {"(1X,2(I2),'|',3(I3))", {1, 2, 3, 4, 5, 6, 7}, {"  1 2|  3  4  5", "  6  7"}},
      // A nested group repeats inside the group that reversion returns to.
      {"(1X,2(I1,2('-')))", {1, 2, 3}, {" 1--2--", "3--"}},
  };
  for (const RecordCase& c : cases) expectRecords(c);
}

TEST(FormatRecords, StatementEndsAndPendingBlanks) {
  const RecordCase cases[] = {
      // No item for the first data descriptor: the literals before it are written.
      {"(1X,'a(',I1,')',F12.8)", {}, {" a("}},
      // A literal after the last value is written; the statement stops at F12.8.
      {"(1X,'a(',I1,')',F12.8)", {4}, {" a(4)"}},
      // Pending blanks are dropped at the end of the statement.
      {"(1X,I2,5X,I2)", {7}, {"  7"}},
      {"(1X,I2,5X)", {7}, {"  7"}},
      {"(1X,I2)", {}, {""}},
      // A format without data descriptor ends at its closing parenthesis.
      {"(1X,'hello')", {1, 2}, {" hello"}},
      // Blanks inside a literal count; a doubled apostrophe is one apostrophe.
      {"('  it''s  ')", {}, {"  it's  "}},
      // Repeat count on a data descriptor, blanks and lower case in the format.
      {"(1X,3I2)", {1, 2, 3}, {"  1 2 3"}},
      {" ( 1x , f6.2 , 2x, i3 )", {1.5, -4}, {"   1.50   -4"}},
      // The text after the closing parenthesis is the next format: ignored.
      {"(1X,8(F13.7,1X))(1X,'a(',I1,')',F12.8,1X,F12.8)", {2.0, 3.0}, {"     2.0000000     3.0000000"}},
      {"(1X,I3)junk '(", {5}, {"   5"}},
      // An overflowing field does not end the statement.
      {"(1X,I1,F5.4,'|')", {10, 1.0}, {" ******|"}},
  };
  for (const RecordCase& c : cases) expectRecords(c);
}

TEST(FormatRecords, IllFormedFormatsThrow) {
  const std::pair<const char*, std::vector<FmtItem>> bad[] = {
      {"", {}}, {"1X", {}}, {"(1X", {}}, {"(1X,'abc)", {}}, {"(Q5)", {}}, {"(F5)", {1.0}}, {"(I)", {1}},
      {"(0(I2))", {1}}, {"(2'a')", {}},
      {"(F5.2)", {1}}, {"(I3)", {1.5}},  // an integer for F, a real for I
      {"(I3,2('x'))", {1, 2}},           // reversion would return to a part that consumes no value
  };
  for (const auto& [fmt, items] : bad) {
    EXPECT_THROW(formatRecords(fmt, items), std::invalid_argument) << "format \"" << fmt << "\"";
  }
}

// A statement whose items come from a loop, then a one-call statement, into a
// file unit: each record is written whole and ended with CR LF.
TEST(FormattedWrite, RecordsReachTheFileUnit) {
  testsupport::ScratchDir dir;
  resetUnitsForTesting();
  ASSERT_TRUE(openUnit(3, dir.file("results.txt"), Status::Unknown).ok);
  FormattedWrite row(3, "(1X,8(F13.7,1X))(1X,'a(',I1,')',F12.8,1X,F12.8)");
  for (int m = 1; m <= 9; ++m) row.item(m * 0.5);
  row.end();
  writeFormatted(3, "(3X,'QE',8X,'e',8X,'Ue')", {});
  closeUnit(3);
  const std::string expected =
      "      .5000000     1.0000000     1.5000000     2.0000000     2.5000000     3.0000000     3.5000000"
      "     4.0000000\r\n"
      "    4.5000000\r\n"
      "   QE        e        Ue\r\n";
  const std::string got = dir.read("results.txt");
  EXPECT_EQ(got, expected) << testsupport::visible(got);
  resetUnitsForTesting();
}

}  // namespace
}  // namespace tarvel
