// List-directed input: separators, null values, repeat counts, texts,
// integers and reals, line ends and end of file, and the program's read
// statement with its fatal error report.
#include <gtest/gtest.h>

#include <cfenv>
#include <cfloat>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <variant>
#include <vector>

#include "records/listin.h"
#include "records/runtime.h"
#include "records/units.h"
#include "support.h"

namespace {

using tarvel::ListItem;
using tarvel::listTarget;
using tarvel::MemoryLines;
using tarvel::readListStatement;
namespace err = tarvel::err;

constexpr int kI0 = -99;  // every target's value before the read
constexpr double kR0 = -99.25;
const std::string kT0 = "unset";

using Expect = std::variant<int, double, std::string>;

std::string pad(const std::string& s, std::size_t n = 15) { return s + std::string(n - s.size(), ' '); }

std::string bits(double v) {
  char b[64];
  std::snprintf(b, sizeof b, "%.17g", v);
  return b;
}

struct Case {
  const char* name;
  std::string input;
  std::string layout;  // one letter per target: i integer, r real, t text
  std::vector<Expect> expect;
  int error = 0;           // expected error number, 0 for none
  std::string message;     // expected error message when error != 0
  const char* after = "";  // the line the source gives next; nullptr: end of file
  int textLength = 15;
};

// Runs one read statement on a fresh source and checks the targets, the
// error and where the source stands afterwards.
void check(const Case& c) {
  SCOPED_TRACE(std::string(c.name) + ": " + testsupport::visible(c.input));
  int iv[6];
  double rv[6];
  std::string tv[6];
  std::vector<ListItem> items;
  for (std::size_t k = 0; k < c.layout.size(); ++k) {
    iv[k] = kI0, rv[k] = kR0, tv[k] = kT0;
    if (c.layout[k] == 'i') items.push_back(listTarget(iv[k]));
    if (c.layout[k] == 'r') items.push_back(listTarget(rv[k]));
    if (c.layout[k] == 't') items.push_back(listTarget(tv[k], c.textLength));
  }
  MemoryLines src(c.input);
  const auto e = readListStatement(src, items);
  if (c.error == 0) {
    EXPECT_FALSE(e.has_value()) << e->number << " " << e->message;
  } else if (!e) {
    ADD_FAILURE() << "expected error " << c.error;
  } else {
    EXPECT_EQ(e->number, c.error);
    EXPECT_EQ(e->message, c.message);
  }
  ASSERT_EQ(c.expect.size(), c.layout.size());
  for (std::size_t k = 0; k < c.layout.size(); ++k) {
    SCOPED_TRACE("target " + std::to_string(k + 1));
    if (c.layout[k] == 'i') {
      EXPECT_EQ(iv[k], std::get<int>(c.expect[k]));
    }
    if (c.layout[k] == 'r') {
      const double want = std::get<double>(c.expect[k]);
      EXPECT_TRUE(std::memcmp(&rv[k], &want, sizeof want) == 0) << bits(rv[k]) << " != " << bits(want);
    }
    if (c.layout[k] == 't') {
      EXPECT_EQ(tv[k], std::get<std::string>(c.expect[k]));
    }
  }
  std::string next;
  const bool more = src.nextLine(next);
  if (c.after == nullptr) {
    EXPECT_FALSE(more) << next;
  } else {
    EXPECT_TRUE(more);
    EXPECT_EQ(next, c.after);
  }
}

TEST(ListInput, SeparatorsNullsSlashesAndRepeats) {
  const Case cases[] = {
      {"blank separated", "3 1.5\nnext", "ir", {3, 1.5}, 0, "", "next"},
      {"two commas leave a null", "3,,1.5\r\nnext", "irr", {3, kR0, 1.5}, 0, "", "next"},
      {"comma with blanks is one separator", "3 , 4 ,5", "iii", {3, 4, 5}, 0, "", nullptr},
      {"comma blanks comma", "3, ,4", "iii", {3, kI0, 4}, 0, "", nullptr},
      {"leading comma", ",5", "ii", {kI0, 5}, 0, "", nullptr},
      {"blanks then leading comma", "   , ,7", "iii", {kI0, kI0, 7}, 0, "", nullptr},
      {"tabs", "\t3\t,\t4\t\t5", "iii", {3, 4, 5}, 0, "", nullptr},
      {"repeat", "2*7", "ii", {7, 7}, 0, "", nullptr},
      {"repeat across types", "2*7 9", "iri", {7, 7.0, 9}, 0, "", nullptr},
      {"repeat beyond the targets", "3*4 8\nnext", "ii", {4, 4}, 0, "", "next"},
      {"repeated nulls", "2*,9", "iii", {kI0, kI0, 9}, 0, "", nullptr},
      {"repeated nulls at line end", "3*", "iii", {kI0, kI0, kI0}, 0, "", nullptr},
      {"repeated nulls before blank", "1 2* 5", "iiii", {1, kI0, kI0, 5}, 0, "", nullptr},
      {"slash ends the read", "1 / 2\nnext", "ii", {1, kI0}, 0, "", "next"},
      {"slash right after a value", "5/6", "ii", {5, kI0}, 0, "", nullptr},
      {"slash at the start", "/ 1", "i", {kI0}, 0, "", nullptr},
      {"extra values ignored", "1 2 3\nnext", "i", {1}, 0, "", "next"},
      {"values over several lines", "1\n2,\n3\nnext", "iii", {1, 2, 3}, 0, "", "next"},
      {"comma after comma across lines", "1,\n,2", "iii", {1, kI0, 2}, 0, "", nullptr},
      {"empty lines skipped", "\n\n  \t\n5\r\nrest", "i", {5}, 0, "", "rest"},
      {"no targets consume one line", "x y\nnext", "", {}, 0, "", "next"},
      {"last line without line end", "1\n2", "ii", {1, 2}, 0, "", nullptr},
      {"end of file mid-statement", "1 2\n", "iii", {1, 2, kI0}, err::kEndOfFile, "end of file encountered",
       nullptr},
      {"end of file at the start", "", "i", {kI0}, err::kEndOfFile, "end of file encountered", nullptr},
      {"empty read at end of file", "", "", {}, err::kEndOfFile, "end of file encountered", nullptr},
      {"end of file after empty lines", "\n\n", "t", {kT0}, err::kEndOfFile, "end of file encountered",
       nullptr},
      {"zero repeat count", "1 0*5", "iii", {1, kI0, kI0}, err::kZeroRepeat, "zero repeat count: 0*5", nullptr},
      {"zero repeat count of nulls", "00*", "i", {kI0}, err::kZeroRepeat, "zero repeat count: 00*", nullptr},
  };
  for (const Case& c : cases) check(c);
}

TEST(ListInput, Texts) {
  const Case cases[] = {
      {"unquoted name with a slash", "data/pts.dat label\nnext", "tt", {pad("data"), kT0}, 0, "", "next"},
      {"control record", "points.dat  data file\r\n", "tt", {pad("points.dat"), pad("data")}, 0, "", nullptr},
      {"quoted with blanks", "'my data.dat' x", "tt", {pad("my data.dat"), pad("x")}, 0, "", nullptr},
      {"doubled apostrophe", "'it''s'", "t", {pad("it's")}, 0, "", nullptr},
      {"quotation marks keep comma and slash", "\"a, b/c\" 'q\"q' \"x\"\"y\"", "ttt",
       {pad("a, b/c"), pad("q\"q"), pad("x\"y")}, 0, "", nullptr},
      {"empty quoted text", "'' z", "tt", {pad(""), pad("z")}, 0, "", nullptr},
      {"missing closing quote", "'abc def", "t", {pad("abc def")}, 0, "", nullptr},
      {"glued to the closing quote", "'ab'cd ef", "tt", {pad("ab"), pad("ef")}, 0, "", nullptr},
      {"apostrophe inside unquoted text", "ab'c", "t", {pad("ab'c")}, 0, "", nullptr},
      {"cut to length", "averyverylongname.dat", "t", {std::string("averyverylongna")}, 0, "", nullptr},
      {"cut to a short length", "abcdef 'xy'", "tt", {std::string("abcd"), std::string("xy  ")}, 0, "", nullptr, 4},
      {"repeated quoted text", "2*'a b'", "tt", {pad("a b"), pad("a b")}, 0, "", nullptr},
      {"number as text", "123 -4.5", "tt", {pad("123"), pad("-4.5")}, 0, "", nullptr},
      {"CR LF is not part of the text", "name\r\nx", "t", {pad("name")}, 0, "", "x"},
      {"lone CR is a character", "a\rb", "t", {pad("a\rb")}, 0, "", nullptr},
      {"Ctrl-Z is a character in a file", "abc\x1a", "t", {pad("abc\x1a")}, 0, "", nullptr},
  };
  for (const Case& c : cases) check(c);
}

TEST(ListInput, Integers) {
  const Case cases[] = {
      {"signs", "+12 -7 007", "iii", {12, -7, 7}, 0, "", nullptr},
      {"largest", "2147483647", "i", {INT_MAX}, 0, "", nullptr},
      {"smallest", "-2147483648", "i", {INT_MIN}, 0, "", nullptr},
      {"one above", "2147483648", "i", {kI0}, err::kIntegerRange, "integer out of range: 2147483648", nullptr},
      {"one below", "-2147483649", "i", {kI0}, err::kIntegerRange, "integer out of range: -2147483649", nullptr},
      {"far too long", "1 99999999999999999999999", "ii", {1, kI0}, err::kIntegerRange,
       "integer out of range: 99999999999999999999999", nullptr},
      {"based", "16#7FFFFFFF 2#101 -8#17 36#z 10#42", "iiiii", {INT_MAX, 5, -15, 35, 42}, 0, "", nullptr},
      {"based smallest", "-16#80000000 16#ff", "ii", {INT_MIN, 255}, 0, "", nullptr},
      {"based out of range", "16#80000000", "i", {kI0}, err::kIntegerRange, "integer out of range: 16#80000000",
       nullptr},
      {"base 1", "1#0", "i", {kI0}, err::kBadInteger, "invalid integer: 1#0", nullptr},
      {"base 37", "37#1", "i", {kI0}, err::kBadInteger, "invalid integer: 37#1", nullptr},
      {"digit beyond base", "8#8", "i", {kI0}, err::kBadInteger, "invalid integer: 8#8", nullptr},
      {"no base", "#5", "i", {kI0}, err::kBadInteger, "invalid integer: #5", nullptr},
      {"no digits after base", "16#", "i", {kI0}, err::kBadInteger, "invalid integer: 16#", nullptr},
      {"sign after base", "16#-F", "i", {kI0}, err::kBadInteger, "invalid integer: 16#-F", nullptr},
      {"decimal point", "5 1.5", "ii", {5, kI0}, err::kBadInteger, "invalid integer: 1.5", nullptr},
      {"exponent", "1e3", "i", {kI0}, err::kBadInteger, "invalid integer: 1e3", nullptr},
      {"letters", "abc", "i", {kI0}, err::kBadInteger, "invalid integer: abc", nullptr},
      {"sign alone", "+", "i", {kI0}, err::kBadInteger, "invalid integer: +", nullptr},
      {"quoted number", "'5'", "i", {kI0}, err::kBadInteger, "invalid integer: '5'", nullptr},
      {"star without count", "*5", "i", {kI0}, err::kBadInteger, "invalid integer: *5", nullptr},
      {"repeat of a bad value", "2*x", "ii", {kI0, kI0}, err::kBadInteger, "invalid integer: x", nullptr},
  };
  for (const Case& c : cases) check(c);
}

TEST(ListInput, Reals) {
  const Case cases[] = {
      {"the four spellings of 1.5", "1.5D0 1.5e0 15E-1 1.5+0", "rrrr", {1.5, 1.5, 1.5, 1.5}, 0, "", nullptr},
      {"point forms", ".5 5. +.5e3 1.e5", "rrrr", {0.5, 5.0, 500.0, 1e5}, 0, "", nullptr},
      {"signed exponents", "-2.5d-2 1.5-3 1E+2 7", "rrrr", {-0.025, 0.0015, 100.0, 7.0}, 0, "", nullptr},
      {"nearest double", "0.1 12.5 0.8534", "rrr", {0.1, 12.5, 0.8534}, 0, "", nullptr},
      {"zeros", "0 -0.0 000.000e5", "rrr", {0.0, -0.0, 0.0}, 0, "", nullptr},
      {"leading zeros are not significant", "0.0000000000000000000000000000015", "r", {1.5e-30}, 0, "", nullptr},
      // 1 + 2^-53 lies halfway between 1 and the next double; the first 25
      // digits, 1.000000000000000111022302, lie below it and give 1.
      {"digits after the 25th dropped", "1.000000000000000111022302462515654042363166809082031251", "r", {1.0},
       0, "", nullptr},
      {"largest", "1e308 1.7976931348623157e308 -1.7976931348623157D308", "rrr", {1e308, DBL_MAX, -DBL_MAX}, 0,
       "", nullptr},
      {"too large", "1e309", "r", {kR0}, err::kRealRange, "real out of range: 1e309", nullptr},
      {"too large negative", "1 -1.8e308", "rr", {1.0, kR0}, err::kRealRange, "real out of range: -1.8e308",
       nullptr},
      {"too large by digits", "1000000000000000000000000000000000000000e300", "r", {kR0}, err::kRealRange,
       "real out of range: 1000000000000000000000000000000000000000e300", nullptr},
      {"huge exponent", "1e99999999999999999999", "r", {kR0}, err::kRealRange,
       "real out of range: 1e99999999999999999999", nullptr},
      {"below the subnormals", "1e-400 -1e-400 1e-99999999999", "rrr", {0.0, -0.0, 0.0}, 0, "", nullptr},
      {"smallest subnormal", "4.9406564584124654e-324", "r", {4.9406564584124654e-324}, 0, "", nullptr},
      {"lone point", ".", "r", {kR0}, err::kBadReal, "invalid real: .", nullptr},
      {"exponent alone", "e5", "r", {kR0}, err::kBadReal, "invalid real: e5", nullptr},
      {"two points", "1.2.3", "r", {kR0}, err::kBadReal, "invalid real: 1.2.3", nullptr},
      {"two signs", "--1", "r", {kR0}, err::kBadReal, "invalid real: --1", nullptr},
      {"no exponent digits", "1e", "r", {kR0}, err::kBadReal, "invalid real: 1e", nullptr},
      {"signed exponent without digits", "1e+", "r", {kR0}, err::kBadReal, "invalid real: 1e+", nullptr},
      {"sign exponent without digits", "1.5-", "r", {kR0}, err::kBadReal, "invalid real: 1.5-", nullptr},
      {"infinity", "inf", "r", {kR0}, err::kBadReal, "invalid real: inf", nullptr},
      {"not a number", "nan", "r", {kR0}, err::kBadReal, "invalid real: nan", nullptr},
      {"other exponent letter", "1.5q0", "r", {kR0}, err::kBadReal, "invalid real: 1.5q0", nullptr},
      {"fractional exponent", "1e5.0", "r", {kR0}, err::kBadReal, "invalid real: 1e5.0", nullptr},
      {"based", "16#F", "r", {kR0}, err::kBadReal, "invalid real: 16#F", nullptr},
      {"quoted", "'1.5'", "r", {kR0}, err::kBadReal, "invalid real: '1.5'", nullptr},
      {"letters in a data file", "12.5 0.01 abc", "rrr", {12.5, 0.01, kR0}, err::kBadReal, "invalid real: abc",
       nullptr},
  };
  for (const Case& c : cases) check(c);
}

TEST(ListInput, ConsecutiveStatementsStartOnNewLines) {
  // A control file: value and label word per record, comments after them.
  MemoryLines src("Calibration run\r\npoints.dat data file\r\n2 order  (0 to 8)\r\n1 opt1\r\n");
  std::string label, datfile;
  int ncoef = 0, opt1 = 0;
  EXPECT_FALSE(readListStatement(src, {listTarget(label, 15)}));
  EXPECT_EQ(label, pad("Calibration"));
  EXPECT_FALSE(readListStatement(src, {listTarget(datfile, 15), listTarget(label, 15)}));
  EXPECT_EQ(datfile, pad("points.dat"));
  EXPECT_EQ(label, pad("data"));
  EXPECT_FALSE(readListStatement(src, {listTarget(ncoef), listTarget(label, 15)}));
  EXPECT_EQ(ncoef, 2);
  EXPECT_EQ(label, pad("order"));
  // A record holding only its value takes the label from the next record.
  MemoryLines shifted("3\nlabel3\n1 opt1\n");
  EXPECT_FALSE(readListStatement(shifted, {listTarget(ncoef), listTarget(label, 15)}));
  EXPECT_EQ(ncoef, 3);
  EXPECT_EQ(label, pad("label3"));
  EXPECT_FALSE(readListStatement(shifted, {listTarget(opt1), listTarget(label, 15)}));
  EXPECT_EQ(opt1, 1);
  EXPECT_EQ(label, pad("opt1"));
}

TEST(ListInput, MemoryLinesSplitsLines) {
  struct Row {
    std::string bytes;
    bool console;
    std::vector<std::string> lines;
  };
  const Row rows[] = {
      {"", false, {}},
      {"\n", false, {""}},
      {"a\r\nb\nc", false, {"a", "b", "c"}},
      {"a\n\r\n", false, {"a", ""}},
      {"a\r\r\n", false, {"a\r"}},
      {"a\x1a\nb", false, {"a\x1a", "b"}},
      // On the console a line ending in Ctrl-Z is end of file, for good.
      {"1\n2\x1a\n3\n", true, {"1"}},
      {"\x1a", true, {}},
      {"a\x1a" "b\n", true, {"a\x1a" "b"}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testsupport::visible(r.bytes));
    MemoryLines src(r.bytes, r.console);
    std::vector<std::string> got;
    std::string line;
    while (src.nextLine(line)) got.push_back(line);
    EXPECT_EQ(got, r.lines);
    EXPECT_FALSE(src.nextLine(line));
  }
}

TEST(ListInput, CtrlZEndsConsoleInput) {
  MemoryLines console("4 5\n6\x1a\n7\n", true);
  int a = 0, b = 0, c = kI0;
  EXPECT_FALSE(readListStatement(console, {listTarget(a), listTarget(b)}));
  EXPECT_EQ(a, 4);
  EXPECT_EQ(b, 5);
  const auto e = readListStatement(console, {listTarget(c)});
  ASSERT_TRUE(e.has_value());
  EXPECT_EQ(e->number, err::kEndOfFile);
  EXPECT_EQ(c, kI0);
}

// Conversions run with the program's floating-point traps on must not trap,
// and must leave no exception flag raised.
TEST(ListInputDeathTest, ConversionRaisesNoTrappedException) {
  EXPECT_EXIT(
      {
        feenableexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
        MemoryLines src("1e308 1.7976931348623157e308 1e-400 4.9e-324 0.1\n1e309\n1e400\n");
        double v[5];
        bool ok = !readListStatement(src, {listTarget(v[0]), listTarget(v[1]), listTarget(v[2]),
                                           listTarget(v[3]), listTarget(v[4])});
        ok = ok && readListStatement(src, {listTarget(v[0])})->number == err::kRealRange;
        ok = ok && readListStatement(src, {listTarget(v[0])})->number == err::kRealRange;
        ok = ok && fetestexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW) == 0;
        std::exit(ok ? 0 : 3);
      },
      ::testing::ExitedWithCode(0), "");
}

