// List-directed input inside the library: the read statement of a run, whose
// failure ends the run, and lines counted for a message that places a failed
// read. The reading rules and readListStatement are in tarvel/records.h.
#pragma once

#include <initializer_list>
#include <cstddef>
#include <optional>
#include <span>
#include <string>

#include "records/sink.h"
#include "tarvel/records.h"

namespace tarvel {

// A read statement of the run on `src`, the file `name`: a failed read is the
// fatal "READ(<name>)" error.
void readList(LineSource& src, std::string_view name, std::initializer_list<ListItem> items);

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
