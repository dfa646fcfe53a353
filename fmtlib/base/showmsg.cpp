#include "base/showmsg.h"

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

std::string format_text(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(text.data(), text.size() + 1, format, args);
  va_end(args);
  return text;
}

}  // namespace tx
