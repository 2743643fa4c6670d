// List-directed input: the splitting of lines into values, the conversion of
// each value to its target's type, and the program's read statement.
#include "records/listin.h"

#include <charconv>
#include <climits>
#include <string_view>
#include <system_error>
#include <utility>

#include "records/runtime.h"

namespace tarvel {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Characters that end an unquoted value (besides the line end).
bool endsValue(char c) { return c == ' ' || c == '\t' || c == ',' || c == '/'; }

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// One item of the input: a value (possibly repeated), r null values, the
// slash that ends the statement, or the end of the lines.
struct Token {
  enum Kind { Value, Null, Slash, End } kind = End;
  int count = 1;      // copies of the value (or nulls) this item stands for
  std::string text;   // the value, quotes removed from a quoted text
  bool quoted = false;
  std::string raw;    // the value as written, for error messages
};

// Walks the lines of one read statement value by value.
class Scanner {
 public:
  explicit Scanner(LineSource& src) : src_(src) {}

  // Reads the statement's first line; false at end of file.
  bool start() {
    pos_ = 0;
    return src_.nextLine(line_);
  }

  // The next item. A line end is a blank: lines are fetched until a value,
  // a comma, a slash or the end of the lines is found.
  std::optional<ListError> next(Token& t) {
    t = Token{};
    for (;;) {
      while (pos_ < line_.size() && isBlank(line_[pos_])) ++pos_;
      if (pos_ >= line_.size()) {
        if (!src_.nextLine(line_)) {
          t.kind = Token::End;
          return std::nullopt;
        }
        pos_ = 0;
        continue;
      }
      const char c = line_[pos_];
      if (c == ',') {
        ++pos_;
        // The first comma after a value only separates; any other is a null.
        if (commaSeparates_) {
          commaSeparates_ = false;
          continue;
        }
        t.kind = Token::Null;
        return std::nullopt;
      }
      if (c == '/') {
        ++pos_;
        t.kind = Token::Slash;
        return std::nullopt;
      }
      break;
    }

    const std::size_t start = pos_;
    // Repeat count: decimal digits directly followed by '*'.
    std::size_t p = pos_;
    while (p < line_.size() && isDigit(line_[p])) ++p;
    if (p > pos_ && p < line_.size() && line_[p] == '*') {
      long long r = 0;
      for (std::size_t i = pos_; i < p; ++i)
        if (r <= INT_MAX) r = r * 10 + (line_[i] - '0');
      if (r == 0) {
        std::size_t end = p;
        while (end < line_.size() && !endsValue(line_[end])) ++end;
        return ListError{err::kZeroRepeat, "zero repeat count: " + line_.substr(start, end - start)};
      }
      t.count = r > INT_MAX ? INT_MAX : static_cast<int>(r);
      pos_ = p + 1;
      commaSeparates_ = true;
      if (pos_ >= line_.size() || endsValue(line_[pos_])) {
        t.kind = Token::Null;  // r* alone: r null values
        return std::nullopt;
      }
    }

    const std::size_t valueStart = pos_;
    const char q = line_[pos_];
    if (q == '\'' || q == '"') {
      // Quoted text: taken as written up to the closing quote; a doubled
      // quote is one quote character; a missing closing quote ends the value
      // at the line end.
      ++pos_;
      while (pos_ < line_.size()) {
        const char d = line_[pos_++];
        if (d == q) {
          if (pos_ < line_.size() && line_[pos_] == q) {
            t.text += q;
            ++pos_;
            continue;
          }
          break;
        }
        t.text += d;
      }
      t.quoted = true;
      // Characters glued to the closing quote belong to no value.
      while (pos_ < line_.size() && !endsValue(line_[pos_])) ++pos_;
    } else {
      while (pos_ < line_.size() && !endsValue(line_[pos_])) ++pos_;
      t.text = line_.substr(valueStart, pos_ - valueStart);
    }
    t.raw = line_.substr(valueStart, pos_ - valueStart);
    t.kind = Token::Value;
    commaSeparates_ = true;
    return std::nullopt;
  }

