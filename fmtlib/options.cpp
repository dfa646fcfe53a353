#include "options.h"

#include "convert.h"

namespace tx {
void get_options(run_state&, int, char**) {}
const char* argcrack(run_state&, int, char**, const char*) { return nullptr; }
}  // namespace tx