// ---------------------------------------------------------------- readList

class ReadListTest : public ::testing::Test {
 protected:
  void SetUp() override { tarvel::resetUnitsForTesting(); }
  void TearDown() override { tarvel::resetUnitsForTesting(); }
  testsupport::ScratchDir dir;
};

TEST_F(ReadListTest, ReadsStatementsFromUnitTwo) {
  dir.write("pts.dat", "3 0.02\r\n12.5 0.1 0.8534 0.0123 extra\r\n");
  ASSERT_TRUE(tarvel::openUnit(2, dir.file("pts.dat"), tarvel::Status::Old).ok);
  int npt = 0;
  double urel = 0, qe = 0, uqe = 0, e = 0, ue = 0;
  tarvel::readList(2, {listTarget(npt), listTarget(urel)});
  tarvel::readList(2, {listTarget(qe), listTarget(uqe), listTarget(e), listTarget(ue)});
  EXPECT_EQ(npt, 3);
  EXPECT_EQ(urel, 0.02);
  EXPECT_EQ(qe, 12.5);
  EXPECT_EQ(uqe, 0.1);
  EXPECT_EQ(e, 0.8534);
  EXPECT_EQ(ue, 0.0123);
}

TEST_F(ReadListTest, BadValueIsFatal) {
  dir.write("pts.dat", "3 0.02\r\nabc def\r\n");
  const std::string path = dir.file("pts.dat");
  EXPECT_EXIT(
      {
        tarvel::openUnit(2, path, tarvel::Status::Old);
        int npt;
        double urel;
        double qe;
        tarvel::readList(2, {listTarget(npt), listTarget(urel)});
        tarvel::readList(2, {listTarget(qe)});
      },
      ::testing::ExitedWithCode(1), "run-time error F6503: READ\\(.*pts\\.dat\\)\r\n- invalid real: abc\r\n");
}

