// The run's record as JSON, through nlohmann/json: numbers are written in a
// form that reads back to the same double.
#include "run/record.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "records/runtime.h"
#include "records/units.h"
#include "run/version.h"

namespace tarvel {

namespace {

using Json = nlohmann::ordered_json;

std::string file;  // empty: no record
Json doc;

// Whether two names reach one file: the same file when both exist, the same
// path when neither does.
bool sameFile(const std::string& a, const std::string& b) {
  struct stat x, y;
  const bool hasA = ::stat(a.c_str(), &x) == 0, hasB = ::stat(b.c_str(), &y) == 0;
  if (hasA || hasB) return hasA && hasB && x.st_dev == y.st_dev && x.st_ino == y.st_ino;
  std::error_code ea, eb;
  const auto pa = std::filesystem::weakly_canonical(std::filesystem::absolute(a, ea), ea);
  const auto pb = std::filesystem::weakly_canonical(std::filesystem::absolute(b, eb), eb);
  return !ea && !eb && pa == pb;
}

[[noreturn]] void refuse(const char* what, const std::string& reason) {
  consoleFlush();
  std::fprintf(stderr, "tarvel1: cannot %s record file '%s': %s\n", what, printable(file).c_str(), reason.c_str());
  endStep(2);
}

Json leading(const Vec<double>& v, int n) {
  Json a = Json::array();
  for (int i = 1; i <= n; ++i) a.push_back(v(i));
  return a;
}

// The leading n x n block, column by column as the run holds it; `plus`
// (when given) is added element by element.
Json columns(const Mat<double>& m, int n, const Mat<double>* plus = nullptr) {
  Json cols = Json::array();
  for (int c = 1; c <= n; ++c) {
    Json col = Json::array();
    for (int r = 1; r <= n; ++r) col.push_back(plus ? m(r, c) + (*plus)(r, c) : m(r, c));
    cols.push_back(col);
  }
  return cols;
}

// Square roots of the diagonal of the leading block of m (+ plus).
Json deviations(const Mat<double>& m, int n, const Mat<double>* plus = nullptr) {
  Json d = Json::array();
  for (int i = 1; i <= n; ++i) d.push_back(std::sqrt(plus ? m(i, i) + (*plus)(i, i) : m(i, i)));
  return d;
}

// The dumped text with every number in the shortest form that reads back to
// the same double: the library's own form always reads back, but is now and
// then a digit longer. A number that had a point or an exponent keeps one.
std::string shortestNumbers(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (c == '"') {  // a string, copied whole with its escapes
      std::size_t j = i + 1;
      while (text[j] != '"') j += text[j] == '\\' ? 2 : 1;
      out.append(text, i, j + 1 - i);
      i = j + 1;
    } else if (c == '-' || (c >= '0' && c <= '9')) {
      const std::size_t j = text.find_first_not_of("+-.0123456789eE", i);
      double v = 0.0;
      std::from_chars(text.data() + i, text.data() + j, v);
      char buf[32];
      std::string n(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
      const bool real = text.find_first_of(".eE", i) < j;
      out += real && n.find_first_of(".e") == std::string::npos ? n + ".0" : n;
      i = j;
    } else {
      out += c;
      ++i;
    }
  }
  return out;
}

}  // namespace

void requestRecord(const std::string& name) {
  file = name;
  // Only a record of this program is removed before the run knows its other
  // files; anything else waits for recordStart's check.
  struct stat st;
  if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
  std::ifstream in(file, std::ios::binary);
  TrapsOff off;
  const Json old = Json::parse(in, nullptr, false);
  const auto program = old.find("program");
  if (program != old.end() && *program == "tarvel1") std::remove(file.c_str());
}

void recordStart(const RunState& s) {
  if (file.empty()) return;
  const std::string data = unitName(2), results = unitName(kResults);
  for (const std::string& other : {std::string("control.dat"), data, results, std::string("courbe.dat")})
    if ((other != "courbe.dat" || s.opt[5] == 1) && sameFile(file, other))
      refuse("open", "it is the same file as " + printable(other) + ", which must not be overwritten");
  struct stat st;
  if (::stat(file.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) refuse("open", std::strerror(EISDIR));
  const std::string dir = std::filesystem::path(file).parent_path().string();
  if (::access(dir.empty() ? "." : dir.c_str(), W_OK | X_OK) != 0) refuse("open", std::strerror(errno));
  std::remove(file.c_str());

  TrapsOff off;
  Json opt = Json::array();
  for (int k = 1; k <= 6; ++k) opt.push_back(s.opt[k]);
  Json points = Json::array();
  for (int i = 1; i <= s.npt; ++i) points.push_back({{"q", s.qe(i)}, {"uq", s.uqe(i)}, {"e", s.e(i)}, {"ue", s.ue(i)}});
  doc = {{"program", "tarvel1"},
         {"version", kVersion},
         {"settings", {{"data_file", data}, {"order", s.ncoef}, {"opt", opt}, {"results_file", results}}},
         {"data", {{"relative_uncertainty", s.urel}, {"points", points}}},
         {"weighted_fits", Json::array()},
         {"weighted_fit", nullptr},
         {"monte_carlo_fit", nullptr},
         {"residuals", Json::array()}};
  if (s.opt[5] == 1) doc["curve"] = Json::array();
  if (s.opt[6] == 1) doc["queries"] = Json::array();
}

void recordWeightedFit(const RunState& s) {
  if (file.empty()) return;
  TrapsOff off;
  const int n = s.ncoef, freedom = s.npfit - n;
  Json fit = {{"order", n - 1},
              {"coefficients", leading(s.a, n)},
              {"covariance", columns(s.cov, n)},
              {"chi2", s.chi2},
              {"reduced_chi2", freedom > 0 ? Json(s.chi2 / static_cast<double>(freedom)) : Json(nullptr)}};
  if (s.opt[1] == 1) fit["Q"] = static_cast<double>(s.Q);
  if (s.opt[1] == 1 && s.opt[4] == 1) fit["verdict"] = std::string(fitVerdict(s.Q)).substr(1);
  doc["weighted_fits"].push_back(fit);
}

void recordResidual(double q, double eExp, double eCalc, double sdev, double mc) {
  if (file.empty()) return;
  doc["residuals"].push_back({{"q", q}, {"e_exp", eExp}, {"e_calc", eCalc}, {"sdev", sdev}, {"mc", mc}});
}

void recordCurveRow(double q, double e, double ue) {
  if (file.empty()) return;
  doc["curve"].push_back({{"q", q}, {"e", e}, {"ue", ue}});
}

void recordAnswer(int answer, double q, double e, double u) {
  if (file.empty()) return;
  static constexpr const char* kNames[] = {"uncertainties_in_y", "uncertainties_in_x_and_y", "full_monte_carlo"};
  Json& queries = doc["queries"];
  if (answer == 1) queries.push_back({{"q", q}});
  queries.back()[kNames[answer - 1]] = {{"e", e}, {"u", u}};
}

void recordFinish(const RunState& s) {
  if (file.empty()) return;
  closeUnit(kResults);  // the results file is complete before the record
  TrapsOff off;
  const int n = s.ncoef;
  doc["weighted_fit"] = {{"order", n - 1},
                         {"coefficients", leading(s.asave, n)},
                         {"standard_deviations", deviations(s.cov, n)},
                         {"covariance", columns(s.cov, n)}};
  doc["monte_carlo_fit"] = {{"order", n - 1},
                            {"coefficients", leading(s.amc, n)},
                            {"standard_deviations", deviations(s.cov, n, &s.covmc)},
                            {"monte_carlo_covariance", columns(s.covmc, n)},
                            {"combined_covariance", columns(s.cov, n, &s.covmc)}};
  const std::string text = shortestNumbers(doc.dump(2, ' ', false, Json::error_handler_t::replace)) + "\n";

  std::string temp = file + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) refuse("write", std::strerror(errno));
  const mode_t mask = ::umask(0);
  ::umask(mask);
  std::size_t done = 0;
  int error = ::fchmod(fd, 0666 & ~mask) == 0 ? 0 : errno;
  while (error == 0 && done < text.size()) {
    const ssize_t w = ::write(fd, text.data() + done, text.size() - done);
    if (w > 0) done += static_cast<std::size_t>(w);
    else if (w < 0 && errno != EINTR) error = errno;
  }
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && std::rename(temp.c_str(), file.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(temp.c_str());
    refuse("write", std::strerror(error));
  }
}

}  // namespace tarvel