 private:
  LineSource& src_;
  std::string line_;
  std::size_t pos_ = 0;
  bool commaSeparates_ = false;  // false at the start: a leading comma is a null
};

enum class Parse { Ok, Bad, Range };

// Value of a digit in bases up to 36, or -1.
int digitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  return -1;
}

// [sign] digits, or [sign] base#digits with a decimal base from 2 to 36.
Parse parseInteger(std::string_view s, int& out) {
  std::size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  int base = 10;
  const std::size_t hash = s.find('#', i);
  if (hash != std::string_view::npos) {
    if (hash == i) return Parse::Bad;
    int b = 0;
    for (std::size_t j = i; j < hash; ++j) {
      if (!isDigit(s[j])) return Parse::Bad;
      b = b * 10 + (s[j] - '0');
      if (b > 36) return Parse::Bad;
    }
    if (b < 2) return Parse::Bad;
    base = b;
    i = hash + 1;
  }
  if (i >= s.size()) return Parse::Bad;
  // The magnitude is accumulated until it passes 2^31; later digits are
  // still checked for syntax.
  long long magnitude = 0;
  bool tooBig = false;
  for (; i < s.size(); ++i) {
    const int d = digitValue(s[i]);
    if (d < 0 || d >= base) return Parse::Bad;
    if (!tooBig) {
      magnitude = magnitude * base + d;
      if (magnitude > 2147483648LL) tooBig = true;
    }
  }
  if (tooBig || (!negative && magnitude > 2147483647LL)) return Parse::Range;
  out = static_cast<int>(negative ? -magnitude : magnitude);
  return Parse::Ok;
}

// [sign] mantissa [exponent]; see the header for the accepted forms.
Parse parseReal(std::string_view s, double& out) {
  std::size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';

  // Mantissa digits and the number of them in front of the point.
  std::string mantissa;
  bool point = false;
  std::size_t intDigits = 0;
  for (; i < s.size(); ++i) {
    if (isDigit(s[i])) {
      mantissa += s[i];
    } else if (s[i] == '.' && !point) {
      point = true;
      intDigits = mantissa.size();
    } else {
      break;
    }
  }
  if (!point) intDigits = mantissa.size();
  if (mantissa.empty()) return Parse::Bad;

  // Exponent: a letter E, e, D or d, or a sign directly after the digits.
  long long exponent = 0;
  if (i < s.size()) {
    const char c = s[i];
    if (c == 'E' || c == 'e' || c == 'D' || c == 'd')
      ++i;
    else if (c != '+' && c != '-')
      return Parse::Bad;
    bool expNegative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) expNegative = s[i++] == '-';
    if (i >= s.size()) return Parse::Bad;
    for (; i < s.size(); ++i) {
      if (!isDigit(s[i])) return Parse::Bad;
      if (exponent < 1000000) exponent = exponent * 10 + (s[i] - '0');
    }
    if (expNegative) exponent = -exponent;
  }

  const std::size_t first = mantissa.find_first_not_of('0');
  if (first == std::string::npos) {
    out = negative ? -0.0 : 0.0;
    return Parse::Ok;
  }
  // The value is 0.ddd... x 10^e with the first 25 significant digits.
  const long long e = static_cast<long long>(intDigits) - static_cast<long long>(first) + exponent;
  if (e > 400) return Parse::Range;
  if (e < -400) {
    out = negative ? -0.0 : 0.0;
    return Parse::Ok;
  }
  std::string normal = negative ? "-0." : "0.";
  normal.append(mantissa, first, 25);
  normal += 'e';
  normal += std::to_string(e);

  double v = 0.0;
  std::from_chars_result r;
  {
    // The conversion may raise overflow or inexact flags that are not
    // errors of the program.
    const FlagWatch quiet;
    r = std::from_chars(normal.data(), normal.data() + normal.size(), v);
  }
  if (r.ec == std::errc::result_out_of_range) {
    if (e > 0) return Parse::Range;  // beyond the largest double
    out = negative ? -0.0 : 0.0;     // below the smallest subnormal
    return Parse::Ok;
  }
  if (r.ec != std::errc{} || r.ptr != normal.data() + normal.size()) return Parse::Bad;
  out = v;
  return Parse::Ok;
}

