// The cases of the SPSS system file in the bytecode its header announces:
// blocks of eight one-byte codes, each block followed by the 8-byte values
// that its raw-value codes stand for. Code 1 to 251 is the whole number
// code - 100 (the bias in the file header), 253 a raw value, 255
// system-missing, 0 nothing (it pads the last block).
//
// A case arrives in the form of a case: one code byte per field, and after
// each raw-value code the value's 8 bytes in the machine's order (the byte
// order the header declares). Cases follow one another without a mark.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/misc.h"

namespace tx {

inline constexpr double compression_bias = 100;
inline constexpr std::uint8_t raw_code = 253;
inline constexpr std::uint8_t sysmis_code = 255;
// Room one field in the form of a case can take.
inline constexpr std::size_t case_field_room = 9;

// One field in the form of a case at out: a whole number from -99 to 151 as
// its code byte, a NaN as system-missing, any other number as a raw value.
// Returns the end of the field.
char* case_field(char* out, double value);

// Compresses the fields of a pass into the bytecode, buffer after buffer,
// where they lie: a group of eight fields takes as many bytes in the form of
// a case as in bytecode (its raw values only move behind its eight codes).
// The fields of a group still open at the end of a buffer wait, and go in
// front of the next buffer's fields, into the room kept before them.
struct bytecode_encoder {
  // Room a buffer keeps before its fields for the waiting ones: up to seven
  // fields of nine bytes.
  static constexpr std::size_t front_room = 64;

  std::string open;  // the fields of the open group, in the form of a case
  std::size_t open_fields = 0;

  // Puts the fields of buffer[front_room, used) (whole fields in the form of
  // a case) into bytecode in place, after the waiting fields, which go into
  // the room before them; takes the fields of the group left open at the
  // end out to wait. The bytecode is then buffer[begin, used). Returns the
  // number of fields the buffer brought.
  std::size_t encode(out_buffer& buffer, std::size_t& begin);
  // The last group, its codes padded with 0, at the end of `buffer`.
  void finish(out_buffer& buffer);
};

}  // namespace tx
