#include "jobbuild.h"

namespace tx::job {}  // namespace tx::job
