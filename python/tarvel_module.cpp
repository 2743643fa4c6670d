// The compiled core (tarvel._tarvel) of the Python package tarvel: the
// calibration of tarvel1 from Python, over the library's public API, every
// figure the program's own, as numpy arrays.
//
// A calibration runs with the GIL released, on the library's threads; its
// observer looks for a pending signal (Ctrl-C) every 50 ms or so and stops
// the run when a signal handler raised. Bad arguments raise ValueError before
// any work, a run-time error of the calibration tarvel.CalibrationError with
// the program's report, and the program's warnings about doubtful points go
// through the warnings module. Every entry point holds the interpreter's
// floating-point environment aside while it works (tarvel::FpEnvironment):
// its flags and traps are as they were after a call, whatever it raised.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "tarvel/records.h"
#include "tarvel/tarvel.h"

namespace py = pybind11;
using namespace py::literals;

namespace {

using Array = py::array_t<double, py::array::c_style | py::array::forcecast>;
using tarvel::kMaxThreads;
// A figure that an order does not have.
constexpr double kNone = std::numeric_limits<double>::quiet_NaN();

// The classes made at import, kept for the life of the process.
struct Types {
  PyObject *calibrationError, *pointWarning, *estimate, *answers, *weightedFit, *finalFit, *monteCarloFit,
      *residuals, *curve;
} types;

// Text as the library writes it; bytes that are not UTF-8 (a file name, say)
// come through as surrogates and encode back to the same bytes.
py::str text(const std::string& s) {
  return py::reinterpret_steal<py::str>(PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), "surrogateescape"));
}

py::array_t<double> vector(const std::vector<double>& v) { return py::array_t<double>(v.size(), v.data()); }

// A matrix as a 2-D array, [i, j] being element (i + 1, j + 1).
py::array_t<double> matrix(const tarvel::Matrix& m) {
  py::array_t<double> a({m.n, m.n});
  auto r = a.mutable_unchecked<2>();
  for (int i = 0; i < m.n; ++i)
    for (int j = 0; j < m.n; ++j) r(i, j) = m(i + 1, j + 1);
  return a;
}

// A column of a table of rows as an array.
template <class Row>
py::array_t<double> column(const std::vector<Row>& rows, double Row::*field) {
  py::array_t<double> a(rows.size());
  double* out = a.mutable_data();
  for (const Row& r : rows) *out++ = r.*field;
  return a;
}

// An instance of one of the classes made at import.
template <class... T>
py::object make(PyObject* type, T&&... values) {
  return py::handle(type)(std::forward<T>(values)...);
}

[[noreturn]] void raise(PyObject* type, const std::string& message) {
  PyErr_SetObject(type, text(message).ptr());
  throw py::error_already_set();
}

// tarvel.CalibrationError: the pauses' texts (a numerical routine's trouble
// on the way) before the report.
[[noreturn]] void raise(const tarvel::Error& e, const std::vector<std::string>& pauses = {}) {
  std::string message;
  for (const std::string& p : pauses) message += p + "\n";
  py::object exc = py::handle(types.calibrationError)(text(message + e.what()));
  exc.attr("report") = text(e.report());
  exc.attr("letter") = std::string(1, e.letter());
  exc.attr("number") = e.number();
  exc.attr("message") = text(e.message());
  exc.attr("note") = text(e.note());
  py::list texts;
  for (const std::string& p : pauses) texts.append(text(p));
  exc.attr("pauses") = texts;
  PyErr_SetObject(types.calibrationError, exc.ptr());
  throw py::error_already_set();
}

void warn(PyObject* category, const std::string& message) {
  if (PyErr_WarnEx(category, message.c_str(), 2) != 0) throw py::error_already_set();
}

// Watches a calibration on the thread that called it, without the GIL: keeps
// the pauses' texts and, every 50 ms at most, lets Python run its signal
// handlers; one that raised (KeyboardInterrupt) stops the run.
class Watcher : public tarvel::Observer {
 public:
  void pause(std::string_view t) override { pauses.emplace_back(t); }
  void warning(std::string_view t) override { warnings.emplace_back(t); }
  bool cancelled() override {
    const auto now = std::chrono::steady_clock::now();
    if (now - last_ < std::chrono::milliseconds(50)) return false;
    last_ = now;
    py::gil_scoped_acquire gil;
    // The handlers' own arithmetic stays out of the run's flags.
    const tarvel::FpEnvironment held;
    if (PyErr_CheckSignals() == 0) return false;
    PyErr_Fetch(&type_, &value_, &trace_);
    return true;
  }
  // The error of the signal handler that stopped the run, raised again.
  void raiseSignal() {
    if (type_ == nullptr) return;
    PyErr_Restore(type_, value_, trace_);
    type_ = value_ = trace_ = nullptr;
    throw py::error_already_set();
  }
  std::vector<std::string> pauses, warnings;

