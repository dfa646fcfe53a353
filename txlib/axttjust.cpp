#include "axttjust.h"

#include <span>

#include "bytes.h"

namespace tx {

namespace {

constexpr int title_lines = 12;
constexpr std::size_t codes_at = 50;  // 12 signed 16-bit codes, one per title line
// The code tables with their terminating NUL, which is a valid index.
constexpr int n_vert = sizeof vert_chars;    // 4
constexpr int n_horiz = sizeof horiz_chars;  // 17
constexpr int packed_flag = 0x8000;
constexpr int vert_shift = 6;
constexpr int vert_mask = 0x3C0;
constexpr int horiz_mask = 0x3F;

bool bad_line(const std::uint8_t* axis_rec, int line) {
  return axis_rec == nullptr || line < 0 || line >= title_lines;
}

// The record pointer comes without a length; only the codes' bytes are touched.
constexpr std::size_t codes_end = codes_at + 2 * title_lines;

int justify_code(const std::uint8_t* axis_rec, int line) {
  return be_i16(std::span<const std::uint8_t>(axis_rec, codes_end), codes_at + 2 * line);
}

int index_of(const char* table, int n, char c) {
  for (int k = 0; k < n; ++k)
    if (table[k] == c) return k;
  return 0;
}

}  // namespace

int GetAxisTitleSkipJust(const std::uint8_t* axis_rec, int line) {
  if (bad_line(axis_rec, line)) return -1;
  return justify_code(axis_rec, line) < 0 ? 0 : 2;
}

int GetAxisTitleJustifyChars(const std::uint8_t* axis_rec, int line, char* vert, char* horiz,
                             const char* text) {
  if (bad_line(axis_rec, line) || vert == nullptr || horiz == nullptr) return -1;
  int code = justify_code(axis_rec, line);
  if (code < 0) {
    // Indexes beyond the tables read as their first character.
    int v = (code & vert_mask) >> vert_shift;
    int h = code & horiz_mask;
    *vert = vert_chars[v < n_vert ? v : 0];
    *horiz = horiz_chars[h < n_horiz ? h : 0];
    return 0;
  }
  if (text == nullptr) return -1;
  *horiz = text[0];
  *vert = text[0] != '\0' ? text[1] : '\0';
  return 2;
}

void SetAxisTitleJustifyChars(std::uint8_t* axis_rec, int line, char vert, char horiz) {
  if (bad_line(axis_rec, line)) return;
  int code = packed_flag | (index_of(vert_chars, n_vert, vert) << vert_shift) |
             index_of(horiz_chars, n_horiz, horiz);
  put_be16(std::span<std::uint8_t>(axis_rec, codes_end), codes_at + 2 * line,
           static_cast<std::uint16_t>(code));
}

}  // namespace tx
