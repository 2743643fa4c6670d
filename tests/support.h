// What the tests share: the headers, scratch directories, runs of the built
// programs, text patterns, and the long-double weighted least-squares reference.
#pragma once

#include <dirent.h>
#include <fenv.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <set>

#include "fit/ajust.h"
#include "fit/ajust_lanes.h"
#include "fit/gaussj.h"
#include "records/format.h"
#include "records/listin.h"
#include "records/listout.h"
#include "records/runtime.h"
#include "stats/calib.h"
#include "stats/gammln.h"
#include "stats/gammq.h"
#include "stats/gasdev.h"
#include "stats/ran1.h"
#include "run/run.h"

namespace ts {

// The chi-square probability of nu degrees of freedom at chi2 = 2x in closed form: e^-x sum_{j<k} x^j/j!
// for nu = 2k; erfc(sqrt x) + e^-x sum_{j<k} x^(j+1/2)/Gamma(j+3/2) for nu = 2k+1.
inline double chiSquareQ(int nu, double x) {
  const double h = nu % 2 / 2.0;
  double sum = 0;
  for (double j = 0, term = std::pow(x, h) / std::tgamma(1 + h); j < nu / 2; term *= x / (++j + h)) sum += term;
  return 2 * h * std::erfc(std::sqrt(x)) + std::exp(-x) * sum;
}

inline std::string slurp(const std::string& path) {
  return {std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf()), {}};
}

// Shows CR, LF and TAB visibly, for failure messages.
inline std::string visible(const std::string& bytes) {
  std::string s;
  for (char c : bytes) s += c == '\r' ? "<CR>" : c == '\n' ? "<LF>\n" : c == '\t' ? "<TAB>" : std::string(1, c);
  return s;
}

// Whether text `t` matches pattern `p`, in which * stands for any bytes and #
// for a decimal number.
inline bool like(const char* t, const char* p) {
  if (*p == '*') return like(t, p + 1) || (*t && like(t + 1, p));
  if (*p == '#') return *t >= '0' && *t <= '9' && (like(t + 1, p) || like(t + 1, p + 1));
  return *p ? *t == *p && like(t + 1, p + 1) : *t == '\0';
}

// The names in a directory that do not start with a dot, sorted, one a line.
inline std::string listing(const std::string& dir) {
  std::set<std::string> names;
  DIR* d = opendir(dir.c_str());
  while (dirent* e = d ? readdir(d) : nullptr) names.insert(e->d_name);
  if (d) closedir(d);
  std::string s;
  for (const std::string& n : names) s += n[0] == '.' ? "" : n + "\n";
  return s;
}

// A fresh directory, removed with everything in it at the end of the scope.
struct Scratch {
  std::string path = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/tarvel1-test-XXXXXX";
  Scratch() { mkdtemp(path.data()); }
  ~Scratch() { [[maybe_unused]] int r = std::system(("rm -rf '" + path + "'").c_str()); }
  std::string file(const std::string& name) const { return path + "/" + name; }
  void write(const std::string& name, const std::string& bytes) const { std::ofstream(file(name)) << bytes; }
  std::string read(const std::string& name) const { return slurp(file(name)); }
  // The names of the files besides the inputs, one a line.
  std::string others() const {
    std::string s = "\n" + listing(path);
    for (const std::string input : {"\ncontrol.dat\n", "\npoints.dat\n"})
      if (const auto at = s.find(input); at != std::string::npos) s.erase(at, input.size() - 1);
    return s.substr(1);
  }
};

struct Run { int status; std::string out, err; };  // the exit status, or 128 + the signal number

// control.dat: the data file, the order, the six switches (digits) and the results file.
inline std::string control(int order, const std::string& opt = "000000", const std::string& dat = "points.dat",
                    const std::string& res = "results.dat") {
  std::string s = "'test calibration'\n" + dat + " datafile\n" + std::to_string(order) + " order\n";
  for (char o : opt) s += o + std::string(" switch\n");
  return s + res + " resfile\n";
}

// Runs `exe` in `d` after the shell commands `pre`, with `input` on standard
// input (a file, so not interactive) and COMSPEC set.
inline Run run(const std::string& exe, const Scratch& d, const std::string& input = "", const std::string& args = "",
               const std::string& pre = "") {
  d.write(".in", input);
  const int raw = std::system(
      ("cd '" + d.path + "' && " + pre + "COMSPEC=/bin/sh exec '" + exe + "' " + args + " <.in >.out 2>.err").c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw), d.read(".out"), d.read(".err")};
}

// Weighted least squares of a polynomial (constant term first) in long
// double: the normal equations of the fitted coefficients, with those whose
// flag is 0 held at their value in `a`, by Gauss-Jordan elimination with row
// exchanges. Gives the coefficients, their covariance (the inverse of the
// normal matrix, zero for held ones) and the chi-square.
using LD = long double;
struct Reference { std::vector<LD> a; std::vector<std::vector<LD>> cov; LD chi2 = 0; };

inline Reference referenceFit(const std::vector<double>& x, const std::vector<double>& y,
                              const std::vector<double>& sig, const std::vector<double>& a, const std::vector<int>& ifit) {
  const std::size_t m = a.size();
  std::vector<std::size_t> f;  // the fitted slots
  for (std::size_t l = 0; l < m; ++l)
    if (ifit[l]) f.push_back(l);
  const std::size_t n = f.size();
  auto pw = [&](std::size_t i, std::size_t k) { return std::pow(static_cast<LD>(x[i]), static_cast<LD>(k)); };
  // Rows of the normal matrix, the right-hand side and the unit columns.
  std::vector<std::vector<LD>> r(n, std::vector<LD>(2 * n + 1, 0));
  for (std::size_t i = 0; i < x.size(); ++i) {
    LD rest = y[i];
    for (std::size_t l = 0; l < m; ++l) rest -= ifit[l] ? 0 : a[l] * pw(i, l);
    for (std::size_t j = 0; j < n; ++j) {
      for (std::size_t k = 0; k < n; ++k) r[j][k] += pw(i, f[j] + f[k]) / sig[i] / sig[i];
      r[j][n] += rest * pw(i, f[j]) / sig[i] / sig[i];
      r[j][n + 1 + j] = 1;
    }
  }
  for (std::size_t p = 0; p < n; ++p) {
    auto smaller = [p](auto& u, auto& v) { return std::fabs(u[p]) < std::fabs(v[p]); };  // in the pivot column
    std::swap(r[p], *std::max_element(r.begin() + p, r.end(), smaller));
    for (std::size_t k = 2 * n + 1; k-- > p;) r[p][k] /= r[p][p];
    for (std::size_t j = 0; j < n; ++j)
      for (std::size_t k = 2 * n + 1; j != p && k-- > p;) r[j][k] -= r[j][p] * r[p][k];
  }
  Reference ref{{a.begin(), a.end()}, std::vector<std::vector<LD>>(m, std::vector<LD>(m, 0))};
  for (std::size_t j = 0; j < n; ++j) {
    ref.a[f[j]] = r[j][n];
    for (std::size_t k = 0; k < n; ++k) ref.cov[f[j]][f[k]] = r[j][n + 1 + k];
  }
  for (std::size_t i = 0; i < x.size(); ++i) {
    LD d = y[i];
    for (std::size_t l = 0; l < m; ++l) d -= ref.a[l] * pw(i, l);
    ref.chi2 += d * d / sig[i] / sig[i];
  }
  return ref;
}

}  // namespace ts