TEST_F(ReadListTest, ShortFileIsFatal) {
  dir.write("pts.dat", "3\r\n");
  const std::string path = dir.file("pts.dat");
  EXPECT_EXIT(
      {
        tarvel::openUnit(2, path, tarvel::Status::Old);
        int npt;
        double urel;
        tarvel::readList(2, {listTarget(npt), listTarget(urel)});
      },
      ::testing::ExitedWithCode(1), "run-time error F6501: READ\\(.*pts\\.dat\\)\r\n- end of file encountered\r\n");
}

TEST_F(ReadListTest, ConsoleReads) {
  dir.write("in.txt", "\r\n7 8.5\r\n");
  const std::string path = dir.file("in.txt");
  // Standard input replaced in the child only.
  EXPECT_EXIT(
      {
        if (std::freopen(path.c_str(), "r", stdin) == nullptr) std::exit(4);
        tarvel::setLinePending(true);
        int n = 0;
        double q = 0;
        tarvel::readList(tarvel::kConsole, {listTarget(n), listTarget(q)});
        const bool pendingOk = tarvel::linePending() == !tarvel::consoleInteractive();
        std::exit(n == 7 && q == 8.5 && pendingOk ? 0 : 3);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(
      {
        if (std::freopen("/dev/null", "r", stdin) == nullptr) std::exit(4);
        double q;
        tarvel::readList(tarvel::kConsole, {listTarget(q)});
      },
      ::testing::ExitedWithCode(1), "run-time error F6501: READ\\(CON\\)\r\n- end of file encountered\r\n");
}

}  // namespace
