// Shared helpers of the tests: scratch directories and runs of the built
// program with captured output.
#pragma once

#include <string>

namespace testsupport {

// A fresh empty directory under the system's temporary directory, removed
// when the object goes out of scope.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  void write(const std::string& name, const std::string& bytes) const;
  std::string read(const std::string& name) const;
  bool exists(const std::string& name) const;

 private:
  std::string path_;
};

struct RunResult {
  int status = -1;     // exit status, or 128 + signal number
  std::string out;     // standard output bytes
  std::string err;     // standard error bytes
};

// Runs the built tarvel1 in `dir` with `input` on standard input (a file, so
// the run is not interactive) and extra command-line arguments.
RunResult runProgram(const std::string& dir, const std::string& input = "",
                     const std::string& args = "", const std::string& env = "");

// Runs any program the same way.
RunResult runExecutable(const std::string& exe, const std::string& dir, const std::string& input = "",
                        const std::string& args = "", const std::string& env = "");

// Shows CR and LF visibly, for failure messages.
std::string visible(const std::string& bytes);

}  // namespace testsupport
