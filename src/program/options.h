// The command line's own options: -h/--help, --version, --json FILE,
// --report FILE, and -- that ends them.
#pragma once

#include <string>

namespace tarvel {

// Answers --help and --version (and ends the process), takes --json FILE out
// of argv into `record` and --report FILE into `report` (each left empty
// without its option); returns the count of the arguments left, which keep
// their meaning as names for blank file names. A wrong --json or --report, or
// an argument before -- that starts with '-' and is no option, ends the
// process with status 2 before anything is read or written. With `orders`,
// --orders sets it (and cannot go with --json or --report).
int takeOptions(int argc, char** argv, std::string& record, std::string& report, bool* orders = nullptr);

}  // namespace tarvel
