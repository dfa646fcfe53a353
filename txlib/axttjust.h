// Justification of an axis's title lines: packed in the 16-bit code at byte
// 50 + 2 * line of the axis record (negative code), or held as the title
// text's first two characters (horizontal, then vertical).
#pragma once
#include <cstdint>

namespace tx {

inline constexpr char vert_chars[] = "tfb";
inline constexpr char horiz_chars[] = "lrcabg123456789i";

// -1 for a bad record or line; 0 for a packed code; 2 when the text holds it.
int GetAxisTitleSkipJust(const std::uint8_t* axis_rec, int line);
int GetAxisTitleJustifyChars(const std::uint8_t* axis_rec, int line, char* vert, char* horiz,
                             const char* text);
void SetAxisTitleJustifyChars(std::uint8_t* axis_rec, int line, char vert, char horiz);

}  // namespace tx
