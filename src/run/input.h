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

// The ten records of control.dat from `src`, the file `name`. An order outside
// 0 to 8 is a read error.
Control readControl(LineSource& src, std::string_view name);

// The point count, the relative uncertainty and the points from `src`, the
// data file `name`, for a fit of control's order. A count below 1, below the
// coefficients of the fit, or equal to them when each fit is reported, is a
// read error.
Inputs readData(LineSource& src, std::string_view name, const Control& control);

// One line for each doubtful value, naming its point:
//
//   tarvel1: warning: point 3: efficiency 94.6 is above 1 (efficiencies are fractions, not percent)
//
// an efficiency above 1 or not above 0, an efficiency uncertainty that is 0
// or negative, an index uncertainty that is negative. At most 10 lines, then
// one that counts the rest. Nothing when every point is sound.
std::vector<std::string> pointWarnings(const std::vector<Point>& points);

}  // namespace tarvel
