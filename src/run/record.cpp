// The record of a calibration as JSON, through nlohmann/json: numbers are
// written in their shortest form that reads back to the same double.
#include <charconv>
#include <nlohmann/json.hpp>

#include "records/runtime.h"
#include "run/run.h"
#include "run/version.h"

namespace tarvel {

namespace {

using Json = nlohmann::ordered_json;

// A matrix as the list of its rows: m[i][j] is row i + 1, column j + 1.
Json rows(const Matrix& m) {
  Json all = Json::array();
  for (int r = 1; r <= m.n; ++r) {
    Json row = Json::array();
    for (int c = 1; c <= m.n; ++c) row.push_back(m(r, c));
    all.push_back(row);
  }
  return all;
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

std::string record(const Calibration& cal, const RecordContext* program) {
  const FpEnvironment held;
  const Inputs& in = cal.inputs;
  Json opt = Json::array();
  const Switches& sw = in.switches;
  const bool queries = program != nullptr && program->queries;
  if (program != nullptr) {
    for (int o : program->opt) opt.push_back(o);
  } else {
    for (bool on : {sw.printFits, false, sw.dropNegligible, sw.probability, sw.curve, false}) opt.push_back(on ? 1 : 0);
  }
  Json settings = Json::object();
  if (program != nullptr) {
    settings["heading"] = program->heading;
    settings["data_file"] = program->dataFile;
  }
  settings["order"] = in.order;
  settings["opt"] = opt;
  settings["switches"] = {{"print_fits", sw.printFits},
                          {"drop_negligible", sw.dropNegligible},
                          {"probability", sw.probability},
                          {"curve", sw.curve},
                          {"queries", queries}};
  if (program != nullptr) settings["results_file"] = program->resultsFile;
  Json points = Json::array();
  for (const Point& p : in.points) points.push_back({{"q", p.q}, {"uq", p.uq}, {"e", p.e}, {"ue", p.ue}});
  Json fits = Json::array();
  for (const WeightedFit& f : cal.weightedFits) {
    Json fit = {{"order", f.order},
                {"coefficients", f.coefficients},
                {"covariance", rows(f.covariance)},
                {"chi2", f.chi2},
                {"reduced_chi2", f.reducedChi2 ? Json(*f.reducedChi2) : Json(nullptr)}};
    // Q and its verdict where the program prints them.
    if (f.Q && sw.printFits) fit["Q"] = static_cast<double>(*f.Q);
    if (f.verdict && sw.printFits && sw.probability) fit["verdict"] = *f.verdict;
    fit["aic"] = f.aic;
    fit["aicc"] = f.aicc ? Json(*f.aicc) : Json(nullptr);
    fit["bic"] = f.bic;
    fits.push_back(fit);
  }
  const FinalFit& w = cal.weightedFit;
  const MonteCarloFit& mc = cal.monteCarloFit;
  Json residuals = Json::array();
  for (const Residual& r : cal.residuals)
    residuals.push_back({{"q", r.q}, {"e_exp", r.eExp}, {"e_calc", r.eCalc}, {"sdev", r.sdev}, {"mc", r.mc}});
  Json doc = {{"program", "tarvel1"},
              {"version", kVersion},
              {"settings", settings},
              {"data", {{"relative_uncertainty", in.urel}, {"points", points}}},
              {"weighted_fits", fits},
              {"final_weighted_fit",
               {{"order", w.order},
                {"coefficients", w.coefficients},
                {"standard_deviations", w.standardDeviations},
                {"covariance", rows(w.covariance)}}},
              {"monte_carlo_fit",
               {{"order", mc.order},
                {"coefficients", mc.coefficients},
                {"standard_deviations", mc.standardDeviations},
                {"monte_carlo_covariance", rows(mc.monteCarloCovariance)},
                {"combined_covariance", rows(mc.combinedCovariance)}}},
              {"residuals", residuals}};
  if (in.switches.curve) {
    Json curve = Json::array();
    for (const CurveRow& r : cal.curve) curve.push_back({{"q", r.q}, {"e", r.e}, {"ue", r.ue}});
    doc["curve"] = curve;
  }
  if (queries) {
    auto estimate = [](const Estimate& e) { return Json{{"e", e.e}, {"u", e.u}}; };
    Json queries = Json::array();
    for (const Answer& a : program->answers)
      queries.push_back({{"q", a.q},
                         {"uncertainties_in_y", estimate(a.y)},
                         {"uncertainties_in_x_and_y", estimate(a.xy)},
                         {"full_monte_carlo", estimate(a.mc)}});
    doc["queries"] = queries;
  }
  return shortestNumbers(doc.dump(2, ' ', false, Json::error_handler_t::replace)) + "\n";
}

}  // namespace tarvel
