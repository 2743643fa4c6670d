// The command line's own options: -h/--help and --version as the first
// argument.
#pragma once

namespace tarvel {

// Answers --help and --version (and ends the process); returns the count of
// the arguments left, which keep their meaning as names for blank file names.
int takeOptions(int argc, char** argv);

}  // namespace tarvel
