// Formatted records: the Iw and Fw.d editors and the format walk (groups,
// pending blanks, the end of a statement, format reversion), pinned to exact
// bytes. Expected fields are derived by hand from the 17-digit strings of the
// values (shown in the comments).
#include <gtest/gtest.h>

#include <cfenv>
#include <cfloat>
#include <climits>
#include <cmath>
#include <iomanip>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>
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

struct FCase {
  double value;
  int w;
  int d;
  const char* field;
};

TEST(EditF, FieldsOfTheRecordLayer) {
  const double inf = std::numeric_limits<double>::infinity();
  const FCase cases[] = {
      // 12345000000000000: the tie at the fifth digit goes up.
      {0.12345, 6, 4, " .1235"},
      // 99995999999999996: carry out of the first digit, 1.0000.
      {0.99996, 6, 4, "1.0000"},
      {1.0, 5, 4, "*****"},
      {1.0, 6, 4, "1.0000"},
      // Rounds to zero: no minus sign.
      {-0.00004, 6, 4, " .0000"},
      // 12500000000000000: tie goes up; 26749999999999998: below the tie.
      {0.125, 5, 2, "  .13"},
      {2.675, 5, 2, " 2.67"},
      {0.5, 6, 4, " .5000"},
      {0.1234, 5, 4, ".1234"},
      {0.0, 7, 2, "    .00"},
      {-0.0, 7, 2, "    .00"},
      {-0.25, 6, 4, "-.2500"},
      // Echo line of a calibration point (percent values).
      {12.5, 7, 2, "  12.50"},
      {100.0 * 0.8534, 6, 2, " 85.34"},
      {100.0 * 0.0123, 6, 2, "  1.23"},
      // Coefficient line: 94999999999999996 and 11999999999999999.
      {0.95, 12, 8, "   .95000000"},
      {0.0012, 12, 8, "   .00120000"},
      // Residual table row.
      {45.2, 7, 2, "  45.20"},
      {0.9512, 6, 4, " .9512"},
      {0.9498, 6, 4, " .9498"},
      {0.0031, 5, 4, ".0031"},
      {0.0029, 5, 4, ".0029"},
      // Curve table row.
      {35.5, 8, 4, " 35.5000"},
      {0.8123, 6, 4, " .8123"},
      {0.0042, 6, 4, " .0042"},
      // Answer line: 52299999999999997 rounds up at the fourth digit.
      {52.3, 7, 2, "  52.30"},
      {0.9123, 6, 4, " .9123"},
      {0.0021, 6, 4, " .0021"},
      // d = 0: "0." only when nothing is left before the point.
      {0.4, 3, 0, " 0."},
      {-0.4, 3, 0, " 0."},
      {0.6, 3, 0, " 1."},
      {-0.6, 3, 0, "-1."},
      {2.5, 3, 0, " 3."},
      {0.0, 3, 0, " 0."},
      {0.04, 3, 0, "  ."},
      // n = 0: 50000000000000001 rounds to "1" with a carry.
      {0.005, 4, 2, " .01"},
      {0.0049, 4, 2, " .00"},
      // n < 0: a point and d zeros, unsigned.
      {-1e-10, 6, 4, " .0000"},
      {4.9406564584124654e-324, 10, 3, "      .000"},
      // 99960000000000004 carries into a new digit: -10.00 needs 6 columns.
      {-9.996, 5, 2, "*****"},
      {-9.996, 6, 2, "-10.00"},
      // 12345678901234568: 16 digits kept (...457), the 17th and 18th print as 0.
      {123456789012345678.0, 22, 1, "  123456789012345700.0"},
      {-1e300, 10, 2, "**********"},
      {1.0e20, 25, 2, " 100000000000000000000.00"},
      // Infinities and NaN: a marker right-justified, or asterisks when too narrow.
      {inf, 6, 2, "   Inf"},
      {-inf, 6, 2, "  -Inf"},
      {std::numeric_limits<double>::quiet_NaN(), 6, 2, "   NaN"},
      {inf, 3, 0, "Inf"},
      {-inf, 3, 0, "***"},
      {inf, 2, 0, "**"},
  };
  for (const FCase& c : cases) {
    EXPECT_EQ(editF(c.value, c.w, c.d), c.field)
        << "F" << c.w << "." << c.d << " of " << show(c.value);
  }
}

