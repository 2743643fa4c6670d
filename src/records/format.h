// Format-driven record writer: builds the record or records of one formatted
// write statement from a format text and the values transferred to it.
//
// A format is a parenthesised list of nX, 'text', Iw, Fw.d and r( ... ). It
// ends at the parenthesis that closes its first opening one, so a text that
// goes on past it (formats stored back to back) is read only up to there.
//
//   formatRecords("(1X,'a(',I1,')',F12.8,1X,F12.8)", {1, 0.95, 0.0012})
//       -> { " a(1)   .95000000    .00120000" }
//   formatRecords("(1X,8(F13.7,1X))", {1.0, 2.0, 3.0})
//       -> { "     1.0000000     2.0000000     3.0000000" }   (no trailing blank)
//   formatRecords("(1X,8(F13.7,1X))", nine values)
//       -> two records; the second holds only the ninth 13-column field
//   formatRecords("(1X,'a(',I1,')',F12.8)", {})  -> { " a(" }
//
// Fixed-point fields (Fw.d) take their digits from the 17 significant digits
// of the value, round half-up on that digit string, print no zero before the
// point, and fill a field that is too narrow with asterisks:
//
//   editF(0.12345, 6, 4)  -> " .1235"   digits 12345000000000000: the tie goes up
//   editF(2.675, 5, 2)    -> " 2.67"    digits 26749999999999998: below the tie
//   editF(0.99996, 6, 4)  -> "1.0000"   carry out of the first digit
//   editF(1.0, 5, 4)      -> "*****"    "1.0000" needs 6 columns
//   editF(-0.00004, 6, 4) -> " .0000"   rounds to zero: no minus sign
//   editF(0.0, 7, 2)      -> "    .00"
//   editI(-42, 4)         -> " -42"     editI(10, 1) -> "*"
//
// A record holds exactly what was written: blanks from nX are written only
// when something follows them, and nothing pads the record. A statement ends
// at a data descriptor for which no value is left, or at the final
// parenthesis when every value has been used; values left over at the final
// parenthesis start a new record from the last outermost group (with its
// repeat count), or from the start of a format that has no group.
#pragma once

#include <array>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "records/sink.h"  // and editF (Fw.d), in tarvel/records.h

namespace tarvel {

// Iw: the integer right-justified in exactly w columns; w asterisks when the
// digits and sign need more than w.
std::string editI(int value, int w);

// One value of a formatted write: a 32-bit integer or a 64-bit real.
struct FmtItem {
  bool isInt;
  int i;
  double r;
  constexpr FmtItem(int v) : isInt(true), i(v), r(0.0) {}
  constexpr FmtItem(double v) : isInt(false), i(0), r(v) {}
};

// The records of one formatted write statement. An ill-formed format, an
// integer given to an F descriptor or a real given to an I descriptor is a
// programming error and throws std::invalid_argument.
std::vector<std::string> formatRecords(std::string_view fmt, const std::vector<FmtItem>& items);

// One formatted write statement: begin (sink, unit and format), the items one
// by one (possibly from a loop), end. end() builds the records and hands them,
// in order, to the sink for the unit. The format text must outlive the
// statement.
class FormattedWrite {
 public:
  FormattedWrite(RecordSink& sink, int unit, std::string_view fmt) : sink_(sink), unit_(unit), fmt_(fmt) {}
  FormattedWrite& item(int v) {
    items_.emplace_back(v);
    return *this;
  }
  FormattedWrite& item(double v) {
    items_.emplace_back(v);
    return *this;
  }
  void end();

 private:
  RecordSink& sink_;
  int unit_;
  std::string_view fmt_;
  std::vector<FmtItem> items_;
};

// A whole formatted write statement in one call.
void writeFormatted(RecordSink& sink, int unit, std::string_view fmt, std::initializer_list<FmtItem> items);

// ---------------------------------------------------------------- digits
// Building blocks shared with the list-directed writer.

// A magnitude as 17 significant decimal digits, rounded to nearest:
// magnitude = 0.d[0]d[1]...d[16] x 10^e. Zero is all '0' with e = 0.
struct DecimalDigits {
  std::array<char, 17> d;
  int e;
  // The digit at position i (from 0); positions past the 17th are '0'.
  char at(int i) const { return i < 17 ? d[static_cast<std::size_t>(i)] : '0'; }
};

// The digits of |value| (value finite). Raises no floating-point exception.
DecimalDigits decimalDigits(double value);

// Rounds the digit string half-up to its first `keep` digits (0 <= keep <= 16)
// and sets the rest to '0'. A carry out of the first digit leaves "1000..."
// and raises e by one; the return value tells whether that happened.
bool roundDigits(DecimalDigits& x, int keep);

// The unjustified fixed-point text of a finite value with d decimals, rounded
// to at most `maxDigits` significant digits (at most 16); the digits past
// them print as 0. editF is this text with maxDigits = 16, fitted to w.
std::string fixedText(double value, int d, int maxDigits);

// The text of an infinity or NaN in a numeric field ("Inf", "-Inf", "NaN").
std::string_view nonFiniteMarker(double value);

}  // namespace tarvel
