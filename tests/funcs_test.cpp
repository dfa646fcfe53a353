// Field writers on size records in memory; what they write is captured from a
// memory stream.
#include "fmtlib/write/funcs.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <vector>

#include "fmtlib/read/intermed.h"
#include "fmtlib/run/convert.h"
#include "fmtlib/write/outputcsv.h"
#include "testkit.h"

namespace tx {
namespace {

constexpr float lowest = -3.4028235e38f;
constexpr float highest = 3.4028235e38f;

struct field_run {
  run_state run;
  explicit field_run(int fields = 1) {
    run.progmode = &run.drivers[default_driver];
    for (int i = 0; i < fields; ++i)
      run.sizedetails.push_back(size_detail{i, size_none, 0, 0, lowest, highest});
  }
  size_detail& d(int i = 0) { return run.sizedetails[static_cast<std::size_t>(i)]; }
  void measure(std::initializer_list<float> values, int index = 0) {
    for (float v : values) {
      if (v == missing_value)
        calc_s(run, nullptr, " ", index);
      else
        calc_f(run, nullptr, v, index);
    }
  }
  std::string write(const std::function<void(std::FILE*)>& fn) { return testkit::capture(fn); }
};

TEST(Funcs, FixedColumnsWriteInTheFieldWidth) {
  field_run f;
  f.d() = {0, size_whole, 3, 0, 12, 12};
  EXPECT_EQ(" 12", f.write([&](std::FILE* s) { out_f(f.run, s, 12.0f, 0); }));
  EXPECT_EQ("  7", f.write([&](std::FILE* s) { out_i(f.run, s, 7, -3); }));
  EXPECT_EQ("  5", f.write([&](std::FILE* s) { out_i(f.run, s, 5, 0); }));
  EXPECT_EQ("\n", f.write([&](std::FILE* s) { out_r(f.run, s); }));
  // Control bytes and bytes above 127 become blanks; the field keeps its width.
  EXPECT_EQ("  a b", f.write([&](std::FILE* s) { out_s(f.run, s, "a\tb", -5); }));
  EXPECT_EQ("x y", f.write([&](std::FILE* s) { out_s(f.run, s, "x\xe9y", -1); }));
}

TEST(Funcs, RealValuesGetSevenDecimals) {
  field_run f;
  f.measure({1.5f, 12.25f});
  EXPECT_EQ(size_real, f.d().kind);
  EXPECT_EQ(7, f.d().decimals);
  EXPECT_EQ(10, f.d().width);  // "12.250000" and one more
  EXPECT_EQ(1.5f, f.d().min);
  EXPECT_EQ(12.25f, f.d().max);
  EXPECT_EQ(" 1.5000000", f.write([&](std::FILE* s) { out_f(f.run, s, 1.5f, 0); }));
  EXPECT_EQ("12.2500000", f.write([&](std::FILE* s) { out_f(f.run, s, 12.25f, 0); }));
}

TEST(Funcs, MeasuringKindsWidthsAndRanges) {
  const struct {
    std::vector<float> values;
    int pflg;
    int kind, width, decimals;
    float min, max;
  } cases[] = {
      {{3, 97}, 0, size_whole, 2, 0, 3, 97},
      {{-3, 8}, 0, size_whole, 2, 0, -3, 8},
      {{-2.5f, -7.25f}, 0, size_real, 10, 7, -7.25f, -2.5f},  // all negative: true maximum
      {{2.5f}, 2, size_real, 9, 2, 2.5f, 2.5f},               // -p 2; "%f" is 8 long
      {{5, 0.5f}, 0, size_real, 9, 7, 0.5f, 5},
      // The missing text makes kind 3; a later fractional value still gives
      // the decimals, and the widths follow the "%f" text as for a real field.
      {{missing_value, 1.5f, 2.25f}, 0, size_text, 9, 7, 1.5f, 2.25f},
      {{1.5f, 2.25f, missing_value}, 0, size_text, 9, 7, 1.5f, 2.25f},
      {{missing_value, 4, 12}, 0, size_text, 2, 0, 4, 12},
      {{missing_value}, 0, size_text, 1, 0, highest, lowest},
      // Outside the 32-bit range the "%f" text still gives the width.
      {{3e9f}, 0, size_whole, 10, 0, 3e9f, 3e9f},
  };
  for (const auto& c : cases) {
    field_run f;
    f.run.pflg = c.pflg;
    for (float v : c.values) f.measure({v});
    const std::string what = testing::PrintToString(c.values);
    EXPECT_EQ(c.kind, f.d().kind) << what;
    EXPECT_EQ(c.width, f.d().width) << what;
    EXPECT_EQ(c.decimals, f.d().decimals) << what;
    EXPECT_EQ(c.min, f.d().min) << what;
    EXPECT_EQ(c.max, f.d().max) << what;
  }
}

TEST(Funcs, InfinitiesAndNansMeasureAsWhole) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  field_run f(2);
  f.measure({inf}, 0);
  EXPECT_EQ(size_whole, f.d(0).kind);
  EXPECT_EQ(3, f.d(0).width);
  EXPECT_EQ(inf, f.d(0).max);
  f.measure({nan, 4}, 1);
  EXPECT_EQ(size_whole, f.d(1).kind);
  EXPECT_EQ(4, f.d(1).max);  // a NaN changes neither end of the range
  EXPECT_EQ(4, f.d(1).min);
  EXPECT_EQ("inf", f.write([&](std::FILE* s) { out_f(f.run, s, inf, 0); }));
  EXPECT_EQ("nan", whole_number_text(nan));
}

TEST(Funcs, WholeNumbersOutsideTheIntRangeKeepTheirValue) {
  const struct {
    double value;
    const char* text;
  } cases[] = {{2147483647.0, "2147483647"},  {-2147483648.0, "-2147483648"},
               {3e9, "3000000000"},           {-4294967296.0, "-4294967296"},
               {12.9, "12"},                  {-12.9, "-12"},
               {3.4028234663852886e38, "340282346638528859811704183484516925440"}};
  for (const auto& c : cases) EXPECT_EQ(c.text, whole_number_text(c.value)) << c.value;

  field_run f;
  f.d() = {0, size_whole, 10, 0, 3e9f, 3e9f};
  EXPECT_EQ("3000000000", f.write([&](std::FILE* s) { out_f(f.run, s, 3e9f, 0); }));
  EXPECT_EQ(10, printed_length(3e9, size_whole, 0));
  EXPECT_EQ(10, printed_length(12.25, size_real, 7));
  EXPECT_EQ(2, printed_length(9.5, size_text, 0));  // "%.0f" rounds to 10
}

TEST(Funcs, SpssFreeFormat) {
  field_run f;
  auto line = [&](const std::function<void(std::FILE*)>& fields) {
    return f.write([&](std::FILE* s) {
      fields(s);
      spss_out_r(f.run, s);
    });
  };
  EXPECT_EQ(" 3 2.5 0.000001 -1 -99.99\n", line([&](std::FILE* s) {
              spss_out_f(f.run, s, 3.0f, 0);
              spss_out_f(f.run, s, 2.5f, 0);
              spss_out_f(f.run, s, 0.000001f, 0);
              spss_out_i(f.run, s, -1, -1);
              spss_out_s(f.run, s, "-99.99", -1);
            }));
  // Nineteen fields of five characters: a sixteenth would make the line 80.
  const std::string fifteen = [] {
    std::string s;
    for (int i = 0; i < 15; ++i) s += " 1234";
    return s;
  }();
  EXPECT_EQ(fifteen + "\n 1234 1234 1234 1234\n", line([&](std::FILE* s) {
              for (int i = 0; i < 19; ++i) spss_out_i(f.run, s, 1234, -1);
            }));
  // Every case starts on a new line, an empty case too.
  EXPECT_EQ("\n", line([](std::FILE*) {}));

  f.run.options.has_numeric_format = true;
  f.run.options.numeric_format = " %.2f";
  EXPECT_EQ(" 2.5 3 0.01\n", line([&](std::FILE* s) {
              spss_out_f(f.run, s, 2.5f, 0);
              spss_out_f(f.run, s, 3.0f, 0);
              spss_out_f(f.run, s, 0.01f, 0);
            }));
}

TEST(Funcs, SpssFieldLongerThanALineStandsAlone) {
  field_run f;
  const std::string text(100, 'x');
  const std::string out = f.write([&](std::FILE* s) {
    spss_out_s(f.run, s, text, -1);
    spss_out_i(f.run, s, 1, -1);
    spss_out_r(f.run, s);
  });
  EXPECT_EQ(" " + text + "\n 1\n", out);
}

TEST(Funcs, TabSeparatedFields) {
  field_run f;
  f.d().decimals = 2;
  const std::string out = f.write([&](std::FILE* s) {
    outcsv_i(f.run, s, 1, -1);
    outcsv_i(f.run, s, 2, -1);
    outcsv_s(f.run, s, " ", 0);
    outcsv_r(f.run, s);
    outcsv_f(f.run, s, 2.5f, 0);
    outcsv_r(f.run, s);
  });
  EXPECT_EQ("1\t2\t \n2.50\n", out);
  EXPECT_EQ(0, f.run.progmode->field_count);
}

}  // namespace
}  // namespace tx
