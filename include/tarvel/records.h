// tarvel/records.h: what a program over the library needs besides the
// calibration to read its inputs and to report as tarvel1 does: the lines of
// an input and their list-directed reading, control.dat and the data file,
// the warnings about doubtful inputs, fixed-point fields, the run-time errors
// of a program's own files and console with the main program's place in the
// traceback, and the caller's floating-point environment held aside.
//
//   tarvel::MemoryLines lines(bytesOfControlDat);
//   tarvel::Control c = tarvel::readControl(lines, "control.dat");
//   tarvel::MemoryLines data(bytesOfTheDataFile);
//   tarvel::DataLines seen;
//   tarvel::Inputs in = tarvel::readData(data, c.dataFile, c, &seen);
//   for (const std::string& w : tarvel::inputWarnings(in, &seen, c.dataFile)) std::fprintf(stderr, "%s\n", w.c_str());
#pragma once

#include <fenv.h>

#include <cstddef>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tarvel/tarvel.h"

namespace tarvel {

// ---------------------------------------------------------------- lines

// Lines of an input unit. nextLine() returns false at end of file; the line
// has no line terminator (CR LF or LF removed, and a CR directly before the
// end of input). On the console, a line that ends in Ctrl-Z is end of file.
class LineSource {
 public:
  virtual ~LineSource() = default;
  virtual bool nextLine(std::string& line) = 0;
};

// Lines of an in-memory byte string. A line ends in CR LF or LF; the last
// line may lack its end, or end in a CR alone. With `console`, a line ending
// in Ctrl-Z (char 26) is end of file, from then on, as on the console.
class MemoryLines : public LineSource {
 public:
  explicit MemoryLines(std::string bytes, bool console = false);
  bool nextLine(std::string& line) override;

