// The command line's own options: -h/--help and --version as the first
// argument, and --json FILE anywhere.
#pragma once

namespace tarvel {

// Answers --help and --version (and ends the process), takes --json FILE out
// of argv and asks for the record; returns the count of the arguments left,
// which keep their meaning as names for blank file names.
int takeOptions(int argc, char** argv);

}  // namespace tarvel
