// The program tarvel1 over the calibration library: its console and files,
// the start-up that reads control.dat and the data file, the calibration with
// an observer that writes the report as the run goes, the query loop, the
// pause at the console, the record file, and every way the process ends.
#include "program/program.h"

#include <fenv.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "program/options.h"
#include "program/orders.h"
#include "records/listin.h"
#include "records/listout.h"
#include "records/runtime.h"
#include "records/units.h"
#include "run/input.h"
#include "tarvel/tarvel.h"

namespace tarvel {

namespace {

constexpr int kInput = 2;
constexpr int kMaxThreads = 256;

// Ends the run through the end step with `status`.
struct EndRun {
  int status;
};

// The threads a run uses: TARVEL_THREADS when it is a whole number from 1 to
// 256, otherwise one a core.
int threadCount() {
  if (const char* v = std::getenv("TARVEL_THREADS"); v != nullptr && *v != '\0') {
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(v, &end, 10);
    if (*end == '\0' && errno == 0 && n >= 1 && n <= kMaxThreads) return static_cast<int>(n);
  }
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : static_cast<int>(std::min<unsigned>(cores, kMaxThreads));
}

// Whether two names reach one file: the same file when both exist, the same
// path when neither does.
bool sameFile(const std::string& a, const std::string& b) {
  struct stat x, y;
  const bool hasA = ::stat(a.c_str(), &x) == 0, hasB = ::stat(b.c_str(), &y) == 0;
  if (hasA || hasB) return hasA && hasB && x.st_dev == y.st_dev && x.st_ino == y.st_ino;
  std::error_code ea, eb;
  const auto pa = std::filesystem::weakly_canonical(std::filesystem::absolute(a, ea), ea);
  const auto pb = std::filesystem::weakly_canonical(std::filesystem::absolute(b, eb), eb);
  return !ea && !eb && pa == pb;
}

class Program : public Observer {
 public:
  Program(int argc, char** argv, std::string recordFile, bool orders = false)
      : units_(argc, argv), recordFile_(std::move(recordFile)), orders_(orders) {}

  int run();

  // The report goes to the console and the files as the run writes it.
  void record(int unit, std::string_view text) override { units_.writeRecord(unit, text); }
  void openCurve() override {
    const OpenResult r = units_.open(kCurveUnit, "courbe.dat", Status::Unknown);
    if (!r.ok) failedOpen("curve file", r);
  }
  void closeCurve() override { units_.close(kCurveUnit); }
  void pause(std::string_view text) override;
  void warning(std::string_view text) override { warn(warningLine(std::string(text))); }

 private:
  Inputs startUp();
  void queries(const Calibration& cal);
  void moreThanOneValue(const std::string& line, double q);
  [[noreturn]] void failedOpen(const char* what, const OpenResult& r);
  [[noreturn]] void refuseRecord(const char* what, const std::string& reason);
  void removeOldRecord();
  void checkRecord();
  void writeRecord(const Calibration& cal);
  int endStep(int status);
  // A line on standard error, after what the console holds so far.
  void warn(const std::string& line) {
    units_.consoleFlush();
    std::fprintf(stderr, "%s\n", line.c_str());
  }

