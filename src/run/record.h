// The run's record (tarvel1 --json FILE): the settings, the points and every
// figure that the run computes, at full precision, as JSON. It is written at
// the normal end only, to a temporary file in the same directory that is then
// renamed; a run that ends in an error leaves no record.
//
// The calls below do nothing when no record was asked for.
#pragma once

#include <string>

#include "run/run.h"

namespace tarvel {

// Asks for the record in `file`. A record that an earlier run left there is
// removed at once.
void requestRecord(const std::string& file);

// After the points are read (unit 2 still on the data file, the results file
// open): refuses a record file that is another file of the run, removes
// whatever the file still holds, and notes the settings and the points.
void recordStart(const RunState& s);

// One weighted fit of the dropping loop, right after its report.
void recordWeightedFit(const RunState& s);

// One row of the residual table, and one row of courbe.dat.
void recordResidual(double q, double eExp, double eCalc, double sdev, double mc);
void recordCurveRow(double q, double e, double ue);

// One answer to a query: answer 1 (fit with uncertainties in y) opens the
// query, 2 (uncertainties in x and y) and 3 (full Monte Carlo) complete it.
void recordAnswer(int answer, double q, double e, double u);

// At the normal end: closes the results file, adds the final fits and writes
// the record.
void recordFinish(const RunState& s);

}  // namespace tarvel
