// Format-driven record writer: format parsing, the walk over the descriptors
// with format reversion, and the Iw and Fw.d field editors.
#include "records/format.h"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <stdexcept>
#include <system_error>


namespace tarvel {

// ---------------------------------------------------------------- digits

DecimalDigits decimalDigits(double value) {
  DecimalDigits x;
  x.d.fill('0');
  x.e = 0;
  const double magnitude = std::fabs(value);
  if (magnitude == 0.0) return x;
  // Scientific form with 16 digits after the point gives the 17 significant
  // digits as "d.dddddddddddddddde+XX"; the conversion works on integers and
  // raises no floating-point exception.
  char buf[40];
  const auto res = std::to_chars(buf, buf + sizeof buf, magnitude, std::chars_format::scientific, 16);
  const char* p = buf;
  x.d[0] = *p++;
  ++p;  // the point
  for (std::size_t i = 1; i < 17; ++i) x.d[i] = *p++;
  ++p;  // the letter e
  const bool negExp = (*p++ == '-');
  int exp = 0;
  while (p < res.ptr) exp = exp * 10 + (*p++ - '0');
  // d.ddd x 10^exp is 0.dddd x 10^(exp+1).
  x.e = (negExp ? -exp : exp) + 1;
  return x;
}

bool roundDigits(DecimalDigits& x, int keep) {
  const std::size_t k = static_cast<std::size_t>(keep);
  const bool up = x.d[k] >= '5';
  for (std::size_t i = k; i < 17; ++i) x.d[i] = '0';
  if (!up) return false;
  // Add one to the last kept digit, carrying through nines.
  std::size_t i = k;
  while (i > 0 && x.d[i - 1] == '9') {
    x.d[i - 1] = '0';
    --i;
  }
  if (i > 0) {
    ++x.d[i - 1];
    return false;
  }
  x.d[0] = '1';
  ++x.e;
  return true;
}

std::string fixedText(double value, int d, int maxDigits) {
  if (d < 0) d = 0;
  DecimalDigits x = decimalDigits(value);
  int n = x.e + d;  // digits before the point plus the decimals
  // Below a tenth of the last decimal place: a point and d zeros, unsigned.
  if (n < 0) return "." + std::string(static_cast<std::size_t>(d), '0');
  if (roundDigits(x, n < maxDigits ? n : maxDigits)) ++n;
  bool allZero = true;
  for (char c : x.d) allZero = allZero && c == '0';

  const int e = x.e;
  std::string text;
  text.reserve(static_cast<std::size_t>(n + 3 + (e < 0 ? -e : 0)));
  if (std::signbit(value) && !allZero) text += '-';
  int pos = 0;
  for (; pos < e; ++pos) text += x.at(pos);  // the integer part
  if (e == 0 && n == 0) text += '0';       // only for d = 0
  text += '.';
  for (int z = e; z < 0; ++z) text += '0';  // zeros between the point and the first digit
  for (; pos < n; ++pos) text += x.at(pos);
  return text;
}

std::string_view nonFiniteMarker(double value) {
  if (std::isnan(value)) return "NaN";
  return std::signbit(value) ? "-Inf" : "Inf";
}

// ---------------------------------------------------------------- fields

namespace {

std::string fitField(std::string_view text, int w) {
  const std::size_t width = static_cast<std::size_t>(w < 0 ? 0 : w);
  if (text.size() > width) return std::string(width, '*');
  std::string field(width - text.size(), ' ');
  field += text;
  return field;
}

}  // namespace

std::string editI(int value, int w) {
  return fitField(std::to_string(value), w);
}

std::string editF(double value, int w, int d) {
  if (!std::isfinite(value)) return fitField(nonFiniteMarker(value), w);
  return fitField(fixedText(value, d, 16), w);
}

// ---------------------------------------------------------------- format

namespace {

struct Node {
  enum Kind { Blanks, Literal, Int, Real, Group };
  explicit Node(Kind k) : kind(k) {}
  Kind kind;
  int n = 0;  // blanks for nX, w for Iw and Fw.d, repeat count for a group
  int d = 0;  // decimals of Fw.d
  std::string text;
  std::vector<Node> children;
};

[[noreturn]] void badFormat(std::string_view fmt, const char* why) {
  throw std::invalid_argument(std::string("format ") + std::string(fmt) + ": " + why);
}

class Parser {
 public:
  explicit Parser(std::string_view fmt) : fmt_(fmt) {}

  // The descriptors between the first opening parenthesis and its closing one.
  std::vector<Node> parse() {
    skipBlanks();
    if (!take('(')) badFormat(fmt_, "no opening parenthesis");
    return list();
  }

 private:
  std::vector<Node> list() {
    std::vector<Node> nodes;
    for (;;) {
      skipBlanks();
      if (pos_ >= fmt_.size()) badFormat(fmt_, "no closing parenthesis");
      if (take(')')) return nodes;
      if (take(',')) continue;
      const int count = number();
      if (pos_ >= fmt_.size()) badFormat(fmt_, "no closing parenthesis");
      const char c = fmt_[pos_++];
      if (c == '(') {
        Node g(Node::Group);
        g.n = count < 0 ? 1 : count;
        if (g.n == 0) badFormat(fmt_, "zero repeat count");
        g.children = list();
        nodes.push_back(std::move(g));
      } else if (c == 'X' || c == 'x') {
        Node b(Node::Blanks);
        b.n = count < 0 ? 1 : count;
        nodes.push_back(std::move(b));
      } else if (c == '\'') {
        if (count >= 0) badFormat(fmt_, "repeat count on a literal");
        Node lit(Node::Literal);
        lit.text = literal();
        nodes.push_back(std::move(lit));
      } else if (c == 'I' || c == 'i' || c == 'F' || c == 'f') {
        Node data((c == 'I' || c == 'i') ? Node::Int : Node::Real);
        data.n = number();
        if (data.n <= 0) badFormat(fmt_, "data descriptor without a width");
        if (data.kind == Node::Real) {
          if (!take('.')) badFormat(fmt_, "F descriptor without decimals");
          data.d = number();
          if (data.d < 0) badFormat(fmt_, "F descriptor without decimals");
        }
        const int reps = count < 0 ? 1 : count;
        if (reps == 0) badFormat(fmt_, "zero repeat count");
        for (int r = 0; r < reps; ++r) nodes.push_back(data);
      } else {
        badFormat(fmt_, "unsupported edit descriptor");
      }
    }
  }

