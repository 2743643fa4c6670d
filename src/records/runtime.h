// Run-time support shared by every routine: traceback frames, fatal run-time
// errors, checked subscripts and integer arithmetic, checked math functions,
// the floating-point checks and the pause of the numerical routines.
//
// A fatal error throws tarvel::Error carrying its report, which the program
// writes to standard error before it ends with exit status 1, for example:
//
//   <CR LF>run.cpp(134) : run-time error F6503: READ(points.dat)<CR LF>
//   - invalid real: abc<CR LF>
//   <CR LF>Execution traceback:<CR LF>
//   <TAB><TAB>from main program in run.cpp(134)<CR LF>
//
// Floating-point invalid operations, divisions by zero and overflows are
// errors of the run. Nothing traps them: their flags are tested where the run
// moves on to a new statement, leaves a framed routine, writes a record,
// pauses or reports another error, so a report names the statement in which
// the operation happened. Every entry of the library holds its host's
// floating-point environment aside (FpEnvironment) and puts it back.
//
// The main program's frame (MainFrame), the error numbers (tarvel::err),
// fatalIo, printable and FpEnvironment are in tarvel/records.h.
#pragma once

#include <fenv.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <cstdlib>

#include "tarvel/records.h"

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
// Statement numbers are fixed labels of the routine's statements, so that a
// report names the same statement from one build to the next.
class FrameScope {
 public:
  FrameScope(const char* routine, const char* file, int stmt);
  ~FrameScope();
  FrameScope(const FrameScope&) = delete;
  FrameScope& operator=(const FrameScope&) = delete;
  // Moves on to statement `stmt`, after checking the floating-point flags
  // raised by the statement before.
  void at(int stmt);
  // Checks the flags on the way out of the routine.
  void leave() const;

 private:
  TraceFrame* frame_;
};

// ---------------------------------------------------------------- errors

// Each throws tarvel::Error with its report (or, inside a TrialScope,
// TrialAbandoned). A floating-point flag raised before the error and not yet
// reported is reported instead, as the operation came first.
//
// Ends the run with a $DEBUG report (subscript or integer-overflow check).
[[noreturn]] void fatalDebug(int number, std::string_view message);
// Ends the run with an ALLOCATE report.
[[noreturn]] void fatalAllocate(std::string_view message);
// Ends the run with a math-group report (letter M, ": MATH").
[[noreturn]] void fatalMath(int number, std::string_view message);

// Writes the whole report to a string (what the program sends to standard
// error); the statement part and the message are shown through printable().
std::string fatalReport(char letter, int number, std::string_view stmtPart,
                        std::string_view message);

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

// Ends the run with the math-group error of an invalid operation, a division
// by zero or an overflow when its flag is raised (inside a TrialScope,
// throws TrialAbandoned). When several are, a division by zero or an overflow
// is taken to have come first: an infinity is what turns later operations
// invalid.
void checkFloatingPoint();

// ---------------------------------------------------------------- trials

// A computation done ahead of its turn, off the run's own order (a Monte
// Carlo refit fitted on a worker thread, say): its failure must not end the
// run, because the run may never get there, or may get somewhere else first.
// Inside a TrialScope a fatal run-time error, a raised floating-point flag
// found by a check, or a pause throws TrialAbandoned instead; the computation
// is then done again in its turn and fails there exactly as it would have.
struct TrialAbandoned {};

class TrialScope {
 public:
  TrialScope();
  ~TrialScope();
  TrialScope(const TrialScope&) = delete;
  TrialScope& operator=(const TrialScope&) = delete;

 private:
  fexcept_t savedFlags_;
  bool savedMode_;
};

// True when an invalid operation, a division by zero or an overflow has
// happened since the flags were last cleared.
bool trapFlagsRaised();
void clearTrapFlags();
// Inside a TrialScope, throws TrialAbandoned when trapFlagsRaised(); a no-op
// elsewhere, where the next check reports it.
void abandonFlaggedTrial();

// Tells whether anything in its scope raised an invalid operation, a division
// by zero or an overflow, and on leaving puts the flags back as they were:
// what happens inside (a number conversion, a computation tried on bounds)
// is no error of the run.
class FlagWatch {
 public:
  FlagWatch();
  ~FlagWatch();
  FlagWatch(const FlagWatch&) = delete;
  FlagWatch& operator=(const FlagWatch&) = delete;
  bool raised() const;

 private:
  fexcept_t savedFlags_;
};

// ---------------------------------------------------------------- pause

// The pause of the numerical routines: hands `text` to the pause handler of
// this thread (the observer of the run under way, if any) and returns when it
// does; the routine then goes on. Inside a TrialScope it throws
// TrialAbandoned instead.
void pause(std::string_view text);

// Sets the pause handler of this thread for a scope.
class PauseHandler {
 public:
  explicit PauseHandler(Observer* observer);
  ~PauseHandler();
  PauseHandler(const PauseHandler&) = delete;
  PauseHandler& operator=(const PauseHandler&) = delete;

 private:
  Observer* saved_;
};

}  // namespace tarvel
