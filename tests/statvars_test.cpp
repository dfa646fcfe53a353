// The code an element text gives under the k item: its leading number, after
// blanks, if it is one a code can be.
#include "fmtlib/model/statvars.h"

#include <gtest/gtest.h>

namespace tx {
namespace {

TEST(Statvars, CodeOfAnElementText) {
  constexpr std::int32_t none = -10000;
  const struct {
    const char* text;
    std::int32_t code;
  } rows[] = {
      {"7 Seven", 7},
      {"   42", 42},
      {"0", 0},
      {"999999999 the largest code", 999999999},
      {"1000000000 one more", none},
      {"99999999999999999999 far beyond", none},
      {"Seven", none},
      {"-3 negative", none},
      {"", none},
  };
  for (const auto& row : rows) EXPECT_EQ(row.code, extract_num(row.text)) << row.text;
}

}  // namespace
}  // namespace tx
