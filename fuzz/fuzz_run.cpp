// AFL++ driver: one whole run of the program per input.
//
// The input is split into control.dat, the data file (points.dat) and the
// bytes of standard input (see tests/fuzz_property.h). The run happens in a
// forked child, jailed with chroot in a fresh directory so that no file name
// it reads can reach a file outside; the child's coverage reaches the fuzzer
// through the shared map. The parent checks the run's promise and aborts on
// a broken one, which the fuzzer records as a crash.
#include <dirent.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sys/stat.h>
#include <sstream>
#include <string>

#include "fuzz_property.h"
#include "program/program.h"

#if defined(__SANITIZE_ADDRESS__) || defined(TARVEL_SANITIZED)
extern "C" const char* __asan_default_options() {
  return "handle_sigfpe=0:allocator_may_return_null=1:abort_on_error=1:symbolize=0:detect_leaks=0";
}
extern "C" const char* __ubsan_default_options() { return "halt_on_error=1:abort_on_error=1"; }
#endif

namespace {

std::string slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

void spit(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Names of the files in `dir` other than the two inputs, one a line.
std::string newFiles(const std::string& dir) {
  std::string names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      const std::string n = e->d_name;
      if (n != "." && n != ".." && n != "control.dat" && n != "points.dat") names += n + "\n";
    }
    closedir(d);
  }
  return names;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string bytes = argc > 1 ? slurp(argv[1]) : std::string(std::istreambuf_iterator<char>(std::cin), {});
  const fuzzcase::Parts parts = fuzzcase::split(bytes);
  char base[] = "/tmp/tarvel1-fuzz-XXXXXX";
  if (mkdtemp(base) == nullptr) return 0;
  const std::string dir = base, jail = dir + "/jail";
  mkdir(jail.c_str(), 0755);
  spit(jail + "/control.dat", parts.control);
  spit(jail + "/points.dat", parts.data);
  spit(dir + "/in", parts.input);

  const pid_t pid = fork();
  if (pid == 0) {
    const int in = open((dir + "/in").c_str(), O_RDONLY);
    const int out = open((dir + "/out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open((dir + "/err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (chdir(jail.c_str()) != 0 || chroot(".") != 0) _exit(99);  // never run outside the jail
    alarm(60);
    char name[] = "tarvel1";
    char* args[] = {name, nullptr};
    _exit(tarvel::programMain(1, args));
  }
  int status = 0;
  waitpid(pid, &status, 0);
  fuzzcase::Outcome o;
  o.exited = WIFEXITED(status);
  o.status = o.exited ? WEXITSTATUS(status) : WTERMSIG(status);
  o.out = slurp(dir + "/out");
  o.err = slurp(dir + "/err");
  const std::string files = newFiles(jail);
  const std::string broken = o.exited && o.status == 99 ? "" : fuzzcase::check(o, files);
  std::system(("rm -rf '" + dir + "'").c_str());
  if (!broken.empty()) {
    std::fprintf(stderr, "broken promise: %s\n--- stdout\n%s\n--- stderr\n%s\n", broken.c_str(), o.out.c_str(),
                 o.err.c_str());
    std::abort();
  }
  return 0;
}