 private:
  std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
  PyObject *type_ = nullptr, *value_ = nullptr, *trace_ = nullptr;
};

// The points of four columns of one length, the relative uncertainty and the threads.
tarvel::Inputs pointsOf(const Array& q, const Array& uq, const Array& e, const Array& ue, double urel,
                        std::optional<int> threads) {
  const char* names[] = {"q", "uq", "e", "ue"};
  const Array* columns[] = {&q, &uq, &e, &ue};
  for (int k = 0; k < 4; ++k)
    if (columns[k]->ndim() != 1)
      raise(PyExc_ValueError, std::string(names[k]) + " must be one-dimensional, not of " +
                                  std::to_string(columns[k]->ndim()) + " dimensions");
  const py::ssize_t n = q.shape(0);
  if (uq.shape(0) != n || e.shape(0) != n || ue.shape(0) != n)
    raise(PyExc_ValueError, "q, uq, e and ue must have the same length, not " + std::to_string(n) + ", " +
                                std::to_string(uq.shape(0)) + ", " + std::to_string(e.shape(0)) + " and " +
                                std::to_string(ue.shape(0)));
  if (threads && (*threads < 1 || *threads > kMaxThreads))
    raise(PyExc_ValueError, "threads must be None (one a core) or 1 to " + std::to_string(kMaxThreads) + ", not " +
                                std::to_string(*threads));
  tarvel::Inputs in;
  in.points.resize(static_cast<std::size_t>(n));
  for (py::ssize_t i = 0; i < n; ++i) in.points[i] = {q.at(i), uq.at(i), e.at(i), ue.at(i)};
  in.urel = urel;
  in.threads = threads.value_or(0);
  return in;
}

tarvel::Calibration calibrate(const Array& q, const Array& uq, const Array& e, const Array& ue, double urel, int order,
                              bool printFits, bool dropNegligible, bool probability, bool curve,
                              std::optional<int> threads) {
  const tarvel::FpEnvironment held;
  tarvel::Inputs in = pointsOf(q, uq, e, ue, urel, threads);
  in.order = order;
  in.switches = {printFits, dropNegligible, probability, curve};
  try {
    tarvel::checkInputs(in);
  } catch (const std::invalid_argument& bad) {
    raise(PyExc_ValueError, bad.what());
  }
  for (const std::string& line : tarvel::inputWarnings(in)) {
    const std::string prefix = "tarvel1: warning: ";
    warn(types.pointWarning, line.rfind(prefix, 0) == 0 ? line.substr(prefix.size()) : line);
  }

  Watcher watcher;
  std::optional<tarvel::Calibration> cal;
  std::exception_ptr failure;
  {
    py::gil_scoped_release free;
    try {
      cal = tarvel::calibrate(std::move(in), &watcher);
    } catch (...) {
      failure = std::current_exception();
    }
  }
  watcher.raiseSignal();
  if (failure) {
    try {
      std::rethrow_exception(failure);
    } catch (const tarvel::Error& err) {
      raise(err, watcher.pauses);
    } catch (const tarvel::Cancelled&) {
      raise(PyExc_KeyboardInterrupt, "calibration cancelled");
    }
  }
  for (const std::string& w : watcher.warnings) warn(types.pointWarning, w);
  for (const std::string& p : watcher.pauses) warn(PyExc_RuntimeWarning, p);
  return std::move(*cal);
}

