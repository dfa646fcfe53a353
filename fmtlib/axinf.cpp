#include "axinf.h"

#include "convert.h"

namespace tx {
void get_axinf(run_state&) {}
void print_axinf(run_state&, const axis_info*) {}
}  // namespace tx
