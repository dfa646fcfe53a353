// The four rows of field writers: fixed columns (row 0), the measuring pass
// (row 1), SPSS free format (row 2) and tab-separated fields (row 3).
#include "funcs.h"

#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <string>

#include "convert.h"

namespace tx {

namespace {

std::string format_text(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string format_text(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(text.data(), text.size() + 1, format, args);
  va_end(args);
  return text;
}

// The numeric-format item of the option list is a printf format of one double
// (" %" value "f"), checked when the option list was read.
std::string format_with(const std::string& format, double value) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  const int n = std::snprintf(nullptr, 0, format.c_str(), value);
  std::string text(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
  if (n > 0) std::snprintf(text.data(), text.size() + 1, format.c_str(), value);
#pragma GCC diagnostic pop
  return text;
}

// Width of a fixed-column field: -index for an axis field, else the width
// measured for numeric field `index`.
int field_width(const run_state& run, int index) {
  if (index < 0) return -index;
  return run.sizedetails[static_cast<std::size_t>(index)].width;
}

void raise_width(size_detail& d, std::size_t width) {
  if (width > static_cast<std::size_t>(d.width)) d.width = static_cast<std::int32_t>(width);
}

// SPSS data lines never reach 78 characters: a field that would make the line
// that long goes to the next line. A field of 78 characters or more (a long
// missing text or numeric format) stands alone on its line.
void spss_append(run_state& run, std::FILE* stream, const std::string& text) {
  std::string& line = run.data.buffer;
  if (!line.empty() && line.size() + text.size() >= 78) {
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fputc('\n', stream);
    line.clear();
  }
  line += text;
}

// The tab before every field of a CSV line except the first.
void csv_separator(run_state& run, std::FILE* stream) {
  if (++run.progmode->field_count != 1) std::fputc('\t', stream);
}

}  // namespace

std::string whole_number_text(double value) {
  const double cut = std::trunc(value);
  if (cut >= INT32_MIN && cut <= INT32_MAX)
    return format_text("%d", static_cast<std::int32_t>(cut));
  return format_text("%.0f", value);
}

int printed_length(double value, int kind, int decimals) {
  if (kind == size_whole) return static_cast<int>(whole_number_text(value).size());
  return std::snprintf(nullptr, 0, "%.*f", decimals, value);
}

// Row 0: fixed columns, nothing between the fields.

void out_i(run_state& run, std::FILE* stream, std::int32_t value, int index) {
  std::fprintf(stream, "%*d", field_width(run, index), value);
}

void out_s(run_state& run, std::FILE* stream, std::string_view text, int index) {
  // Control characters and bytes 128 to 255 (below 32 as signed characters)
  // would break the columns of a reader that counts characters.
  std::string shown(text);
  for (char& c : shown)
    if (static_cast<signed char>(c) < 32) c = ' ';
  std::fprintf(stream, "%*s", field_width(run, index), shown.c_str());
}

void out_f(run_state& run, std::FILE* stream, float value, int index) {
  const size_detail& d = run.sizedetails[static_cast<std::size_t>(index)];
  if (d.kind == size_whole)
    std::fprintf(stream, "%*s", d.width, whole_number_text(value).c_str());
  else
    std::fprintf(stream, "%*.*f", d.width, d.decimals, static_cast<double>(value));
}

void out_r(run_state&, std::FILE* stream) { std::fputc('\n', stream); }

// Row 1: the measuring pass writes nothing and records kind, width, decimals
// and range of every numeric field.

void calc_f(run_state& run, std::FILE*, float value, int index) {
  size_detail& d = run.sizedetails[static_cast<std::size_t>(index)];
  const std::string text = format_text("%f", static_cast<double>(value));
  // An infinity or a NaN has no point and counts as whole.
  std::size_t point = text.find('.');
  if (point == std::string::npos) point = text.size();
  const bool fraction =
      point < text.size() && text.find_first_not_of('0', point + 1) != std::string::npos;

  if (d.kind == size_none || d.kind == size_whole) d.kind = fraction ? size_real : size_whole;
  // A field that has held the missing text keeps kind 3 but still learns its
  // decimals from a value with a fractional part, so the order of the cases
  // does not change how the values are written.
  const bool measure_real = d.kind == size_real || (d.kind == size_text && fraction);
  if (measure_real) {
    const auto n = static_cast<std::int32_t>(text.size() - point);
    if (run.pflg != 0)
      d.decimals = run.pflg;
    else if (n > d.decimals)
      d.decimals = n;
  }

  if (d.decimals == 0)
    raise_width(d, point);
  else if (measure_real)
    raise_width(d, text.size() + 1);
  else
    raise_width(d, point + 2);

  if (value > d.max) d.max = value;
  if (value < d.min) d.min = value;
}

void calc_s(run_state& run, std::FILE*, std::string_view text, int index) {
  size_detail& d = run.sizedetails[static_cast<std::size_t>(index)];
  d.kind = size_text;
  raise_width(d, text.size());
}

void calc_i(run_state& run, std::FILE*, std::int32_t value, int index) {
  if (index < 0) return;  // the measuring pass writes no axis fields
  size_detail& d = run.sizedetails[static_cast<std::size_t>(index)];
  d.kind = size_whole;
  raise_width(d, format_text("%d", value).size());
}

// Row 2: SPSS free format, every field after a blank.

void spss_out_i(run_state& run, std::FILE* stream, std::int32_t value, int) {
  spss_append(run, stream, format_text(" %d", value));
}

void spss_out_s(run_state& run, std::FILE* stream, std::string_view text, int) {
  std::string field = " ";
  field += text;
  spss_append(run, stream, field);
}

void spss_out_f(run_state& run, std::FILE* stream, float value, int) {
  const auto v = static_cast<double>(value);
  std::string field = run.options.has_numeric_format ? format_with(run.options.numeric_format, v)
                                                     : format_text(" %f", v);
  if (field.find('.') != std::string::npos) {
    field.erase(field.find_last_not_of('0') + 1);
    if (field.back() == '.') field.pop_back();
  }
  spss_append(run, stream, field);
}

void spss_out_r(run_state& run, std::FILE* stream) {
  std::string& line = run.data.buffer;
  std::fwrite(line.data(), 1, line.size(), stream);
  std::fputc('\n', stream);
  line.clear();
}

// Row 3: tab-separated fields without filling blanks.

void outcsv_f(run_state& run, std::FILE* stream, float value, int index) {
  csv_separator(run, stream);
  std::fprintf(stream, "%.*f", run.sizedetails[static_cast<std::size_t>(index)].decimals,
               static_cast<double>(value));
}

void outcsv_i(run_state& run, std::FILE* stream, std::int32_t value, int) {
  csv_separator(run, stream);
  std::fprintf(stream, "%d", value);
}

void outcsv_s(run_state& run, std::FILE* stream, std::string_view text, int) {
  csv_separator(run, stream);
  std::fwrite(text.data(), 1, text.size(), stream);
}

void outcsv_r(run_state& run, std::FILE* stream) {
  std::fputc('\n', stream);
  run.progmode->field_count = 0;
}

}  // namespace tx
