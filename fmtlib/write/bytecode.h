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

// Compresses fields in the form of a case into the bytecode, into an output
// buffer. The block still open at the end of a buffer is carried into the
// next one, since values may still follow it.
struct bytecode_encoder {
  std::size_t command = 0;  // offset in the buffer of the open block of eight codes
  int codes = 8;            // codes used in that block; 8: none open

  // Appends the fields from p to end (whole fields) to out; returns their
  // number.
  std::size_t add(out_buffer& out, const char* p, const char* end);
  // Cuts the open block and the values after it off the end of out, which
  // then holds whole blocks only, and returns them.
  std::string cut_open_block(out_buffer& out);
  // Puts a block cut off before at the start of the empty out.
  void resume(out_buffer& out, std::string_view open_block);
  // Closes the last block: its unused codes are 0 already.
  void finish() { codes = 8; }
};

}  // namespace tx
