// Output and input units, their sinks, file connection and the normal end.
//
// Unit kConsole (`*`) is the console: the first character of each record is
// a carriage-control character that is not shown, and a record's line break
// is written only in front of the next record or at the end of the run
// (`linePending`). Units 2, 3, 4 are disk files: each record is written whole,
// first character included, and ended with CR LF.
//
//   writeRecord(kConsole, " Q index  ...")   stdout: "Q index  ..."   (CR LF later)
//   writeRecord(3, " a(1) ...")              file:   " a(1) ...\r\n"
#pragma once

#include <string>
#include <string_view>

namespace tarvel {

inline constexpr int kConsole = -1;

// Hands a finished record to the sink of `unit`.
void writeRecord(int unit, std::string_view record);

// True while the last console record still awaits its line break.
bool linePending();
void setLinePending(bool pending);

// Whether standard input and standard output are both an interactive terminal.
bool consoleInteractive();

enum class Status { Old, Unknown };

struct OpenResult {
  bool ok = false;
  std::string name;    // the name actually used (blanks removed, or taken
                       // from the command line or the console)
  std::string reason;  // why the open failed
};

// Connects `unit` to the named file. A blank name takes the next unused
// command-line argument, then asks at the console. "OLD": the file must exist.
// "UNKNOWN": created when absent, emptied when present; refused when it is the
// same file as one registered with protectFile().
OpenResult openUnit(int unit, std::string_view name, Status status);

// Flushes and disconnects `unit`; a unit that is not connected is left alone.
void closeUnit(int unit);

// The file name shown in error reports: "CON" for the console.
std::string unitName(int unit);

// Files that an "UNKNOWN" open must never empty (the run's input files, and
// the results file once it is written). Registers the file connected to the
// given unit, or the named file.
void protectUnitFile(int unit);

// Command-line arguments, used as names for blank-name opens, in order.
void setCommandLine(int argc, char** argv);

// The normal end: a pending console line break, "Stop - Program terminated.",
// then every unit closed and the process ended with `status`.
[[noreturn]] void stopRun(int status);

// Lines of an input unit (unit 2 or the console). nextLine() returns false at
// end of file; the line has no line terminator (CR LF or LF removed, and a CR
// directly before the end of input). On the console, a line that ends in
// Ctrl-Z is end of file.
class LineSource {
 public:
  virtual ~LineSource() = default;
  virtual bool nextLine(std::string& line) = 0;
};

// The input source of a unit: unit 2 when connected, or kConsole.
LineSource* inputSource(int unit);

// Reads one raw line from the console (the pause and the file-name prompt);
// false at end of input. Flushes standard output first.
bool readConsoleLine(std::string& line);

// Writes bytes to standard output (after flushing nothing else is buffered
// out of order).
void consoleWrite(std::string_view bytes);
void consoleFlush();

// Resets every unit to the state at program start (for tests).
void resetUnitsForTesting();

}  // namespace tarvel
