// tarvel: the calibration curve of a counter's detection efficiency against a
// quenching index, with honest uncertainties, as a library.
//
// A calibration fits a polynomial in the quenching index to the measured
// efficiencies by weighted least squares (the fit "with uncertainties in y"),
// then refits it in 10000 seeded Monte Carlo trials that perturb both
// coordinates of every point; the mean of the trials is the fit "with
// uncertainties in x and y", and its covariance is the weighted fit's plus the
// trials' sample covariance. Every figure is the one the program tarvel1
// computes for the same input, bit for bit.
//
//   tarvel::Inputs in = tarvel::read("examples");      // control.dat and its data file
//   tarvel::Calibration cal = tarvel::calibrate(in);
//   tarvel::Answer a = cal.efficiency(50.0);           // three answers at index 50
//   std::printf("%.4f +/- %.4f\n", a.xy.e, a.xy.u);
//
// Nothing here keeps state between calls: a calibration's figures live in its
// Calibration, its threads in a Workspace that the caller may keep for several
// runs. Two calibrations in one process, one after the other or on two
// threads at once, each give the figures of a run of the program of its own.
// A run-time error of a calibration comes back as a tarvel::Error carrying the
// report that the program writes; nothing ends or pauses the caller's process,
// and the caller's floating-point environment is as it was after every call.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tarvel {

inline constexpr int kTrials = 10000;  // Monte Carlo trials of every calibration
inline constexpr int kMaxOrder = 8;    // the highest polynomial order
inline constexpr int kMaxThreads = 256;  // the most threads of a Workspace

// The library's version ("1.0.0"), which the record of a calibration names.
const char* version();

// One calibration point: the quenching index and the detection efficiency (a
// fraction, 0.946 and not 94.6), each with its standard uncertainty.
struct Point {
  double q = 0.0, uq = 0.0, e = 0.0, ue = 0.0;
};

// The switches that change what is computed. (The program's opt(6), answering
// queries at the console, is the program's own: a caller asks
// Calibration::efficiency.)
struct Switches {
  bool printFits = false;       // report each weighted fit: reduced chi-square and Q (opt(1))
  bool dropNegligible = false;  // drop a highest coefficient below 0.001 and refit (opt(3))
  bool probability = false;     // with printFits: the verdict on Q (opt(4))
  bool curve = false;           // tabulate the curve from the smallest index (opt(5))
};

struct Inputs {
  std::vector<Point> points;
  double urel = 0.0;  // common relative standard uncertainty of every efficiency
  int order = 2;      // polynomial order, 0 to 8
  Switches switches;
  int threads = 0;  // threads of the Monte Carlo refits; 0: one a core
};

// What control.dat says, as written: its heading (the first line, blanks
// around it removed), the names (blanks removed), the order and the six
// switches opt(1) to opt(6) (a switch is on when it is exactly 1).
struct Control {
  std::string heading, dataFile, resultsFile;
  int order = 0;
  std::array<int, 6> opt{};
  Switches switches() const;
};

// Reads control.dat and the data file it names, in `directory`, into the
// inputs of calibrate(). A file that cannot be read throws std::system_error
// naming it, with the system's error code; a value that cannot be read or used throws
// tarvel::Error with the program's report. `control`, when given, receives
// what control.dat says as soon as it is read, so also when the data file
// then fails.
Inputs read(const std::string& directory, Control* control = nullptr);

// A column-major n x n matrix, element (i, j) counted from 1. A computed
// covariance may differ from symmetric by a rounding.
struct Matrix {
  int n = 0;
  std::vector<double> values;
  double operator()(int i, int j) const { return values[static_cast<std::size_t>((i - 1) + (j - 1) * n)]; }
};

// One weighted fit of the dropping loop (order `order`, k = order + 1
// coefficients, n points). Its quality is there whatever the switches, which
// decide only what the program prints and what record() holds.
struct WeightedFit {
  int order = 0;
  std::vector<double> coefficients;  // constant term first
  Matrix covariance;
  double chi2 = 0.0;
  std::optional<double> reducedChi2;  // chi2 / dof; none without a degree of freedom
  // The chi-square probability of dof degrees of freedom, as the program
  // computes it (single precision): none where it cannot be had (no degree of
  // freedom; trouble inside the incomplete gamma function when the program
  // would not print it).
  std::optional<float> Q;
  std::optional<std::string> verdict;  // on Q: "Goodness of fit believable", "Not so good fit!", "Bad fit!"
  int dof = 0;  // n - k
  // Information criteria for known uncertainties: AIC = chi2 + 2k;
  // AICc = AIC + 2k(k + 1) / (n - k - 1), none unless n - k - 1 > 0;
  // BIC = chi2 + k ln n.
  double aic = 0.0, bic = 0.0;
  std::optional<double> aicc;
};

