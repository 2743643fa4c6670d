// Reading control.dat and the data file, the notes that place a read error,
// and the warnings about doubtful inputs.
#include "run/input.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <new>

#include "records/listin.h"
#include "records/runtime.h"

namespace tarvel {

namespace {

// The main program's read statement n. A read that fails gets a note that
// places it: the file, the line where the statement stopped and what was
// expected there.
void readAt(MainFrame& main, int n, CountedLines& src, std::string_view name, const std::string& expected,
            std::initializer_list<ListItem> items) {
  main.at(n);
  try {
    readList(src, name, items);
  } catch (Error& e) {
    if (e.number() == err::kEndOfFile)
      e.setNote(std::string(name) + " ends after line " + std::to_string(src.count()) + ", before " + expected);
    else
      e.setNote(std::string(name) + " line " + std::to_string(src.count()) + ": " + expected);
    throw;
  }
}

// A value that was read but cannot be used, placed like a failed read.
[[noreturn]] void badValue(const CountedLines& src, std::string_view name, const std::string& expected,
                           const std::string& message) {
  try {
    fatalIo(err::kBadValue, "READ", name, message);
  } catch (Error& e) {
    e.setNote(std::string(name) + " line " + std::to_string(src.count()) + ": " + expected);
    throw;
  }
}

// control.dat's heading: its first line without the blanks around it, and
// without its quotes when it is one quoted text.
std::string headingOf(const std::string& line) {
  std::string heading = trimBlanks(line), text, more = "\x01";
  if (heading.size() < 2 || (heading[0] != '\'' && heading[0] != '"') || heading.back() != heading[0]) return heading;
  MemoryLines one(heading);
  (void)readListStatement(one, {listTarget(text, static_cast<int>(heading.size())), listTarget(more, 1)});
  return more == "\x01" ? trimBlanks(text) : heading;
}

// Whether a line alone reads as a calibration point: four numbers.
bool readsAsPoint(const std::string& line) {
  double v[4] = {NAN, NAN, NAN, NAN};
  MemoryLines one(line);
  if (readListStatement(one, {listTarget(v[0]), listTarget(v[1]), listTarget(v[2]), listTarget(v[3])})) return false;
  for (double x : v)
    if (std::isnan(x)) return false;  // a null value
  return true;
}

const char* countWord(int n) {
  static constexpr const char* kWords[] = {"no", "one", "two", "three", "four", "five", "six"};
  return n >= 0 && n <= 6 ? kWords[n] : "many";
}

// Collects warnings of one kind about points: the first few are shown, the
// rest counted.
class WarningKind {
 public:
  WarningKind(std::vector<std::string>& lines, const char* what) : lines_(lines), what_(what) {}
  ~WarningKind() {
    if (count_ > kWarningsShown) lines_.push_back(warningLine(moreWarnings(count_ - kWarningsShown, "point", "points", what_)));
  }
  void add(const std::string& text) {
    if (++count_ <= kWarningsShown) lines_.push_back(warningLine(text));
  }

