// Run-time support shared by every routine: traceback frames, fatal run-time
// errors, checked subscripts and integer arithmetic, checked math functions,
// floating-point traps and the pause of the numerical routines.
//
// A fatal error writes its report to standard error, closes every connected
// unit and ends the process with exit status 1, for example:
//
//   <CR LF>tarvel1.cpp(212) : run-time error F6502: READ(points.dat)<CR LF>
//   - invalid integer<CR LF>
//   <CR LF>Execution traceback:<CR LF>
//   <TAB><TAB>from main program in tarvel1.cpp(212)<CR LF>
#pragma once

#include <fenv.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <cstdlib>

namespace tarvel {

// ---------------------------------------------------------------- frames

// One active routine as the traceback shows it. `stmt` is the number of the
// statement being executed and is moved along as the routine runs.
struct TraceFrame {
  const char* routine;  // nullptr for the main program
  const char* file;
  int stmt;
};

// Pushes a frame on construction and pops it on destruction. Every thread
// has a stack of its own; a report shows the stack of the thread that fails.
// (Out of line, so that the frame is in place before the routine's own
// arithmetic can trap.)
class FrameScope {
 public:
  FrameScope(const char* routine, const char* file, int stmt);
  ~FrameScope();
  FrameScope(const FrameScope&) = delete;
  FrameScope& operator=(const FrameScope&) = delete;
  void at(int stmt) { frame_->stmt = stmt; }

 private:
  TraceFrame* frame_;
};

// Marks the statement about to run in the innermost frame of this routine.
#define TRACE_AT(scope) (scope).at(__LINE__)

// ---------------------------------------------------------------- errors

// Error numbers (the report shows 6000 + code in four digits).
namespace err {
// input/output group (letter F)
inline constexpr int kEndOfFile = 6501;
inline constexpr int kBadInteger = 6502;
inline constexpr int kBadReal = 6503;
inline constexpr int kIntegerRange = 6504;
inline constexpr int kRealRange = 6505;
inline constexpr int kZeroRepeat = 6506;
inline constexpr int kBadValue = 6507;  // a value read that the run cannot use
inline constexpr int kWriteFailed = 6508;
// $DEBUG group (letter F)
inline constexpr int kSubscript = 6601;
inline constexpr int kIntegerOverflow = 6602;
// ALLOCATE group (letter F)
inline constexpr int kNoMemory = 6701;
// math group (letter M)
inline constexpr int kFpInvalid = 6101;
inline constexpr int kFpDenormal = 6102;
inline constexpr int kFpDivideByZero = 6103;
inline constexpr int kFpOverflow = 6104;
inline constexpr int kFpUnderflow = 6105;
inline constexpr int kFpInexact = 6106;
inline constexpr int kMathDomain = 6201;
inline constexpr int kMathSing = 6202;
inline constexpr int kMathOverflow = 6203;
}  // namespace err

// Ends the run with a report whose statement part is an input/output
// statement, e.g. ": READ(control.dat)". `stmtKind` is "READ", "OPEN", ...
[[noreturn]] void fatalIo(int number, std::string_view stmtKind,
                          std::string_view unitName, std::string_view message);
// Ends the run with a $DEBUG report (subscript or integer-overflow check).
[[noreturn]] void fatalDebug(int number, std::string_view message);
// Ends the run with an ALLOCATE report.
[[noreturn]] void fatalAllocate(std::string_view message);
// Ends the run with a math-group report (letter M, ": MATH").
[[noreturn]] void fatalMath(int number, std::string_view message);

// A text from the input made safe for one line of a report: control
// characters become '?', and a text longer than 80 characters is cut with
// "...".
std::string printable(std::string_view text);

// Writes the whole report to a string (what fatal* send to standard error);
// the statement part and the message are shown through printable().
std::string fatalReport(char letter, int number, std::string_view stmtPart,
                        std::string_view message);

// Called on the way out of every ending (normal or fatal): flushes and
// closes the connected units and writes a pending console line break.
// Installed by the unit layer.
using ExitHook = void (*)();
void setExitHook(ExitHook hook);
[[noreturn]] void terminate(int status);

// ---------------------------------------------------------------- checks

[[noreturn]] void subscriptError(long long index, long long lower, long long upper);

// Checked 32-bit integer arithmetic: an overflow is a fatal $DEBUG error.
// Inline, so that a check that cannot fail costs nothing.
[[noreturn]] void integerOverflow();
inline int iadd(int a, int b) {
  int r;
  if (__builtin_add_overflow(a, b, &r)) integerOverflow();
  return r;
}
inline int isub(int a, int b) {
  int r;
  if (__builtin_sub_overflow(a, b, &r)) integerOverflow();
  return r;
}
inline int imul(int a, int b) {
  int r;
  if (__builtin_mul_overflow(a, b, &r)) integerOverflow();
  return r;
}

// Allocates `count` zeroed elements of `size` bytes; a failure (or a count
// whose byte size overflows) is a fatal ALLOCATE error, never a crash.
void* allocateZeroed(std::size_t count, std::size_t size);

// 1-based vector of n elements whose subscripts are checked.
template <class T>
class Vec {
 public:
  Vec() = default;
  explicit Vec(int n) { allocate(n); }
  ~Vec() { std::free(p_); }
  Vec(const Vec&) = delete;
  Vec& operator=(const Vec&) = delete;
  void allocate(int n) {
    std::free(p_);
    p_ = nullptr;
    n_ = 0;
    if (n > 0) p_ = static_cast<T*>(allocateZeroed(static_cast<std::size_t>(n), sizeof(T)));
    n_ = n < 0 ? 0 : n;
  }
  T& operator()(int i) {
    if (i < 1 || i > n_) subscriptError(i, 1, n_);
    return p_[i - 1];
  }
  const T& operator()(int i) const {
    if (i < 1 || i > n_) subscriptError(i, 1, n_);
    return p_[i - 1];
  }
  int size() const { return n_; }
  T* data() { return p_; }
  const T* data() const { return p_; }