 private:
  std::string bytes_;
  std::size_t pos_ = 0;
  bool console_;
  bool ended_ = false;
};

// ---------------------------------------------------------------- list-directed reading

// One list-directed read statement splits the lines of a unit into values
// and stores them into integer, real and text targets in order.
//
//   int n = 0; double u = 0; std::string name;
//   MemoryLines src("3 1.5\r\n'my data.dat' label\n");
//   readListStatement(src, {listTarget(n), listTarget(u)});   // n = 3, u = 1.5
//   readListStatement(src, {listTarget(name, 15)});           // name = "my data.dat    "
//
// Reading rules:
// - A statement starts at the beginning of the next unread line and, once its
//   targets are satisfied (or a slash is met), drops the rest of that line.
//   A statement with no targets still consumes one line.
// - Values are separated by blanks and tabs, or by one comma with any blanks
//   around it. A line end counts as a blank, so values continue on the next
//   line and empty lines are skipped while values are still needed.
// - A comma at the start of the statement, or a comma after another comma
//   with only blanks between them, is a null value: the target keeps its
//   value. A slash ends the statement; the remaining targets keep theirs.
// - r*value (r decimal digits, r > 0) stands for r copies of the value; r*
//   followed by a separator stands for r null values. r = 0 is an error.
//   Copies beyond the statement's last target are dropped.
// - Texts: a value in apostrophes or quotation marks is taken as written
//   (blanks, commas and slashes kept; a doubled quote is one quote). It ends
//   at its closing quote, or at the line end when the closing quote is
//   missing; characters glued to the closing quote, up to the next separator,
//   are ignored. An unquoted text runs up to the next blank, tab, comma, slash
//   or line end. The text is stored left-justified, padded with blanks or cut
//   to the variable's length. A text never fails.
// - Integers: an optional sign and decimal digits, or an optional sign,
//   a decimal base from 2 to 36, '#' and digits of that base (letters A-Z in
//   either case for digits from 10 up): "16#7FFFFFFF", "-2#101". The value,
//   sign included, must lie in -2147483648..2147483647.
// - Reals: an optional sign, then digits with at most one decimal point and at
//   least one digit (".5", "5.", "+.5e3", "1.e5"), then an optional exponent:
//   E, e, D or d followed by a signed or unsigned integer, or a sign directly
//   after the digits ("1.5+0", "2.5-3"). The first 25 significant digits are
//   used, later ones dropped; the text is converted to the nearest double.
//   A magnitude beyond the largest double is an error; one below the smallest
//   subnormal reads as zero of the same sign. ".", "e5", "1.2.3", "--1",
//   "1e", "inf" and "nan" are errors.
// - Reaching the end of the lines while values are still needed is an error.

// One target of a read statement. `length` is the fixed length of a text
// variable (unused for numbers).
struct ListItem {
  enum Kind { Integer, Real, Text } kind;
  void* target;
  int length;
};

inline ListItem listTarget(int& v) { return ListItem{ListItem::Integer, &v, 0}; }
inline ListItem listTarget(double& v) { return ListItem{ListItem::Real, &v, 0}; }
// A text variable of fixed `length` characters.
inline ListItem listTarget(std::string& v, int length) { return ListItem{ListItem::Text, &v, length}; }

// A failed read: `number` is one of the input/output numbers of tarvel::err.
struct ListError {
  int number;
  std::string message;
};

// Carries out one list-directed read statement on `src`: starts at the next
// unread line, stores values into the targets as they are read, and skips the
// rest of the last line read. Returns the error (bad integer, bad real, value
// out of range, zero repeat count, end of file) instead of ending the run;
// the targets read before the error keep their new values.
std::optional<ListError> readListStatement(LineSource& src, std::span<const ListItem> items);
inline std::optional<ListError> readListStatement(LineSource& src, std::initializer_list<ListItem> items) {
  return readListStatement(src, std::span<const ListItem>(items.begin(), items.size()));
}

// `s` without its leading and trailing blanks and tabs (a text target read
// is padded with blanks to its length).
std::string trimBlanks(std::string_view s);

// A text from the input made safe for one line of a report: control
// characters become '?', and a text longer than 80 characters is cut with
// "...".
std::string printable(std::string_view text);

// ---------------------------------------------------------------- the inputs

// What the data file's lines showed beyond the values read: points whose line
// reads as more than four values and holds a comma between two digits, and
// the lines after the last point that read as points do.
struct DataLines {
  struct Comma {
    int point;
    std::string text;  // the word with the comma
    int values;        // the values it reads as
  };
  std::vector<Comma> commas;
  int trailingPoints = 0;
};

// The ten records of control.dat from `src`, the file `name`. An order outside
// 0 to 8 is a read error. A failed read throws tarvel::Error, with a note that
// places it (the file, the line, what was expected there).
Control readControl(LineSource& src, std::string_view name);

// The point count, the relative uncertainty and the points from `src`, the
// data file `name`, for a fit of control's order. A count below 1, below the
// coefficients of the fit, or equal to them when each fit is reported, is a
// read error; a failed read's Error carries a note, an end of file the points
// declared and found. With `seen`, the rest of the file is read too, and what
// its lines showed is kept there.
Inputs readData(LineSource& src, std::string_view name, const Control& control, DataLines* seen = nullptr);

// One line for each doubtful input, in this order:
//
//   tarvel1: warning: point 3: efficiency 94.6 is above 1 (efficiencies are fractions, not percent)
//
// an efficiency above 1 or not above 0, an efficiency uncertainty that is 0
// or negative, an index uncertainty that is negative (at most 10 lines, then
// one that counts the rest); then lines after the last point of the data
// file `name` that read as points (from `seen`); then, each kind shown
// kWarningsShown times and then counted, a point's line with a decimal comma
// (from `seen`) and an efficiency uncertainty not below the efficiency; then
// a common relative uncertainty above 0.1 or below 0. Nothing when all is
// sound.
std::vector<std::string> inputWarnings(const Inputs& in, const DataLines* seen = nullptr, std::string_view name = {});

// Of each kind of warning, the first few are shown and the rest counted.
inline constexpr int kWarningsShown = 3;

inline std::string warningLine(const std::string& text) { return "tarvel1: warning: " + text; }

// "5 more points with a comma between two digits": the count line of a kind.
std::string moreWarnings(int count, const char* noun, const char* nouns, const char* what);

// The values `line` alone reads as, counting up to `most` (at most 6); a null
// value is none.
int valuesOnLine(const std::string& line, int most);

// The blank-separated word of `line` that holds a comma between two digits
// where neither number around it has a decimal point or an exponent
// ("0,4754", not "0.42,0.946"), or an empty text when none does.
std::string decimalComma(const std::string& line);

// The shortest text that reads back to the same double: 94.6, 0, -0.004.
std::string shortestText(double v);

// ---------------------------------------------------------------- fields

// Fw.d as the report writes it: the real in fixed point with d decimals,
// right-justified in exactly w columns, its digits taken from its 17
// significant digits and rounded half-up, no zero before the point; w
// asterisks when the text needs more than w. An infinity is written as "Inf"
// or "-Inf" and a NaN as "NaN", right-justified, or as w asterisks when the
// field is narrower than the marker.
//
//   editF(0.12345, 6, 4)  -> " .1235"   digits 12345000000000000: the tie goes up
//   editF(0.99996, 6, 4)  -> "1.0000"   carry out of the first digit
//   editF(1.0, 5, 4)      -> "*****"    "1.0000" needs 6 columns
std::string editF(double value, int w, int d);

// ---------------------------------------------------------------- run-time errors

// The numbers of tarvel::Error (the report shows them in four digits).
namespace err {
// input/output group (letter F)
inline constexpr int kEndOfFile = 6501;
inline constexpr int kBadInteger = 6502;
inline constexpr int kBadReal = 6503;
inline constexpr int kIntegerRange = 6504;
inline constexpr int kRealRange = 6505;
inline constexpr int kZeroRepeat = 6506;
inline constexpr int kBadValue = 6507;  // a value read that the run cannot use
inline constexpr int kWriteFailed = 6508;
// $DEBUG group (letter F)
inline constexpr int kSubscript = 6601;
inline constexpr int kIntegerOverflow = 6602;
// ALLOCATE group (letter F)
inline constexpr int kNoMemory = 6701;
// math group (letter M)
inline constexpr int kFpInvalid = 6101;
inline constexpr int kFpDenormal = 6102;
inline constexpr int kFpDivideByZero = 6103;
inline constexpr int kFpOverflow = 6104;
inline constexpr int kFpUnderflow = 6105;
inline constexpr int kFpInexact = 6106;
inline constexpr int kMathDomain = 6201;
inline constexpr int kMathSing = 6202;
inline constexpr int kMathOverflow = 6203;
}  // namespace err

// Throws tarvel::Error with the report of a failed input/output statement,
// whose statement part reads e.g. ": READ(control.dat)" (`stmtKind` is
// "READ", "WRITE", "OPEN", ...), placed at the statement under way. A
// floating-point invalid operation, division by zero or overflow raised
// before it and not yet reported is reported instead, as it came first.
[[noreturn]] void fatalIo(int number, std::string_view stmtKind, std::string_view unitName, std::string_view message);

struct TraceFrame;

// The main program's frame of the traceback: the bottom frame of this
// thread's stack, pushed here when the thread has none yet. A program that
// keeps one for its whole run shares it with every library call it makes, so
// that a report names the statement of the main program under way, which
// at() sets after checking the floating-point flags raised before it.
class MainFrame {
 public:
  MainFrame();
  ~MainFrame();
  MainFrame(const MainFrame&) = delete;
  MainFrame& operator=(const MainFrame&) = delete;
  void at(int stmt);

 private:
  TraceFrame* frame_;
  bool pushed_;
};

// ---------------------------------------------------------------- floating point

// The host's floating-point environment held aside for a scope: the flags
// cleared and every trap off (a host may have turned some on) until the scope
// ends, then the environment exactly as it was. Every entry of the library
// holds it; a host that calls the library from an environment of its own (a
// Python interpreter, say) can hold it around its own work too.
class FpEnvironment {
 public:
  FpEnvironment();
  ~FpEnvironment();
  FpEnvironment(const FpEnvironment&) = delete;
  FpEnvironment& operator=(const FpEnvironment&) = delete;

 private:
  fenv_t saved_;
};

}  // namespace tarvel
