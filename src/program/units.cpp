// The program's console and files.
#include "units.h"

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

namespace tarvel {

// Standard input read line by line through one buffer shared by every
// console read (list-directed reads, the pause, the file-name prompt).
class Units::ConsoleLines : public LineSource {
 public:
  bool nextLine(std::string& line) override {
    if (eof_) return false;
    std::fflush(stdout);
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
 private:
  char buf_[4096];
  std::size_t pos_ = 0, len_ = 0;
  bool eof_ = false;
};

struct Units::FileUnit {
  std::string name;
  int fd = -1;
  bool output = false;
  std::string pending;                 // output records not yet written
  std::unique_ptr<MemoryLines> input;  // the whole input file
};

namespace {

void writeAll(int fd, const std::string& bytes, const std::string& name) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) fatalIo(err::kWriteFailed, "WRITE", name, std::strerror(errno));
    done += static_cast<std::size_t>(n);
  }
}

// Lines of another source, the last one handed out kept: the line where a
// read statement stopped.
class LastLine : public LineSource {
 public:
  explicit LastLine(LineSource& src) : src_(src) {}
  bool nextLine(std::string& line) override {
    if (!src_.nextLine(line)) return false;
    last_ = line;
    return true;
  }
  const std::string& last() const { return last_; }

 private:
  LineSource& src_;
  std::string last_;
};

}  // namespace

Units::Units(int argc, char** argv) : console_(std::make_unique<ConsoleLines>()) {
  for (int i = 1; i < argc; ++i) args_.emplace_back(argv[i]);
}

Units::~Units() {
  for (auto& [n, u] : units_)
    if (u.fd >= 0) ::close(u.fd);
}

void Units::flush(FileUnit& u) {
  if (u.output && !u.pending.empty()) {
    std::string bytes;
    bytes.swap(u.pending);
    writeAll(u.fd, bytes, u.name);
  }
}

void Units::closeAll() {
  while (!units_.empty()) close(units_.begin()->first);
  if (pending_) consoleWrite("\r\n");
  consoleFlush();
}

// A blank name is taken from the command line, then asked for at the console.
std::string Units::nameForBlank(int unit) {
  if (nextArg_ < args_.size()) return trimBlanks(args_[nextArg_++]);
  for (;;) {
    if (pending_) consoleWrite("\r\n");
    consoleWrite("File name missing or blank - please enter file name\r\nUNIT " + std::to_string(unit) + "? ");
    std::string line;
    if (!readConsoleLine(line)) fatalIo(err::kEndOfFile, "OPEN", "CON", "end of file encountered");
    // The prompt is no record and leaves linePending alone; interactively the
    // echoed Enter ends the prompt line.
    if (consoleInteractive()) pending_ = false;
    std::string name = trimBlanks(line);
    if (!name.empty()) return name;
  }
}

void Units::consoleWrite(std::string_view bytes) { std::fwrite(bytes.data(), 1, bytes.size(), stdout); }

void Units::consoleFlush() { std::fflush(stdout); }

bool Units::consoleInteractive() {
  if (interactive_ < 0) interactive_ = (isatty(0) && isatty(1)) ? 1 : 0;
  return interactive_ == 1;
}

void Units::writeRecord(int unit, std::string_view record) {
  if (record.empty()) record = " ";  // an empty record shows as an empty line
  if (unit == kConsoleUnit) {
    // The first character is carriage control and is not shown.
    switch (record[0]) {
      case '+':
        consoleWrite("\r");
        break;
      case '0':
        consoleWrite(pending_ ? "\r\n\r\n" : "\r\n");
        break;
      case '1':
        consoleWrite("\r\n\f\r \r");
        break;
      default:
        if (pending_) consoleWrite("\r\n");
        break;
    }
    consoleWrite(record.substr(1));
    pending_ = true;
    return;
  }
  auto it = units_.find(unit);
  if (it == units_.end() || !it->second.output)
    fatalIo(err::kWriteFailed, "WRITE", "fort." + std::to_string(unit), "unit not connected for output");
  FileUnit& u = it->second;
  u.pending.append(record);
  u.pending.append("\r\n");
  if (u.pending.size() >= 65536) flush(u);
}

OpenResult Units::open(int unit, std::string_view rawName, Status status) {
  OpenResult r;
  r.name = trimBlanks(rawName);
  if (r.name.empty()) r.name = nameForBlank(unit);
  close(unit);
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
      for (const FileId& id : protected_) {
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
  units_[unit] = std::move(u);
  r.ok = true;
  return r;
}

void Units::close(int unit) {
  auto it = units_.find(unit);
  if (it == units_.end()) return;
  FileUnit u = std::move(it->second);
  units_.erase(it);
  // Closed even when its last records cannot be written.
  struct Closer {
    int fd;
    ~Closer() {
      if (fd >= 0) ::close(fd);
    }
  } closer{u.fd};
  flush(u);
}

std::string Units::unitName(int unit) const {
  if (unit == kConsoleUnit) return "CON";
  auto it = units_.find(unit);
  return it == units_.end() ? "fort." + std::to_string(unit) : it->second.name;
}

void Units::protect(int unit) {
  auto it = units_.find(unit);
  if (it == units_.end()) return;
  struct stat st;
  if (::fstat(it->second.fd, &st) == 0) protected_.push_back(FileId{st.st_dev, st.st_ino, it->second.name});
}

void Units::readList(int unit, std::initializer_list<ListItem> items) {
  if (unit == kConsoleUnit) consoleFlush();
  LineSource* src = inputSource(unit);
  std::optional<ListError> e;
  lastLine_.clear();
  if (src == nullptr) {
    e = ListError{err::kEndOfFile, "unit not connected for reading"};
  } else {
    LastLine lines(*src);
    e = readListStatement(lines, std::span<const ListItem>(items.begin(), items.size()));
    lastLine_ = lines.last();
  }
  // The operator's Enter, echoed by the terminal, has ended the prompt line.
  if (unit == kConsoleUnit && consoleInteractive()) pending_ = false;
  if (e) fatalIo(e->number, "READ", unitName(unit), e->message);
}

void Units::stopText() {
  if (pending_) consoleWrite("\r\n");  // linePending stays set
  consoleWrite("Stop - Program terminated.\r\n");
}

LineSource* Units::inputSource(int unit) {
  if (unit == kConsoleUnit) return console_.get();
  auto it = units_.find(unit);
  if (it == units_.end() || !it->second.input) return nullptr;
  return it->second.input.get();
}

bool Units::readConsoleLine(std::string& line) { return console_->nextLine(line); }

}  // namespace tarvel
