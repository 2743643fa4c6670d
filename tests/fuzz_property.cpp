#include "fuzz_property.h"

#include <regex>
#include <span>
#include <sstream>

#include "records/listin.h"
#include "records/runtime.h"

namespace fuzzcase {

Parts split(const std::string& bytes) {
  Parts p;
  const std::size_t a = bytes.find('\0');
  p.control = bytes.substr(0, a);
  if (a == std::string::npos) return p;
  const std::size_t b = bytes.find('\0', a + 1);
  p.data = bytes.substr(a + 1, b == std::string::npos ? std::string::npos : b - a - 1);
  if (b != std::string::npos) p.input = bytes.substr(b + 1);
  return p;
}

namespace {
bool endsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}
}  // namespace

std::string check(const Outcome& given, const std::string& newFiles) {
  if (!given.exited) return "ended by signal " + std::to_string(given.status);
  // Warnings about the points come first on standard error, one line each.
  Outcome o = given;
  while (o.err.rfind("tarvel1: warning: ", 0) == 0 && o.err.find('\n') != std::string::npos)
    o.err.erase(0, o.err.find('\n') + 1);
  const std::string stop = "Stop - Program terminated.\r\n";
  switch (o.status) {
    case 0:
    case 2:
      if (!endsWith(o.out, stop) && !endsWith(o.out, stop + "\r\n")) return "no stop text at the end";
      if (o.status == 0 && !o.err.empty()) return "standard error written on a normal end";
      if (o.status == 2 && o.err.rfind("tarvel1: cannot open ", 0) != 0) return "exit 2 without its message";
      break;
    case 1: {
      static const std::regex report(
          "\r\n([A-Za-z0-9_.]+\\([0-9]+\\) : )?run-time error [FM]6[0-9]{3}: "
          "(READ|OPEN|WRITE)\\([^\r\n]*\\)\r\n(- [^\r\n]*\r\n)?"
          "(\r\nExecution traceback:\r\n(\t\tfrom [^\r\n]+ in [A-Za-z0-9_.]+\\([0-9]+\\)\r\n)+)?"
          "|"
          "\r\n([A-Za-z0-9_.]+\\([0-9]+\\) : )?run-time error [FM]6[0-9]{3}: (\\$DEBUG|MATH|ALLOCATE)\r\n"
          "- [^\r\n]*\r\n"
          "(\r\nExecution traceback:\r\n(\t\tfrom [^\r\n]+ in [A-Za-z0-9_.]+\\([0-9]+\\)\r\n)+)?");
      if (!std::regex_match(o.err, report)) return "malformed run-time error report";
      if (o.out.find(stop) != std::string::npos) return "stop text after a run-time error";
      break;
    }
    default:
      return "exit status " + std::to_string(o.status);
  }
  // At most the results file and courbe.dat.
  std::istringstream names(newFiles);
  std::string name;
  int others = 0;
  while (std::getline(names, name))
    if (name != "courbe.dat") ++others;
  if (others > 1) return "files written besides the results file: " + newFiles;
  return "";
}

std::string readListCase(const std::string& bytes) {
  if (bytes.empty()) return "";
  const unsigned pattern = static_cast<unsigned char>(bytes[0]);
  tarvel::MemoryLines src(bytes.substr(1), (pattern & 0x80) != 0);
  int i = 0;
  double r = 0.0;
  std::string t15, t4;
  const int count = 1 + static_cast<int>((pattern >> 5) & 3);
  for (int stmt = 0; stmt < 1000; ++stmt) {
    tarvel::ListItem items[4];
    for (int k = 0; k < count; ++k) {
      switch ((pattern >> (2 * k)) & 3) {
        case 0: items[k] = tarvel::listTarget(i); break;
        case 1: items[k] = tarvel::listTarget(r); break;
        case 2: items[k] = tarvel::listTarget(t15, 15); break;
        default: items[k] = tarvel::listTarget(t4, 4); break;
      }
    }
    const auto error = tarvel::readListStatement(src, std::span<const tarvel::ListItem>(items, count));
    if ((!t15.empty() && t15.size() != 15) || (!t4.empty() && t4.size() != 4)) return "text not of its length";
    if (error && error->number == tarvel::err::kEndOfFile) break;
  }
  return "";
}

}  // namespace fuzzcase
