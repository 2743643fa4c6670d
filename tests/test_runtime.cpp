// The console sink's carriage control, file records, and the fatal run-time
// errors: traps, checked math, subscripts, integer overflow, allocation.
#include <gtest/gtest.h>
#include <fenv.h>
#include <sys/resource.h>

#include <climits>
#include <cstdio>

#include "records/runtime.h"
#include "records/units.h"
#include "support.h"

using namespace tarvel;
using testsupport::visible;

namespace {

std::string consoleBytes(std::initializer_list<std::string_view> records) {
  resetUnitsForTesting();
  testing::internal::CaptureStdout();
  for (std::string_view r : records) writeRecord(kConsole, r);
  consoleFlush();
  std::string out = testing::internal::GetCapturedStdout();
  out += linePending() ? "|pending" : "|done";
  resetUnitsForTesting();
  return out;
}

}  // namespace

TEST(ConsoleSink, CarriageControl) {
  struct Case {
    std::initializer_list<std::string_view> records;
    std::string bytes;
  } cases[] = {
      {{" first"}, "first|pending"},
      {{" a", " b"}, "a\r\nb|pending"},
      {{"", " b"}, "\r\nb|pending"},  // an empty record shows as an empty line
      {{" a", "+b"}, "a\rb|pending"},
      {{"+b"}, "\rb|pending"},
      {{" a", "0b"}, "a\r\n\r\nb|pending"},
      {{"0b"}, "\r\nb|pending"},
      {{" a", "1b"}, "a\r\n\f\r \rb|pending"},
      {{"1b"}, "\r\n\f\r \rb|pending"},
      {{"xab"}, "ab|pending"},
  };
  for (const Case& c : cases) EXPECT_EQ(visible(consoleBytes(c.records)), visible(c.bytes));
}

TEST(FileSink, RecordsKeepFirstCharacterAndEndInCrLf) {
  testsupport::ScratchDir d;
  resetUnitsForTesting();
  ASSERT_TRUE(openUnit(3, d.file("out.dat"), Status::Unknown).ok);
  writeRecord(3, "   QE        e        Ue");
  writeRecord(3, "");
  writeRecord(3, "+x");
  closeUnit(3);
  closeUnit(3);  // closing a unit that is not connected does nothing
  EXPECT_EQ(visible(d.read("out.dat")), visible("   QE        e        Ue\r\n \r\n+x\r\n"));
  resetUnitsForTesting();
}

TEST(FatalErrors, ReportFrameAndTraceback) {
  FrameScope main(nullptr, "tarvel1.cpp", 10);
  main.at(42);
  {
    FrameScope inner("AJUST", "tarvel1.cpp", 300);
    inner.at(312);
    EXPECT_EQ(visible(fatalReport('M', 6103, ": MATH", "floating-point error: divide by zero")),
              visible("\r\ntarvel1.cpp(312) : run-time error M6103: MATH\r\n"
                      "- floating-point error: divide by zero\r\n"
                      "\r\nExecution traceback:\r\n"
                      "\t\tfrom AJUST in tarvel1.cpp(312)\r\n"
                      "\t\tfrom main program in tarvel1.cpp(42)\r\n"));
  }
  // Input echoed in a report cannot break its lines.
  EXPECT_EQ(visible(fatalReport('F', 6502, ": READ(a\rb.dat)", "invalid integer: 1\ropt\t6")),
            visible("\r\ntarvel1.cpp(42) : run-time error F6502: READ(a?b.dat)\r\n"
                    "- invalid integer: 1?opt?6\r\n"
                    "\r\nExecution traceback:\r\n"
                    "\t\tfrom main program in tarvel1.cpp(42)\r\n"));
  EXPECT_EQ(printable(std::string(100, 'x')), std::string(77, 'x') + "...");
  EXPECT_EQ(printable(std::string(80, 'x')), std::string(80, 'x'));
  EXPECT_EQ(visible(fatalReport('F', 6501, ": READ(points.dat)", "end of file encountered")),
            visible("\r\ntarvel1.cpp(42) : run-time error F6501: READ(points.dat)\r\n"
                    "- end of file encountered\r\n"
                    "\r\nExecution traceback:\r\n"
                    "\t\tfrom main program in tarvel1.cpp(42)\r\n"));
}

namespace {
volatile double vzero = 0.0;
volatile double vbig = 1e308;
volatile double vneg = -1.0;
}  // namespace

