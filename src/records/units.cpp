// Output sinks, input sources, file connection and the normal end.
#include "records/units.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "records/listin.h"
#include "records/runtime.h"

namespace tarvel {

namespace {

// Standard input read line by line through one buffer shared by every
// console read (list-directed reads, the pause, the file-name prompt).
class ConsoleLines : public LineSource {
 public:
  bool nextLine(std::string& line) override {
    if (eof_) return false;
    consoleFlush();
    line.clear();
    bool any = false;
    for (;;) {
      if (pos_ >= len_) {
        ssize_t n;
        do n = ::read(0, buf_, sizeof buf_);
        while (n < 0 && errno == EINTR);
        if (n <= 0) {
          if (!any) {
            eof_ = true;
            return false;
          }
          break;
        }
        pos_ = 0;
        len_ = static_cast<std::size_t>(n);
      }
      any = true;
      const char c = buf_[pos_++];
      if (c == '\n') break;
      line += c;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // A line that ends in Ctrl-Z is the console's end of file.
    if (!line.empty() && line.back() == '\x1a') {
      eof_ = true;
      return false;
    }
    return true;
  }
  void reset() { eof_ = false, pos_ = len_ = 0; }

 private:
  char buf_[4096];
  std::size_t pos_ = 0, len_ = 0;
  bool eof_ = false;
};

struct FileUnit {
  std::string name;
  int fd = -1;
  bool output = false;
  std::string pending;                 // output records not yet written
  std::unique_ptr<MemoryLines> input;  // the whole input file
};

struct FileId {
  dev_t dev;
  ino_t ino;
  std::string name;
};

ConsoleLines consoleLines;
bool pending = false;
int interactive = -1;
std::map<int, FileUnit> units;
std::vector<FileId> protectedFiles;
std::vector<std::string> commandArgs;
std::size_t nextArg = 0;

void writeAll(int fd, const std::string& bytes, const std::string& name) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) fatalIo(err::kWriteFailed, "WRITE", name, std::strerror(errno));
    done += static_cast<std::size_t>(n);
  }
}

void flushUnit(FileUnit& u) {
  if (u.output && !u.pending.empty()) {
    std::string bytes;
    bytes.swap(u.pending);
    writeAll(u.fd, bytes, u.name);
  }
}

void closeAll() {
  while (!units.empty()) closeUnit(units.begin()->first);
  if (pending) consoleWrite("\r\n");
  consoleFlush();
}

std::string trimBlanks(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return std::string(s.substr(b, e - b));
}

// A blank name is taken from the command line, then asked for at the console.
std::string nameForBlank(int unit) {
  if (nextArg < commandArgs.size()) return trimBlanks(commandArgs[nextArg++]);
  for (;;) {
    if (pending) consoleWrite("\r\n");
    consoleWrite("File name missing or blank - please enter file name\r\nUNIT " + std::to_string(unit) + "? ");
    std::string line;
    if (!readConsoleLine(line)) fatalIo(err::kEndOfFile, "OPEN", "CON", "end of file encountered");
    // The prompt is no record and leaves linePending alone; interactively the
    // echoed Enter ends the prompt line.
    if (consoleInteractive()) pending = false;
    std::string name = trimBlanks(line);
    if (!name.empty()) return name;
  }
}

struct ExitHookInstaller {
  ExitHookInstaller() { setExitHook(closeAll); }
} installer;

}  // namespace

void consoleWrite(std::string_view bytes) { std::fwrite(bytes.data(), 1, bytes.size(), stdout); }

void consoleFlush() { std::fflush(stdout); }

bool linePending() { return pending; }
void setLinePending(bool p) { pending = p; }

bool consoleInteractive() {
  if (interactive < 0) interactive = (isatty(0) && isatty(1)) ? 1 : 0;
  return interactive == 1;
}

