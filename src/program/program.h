// The program tarvel1: the whole run as the process runs it, from the command
// line to the exit status (0 normal end, 1 run-time error, 2 a file that
// cannot be opened or would be overwritten).
#pragma once

namespace tarvel {

int programMain(int argc, char** argv);

}  // namespace tarvel
