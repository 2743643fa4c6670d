#include "fuzz_property.h"

#include <regex>
#include <span>
#include <sstream>

#include "records/listin.h"
#include "records/runtime.h"

namespace fuzzcase {

Parts split(const std::string& bytes) {
  const std::size_t a = bytes.find('\0'), b = a == std::string::npos ? a : bytes.find('\0', a + 1);
  return {bytes.substr(0, a), a == b ? "" : bytes.substr(a + 1, b == std::string::npos ? b : b - a - 1),
          b == std::string::npos ? "" : bytes.substr(b + 1)};
}

std::string check(const Outcome& given, const std::string& newFiles) {
  // Warnings about the points come first on standard error, one line each.
  Outcome o = given;
  while (o.err.starts_with("tarvel1: warning: ") && o.err.find('\n') != std::string::npos)
    o.err.erase(0, o.err.find('\n') + 1);
  const std::string stop = "Stop - Program terminated.\r\n";
  // A report: where, the error, the statement or group, the message, the traceback.
  static const std::string at = "[A-Za-z0-9_.]+\\([0-9]+\\)", where = "\r\n(" + at + " : )?run-time error [FM]6[0-9]{3}: ",
                           trace = "(\r\nExecution traceback:\r\n(\t\tfrom [^\r\n]+ in " + at + "\r\n)+)?";
  static const std::regex report(where + "(READ|OPEN|WRITE)\\([^\r\n]*\\)\r\n(- [^\r\n]*\r\n)?" + trace + "|" + where +
                                 "(\\$DEBUG|MATH|ALLOCATE)\r\n- [^\r\n]*\r\n" + trace);
  if (!o.exited) return "ended by signal " + std::to_string(o.status);
  if (o.status == 0 || o.status == 2) {
    if (!o.out.ends_with(stop) && !o.out.ends_with(stop + "\r\n")) return "no stop text at the end";
    if (o.status == 0 && !o.err.empty()) return "standard error written on a normal end";
    if (o.status == 2 && o.err.rfind("tarvel1: cannot open ", 0) != 0) return "exit 2 without its message";
  } else if (o.status == 1) {
    // A note that places the fault may follow the report.
    if (const std::size_t n = o.err.rfind("\ntarvel1: note: "); n != std::string::npos && o.err.ends_with("\n"))
      o.err.erase(n + 1);
    if (!std::regex_match(o.err, report)) return "malformed run-time error report";
    if (o.out.find(stop) != std::string::npos) return "stop text after a run-time error";
  } else {
    return "exit status " + std::to_string(o.status);
  }
  // At most the results file and courbe.dat.
  std::istringstream names(newFiles);
  int others = 0;
  for (std::string name; std::getline(names, name);) others += name != "courbe.dat";
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
      const unsigned kind = (pattern >> (2 * k)) & 3;  // integer, real, 15- or 4-character text
      items[k] = kind == 0 ? tarvel::listTarget(i) : kind == 1 ? tarvel::listTarget(r)
                                                   : tarvel::listTarget(kind == 2 ? t15 : t4, kind == 2 ? 15 : 4);
    }
    const auto error = tarvel::readListStatement(src, std::span<const tarvel::ListItem>(items, count));
    if ((!t15.empty() && t15.size() != 15) || (!t4.empty() && t4.size() != 4)) return "text not of its length";
    if (error && error->number == tarvel::err::kEndOfFile) break;
  }
  return "";
}

}  // namespace fuzzcase