// Every order side by side: the columns of the table as arrays (NaN, or 0
// for a point, where an order has no figure), and the recommendation.
py::dict compareOrders(const Array& q, const Array& uq, const Array& e, const Array& ue, double urel,
                       std::optional<std::vector<int>> orders, std::optional<int> threads) {
  const tarvel::FpEnvironment held;
  const tarvel::Inputs in = pointsOf(q, uq, e, ue, urel, threads);
  tarvel::OrderTable t;
  std::optional<std::string> refused;
  {
    py::gil_scoped_release free;
    try {
      tarvel::Workspace workspace(in.threads);
      t = tarvel::compareOrders(in, orders.value_or(std::vector<int>{}), &workspace);
    } catch (const std::invalid_argument& bad) {
      refused = bad.what();
    }
  }
  if (refused) raise(PyExc_ValueError, *refused);
  const auto column = [&](auto get) {
    py::array_t<decltype(get(t.rows[0]))> a(static_cast<py::ssize_t>(t.rows.size()));
    for (std::size_t r = 0; r < t.rows.size(); ++r) a.mutable_at(r) = get(t.rows[r]);
    return a;
  };
  const auto fitted = [&](double (*get)(const tarvel::OrderRow&)) {
    return column([&](const tarvel::OrderRow& r) { return r.failure.empty() ? get(r) : kNone; });
  };
  py::dict d;
  d["order"] = column([](const tarvel::OrderRow& r) { return r.order; });
  d["chi2"] = fitted([](const tarvel::OrderRow& r) { return r.fit.chi2; });
  d["dof"] = column([](const tarvel::OrderRow& r) { return r.failure.empty() ? r.fit.dof : 0; });
  d["reduced_chi2"] = fitted([](const tarvel::OrderRow& r) { return r.fit.reducedChi2.value_or(kNone); });
  d["Q"] = fitted([](const tarvel::OrderRow& r) { return r.fit.Q ? static_cast<double>(*r.fit.Q) : kNone; });
  d["aic"] = fitted([](const tarvel::OrderRow& r) { return r.fit.aic; });
  d["aicc"] = fitted([](const tarvel::OrderRow& r) { return r.fit.aicc.value_or(kNone); });
  d["bic"] = fitted([](const tarvel::OrderRow& r) { return r.fit.bic; });
  d["chi2_xy"] = fitted([](const tarvel::OrderRow& r) { return r.chi2xy; });
  d["Q_xy"] = fitted([](const tarvel::OrderRow& r) { return r.Qxy.value_or(kNone); });
  d["largest_residual"] = fitted([](const tarvel::OrderRow& r) { return r.largestResidual; });
  d["largest_residual_point"] = column([](const tarvel::OrderRow& r) { return r.largestResidualPoint; });
  d["u_smallest"] = fitted([](const tarvel::OrderRow& r) { return r.curveUncertainty[0]; });
  d["u_middle"] = fitted([](const tarvel::OrderRow& r) { return r.curveUncertainty[1]; });
  d["u_largest"] = fitted([](const tarvel::OrderRow& r) { return r.curveUncertainty[2]; });
  py::list failures;
  for (const tarvel::OrderRow& r : t.rows) failures.append(r.failure);
  d["failure"] = py::module_::import("numpy").attr("array")(failures, "dtype"_a = "O");
  py::dict extras;
  extras["recommended"] = py::cast(t.recommended);
  extras["rule"] = t.rule;
  extras["caution"] = t.caution;
  extras["at"] = py::make_tuple(t.at[0], t.at[1], t.at[2]);
  return py::dict("columns"_a = d, "extras"_a = extras);
}

// The answers at the indices of q (an array of doubles, any shape): the
// arrays e and u of each answer, of q's shape; the third answer's None
// without `mc`. An index outside the range raises ValueError, or with
// `nan` gets NaN answers.
py::tuple answers(const tarvel::Calibration& cal, const Array& q, bool mc, bool nan) {
  const std::vector<py::ssize_t> shape(q.shape(), q.shape() + q.ndim());
  py::list columns;
  std::vector<double*> to;
  for (int k = 0; k < 6; ++k) {
    if (!mc && k >= 4) {
      columns.append(py::none());
      continue;
    }
    py::array_t<double> a(shape);
    to.push_back(a.mutable_data());
    columns.append(a);
  }
  // The answers a few thousand at a time, into the arrays.
  const std::size_t n = static_cast<std::size_t>(q.size()), chunk = 1 << 16;
  std::vector<tarvel::Answer> out(std::min(n, chunk));
  std::optional<tarvel::Error> failure;
  std::optional<std::string> outside;
  {
    py::gil_scoped_release free;
    try {
      for (std::size_t from = 0; from < n; from += chunk) {
        const std::size_t m = std::min(chunk, n - from);
        cal.efficiencies({q.data() + from, m}, {out.data(), m}, mc,
                         nan ? tarvel::OutOfRange::nan : tarvel::OutOfRange::raise, cal.inputs.threads);
        for (std::size_t i = 0; i < m; ++i) {
          const tarvel::Answer& x = out[i];
          const double values[] = {x.y.e, x.y.u, x.xy.e, x.xy.u, x.mc.e, x.mc.u};
          for (std::size_t k = 0; k < to.size(); ++k) to[k][from + i] = values[k];
        }
      }
    } catch (const tarvel::Error& err) {
      failure = err;
    } catch (const std::out_of_range& e) {
      outside = e.what();
    }
  }
  if (failure) raise(*failure);
  if (outside) raise(PyExc_ValueError, *outside);
  return py::tuple(columns);
}

