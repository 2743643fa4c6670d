// The record layer: the Fw.d and Iw editors, formatted records and format
// reversion, free reals and list-directed records, list-directed reading, and
// the checks whose failure ends a run. Expected fields are worked out by hand
// from the 17-digit strings of the values (in the comments).
#include <functional>
#include <regex>
#include <limits>
#include <stdexcept>

#include "support.h"

namespace tarvel {
namespace {

const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();

// `text` right-justified in w columns.
std::string field(std::size_t w, const std::string& text) { return std::string(w - text.size(), ' ') + text; }

TEST(Records, FixedAndIntegerFields) {
  const struct { double value; int w, d; const char* text; } f[] = {
      // 12345000000000000: the tie goes up; 99995999999999996 carries out of the first digit.
      {0.12345, 6, 4, " .1235"}, {0.99996, 6, 4, "1.0000"}, {1.0, 5, 4, "*****"}, {1.0, 6, 4, "1.0000"},
      // No sign on what rounds to zero; 12500000000000000 goes up, 26749999999999998 not.
      {-0.00004, 6, 4, " .0000"}, {-0.0, 7, 2, "    .00"}, {0.125, 5, 2, "  .13"}, {2.675, 5, 2, " 2.67"},
      // No zero before the point; "0." only when d = 0 leaves no digit.
      {0.1234, 5, 4, ".1234"}, {-0.25, 6, 4, "-.2500"}, {0.4, 3, 0, " 0."}, {-0.4, 3, 0, " 0."}, {-0.6, 3, 0, "-1."},
      // 50000000000000001 carries into the first decimal, 48999999999999998 not.
      {0.04, 3, 0, "  ."}, {2.5, 3, 0, " 3."}, {0.005, 4, 2, " .01"}, {0.0049, 4, 2, " .00"}, {0.0012, 7, 5, " .00120"},
      // 99960000000000004 carries into a new digit: -10.00 needs 6 columns.
      {-9.996, 5, 2, "*****"}, {-9.996, 6, 2, "-10.00"}, {DBL_MAX, 8, 2, "********"}, {1e-310, 6, 2, "   .00"},
      // 12345678901234568: 16 digits kept (...457), the 17th and 18th print as 0.
      {123456789012345678.0, 22, 1, "  123456789012345700.0"}, {inf, 6, 2, "   Inf"}, {-inf, 6, 2, "  -Inf"},
      {nan, 6, 2, "   NaN"}, {inf, 3, 0, "Inf"}, {-inf, 3, 0, "***"}};
  for (const auto& c : f) {
    feclearexcept(FE_ALL_EXCEPT);  // the program edits with its traps on: no flag may be raised
    EXPECT_EQ(editF(c.value, c.w, c.d), c.text) << "F" << c.w << "." << c.d << " of " << c.value;
    EXPECT_EQ(fetestexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW), 0) << c.value;
  }
  const struct { int value, w; const char* text; } i[] = {{10, 1, "*"}, {-1, 1, "*"}, {7, 1, "7"}, {0, 3, "  0"},
      {-42, 4, " -42"}, {-42, 3, "-42"}, {-42, 2, "**"}, {INT_MIN, 11, "-2147483648"}, {INT_MIN, 10, "**********"}};
  for (const auto& c : i) EXPECT_EQ(editI(c.value, c.w), c.text) << "I" << c.w << " of " << c.value;
}

TEST(Records, FormattedRecords) {
  std::vector<FmtItem> nine;
  std::string eight = " ";  // F13.7 of 1 to 8, each but the last followed by a blank
  for (int k = 1; k <= 9; ++k) nine.emplace_back(static_cast<double>(k));
  for (int k = 1; k <= 8; ++k) eight += field(13, std::to_string(k) + ".0000000") + (k < 8 ? " " : "");
  const struct { const char* fmt; std::vector<FmtItem> items; std::vector<std::string> records; } cases[] = {
      // 94999999999999996 and 11999999999999999; the ninth value alone on a
      // second record; no blank after the last field.
      {"(1X,'a(',I1,')',F12.8,1X,F12.8)", {1, 0.95, 0.0012}, {" a(1)   .95000000    .00120000"}},
      {"(1X,8(F13.7,1X))", nine, {eight, "    9.0000000"}},
      {"(1X,8(F13.7,1X))", {1.0, -2.5, 0.0000125}, {"     1.0000000    -2.5000000      .0000125"}},
      // Reversion to the whole format, or to the last group of the outermost
      // level with its repeat count, inside which a nested group repeats.
      {"(1X,I3)", {1, 2, 3}, {"   1", "   2", "   3"}}, {"(1X,3I2)", {1, 2, 3}, {"  1 2 3"}},
      {"(1X,'A',2(I2),'B')", {1, 2, 3, 4, 5}, {" A 1 2B", " 3 4B", " 5"}},
      {"(1X,2(I2),'|',3(I3))", {1, 2, 3, 4, 5, 6, 7}, {"  1 2|  3  4  5", "  6  7"}},
      {"(1X,2(I1,2('-')))", {1, 2, 3}, {" 1--2--", "3--"}},
      // A statement ends at a data descriptor without a value, after the
      // literals before it; pending blanks are dropped at its end.
      {"(1X,'a(',I1,')',F12.8)", {}, {" a("}}, {"(1X,'a(',I1,')',F12.8)", {4}, {" a(4)"}}, {"(1X,I2)", {}, {""}},
      {"(1X,I2,5X,I2)", {7}, {"  7"}}, {"(1X,I2,5X)", {7}, {"  7"}}, {"(1X,'hello')", {1, 2}, {" hello"}},
      {"('  it''s  ')", {}, {"  it's  "}}, {" ( 1x , f6.2 , 2x, i3 )", {1.5, -4}, {"   1.50   -4"}},
      // The format ends at the parenthesis that closes the first; an overflowing field goes on.
      {"(1X,8(F13.7,1X))(1X,'a(',I1,')',F12.8,1X,F12.8)", {2.0, 3.0}, {"     2.0000000     3.0000000"}},
      {"(1X,I3)junk '(", {5}, {"   5"}}, {"(1X,I1,F5.4,'|')", {10, 1.0}, {" ******|"}}};
  for (const auto& c : cases) EXPECT_EQ(formatRecords(c.fmt, c.items), c.records) << c.fmt;
  const std::pair<const char*, std::vector<FmtItem>> bad[] = {
      {"", {}}, {"1X", {}}, {"(1X", {}}, {"(1X,'abc)", {}}, {"(Q5)", {}}, {"(F5)", {1.0}}, {"(I)", {1}},
      {"(0(I2))", {1}}, {"(2'a')", {}}, {"(F5.2)", {1}}, {"(I3)", {1.5}}, {"(I3,2('x'))", {1, 2}}};
  for (const auto& [fmt, items] : bad) EXPECT_THROW(formatRecords(fmt, items), std::invalid_argument) << fmt;
}

TEST(Records, ListDirected) {
  const struct { double value; std::string text; } r64[] = {
      // Fixed point from 1 up to 10^7, exponent form otherwise (zero included).
      {1.5, "1.500000000000000"}, {0.5, "5.000000000000000E-001"}, {-0.0, "0.000000000000000E+000"},
      {-1.5, "-1.500000000000000"}, {9999999.0, "9999999.000000000000000"}, {1.0e7, "1.000000000000000E+007"},
      // 33333333333333335 rounds up at the 16th digit, 66666666666666663 not;
      // 33333333333333336: the 17th prints as 0.
      {10.0 / 3.0, "3.333333333333334"}, {2.0 / 3.0, "6.666666666666666E-001"}, {100.0 / 3.0, "33.333333333333340"},
      // 99999999999999694: a three-digit exponent; 17976931348623157 rounds up.
      {12345678.0, "1.234567800000000E+007"}, {1e-310, "9.999999999999969E-311"}, {DBL_MAX, "1.797693134862316E+308"},
      {-0.00123, "-1.230000000000000E-003"}, {inf, "Inf"}, {-inf, "-Inf"}, {nan, "NaN"}};
  feclearexcept(FE_ALL_EXCEPT);
  for (const auto& c : r64) EXPECT_EQ(freeReal64(c.value), field(24, c.text)) << c.value;
  const struct { float value; std::string text; } r32[] = {
      // 34999999403953552 rounds up at the 7th digit; 12345675000000000: the tie at the 8th goes up.
      {0.35f, "3.500000E-01"}, {1234567.5f, "1234568.000000"}, {-2.5f, "-2.500000"}, {0.0f, "0.000000E+00"},
      {9999999.0f, "9999999.000000"}, {1.0e7f, "1.000000E+07"}, {1.4e-45f, "1.401298E-45"}};
  for (const auto& c : r32) EXPECT_EQ(freeReal32(c.value), field(15, c.text)) << c.value;
  EXPECT_EQ(fetestexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW), 0) << "flag raised writing a real";
  // At most 79 characters a record: a number that does not fit goes whole to
  // a new record; a text is split, its rest after one blank.
  std::string t100, six;  // six integers make 72 characters
  std::vector<ListOutItem> seven;
  for (int k = 0; k < 100; ++k) t100 += static_cast<char>('a' + k % 26);
  for (int k = 1; k <= 7; ++k) seven.push_back(listInt(k));
  for (int k = 1; k <= 6; ++k) six += field(12, std::to_string(k));
  const std::string r15 = field(25, "1.500000000000000"), t78 = t100.substr(0, 78);
  const ListOutItem one = listInt(1), two = listInt(2), real = listReal(1.5), none = listText("");
  const struct { std::vector<ListOutItem> items; std::vector<std::string> records; } cases[] = {
      // One separator blank between two numbers, none next to a text, even an empty one.
      {{none}, {" "}}, {{listText("a"), listText("b")}, {" ab"}}, {{one, none, two}, {field(12, "1") + field(11, "2")}},
      {{one, listText("x"), two}, {field(12, "1") + "x" + field(11, "2")}},
      {{listInt(INT_MIN), listInt(INT_MAX)}, {" -2147483648  2147483647"}}, {seven, {six, field(12, "7")}},
      {{one, real, listReal32(0.35f)}, {field(12, "1") + r15 + field(16, "3.500000E-01")}},
      {{real, real, real, real}, {r15 + r15 + r15, r15}}, {{listText(t78)}, {" " + t78}},
      {{listText(t100)}, {" " + t78, " " + t100.substr(78)}}, {{listText(t78), two}, {" " + t78, field(12, "2")}}};
  for (const auto& c : cases) EXPECT_EQ(listRecords(c.items), c.records) << c.records[0];
}

