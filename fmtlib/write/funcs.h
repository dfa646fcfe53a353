// Field writers: one row per data-file form. A field index of 0 or more is the
// number of a numeric field within the case (incs, then weights); -w marks an
// axis field of width w.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "base/misc.h"
#include "base/run_state.h"

namespace tx {

// How a row that writes text lays out a record's fields. The field writers
// and the data writer's ready texts (taken once per pass from the field
// writers, then copied for every case) both follow it.
struct text_layout {
  char separator;  // written between two fields of a record; 0: none
  int line_limit;  // a line ends before it reaches this many characters; 0: no limit
};

// SPSS data lines end before they reach this many characters.
inline constexpr int spss_line_limit = 78;

inline constexpr text_layout fixed_layout{0, 0};
inline constexpr text_layout spss_layout{0, spss_line_limit};  // every field brings its blank
inline constexpr text_layout csv_layout{'\t', 0};
inline constexpr text_layout sav_layout{0, 0};  // a field's bytecode, nothing between

// Whether a field of n characters goes to a new line: it would make a line
// that already holds `line` characters reach the limit. An empty line takes
// any field, so a field longer than the limit stands alone on its line.
constexpr bool breaks_line(const text_layout& l, std::size_t line, std::size_t n) {
  return l.line_limit != 0 && line != 0 && line + n >= static_cast<std::size_t>(l.line_limit);
}
// Whether fields of n characters in all go onto a line of `line` characters
// one after the other without a break.
constexpr bool fit_whole(const text_layout& l, std::size_t line, std::size_t n) {
  return l.line_limit == 0 || line + n < static_cast<std::size_t>(l.line_limit);
}
// How many fields of n characters each go onto a line of `line` characters
// one after the other before one of them breaks it.
constexpr std::size_t fields_that_fit(const text_layout& l, std::size_t line, std::size_t n) {
  if (l.line_limit == 0) return SIZE_MAX;
  const auto limit = static_cast<std::size_t>(l.line_limit);
  std::size_t fit = line + n < limit ? (limit - 1 - line) / n : 0;
  return line == 0 && fit == 0 ? 1 : fit;
}

// Where a record stands: the characters of its current line (rows that
// break lines) and the fields written so far (rows that separate them).
struct record_state {
  int line = 0;
  int fields = 0;
};

// The separator before a field of the record: none before its first.
inline char* put_separator(const text_layout& l, record_state& r, char* p) {
  if (r.fields++ != 0 && l.separator != 0) *p++ = l.separator;
  return p;
}

// Everything the field writers read and keep: the numeric fields' sizes, the
// options that shape a number, the record in progress and the pass's bytes.
// A copy formats cases on another thread and writes the same bytes.
struct field_context {
  std::vector<size_detail> sizes;   // the numeric fields, incs then weights
  int pflg = 0;                     // -p: decimals of real fields; 0: measured
  bool has_numeric_format = false;  // the f item: SPSS " %w.df"
  std::string numeric_format;
  record_state record;
  out_buffer sink;   // fields of a pass (stream null), on their way to the data file
  std::string temp;  // a field for any other stream (a test's memstream)
};
// The context of a run's pass: its sizes and options, an empty record.
field_context make_field_context(const run_state& run);

struct output_routines {
  int id;
  void (*put_float)(field_context&, std::FILE*, float value, int index);
  void (*put_int)(field_context&, std::FILE*, std::int32_t value, int index);
  void (*put_string)(field_context&, std::FILE*, std::string_view text, int index);
  void (*end_record)(field_context&, std::FILE*);  // null: nothing ends a record
  // How the row's texts join up in a record; null for the measuring row,
  // which writes nothing.
  const text_layout* layout = nullptr;
};

void out_f(field_context&, std::FILE*, float, int);
void out_i(field_context&, std::FILE*, std::int32_t, int);
void out_s(field_context&, std::FILE*, std::string_view, int);
void out_r(field_context&, std::FILE*);
void calc_f(field_context&, std::FILE*, float, int);
void calc_i(field_context&, std::FILE*, std::int32_t, int);
void calc_s(field_context&, std::FILE*, std::string_view, int);
void spss_out_f(field_context&, std::FILE*, float, int);
void spss_out_i(field_context&, std::FILE*, std::int32_t, int);
void spss_out_s(field_context&, std::FILE*, std::string_view, int);
void spss_out_r(field_context&, std::FILE*);
void outcsv_f(field_context&, std::FILE*, float, int);
void outcsv_i(field_context&, std::FILE*, std::int32_t, int);
void outcsv_s(field_context&, std::FILE*, std::string_view, int);
void outcsv_r(field_context&, std::FILE*);
// Row 4, the SPSS system file: each field in the form of a case (its code,
// and after the raw-value code the value's 8 bytes), which the data writer
// compresses into the file's bytecode; the missing text is system-missing.
void sav_out_f(field_context&, std::FILE*, float, int);
void sav_out_i(field_context&, std::FILE*, std::int32_t, int);
void sav_out_s(field_context&, std::FILE*, std::string_view, int);

// A whole number as the fixed-column writer prints it: "%d" of the value cut
// toward zero, or "%.0f" of the value when the cut value lies outside the
// 32-bit range (infinities and NaNs included).
std::string whole_number_text(double value);
// Length of a numeric field's value as out_f prints it with the field's kind
// and decimals.
int printed_length(double value, int kind, int decimals);
// The number a numeric field holds at the precision measured for it: the
// value of its "%.*f" text with the field's decimals (none for a whole
// field), so 0.1f is 0.1 and not 0.100000001490116. Infinities and NaNs,
// which no reader takes as a number, give a NaN.
double stored_number(float value, const size_detail& d);

enum routines_row { row_fixed = 0, row_measure = 1, row_spss = 2, row_csv = 3, row_sav = 4 };

// clang-format off
inline constexpr std::array<output_routines, 6> outputroutines{{
    {0, out_f, out_i, out_s, out_r, &fixed_layout},
    {1, calc_f, calc_i, calc_s, nullptr},
    {2, spss_out_f, spss_out_i, spss_out_s, spss_out_r, &spss_layout},
    {3, outcsv_f, outcsv_i, outcsv_s, outcsv_r, &csv_layout},
    {4, sav_out_f, sav_out_i, sav_out_s, nullptr, &sav_layout},
    {0, nullptr, nullptr, nullptr, nullptr}}};
// clang-format on

}  // namespace tx