// The inputs as keyword arguments of calibrate().
py::dict arguments(const tarvel::Inputs& in) {
  return py::dict("q"_a = column(in.points, &tarvel::Point::q), "uq"_a = column(in.points, &tarvel::Point::uq),
                  "e"_a = column(in.points, &tarvel::Point::e), "ue"_a = column(in.points, &tarvel::Point::ue),
                  "urel"_a = in.urel, "order"_a = in.order, "print_fits"_a = in.switches.printFits,
                  "drop_negligible"_a = in.switches.dropNegligible, "probability"_a = in.switches.probability,
                  "curve"_a = in.switches.curve);
}

py::dict readInputs(const py::object& directory) {
  const tarvel::FpEnvironment held;
  const auto dir = py::module_::import("os").attr("fspath")(directory).cast<std::string>();
  try {
    return arguments(tarvel::read(dir));
  } catch (const tarvel::Error& err) {
    raise(err);
  } catch (const std::system_error& unread) {
    // OSError with the errno: Python makes it the subclass that the code
    // names (FileNotFoundError, PermissionError, ...).
    PyErr_SetObject(PyExc_OSError, py::make_tuple(unread.code().value(), text(unread.what())).ptr());
    throw py::error_already_set();
  } catch (const std::runtime_error& unread) {
    raise(PyExc_OSError, unread.what());
  }
}

// The figures of a weighted fit after its order, coefficients and
// covariance, a line each: the fields of WeightedFit after those three, and
// of FinalFit after its own four.
struct FitFigure {
  const char* name;
  const char* doc;
  py::object (*get)(const tarvel::WeightedFit&);
};
const FitFigure kFitFigures[] = {
    {"chi2", "the chi-square of the weighted fit", [](const tarvel::WeightedFit& f) { return py::cast(f.chi2); }},
    {"reduced_chi2", "the chi-square over the degrees of freedom; None without a degree of freedom",
     [](const tarvel::WeightedFit& f) { return py::cast(f.reducedChi2); }},
    {"Q", "the chi-square probability (a single-precision value); None where it cannot be had",
     [](const tarvel::WeightedFit& f) { return py::cast(f.Q); }},
    {"verdict", "the verdict on Q ('Goodness of fit believable', 'Not so good fit!' or 'Bad fit!'); None without Q",
     [](const tarvel::WeightedFit& f) { return py::cast(f.verdict); }},
    {"dof", "the degrees of freedom, points less coefficients", [](const tarvel::WeightedFit& f) { return py::cast(f.dof); }},
    {"aic", "Akaike's information criterion for known uncertainties, chi2 + 2k (k coefficients)",
     [](const tarvel::WeightedFit& f) { return py::cast(f.aic); }},
    {"aicc", "AIC + 2k(k + 1)/(n - k - 1) for n points; None unless n - k - 1 > 0",
     [](const tarvel::WeightedFit& f) { return py::cast(f.aicc); }},
    {"bic", "the Bayesian information criterion, chi2 + k ln n", [](const tarvel::WeightedFit& f) { return py::cast(f.bic); }},
};

// A fit's tuple: the leading fields, then the figures of f.
py::object fitTuple(PyObject* type, std::initializer_list<py::object> leading, const tarvel::WeightedFit& f) {
  py::list fields;
  for (const py::object& x : leading) fields.append(x);
  for (const FitFigure& figure : kFitFigures) fields.append(figure.get(f));
  return py::handle(type)(*fields);
}

py::object weightedFit(const tarvel::WeightedFit& f) {
  return fitTuple(types.weightedFit, {py::cast(f.order), vector(f.coefficients), matrix(f.covariance)}, f);
}

