// The field writers, one table each for writing and measuring: every row runs
// a list of fields through one row of outputroutines and compares the bytes.
#include "fmtlib/write/funcs.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "fmtlib/driver/convert.h"
#include "fmtlib/read/intermed.h"
#include "testkit.h"

namespace tx {
namespace {

constexpr float inf = std::numeric_limits<float>::infinity();
constexpr float nan = std::numeric_limits<float>::quiet_NaN();

// One field: 'f' a float, 'i' an int, 's' a text, 'r' the end of a record.
struct field {
  char op;
  double value = 0;
  int index = 0;
  const char* text = "";
};

void put(field_context& ctx, const output_routines& row, std::FILE* f, const field& x) {
  switch (x.op) {
    case 'f':
      return row.put_float(ctx, f, static_cast<float>(x.value), x.index);
    case 'i':
      return row.put_int(ctx, f, static_cast<std::int32_t>(x.value), x.index);
    case 's':
      return row.put_string(ctx, f, x.text, x.index);
    default:
      return row.end_record(ctx, f);
  }
}

std::vector<field> many(int n, field x) {
  return std::vector<field>(static_cast<std::size_t>(n), x);
}

TEST(Funcs, FieldWritersWriteTheFormsBytes) {
  const std::string fifteen = [] {
    std::string s;
    for (int i = 0; i < 15; ++i) s += " 1234";
    return s;
  }();
  std::vector<field> nineteen = many(19, {'i', 1234, -1});
  nineteen.push_back({'r'});
  const struct {
    int row;
    size_detail d;  // ordinal, kind, width, decimals, max, min
    const char* numeric_format;
    std::vector<field> fields;
    std::string want;
  } cases[] = {
      {row_fixed,
       {0, size_whole, 3, 0, 12, 12},
       nullptr,
       {{'f', 12}, {'i', 7, -3}, {'i', 5, 0}, {'r'}},
       " 12  7  5\n"},
      // Control bytes and bytes above 127 become blanks; the width stays.
      {row_fixed, {}, nullptr, {{'s', 0, -5, "a\tb"}, {'s', 0, -1, "x\xe9y"}}, "  a bx y"},
      {row_fixed,
       {0, size_real, 10, 7, 12.25f, 1.5f},
       nullptr,
       {{'f', 1.5}, {'f', 12.25}},
       " 1.500000012.2500000"},
      {row_fixed,
       {0, size_whole, 10, 0, 3e9f, 3e9f},
       nullptr,
       {{'f', 3e9}, {'f', -12.9}},
       "3000000000       -12"},
      {row_fixed, {0, size_whole, 3, 0, 0, 0}, nullptr, {{'f', inf}, {'f', nan}}, "infnan"},
      {row_fixed, {0, size_text, 4, 2, 0, 0}, nullptr, {{'f', 2.5}, {'f', -0.125}}, "2.50-0.12"},
      {row_spss,
       {},
       nullptr,
       {{'f', 3}, {'f', 2.5}, {'f', 0.000001}, {'i', -1, -1}, {'s', 0, -1, "-99.99"}, {'r'}},
       " 3 2.5 0.000001 -1 -99.99\n"},
      // A line never reaches 80 characters; a longer field stands alone.
      {row_spss, {}, nullptr, nineteen, fifteen + "\n 1234 1234 1234 1234\n"},
      {row_spss,
       {},
       nullptr,
       {{'s', 0, -1,
         "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"},
        {'i', 1, -1},
        {'r'}},
       " xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\n "
       "1\n"},
      {row_spss, {}, nullptr, {{'r'}, {'r'}}, "\n\n"},  // an empty case is a line too
      {row_spss, {}, " %.2f", {{'f', 2.5}, {'f', 3}, {'f', 0.01}, {'r'}}, " 2.5 3 0.01\n"},
      {row_csv,
       {0, size_real, 0, 2, 0, 0},
       nullptr,
       {{'i', 1, -1}, {'i', 2, -1}, {'s', 0, 0, " "}, {'r'}, {'f', 2.5}, {'r'}},
       "1\t2\t \n2.50\n"},
  };
  for (const auto& c : cases) {
    field_context ctx;
    ctx.sizes = {c.d};
    if (c.numeric_format != nullptr) {
      ctx.has_numeric_format = true;
      ctx.numeric_format = c.numeric_format;
    }
    const std::string got = testkit::capture([&](std::FILE* f) {
      for (const field& x : c.fields) put(ctx, outputroutines[c.row], f, x);
    });
    EXPECT_EQ(c.want, got) << "row " << c.row << ", first field " << c.fields[0].value;
  }
}

// The measuring pass: kind, width, decimals and range of one numeric field.
TEST(Funcs, MeasuringKindsWidthsAndRanges) {
  const float m = missing_value;
  const struct {
    std::vector<float> values;
    int pflg;
    int kind, width, decimals;
    float min, max;
  } cases[] = {
      {{3, 97}, 0, size_whole, 2, 0, 3, 97},
      {{-3, 8}, 0, size_whole, 2, 0, -3, 8},
      {{1.5f, 12.25f}, 0, size_real, 10, 7, 1.5f, 12.25f},
      {{-2.5f, -7.25f}, 0, size_real, 10, 7, -7.25f, -2.5f},
      {{2.5f}, 2, size_real, 9, 2, 2.5f, 2.5f},  // -p 2; "%f" is 8 long
      {{5, 0.5f}, 0, size_real, 9, 7, 0.5f, 5},
      // The missing text makes kind 3; later values still give decimals.
      {{m, 1.5f, 2.25f}, 0, size_text, 9, 7, 1.5f, 2.25f},
      {{1.5f, 2.25f, m}, 0, size_text, 9, 7, 1.5f, 2.25f},
      {{m, 4, 12}, 0, size_text, 2, 0, 4, 12},
      {{m}, 0, size_text, 1, 0, FLT_MAX, -FLT_MAX},
      {{3e9f}, 0, size_whole, 10, 0, 3e9f, 3e9f},  // beyond the 32-bit range
      {{inf}, 0, size_whole, 3, 0, FLT_MAX, inf},
      {{nan, 4}, 0, size_whole, 3, 0, 4, 4},  // a NaN moves neither end
  };
  for (const auto& c : cases) {
    field_context ctx;
    ctx.pflg = c.pflg;
    ctx.sizes = {size_detail{0, size_none, 0, 0, -FLT_MAX, FLT_MAX}};
    for (float v : c.values) {
      if (v == m)
        calc_s(ctx, nullptr, " ", 0);
      else
        calc_f(ctx, nullptr, v, 0);
    }
    const size_detail& d = ctx.sizes[0];
    const std::string what = testing::PrintToString(c.values);
    EXPECT_EQ(c.kind, d.kind) << what;
    EXPECT_EQ(c.width, d.width) << what;
    EXPECT_EQ(c.decimals, d.decimals) << what;
    EXPECT_EQ(c.min, d.min) << what;
    EXPECT_EQ(c.max, d.max) << what;
  }
}

}  // namespace
}  // namespace tx