TEST(EditI, RightJustifiedOrAsterisks) {
  struct ICase {
    int value;
    int w;
    const char* field;
  };
  const ICase cases[] = {
      {10, 1, "*"},
      {-1, 1, "*"},
      {7, 1, "7"},
      {0, 3, "  0"},
      {-42, 4, " -42"},
      {-42, 3, "-42"},
      {-42, 2, "**"},
      {123, 2, "**"},
      {INT_MIN, 11, "-2147483648"},
      {INT_MIN, 10, "**********"},
      {INT_MAX, 10, "2147483647"},
  };
  for (const ICase& c : cases) EXPECT_EQ(editI(c.value, c.w), c.field) << "I" << c.w << " of " << c.value;
}

struct RecordCase {
  const char* fmt;
  std::vector<FmtItem> items;
  std::vector<std::string> records;
};

void expectRecords(const RecordCase& c) {
  const std::vector<std::string> got = formatRecords(c.fmt, c.items);
  ASSERT_EQ(got.size(), c.records.size()) << c.fmt;
  for (std::size_t k = 0; k < got.size(); ++k) {
    EXPECT_EQ(got[k], c.records[k]) << c.fmt << " record " << k + 1;
  }
}

TEST(FormatRecords, ProgramFormats) {
  // Pieces written out as the layouts describe them, column by column.
  const std::string b1 = " ";
  const std::string b2 = "  ";
  const RecordCase cases[] = {
      {"(1X,'Q index',2X,' Effic',4X,' sdev')", {}, {" Q index" + b2 + " Effic" + "    " + " sdev"}},
      {"(1X,F7.2,2X,F6.2,2X,F6.2)",
       {12.5, 100.0 * 0.8534, 100.0 * 0.0123},
       {b1 + "  12.50" + b2 + " 85.34" + b2 + "  1.23"}},
      {"(1X,'a(',I1,')',F12.8,1X,F12.8)", {1, 0.95, 0.0012}, {" a(1)   .95000000    .00120000"}},
      {"(1X,'a(',I1,')',F12.8,1X,F12.8)", {3, -1.25, 123.456}, {" a(3) -1.25000000 123.45600000"}},
      {"(1X,'Q-index',3X,'e-exp',3X,'e-calc',2X,'sdev',4X,'MC')",
       {},
       {" Q-index   e-exp   e-calc  sdev    MC"}},
      {"(1X,F7.2,2X,F6.4,2X,F6.4,2X,F5.4,2X,F5.4)",
       {45.2, 0.9512, 0.9498, 0.0031, 0.0029},
       {b1 + "  45.20" + b2 + " .9512" + b2 + " .9498" + b2 + ".0031" + b2 + ".0029"}},
      {"(3X,'QE',8X,'e',8X,'Ue')", {}, {"   QE" + std::string(8, ' ') + "e" + std::string(8, ' ') + "Ue"}},
      {"(1X,F8.4,2X,F6.4,2X,F6.4)", {35.5, 0.8123, 0.0042}, {b1 + " 35.5000" + b2 + " .8123" + b2 + " .0042"}},
      {"(1X,'Quenching index:',2X,F7.2,2X,'Detection efficiency:',F6.4,1X,'+/-',F6.4)",
       {52.3, 0.9123, 0.0021},
       {b1 + "Quenching index:" + b2 + "  52.30" + b2 + "Detection efficiency:" + " .9123" + b1 + "+/-" + " .0021"}},
  };
  for (const RecordCase& c : cases) expectRecords(c);

  // Record lengths stated for the fixed tables.
  EXPECT_EQ(formatRecords("(3X,'QE',8X,'e',8X,'Ue')", {})[0].size(), 24u);
  EXPECT_EQ(formatRecords("(1X,'Q-index',3X,'e-exp',3X,'e-calc',2X,'sdev',4X,'MC')", {})[0].size(), 37u);
  EXPECT_EQ(formatRecords("(1X,F7.2,2X,F6.4,2X,F6.4,2X,F5.4,2X,F5.4)", {45.2, 0.9512, 0.9498, 0.0031, 0.0029})[0].size(),
            38u);
  EXPECT_EQ(formatRecords("(1X,F8.4,2X,F6.4,2X,F6.4)", {35.5, 0.8123, 0.0042})[0].size(), 25u);
  EXPECT_EQ(formatRecords("(1X,'Quenching index:',2X,F7.2,2X,'Detection efficiency:',F6.4,1X,'+/-',F6.4)",
                          {52.3, 0.9123, 0.0021})[0]
                .size(),
            65u);
}

