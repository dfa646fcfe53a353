#include "version.h"

namespace tx {}  // namespace tx
