// What every run of the program must satisfy, whatever its input: the
// property that the fuzzers check and that the test suite checks again on
// the kept corpus.
//
// A fuzz case is one byte string: the bytes of control.dat, a NUL, the bytes
// of the data file (written as points.dat), a NUL, and the bytes given on
// standard input. Missing parts are empty.
#pragma once

#include <string>

namespace fuzzcase {

struct Parts {
  std::string control, data, input;
};

Parts split(const std::string& bytes);

struct Outcome {
  bool exited = false;  // ended by exit, not by a signal
  int status = -1;      // exit status, or the signal number
  std::string out, err;
};

// Empty when the run kept the promise: exit status 0, 1 or 2; status 0 or 2
// with standard output ending in the stop text (and an empty standard error
// for 0); status 1 with a well-formed run-time error report on standard
// error and no stop text; and no file written besides the results file and
// courbe.dat (`newFiles` names the files found afterwards besides
// control.dat and points.dat). Otherwise, what went wrong. Warning lines
// at the start of standard error are left out of these checks.
std::string check(const Outcome& o, const std::string& newFiles);

// One case of the list-directed reader: the first byte chooses the targets of
// the read statements (two bits a target: integer, real, 15-character text,
// 4-character text; bits 5-6 the number of targets less one) and whether the
// lines come from the console (bit 7); statements are read until the end of
// the input. Empty when every statement returned and every text target held
// exactly its length; otherwise what went wrong.
std::string readListCase(const std::string& bytes);

}  // namespace fuzzcase