// One read statement on a text: what its targets hold afterwards (reals bit
// for bit), the error, and the line the source gives next.
constexpr double I0 = -99, R0 = -99.25;  // every target's value before the read
const std::string T0 = "unset", eof = "6501 end of file encountered";

std::string p(const std::string& s) { return s + std::string(15 - s.size(), ' '); }  // a 15-character text

struct Read {
  std::string input;
  char kind;                // of every target: i integer, r real, t text
  std::vector<double> num;  // what the integer or real targets hold afterwards
  std::vector<std::string> text = {};
  std::string error = "";      // number and message; "" when the read succeeds
  const char* next = nullptr;  // the line the source gives next; nullptr: none
};

void check(const Read& c) {
  const std::size_t n = c.kind == 't' ? c.text.size() : c.num.size();
  int iv[8];
  double rv[8];
  std::string tv[8], got, want, next;
  std::vector<ListItem> items;
  for (std::size_t k = 0; k < n; ++k) {
    iv[k] = static_cast<int>(I0), rv[k] = R0, tv[k] = T0;
    items.push_back(c.kind == 'i' ? listTarget(iv[k]) : c.kind == 'r' ? listTarget(rv[k]) : listTarget(tv[k], 15));
  }
  MemoryLines src(c.input);
  feclearexcept(FE_ALL_EXCEPT);  // the program reads with its traps on: no flag may be raised
  const auto e = readListStatement(src, items);
  auto show = [](double v) { return (std::ostringstream() << std::setprecision(17) << v).str() + "|"; };
  for (std::size_t k = 0; k < n; ++k) {
    got += c.kind == 't' ? tv[k] + "|" : show(c.kind == 'i' ? iv[k] : rv[k]);
    want += c.kind == 't' ? c.text[k] + "|" : show(c.num[k]);
  }
  EXPECT_EQ(got + (e ? std::to_string(e->number) + " " + e->message : "") + (src.nextLine(next) ? " > " + next : ""),
            want + c.error + (c.next ? std::string(" > ") + c.next : ""))
      << ts::visible(c.input);
  EXPECT_EQ(fetestexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW), 0) << ts::visible(c.input);
}

