// The kept fuzzing corpus, replayed: every case must keep the promise that
// the fuzzers check (see fuzz_property.h).
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fuzz_property.h"
#include "support.h"

using namespace testsupport;

namespace {

// The files of a directory whose names do not start with a dot, sorted.
std::vector<std::string> listDir(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> corpus(const std::string& which) {
  const std::string dir = std::string(TESTS_DIR) + "/fuzz-corpus/" + which;
  std::vector<std::string> files;
  for (const std::string& n : listDir(dir)) files.push_back(dir + "/" + n);
  return files;
}

std::string slurpFile(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  std::string bytes;
  if (f) {
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
    std::fclose(f);
  }
  return bytes;
}

}  // namespace

TEST(FuzzCorpus, ListReaderCases) {
  const auto files = corpus("listin");
  ASSERT_GE(files.size(), 3u);
  for (const std::string& f : files) EXPECT_EQ(fuzzcase::readListCase(slurpFile(f)), "") << f;
}

TEST(FuzzCorpus, WholeRuns) {
  const auto files = corpus("run");
  ASSERT_GE(files.size(), 4u);
  for (const std::string& f : files) {
    SCOPED_TRACE(f);
    const fuzzcase::Parts p = fuzzcase::split(slurpFile(f));
    // The kept cases name no file outside their directory.
    ASSERT_EQ((p.control + p.input).find('/'), std::string::npos) << "a kept case must not name paths";
    ScratchDir d;
    d.write("control.dat", p.control);
    d.write("points.dat", p.data);
    const RunResult r = runProgram(d.path(), p.input);
    fuzzcase::Outcome o;
    o.exited = r.status < 128;
    o.status = r.status < 128 ? r.status : r.status - 128;
    o.out = r.out;
    o.err = r.err;
    std::string files;
    for (const std::string& n : listDir(d.path()))
      if (n != "control.dat" && n != "points.dat") files += n + "\n";
    EXPECT_EQ(fuzzcase::check(o, files), "") << visible(r.out) << visible(r.err);
  }
}
