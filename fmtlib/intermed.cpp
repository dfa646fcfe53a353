#include "intermed.h"

#include "convert.h"

namespace tx {
int read_intermed(run_state&) { return 0; }
}  // namespace tx