TEST(Records, ListDirectedReading) {
  const Read cases[] = {
      // Separators, null values, slash and repeat counts; r* at a line end is r nulls.
      {"3 1.5\nnext", 'r', {3, 1.5}, {}, "", "next"}, {"3,,1.5\r\nnext", 'r', {3, R0, 1.5}, {}, "", "next"},
      {"\t3\t,\t4 , 5", 'i', {3, 4, 5}}, {"   , ,7", 'i', {I0, I0, 7}}, {"2*7", 'i', {7, 7}}, {"2*,9", 'i', {I0, I0, 9}},
      {"3*4 8\nnext", 'i', {4, 4}, {}, "", "next"}, {"1 2*\n5", 'i', {1, I0, I0, 5}}, {"1\n2", 'i', {1, 2}},
      {"5/6 7\nnext", 'i', {5, I0}, {}, "", "next"}, {"1 2 3\nnext", 'i', {1}, {}, "", "next"},
      {"\n\n  \t\n5\r\nrest", 'i', {5}, {}, "", "rest"}, {"1\n2,\n,3\nnext", 'i', {1, 2, I0, 3}, {}, "", "next"},
      {"x y\nnext", 'i', {}, {}, "", "next"}, {"12.5 0.01 abc", 'r', {12.5, 0.01, R0}, {}, "6503 invalid real: abc"},
      {"2*x", 'i', {I0, I0}, {}, "6502 invalid integer: x"}, {"1 2\n", 'i', {1, 2, I0}, {}, eof},
      {"\n\n", 't', {}, {T0}, eof}, {"", 'i', {}, {}, eof},
      // Texts: quoted as written, unquoted up to a blank, comma or slash;
      // what is glued to a closing quote is dropped.
      {"data/pts.dat label\nnext", 't', {}, {p("data"), T0}, "", "next"},
      {"points.dat  data file\r\nx", 't', {}, {p("points.dat"), p("data")}, "", "x"},
      {"'my data.dat' 'it''s'", 't', {}, {p("my data.dat"), p("it's")}}, {"'abc def", 't', {}, {p("abc def")}},
      {"\"a, b/c\" 'q\"q' \"x\"\"y\"", 't', {}, {p("a, b/c"), p("q\"q"), p("x\"y")}},
      {"'' 'ab'cd ef", 't', {}, {p(""), p("ab"), p("ef")}}, {"ab'c 2*'a b'", 't', {}, {p("ab'c"), p("a b"), p("a b")}},
      {"averyverylongname.dat", 't', {}, {"averyverylongna"}},  // cut to the length of the text
      {"a\rb c\x1a", 't', {}, {p("a\rb"), p("c\x1a")}},  // a lone CR and Ctrl-Z in a file are characters
      // Integers, in bases from 2 to 36.
      {"+12 -7 007 2147483647 -2147483648", 'i', {12, -7, 7, INT_MAX, INT_MIN}},
      {"16#7FFFFFFF 2#101 -8#17 36#z 10#42 -16#80000000", 'i', {INT_MAX, 5, -15, 35, 42, INT_MIN}},
      // Reals: exponents after E, D or a sign alone; 25 significant digits.
      {"1.5D0 1.5e0 15E-1 1.5+0", 'r', {1.5, 1.5, 1.5, 1.5}}, {"0.0000000000000000000000000000015", 'r', {1.5e-30}},
      {".5 5. +.5e3 1.e5 -2.5d-2 1.5-3 1E+2 7", 'r', {0.5, 5.0, 500.0, 1e5, -0.025, 0.0015, 100.0, 7.0}},
      {"0.1 0.8534 0 -0.0 000.000e5", 'r', {0.1, 0.8534, 0.0, -0.0, 0.0}},
      // 1 + 2^-53 lies halfway between 1 and the next double; its first 25
      // digits, 1.000000000000000111022302, lie below it and give 1.
      {"1.000000000000000111022302462515654042363166809082031251", 'r', {1.0}},
      {"1e308 1.7976931348623157e308 -1.7976931348623157D308", 'r', {1e308, DBL_MAX, -DBL_MAX}},
      {"1e-400 -1e-400 1e-99999999999 4.9406564584124654e-324", 'r', {0.0, -0.0, 0.0, 4.9406564584124654e-324}}};
  for (const Read& c : cases) check(c);
  // Each token alone into one target: the read fails and the target keeps its value.
  const struct { char kind; std::string error; std::vector<std::string> tokens; } rejected[] = {
      {'i', "6504 integer out of range", {"2147483648", "-2147483649", "99999999999999999999999", "16#80000000"}},
      {'i', "6502 invalid integer", {"1.5", "1e3", "+", "'5'", "*5", "1#0", "37#1", "8#8", "#5", "16#", "16#-F"}},
      {'r', "6505 real out of range", {"1e309", "-1.8e308", "1e999999999", "1" + std::string(39, '0') + "e300"}},
      {'r', "6503 invalid real", {".", "e5", "1.2.3", "--1", "1e", "1e+", "1.5-", "inf", "nan", "1.5q0", "1e5.0", "'1'"}},
      {'i', "6506 zero repeat count", {"0*5", "00*"}}};
  for (const auto& r : rejected)
    for (const std::string& t : r.tokens) check({t, r.kind, {r.kind == 'i' ? I0 : R0}, {}, r.error + ": " + t});
}

