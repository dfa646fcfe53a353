// SPSS system file writer: "survey.sav", written with ReadStat, holding the
// SPSS form's variables with long names, labels, value labels, measurement
// levels and print formats, the cases as numbers, and one multiple
// dichotomy set per multi-coded axis.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace tx {
struct run_state;

// The driver row's writer; data_file is null: the cases go into meta_file.
void outputsav(run_state& run, const char* meta_file, const char* data_file);

// An 8-bit job text in UTF-8: bytes 160 to 255 as ISO-8859-1, byte 128 as
// the euro sign, the other control bytes (below 32, 127 to 159) as blanks;
// the text ends at a zero byte and is cut to at most max_bytes without
// splitting a character.
std::string sav_text(std::string_view text, std::size_t max_bytes);

// A name fit for the system file: characters other than letters, digits,
// "_", ".", "@", "#" and "$" as "_", "@" before a first character that is
// not a letter, cut to 64 bytes, no trailing "." or "_", "@" before a
// reserved word.
std::string sav_name(std::string_view name);
}  // namespace tx
