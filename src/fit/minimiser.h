// The constants of the Levenberg-Marquardt minimiser (mrqmin), of AJUST's loop
// around it, and of the lanes (ajustLanes), which take the very same steps.
#pragma once

namespace tarvel {

// lambda set by mrqmin's starting call.
inline constexpr double kLambdaStart = 0.001;
// lambda's factor after a step that lowers chi-square (accepted).
inline constexpr double kLambdaAccepted = 0.1;
// lambda's factor after a step that does not (rejected).
inline constexpr double kLambdaRejected = 10.0;
// AJUST's loop ends when chi-square moves by less than this (absolute) in one step.
inline constexpr double kAjustSettled = 1e-9;
// The steps AJUST takes after its loop, without a test.
inline constexpr int kAjustFurtherSteps = 5;
// The most passes of AJUST's loop.
inline constexpr int kAjustMaxPasses = 10000;

}  // namespace tarvel