// Checks that end the run with a report, where no run of the program reaches
// them; values in range pass. A floating-point error is reported where its
// flag is checked, before an error that comes after it.
TEST(Records, Checks) {
  static volatile double vzero = 0.0, vbig = 1e308;
  static const volatile double zero = 0.0;
  std::vector<double> cov = {1.0, 0.0, 0.0, -4.0};
  double r;
  const std::string math = "^\r\nrun-time error M6", fp = math + "10", over = "F6602: .DEBUG\r\n- integer overflow\r\n$";
  const struct { std::function<void()> call; std::string err; } rows[] = {
      {[] { vzero = vzero / vzero; checkFloatingPoint(); }, fp + "1: MATH\r\n- floating-point error: invalid\r\n$"},
      {[] { vzero = vbig * vbig; checkFloatingPoint(); }, fp + "4: MATH\r\n- floating-point error: overflow\r\n$"},
      {[] { vzero = 1.0 / zero; vzero = vzero - vzero; checkFloatingPoint(); },
       fp + "3: MATH\r\n- floating-point error: divide by zero\r\n$"},
      {[] { vzero = vbig * vbig; iadd(INT_MAX, 1); }, fp + "4: MATH\r\n- floating-point error: overflow\r\n$"},
      {[] { mlog(-1e-300); }, math + "201: MATH\r\n- log: DOMAIN error\r\n$"},
      {[] { mlog(0.0); }, math + "202: MATH\r\n- log: SING error\r\n$"},
      {[] { mexp(709.79); }, math + "203: MATH\r\n- exp: OVERFLOW error\r\n$"},
      {[] { iadd(INT_MAX, 1); }, over}, {[] { isub(INT_MIN, 1); }, over}, {[] { imul(65536, 32768); }, over},
      {[] { Vec<double> v(3); v(4) = 1.0; }, "^\r\nrun-time error F6601: .DEBUG\r\n- subscript 4 out of range 1..3\r\n$"},
      {[&] { SDEFFIC({cov.data(), 2, 2}, 1.0, r, 2); }, "^\r\ncalib.cpp.59. : run-time error M6201: MATH\r\n"
       "- sqrt: DOMAIN error\r\n\r\nExecution traceback:\r\n\t\tfrom SDEFFIC in calib.cpp.59.\r\n$"}};
  for (const auto& c : rows) {
    const FpEnvironment held;
    std::string report = "(none)";
    try {
      c.call();
    } catch (const Error& e) {
      report = e.report();
    }
    EXPECT_TRUE(std::regex_search(report, std::regex(c.err))) << ts::visible(report);
  }
  EXPECT_EQ(iadd(INT_MAX - 1, 1) + isub(INT_MIN + 1, 1), -1);
  EXPECT_EQ(imul(-65536, 32768), INT_MIN);
  EXPECT_EQ(msqrt(0.0) + mlog(1.0) + mexp(-800.0), 0.0);  // an underflowing exponential is no error
  EXPECT_EQ(mexp(709.782712893384), 1.7976931348622732e308);
}

}  // namespace
}  // namespace tarvel
