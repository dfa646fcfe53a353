// The message formatter: every message of the converter goes through it.
#pragma once
#include <cstdio>
#include <string>

namespace tx {
inline constexpr int showmsg_buffer = 8192;  // at most 8,191 characters of text; longer is cut
// Formats into the buffer and writes the text to stream (null: standard error).
void showmsg(std::FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));
// The formatted text whole, however long (for stop messages and fields).
std::string format_text(const char* format, ...) __attribute__((format(printf, 1, 2)));
}  // namespace tx