std::string representation(const tarvel::Calibration& cal) {
  const tarvel::FpEnvironment held;
  const tarvel::WeightedFit& last = cal.weightedFits.back();
  const tarvel::FinalFit& w = cal.weightedFit;
  const tarvel::MonteCarloFit& mc = cal.monteCarloFit;
  char line[160];
  std::snprintf(line, sizeof line, "<tarvel.Calibration: order %d, %zu points, indices %.6g to %.6g, reduced chi-square ",
                w.order, cal.inputs.points.size(), cal.qmin, cal.qmax);
  std::string s = line;
  if (last.reducedChi2) {
    std::snprintf(line, sizeof line, "%.6g", *last.reducedChi2);
    s += line;
  } else {
    s += "none";
  }
  s += "\n        uncertainties in y              uncertainties in x and y";
  for (std::size_t j = 0; j < w.coefficients.size(); ++j) {
    std::snprintf(line, sizeof line, "\n  a(%zu)  %-15.8g +/- %-12.6g  %-15.8g +/- %.6g", j + 1, w.coefficients[j],
                  w.standardDeviations[j], mc.coefficients[j], mc.standardDeviations[j]);
    s += line;
  }
  return s + ">";
}

// A new exception class tarvel.<name> of `base`, kept by the module (and by
// the module's types for as long as the interpreter lives).
PyObject* exceptionType(py::module_& m, const char* name, const char* doc, PyObject* base) {
  py::object type = py::reinterpret_steal<py::object>(
      PyErr_NewExceptionWithDoc((std::string("tarvel.") + name).c_str(), doc, base, nullptr));
  m.attr(name) = type;
  return type.release().ptr();
}

}  // namespace

