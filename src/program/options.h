// The command line's own options: -h/--help, --version, --json FILE, and --
// that ends them.
#pragma once

#include <string>

namespace tarvel {

// Answers --help and --version (and ends the process), takes --json FILE out
// of argv into `record` (left empty without it); returns the count of the
// arguments left, which keep their meaning as names for blank file names. A
// wrong --json, or an argument before -- that starts with '-' and is no
// option, ends the process with status 2 before anything is read or written.
// With `orders`, --orders sets it (and cannot go with --json).
int takeOptions(int argc, char** argv, std::string& record, bool* orders = nullptr);

}  // namespace tarvel
