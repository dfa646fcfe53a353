// The fast field formatters must give printf's bytes for every value, width
// and number of decimals the data writer can meet, rounding included.
#include "fmtlib/write/fastfmt.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace tx {
namespace {

std::string printf_int(std::int32_t v, int width) {
  char b[fast_room + 64];
  std::snprintf(b, sizeof b, "%*d", width, v);
  return b;
}

std::string printf_fixed(double v, int width, int decimals) {
  char b[fast_room + 64];
  std::snprintf(b, sizeof b, "%*.*f", width, decimals, v);
  return b;
}

std::string fast_int_text(std::int32_t v, int width) {
  char b[fast_room];
  return std::string(b, fast_int(b, v, width));
}

std::string fast_fixed_text(double v, int width, int decimals) {
  char b[fast_room];
  return std::string(b, fast_fixed(b, v, width, decimals));
}

// Values where fixed-point rounding can go wrong: exact binary ties (which
// printf rounds to even), near-ties that are not ties in binary, carries that
// add a digit, signed zeros and negatives that round to zero, the float range.
const std::vector<double> rounding_cases = {
    0.0,     -0.0,          0.5,       1.5,       2.5,       -0.5,         -2.5,       0.125,
    0.375,   -0.625,        0.005,     0.015,     0.025,     1.005,        2.675,      9.995,
    99.5,    999.9999995,   0.9999999, 9.9999996, 1e-7,      -1e-7,        -0.004,     -0.0049,
    4.35,    1234.5678,     12.25,     1.0 / 3,   1048576.0, -1048576.0,   16777216.0, 16777217.0,
    1e10,    123456789.125, FLT_MAX,   -FLT_MAX,  FLT_MIN,   FLT_TRUE_MIN, 0.1f,       2.675f,
    DBL_MAX, -DBL_MAX,      DBL_MIN,   5e-324};

TEST(Fastfmt, FixedMatchesPrintfOnRoundingCases) {
  const int widths[] = {0, 1, 3, 8, 12, 40, fast_limit, -1, -9, -fast_limit};
  for (double v : rounding_cases)
    for (int decimals = 0; decimals <= 12; ++decimals)
      for (int width : widths)
        ASSERT_EQ(printf_fixed(v, width, decimals), fast_fixed_text(v, width, decimals))
            << v << " width " << width << " decimals " << decimals;
  for (double v : rounding_cases)
    for (int decimals : {20, 50, fast_limit})
      ASSERT_EQ(printf_fixed(v, 0, decimals), fast_fixed_text(v, 0, decimals)) << v;
}

TEST(Fastfmt, FixedMatchesPrintfOnRandomFloats) {
  // Every value of a case file is a 32-bit float: draw bit patterns across
  // all exponents, and decimal-looking values such as 12.34.
  std::mt19937 gen(20261206);
  std::uniform_int_distribution<std::uint32_t> bits;
  std::uniform_int_distribution<int> cents(-1000000, 1000000);
  std::uniform_int_distribution<int> decimals_of(0, 9);
  std::uniform_int_distribution<int> width_of(-12, 24);
  for (int i = 0; i < 200000; ++i) {
    float f = std::bit_cast<float>(bits(gen));
    if (i % 2 == 1) f = static_cast<float>(cents(gen)) / 100.0f;
    if (!std::isfinite(f)) continue;
    const double v = f;
    const int d = i % 3 == 0 ? 6 : decimals_of(gen);
    const int w = width_of(gen);
    ASSERT_EQ(printf_fixed(v, w, d), fast_fixed_text(v, w, d))
        << std::hexfloat << v << " width " << w << " decimals " << d;
  }
}

TEST(Fastfmt, FixedNonFiniteAsPrintf) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (double v : {inf, -inf, nan, -nan})
    for (int width : {0, 5, -6}) EXPECT_EQ(printf_fixed(v, width, 3), fast_fixed_text(v, width, 3));
}

TEST(Fastfmt, IntMatchesPrintf) {
  const std::int32_t values[] = {0,   1,     -1,     9,          10,      -10,     99,
                                 100, 12345, -98765, 1000000000, INT_MAX, INT_MIN, INT_MIN + 1};
  for (std::int32_t v : values)
    for (int width = -fast_limit; width <= fast_limit; ++width)
      ASSERT_EQ(printf_int(v, width), fast_int_text(v, width)) << v << " width " << width;
  std::mt19937 gen(7);
  std::uniform_int_distribution<std::int32_t> any(INT_MIN, INT_MAX);
  for (int i = 0; i < 100000; ++i) {
    const std::int32_t v = any(gen) >> (i % 31);
    ASSERT_EQ(printf_int(v, i % 13), fast_int_text(v, i % 13)) << v;
  }
}

TEST(Fastfmt, TextPaddedAsPrintf) {
  const struct {
    const char* text;
    int width;
  } cases[] = {{"", 0},       {"", 3},    {" ", 1},    {" ", 4},
               {"-99.99", 3}, {"abc", 5}, {"abc", -5}, {"abcdef", -2}};
  for (const auto& c : cases) {
    char want[64];
    std::snprintf(want, sizeof want, "%*s", c.width, c.text);
    char got[64];
    EXPECT_EQ(std::string(want), std::string(got, fast_text(got, c.text, c.width)))
        << '"' << c.text << "\" width " << c.width;
  }
}

TEST(Fastfmt, LimitsOfTheFastPath) {
  EXPECT_TRUE(fast_fits(fast_limit, fast_limit));
  EXPECT_TRUE(fast_fits(-fast_limit, 0));
  EXPECT_FALSE(fast_fits(fast_limit + 1, 0));
  EXPECT_FALSE(fast_fits(0, fast_limit + 1));
  EXPECT_FALSE(fast_fits(0, -1));
  // The longest fast text: -DBL_MAX with fast_limit decimals.
  EXPECT_LE(printf_fixed(-DBL_MAX, fast_limit, fast_limit).size(), fast_room);
}

TEST(Fastfmt, ShapeOfFMatchesPrintf) {
  // The measuring pass takes the point, size and fraction of "%f" without
  // formatting; they must be those of printf's text.
  std::mt19937 gen(14);
  std::uniform_int_distribution<std::uint32_t> bits;
  std::vector<double> values(std::begin(rounding_cases), std::end(rounding_cases));
  for (double v :
       {0.0, -0.0, 9.9999996, -0.0000004, 0.0000005, 0.0000015, 1e300, 0x1p33, 0x1p33 - 1024,
        -0x1p33, 8589934591.5, 0.1, std::numeric_limits<double>::infinity(),
        std::numeric_limits<double>::quiet_NaN()})
    values.push_back(v);
  for (int i = 0; i < 100000; ++i) values.push_back(std::bit_cast<float>(bits(gen)));
  for (double v : values) {
    const std::string text = printf_fixed(v, 0, 6);
    const std::size_t point = std::min(text.find('.'), text.size());
    const bool fraction =
        point < text.size() && text.find_first_not_of('0', point + 1) != std::string::npos;
    const fixed_shape s = shape_of_f(v);
    ASSERT_EQ(point, s.point) << text;
    ASSERT_EQ(text.size(), s.size) << text;
    ASSERT_EQ(fraction, s.fraction) << text;
  }
}

}  // namespace
}  // namespace tx