// The final weighted fit, and the fit with uncertainties in x and y.
struct FinalFit {
  int order = 0;
  std::vector<double> coefficients, standardDeviations;
  Matrix covariance;  // of the weighted fit
};
struct MonteCarloFit {
  int order = 0;
  std::vector<double> coefficients;        // the mean of the 10000 trials' coefficients
  std::vector<double> standardDeviations;  // from the combined covariance
  Matrix monteCarloCovariance;             // the trials' sample covariance
  Matrix combinedCovariance;               // the weighted fit's plus the trials'
};

// A row of the residual table: the measured efficiency, the fit with
// uncertainties in x and y at the point's index, its combined standard
// uncertainty, and the standard deviation of the trials' curves there.
struct Residual {
  double q = 0.0, eExp = 0.0, eCalc = 0.0, sdev = 0.0, mc = 0.0;
};
// A row of the curve table (courbe.dat).
struct CurveRow {
  double q = 0.0, e = 0.0, ue = 0.0;
};

// An efficiency and its standard uncertainty.
struct Estimate {
  double e = 0.0, u = 0.0;
};
// The three answers at an index: the weighted fit with its own covariance;
// the fit with uncertainties in x and y with the combined uncertainty; the
// mean and standard deviation of the trials' curves.
struct Answer {
  double q = 0.0;
  Estimate y, xy, mc;
};

// A run-time error of a calibration: report() holds exactly what the program
// writes to standard error (CR LF line ends, the traceback included), what()
// its text from the first line on, with LF line ends; letter() and number() are the error's
// ('M', 6104), message() its message ("floating-point error: overflow").
class Error : public std::runtime_error {
 public:
  Error(char letter, int number, std::string message, std::string report);
  char letter() const { return letter_; }
  int number() const { return number_; }
  const std::string& message() const { return message_; }
  const std::string& report() const { return report_; }
  // A line that places the fault for a person, when one can be given
  // ("control.dat line 3: the polynomial order, ..."); empty otherwise. The
  // program writes it after the report.
  const std::string& note() const { return note_; }
  void setNote(std::string note) { note_ = std::move(note); }

 private:
  char letter_;
  int number_;
  std::string message_, report_, note_;
};

// What a calibration throws when its observer asks it to stop.
class Cancelled : public std::exception {
 public:
  const char* what() const noexcept override { return "calibration cancelled"; }
};

// The units of the report's records.
inline constexpr int kConsoleUnit = -1, kResultsUnit = 3, kCurveUnit = 4;

// Watches a calibration as it goes. Every call comes from the thread that
// called calibrate() or Calibration::answer(), in the order of the program's
// report; an exception thrown here ends the calibration and reaches the caller.
class Observer {
 public:
  virtual ~Observer() = default;
  // One record (line) of the report, without a line end, for the console,
  // the results file or the curve table. On the console the first character
  // is carriage control; elsewhere it is written as it is.
  virtual void record(int unit, std::string_view text);
  // The curve table begins and ends.
  virtual void openCurve();
  virtual void closeCurve();
  // A numerical routine met trouble ("singular matrix in gaussj"); the run
  // goes on when this returns.
  virtual void pause(std::string_view text);
  // A doubt about the inputs that does not stop the calibration ("order 2
  // fit: Q is above 0.999: ..."); the program writes it to standard error.
  virtual void warning(std::string_view text);
  // Asked every few milliseconds of a long calibration: true stops it, and
  // calibrate() throws Cancelled.
  virtual bool cancelled();
};

// Threads that calibrations share, one at a time: made once, kept for as many
// calibrations as the caller likes. A calibration started on a workspace that
// another calibration still works on (from another thread, or from an
// observer's call) throws std::logic_error before it touches the workspace,
// which stays with the calibration under way; give each thread a workspace
// of its own.
class Workspace {
 public:
  explicit Workspace(int threads = 0);  // 0: one a core
  ~Workspace();
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;
  int threads() const;
  struct Impl;
  Impl& impl() { return *impl_; }

 private:
  std::unique_ptr<Impl> impl_;
};

struct FittedCurve;  // what the answers need
struct Run;          // a calibration under way

