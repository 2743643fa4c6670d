// The sanitizer run-time options of every test program (a no-op in the
// ordinary build).
#include "program/sanitize.h"
