// tarvel1: calibration curve of detection efficiency against a quenching
// index, with honest uncertainties. Run it in the directory that holds
// control.dat; see README.md.
#include "records/sanitize.h"
#include "run/run.h"

int main(int argc, char** argv) { tarvel::runCalibration(argc, argv); }
