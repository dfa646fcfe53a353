// The intermediate case file "intermed.x": one record per case of a leading
// part (nt bytes), the axis masks (na bytes) and the inc values (ni bytes).
#pragma once
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <vector>

#include "base/run_state.h"
#include "read/readahead.h"

namespace tx {

struct run_state;

inline constexpr float missing_value = -1048576.0f;  // -2^20 marks a missing inc value

// Case records read from the file in large blocks and decoded one at a time
// into buffers made once.
struct case_reader {
  std::FILE* f = nullptr;
  const char* name = "intermed.x";
  case_layout layout;
  std::unique_ptr<read_ahead> ahead;    // reads f from the first record on
  std::span<const std::uint8_t> block;  // ahead's current block; its unread bytes start at `at`
  std::size_t at = 0;
  std::vector<std::uint8_t> spill;   // a record that runs from one block into the next
  bool file_ended = false;           // ahead has given its last block
  std::vector<std::uint16_t> masks;  // nwords_a axis-mask words
};

// Bytes of a record: its leading words, mask words and values.
std::size_t record_size(const case_layout& l);
// Reads the four counts after the header (r.f stands just after it, as
// getversn leaves it) and checks them against the axes of run.axinf; stores
// the layout in r.layout and run.layout. Stops the run naming r.name when a
// size is negative, when the in-case axes need more than na/2 mask words,
// when na/2 exceeds what the axes need and the file could hold, or when all
// three parts are empty but data follow. Nothing is allocated from the sizes.
void read_case_layout(run_state& run, case_reader& r);
// The bytes of the next record, valid until the next call; null at the end
// of the file: the first non-empty part of the record is missing (for a
// leading part, less than one word of it is there). A partial record stops
// the run with error(part_error[k]) where k is the part that came up short
// (leading, masks, numbers).
const std::uint8_t* next_record(case_reader& r, const int (&part_error)[3]);
// A record's nwords_a mask words and nfloats values, in the machine's
// order; a null destination takes nothing.
void decode_case(const case_layout& l, const std::uint8_t* record, std::uint16_t* masks,
                 float* values);
// The next record's mask words decoded into r.masks; false at the end of
// the file. The buffer reaches its size with the first record and is reused
// for every later one.
bool read_case(case_reader& r, const int (&part_error)[3]);

int read_intermed(run_state& run);
void init_maskops(run_state& run, int n);
void markelements(run_state& run, std::uint16_t* m);
// Takes one case's n mask words into the and, or and last masks and counts
// the data bits of every axis; end_maskops then sets each axis's maxbits,
// the most data bits set in one case.
void maskops(run_state& run, const std::uint16_t* c, int n);
void end_maskops(run_state& run, int n);
void print_masks(run_state& run, int n);
void print_bits(run_state& run, const std::uint16_t* words, int n);
void pr_bit(run_state& run, std::uint16_t word);

}  // namespace tx
