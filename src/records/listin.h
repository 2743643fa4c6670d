// List-directed input: one read statement splits the lines of a unit into
// values and stores them into integer, real and text targets in order.
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
#pragma once

#include <initializer_list>
#include <cstddef>
#include <optional>
#include <span>
#include <string>

#include "records/sink.h"

namespace tarvel {

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

// A read statement of the run on `src`, the file `name`: a failed read is the
// fatal "READ(<name>)" error.
void readList(LineSource& src, std::string_view name, std::initializer_list<ListItem> items);

// `s` without its leading and trailing blanks and tabs (a text target read
// is padded with blanks to its length).
std::string trimBlanks(std::string_view s);

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

// Lines of another source, counted, with the text of the last line handed
// out: the line where a read statement stopped, for a message that places it.
class CountedLines : public LineSource {
 public:
  explicit CountedLines(LineSource& src) : src_(src) {}
  bool nextLine(std::string& line) override;
  int count() const { return count_; }
  const std::string& last() const { return last_; }

 private:
  LineSource& src_;
  int count_ = 0;
  std::string last_;
};

}  // namespace tarvel