TEST(FormatRecords, CovarianceRowsAndReversion) {
  const std::string f1 = "    1.0000000";
  const std::string f2 = "   -2.5000000";
  const std::string f3 = "     .0000125";
  std::vector<FmtItem> nine;
  std::vector<std::string> fields;
  for (int k = 1; k <= 9; ++k) {
    nine.emplace_back(k * 1.5);
    fields.push_back(editF(k * 1.5, 13, 7));
  }
  std::string eight = " ";
  for (int k = 0; k < 8; ++k) eight += fields[static_cast<std::size_t>(k)] + (k < 7 ? " " : "");
  std::vector<FmtItem> seventeen = nine;
  for (int k = 10; k <= 17; ++k) seventeen.emplace_back(k * 1.5);
  std::string second;  // a reverted record starts directly with its field
  for (int k = 9; k <= 16; ++k) second += editF(k * 1.5, 13, 7) + (k < 16 ? " " : "");

  const RecordCase cases[] = {
      // Three values: no trailing blank after the last field.
      {"(1X,8(F13.7,1X))", {1.0, -2.5, 0.0000125}, {" " + f1 + " " + f2 + " " + f3}},
      // Nine values: the ninth alone on a second record, without leading blank.
      {"(1X,8(F13.7,1X))", nine, {eight, fields[8]}},
      {"(1X,8(F13.7,1X))", seventeen, {eight, second, editF(17 * 1.5, 13, 7)}},
      // No group: reversion to the whole format.
      {"(1X,I3)", {1, 2, 3}, {"   1", "   2", "   3"}},
      // Reversion to the group, then on to the end of the format.
      {"(1X,'A',2(I2),'B')", {1, 2, 3, 4, 5}, {" A 1 2B", " 3 4B", " 5"}},
      // The last group of the outermost level, not the first.
      {"(1X,2(I2),'|',3(I3))", {1, 2, 3, 4, 5, 6, 7}, {"  1 2|  3  4  5", "  6  7"}},
      // A nested group repeats inside the group that reversion returns to.
      {"(1X,2(I1,2('-')))", {1, 2}, {" 1--2--"}},
      {"(1X,2(I1,2('-')))", {1, 2, 3}, {" 1--2--", "3--"}},
  };
  for (const RecordCase& c : cases) expectRecords(c);
  EXPECT_EQ(fields[0], "    1.5000000");
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
      {"(5X)", {}, {""}},
      {"(1X,I2)", {}, {""}},
      // A format without data descriptor ends at its closing parenthesis.
      {"(1X,'hello')", {1, 2}, {" hello"}},
      // Blanks inside a literal count; a doubled apostrophe is one apostrophe.
      {"('  a  ')", {}, {"  a  "}},
      {"(1X,'it''s')", {}, {" it's"}},
      // Repeat count on a data descriptor, blanks and lower case in the format.
      {"(1X,3I2)", {1, 2, 3}, {"  1 2 3"}},
      {" ( 1x , f6.2 , 2x, i3 )", {1.5, -4}, {"   1.50   -4"}},
      // The text after the closing parenthesis is the next format: ignored.
      {"(1X,8(F13.7,1X))(1X,'a(',I1,')',F12.8,1X,F12.8)", {2.0, 3.0}, {"     2.0000000     3.0000000"}},
      {"(1X,'Q index',2X,' Effic',4X,' sdev')(1X,F7.2,2X,F6.2,2X,F6.2)", {}, {" Q index   Effic     sdev"}},
      {"(1X,I3)junk '(", {5}, {"   5"}},
      // An overflowing field does not end the statement.
      {"(1X,I1,F5.4,'|')", {10, 1.0}, {" ******|"}},
  };
  for (const RecordCase& c : cases) expectRecords(c);
}

