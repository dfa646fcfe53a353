// Field writers: one row per data-file form. A field index of 0 or more is the
// number of a numeric field within the case (incs, then weights); -w marks an
// axis field of width w.
#pragma once
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace tx {

struct run_state;

// SPSS data lines end before they reach this many characters.
inline constexpr int spss_line_limit = 78;

// How a row that writes text lays out a record's axis fields. The data
// writer takes each field's text once per pass from the row's put_int or
// put_string and then copies it for every case.
struct text_layout {
  char separator;  // written between two fields of a record; 0: none
  int line_limit;  // a line ends before it reaches this many characters; 0: no limit
};

struct output_routines {
  int id;
  void (*put_float)(run_state&, std::FILE*, float value, int index);
  void (*put_int)(run_state&, std::FILE*, std::int32_t value, int index);
  void (*put_string)(run_state&, std::FILE*, std::string_view text, int index);
  void (*end_record)(run_state&, std::FILE*);  // null: nothing ends a record
  // Null: the row writes no text of its own for the axis fields and is
  // handed every axis field's number or missing text through put_int and
  // put_string.
  const text_layout* layout = nullptr;
};

void out_f(run_state&, std::FILE*, float, int);
void out_i(run_state&, std::FILE*, std::int32_t, int);
void out_s(run_state&, std::FILE*, std::string_view, int);
void out_r(run_state&, std::FILE*);
void calc_f(run_state&, std::FILE*, float, int);
void calc_i(run_state&, std::FILE*, std::int32_t, int);
void calc_s(run_state&, std::FILE*, std::string_view, int);
void spss_out_f(run_state&, std::FILE*, float, int);
void spss_out_i(run_state&, std::FILE*, std::int32_t, int);
void spss_out_s(run_state&, std::FILE*, std::string_view, int);
void spss_out_r(run_state&, std::FILE*);
void outcsv_f(run_state&, std::FILE*, float, int);
void outcsv_i(run_state&, std::FILE*, std::int32_t, int);
void outcsv_s(run_state&, std::FILE*, std::string_view, int);
void outcsv_r(run_state&, std::FILE*);
// Row 4, the SPSS system file: defined with its writer (outputsav), they hand
// every value to ReadStat as a number; the missing text is system-missing.
void sav_out_f(run_state&, std::FILE*, float, int);
void sav_out_i(run_state&, std::FILE*, std::int32_t, int);
void sav_out_s(run_state&, std::FILE*, std::string_view, int);
void sav_out_r(run_state&, std::FILE*);

// A whole number as the fixed-column writer prints it: "%d" of the value cut
// toward zero, or "%.0f" of the value when the cut value lies outside the
// 32-bit range (infinities and NaNs included).
std::string whole_number_text(double value);
// Length of a numeric field's value as out_f prints it with the field's kind
// and decimals.
int printed_length(double value, int kind, int decimals);

enum routines_row { row_fixed = 0, row_measure = 1, row_spss = 2, row_csv = 3, row_sav = 4 };

inline constexpr text_layout fixed_layout{0, 0};
inline constexpr text_layout spss_layout{0, spss_line_limit};  // every field brings its blank
inline constexpr text_layout csv_layout{'\t', 0};

// clang-format off
inline constexpr std::array<output_routines, 6> outputroutines{{
    {0, out_f, out_i, out_s, out_r, &fixed_layout},
    {1, calc_f, calc_i, calc_s, nullptr},
    {2, spss_out_f, spss_out_i, spss_out_s, spss_out_r, &spss_layout},
    {3, outcsv_f, outcsv_i, outcsv_s, outcsv_r, &csv_layout},
    {4, sav_out_f, sav_out_i, sav_out_s, sav_out_r},  // numbers: no ready texts
    {0, nullptr, nullptr, nullptr, nullptr}}};
// clang-format on

}  // namespace tx
