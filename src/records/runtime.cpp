// Fatal run-time errors, traceback frames, checks, the floating-point checks
// and the pause.
#include "records/runtime.h"

#include <cmath>
#include <cstdio>
#include <string>

namespace tarvel {

// ---------------------------------------------------------------- frames

namespace {
constexpr int kMaxFrames = 64;
constexpr int kMainStatement = 381;  // the main program's statement on entry
// What each thread knows of the routines it runs: its stack of frames (those
// deeper than kMaxFrames share `overflow`, never reached here), whether it
// works inside a TrialScope, and where its pauses go.
struct ThreadState {
  TraceFrame frames[kMaxFrames];
  TraceFrame overflow;
  int depth;
  bool trialMode;
  Observer* pauseHandler;
};
thread_local ThreadState thread{};

TraceFrame* push(const char* routine, const char* file, int stmt) {
  ThreadState& t = thread;
  TraceFrame* f = t.depth < kMaxFrames ? &t.frames[t.depth] : &t.overflow;
  *f = TraceFrame{routine, file, stmt};
  ++t.depth;
  return f;
}
}  // namespace

FrameScope::FrameScope(const char* routine, const char* file, int stmt) : frame_(nullptr) {
  // What the caller's statement raised is the caller's.
  checkFloatingPoint();
  frame_ = push(routine, file, stmt);
}

FrameScope::~FrameScope() { --thread.depth; }

void FrameScope::at(int stmt) {
  checkFloatingPoint();
  frame_->stmt = stmt;
}

void FrameScope::leave() const { checkFloatingPoint(); }

MainFrame::MainFrame() : frame_(nullptr), pushed_(thread.depth == 0) {
  frame_ = pushed_ ? push(nullptr, "run.cpp", kMainStatement) : &thread.frames[0];
}

MainFrame::~MainFrame() {
  if (pushed_) --thread.depth;
}

void MainFrame::at(int stmt) {
  checkFloatingPoint();
  frame_->stmt = stmt;
}

// ---------------------------------------------------------------- errors

Error::Error(char letter, int number, std::string message, std::string report)
    : std::runtime_error([&report] {
        std::string text;
        for (char c : report)
          if (c != '\r') text += c;
        return text.substr(text.find_first_not_of('\n') == std::string::npos ? 0 : text.find_first_not_of('\n'));
      }()),
      letter_(letter),
      number_(number),
      message_(std::move(message)),
      report_(std::move(report)) {}

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
  const ThreadState& st = thread;
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

namespace {
constexpr int kTrapped = FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW;

[[noreturn]] void fatalFloatingPoint(int raised) {
  feclearexcept(kTrapped);
  if (raised & FE_DIVBYZERO) fatalMath(err::kFpDivideByZero, "floating-point error: divide by zero");
  if (raised & FE_OVERFLOW) fatalMath(err::kFpOverflow, "floating-point error: overflow");
  fatalMath(err::kFpInvalid, "floating-point error: invalid");
}

[[noreturn]] void fatal(char letter, int number, std::string_view stmtPart, std::string_view message) {
  if (thread.trialMode) throw TrialAbandoned{};
  // An operation whose flag is still raised came before this error.
  if (const int raised = fetestexcept(kTrapped); raised != 0) fatalFloatingPoint(raised);
  throw Error(letter, number, printable(message), fatalReport(letter, number, stmtPart, message));
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

void fatalMath(int number, std::string_view message) {
  if (thread.trialMode) throw TrialAbandoned{};
  // A math function's error after an earlier operation's flag: the flag's.
  if (const int raised = fetestexcept(kTrapped); raised != 0 && number >= err::kMathDomain) fatalFloatingPoint(raised);
  throw Error('M', number, printable(message), fatalReport('M', number, ": MATH", message));
}

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

void checkFloatingPoint() {
  if (const int raised = fetestexcept(kTrapped); raised != 0) {
    if (thread.trialMode) throw TrialAbandoned{};
    fatalFloatingPoint(raised);
  }
}

FpEnvironment::FpEnvironment() { feholdexcept(&saved_); }

FpEnvironment::~FpEnvironment() { fesetenv(&saved_); }

// ---------------------------------------------------------------- trials

TrialScope::TrialScope() : savedMode_(thread.trialMode) {
  fegetexceptflag(&savedFlags_, kTrapped);
  feclearexcept(kTrapped);
  thread.trialMode = true;
}

TrialScope::~TrialScope() {
  thread.trialMode = savedMode_;
  fesetexceptflag(&savedFlags_, kTrapped);
}

bool trapFlagsRaised() { return fetestexcept(kTrapped) != 0; }

void clearTrapFlags() { feclearexcept(kTrapped); }

void abandonFlaggedTrial() {
  if (thread.trialMode && fetestexcept(kTrapped) != 0) throw TrialAbandoned{};
}

FlagWatch::FlagWatch() {
  fegetexceptflag(&savedFlags_, kTrapped);
  feclearexcept(kTrapped);
}

FlagWatch::~FlagWatch() { fesetexceptflag(&savedFlags_, kTrapped); }

bool FlagWatch::raised() const { return fetestexcept(kTrapped) != 0; }

// ---------------------------------------------------------------- pause

void pause(std::string_view text) {
  if (thread.trialMode) throw TrialAbandoned{};
  // An operation that has gone wrong before the pause ends the run first.
  checkFloatingPoint();
  if (thread.pauseHandler != nullptr) thread.pauseHandler->pause(text);
}

PauseHandler::PauseHandler(Observer* observer) : saved_(thread.pauseHandler) { thread.pauseHandler = observer; }

PauseHandler::~PauseHandler() { thread.pauseHandler = saved_; }

}  // namespace tarvel
