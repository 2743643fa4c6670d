// List-directed input: separators, null values, repeat counts, texts,
// integers and reals, line ends and end of file, and the program's read
// statement on a file and on the console with its fatal error report.
#include <gtest/gtest.h>

#include <cfenv>
#include <cfloat>
#include <climits>
#include <cstdio>
#include <string>
#include <variant>
#include <vector>

#include "records/listin.h"
#include "records/runtime.h"
#include "records/units.h"
#include "support.h"

namespace tarvel {
namespace {

constexpr int kI0 = -99;  // every target's value before the read
constexpr double kR0 = -99.25;
const std::string kT0 = "unset";
using Expect = std::variant<int, double, std::string>;

std::string show(double v) {
  char b[32];
  std::snprintf(b, sizeof b, "%.17g", v);
  return b;
}

std::string pad(const std::string& s, std::size_t n = 15) { return s + std::string(n - s.size(), ' '); }

struct Case {
  std::string input;
  std::string layout;  // one letter per target: i integer, r real, t text
  std::vector<Expect> expect;
  ListError error{0, ""};       // number 0: the read succeeds
  const char* after = nullptr;  // the line the source gives next; nullptr: none
  int textLength = 15;
};

// Runs one read statement on a fresh source and checks the error, every
// target (reals bit for bit), the floating-point flags and where the source
// stands afterwards.
void check(const Case& c) {
  SCOPED_TRACE(testsupport::visible(c.input));
  ASSERT_EQ(c.expect.size(), c.layout.size());
  int iv[8];
  double rv[8];
  std::string tv[8];
  std::vector<ListItem> items;
  for (std::size_t k = 0; k < c.layout.size(); ++k) {
    iv[k] = kI0, rv[k] = kR0, tv[k] = kT0;
    const char t = c.layout[k];
    items.push_back(t == 'i' ? listTarget(iv[k]) : t == 'r' ? listTarget(rv[k]) : listTarget(tv[k], c.textLength));
  }
  MemoryLines src(c.input);
  std::feclearexcept(FE_ALL_EXCEPT);
  const ListError e = readListStatement(src, items).value_or(ListError{0, ""});
  // The program reads with the invalid, divide-by-zero and overflow traps on.
  EXPECT_EQ(std::fetestexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW), 0) << "floating-point flag raised";
  EXPECT_EQ(e.number, c.error.number) << e.message;
  EXPECT_EQ(e.message, c.error.message);
  for (std::size_t k = 0; k < c.layout.size(); ++k) {
    SCOPED_TRACE("target " + std::to_string(k + 1));
    if (c.layout[k] == 'i') {
      EXPECT_EQ(iv[k], std::get<int>(c.expect[k]));
    } else if (c.layout[k] == 't') {
      EXPECT_EQ(tv[k], std::get<std::string>(c.expect[k]));
    } else {
      EXPECT_EQ(show(rv[k]), show(std::get<double>(c.expect[k])));  // 17 digits and sign: bit for bit
    }
  }
  std::string next;
  const bool more = src.nextLine(next);
  EXPECT_EQ(more ? next : std::string("<none>"), c.after ? std::string(c.after) : "<none>");
}

TEST(ListInput, Statements) {
  const ListError eof{err::kEndOfFile, "end of file encountered"};
  const Case cases[] = {
      // Separators, null values, slash and repeat counts.
      {"3 1.5\nnext", "ir", {3, 1.5}, {}, "next"},
      {"3,,1.5\r\nnext", "irr", {3, kR0, 1.5}, {}, "next"},
      {"\t3\t,\t4 , 5", "iii", {3, 4, 5}},
      {"   , ,7", "iii", {kI0, kI0, 7}},  // a leading comma, then comma blank comma
      {"2*7", "ii", {7, 7}},
      {"3*4 8\nnext", "ii", {4, 4}, {}, "next"},  // copies beyond the last target dropped
      {"2*,9", "iii", {kI0, kI0, 9}},
      {"1 2*\n5", "iiii", {1, kI0, kI0, 5}},  // r* at the line end: r null values
      {"5/6 7\nnext", "ii", {5, kI0}, {}, "next"},
      {"1 2 3\nnext", "i", {1}, {}, "next"},
      {"1\n2,\n,3\nnext", "iiii", {1, 2, kI0, 3}, {}, "next"},  // a line end between commas is a blank
      {"\n\n  \t\n5\r\nrest", "i", {5}, {}, "rest"},
      {"x y\nnext", "", {}, {}, "next"},  // no targets: one line consumed
      {"1\n2", "ii", {1, 2}},
      {"12.5 0.01 abc", "rrr", {12.5, 0.01, kR0}, {err::kBadReal, "invalid real: abc"}},
      {"2*x", "ii", {kI0, kI0}, {err::kBadInteger, "invalid integer: x"}},
      {"1 2\n", "iii", {1, 2, kI0}, eof},
      {"\n\n", "t", {kT0}, eof},
      {"", "", {}, eof},
      // Texts.
      {"data/pts.dat label\nnext", "tt", {pad("data"), kT0}, {}, "next"},
      {"points.dat  data file\r\nx", "tt", {pad("points.dat"), pad("data")}, {}, "x"},
      {"'my data.dat' 'it''s'", "tt", {pad("my data.dat"), pad("it's")}},
      {"\"a, b/c\" 'q\"q' \"x\"\"y\"", "ttt", {pad("a, b/c"), pad("q\"q"), pad("x\"y")}},
      {"'' 'ab'cd ef", "ttt", {pad(""), pad("ab"), pad("ef")}},  // characters glued to a quote dropped
      {"'abc def", "t", {pad("abc def")}},
      {"ab'c -4.5 2*'a b'", "tttt", {pad("ab'c"), pad("-4.5"), pad("a b"), pad("a b")}},
      {"averyverylongname.dat", "t", {std::string("averyverylongna")}},
      {"abcdef 'xy'", "tt", {std::string("abcd"), std::string("xy  ")}, {}, nullptr, 4},
      {"a\rb c\x1a", "tt", {pad("a\rb"), pad("c\x1a")}},  // a lone CR and Ctrl-Z in a file are characters
      // Integers.
      {"+12 -7 007 2147483647 -2147483648", "iiiii", {12, -7, 7, INT_MAX, INT_MIN}},
      {"16#7FFFFFFF 2#101 -8#17 36#z 10#42 -16#80000000", "iiiiii", {INT_MAX, 5, -15, 35, 42, INT_MIN}},
      // Reals.
      {"1.5D0 1.5e0 15E-1 1.5+0", "rrrr", {1.5, 1.5, 1.5, 1.5}},
      {".5 5. +.5e3 1.e5 -2.5d-2 1.5-3 1E+2 7", "rrrrrrrr", {0.5, 5.0, 500.0, 1e5, -0.025, 0.0015, 100.0, 7.0}},
      {"0.1 0.8534 0 -0.0 000.000e5", "rrrrr", {0.1, 0.8534, 0.0, -0.0, 0.0}},
      {"0.0000000000000000000000000000015", "r", {1.5e-30}},
      // 1 + 2^-53 lies halfway between 1 and the next double; its first 25
      // digits, 1.000000000000000111022302, lie below it and give 1.
      {"1.000000000000000111022302462515654042363166809082031251", "r", {1.0}},
      {"1e308 1.7976931348623157e308 -1.7976931348623157D308", "rrr", {1e308, DBL_MAX, -DBL_MAX}},
      {"1e-400 -1e-400 1e-99999999999 4.9406564584124654e-324", "rrrr", {0.0, -0.0, 0.0, 4.9406564584124654e-324}},
  };
  for (const Case& c : cases) check(c);
}

// Each token alone, read into one target of its kind: the read fails and the
// target keeps its value.
TEST(ListInput, RejectedValues) {
  struct Row { char kind; int number; std::string message; std::vector<std::string> tokens; };
  const Row rows[] = {
      {'i', err::kIntegerRange, "integer out of range",
       {"2147483648", "-2147483649", "99999999999999999999999", "16#80000000"}},
      {'i', err::kBadInteger, "invalid integer",
       {"1.5", "1e3", "+", "'5'", "*5", "1#0", "37#1", "8#8", "#5", "16#", "16#-F"}},
      {'r', err::kRealRange, "real out of range",
       {"1e309", "-1.8e308", "1e400", "1e99999999999999999999", "1000000000000000000000000000000000000000e300"}},
      {'r', err::kBadReal, "invalid real",
       {".", "e5", "1.2.3", "--1", "1e", "1e+", "1.5-", "inf", "nan", "1.5q0", "1e5.0", "16#F", "'1.5'"}},
      {'i', err::kZeroRepeat, "zero repeat count", {"0*5", "00*"}},
  };
  for (const Row& r : rows) {
    for (const std::string& t : r.tokens) {
      check({t, std::string(1, r.kind), {r.kind == 'i' ? Expect(kI0) : Expect(kR0)}, {r.number, r.message + ": " + t}});
    }
  }
}

// readList on unit 2, in a child process since a failed read ends the run:
// two statements, (integer, real) then (real), whose values the child prints.
TEST(ReadListDeathTest, FileUnit) {
  testsupport::ScratchDir dir;
  const std::string path = dir.file("pts.dat");
  const struct { std::string bytes; int status; std::string stderrRegex; } rows[] = {
      // LF, an empty CR LF line, extra values, a last line without line end.
      {"3\n\r\n0.5 x\r\n12.5", 0, "^3 0.5 12.5\n$"},
      {"3 0.02\r\nabc def\r\n", 1, "run-time error F6503: READ\\(.*pts\\.dat\\)\r\n- invalid real: abc\r\n"},
      {"3\r\n", 1, "run-time error F6501: READ\\(.*pts\\.dat\\)\r\n- end of file encountered\r\n"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(testsupport::visible(r.bytes));
    dir.write("pts.dat", r.bytes);
    EXPECT_EXIT(
        {
          resetUnitsForTesting();
          if (!openUnit(2, path, Status::Old).ok) std::exit(4);
          int npt = kI0;
          double urel = kR0;
          double qe = kR0;
          readList(2, {listTarget(npt), listTarget(urel)});
          readList(2, {listTarget(qe)});
          std::fprintf(stderr, "%d %.17g %.17g\n", npt, urel, qe);
          std::exit(0);
        },
        ::testing::ExitedWithCode(r.status), r.stderrRegex);
  }
}

// The console from a file: CR LF, an empty line skipped, and a line ending in
// Ctrl-Z taken as end of file. Input is redirected, so the read leaves the
// pending line break alone.
TEST(ReadListDeathTest, Console) {
  testsupport::ScratchDir dir;
  dir.write("in.txt", "\r\n7 8.5\r\n9\x1a\n10\n");
  const std::string path = dir.file("in.txt");
  EXPECT_EXIT(
      {
        if (std::freopen(path.c_str(), "r", stdin) == nullptr) std::exit(4);
        setLinePending(true);
        int n = 0;
        double q = 0;
        readList(kConsole, {listTarget(n), listTarget(q)});
        std::fprintf(stderr, "%d %.17g %d\n", n, q, linePending());
        if (n != 7 || q != 8.5 || !linePending()) std::exit(3);
        readList(kConsole, {listTarget(n)});
      },
      ::testing::ExitedWithCode(1), "run-time error F6501: READ\\(CON\\)\r\n- end of file encountered\r\n");
}

}  // namespace
}  // namespace tarvel
