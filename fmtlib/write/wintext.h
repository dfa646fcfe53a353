// The job's 8-bit texts for the forms that hold UTF-8 (the system file, the
// codebook). The texts are Windows-1252: the tabulation system writes the
// euro sign as byte 128 and curly quotes and dashes as bytes 145 to 151.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tx {

// A job text in UTF-8: bytes 128 to 159 as their Windows-1252 characters,
// 160 to 255 as ISO-8859-1; control characters (below 32 and 127) and the
// five bytes Windows-1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D)
// as blanks. The text ends at a zero byte and is cut to at most max_bytes
// without splitting a character.
std::string utf8_text(std::string_view text, std::size_t max_bytes = SIZE_MAX);

}  // namespace tx
