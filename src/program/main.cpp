// tarvel1: calibration curve of detection efficiency against a quenching
// index, with honest uncertainties. Run it in the directory that holds
// control.dat; see README.md.
#include "program.h"
#include "sanitize.h"

int main(int argc, char** argv) { return tarvel::programMain(argc, argv); }
