#include "write/fastfmt.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace tx {

namespace {

// Copies text into out, padded with blanks to |width| as printf pads: on the
// left for a positive width, on the right for a negative one.
char* pad(char* out, const char* text, std::size_t n, int width) {
  const bool left = width < 0;
  const std::size_t w =
      left ? 0u - static_cast<std::size_t>(width) : static_cast<std::size_t>(width);
  const std::size_t fill = w > n ? w - n : 0;
  if (!left) {
    std::memset(out, ' ', fill);
    out += fill;
  }
  std::memcpy(out, text, n);
  out += n;
  if (left) {
    std::memset(out, ' ', fill);
    out += fill;
  }
  return out;
}

}  // namespace

char* fast_int_any(char* out, std::int32_t value, int width) {
  char digits[16];
  const auto r = std::to_chars(digits, digits + sizeof digits, value);
  return pad(out, digits, static_cast<std::size_t>(r.ptr - digits), width);
}

char* fast_fixed(char* out, double value, int width, int decimals) {
  if (!std::isfinite(value)) {
    // printf's own texts for infinities and NaNs ("inf", "-nan", ...).
    const int n = std::snprintf(out, fast_room, "%*.*f", width, decimals, value);
    return out + n;
  }
  char digits[fast_room];
  const auto r =
      std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, decimals);
  return pad(out, digits, static_cast<std::size_t>(r.ptr - digits), width);
}

char* fast_text(char* out, std::string_view text, int width) {
  return pad(out, text.data(), text.size(), width);
}

}  // namespace tx
