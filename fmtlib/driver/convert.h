// The run driver: one conversion from the program's name to the two files it
// reports, calling the readers, the variable model and the writers in turn.
#pragma once
#include "base/release.h"
#include "base/run_state.h"

namespace tx {

// One complete conversion; stops with run_stopped on any failure.
void convert(run_state& run, int argc, char** argv, bool quiet);
// The program name as worked out from argument 0 (changes it in place).
const char* work_out_program_name(char* arg0);
// The driver row for a program name; the default row when none matches.
driver_row* select_driver(run_state& run, const char* program_name);

}  // namespace tx
