// tarvel1 --orders: the table of every order fitted to the points, as the
// program prints it.
#pragma once

#include <string>
#include <vector>

#include "tarvel/tarvel.h"

namespace tarvel {

// The lines of the table, the recommendation, the rule and what the columns
// mean, for the points of `in` read from `dataFile`; no line end, no carriage
// control.
std::vector<std::string> ordersReport(const OrderTable& table, const Inputs& in, const std::string& dataFile);

}  // namespace tarvel
