#include "axttjust.h"

namespace tx {}  // namespace tx