  Units units_;
  MainFrame main_;  // the main program's frame, under every phase
  std::string recordFile_;  // empty: no record
  bool orders_;             // --orders: the table of every order alone
  int queryWarnings_ = 0;
  Control control_;
  RecordContext context_;
};

// A file that cannot be opened ends the run; standard output keeps its
// stop text, standard error names the file, and the status tells the caller.
void Program::failedOpen(const char* what, const OpenResult& r) {
  units_.consoleFlush();
  std::fprintf(stderr, "tarvel1: cannot open %s '%s': %s\n", what, printable(r.name).c_str(), r.reason.c_str());
  throw EndRun{2};
}

void Program::refuseRecord(const char* what, const std::string& reason) {
  units_.consoleFlush();
  std::fprintf(stderr, "tarvel1: cannot %s record file '%s': %s\n", what, printable(recordFile_).c_str(),
               reason.c_str());
  throw EndRun{2};
}

// The pause: the text on the console and the operator's line, which a
// command processor runs only for a person at a terminal (COMSPEC set), so
// that a redirected input file can never run commands.
void Program::pause(std::string_view text) {
  if (units_.linePending()) units_.consoleWrite("\r\n");  // linePending stays set
  units_.consoleWrite(std::string(text) + "\r\n");
  std::string line;
  if (!units_.readConsoleLine(line)) line.clear();  // end of input is an empty reply
  if (line.size() > 128) line.resize(128);
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.pop_back();
  if (line.size() < 2) return;
  const char* comspec = std::getenv("COMSPEC");
  if (comspec == nullptr || *comspec == '\0' || !isatty(0)) return;
  units_.consoleFlush();
  const pid_t pid = fork();
  if (pid == 0) {
    execl(comspec, comspec, "-c", line.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  if (pid > 0) {
    int status;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
}

// A record that an earlier run left is removed before the run knows its
// other files; anything else waits for checkRecord.
void Program::removeOldRecord() {
  struct stat st;
  if (::stat(recordFile_.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
  std::ifstream in(recordFile_, std::ios::binary);
  const nlohmann::json old = nlohmann::json::parse(in, nullptr, false);
  const auto program = old.find("program");
  if (program != old.end() && *program == "tarvel1") std::remove(recordFile_.c_str());
}

// After the points are read: refuses a record file that is another file of
// the run, and removes whatever the file still holds.
void Program::checkRecord() {
  for (const std::string& other : {std::string("control.dat"), context_.dataFile, context_.resultsFile,
                                   std::string("courbe.dat")})
    if ((other != "courbe.dat" || control_.opt[4] == 1) && sameFile(recordFile_, other))
      refuseRecord("open", "it is the same file as " + printable(other) + ", which must not be overwritten");
  struct stat st;
  if (::stat(recordFile_.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) refuseRecord("open", std::strerror(EISDIR));
  const std::string dir = std::filesystem::path(recordFile_).parent_path().string();
  if (::access(dir.empty() ? "." : dir.c_str(), W_OK | X_OK) != 0) refuseRecord("open", std::strerror(errno));
  std::remove(recordFile_.c_str());
}

// At the normal end, after the results file is complete: the record, to a
// temporary file in the same directory that is then renamed.
void Program::writeRecord(const Calibration& cal) {
  units_.close(kResultsUnit);
  const std::string text = tarvel::record(cal, &context_);
  std::string temp = recordFile_ + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) refuseRecord("write", std::strerror(errno));
  const mode_t mask = ::umask(0);
  ::umask(mask);
  std::size_t done = 0;
  int error = ::fchmod(fd, 0666 & ~mask) == 0 ? 0 : errno;
  while (error == 0 && done < text.size()) {
    const ssize_t w = ::write(fd, text.data() + done, text.size() - done);
    if (w > 0) done += static_cast<std::size_t>(w);
    else if (w < 0 && errno != EINTR) error = errno;
  }
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && std::rename(temp.c_str(), recordFile_.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(temp.c_str());
    refuseRecord("write", std::strerror(error));
  }
}

// Reads control.dat and the data file and opens the results file.
Inputs Program::startUp() {
  main_.at(87);
  OpenResult r = units_.open(kInput, "control.dat", Status::Old);
  if (!r.ok) failedOpen("control file", r);
  units_.protect(kInput);
  control_ = readControl(*units_.inputSource(kInput), r.name);
  units_.close(kInput);

  main_.at(109);
  r = units_.open(kInput, control_.dataFile, Status::Old);
  if (!r.ok) failedOpen("data file", r);
  units_.protect(kInput);
  context_.dataFile = r.name;
  if (orders_) {
    // The points alone: no results file, and a count that no order refuses.
    Control anyOrder = control_;
    anyOrder.order = 0;
    anyOrder.opt[0] = 0;
    DataLines seen;
    Inputs in = readData(*units_.inputSource(kInput), context_.dataFile, anyOrder, &seen);
    for (const std::string& w : inputWarnings(in, &seen, context_.dataFile)) warn(w);
    units_.close(kInput);
    return in;
  }
  main_.at(114);
  r = units_.open(kResultsUnit, control_.resultsFile, Status::Unknown);
  if (!r.ok) failedOpen("results file", r);
  units_.protect(kResultsUnit);
  context_.resultsFile = r.name;

  DataLines seen;
  Inputs in = readData(*units_.inputSource(kInput), context_.dataFile, control_, &seen);
  for (const std::string& w : inputWarnings(in, &seen, context_.dataFile)) warn(w);
  if (!recordFile_.empty()) checkRecord();
  units_.close(kInput);
  main_.at(145);
  context_.heading = control_.heading;
  context_.opt = control_.opt;
  context_.queries = control_.opt[5] == 1;
  return in;
}

// A query line that holds more than one value: a decimal comma, most often.
void Program::moreThanOneValue(const std::string& line, double q) {
  if (valuesOnLine(line, 2) < 2 || ++queryWarnings_ > kWarningsShown) return;
  const std::string text = "'" + printable(trimBlanks(line)) + "' reads as " + shortestText(q);
  warn(warningLine(text + (decimalComma(line).empty() ? "" : ": a decimal comma?")));
}

// Efficiency queries at the console until the operator types 0.
void Program::queries(const Calibration& cal) {
  if (control_.opt[5] != 1) return;
  for (;;) {
    main_.at(336);
    writeList(units_, kConsole, {listText("Quenching index? (0 to stop)")});
    main_.at(338);
    double q = 0.0;
    units_.readList(kConsole, {listTarget(q)});
    moreThanOneValue(units_.lastLineRead(), q);
    if (q == 0.0) break;
    if (const std::optional<Answer> a = cal.answer(q, this)) context_.answers.push_back(*a);
  }
  if (queryWarnings_ > kWarningsShown)
    warn(warningLine(moreWarnings(queryWarnings_ - kWarningsShown, "query", "queries", "with more than one value")));
}

// End step: every way of ending the run comes through here.
int Program::endStep(int status) {
  main_.at(56);
  units_.close(kResultsUnit);
  if (!orders_) units_.stopText();
  units_.closeAll();
  return status;
}

int Program::run() {
  try {
    try {
      if (!recordFile_.empty()) removeOldRecord();
      Workspace workspace(threadCount());  // the threads start while the run reads its files
      Inputs in = startUp();
      if (orders_) {
        for (const std::string& line : ordersReport(compareOrders(in, {}, &workspace), in, context_.dataFile))
          units_.writeRecord(kConsole, " " + line);
        return endStep(0);
      }

      const Calibration cal = calibrate(std::move(in), this, &workspace);
      queries(cal);
      if (!recordFile_.empty()) writeRecord(cal);
      return endStep(0);
    } catch (const EndRun& end) {
      return endStep(end.status);
    }
  } catch (const Error& e) {
    // Whatever the console already holds comes before the report.
    units_.consoleFlush();
    const std::string& report = e.report();
    std::size_t done = 0;
    while (done < report.size()) {
      const ssize_t n = ::write(2, report.data() + done, report.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    if (!e.note().empty()) std::fprintf(stderr, "tarvel1: note: %s\n", e.note().c_str());
    try {
      units_.closeAll();
    } catch (const Error&) {
      // An error on the way out does not change the report.
    }
    return 1;
  }
}

}  // namespace

int programMain(int argc, char** argv) {
  std::string record;
  bool orders = false;
  argc = takeOptions(argc, argv, record, &orders);
  feclearexcept(FE_ALL_EXCEPT);
  Program program(argc, argv, record, orders);
  const int status = program.run();
  std::fflush(stdout);
  return status;
}

}  // namespace tarvel
