// Fatal run-time errors, traceback frames, checks, floating-point traps and
// the pause.
#include "records/runtime.h"

#include <fenv.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "records/units.h"

namespace tarvel {

// ---------------------------------------------------------------- frames

namespace {
constexpr int kMaxFrames = 64;
// Each thread's own stack of frames; frames deeper than kMaxFrames share
// `overflow` (never reached here).
struct FrameStack {
  TraceFrame frames[kMaxFrames];
  TraceFrame overflow;
  int depth;
};
thread_local FrameStack frameStack{};
// Set inside a TrialScope.
thread_local bool trialMode = false;
ExitHook exitHook = nullptr;
}  // namespace

FrameScope::FrameScope(const char* routine, const char* file, int stmt) {
  FrameStack& st = frameStack;
  frame_ = st.depth < kMaxFrames ? &st.frames[st.depth] : &st.overflow;
  *frame_ = TraceFrame{routine, file, stmt};
  ++st.depth;
}

FrameScope::~FrameScope() { --frameStack.depth; }

// ---------------------------------------------------------------- errors

std::string printable(std::string_view text) {
  constexpr std::size_t kLimit = 80;
  std::string s;
  for (const char c : text.substr(0, text.size() > kLimit ? kLimit - 3 : kLimit)) {
    const unsigned char u = static_cast<unsigned char>(c);
    s += (u < 0x20 || u == 0x7f) ? '?' : c;
  }
  if (text.size() > kLimit) s += "...";
  return s;
}

std::string fatalReport(char letter, int number, std::string_view stmtPart, std::string_view message) {
  std::string r = "\r\n";
  const FrameStack& st = frameStack;
  const int active = st.depth < kMaxFrames ? st.depth : kMaxFrames;
  if (active > 0) {
    const TraceFrame& f = st.frames[active - 1];
    r += f.file;
    r += "(" + std::to_string(f.stmt) + ") : ";
  }
  char num[8];
  std::snprintf(num, sizeof num, "%04d", number);
  r += "run-time error ";
  r += letter;
  r += num;
  r += printable(stmtPart);
  r += "\r\n";
  if (!message.empty()) {
    r += "- ";
    r += printable(message);
    r += "\r\n";
  }
  if (active > 0) {
    r += "\r\nExecution traceback:\r\n";
    for (int i = active - 1; i >= 0; --i) {
      const TraceFrame& f = st.frames[i];
      r += "\t\tfrom ";
      r += f.routine ? f.routine : "main program";
      r += " in ";
      r += f.file;
      r += "(" + std::to_string(f.stmt) + ")\r\n";
    }
  }
  return r;
}

void setExitHook(ExitHook hook) { exitHook = hook; }

void terminate(int status) {
  if (exitHook) {
    ExitHook hook = exitHook;
    exitHook = nullptr;  // an error on the way out must not loop
    hook();
  }
  std::fflush(stdout);
  std::_Exit(status);
}

namespace {
[[noreturn]] void fatal(char letter, int number, std::string_view stmtPart, std::string_view message) {
  if (trialMode) throw TrialAbandoned{};
  // Whatever the console already holds comes before the report.
  std::fflush(stdout);
  const std::string report = fatalReport(letter, number, stmtPart, message);
  std::size_t done = 0;
  while (done < report.size()) {
    const ssize_t n = ::write(2, report.data() + done, report.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  terminate(1);
}
}  // namespace

void fatalIo(int number, std::string_view stmtKind, std::string_view unitName, std::string_view message) {
  std::string part = ": ";
  part += stmtKind;
  part += "(";
  part += unitName;
  part += ")";
  fatal('F', number, part, message);
}

void fatalDebug(int number, std::string_view message) { fatal('F', number, ": $DEBUG", message); }

void fatalAllocate(std::string_view message) { fatal('F', err::kNoMemory, ": ALLOCATE", message); }

void fatalMath(int number, std::string_view message) { fatal('M', number, ": MATH", message); }

// ---------------------------------------------------------------- checks

void subscriptError(long long index, long long lower, long long upper) {
  fatalDebug(err::kSubscript, "subscript " + std::to_string(index) + " out of range " + std::to_string(lower) +
                                  ".." + std::to_string(upper));
}

void integerOverflow() { fatalDebug(err::kIntegerOverflow, "integer overflow"); }

void* allocateZeroed(std::size_t count, std::size_t size) {
  std::size_t bytes;
  if (__builtin_mul_overflow(count, size, &bytes)) fatalAllocate("insufficient virtual memory");
  void* p = std::calloc(count, size);
  if (p == nullptr) fatalAllocate("insufficient virtual memory");
  return p;
}

// ---------------------------------------------------------------- math

double msqrt(double x) {
  if (x < 0.0) fatalMath(err::kMathDomain, "sqrt: DOMAIN error");
  return std::sqrt(x);
}

double mlog(double x) {
  if (x < 0.0) fatalMath(err::kMathDomain, "log: DOMAIN error");
  if (x == 0.0) fatalMath(err::kMathSing, "log: SING error");
  return std::log(x);
}

double mexp(double x) {
  // exp overflows for every argument above the double nearest ln(DBL_MAX).
  if (x > 709.782712893384) fatalMath(err::kMathOverflow, "exp: OVERFLOW error");
  return std::exp(x);  // underflow is not trapped: zero or a subnormal
}

namespace {
constexpr int kTrapped = FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW;

void onFloatingPointSignal(int, siginfo_t* info, void*) {
  fedisableexcept(FE_ALL_EXCEPT);
  feclearexcept(FE_ALL_EXCEPT);
  switch (info->si_code) {
    case FPE_FLTDIV:
      fatalMath(err::kFpDivideByZero, "floating-point error: divide by zero");
    case FPE_FLTOVF:
      fatalMath(err::kFpOverflow, "floating-point error: overflow");
    case FPE_FLTUND:
      fatalMath(err::kFpUnderflow, "floating-point error: underflow");
    case FPE_FLTRES:
      fatalMath(err::kFpInexact, "floating-point error: inexact");
    case FPE_INTDIV:
      fatalDebug(err::kIntegerOverflow, "integer divide by zero");
    case FPE_INTOVF:
      fatalDebug(err::kIntegerOverflow, "integer overflow");
    default:
      fatalMath(err::kFpInvalid, "floating-point error: invalid");
  }
}
}  // namespace

void enableFloatingPointTraps() {
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_sigaction = onFloatingPointSignal;
  sa.sa_flags = SA_SIGINFO;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGFPE, &sa, nullptr);
  feclearexcept(FE_ALL_EXCEPT);
  feenableexcept(kTrapped);
}

TrapsOff::TrapsOff() : saved_(fegetexcept()) { fedisableexcept(FE_ALL_EXCEPT); }

TrapsOff::~TrapsOff() {
  feclearexcept(kTrapped);
  if (saved_ != 0) feenableexcept(saved_);
}

// ---------------------------------------------------------------- trials

TrialScope::TrialScope() : savedTraps_(fegetexcept()), savedMode_(trialMode) {
  fedisableexcept(FE_ALL_EXCEPT);
  feclearexcept(kTrapped);
  trialMode = true;
}

TrialScope::~TrialScope() {
  trialMode = savedMode_;
  feclearexcept(kTrapped);
  if (savedTraps_ != 0) feenableexcept(savedTraps_);
}

bool inTrial() { return trialMode; }

bool trapFlagsRaised() { return fetestexcept(kTrapped) != 0; }

void clearTrapFlags() { feclearexcept(kTrapped); }

void abandonFlaggedTrial() {
  if (trialMode && fetestexcept(kTrapped) != 0) throw TrialAbandoned{};
}

FlagWatch::FlagWatch() : savedTraps_(fegetexcept()) {
  fegetexceptflag(&savedFlags_, kTrapped);
  fedisableexcept(FE_ALL_EXCEPT);
  feclearexcept(kTrapped);
}

FlagWatch::~FlagWatch() {
  fesetexceptflag(&savedFlags_, kTrapped);
  if (savedTraps_ != 0) feenableexcept(savedTraps_);
}

bool FlagWatch::raised() const { return fetestexcept(kTrapped) != 0; }

// ---------------------------------------------------------------- pause

void pause(std::string_view text) {
  if (trialMode) throw TrialAbandoned{};
  if (linePending()) consoleWrite("\r\n");  // linePending stays set
  std::string shown(text);
  shown += "\r\n";
  consoleWrite(shown);
  std::string line;
  if (!readConsoleLine(line)) line.clear();  // end of input is an empty reply
  if (line.size() > 128) line.resize(128);
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.pop_back();
  if (line.size() < 2) return;
  // A command typed at the pause runs only for a person at a terminal, so a
  // redirected input file can never run commands.
  const char* comspec = std::getenv("COMSPEC");
  if (comspec == nullptr || *comspec == '\0' || !isatty(0)) return;
  consoleFlush();
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

}  // namespace tarvel
