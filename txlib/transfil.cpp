#include "transfil.h"

namespace tx {
int PtFileName(char* buffer, int /*unused*/) {
  if (buffer != nullptr) buffer[0] = '\0';
  return 0;
}
}  // namespace tx
