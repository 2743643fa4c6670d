// Where the records of a write statement go (the lines of a read statement
// come from a LineSource, tarvel/records.h).
#pragma once

#include <string>
#include <string_view>

#include "tarvel/records.h"

namespace tarvel {

// The console's unit (`*`).
inline constexpr int kConsole = kConsoleUnit;

// Takes the finished records of write statements, unit by unit.
class RecordSink {
 public:
  virtual ~RecordSink() = default;
  virtual void writeRecord(int unit, std::string_view record) = 0;
};

}  // namespace tarvel