// What Calibration::efficiencies does with an index outside [qmin, qmax] or
// NaN: throw std::out_of_range as efficiency() does, or answer NaN there.
enum class OutOfRange { raise, nan };

// Everything a calibration computed. Its figures are the caller's to read
// (and to change in a copy): the answers come from a copy of the fitted curve
// of their own, which nothing here reaches.
class Calibration {
 public:
  Inputs inputs;
  std::vector<WeightedFit> weightedFits;  // every fit of the dropping loop, in order
  FinalFit weightedFit;
  MonteCarloFit monteCarloFit;
  std::vector<Residual> residuals;
  std::vector<CurveRow> curve;  // with Switches::curve
  double qmin = 0.0, qmax = 0.0;  // the calibrated range of indices

  // The three answers at index q; outside the calibrated range throws
  // std::out_of_range ("Interpolation only !"). A Calibration that
  // calibrate() did not make throws std::logic_error.
  Answer efficiency(double q) const;
  // The answer as the program gives it, its records handed to `observer`:
  // none outside the range, where the console gets " Interpolation only !".
  std::optional<Answer> answer(double q, Observer* observer) const;
  // The answers at many indices, out[i] at q[i] (of one size), each bit for
  // bit efficiency(q[i]) but with no record formatted, on `threads` threads
  // (0: one a core). Without `monteCarlo` the third answer (10000 trial
  // curves an index) is left out: NaN. With OutOfRange::raise an index
  // outside the range throws before any work; with OutOfRange::nan its
  // answers are NaN. A run-time error throws tarvel::Error, the one that
  // efficiency() throws at the first index that has one.
  void efficiencies(std::span<const double> q, std::span<Answer> out, bool monteCarlo = true,
                    OutOfRange outside = OutOfRange::raise, int threads = 0) const;

 private:
  friend void finish(Run& run);
  friend const FittedCurve* fittedCurve(const Calibration& calibration);
  friend std::string save(const Calibration& calibration);
  friend Calibration load(std::string_view bytes);
  std::shared_ptr<const FittedCurve> fitted;
};

// Calibrates. An order outside 0 to 8, fewer points than coefficients, or as
// many with printFits (no degree of freedom for the reduced chi-square), or
// fewer distinct indices than coefficients (no curve through them) throws
// std::invalid_argument before any work; a run-time error throws
// tarvel::Error (a zero efficiency uncertainty, for one, divides by zero).
// (The inputs are kept in the Calibration: a caller done with them may move
// them in.)
Calibration calibrate(Inputs inputs, Observer* observer = nullptr, Workspace* workspace = nullptr);

// The chi-square probability Q(nu/2, chi2/2) of a fit with `nu` degrees of
// freedom and chi-square `chi2`, in double precision (a calibration reports
// it rounded to single precision); none where it cannot be computed, where a
// calibration would pause or end with an error (nu not above 0, chi2
// negative).
std::optional<double> chiSquareProbability(double chi2, double nu);

// Every polynomial order fitted to the same points, side by side, and the
// order that the rule below recommends. Each order is a calibration of its
// own (no dropping, no curve table), on one Workspace: its figures are those
// of calibrate() at that order, bit for bit.
struct OrderRow {
  int order = 0;
  // Why the order could not be fitted (too few points, a run-time error of its
  // calibration); empty when it was, and only then do the figures below count.
  std::string failure;
  WeightedFit fit;  // chi2, dof, reduced chi2, Q, AIC, AICc, BIC, coefficients
  // The chi-square of the fit with uncertainties in x and y counted with both
  // uncertainties of every point: the sum of ((e - ecalc) / u)^2, ecalc the
  // curve at the point's index (the residual table's e-calc) and
  // u = sqrt(ue^2 + (de/dq uq)^2), de/dq the slope of that curve there; and
  // its probability for dof degrees of freedom (none where it cannot be had).
  double chi2xy = 0.0;
  std::optional<double> Qxy;
  // The largest |e - ecalc| / u over the points (the same u), and its point,
  // counted from 1.
  double largestResidual = 0.0;
  int largestResidualPoint = 0;
  // The combined standard uncertainty of the fit with uncertainties in x and
  // y at OrderTable::at (the smallest index, the middle of the range, the
  // largest index).
  std::array<double, 3> curveUncertainty{};
};
struct OrderTable {
  std::vector<OrderRow> rows;
  std::array<double, 3> at{};  // qmin, (qmin + qmax) / 2, qmax
  // The recommended order (none when no order could be fitted), the rule that
  // chose it in words, and a caution about the choice (empty when none).
  std::optional<int> recommended;
  std::string rule, caution;
};
// The rule, in words (OrderTable::rule).
extern const char* const kOrderRule;
// Fits `orders` (none given: every order from 0 to min(8, points - 2)) to the
// points of `inputs`, whose order and switches are not used. An order that
// cannot be fitted has its row with the reason; nothing ends the table early,
// and nothing pauses: a numerical routine's pause text goes into the reason.
// No point, an order outside 0 to 8 or a negative thread count throws
// std::invalid_argument.
OrderTable compareOrders(const Inputs& inputs, std::vector<int> orders = {}, Workspace* workspace = nullptr);