TEST(FatalErrorsDeathTest, TrapsAndCheckedOperations) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        enableFloatingPointTraps();
        FrameScope main(nullptr, "tarvel1.cpp", 7);
        volatile double r = 1.0 / vzero;
        (void)r;
      },
      testing::ExitedWithCode(1),
      "^\r\ntarvel1.cpp\\(7\\) : run-time error M6103: MATH\r\n- floating-point error: divide by zero\r\n\r\n"
      "Execution traceback:\r\n\t\tfrom main program in tarvel1.cpp\\(7\\)\r\n$");
  EXPECT_EXIT(
      {
        enableFloatingPointTraps();
        volatile double r = vzero / vzero;
        (void)r;
      },
      testing::ExitedWithCode(1), "run-time error M6101: MATH\r\n- floating-point error: invalid\r\n");
  EXPECT_EXIT(
      {
        enableFloatingPointTraps();
        volatile double r = vbig * vbig;
        (void)r;
      },
      testing::ExitedWithCode(1), "run-time error M6104: MATH\r\n- floating-point error: overflow\r\n");
  EXPECT_EXIT(msqrt(vneg), testing::ExitedWithCode(1), "run-time error M6201: MATH\r\n- sqrt: DOMAIN error\r\n");
  EXPECT_EXIT(mlog(vneg), testing::ExitedWithCode(1), "run-time error M6201: MATH\r\n- log: DOMAIN error\r\n");
  EXPECT_EXIT(mlog(vzero), testing::ExitedWithCode(1), "run-time error M6202: MATH\r\n- log: SING error\r\n");
  EXPECT_EXIT(mexp(709.79), testing::ExitedWithCode(1), "run-time error M6203: MATH\r\n- exp: OVERFLOW error\r\n");
  EXPECT_EXIT(iadd(INT_MAX, 1), testing::ExitedWithCode(1), "run-time error F6602: \\$DEBUG\r\n- integer overflow\r\n");
  EXPECT_EXIT(isub(INT_MIN, 1), testing::ExitedWithCode(1), "F6602: \\$DEBUG\r\n- integer overflow");
  EXPECT_EXIT(imul(65536, 32768), testing::ExitedWithCode(1), "F6602: \\$DEBUG\r\n- integer overflow");
  EXPECT_EXIT(
      {
        Vec<double> v(3);
        v(4) = 1.0;
      },
      testing::ExitedWithCode(1), "run-time error F6601: \\$DEBUG\r\n- subscript 4 out of range 1..3\r\n");
  EXPECT_EXIT(
      {
        Mat<double> m(2, 5);
        m(1, 0) = 1.0;
      },
      testing::ExitedWithCode(1), "F6601: \\$DEBUG\r\n- subscript 0 out of range 1..5\r\n");
  const auto hugeStore = [] {
    struct rlimit lim;
    lim.rlim_cur = lim.rlim_max = rlim_t{1} << 30;
    setrlimit(RLIMIT_AS, &lim);
    Mat<double> store(200000, 10000);  // 16 GB
  };
  EXPECT_EXIT(hugeStore(),
      testing::ExitedWithCode(1), "run-time error F6701: ALLOCATE\r\n- insufficient virtual memory\r\n");
}

TEST(FatalErrors, ChecksPassValuesInRange) {
  enableFloatingPointTraps();
  EXPECT_EQ(iadd(INT_MAX - 1, 1), INT_MAX);
  EXPECT_EQ(isub(INT_MIN + 1, 1), INT_MIN);
  EXPECT_EQ(imul(-65536, 32768), INT_MIN);
  EXPECT_EQ(msqrt(0.0), 0.0);
  EXPECT_EQ(msqrt(2.25), 1.5);
  EXPECT_EQ(mexp(-800.0), 0.0);  // an underflowing exponential is not an error
  EXPECT_GT(mexp(-740.0), 0.0);  // subnormal
  EXPECT_EQ(mexp(709.782712893384), 1.7976931348622732e308);
  {
    TrapsOff off;
    volatile double r = 1.0 / vzero;
    EXPECT_TRUE(r > 1e308);
  }
  fedisableexcept(FE_ALL_EXCEPT);
}

TEST(Pause, ShowsTextAndReadsTheReply) {
  // With standard input redirected, a typed command is read and ignored.
  testsupport::ScratchDir d;
  d.write("in", "echo ran > " + d.file("ran") + "\nnext\n");
  ASSERT_NE(std::freopen(d.file("in").c_str(), "r", stdin), nullptr);
  resetUnitsForTesting();
  setenv("COMSPEC", "/bin/sh", 1);
  testing::internal::CaptureStdout();
  writeRecord(kConsole, " before");
  pause("singular matrix in gaussj");
  writeRecord(kConsole, " after");
  consoleFlush();
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(visible(out), visible("before\r\nsingular matrix in gaussj\r\n\r\nafter"));
  EXPECT_FALSE(d.exists("ran"));
  std::string line;
  ASSERT_TRUE(readConsoleLine(line));  // the pause consumed exactly one line
  EXPECT_EQ(line, "next");
  unsetenv("COMSPEC");
  resetUnitsForTesting();
}
