// The command line's own options: -h/--help and --version as the first
// argument, and --json FILE anywhere.
#pragma once

#include <string>

namespace tarvel {

// Answers --help and --version (and ends the process), takes --json FILE out
// of argv into `record` (left empty without it); returns the count of the
// arguments left, which keep their meaning as names for blank file names. A
// wrong --json ends the process with status 2.
int takeOptions(int argc, char** argv, std::string& record);

}  // namespace tarvel