void writeRecord(int unit, std::string_view record) {
  if (record.empty()) record = " ";  // an empty record shows as an empty line
  if (unit == kConsole) {
    // The first character is carriage control and is not shown.
    switch (record[0]) {
      case '+':
        consoleWrite("\r");
        break;
      case '0':
        consoleWrite(pending ? "\r\n\r\n" : "\r\n");
        break;
      case '1':
        consoleWrite("\r\n\f\r \r");
        break;
      default:
        if (pending) consoleWrite("\r\n");
        break;
    }
    consoleWrite(record.substr(1));
    pending = true;
    return;
  }
  auto it = units.find(unit);
  if (it == units.end() || !it->second.output)
    fatalIo(err::kWriteFailed, "WRITE", "fort." + std::to_string(unit), "unit not connected for output");
  FileUnit& u = it->second;
  u.pending.append(record);
  u.pending.append("\r\n");
  if (u.pending.size() >= 65536) flushUnit(u);
}

OpenResult openUnit(int unit, std::string_view rawName, Status status) {
  OpenResult r;
  r.name = trimBlanks(rawName);
  if (r.name.empty()) r.name = nameForBlank(unit);
  closeUnit(unit);
  // The system would cut the name at a NUL and open another file.
  if (r.name.find('\0') != std::string::npos) {
    r.reason = "the name holds a NUL character";
    return r;
  }
  FileUnit u;
  u.name = r.name;
  if (status == Status::Old) {
    const int fd = ::open(r.name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      r.reason = std::strerror(errno);
      return r;
    }
    struct stat st;
    const bool known = ::fstat(fd, &st) == 0;
    if (!known || S_ISDIR(st.st_mode)) {
      r.reason = std::strerror(known ? EISDIR : errno);
      ::close(fd);
      return r;
    }
    std::string bytes;
    char buf[65536];
    for (;;) {
      const ssize_t n = ::read(fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        r.reason = std::strerror(errno);
        ::close(fd);
        return r;
      }
      if (n == 0) break;
      bytes.append(buf, static_cast<std::size_t>(n));
    }
    u.fd = fd;
    u.input = std::make_unique<MemoryLines>(std::move(bytes));
  } else {
    // Never empty a file that the run reads or has written.
    struct stat st;
    if (::stat(r.name.c_str(), &st) == 0) {
      for (const FileId& id : protectedFiles) {
        if (id.dev == st.st_dev && id.ino == st.st_ino) {
          r.reason = "it is the same file as " + id.name + ", which must not be overwritten";
          return r;
        }
      }
    }
    const int fd = ::open(r.name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
      r.reason = std::strerror(errno);
      return r;
    }
    u.fd = fd;
    u.output = true;
  }
  units[unit] = std::move(u);
  r.ok = true;
  return r;
}

void closeUnit(int unit) {
  auto it = units.find(unit);
  if (it == units.end()) return;
  FileUnit u = std::move(it->second);
  units.erase(it);
  flushUnit(u);
  if (u.fd >= 0) ::close(u.fd);
}

std::string unitName(int unit) {
  if (unit == kConsole) return "CON";
  auto it = units.find(unit);
  return it == units.end() ? "fort." + std::to_string(unit) : it->second.name;
}

void protectUnitFile(int unit) {
  auto it = units.find(unit);
  if (it == units.end()) return;
  struct stat st;
  if (::fstat(it->second.fd, &st) == 0) protectedFiles.push_back(FileId{st.st_dev, st.st_ino, it->second.name});
}

void setCommandLine(int argc, char** argv) {
  commandArgs.clear();
  nextArg = 0;
  for (int i = 1; i < argc; ++i) commandArgs.emplace_back(argv[i]);
}

void stopRun(int status) {
  if (pending) consoleWrite("\r\n");  // linePending stays set
  consoleWrite("Stop - Program terminated.\r\n");
  terminate(status);
}

LineSource* inputSource(int unit) {
  if (unit == kConsole) return &consoleLines;
  auto it = units.find(unit);
  if (it == units.end() || !it->second.input) return nullptr;
  return it->second.input.get();
}

bool readConsoleLine(std::string& line) { return consoleLines.nextLine(line); }

void resetUnitsForTesting() {
  for (auto& [n, u] : units)
    if (u.fd >= 0) ::close(u.fd);
  units.clear();
  protectedFiles.clear();
  commandArgs.clear();
  nextArg = 0;
  pending = false;
  interactive = -1;
  consoleLines.reset();
}

}  // namespace tarvel
