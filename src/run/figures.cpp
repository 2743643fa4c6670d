// The program's printed forms of a number and its version, for callers that
// lay out figures as the program does (the picture's caption, the report).
#include <stdexcept>

#include "records/format.h"
#include "records/listout.h"
#include "records/runtime.h"
#include "run/version.h"
#include "tarvel/tarvel.h"

namespace tarvel {

namespace {

std::string unpadded(const std::string& field) {
  const auto at = field.find_first_not_of(' ');
  return at == std::string::npos ? field : field.substr(at);
}

}  // namespace


std::string fixedField(double value, int width, int decimals) {
  if (width < 1 || decimals < 0 || decimals >= width) throw std::invalid_argument("a field of width 1 or more, with fewer decimals");
  const FpEnvironment held;
  return editF(value, width, decimals);
}

std::string listedReal(double value) {
  const FpEnvironment held;
  return unpadded(freeReal64(value));
}

std::string listedReal(float value) {
  const FpEnvironment held;
  return unpadded(freeReal32(value));
}

}  // namespace tarvel