std::optional<ListError> store(const ListItem& item, const Token& t) {
  switch (item.kind) {
    case ListItem::Integer: {
      int v = 0;
      const Parse p = t.quoted ? Parse::Bad : parseInteger(t.text, v);
      if (p == Parse::Bad) return ListError{err::kBadInteger, "invalid integer: " + t.raw};
      if (p == Parse::Range) return ListError{err::kIntegerRange, "integer out of range: " + t.raw};
      *static_cast<int*>(item.target) = v;
      return std::nullopt;
    }
    case ListItem::Real: {
      double v = 0.0;
      const Parse p = t.quoted ? Parse::Bad : parseReal(t.text, v);
      if (p == Parse::Bad) return ListError{err::kBadReal, "invalid real: " + t.raw};
      if (p == Parse::Range) return ListError{err::kRealRange, "real out of range: " + t.raw};
      *static_cast<double*>(item.target) = v;
      return std::nullopt;
    }
    case ListItem::Text: {
      // Left-justified, padded with blanks or cut to the variable's length.
      const std::size_t length = item.length > 0 ? static_cast<std::size_t>(item.length) : 0;
      std::string v = t.text.substr(0, length);
      v.resize(length, ' ');
      *static_cast<std::string*>(item.target) = std::move(v);
      return std::nullopt;
    }
  }
  return std::nullopt;
}

ListError endOfFile() { return ListError{err::kEndOfFile, "end of file encountered"}; }

}  // namespace

std::optional<ListError> readListStatement(LineSource& src, std::span<const ListItem> items) {
  Scanner in(src);
  if (!in.start()) return endOfFile();
  Token t;
  int copies = 0;  // copies of the current token still to hand out
  for (const ListItem& item : items) {
    if (copies == 0) {
      if (auto e = in.next(t)) return e;
      if (t.kind == Token::End) return endOfFile();
      if (t.kind == Token::Slash) return std::nullopt;
      copies = t.count;
    }
    --copies;
    if (t.kind == Token::Null) continue;
    if (auto e = store(item, t)) return e;
  }
  // The rest of the current line is dropped with the scanner.
  return std::nullopt;
}

std::string trimBlanks(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return std::string(s.substr(b, e - b));
}

void readList(LineSource& src, std::string_view name, std::initializer_list<ListItem> items) {
  if (auto e = readListStatement(src, std::span<const ListItem>(items.begin(), items.size())))
    fatalIo(e->number, "READ", name, e->message);
}

// ---------------------------------------------------------------- MemoryLines

MemoryLines::MemoryLines(std::string bytes, bool console) : bytes_(std::move(bytes)), console_(console) {}

bool MemoryLines::nextLine(std::string& line) {
  if (ended_ || pos_ >= bytes_.size()) return false;
  std::size_t end = bytes_.find('\n', pos_);
  const bool terminated = end != std::string::npos;
  if (!terminated) end = bytes_.size();
  std::size_t stop = end;
  if (stop > pos_ && bytes_[stop - 1] == '\r') --stop;  // CR LF, or a CR at the end of input
  line.assign(bytes_, pos_, stop - pos_);
  pos_ = terminated ? end + 1 : end;
  if (console_ && !line.empty() && line.back() == '\x1a') {
    ended_ = true;  // the console's end of file
    line.clear();
    return false;
  }
  return true;
}

bool CountedLines::nextLine(std::string& line) {
  if (!src_.nextLine(line)) return false;
  ++count_;
  last_ = line;
  return true;
}

}  // namespace tarvel