PYBIND11_MODULE(_tarvel, m) {
  m.doc() = R"(The compiled core of the package tarvel: the calibration of the program
tarvel1 over its library. The package checks the arguments and tells the
whole API (help(tarvel)).)";

  auto namedtuple = py::module_::import("collections").attr("namedtuple");
  // A named tuple, its fields documented.
  auto tuple = [&](const char* name, const char* doc, const std::vector<std::pair<const char*, const char*>>& fields) {
    std::string names;
    for (const auto& f : fields) names += std::string(names.empty() ? "" : " ") + f.first;
    py::object type = namedtuple(name, names, "module"_a = "tarvel");
    type.attr("__doc__") = doc;
    for (const auto& f : fields) {
      py::object field = type.attr(f.first);
      try {
        field.attr("__doc__") = f.second;
      } catch (const py::error_already_set&) {
      }
    }
    m.attr(name) = type;
    return type.release().ptr();
  };
  types.estimate = tuple("Estimate", "An efficiency (a fraction) and its standard uncertainty.",
                         {{"e", "the efficiency, a fraction"}, {"u", "its standard uncertainty"}});
  types.answers = tuple(
      "Answers", "The three answers at an index, each an Estimate (e, u).",
      {{"y", "the fit with uncertainties in y, with the uncertainty that its own covariance gives"},
       {"xy", "the fit with uncertainties in x and y, with its combined standard uncertainty (as residuals.sdev)"},
       {"mc", "the mean and standard deviation of the 10000 Monte Carlo trials' curves (as residuals.mc)"}});
  const char* order = "the polynomial order (order + 1 coefficients)";
  const char* coefficients = "the coefficients, constant term first (array)";
  const char* covariance = "the covariance of the coefficients (2-D array)";
  auto fitFields = [](std::vector<std::pair<const char*, const char*>> fields) {
    for (const FitFigure& f : kFitFigures) fields.emplace_back(f.name, f.doc);
    return fields;
  };
  types.weightedFit = tuple("WeightedFit", "One weighted fit of the dropping loop (uncertainties in y).",
                            fitFields({{"order", order}, {"coefficients", coefficients}, {"covariance", covariance}}));
  types.finalFit = tuple("FinalFit", "The final weighted fit, the fit with uncertainties in y.",
                         fitFields({{"order", order},
                                    {"coefficients", coefficients},
                                    {"standard_deviations", "the standard uncertainties of the coefficients (array)"},
                                    {"covariance", covariance}}));
  types.monteCarloFit = tuple(
      "MonteCarloFit", "The fit with uncertainties in x and y: the Monte Carlo trials' mean.",
      {{"order", order},
       {"coefficients", "the mean of the 10000 trials' coefficients, constant term first (array)"},
       {"standard_deviations", "the standard uncertainties of the coefficients, from the combined covariance"},
       {"monte_carlo_covariance", "the trials' sample covariance of the coefficients (2-D array)"},
       {"combined_covariance", "the weighted fit's covariance plus the trials' (2-D array)"}});
  types.residuals = tuple(
      "Residuals", "The residual table, a row a point, each column an array.",
      {{"q", "the quenching index of the point"},
       {"e_exp", "the measured efficiency"},
       {"e_calc", "the fit with uncertainties in x and y at the index"},
       {"sdev", "the combined standard uncertainty of e_calc (weighted fit's and trials' covariance)"},
       {"mc", "the standard deviation of the trials' curves at the index (the Monte Carlo part alone)"}});
  types.curve = tuple("Curve", "The curve table (courbe.dat), each column an array.",
                      {{"q", "the quenching index, from the smallest index to one step past the largest"},
                       {"e", "the fit with uncertainties in x and y"},
                       {"ue", "its combined standard uncertainty"}});

  types.calibrationError = exceptionType(m, "CalibrationError",
      "A run-time error of a calibration (an overflow in a Monte Carlo trial, a singular matrix, a negative\n"
      "variance of the curve, a value of a file that cannot be read). str() is the program's report with LF line\n"
      "ends, after the text of any trouble of a numerical routine on the way (pauses). Attributes: report (the\n"
      "exact text that the program writes to standard error, CR LF line ends and traceback), letter and number\n"
      "of the error ('M', 6104), message ('floating-point error: overflow'), note (a line that places the fault\n"
      "when one can be given, otherwise empty), pauses (list of str).",
      PyExc_RuntimeError);
  types.pointWarning = exceptionType(m, "PointWarning",
      "A doubtful input, in the program's words: an efficiency above 1 (efficiencies are fractions) or not\n"
      "above 0, a negative uncertainty, an efficiency uncertainty not below the efficiency, a common relative\n"
      "uncertainty above 0.1 or below 0, a fit whose Q is above 0.999.",
      PyExc_UserWarning);

  py::class_<tarvel::Calibration>(m, "Calibration", R"(Everything a calibration computed; made by tarvel.calibrate().

Efficiencies are fractions, uncertainties standard uncertainties. Vectors are
numpy arrays, matrices 2-D arrays ([i, j] the element of coefficients i and j,
constant term 0). The fit "with uncertainties in y" is the weighted
least-squares fit; the fit "with uncertainties in x and y" is the mean of the
10000 Monte Carlo trials (the curve of the calibration).)")
      .def_property_readonly("order", [](const tarvel::Calibration& c) { return c.weightedFit.order; },
                             "The order of the final fits (lower than asked after a drop).")
      .def_property_readonly(
          "weighted_fit",
          [](const tarvel::Calibration& c) {
            const tarvel::WeightedFit& f = c.weightedFits.back();
            const tarvel::FinalFit& w = c.weightedFit;
            return fitTuple(types.finalFit, {py::cast(w.order), vector(w.coefficients), vector(w.standardDeviations),
                                             matrix(w.covariance)}, f);
          },
          "The final weighted fit (uncertainties in y): a FinalFit of order, coefficients, standard_deviations,\n"
          "covariance, chi2, reduced_chi2, Q and verdict.")
      .def_property_readonly(
          "weighted_fits",
          [](const tarvel::Calibration& c) {
            py::list fits;
            for (const tarvel::WeightedFit& f : c.weightedFits) fits.append(weightedFit(f));
            return fits;
          },
          "Every weighted fit of the dropping loop, in order: a list of WeightedFit (order, coefficients,\n"
          "covariance, chi2, reduced_chi2, Q, verdict). More than one only with drop_negligible.")
      .def_property_readonly(
          "monte_carlo_fit",
          [](const tarvel::Calibration& c) {
            const tarvel::MonteCarloFit& f = c.monteCarloFit;
            return make(types.monteCarloFit, f.order, vector(f.coefficients), vector(f.standardDeviations),
                        matrix(f.monteCarloCovariance), matrix(f.combinedCovariance));
          },
          "The fit with uncertainties in x and y: a MonteCarloFit of order, coefficients (the trials' mean),\n"
          "standard_deviations (from the combined covariance), monte_carlo_covariance (the trials' sample\n"
          "covariance) and combined_covariance (the weighted fit's plus the trials').")
      .def_property_readonly(
          "residuals",
          [](const tarvel::Calibration& c) {
            using R = tarvel::Residual;
            const auto& r = c.residuals;
            return make(types.residuals, column(r, &R::q), column(r, &R::eExp), column(r, &R::eCalc),
                                                        column(r, &R::sdev), column(r, &R::mc));
          },
          "The residual table, a row a point: Residuals of arrays q, e_exp (measured), e_calc (the fit with\n"
          "uncertainties in x and y), sdev (its combined standard uncertainty), mc (the trials' spread alone).")
      .def_property_readonly(
          "curve",
          [](const tarvel::Calibration& c) {
            using C = tarvel::CurveRow;
            return make(types.curve, column(c.curve, &C::q), column(c.curve, &C::e),
                                                    column(c.curve, &C::ue));
          },
          "The curve table (courbe.dat) with curve=True: Curve of arrays q, e and ue (its combined standard\n"
          "uncertainty), 101 or 102 rows from the smallest index to one step past the largest; empty otherwise.")
      .def_readonly("qmin", &tarvel::Calibration::qmin, "The smallest calibration index: the range starts here.")
      .def_readonly("qmax", &tarvel::Calibration::qmax, "The largest calibration index: the range ends here.")
      .def_property_readonly(
          "inputs", [](const tarvel::Calibration& c) { return arguments(c.inputs); },
          "The inputs of the calibration, as keyword arguments of calibrate() (threads aside).")
      .def("answers", &answers, "q"_a, "mc"_a, "nan"_a,
           "The answers at q (float64 array): (y.e, y.u, xy.e, xy.u, mc.e, mc.u), arrays of q's shape\n"
           "(tarvel.Calibration.efficiency tells them).")
      .def("__copy__", [](const tarvel::Calibration& c) { return c; })
      .def("save", [](const tarvel::Calibration& c) { return py::bytes(tarvel::save(c)); },
           "The calibration as bytes, for load().")
      .def(
          "record",
          [](const tarvel::Calibration& c) {
            const tarvel::FpEnvironment held;  // json's reading of numbers raises the inexact flag
            return py::module_::import("json").attr("loads")(text(tarvel::record(c)));
          },
          R"(The record of the calibration: the dictionary that tarvel1 --json writes for
the same run, without what only the program knows (the file names and the
answered queries). Every number is the program's, bit for bit.)")
      .def("__repr__", &representation);

  m.def("calibrate", &calibrate, "q"_a, "uq"_a, "e"_a, "ue"_a, "urel"_a = 0.0, "order"_a = 2, py::kw_only(),
        "print_fits"_a = false, "drop_negligible"_a = false, "probability"_a = false, "curve"_a = false,
        "threads"_a = py::none(),
        "Calibrates: a Calibration with every figure of a run of tarvel1 (tarvel.calibrate tells the arguments).");

  m.def("compare_orders", &compareOrders, "q"_a, "uq"_a, "e"_a, "ue"_a, "urel"_a = 0.0, "orders"_a = py::none(),
        "threads"_a = py::none(), "Every order side by side (tarvel.compare_orders tells the arguments).");
  m.def("read", &readInputs, "directory"_a = ".",
        "control.dat and its data file in directory, as keyword arguments of calibrate() (tarvel.read tells more).");
  m.attr("TRIALS") = tarvel::kTrials;
  m.attr("MAX_ORDER") = tarvel::kMaxOrder;
  m.attr("__version__") = tarvel::version();
  m.def(
      "svg",
      [](const tarvel::Calibration& c, int width, int height, std::optional<std::string> title) {
        try {
          return tarvel::svg(c, {width, height, title.value_or("")});
        } catch (const std::invalid_argument& bad) {
          raise(PyExc_ValueError, bad.what());
        }
      },
      "calibration"_a, "width"_a = 980, "height"_a = 700, "title"_a = py::none(),
      "The picture of a calibration as SVG text (Calibration.svg tells more).");
  m.def(
      "report_html",
      [](const tarvel::Calibration& c, std::optional<std::string> heading) {
        tarvel::ReportContext context;
        context.run.heading = heading.value_or("");
        return tarvel::reportHtml(c, context);
      },
      "calibration"_a, "heading"_a = py::none(),
      "The calibration report as one HTML page (Calibration.report_html tells more).");
  m.def(
      "load",
      [](const py::bytes& state) {
        try {
          return tarvel::load(std::string_view(state));
        } catch (const std::invalid_argument& bad) {
          raise(PyExc_ValueError, bad.what());
        }
      },
      "state"_a, "The Calibration that Calibration.save() gave as bytes.");
}
