#include "support.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testsupport {

ScratchDir::ScratchDir() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tarvel1-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::string cmd = "rm -rf '" + path_ + "'";
  if (std::system(cmd.c_str()) != 0) {
    // Leaving a scratch directory behind is harmless.
  }
}

void ScratchDir::write(const std::string& name, const std::string& bytes) const {
  std::ofstream f(file(name), std::ios::binary | std::ios::trunc);
  f << bytes;
}

std::string ScratchDir::read(const std::string& name) const {
  std::ifstream f(file(name), std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

bool ScratchDir::exists(const std::string& name) const {
  struct stat st;
  return ::stat(file(name).c_str(), &st) == 0;
}

static std::string slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

RunResult runProgram(const std::string& dir, const std::string& input, const std::string& args,
                     const std::string& env) {
  return runExecutable(TARVEL1_EXE, dir, input, args, env);
}

RunResult runExecutable(const std::string& exe, const std::string& dir, const std::string& input,
                        const std::string& args, const std::string& env) {
  const std::string in = dir + "/.stdin", out = dir + "/.stdout", err = dir + "/.stderr";
  {
    std::ofstream f(in, std::ios::binary | std::ios::trunc);
    f << input;
  }
  std::string cmd = "cd '" + dir + "' && env " + (env.empty() ? "" : env + " ") + "'" + exe + "' " +
                    args + " <'" + in + "' >'" + out + "' 2>'" + err + "'";
  int raw = std::system(cmd.c_str());
  RunResult r;
  if (WIFEXITED(raw))
    r.status = WEXITSTATUS(raw);
  else if (WIFSIGNALED(raw))
    r.status = 128 + WTERMSIG(raw);
  r.out = slurp(out);
  r.err = slurp(err);
  ::unlink(in.c_str());
  ::unlink(out.c_str());
  ::unlink(err.c_str());
  return r;
}

std::string visible(const std::string& bytes) {
  std::string s;
  for (char c : bytes) {
    if (c == '\r')
      s += "<CR>";
    else if (c == '\n')
      s += "<LF>\n";
    else if (c == '\t')
      s += "<TAB>";
    else
      s += c;
  }
  return s;
}

}  // namespace testsupport