// Throws std::invalid_argument, naming the point, for inputs that calibrate()
// takes but that can only end in an error or a meaningless curve: a value that
// is not finite, an efficiency uncertainty of zero; and for what calibrate()
// refuses itself.
void checkInputs(const Inputs& inputs);

// The record of a calibration as JSON, every number in its shortest form that
// reads back to the same double; a matrix is the list of its rows. `program`
// adds what only the program knows: control.dat's heading, the file names,
// the switches as read and the answered queries.
struct RecordContext {
  std::string heading, dataFile, resultsFile;
  std::array<int, 6> opt{};
  bool queries = false;  // opt(6): the record lists `answers`
  std::vector<Answer> answers;
};
std::string record(const Calibration& calibration, const RecordContext* program = nullptr);

// A number as the program's records print it. fixedField is a fixed-point
// field of `width` columns with `decimals` decimals (the results file's
// coefficients, residual table and answers): no zero before the point,
// asterisks when the value does not fit. listedReal is the text of a real on
// a list-directed line (the reduced chi-square; Q in single precision),
// without the blanks that pad its field.
//   fixedField(0.12345, 6, 4) -> " .1235"     fixedField(-0.00187236, 12, 8) -> "  -.00187236"
//   fixedField(1.0, 5, 4)     -> "*****"      listedReal(0.5) -> "5.000000000000000E-001"
//   listedReal(1.5)           -> "1.500000000000000"   listedReal(0.767462f) -> "7.674620E-01"
std::string fixedField(double value, int width, int decimals);
std::string listedReal(double value);
std::string listedReal(float value);

// The picture of a calibration, as an SVG document: the points with their
// uncertainty bars in both coordinates, the curve of the fit with
// uncertainties in x and y over the points' indices with bands of one and two
// combined standard uncertainties, and under it the residuals e-exp - e-calc
// in percentage points with the band of one combined standard uncertainty;
// above them `title` (none when empty) and a caption with the order, the
// number of points and the last weighted fit's reduced chi-square and Q (when
// it has them). Drawn from the calibration's figures at full precision. The
// text keeps its size on a page whatever the pixels: the layout is in units
// of 1/980 of the width (1/460 of the height for a flatter picture). A size
// outside 1 to 100000 pixels throws std::invalid_argument.
struct SvgOptions {
  int width = 980, height = 700;  // pixels
  std::string title;              // UTF-8 (text that is not is read as Latin-1)
};
std::string svg(const Calibration& calibration, const SvgOptions& options = {});

// A calibration report as one self-contained HTML page (inline style and
// picture, no script, nothing fetched), laid out for A4 when printed: what was
// calibrated from which files, the settings, the points, every weighted fit
// with its reduced chi-square, Q and verdict, the coefficients of both fits
// with their standard deviations, the combined covariance and its
// correlations, the fits of other orders, the residual table, the picture, the
// answered queries with expanded uncertainties (k = 2) and a statement of the
// method. Every number is shown at the digits that the program's results file
// and console show. Every text from `context` is escaped.
struct ReportContext {
  RecordContext run;         // heading, file names, switches as read, answered queries
  std::string controlFile = "control.dat";
  std::string controlSha256, dataSha256;  // hexadecimal digests of the two inputs; empty: not known
  std::string date;          // the date and time of the run, as shown; empty: not known
};
std::string reportHtml(const Calibration& calibration, const ReportContext& context = {});

// A calibration as bytes and back, every figure and the trials' coefficient
// sets included: load(save(c)) answers with the bits of c, without a new
// calibration. The bytes are this build's (native doubles); load() throws
// std::invalid_argument for bytes that save() did not make.
std::string save(const Calibration& calibration);
Calibration load(std::string_view bytes);

}  // namespace tarvel
