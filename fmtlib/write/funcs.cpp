// The rows of field writers: fixed columns (row 0), the measuring pass (row
// 1), SPSS free format (row 2), tab-separated fields (row 3) and the system
// file's bytecode (row 4).
#include "write/funcs.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "base/run_state.h"
#include "base/showmsg.h"
#include "write/bytecode.h"
#include "write/fastfmt.h"

namespace tx {

namespace {

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
int field_width(const field_context& ctx, int index) {
  if (index < 0) return -index;
  return ctx.sizes[static_cast<std::size_t>(index)].width;
}

void raise_width(size_detail& d, std::size_t width) {
  if (width > static_cast<std::size_t>(d.width)) d.width = static_cast<std::int32_t>(width);
}

// Fields of a data pass (stream null) collect in ctx.sink, whose bytes the
// data writer hands on; a field for any other stream (a test's memstream) is
// written at once. field_begin gives room for n bytes, field_end takes them
// up to `end`.
char* field_begin(field_context& ctx, std::FILE* stream, std::size_t n) {
  if (stream == nullptr) return ctx.sink.room(n);
  if (ctx.temp.size() < n) ctx.temp.resize(n);
  return ctx.temp.data();
}

void field_end(field_context& ctx, std::FILE* stream, const char* end) {
  if (stream == nullptr) {
    ctx.sink.commit(end);
    return;
  }
  const char* begin = ctx.temp.data();
  std::fwrite(begin, 1, static_cast<std::size_t>(end - begin), stream);
}

void put_bytes(field_context& ctx, std::FILE* stream, std::string_view text) {
  char* p = field_begin(ctx, stream, text.size());
  std::memcpy(p, text.data(), text.size());
  field_end(ctx, stream, p + text.size());
}

// Widths beyond this (none that the data can give) keep the plain printf path.
constexpr int max_fast_width = 1 << 20;

// A field of an SPSS line, on a new line when it would make the line reach
// the limit (a field of 78 characters or more, a long missing text or
// numeric format, stands alone on its line). With `blank_first` the field is
// a blank followed by text.
void spss_append(field_context& ctx, std::FILE* stream, std::string_view text,
                 bool blank_first = false) {
  int& line = ctx.record.line;
  const std::size_t n = text.size() + (blank_first ? 1 : 0);
  char* const begin = field_begin(ctx, stream, 1 + n);
  char* p = begin;
  if (breaks_line(spss_layout, static_cast<std::size_t>(line), n)) {
    *p++ = '\n';
    line = 0;
  }
  if (blank_first) *p++ = ' ';
  std::memcpy(p, text.data(), text.size());
  line += static_cast<int>(n);
  field_end(ctx, stream, p + text.size());
}

char* csv_separator(field_context& ctx, char* p) {
  return put_separator(csv_layout, ctx.record, p);
}

}  // namespace

field_context make_field_context(const run_state& run) {
  field_context ctx;
  ctx.sizes = run.sizedetails;
  ctx.pflg = run.pflg;
  ctx.has_numeric_format = run.options.has_numeric_format;
  ctx.numeric_format = run.options.numeric_format;
  return ctx;
}

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

double stored_number(float value, const size_detail& d) {
  const auto v = static_cast<double>(value);
  if (!std::isfinite(v)) return std::numeric_limits<double>::quiet_NaN();
  const int decimals = d.kind == size_whole ? 0 : d.decimals;
  // A float has 24 significant bits and 5^10 fewer than 24, so v * 10^d is
  // exact up to 10 decimals; rounding it to an integer k then rounds the
  // exact value as printf does (to nearest, ties to even), and k / 10^d is
  // the double nearest to the text's value, as a reader's strtod gives it.
  static constexpr double powers[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10};
  if (decimals < 0 || decimals > 10) {
    const std::string text = format_text("%.*f", decimals, v);
    return std::strtod(text.c_str(), nullptr) + 0.0;
  }
  const double scale = powers[decimals];
  return std::nearbyint(v * scale) / scale + 0.0;  // + 0.0: -0 reads as 0
}

// Row 0: fixed columns, nothing between the fields.

void out_i(field_context& ctx, std::FILE* stream, std::int32_t value, int index) {
  const int width = field_width(ctx, index);
  char* p =
      field_begin(ctx, stream, std::max(fast_room, static_cast<std::size_t>(std::abs(width))));
  field_end(ctx, stream, fast_int(p, value, width));
}

void out_s(field_context& ctx, std::FILE* stream, std::string_view text, int index) {
  // Control characters and bytes 128 to 255 (below 32 as signed characters)
  // would break the columns of a reader that counts characters.
  const int width = field_width(ctx, index);
  if (width < -max_fast_width || width > max_fast_width) {
    std::string shown(text);
    for (char& c : shown)
      if (static_cast<signed char>(c) < 32) c = ' ';
    put_bytes(ctx, stream, format_text("%*s", width, shown.c_str()));
    return;
  }
  const std::size_t n = std::max(text.size(), static_cast<std::size_t>(std::abs(width)));
  char* p = field_begin(ctx, stream, n);
  char* end = fast_text(p, text, width);
  // The padding is blanks already, so the whole field can be cleaned.
  for (char* c = p; c != end; ++c)
    if (static_cast<signed char>(*c) < 32) *c = ' ';
  field_end(ctx, stream, end);
}

void out_f(field_context& ctx, std::FILE* stream, float value, int index) {
  const size_detail& d = ctx.sizes[static_cast<std::size_t>(index)];
  const auto v = static_cast<double>(value);
  const int decimals = d.kind == size_whole ? 0 : d.decimals;
  if (!fast_fits(d.width, decimals)) {
    put_bytes(ctx, stream,
              d.kind == size_whole ? format_text("%*s", d.width, whole_number_text(value).c_str())
                                   : format_text("%*.*f", d.width, d.decimals, v));
    return;
  }
  char* p = field_begin(ctx, stream, fast_room);
  char* end;
  if (d.kind == size_whole) {
    // whole_number_text: "%d" of the value cut toward zero when it fits,
    // else "%.0f"; padded as "%*s".
    const double cut = std::trunc(v);
    if (cut >= INT32_MIN && cut <= INT32_MAX)
      end = fast_int(p, static_cast<std::int32_t>(cut), d.width);
    else
      end = fast_fixed(p, v, d.width, 0);
  } else {
    end = fast_fixed(p, v, d.width, d.decimals);
  }
  field_end(ctx, stream, end);
}

void out_r(field_context& ctx, std::FILE* stream) { put_bytes(ctx, stream, "\n"); }

// Row 1: the measuring pass writes nothing and records kind, width, decimals
// and range of every numeric field.

void calc_f(field_context& ctx, std::FILE*, float value, int index) {
  size_detail& d = ctx.sizes[static_cast<std::size_t>(index)];
  // The shape of the "%f" text of the value. An infinity or a NaN has no
  // point and counts as whole.
  const fixed_shape text = shape_of_f(static_cast<double>(value));
  const std::size_t point = text.point;
  const bool fraction = text.fraction;

  if (d.kind == size_none || d.kind == size_whole) d.kind = fraction ? size_real : size_whole;
  // A field that has held the missing text keeps kind 3 but still learns its
  // decimals from a value with a fractional part, so the order of the cases
  // does not change how the values are written.
  const bool measure_real = d.kind == size_real || (d.kind == size_text && fraction);
  if (measure_real) {
    const auto n = static_cast<std::int32_t>(text.size - point);
    if (ctx.pflg != 0)
      d.decimals = ctx.pflg;
    else if (n > d.decimals)
      d.decimals = n;
  }

  if (d.decimals == 0)
    raise_width(d, point);
  else if (measure_real)
    raise_width(d, text.size + 1);
  else
    raise_width(d, point + 2);

  if (value > d.max) d.max = value;
  if (value < d.min) d.min = value;
}

void calc_s(field_context& ctx, std::FILE*, std::string_view text, int index) {
  size_detail& d = ctx.sizes[static_cast<std::size_t>(index)];
  d.kind = size_text;
  raise_width(d, text.size());
}

void calc_i(field_context& ctx, std::FILE*, std::int32_t value, int index) {
  if (index < 0) return;  // the measuring pass writes no axis fields
  size_detail& d = ctx.sizes[static_cast<std::size_t>(index)];
  d.kind = size_whole;
  char buffer[fast_room];
  raise_width(d, static_cast<std::size_t>(fast_int(buffer, value, 0) - buffer));
}

// Row 2: SPSS free format, every field after a blank.

void spss_out_i(field_context& ctx, std::FILE* stream, std::int32_t value, int) {
  char buffer[fast_room];
  buffer[0] = ' ';
  spss_append(ctx, stream, std::string_view(buffer, fast_int(buffer + 1, value, 0)));
}

void spss_out_s(field_context& ctx, std::FILE* stream, std::string_view text, int) {
  spss_append(ctx, stream, text, true);
}

void spss_out_f(field_context& ctx, std::FILE* stream, float value, int) {
  const auto v = static_cast<double>(value);
  if (ctx.has_numeric_format) {
    std::string field = format_with(ctx.numeric_format, v);
    if (field.find('.') != std::string::npos) {
      field.erase(field.find_last_not_of('0') + 1);
      if (field.back() == '.') field.pop_back();
    }
    spss_append(ctx, stream, field);
    return;
  }
  // " %f", then without the trailing zeros and a point left last.
  char buffer[fast_room];
  buffer[0] = ' ';
  std::string_view field(buffer, fast_fixed(buffer + 1, v, 0, 6));
  if (field.find('.') != std::string_view::npos) {
    field = field.substr(0, field.find_last_not_of('0') + 1);
    if (field.back() == '.') field.remove_suffix(1);
  }
  spss_append(ctx, stream, field);
}

void spss_out_r(field_context& ctx, std::FILE* stream) {
  put_bytes(ctx, stream, "\n");
  ctx.record.line = 0;
}

// Row 3: tab-separated fields without filling blanks.

void outcsv_f(field_context& ctx, std::FILE* stream, float value, int index) {
  const int decimals = ctx.sizes[static_cast<std::size_t>(index)].decimals;
  if (!fast_fits(0, decimals)) {
    outcsv_s(ctx, stream, format_text("%.*f", decimals, static_cast<double>(value)), index);
    return;
  }
  char* p = field_begin(ctx, stream, 1 + fast_room);
  field_end(ctx, stream,
            fast_fixed(csv_separator(ctx, p), static_cast<double>(value), 0, decimals));
}

void outcsv_i(field_context& ctx, std::FILE* stream, std::int32_t value, int) {
  char* p = field_begin(ctx, stream, 1 + fast_room);
  field_end(ctx, stream, fast_int(csv_separator(ctx, p), value, 0));
}

void outcsv_s(field_context& ctx, std::FILE* stream, std::string_view text, int) {
  char* p = csv_separator(ctx, field_begin(ctx, stream, 1 + text.size()));
  std::memcpy(p, text.data(), text.size());
  field_end(ctx, stream, p + text.size());
}

void outcsv_r(field_context& ctx, std::FILE* stream) {
  put_bytes(ctx, stream, "\n");
  ctx.record.fields = 0;
}

// Row 4: the system file's fields in the form of a case.

void sav_out_f(field_context& ctx, std::FILE* stream, float value, int index) {
  char* p = field_begin(ctx, stream, case_field_room);
  field_end(ctx, stream,
            case_field(p, stored_number(value, ctx.sizes[static_cast<std::size_t>(index)])));
}

void sav_out_i(field_context& ctx, std::FILE* stream, std::int32_t value, int) {
  char* p = field_begin(ctx, stream, case_field_room);
  field_end(ctx, stream, case_field(p, value));
}

void sav_out_s(field_context& ctx, std::FILE* stream, std::string_view, int) {
  char* p = field_begin(ctx, stream, case_field_room);
  field_end(ctx, stream, case_field(p, std::numeric_limits<double>::quiet_NaN()));
}

}  // namespace tx
