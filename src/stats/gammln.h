// Natural logarithm of the gamma function for x > 0, by the six-term Lanczos
// approximation (about ten significant digits).
//
//   gammln(1.0) ~ 0      gammln(0.5) ~ 0.5723649429 (ln sqrt(pi))
#pragma once

namespace tarvel {

double gammln(const double& x);

}  // namespace tarvel
