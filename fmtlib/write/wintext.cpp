#include "write/wintext.h"

#include <algorithm>
#include <array>

namespace tx {

namespace {

// The characters of bytes 128 to 159; 0 where Windows-1252 has none.
constexpr std::array<char16_t, 32> high_controls = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 128-135
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,       // 136-143
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 144-151
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,  // 152-159
};

// The character of byte b; a blank for a control or an undefined byte.
char16_t character_of(unsigned char b) {
  if (b < 32 || b == 127) return u' ';
  if (b < 128 || b >= 160) return b;
  const char16_t c = high_controls[b - 128];
  return c != 0 ? c : u' ';
}

}  // namespace

std::string utf8_text(std::string_view text, std::size_t max_bytes) {
  text = text.substr(0, text.find('\0'));
  std::string out;
  out.reserve(std::min(text.size(), max_bytes));
  for (const char ch : text) {
    const char16_t c = character_of(static_cast<unsigned char>(ch));
    char utf8[3];
    std::size_t n;
    if (c < 0x80) {
      utf8[0] = static_cast<char>(c);
      n = 1;
    } else if (c < 0x800) {
      utf8[0] = static_cast<char>(0xC0 | (c >> 6));
      utf8[1] = static_cast<char>(0x80 | (c & 0x3F));
      n = 2;
    } else {
      utf8[0] = static_cast<char>(0xE0 | (c >> 12));
      utf8[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      utf8[2] = static_cast<char>(0x80 | (c & 0x3F));
      n = 3;
    }
    if (out.size() + n > max_bytes) break;
    out.append(utf8, n);
  }
  return out;
}

}  // namespace tx
