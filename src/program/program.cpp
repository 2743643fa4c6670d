// The program tarvel1 over the calibration library: its console and files,
// the start-up that reads control.dat and the data file, the calibration with
// an observer that writes the report as the run goes, the query loop, the
// pause at the console, the record and report files, and every way the
// process ends.
#include "program.h"

#include <fenv.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>

#include "options.h"
#include "orders.h"
#include "tarvel/records.h"
#include "tarvel/tarvel.h"
#include "units.h"

namespace tarvel {

namespace {

constexpr int kInput = 2;

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

// The SHA-256 of a file's bytes in hexadecimal; empty when it cannot be read.
std::string sha256(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream bytes;
  if (f && f.peek() != EOF) bytes << f.rdbuf();  // an empty file has nothing to insert
  if (!f || !bytes) return "";
  const std::string all = bytes.str();
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  if (EVP_Digest(all.data(), all.size(), md, &n, EVP_sha256(), nullptr) != 1) return "";
  std::string hex;
  for (unsigned int i = 0; i < n; ++i) hex += {"0123456789abcdef"[md[i] >> 4], "0123456789abcdef"[md[i] & 15]};
  return hex;
}

// The date and time of the run: now in local time, or SOURCE_DATE_EPOCH (a
// count of seconds) in UTC for a report made again with the same bytes.
std::string runDate() {
  std::time_t t = std::time(nullptr);
  const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
  char* end = nullptr;
  const long long fixed = epoch != nullptr ? std::strtoll(epoch, &end, 10) : 0;
  const bool given = epoch != nullptr && *epoch != '\0' && *end == '\0' && fixed >= 0;
  if (given) t = static_cast<std::time_t>(fixed);
  std::tm tm{};
  if (given ? gmtime_r(&t, &tm) == nullptr : localtime_r(&t, &tm) == nullptr) return "";
  char text[64];
  return std::strftime(text, sizeof text, given ? "%Y-%m-%d %H:%M:%S UTC" : "%Y-%m-%d %H:%M:%S %z", &tm) ? text : "";
}

// A file that the run writes at its normal end, beside its other outputs:
// the record (--json) or the report (--report).
struct OutputFile {
  const char* kind;
  std::string name;  // empty: not asked for
};

class Program : public Observer {
 public:
  Program(int argc, char** argv, std::string recordFile, std::string reportFile, bool orders)
      : units_(argc, argv), record_{"record", std::move(recordFile)}, report_{"report", std::move(reportFile)},
        orders_(orders) {}

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
  [[noreturn]] void refuse(const OutputFile& file, const char* what, const std::string& reason);
  void removeOld(const OutputFile& file);
  void checkOutput(const OutputFile& file, const OutputFile& other);
  void writeOutput(const OutputFile& file, const std::string& text);
  int endStep(int status);
  // A line on standard error, after what the console holds so far.
  void warn(const std::string& line) {
    units_.consoleFlush();
    std::fprintf(stderr, "%s\n", line.c_str());
  }