TEST(FormatRecords, IllFormedFormatsThrow) {
  const RecordCase bad[] = {
      {"", {}, {}},
      {"1X", {}, {}},
      {"(1X", {}, {}},
      {"(1X,'abc)", {}, {}},
      {"(Q5)", {}, {}},
      {"(F5)", {1.0}, {}},
      {"(I)", {1}, {}},
      {"(0(I2))", {1}, {}},
      {"(2'a')", {}, {}},
      // An integer for F, a real for I.
      {"(F5.2)", {1}, {}},
      {"(I3)", {1.5}, {}},
      // Reversion would return to a part that consumes no value.
      {"(I3,2('x'))", {1, 2}, {}},
  };
  for (const RecordCase& c : bad) {
    EXPECT_THROW(formatRecords(c.fmt, c.items), std::invalid_argument) << "format \"" << c.fmt << "\"";
  }
}

TEST(DecimalDigits, SeventeenDigitsAndRounding) {
  DecimalDigits x = decimalDigits(-2.675);
  EXPECT_EQ(std::string(x.d.begin(), x.d.end()), "26749999999999998");
  EXPECT_EQ(x.e, 1);
  x = decimalDigits(0.0);
  EXPECT_EQ(std::string(x.d.begin(), x.d.end()), "00000000000000000");
  EXPECT_EQ(x.e, 0);
  x = decimalDigits(1e-310);
  EXPECT_EQ(std::string(x.d.begin(), x.d.end()), "99999999999999694");
  EXPECT_EQ(x.e, -310);

  x = decimalDigits(0.99996);  // 99995999999999996
  EXPECT_TRUE(roundDigits(x, 4));
  EXPECT_EQ(std::string(x.d.begin(), x.d.end()), "10000000000000000");
  EXPECT_EQ(x.e, 1);
  x = decimalDigits(0.6);
  EXPECT_TRUE(roundDigits(x, 0));
  EXPECT_EQ(x.e, 1);
  x = decimalDigits(0.4);
  EXPECT_FALSE(roundDigits(x, 0));
  EXPECT_EQ(std::string(x.d.begin(), x.d.end()), "00000000000000000");
  x = decimalDigits(0.1299);  // 12989999999999999: carry through the nines
  EXPECT_FALSE(roundDigits(x, 3));
  EXPECT_EQ(std::string(x.d.begin(), x.d.end()), "13000000000000000");
  EXPECT_EQ(x.e, 0);
}

// The record layer runs with the invalid, divide-by-zero and overflow traps
// enabled; editing a finite value must not raise any of them.
TEST(EditF, FiniteValuesRaiseNoTrappedException) {
  const double values[] = {0.0, -0.0, 1.0, -2.675, 0.12345, 1e-310, 4.9406564584124654e-324, DBL_MIN,
                           DBL_MAX, -DBL_MAX, 1e300, 123456789012345678.0, 0.99996, 1.0 / 3.0};
  std::feclearexcept(FE_ALL_EXCEPT);
  for (double v : values) {
    (void)editF(v, 12, 8);
    (void)editF(v, 400, 20);
    EXPECT_EQ(std::fetestexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW), 0) << "F field of " << show(v);
  }
  std::feclearexcept(FE_ALL_EXCEPT);
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
  writeFormatted(3, "(1X,'a(',I1,')',F12.8,1X,F12.8)", {2, 0.95, 0.0012});
  writeFormatted(3, "(3X,'QE',8X,'e',8X,'Ue')", {});
  closeUnit(3);
  const std::string expected =
      "      .5000000     1.0000000     1.5000000     2.0000000     2.5000000     3.0000000     3.5000000"
      "     4.0000000\r\n"
      "    4.5000000\r\n"
      " a(2)   .95000000    .00120000\r\n"
      "   QE        e        Ue\r\n";
  const std::string got = dir.read("results.txt");
  EXPECT_EQ(got, expected) << testsupport::visible(got);
  resetUnitsForTesting();
}

}  // namespace
}  // namespace tarvel
