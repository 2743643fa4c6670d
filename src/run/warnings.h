// Warnings about calibration points that the run will take as they are.
#pragma once

#include "run/run.h"

namespace tarvel {

// After the points are read, one line on standard error for each doubtful
// value, naming its point:
//
//   tarvel1: warning: point 3: efficiency 94.6 is above 1 (efficiencies are fractions, not percent)
//
// an efficiency above 1 or not above 0, an efficiency uncertainty that is 0
// or negative, an index uncertainty that is negative. At most 10 lines, then
// one that counts the rest. Nothing when every point is sound.
void warnAboutPoints(const RunState& s);

}  // namespace tarvel
