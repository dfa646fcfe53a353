// Build date and time of the program, as the banner shows it.
#pragma once

namespace tx {
inline constexpr const char* date_comp = "May 21 2001 09:22:12";
}  // namespace tx