  // The characters up to the closing apostrophe; a doubled apostrophe stands
  // for one.
  std::string literal() {
    std::string text;
    for (;;) {
      if (pos_ >= fmt_.size()) badFormat(fmt_, "unterminated literal");
      const char c = fmt_[pos_++];
      if (c == '\'') {
        if (pos_ < fmt_.size() && fmt_[pos_] == '\'') {
          ++pos_;
        } else {
          return text;
        }
      }
      text += c;
    }
  }

  // An unsigned decimal number, or -1 when none is there.
  int number() {
    skipBlanks();
    if (pos_ >= fmt_.size() || fmt_[pos_] < '0' || fmt_[pos_] > '9') return -1;
    long v = 0;
    while (pos_ < fmt_.size() && fmt_[pos_] >= '0' && fmt_[pos_] <= '9') {
      v = v * 10 + (fmt_[pos_++] - '0');
      if (v > 1000000) badFormat(fmt_, "number too large");
    }
    skipBlanks();
    return static_cast<int>(v);
  }

  bool take(char c) {
    if (pos_ < fmt_.size() && fmt_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }

  void skipBlanks() {
    while (pos_ < fmt_.size() && fmt_[pos_] == ' ') ++pos_;
  }

  std::string_view fmt_;
  std::size_t pos_ = 0;
};

bool hasData(const std::vector<Node>& nodes, std::size_t from) {
  for (std::size_t i = from; i < nodes.size(); ++i) {
    const Node& node = nodes[i];
    if (node.kind == Node::Int || node.kind == Node::Real) return true;
    if (node.kind == Node::Group && hasData(node.children, 0)) return true;
  }
  return false;
}

// The state of one statement: the record being built, its pending blanks and
// the next value to transfer.
class Walk {
 public:
  Walk(std::string_view fmt, const std::vector<FmtItem>& items) : fmt_(fmt), items_(items) {}

  bool itemsLeft() const { return next_ < items_.size(); }

  // Walks nodes[from..]; false when the statement ends at a data descriptor
  // that has no value left.
  bool run(const std::vector<Node>& nodes, std::size_t from) {
    for (std::size_t i = from; i < nodes.size(); ++i) {
      const Node& node = nodes[i];
      switch (node.kind) {
        case Node::Blanks:
          pending_ += static_cast<std::size_t>(node.n);
          break;
        case Node::Literal:
          put(node.text);
          break;
        case Node::Int:
        case Node::Real: {
          if (!itemsLeft()) return false;
          const FmtItem& item = items_[next_++];
          if (item.isInt != (node.kind == Node::Int))
            badFormat(fmt_, node.kind == Node::Int ? "real value for an I descriptor"
                                                    : "integer value for an F descriptor");
          put(item.isInt ? editI(item.i, node.n) : editF(item.r, node.n, node.d));
          break;
        }
        case Node::Group:
          for (int r = 0; r < node.n; ++r)
            if (!run(node.children, 0)) return false;
          break;
      }
    }
    return true;
  }

  // Ends the record; pending blanks are dropped.
  void endRecord() {
    records_.push_back(std::move(record_));
    record_.clear();
    pending_ = 0;
  }

  std::vector<std::string> take() { return std::move(records_); }

 private:
  void put(std::string_view text) {
    record_.append(pending_, ' ');
    pending_ = 0;
    record_ += text;
  }

  std::string_view fmt_;
  const std::vector<FmtItem>& items_;
  std::size_t next_ = 0;
  std::string record_;
  std::size_t pending_ = 0;
  std::vector<std::string> records_;
};

}  // namespace

// Records are not cut at any capacity: the longest record of the program is
// far below the 132 columns of the console.
std::vector<std::string> formatRecords(std::string_view fmt, const std::vector<FmtItem>& items) {
  const std::vector<Node> top = Parser(fmt).parse();
  Walk walk(fmt, items);
  // First pass over the whole format.
  if (!walk.run(top, 0) || !walk.itemsLeft() || !hasData(top, 0)) {
    walk.endRecord();
    return walk.take();
  }
  // Values left at the final parenthesis: new records from the last group of
  // the outermost level, or from the start when there is none.
  std::size_t revert = 0;
  for (std::size_t i = 0; i < top.size(); ++i)
    if (top[i].kind == Node::Group) revert = i;
  if (!hasData(top, revert)) badFormat(fmt, "reversion part has no data descriptor");
  for (;;) {
    walk.endRecord();
    if (!walk.run(top, revert) || !walk.itemsLeft()) break;
  }
  walk.endRecord();
  return walk.take();
}

void FormattedWrite::end() {
  for (const std::string& record : formatRecords(fmt_, items_)) sink_.writeRecord(unit_, record);
  items_.clear();
}

void writeFormatted(RecordSink& sink, int unit, std::string_view fmt, std::initializer_list<FmtItem> items) {
  for (const std::string& record : formatRecords(fmt, std::vector<FmtItem>(items))) sink.writeRecord(unit, record);
}

}  // namespace tarvel
