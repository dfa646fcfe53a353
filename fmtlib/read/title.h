// Run title: the title lines of "seg1.xv".
#pragma once

namespace tx {

struct run_state;

inline constexpr int max_title_lines = 10;

struct title_record {
  int count;                     // 0 to 10
  char* lines[max_title_lines];  // file order
};

// Layout of seg1.xv: header (type 9), a 196-byte block, then records of an
// 8-byte prefix, a 4-byte length L and L bytes of text, to the end of the file.
void get_title(run_state& run);
void print_title(run_state& run);

}  // namespace tx