 private:
  T* p_ = nullptr;
  int n_ = 0;
};

// 1-based, column-major rows x cols matrix whose subscripts are checked.
template <class T>
class Mat {
 public:
  Mat() = default;
  Mat(int rows, int cols) { allocate(rows, cols); }
  ~Mat() { std::free(p_); }
  Mat(const Mat&) = delete;
  Mat& operator=(const Mat&) = delete;
  void allocate(int rows, int cols) {
    std::free(p_);
    p_ = nullptr;
    rows_ = cols_ = 0;
    if (rows > 0 && cols > 0)
      p_ = static_cast<T*>(allocateZeroed(static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols),
                                          sizeof(T)));
    rows_ = rows < 0 ? 0 : rows;
    cols_ = cols < 0 ? 0 : cols;
  }
  T& operator()(int i, int j) {
    if (i < 1 || i > rows_) subscriptError(i, 1, rows_);
    if (j < 1 || j > cols_) subscriptError(j, 1, cols_);
    return p_[static_cast<std::size_t>(i - 1) + static_cast<std::size_t>(j - 1) * static_cast<std::size_t>(rows_)];
  }
  const T& operator()(int i, int j) const { return const_cast<Mat*>(this)->operator()(i, j); }
  int rows() const { return rows_; }
  int cols() const { return cols_; }
  T* data() { return p_; }
  const T* data() const { return p_; }
  // Column j as a contiguous 1-based view start (element (1,j)).
  T* column(int j) { return p_ + static_cast<std::size_t>(j - 1) * static_cast<std::size_t>(rows_); }

 private:
  T* p_ = nullptr;
  int rows_ = 0;
  int cols_ = 0;
};

// Non-owning checked 1-based view of n elements.
template <class T>
struct View {
  T* p;
  int n;
  T& operator()(int i) const {
    if (i < 1 || i > n) subscriptError(i, 1, n);
    return p[i - 1];
  }
};

// Non-owning checked 1-based column-major view of a rows x cols matrix.
template <class T>
struct View2 {
  T* p;
  int rows;
  int cols;
  T& operator()(int i, int j) const {
    if (i < 1 || i > rows) subscriptError(i, 1, rows);
    if (j < 1 || j > cols) subscriptError(j, 1, cols);
    return p[(i - 1) + static_cast<std::ptrdiff_t>(j - 1) * rows];
  }
};

// ---------------------------------------------------------------- math

// Math-library calls that end the run with a math-group error naming the
// function instead of returning a NaN or an infinity.
double msqrt(double x);  // x < 0: 6201 DOMAIN
double mlog(double x);   // x < 0: 6201 DOMAIN; x == 0: 6202 SING
double mexp(double x);   // result beyond the largest double: 6203 OVERFLOW;
                         // an underflowing result is returned as is

// Turns on the invalid, divide-by-zero and overflow traps and installs the
// handler that turns the resulting signal into a math-group fatal error.
void enableFloatingPointTraps();

// Holds the traps off for a scope (number conversion in the record layer may
// raise flags that are not errors of the program).
class TrapsOff {
 public:
  TrapsOff();
  ~TrapsOff();
  TrapsOff(const TrapsOff&) = delete;
  TrapsOff& operator=(const TrapsOff&) = delete;

 private:
  int saved_;
};

// ---------------------------------------------------------------- trials

// A computation done ahead of its turn, off the run's own order (a Monte
// Carlo refit fitted on a worker thread, say): its failure must not end the
// run, because the run may never get there, or may get somewhere else first.
// Inside a TrialScope the invalid, divide-by-zero and overflow traps are held
// off, and a fatal run-time error or a pause throws TrialAbandoned instead of
// ending the run; the computation is then done again in its turn, traps on,
// and fails there exactly as it would have.
struct TrialAbandoned {};

class TrialScope {
 public:
  TrialScope();
  ~TrialScope();
  TrialScope(const TrialScope&) = delete;
  TrialScope& operator=(const TrialScope&) = delete;

 private:
  int savedTraps_;
  bool savedMode_;
};

// True inside a TrialScope on this thread.
bool inTrial();
// True when an invalid operation, a division by zero or an overflow has
// happened, with the traps held off, since the flags were last cleared.
bool trapFlagsRaised();
void clearTrapFlags();
// Inside a TrialScope, throws TrialAbandoned when trapFlagsRaised(); a no-op
// elsewhere, where such an operation has already ended the run.
void abandonFlaggedTrial();

// Holds the traps off for a scope and tells whether anything in it raised an
// invalid operation, a division by zero or an overflow; on leaving, the flags
// and the traps are as they were. (Holding the traps off costs about a
// microsecond, so hot code tries to prove such operations impossible first.)
class FlagWatch {
 public:
  FlagWatch();
  ~FlagWatch();
  FlagWatch(const FlagWatch&) = delete;
  FlagWatch& operator=(const FlagWatch&) = delete;
  bool raised() const;

 private:
  int savedTraps_;
  fexcept_t savedFlags_;
};

// ---------------------------------------------------------------- pause

// Shows `text` on the console and waits for the operator's line; a line of
// two or more characters is run by the command processor only when COMSPEC is
// set and standard input is an interactive terminal. Then returns. Inside a
// TrialScope it shows nothing and throws TrialAbandoned.
void pause(std::string_view text);

}  // namespace tarvel
