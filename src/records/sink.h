// Where the records of a write statement go, and where the lines of a read
// statement come from.
#pragma once

#include <string>
#include <string_view>

#include "tarvel/tarvel.h"

namespace tarvel {

// The console's unit (`*`).
inline constexpr int kConsole = kConsoleUnit;

// Takes the finished records of write statements, unit by unit.
class RecordSink {
 public:
  virtual ~RecordSink() = default;
  virtual void writeRecord(int unit, std::string_view record) = 0;
};

// Lines of an input unit. nextLine() returns false at end of file; the line
// has no line terminator (CR LF or LF removed, and a CR directly before the
// end of input). On the console, a line that ends in Ctrl-Z is end of file.
class LineSource {
 public:
  virtual ~LineSource() = default;
  virtual bool nextLine(std::string& line) = 0;
};

}  // namespace tarvel
