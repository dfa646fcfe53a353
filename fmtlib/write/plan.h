// The plan of a data pass: for every output axis, the text that the pass's
// row of field writers writes for each state of the axis's bits, taken from
// the row once per pass and then copied for every case; for the yes/no
// fields that share one byte of a mask word, the joined texts of all 256
// values of the byte.
#pragma once
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "write/funcs.h"

namespace tx {

struct run_state;

// Bytes of data_plan::texts.
struct ready_text {
  std::uint32_t text;  // offset
  std::uint32_t size;
};

// A yes/no field of a multi-coded axis: its element's bit and its texts when
// the bit is clear (0), set (1), and when no data bit of the axis is set (2).
struct yes_no_field {
  std::uint32_t bit;  // 16 * word + bit within the word, in a case's mask words
  std::array<ready_text, 3> codes;
};

// The yes/no fields of a multi-coded axis whose bits lie in one byte of a
// mask word, and the texts of all of them for each of the byte's 256 values.
struct field_chunk {
  std::int32_t word;    // the mask word, and the byte's place in it
  std::int32_t shift;   // 0 or 8
  std::uint32_t table;  // chunk_texts[table + byte value]
  std::uint32_t first;  // its fields: yes_no[first] to yes_no[first + fields - 1]
  std::uint32_t fields;
  std::uint32_t field_size;  // the size of every field's yes and no text when all are alike, else 0
};

// An output axis of a data pass. Single-coded: the text codes[first + i]
// when data element i is the first whose bit is set, codes[first + 16 *
// nwords] when none is. Multi-coded: yes_no[first] to yes_no[first + fields
// - 1], in the chunks chunks[first_chunk] on, and `missing`, all their
// missing texts.
struct axis_step {
  std::int32_t word;  // its first mask word in a case record
  std::int32_t nwords;
  std::uint32_t first;
  std::uint32_t fields;
  std::uint32_t first_chunk;
  std::uint32_t chunks;
  ready_text missing;
  bool multi;
};

// What a data pass writes for the axes, made once per pass from the axes,
// their variables and the row; read by every formatter of the pass.
struct data_plan {
  const text_layout* layout = nullptr;  // the row's
  std::string missing;                  // the -m text, or the output form's own
  std::vector<std::uint16_t> elmask;    // the data bits of a case's mask words
  std::vector<axis_step> axes;
  std::vector<ready_text> codes;  // single-coded axes' texts; size 0: no field
  std::vector<yes_no_field> yes_no;
  std::vector<field_chunk> chunks;
  std::vector<ready_text> chunk_texts;
  std::string texts;             // the ready texts; copy_room spare bytes follow the last
  std::size_t record_bytes = 0;  // room the axis fields of one case can take
  std::size_t fields = 0;        // fields the axes write for a case
  // Where every axis field is one byte and the row neither separates fields
  // nor breaks lines (the system file's codes, mostly), the texts again as
  // bytes: a single-coded axis's text is code_bytes[first + i], and a
  // chunk's texts, up to eight bytes, fill one word of chunk_words. A case
  // then takes one load and one store per axis or chunk, without sizes.
  bool one_byte_fields = false;
  std::vector<char> code_bytes;            // parallel to codes
  std::vector<std::uint64_t> chunk_words;  // parallel to chunk_texts
};

// Spare bytes after every ready text and after a record's room, which a
// copy of a text may write past its end.
inline constexpr std::size_t copy_room = 32;

// Copies a ready text 16 bytes at a time, whatever its size, up to 32 bytes
// (texts and the pass's buffer have copy_room spare bytes): most texts take
// one or two stores instead of a call of memcpy with a variable size, which
// saves a fifth of a conversion's instructions.
inline char* copy_text(char* out, const char* texts, ready_text t) {
  const char* from = texts + t.text;
  std::memcpy(out, from, 16);
  if (t.size > 16) {
    std::memcpy(out + 16, from + 16, 16);
    if (t.size > copy_room) std::memcpy(out, from, t.size);
  }
  return out + t.size;
}

// The bits of an axis in a case's mask words, read the same way by the data
// passes and the codebook's counts. `words` and `data` point at the axis's
// first word in the case's mask words and in the data mask (elmask); only
// data bits count.

// Position of the first data bit set (16 * word + bit): the element of a
// single-coded axis; 16 * nwords when none is.
inline int first_data_bit(const std::uint16_t* words, const std::uint16_t* data, int nwords) {
  // With one word, bit 16 stands for "none set".
  if (nwords == 1) return std::countr_zero((unsigned{words[0]} & data[0]) | 0x10000U);
  for (int w = 0; w < nwords; ++w) {
    const unsigned set = unsigned{words[w]} & data[w];
    if (set != 0) return 16 * w + std::countr_zero(set);
  }
  return 16 * nwords;
}
// Whether any data bit is set: a multi-coded axis holds at least one element.
inline bool any_data_bit(const std::uint16_t* words, const std::uint16_t* data, int nwords) {
  // Most axes take one word: no loop for them.
  if (nwords == 1) return (unsigned{words[0]} & data[0]) != 0;
  unsigned any = 0;
  for (int w = 0; w < nwords; ++w) any |= unsigned{words[w]} & data[w];
  return any != 0;
}
// Whether bit `bit` (16 * word + bit within the word) is set.
inline bool has_bit(const std::uint16_t* words, std::uint32_t bit) {
  return ((unsigned{words[bit / 16]} >> (bit % 16)) & 1U) != 0;
}

// The text a data file holds for a missing value: the -m text, or the output
// form's own.
std::string missing_text(const run_state& run);

// The plan of a pass through `row` (one that writes text), with `ctx`'s
// options and sizes.
data_plan make_plan(const run_state& run, const output_routines& row, const field_context& ctx);

// The axis fields of the case with mask words c, from the plan, into
// ctx.sink; the record state goes on from them as the row's own writers
// keep it.
void put_axis_texts(const data_plan& plan, const std::uint16_t* c, field_context& ctx);

}  // namespace tx
