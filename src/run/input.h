// Reading the run's inputs: control.dat and the calibration data file, record
// by record as the main program reads them (its statements numbered for the
// traceback), and the warnings about doubtful points.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "records/sink.h"
#include "tarvel/tarvel.h"

namespace tarvel {

inline constexpr int kNameLength = 255;
inline constexpr int kLabelLength = 15;

// Of each kind of warning, the first few are shown and the rest counted.
inline constexpr int kWarningsShown = 3;

inline std::string warningLine(const std::string& text) { return "tarvel1: warning: " + text; }

// The values `line` alone reads as, counting up to `most` (at most 6); a null
// value is none.
int valuesOnLine(const std::string& line, int most);

// The shortest text that reads back to the same double: 94.6, 0, -0.004.
std::string shortestText(double v);

// "5 more points with a comma between two digits": the count line of a kind.
std::string moreWarnings(int count, const char* noun, const char* nouns, const char* what);

// The blank-separated word of `line` that holds a comma between two digits
// where neither number around it has a decimal point or an exponent
// ("0,4754", not "0.42,0.946"), or an empty text when none does.
std::string decimalComma(const std::string& line);

// What the data file's lines showed beyond the values read: points whose line
// reads as more than four values and holds a comma between two digits, and
// the lines after the last point that read as points do.
struct DataLines {
  struct Comma {
    int point;
    std::string text;  // the word with the comma
    int values;        // the values it reads as
  };
  std::vector<Comma> commas;
  int trailingPoints = 0;
};

// How many distinct indices the points have, counting up to `most`: a fit
// needs as many as it has coefficients. A NaN is one of its own.
int distinctIndices(const std::vector<Point>& points, int most);
// "2 distinct indices are fewer than the 3 coefficients of an order 2 fit"
std::string fewerDistinct(int distinct, int order);

// The ten records of control.dat from `src`, the file `name`. An order outside
// 0 to 8 is a read error. A failed read's Error carries a note that places it
// (the file, the line, what was expected there).
Control readControl(LineSource& src, std::string_view name);

// The point count, the relative uncertainty and the points from `src`, the
// data file `name`, for a fit of control's order. A count below 1, below the
// coefficients of the fit, or equal to them when each fit is reported, is a
// read error; a failed read's Error carries a note, an end of file the points
// declared and found; fewer distinct indices than coefficients, once the
// points are read, too. With `seen`, the rest of the file is read too, and what
// its lines showed is kept there.
Inputs readData(LineSource& src, std::string_view name, const Control& control, DataLines* seen = nullptr);

// One line for each doubtful input, in this order:
//
//   tarvel1: warning: point 3: efficiency 94.6 is above 1 (efficiencies are fractions, not percent)
//
// an efficiency above 1 or not above 0, an efficiency uncertainty that is 0
// or negative, an index uncertainty that is negative (at most 10 lines, then
// one that counts the rest); then lines after the last point of the data
// file `name` that read as points (from `seen`); then, each kind shown
// kWarningsShown times and then counted, a point's line with a decimal comma
// (from `seen`) and an efficiency uncertainty not below the efficiency; then
// a common relative uncertainty above 0.1 or below 0. Nothing when all is
// sound.
std::vector<std::string> inputWarnings(const Inputs& in, const DataLines* seen = nullptr, std::string_view name = {});

}  // namespace tarvel
