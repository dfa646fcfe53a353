#include "write/fastfmt.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
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

// 10 to the power n, n up to 19.
constexpr std::uint64_t power_of_ten(int n) {
  std::uint64_t p = 1;
  while (n-- > 0) p *= 10;
  return p;
}

// The value times 10^decimals rounded to a whole number, half to even, as
// printf rounds the exact binary value: false when that does not fit 64
// bits. A double is m * 2^e with m below 2^53, so m * 10^decimals (decimals
// up to 19) fits 128 bits and the shift by e is exact.
bool scaled(double value, int decimals, std::uint64_t& n) {
  const auto bits = std::bit_cast<std::uint64_t>(value);
  const int biased = static_cast<int>(bits >> 52 & 0x7FF);
  using u128 = unsigned __int128;
  const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
  const u128 m = biased == 0 ? fraction : fraction | std::uint64_t{1} << 52;
  const int e = biased == 0 ? -1074 : biased - 1075;
  const u128 p = m * power_of_ten(decimals);
  u128 q;
  if (e >= 0) {
    if (e > 10 || (p << e) >> e != p) return false;
    q = p << e;
  } else if (-e > 117) {
    q = 0;  // p is below 2^117, under half of 2^-e
  } else {
    const int k = -e;
    q = p >> k;
    const u128 rest = p & ((u128{1} << k) - 1);
    const u128 half = u128{1} << (k - 1);
    if (rest > half || (rest == half && (q & 1) != 0)) ++q;
  }
  if (q > UINT64_MAX) return false;
  n = static_cast<std::uint64_t>(q);
  return true;
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
  std::uint64_t n = 0;
  if (decimals > 19 || !scaled(value, decimals, n)) {
    const auto r =
        std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, decimals);
    return pad(out, digits, static_cast<std::size_t>(r.ptr - digits), width);
  }
  // The digits of n with the point before the last `decimals` of them, and
  // printf's sign, which a negative value keeps even when it rounds to 0.
  char whole[24];
  const auto d = static_cast<std::size_t>(decimals);
  char* end = std::to_chars(whole, whole + sizeof whole, n).ptr;
  auto count = static_cast<std::size_t>(end - whole);
  char* p = digits;
  if (std::signbit(value)) *p++ = '-';
  if (count <= d) {
    *p++ = '0';
    if (d != 0) *p++ = '.';
    std::memset(p, '0', d - count);
    p += d - count;
  } else {
    std::memcpy(p, whole, count - d);
    p += count - d;
    if (d != 0) *p++ = '.';
  }
  const std::size_t fraction = std::min(count, d);
  std::memcpy(p, end - fraction, fraction);
  p += fraction;
  return pad(out, digits, static_cast<std::size_t>(p - digits), width);
}

char* fast_text(char* out, std::string_view text, int width) {
  return pad(out, text.data(), text.size(), width);
}

}  // namespace tx
