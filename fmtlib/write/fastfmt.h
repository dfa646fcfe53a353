// Number and text fields formatted exactly as printf formats them ("%*d",
// "%*.*f", "%*s"), but with std::to_chars straight into the caller's buffer:
// the data files hold one field per value of every case, and one printf call
// per field costs more than reading and writing the bytes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

namespace tx {

// Widths and decimals up to this take the fast path; larger ones (a user's
// -p or a text wider than any data field) go through snprintf.
inline constexpr int fast_limit = 100;
// Room that every fast_* call may use at `out`, whatever its arguments.
inline constexpr std::size_t fast_room = 512;

// "%*d" of value in width (a negative width pads on the right, as printf's).
// Writes at most fast_room bytes when |width| <= fast_limit.
char* fast_int_any(char* out, std::int32_t value, int width);
inline char* fast_int(char* out, std::int32_t value, int width) {
  // Most fields of a case are one-digit codes in narrow columns.
  if (value >= 0 && value <= 9 && width >= 0 && width <= 8) {
    for (int i = 1; i < width; ++i) *out++ = ' ';
    *out++ = static_cast<char>('0' + value);
    return out;
  }
  return fast_int_any(out, value, width);
}

// "%*.*f" of value; finite values with |width| and decimals up to fast_limit
// are formatted by to_chars, the rest by snprintf (which then needs
// fast_room bytes, or more for a larger width or decimals; see fast_fits).
char* fast_fixed(char* out, double value, int width, int decimals);

// The shape of the "%f" text of a value: its characters before the point
// (all of them when it has none: an infinity or a NaN), its size, and whether
// a digit other than 0 follows the point.
struct fixed_shape {
  std::size_t point;
  std::size_t size;
  bool fraction;
};
fixed_shape shape_of_f(double value);

// "%*s" of text. Needs max(text size, |width|) bytes.
char* fast_text(char* out, std::string_view text, int width);

// Whether fast_int and fast_fixed with these arguments stay within fast_room.
inline bool fast_fits(int width, int decimals) {
  return width >= -fast_limit && width <= fast_limit && decimals >= 0 && decimals <= fast_limit;
}

}  // namespace tx
