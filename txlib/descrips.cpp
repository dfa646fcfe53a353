#include "descrips.h"

namespace tx {}  // namespace tx
