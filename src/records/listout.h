// List-directed output records: texts and numbers laid out by their types.
//
// Every record starts with one blank (taken as carriage control on the
// console). A number is right-justified in the field of its type, integer 11,
// 32-bit real 15, 64-bit real 24 columns, with one more separator blank when
// it directly follows another number; a text is written unchanged, with no
// blank put in front of it except the leading blank of the record.
//
//   listRecords({listInt(2), listText(" order polynomial fit with uncertainties in y")})
//       -> { "           2 order polynomial fit with uncertainties in y" }     (11 blanks)
//   listRecords({listText(" Coefficient order"), listInt(3), listText(" negligible")})
//       -> { "  Coefficient order          3 negligible" }
//   listRecords({listText("reduced chi2="), listReal(1.5)})
//       -> { " reduced chi2=       1.500000000000000" }
//   listRecords({listInt(1), listInt(-7)})  -> { "           1          -7" }
//   listRecords({})  -> { " " }
//
// A record holds at most 79 characters: a number that does not fit goes whole
// to a new record; a text is split at the limit and its rest starts a new
// record after one blank.
//
// Free real text: a magnitude from 1 up to (not including) 10^7 in fixed
// point, anything else (zero included) in exponent form, rounded half-up on
// the 17-digit string to 16 significant digits (64-bit) or 7 (32-bit):
//
//   freeReal64(1.5)         -> "       1.500000000000000"
//   freeReal64(0.5)         -> "  5.000000000000000E-001"
//   freeReal64(0.0)         -> "  0.000000000000000E+000"
//   freeReal64(12345678.0)  -> "  1.234567800000000E+007"
//   freeReal32(0.35f)       -> "   3.500000E-01"   digits 34999999403953552
//   freeReal32(1234567.5f)  -> " 1234568.000000"   a tie at the 8th digit goes up
//
// An infinity or NaN is written as "Inf", "-Inf" or "NaN" right-justified in
// the field.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "records/sink.h"

namespace tarvel {

// The 24-column field of a 64-bit real: 15 decimals, exponent of 3 digits.
std::string freeReal64(double v);
// The 15-column field of a 32-bit real: 6 decimals, exponent of 2 digits.
std::string freeReal32(float v);

// One item of a list-directed write. A text item refers to characters that
// must outlive the write.
struct ListOutItem {
  enum Kind { Integer, Real32, Real64, Text } kind;
  int i;
  double r;
  float f;
  std::string_view t;
};

constexpr ListOutItem listInt(int v) { return {ListOutItem::Integer, v, 0.0, 0.0f, {}}; }
constexpr ListOutItem listReal(double v) { return {ListOutItem::Real64, 0, v, 0.0f, {}}; }
constexpr ListOutItem listReal32(float v) { return {ListOutItem::Real32, 0, 0.0, v, {}}; }
constexpr ListOutItem listText(std::string_view t) { return {ListOutItem::Text, 0, 0.0, 0.0f, t}; }

// The records of one list-directed write statement (one, or more at the
// 79-character limit). No items gives the single record " ".
std::vector<std::string> listRecords(const std::vector<ListOutItem>& items);

// One list-directed write statement: its records are handed, in order, to
// the sink for the unit.
void writeList(RecordSink& sink, int unit, std::initializer_list<ListOutItem> items);

}  // namespace tarvel
