#include "showmsg.h"

#include <cstdarg>

namespace tx {

void showmsg(std::FILE* stream, const char* format, ...) {
  char text[showmsg_buffer];
  va_list args;
  va_start(args, format);
  // vsnprintf cuts a longer message at 8,191 characters.
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  std::fputs(text, stream != nullptr ? stream : stderr);
}

}  // namespace tx
