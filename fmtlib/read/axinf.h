// Axis list and axis files: reads axes.inf and one .ax or .ay file per axis
// into the list of axis_info records, and expands grid axes.
#pragma once
#include <cstdint>

namespace tx {

struct run_state;
struct stat_var;

struct element_info {
  std::uint8_t type;     // 0: the element carries no data
  std::int32_t textoff;  // offset of its text in the axis heap
};

struct axis_head {
  std::uint8_t ngrid;   // grid count
  std::uint8_t isgrid;  // grid flag
  std::int16_t incase;  // non-zero: the axis has words in every case record
  std::int16_t axisno;
  char* name;  // name used for output
};

struct axis_counts {
  std::int16_t nelements;  // kept elements
  std::int16_t nbits;      // bits in a case mask; the same number
};

inline constexpr int max_axis_titles = 10;
struct title_list {
  std::int32_t count;
  char* lines[max_axis_titles];
};

enum axis_kind { kind_single = 4, kind_multi = 5 };

struct axis_info {
  std::int32_t width;  // field width in the fixed-column data; set by the Triple-S writers
  axis_head* head;
  axis_counts* counts;
  element_info** elements;  // kept elements in file order
  char* heap;               // text heap; always ends with a NUL byte
  std::int32_t heap_size;   // bytes of the heap as stored in the file
  std::int32_t nwords;      // 16-bit mask words of the axis in a case record
  std::int32_t kind;        // kind_single or kind_multi
  title_list* titles;
  char* grid_label;  // text of the grid item of an expanded grid axis
  std::int16_t maxbits;
  std::int16_t ndata;  // data elements
  stat_var* single_var;
  stat_var** multi_vars;  // one entry per element position
  std::int32_t no_output;
  axis_info* next;
};

// Text of an element: heap + textoff.
const char* element_text(const axis_info* axis, int element);

void get_axinf(run_state& run);
void read_axinf(run_state& run, axis_info* axis, const char* tag);
void axe_shr(axis_info* copy, const axis_info* source);
int checknames(const char* a, const char* b);
void print_axinf(run_state& run, const axis_info* axis);

}  // namespace tx