 private:
  std::vector<std::string>& lines_;
  const char* what_;
  int count_ = 0;
};

}  // namespace

int valuesOnLine(const std::string& line, int most) {
  // Every value fits a text target; one that a read leaves as it was got none.
  std::array<std::string, 6> texts;
  std::array<ListItem, 6> items;
  for (int k = 0; k < most; ++k) {
    texts[k] = "\x01";
    items[k] = listTarget(texts[k], kNameLength);
  }
  MemoryLines one(line);
  (void)readListStatement(one, std::span<const ListItem>(items.data(), static_cast<std::size_t>(most)));
  int n = 0;
  for (int k = 0; k < most; ++k) n += texts[k] != "\x01";
  return n;
}

std::string shortestText(double v) {
  char buf[32];
  return std::string(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

std::string moreWarnings(int count, const char* noun, const char* nouns, const char* what) {
  return std::to_string(count) + " more " + (count == 1 ? noun : nouns) + " " + what;
}

std::string decimalComma(const std::string& line) {
  auto digit = [&](std::size_t k) { return k < line.size() && std::isdigit(static_cast<unsigned char>(line[k])); };
  // A comma between two numbers that have their decimal point or exponent
  // ("0.42,0.946") separates values as it should; one inside digits alone
  // ("0,4754") stands for a decimal point.
  auto plain = [&](std::size_t from, std::size_t to) {
    return line.substr(from, to - from).find_first_of(".eEdD") == std::string::npos;
  };
  for (std::size_t i = 1; i + 1 < line.size(); ++i) {
    if (line[i] != ',' || !digit(i - 1) || !digit(i + 1)) continue;
    const std::size_t left = line.find_last_of(" \t,/", i - 1), right = line.find_first_of(" \t,/", i + 1);
    const std::size_t start = left == std::string::npos ? 0 : left + 1, end = std::min(right, line.size());
    if (!plain(start, i) || !plain(i + 1, end)) continue;
    const std::size_t from = line.find_last_of(" \t", i) == std::string::npos ? 0 : line.find_last_of(" \t", i) + 1;
    const std::size_t to = line.find_first_of(" \t", i);
    return line.substr(from, to == std::string::npos ? std::string::npos : to - from);
  }
  return {};
}

int distinctIndices(const std::vector<Point>& points, int most) {
  double seen[kMaxOrder + 1];
  int n = 0;
  for (const Point& p : points) {
    if (n >= most || n >= kMaxOrder + 1) break;
    if (std::find(seen, seen + n, p.q) == seen + n) seen[n++] = p.q;
  }
  return n;
}

std::string fewerDistinct(int distinct, int order) {
  return std::to_string(distinct) + (distinct == 1 ? " distinct index is" : " distinct indices are") +
         " fewer than the " + std::to_string(order + 1) + " coefficients of an order " + std::to_string(order) + " fit";
}

namespace {

Control readControlLines(LineSource& lines, std::string_view name);

// The lines handed out, kept: control.dat's few lines, searched for one that
// lost its label word when a read fails.
class KeptLines : public LineSource {
 public:
  explicit KeptLines(LineSource& src) : src_(src) {}
  bool nextLine(std::string& line) override {
    if (!src_.nextLine(line)) return false;
    lines.push_back(line);
    return true;
  }
  std::vector<std::string> lines;

 private:
  LineSource& src_;
};

}  // namespace

Control readControl(LineSource& lines, std::string_view name) {
  KeptLines kept(lines);
  try {
    return readControlLines(kept, name);
  } catch (Error& e) {
    // A setting without its label word takes the next line's value as its
    // label, and every later setting is read a line too low.
    for (std::size_t i = 1; i + 1 < kept.lines.size(); ++i)
      if (valuesOnLine(kept.lines[i], 2) == 1) {
        e.setNote(e.note() + " (line " + std::to_string(i + 1) +
                  " holds a value without its label word, so the settings after it were read a line too low)");
        break;
      }
    throw;
  }
}

namespace {

Control readControlLines(LineSource& lines, std::string_view name) {
  MainFrame main;
  Control c;
  std::string label;
  CountedLines src(lines);
  const std::string word = ", and a label word";
  readAt(main, 92, src, name, "a heading line", {listTarget(label, kLabelLength)});
  c.heading = headingOf(src.last());
  readAt(main, 94, src, name, "the data file's name" + word, {listTarget(c.dataFile, kNameLength), listTarget(label, kLabelLength)});
  const std::string order = "the polynomial order, a whole number from 0 to 8";
  readAt(main, 96, src, name, order + word, {listTarget(c.order), listTarget(label, kLabelLength)});
  if (c.order < 0 || c.order > kMaxOrder)
    badValue(src, name, order, "polynomial order " + std::to_string(c.order) + " is outside 0 to 8");
  for (int k = 0; k < 6; ++k)
    readAt(main, 102, src, name, "switch opt(" + std::to_string(k + 1) + "), a whole number (1 is on)" + word,
           {listTarget(c.opt[k]), listTarget(label, kLabelLength)});
  readAt(main, 105, src, name, "the results file's name" + word, {listTarget(c.resultsFile, kNameLength), listTarget(label, kLabelLength)});
  c.dataFile = trimBlanks(c.dataFile);
  c.resultsFile = trimBlanks(c.resultsFile);
  return c;
}

}  // namespace

Inputs readData(LineSource& lines, std::string_view name, const Control& control, DataLines* seen) {
  MainFrame main;
  Inputs in;
  in.order = control.order;
  in.switches = control.switches();
  CountedLines src(lines);
  int npt = 0;
  const std::string first = "the point count, a whole number, and the common relative uncertainty";
  readAt(main, 119, src, name, first, {listTarget(npt), listTarget(in.urel)});
  if (npt < 1) badValue(src, name, first, "point count " + std::to_string(npt) + " is below 1");
  main.at(123);
  const int ncoef = iadd(control.order, 1);
  if (npt < ncoef)
    badValue(src, name, first,
             "point count " + std::to_string(npt) + " is below the " + std::to_string(ncoef) +
                 " coefficients of an order " + std::to_string(control.order) + " fit");
  if (in.switches.printFits && npt == ncoef)  // the report divides chi2 by npt - ncoef
    badValue(src, name, first, "as many points as coefficients leave no degree of freedom for reduced chi2");
  main.at(129);
  try {
    in.points.resize(static_cast<std::size_t>(npt));
  } catch (const std::bad_alloc&) {
    fatalAllocate("insufficient virtual memory");
  }
  for (int i = 0; i < npt; ++i) {
    Point& p = in.points[static_cast<std::size_t>(i)];
    const int before = src.count();
    try {
      readAt(main, 134, src, name,
             "point " + std::to_string(i + 1) + ": four numbers (index, its uncertainty, efficiency, its uncertainty)",
             {listTarget(p.q), listTarget(p.uq), listTarget(p.e), listTarget(p.ue)});
    } catch (Error& e) {
      if (e.number() == err::kEndOfFile)
        e.setNote(std::string(name) + ": " + std::to_string(npt) + " points declared, " + std::to_string(i) + " found");
      throw;
    }
    // A point's line that reads as more than its four values.
    if (seen != nullptr && src.count() == before + 1 && valuesOnLine(src.last(), 5) > 4) {
      const std::string comma = decimalComma(src.last());
      if (!comma.empty()) seen->commas.push_back({i + 1, comma, valuesOnLine(comma, 6)});
    }
  }
  // No curve of order n passes through fewer than n + 1 distinct indices.
  if (const int distinct = distinctIndices(in.points, ncoef); distinct < ncoef) {
    try {
      fatalIo(err::kBadValue, "READ", name, fewerDistinct(distinct, control.order));
    } catch (Error& e) {
      e.setNote(std::string(name) + ": the points' quenching indices: an order " + std::to_string(control.order) +
                " fit needs " + std::to_string(ncoef) + " distinct ones");
      throw;
    }
  }
  if (seen != nullptr)
    for (std::string line; src.nextLine(line);) seen->trailingPoints += readsAsPoint(line);
  return in;
}

std::vector<std::string> inputWarnings(const Inputs& in, const DataLines* seen, std::string_view name) {
  constexpr int kShown = 10;
  std::vector<std::string> lines;
  int count = 0;
  auto warn = [&](std::size_t i, const std::string& text) {
    if (++count <= kShown) lines.push_back(warningLine("point " + std::to_string(i + 1) + ": " + text));
  };
  for (std::size_t i = 0; i < in.points.size(); ++i) {
    const Point& p = in.points[i];
    if (p.e > 1.0) warn(i, "efficiency " + shortestText(p.e) + " is above 1 (efficiencies are fractions, not percent)");
    if (p.e <= 0.0) warn(i, "efficiency " + shortestText(p.e) + " is not above 0");
    if (p.ue == 0.0) warn(i, "efficiency uncertainty is 0 (the fit will divide by zero)");
    if (p.ue < 0.0) warn(i, "efficiency uncertainty " + shortestText(p.ue) + " is negative");
    if (p.uq < 0.0) warn(i, "index uncertainty " + shortestText(p.uq) + " is negative");
  }
  if (count > kShown)
    lines.push_back(warningLine(std::to_string(count - kShown) + " more warning" + (count == kShown + 1 ? "" : "s") +
                                " not shown"));
  if (seen != nullptr && seen->trailingPoints > 0) {
    const int n = seen->trailingPoints;
    lines.push_back(warningLine(std::string(name) + ": " + std::to_string(n) + (n == 1 ? " line" : " lines") +
                                " after point " + std::to_string(in.points.size()) + (n == 1 ? " reads" : " read") +
                                " as a point: is the point count " + std::to_string(in.points.size()) + " right?"));
  }
  if (seen != nullptr) {
    WarningKind commas(lines, "with a comma between two digits");
    for (const DataLines::Comma& c : seen->commas)
      commas.add("point " + std::to_string(c.point) + ": '" + printable(c.text) + "' reads as " + countWord(c.values) +
                 " values: a decimal comma?");
  }
  {
    WarningKind large(lines, "with an efficiency uncertainty not below the efficiency");
    for (std::size_t i = 0; i < in.points.size(); ++i) {
      const Point& p = in.points[i];
      if (p.e > 0.0 && p.ue >= p.e)
        large.add("point " + std::to_string(i + 1) + ": efficiency uncertainty " + shortestText(p.ue) +
                  " is not below the efficiency " + shortestText(p.e) + " (uncertainties in percent?)");
    }
  }
  if (in.urel > 0.1) {
    char percent[32];
    std::snprintf(percent, sizeof percent, "%.10g", in.urel * 100.0);
    lines.push_back(warningLine("common relative uncertainty " + shortestText(in.urel) + " is " + percent +
                                " %: is it in percent?"));
  }
  if (in.urel < 0.0) lines.push_back(warningLine("common relative uncertainty " + shortestText(in.urel) + " is negative"));
  return lines;
}

}  // namespace tarvel
