#include "write/fastfmt.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

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

constexpr std::array<std::uint64_t, 20> powers_of_ten = [] {
  std::array<std::uint64_t, 20> p{};
  p[0] = 1;
  for (std::size_t i = 1; i < p.size(); ++i) p[i] = p[i - 1] * 10;
  return p;
}();

// The value times 10^decimals rounded to a whole number, half to even, as
// printf rounds the exact binary value: false when that does not fit 64
// bits. A double is m * 2^e; without the trailing zero bits of m (a float
// has at most 24 significant bits) m * 10^decimals mostly fits 64 bits, and
// the shift by e is exact.
bool scaled(double value, int decimals, std::uint64_t& n) {
  const auto bits = std::bit_cast<std::uint64_t>(value);
  const int biased = static_cast<int>(bits >> 52 & 0x7FF);
  std::uint64_t m = bits & ((std::uint64_t{1} << 52) - 1);
  if (biased != 0) m |= std::uint64_t{1} << 52;
  int e = biased == 0 ? -1074 : biased - 1075;
  if (m == 0) {
    n = 0;
    return true;
  }
  const int zeros = std::countr_zero(m);
  m >>= zeros;
  e += zeros;
  std::uint64_t p;
  if (__builtin_mul_overflow(m, powers_of_ten[static_cast<std::size_t>(decimals)], &p))
    return false;
  if (e >= 0) {
    if (e >= 64 || (p << e) >> e != p) return false;
    n = p << e;
    return true;
  }
  const int k = -e;
  if (k >= 64) {
    // Half of 2^k is at least 2^63: p rounds to 1 only when above it.
    n = k == 64 && p > std::uint64_t{1} << 63 ? 1 : 0;
    return true;
  }
  n = p >> k;
  const std::uint64_t rest = p & ((std::uint64_t{1} << k) - 1);
  const std::uint64_t half = std::uint64_t{1} << (k - 1);
  if (rest > half || (rest == half && (n & 1) != 0)) ++n;
  return true;
}

// Blanks to |width| for a field of n bytes; blank_room bytes at out may be
// written whatever the fill.
constexpr std::size_t blank_room = 32;
char* blanks(char* out, std::size_t n, int width) {
  const std::size_t w =
      width < 0 ? 0u - static_cast<std::size_t>(width) : static_cast<std::size_t>(width);
  const std::size_t fill = w > n ? w - n : 0;
  if (fill <= blank_room)
    std::memset(out, ' ', blank_room);
  else
    std::memset(out, ' ', fill);
  return out + fill;
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
  std::uint64_t n = 0;
  if (decimals < 0 || decimals > 19 || !scaled(value, decimals, n)) {
    char digits[fast_room];
    const auto r =
        std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, decimals);
    return pad(out, digits, static_cast<std::size_t>(r.ptr - digits), width);
  }
  // The digits of n with the point before the last `decimals` of them, and
  // printf's sign, which a negative value keeps even when it rounds to 0.
  // Every piece is short: fixed-size copies are cheaper than exact ones, and
  // the caller's fast_room bytes take them.
  char whole[48];  // 20 digits at most, and room for the copies below
  const char* end = std::to_chars(whole, whole + 20, n).ptr;
  const auto count = static_cast<std::size_t>(end - whole);
  const auto d = static_cast<std::size_t>(decimals);
  const bool minus = std::signbit(value);
  const std::size_t before = count > d ? count - d : 1;  // digits before the point
  const std::size_t size = (minus ? 1 : 0) + before + (d != 0 ? 1 + d : 0);
  if (width > 0) out = blanks(out, size, width);
  if (minus) *out++ = '-';
  if (count > d) {
    std::memcpy(out, whole, 20);
  } else {
    *out = '0';
  }
  out += before;
  if (d != 0) {
    *out++ = '.';
    const std::size_t shown = std::min(count, d);
    std::memset(out, '0', 20);
    std::memcpy(out + (d - shown), end - shown, 20);
    out += d;
  }
  if (width < 0) out = blanks(out, size, width);
  return out;
}

fixed_shape shape_of_f(double value) {
  // The value times 10^6 as a whole number, as printf rounds it.
  std::uint64_t n = 0;
  bool whole_number = false;
  if (std::fabs(value) < 0x1p33 && static_cast<double>(static_cast<float>(value)) == value) {
    // A float below 2^33 (the measuring pass's values): its 24 bits times
    // 10^6 fit a double's 53 exactly, and adding and taking away 2^52 rounds
    // the product to a whole number, ties to even.
    const double product = std::fabs(value) * 1e6;
    n = static_cast<std::uint64_t>((product + 0x1p52) - 0x1p52);
    whole_number = true;
  } else {
    whole_number = std::isfinite(value) && scaled(value, 6, n);
  }
  if (whole_number) {
    // The sign and the digits of the whole part, then the point and six
    // decimals.
    std::size_t point = std::signbit(value) ? 2 : 1;
    for (std::uint64_t whole = n / 1000000; whole >= 10; whole /= 10) ++point;
    return fixed_shape{point, point + 7, n % 1000000 != 0};
  }
  char buffer[fast_room];
  const std::string_view text(buffer,
                              static_cast<std::size_t>(fast_fixed(buffer, value, 0, 6) - buffer));
  std::size_t point = text.find('.');
  if (point == std::string_view::npos) point = text.size();
  const bool fraction =
      point < text.size() && text.find_first_not_of('0', point + 1) != std::string_view::npos;
  return fixed_shape{point, text.size(), fraction};
}

char* fast_text(char* out, std::string_view text, int width) {
  return pad(out, text.data(), text.size(), width);
}

}  // namespace tx
