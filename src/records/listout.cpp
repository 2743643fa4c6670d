// List-directed output: the free real text of the two real types and the
// layout of a list-directed record with its 79-character limit.
#include "records/listout.h"

#include <cmath>
#include <cstddef>

#include "records/format.h"

namespace tarvel {

namespace {

constexpr std::size_t kRecordLimit = 79;
constexpr int kIntegerWidth = 11;

struct FreeRealLayout {
  int w;          // field width
  int d;          // decimals
  int x;          // exponent digits at least
  int maxDigits;  // significant digits at most
};

constexpr FreeRealLayout kReal64{24, 15, 3, 16};
constexpr FreeRealLayout kReal32{15, 6, 2, 7};

std::string rightJustify(std::string_view text, int w) {
  const std::size_t width = static_cast<std::size_t>(w);
  std::string field(text.size() < width ? width - text.size() : 0, ' ');
  field += text;
  return field;
}

// Exponent form: d.ddd...E+xxx with d + 1 significant digits.
std::string exponentText(double v, const FreeRealLayout& L) {
  DecimalDigits x = decimalDigits(v);
  int exponent = 0;
  if (v != 0.0) {
    roundDigits(x, L.d + 1 < L.maxDigits ? L.d + 1 : L.maxDigits);
    exponent = x.e - 1;  // the exponent of the first digit, after rounding
  }
  std::string text;
  if (v < 0.0) text += '-';
  text += x.at(0);
  text += '.';
  for (int i = 1; i <= L.d; ++i) text += x.at(i);
  text += 'E';
  text += exponent < 0 ? '-' : '+';
  const std::string digits = std::to_string(exponent < 0 ? -exponent : exponent);
  if (digits.size() < static_cast<std::size_t>(L.x)) text.append(static_cast<std::size_t>(L.x) - digits.size(), '0');
  text += digits;
  return text;
}

std::string freeReal(double v, const FreeRealLayout& L) {
  if (!std::isfinite(v)) return rightJustify(nonFiniteMarker(v), L.w);
  // Fixed point for magnitudes from 1 up to the width of the field's integer
  // part (below 10^7 for both types), exponent form otherwise.
  const int e = decimalDigits(v).e;
  if (v != 0.0 && e >= 1 && e <= L.w - L.d - 2) return rightJustify(fixedText(v, L.d, L.maxDigits), L.w);
  return rightJustify(exponentText(v, L), L.w);
}

}  // namespace

std::string freeReal64(double v) { return freeReal(v, kReal64); }

// The float is widened exactly, so its digit string is that of its own value.
std::string freeReal32(float v) { return freeReal(static_cast<double>(v), kReal32); }

std::vector<std::string> listRecords(const std::vector<ListOutItem>& items) {
  std::vector<std::string> records;
  // An empty `record` has nothing written yet: its leading blank is pending
  // and is written in front of the first item.
  std::string record;
  bool afterNumber = false;
  for (const ListOutItem& item : items) {
    if (item.kind == ListOutItem::Text) {
      std::string_view t = item.t;
      afterNumber = false;
      if (t.empty()) continue;
      if (record.empty()) record = " ";
      // Split at the limit; the rest starts a new record after one blank.
      while (record.size() + t.size() > kRecordLimit) {
        const std::size_t room = kRecordLimit - record.size();
        record.append(t.substr(0, room));
        t.remove_prefix(room);
        records.push_back(std::move(record));
        record = " ";
      }
      record.append(t);
      continue;
    }
    std::string field;
    switch (item.kind) {
      case ListOutItem::Integer:
        field = rightJustify(std::to_string(item.i), kIntegerWidth);
        break;
      case ListOutItem::Real32:
        field = freeReal32(item.f);
        break;
      default:
        field = freeReal64(item.r);
        break;
    }
    std::size_t lead = (record.empty() ? 1 : 0) + (afterNumber ? 1 : 0);
    if (record.size() + lead + field.size() > kRecordLimit) {
      // The number goes whole to a new record, after its leading blank.
      records.push_back(std::move(record));
      record.clear();
      lead = 1;
    }
    record.append(lead, ' ');
    record += field;
    afterNumber = true;
  }
  if (record.empty()) record = " ";  // an empty record is a single blank
  records.push_back(std::move(record));
  return records;
}

void writeList(RecordSink& sink, int unit, std::initializer_list<ListOutItem> items) {
  for (const std::string& record : listRecords(std::vector<ListOutItem>(items))) sink.writeRecord(unit, record);
}

}  // namespace tarvel
