#include "compio.h"

namespace tx {}  // namespace tx
