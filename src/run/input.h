// Reading the run's inputs: control.dat and the calibration data file, record
// by record as the main program reads them (its statements numbered for the
// traceback), and the warnings about doubtful points. The readers and the
// warnings are declared in tarvel/records.h; here, the lengths of the text
// variables they read into.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tarvel/records.h"

namespace tarvel {

inline constexpr int kNameLength = 255;
inline constexpr int kLabelLength = 15;

// How many distinct indices the points have, counting up to `most`: a fit
// needs as many as it has coefficients. A NaN is one of its own.
int distinctIndices(const std::vector<Point>& points, int most);
// "2 distinct indices are fewer than the 3 coefficients of an order 2 fit"
std::string fewerDistinct(int distinct, int order);

}  // namespace tarvel