  Units units_;
  MainFrame main_;  // the main program's frame, under every phase
  OutputFile record_, report_;
  bool orders_;  // --orders: the table of every order alone
  int queryWarnings_ = 0;
  Control control_;
  ReportContext reportContext_;  // what the record and the report add to the calibration
  RecordContext& context_ = reportContext_.run;
};

// A file that cannot be opened ends the run; standard output keeps its
// stop text, standard error names the file, and the status tells the caller.
void Program::failedOpen(const char* what, const OpenResult& r) {
  units_.consoleFlush();
  std::fprintf(stderr, "tarvel1: cannot open %s '%s': %s\n", what, printable(r.name).c_str(), r.reason.c_str());
  throw EndRun{2};
}

void Program::refuse(const OutputFile& file, const char* what, const std::string& reason) {
  units_.consoleFlush();
  std::fprintf(stderr, "tarvel1: cannot %s %s file '%s': %s\n", what, file.kind, printable(file.name).c_str(),
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

// A record or report that an earlier run left is removed before the run
// knows its other files; anything else waits for checkOutput.
void Program::removeOld(const OutputFile& file) {
  struct stat st;
  if (file.name.empty() || ::stat(file.name.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
  std::ifstream in(file.name, std::ios::binary);
  bool ours = false;
  if (&file == &record_) {
    // Whatever the old file holds (a number too large for a double) leaves
    // no floating-point flag for the run's first check to find.
    const FpEnvironment held;
    const nlohmann::json old = nlohmann::json::parse(in, nullptr, false);
    const auto program = old.find("program");
    ours = program != old.end() && *program == "tarvel1";
  } else {
    std::string head(1024, '\0');
    head.resize(static_cast<std::size_t>(in.read(head.data(), 1024).gcount()));
    ours = head.find("<meta name=\"generator\" content=\"tarvel1 ") != std::string::npos;
  }
  if (ours) std::remove(file.name.c_str());
}

// After the points are read: refuses a record or report file that is another
// file of the run, and removes whatever the file still holds.
void Program::checkOutput(const OutputFile& file, const OutputFile& other) {
  if (file.name.empty()) return;
  for (const std::string& name : {std::string("control.dat"), context_.dataFile, context_.resultsFile,
                                  std::string("courbe.dat"), other.name})
    if (!name.empty() && (name != "courbe.dat" || control_.opt[4] == 1) && sameFile(file.name, name))
      refuse(file, "open", "it is the same file as " + printable(name) + ", which must not be overwritten");
  struct stat st;
  if (::stat(file.name.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) refuse(file, "open", std::strerror(EISDIR));
  const std::string dir = std::filesystem::path(file.name).parent_path().string();
  if (::access(dir.empty() ? "." : dir.c_str(), W_OK | X_OK) != 0) refuse(file, "open", std::strerror(errno));
  std::remove(file.name.c_str());
}

// At the normal end, after the results file is complete: the record or the
// report, to a temporary file in the same directory that is then renamed.
void Program::writeOutput(const OutputFile& file, const std::string& text) {
  std::string temp = file.name + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) refuse(file, "write", std::strerror(errno));
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
  if (error == 0 && std::rename(temp.c_str(), file.name.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(temp.c_str());
    refuse(file, "write", std::strerror(error));
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
  if (!report_.name.empty()) reportContext_.controlFile = r.name, reportContext_.controlSha256 = sha256(r.name);

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
  if (!report_.name.empty()) reportContext_.dataSha256 = sha256(r.name);
  main_.at(114);
  r = units_.open(kResultsUnit, control_.resultsFile, Status::Unknown);
  if (!r.ok) failedOpen("results file", r);
  units_.protect(kResultsUnit);
  context_.resultsFile = r.name;

  DataLines seen;
  Inputs in = readData(*units_.inputSource(kInput), context_.dataFile, control_, &seen);
  for (const std::string& w : inputWarnings(in, &seen, context_.dataFile)) warn(w);
  checkOutput(record_, report_);
  checkOutput(report_, record_);
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
  // The index is one variable of the run: a null reply or a slash leaves it
  // as it was, which after the curve table is the table's last abscissa.
  double q = cal.curve.empty() ? 0.0 : cal.curve.back().q;
  for (;;) {
    main_.at(336);
    units_.writeRecord(kConsoleUnit, " Quenching index? (0 to stop)");  // a list-directed text
    main_.at(338);
    units_.readList(kConsoleUnit, {listTarget(q)});
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
      removeOld(record_);
      removeOld(report_);
      if (!report_.name.empty()) reportContext_.date = runDate();
      Workspace workspace(threadCount());  // the threads start while the run reads its files
      Inputs in = startUp();
      if (orders_) {
        for (const std::string& line : ordersReport(compareOrders(in, {}, &workspace), in, context_.dataFile))
          units_.writeRecord(kConsoleUnit, " " + line);
        return endStep(0);
      }

      const Calibration cal = calibrate(std::move(in), this, &workspace);
      queries(cal);
      if (!record_.name.empty() || !report_.name.empty()) units_.close(kResultsUnit);
      if (!record_.name.empty()) writeOutput(record_, tarvel::record(cal, &context_));
      if (!report_.name.empty()) writeOutput(report_, reportHtml(cal, reportContext_));
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
  std::string record, report;
  bool orders = false;
  argc = takeOptions(argc, argv, record, report, &orders);
  feclearexcept(FE_ALL_EXCEPT);
  Program program(argc, argv, record, report, orders);
  const int status = program.run();
  std::fflush(stdout);
  return status;
}

}  // namespace tarvel
