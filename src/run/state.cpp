// A calibration as bytes and back (save, load): a heading, then every field
// of the Calibration and of its fitted curve in one fixed order, numbers as
// this build holds them in memory. The trials' coefficient sets are kept for
// the fitted coefficients only: the other rows are zeros.
#include <cstring>
#include <stdexcept>
#include <type_traits>

#include "run/run.h"

namespace tarvel {

namespace {

constexpr std::string_view kHeading = "tarvel calibration 1\n";
constexpr double kMarker = 1.5;  // another byte order or double reads otherwise

[[noreturn]] void malformed() { throw std::invalid_argument("not the bytes of a saved calibration"); }

// Writes each field handed to it.
struct Writer {
  std::string bytes;
  void raw(const void* p, std::size_t n) { bytes.append(static_cast<const char*>(p), n); }
  template <class T>
    requires std::is_trivially_copyable_v<T>
  void operator()(T& v) { raw(&v, sizeof v); }
  void operator()(std::string& s) { count(s), raw(s.data(), s.size()); }
  void operator()(std::vector<double>& v) { count(v), raw(v.data(), v.size() * sizeof(double)); }
  void operator()(Matrix& m) { (*this)(m.n), (*this)(m.values); }
  template <class T>
  void operator()(std::optional<T>& v) {
    bool has = v.has_value();
    (*this)(has);
    if (has) (*this)(*v);
  }
  template <class V>
  void count(V& v) {
    std::size_t n = v.size();
    (*this)(n);
  }
};

// Reads each field handed to it, in the Writer's order.
struct Reader {
  std::string_view bytes;
  void raw(void* p, std::size_t n) {
    if (n > bytes.size()) malformed();
    std::memcpy(p, bytes.data(), n);
    bytes.remove_prefix(n);
  }
  template <class T>
    requires std::is_trivially_copyable_v<T>
  void operator()(T& v) { raw(&v, sizeof v); }
  void operator()(std::string& s) { count(s), raw(s.data(), s.size()); }
  void operator()(std::vector<double>& v) { count(v), raw(v.data(), v.size() * sizeof(double)); }
  void operator()(Matrix& m) {
    (*this)(m.n), (*this)(m.values);
    if (m.n < 0 || m.n > kSlots || m.values.size() != static_cast<std::size_t>(m.n * m.n)) malformed();
  }
  template <class T>
  void operator()(std::optional<T>& v) {
    bool has;
    (*this)(has);
    v.reset();
    if (has) (*this)(v.emplace());
  }
  template <class V>
  void count(V& v) {
    std::size_t n;
    (*this)(n);
    if (n > bytes.size()) malformed();  // every element takes a byte at least
    v.resize(n);
  }
};

// Every field, in one order for both directions.
template <class IO>
void fields(IO& io, Calibration& c, FittedCurve& f) {
  auto all = [&io](auto&... v) { (io(v), ...); };
  Inputs& in = c.inputs;
  io.count(in.points);
  for (Point& p : in.points) all(p.q, p.uq, p.e, p.ue);
  all(in.urel, in.order, in.switches.printFits, in.switches.dropNegligible, in.switches.probability,
      in.switches.curve, in.threads);
  io.count(c.weightedFits);
  for (WeightedFit& w : c.weightedFits)
    all(w.order, w.coefficients, w.covariance, w.chi2, w.reducedChi2, w.Q, w.verdict, w.dof, w.aic, w.aicc, w.bic);
  FinalFit& y = c.weightedFit;
  all(y.order, y.coefficients, y.standardDeviations, y.covariance);
  MonteCarloFit& m = c.monteCarloFit;
  all(m.order, m.coefficients, m.standardDeviations, m.monteCarloCovariance, m.combinedCovariance);
  io.count(c.residuals);
  for (Residual& r : c.residuals) all(r.q, r.eExp, r.eCalc, r.sdev, r.mc);
  io.count(c.curve);
  for (CurveRow& r : c.curve) all(r.q, r.e, r.ue);
  all(c.qmin, c.qmax, f.ncoef, f.qmin, f.qmax);
  if (f.ncoef < 1 || f.ncoef > kSlots) malformed();
  io.raw(f.asave.data(), kSlots * sizeof(double));
  io.raw(f.cov.data(), kSlots * kSlots * sizeof(double));
  io.raw(f.amc.data(), kSlots * sizeof(double));
  io.raw(f.covmc.data(), kSlots * kSlots * sizeof(double));
  for (int k = 1; k <= kTrials; ++k) io.raw(f.aset.column(k), static_cast<std::size_t>(f.ncoef) * sizeof(double));
}

}  // namespace

std::string save(const Calibration& calibration) {
  if (!calibration.fitted) throw std::logic_error("a Calibration that calibrate() did not make saves nothing");
  Writer w;
  w.bytes = kHeading;
  double marker = kMarker;
  w(marker);
  // Nothing is written to: the fields are only read.
  fields(w, const_cast<Calibration&>(calibration), const_cast<FittedCurve&>(*calibration.fitted));
  return std::move(w.bytes);
}

Calibration load(std::string_view bytes) {
  if (!bytes.starts_with(kHeading)) malformed();
  Reader r{bytes.substr(kHeading.size())};
  double marker;
  r(marker);
  if (std::memcmp(&marker, &kMarker, sizeof marker) != 0) malformed();
  Calibration c;
  auto f = std::make_shared<FittedCurve>();
  fields(r, c, *f);
  if (!r.bytes.empty()) malformed();
  c.fitted = std::move(f);
  return c;
}

}  // namespace tarvel
