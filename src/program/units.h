// The program's console and files: output and input units, file connection
// and the normal end's text. One Units object is the program's whole record
// layer state; the records come from the library (tarvel/records.h).
//
// Unit kConsoleUnit (`*`) is the console: the first character of each record
// is a carriage-control character that is not shown, and a record's line
// break is written only in front of the next record or at the end of the run
// (`linePending`). Units 2, 3, 4 are disk files: each record is written whole,
// first character included, and ended with CR LF.
//
//   units.writeRecord(kConsoleUnit, " Q index  ...")   stdout: "Q index  ..."   (CR LF later)
//   units.writeRecord(3, " a(1) ...")              file:   " a(1) ...\r\n"
#pragma once

#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

#include "tarvel/records.h"

namespace tarvel {

enum class Status { Old, Unknown };

struct OpenResult {
  bool ok = false;
  std::string name;    // the name actually used (blanks removed, or taken
                       // from the command line or the console)
  std::string reason;  // why the open failed
};

class Units {
 public:
  // The command-line arguments argv[1 .. argc-1] serve as names for
  // blank-name opens, in order.
  Units(int argc, char** argv);
  ~Units();
  Units(const Units&) = delete;
  Units& operator=(const Units&) = delete;

  // Hands a finished record to the console or the file of `unit`.
  void writeRecord(int unit, std::string_view record);

  // True while the last console record still awaits its line break.
  bool linePending() const { return pending_; }
  void setLinePending(bool pending) { pending_ = pending; }

  // Whether standard input and standard output are both an interactive terminal.
  bool consoleInteractive();

  // Connects `unit` to the named file. A blank name takes the next unused
  // command-line argument, then asks at the console. "OLD": the file must
  // exist, and is read whole. "UNKNOWN": created when absent, emptied when
  // present; refused when it is the same file as one registered with
  // protect().
  OpenResult open(int unit, std::string_view name, Status status);

  // Flushes and disconnects `unit`; a unit that is not connected is left alone.
  void close(int unit);

  // The file name shown in error reports: "CON" for the console.
  std::string unitName(int unit) const;

  // Files that an "UNKNOWN" open must never empty (the run's input files, and
  // the results file once it is written): registers the file connected to
  // `unit`.
  void protect(int unit);

  // The program's read statement on `unit` (kConsoleUnit or a connected
  // input unit). A failed read is the fatal "READ(<file>)" error. Standard output
  // is flushed before a console read; after it, on an interactive console,
  // the operator's echoed Enter has ended the prompt line, so no console line
  // break is pending any more.
  void readList(int unit, std::initializer_list<ListItem> items);
  // The line where the last readList stopped.
  const std::string& lastLineRead() const { return lastLine_; }

  // The lines of a connected input unit, or of the console; nullptr for a
  // unit that is not connected for input.
  LineSource* inputSource(int unit);

  // Reads one raw line from the console (the pause and the file-name prompt);
  // false at end of input. Flushes standard output first.
  bool readConsoleLine(std::string& line);

  // Writes bytes to standard output.
  void consoleWrite(std::string_view bytes);
  void consoleFlush();

  // The normal end's text: a pending console line break, then
  // "Stop - Program terminated.".
  void stopText();
  // On the way out of every ending: every unit closed (its records flushed),
  // then a pending console line break, and standard output flushed.
  void closeAll();

 private:
  class ConsoleLines;
  struct FileUnit;
  struct FileId {
    dev_t dev;
    ino_t ino;
    std::string name;
  };
  std::string nameForBlank(int unit);
  void flush(FileUnit& u);

  std::unique_ptr<ConsoleLines> console_;
  bool pending_ = false;
  std::string lastLine_;
  int interactive_ = -1;
  std::map<int, FileUnit> units_;
  std::vector<FileId> protected_;
  std::vector<std::string> args_;
  std::size_t nextArg_ = 0;
};

}  // namespace tarvel
