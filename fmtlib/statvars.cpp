#include "statvars.h"

#include "convert.h"

namespace tx {
void statstospss(run_state&) {}
void print_statvars(run_state&) {}
}  // namespace tx
