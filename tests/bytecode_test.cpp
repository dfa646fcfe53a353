// The system file's bytecode: the bytes of known cases at the block
// boundaries, and cases handed over in batches read back by the test kit's
// decoder (tests/bytecode_kit) as they went in, in the bytes of one pass.
#include "fmtlib/write/bytecode.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "bytecode_kit.h"

namespace tx {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

// A block of codes, missing codes as 0.
std::string block(std::initializer_list<int> codes) {
  std::string b(8, '\0');
  std::size_t i = 0;
  for (const int c : codes) b[i++] = static_cast<char>(c);
  return b;
}

std::string raw(double v) {
  std::string b(8, '\0');
  std::memcpy(b.data(), &v, sizeof v);
  return b;
}

std::string hex(const std::string& bytes) {
  std::string out;
  char two[4];
  for (const char c : bytes) {
    std::snprintf(two, sizeof two, "%02x ", static_cast<unsigned>(static_cast<std::uint8_t>(c)));
    out += two;
  }
  return out;
}

std::string encode(const std::vector<double>& values, std::size_t fields_per_case,
                   const std::vector<std::size_t>& batches = {}) {
  std::string problem;
  std::string bytes = testkit::encode_cases(values, fields_per_case, batches, problem);
  EXPECT_EQ("", problem);
  return bytes;
}

TEST(Bytecode, CasesGiveTheBlocksOfTheirCodes) {
  const struct {
    const char* what;
    std::vector<double> values;
    std::size_t fields;
    std::string bytes;
  } cases[] = {
      {"no cases", {}, 3, ""},
      {"one whole block",
       {1, 2, 3, 4, 5, 6, 7, 8},
       4,
       block({101, 102, 103, 104, 105, 106, 107, 108})},
      {"the last block padded",
       {0, 0, 0, 0, 0, 0, 0, 0, 9},
       1,
       block({100, 100, 100, 100, 100, 100, 100, 100}) + block({109})},
      {"the ends of the codes",
       {-99, 151, -100, 152, 0.5, -0.0, nan, inf},
       8,
       block({1, 251, 253, 253, 253, 100, 255, 253}) + raw(-100) + raw(152) + raw(0.5) + raw(inf)},
      {"raw values across blocks", std::vector<double>(10, 1e300), 5,
       block({253, 253, 253, 253, 253, 253, 253, 253}) + raw(1e300) + raw(1e300) + raw(1e300) +
           raw(1e300) + raw(1e300) + raw(1e300) + raw(1e300) + raw(1e300) + block({253, 253}) +
           raw(1e300) + raw(1e300)},
      {"codes around a raw value", {1, 0.25, 2}, 3, block({101, 253, 102}) + raw(0.25)},
      {"a raw value ends a block",
       {1, 2, 3, 4, 5, 6, 7, 1.5, 8},
       9,
       block({101, 102, 103, 104, 105, 106, 107, 253}) + raw(1.5) + block({108})},
  };
  for (const auto& c : cases) {
    const std::string bytes = encode(c.values, c.fields);
    EXPECT_EQ(hex(c.bytes), hex(bytes)) << c.what;
    // Every batch size gives the bytes of one pass.
    for (std::size_t batch = 1; batch <= c.values.size() / c.fields; ++batch)
      EXPECT_EQ(hex(c.bytes), hex(encode(c.values, c.fields, {batch})))
          << c.what << ", batch " << batch;
  }
}

// Values of every kind the cases hold: codes, raw values, system-missing.
std::vector<double> mixed_values(std::size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<double> values;
  for (std::size_t i = 0; i < n; ++i) {
    switch (random() % 6) {
      case 0:
        values.push_back(nan);
        break;
      case 1:
        values.push_back(static_cast<double>(random() % 400) / 4 - 50);
        break;
      case 2:
        values.push_back(static_cast<double>(random() % 300) - 120);
        break;
      default:
        values.push_back(static_cast<double>(random() % 3));
        break;  // yes/no fields
    }
  }
  return values;
}

TEST(Bytecode, BatchesReadBackAsTheCasesWent) {
  const struct {
    std::size_t fields, cases;
    std::vector<std::size_t> batches;
  } runs[] = {
      {1, 0, {}},    {13, 0, {4}},     {1, 17, {1}},     {3, 11, {2, 1}},  {8, 9, {1}},
      {13, 40, {3}}, {13, 40, {7, 1}}, {5, 64, {16, 9}}, {160, 6, {1, 2}}, {7, 100, {100}},
  };
  unsigned seed = 1;
  for (const auto& r : runs) {
    const std::vector<double> values = mixed_values(r.fields * r.cases, seed++);
    const std::string one_pass = encode(values, r.fields);
    const std::string batched = encode(values, r.fields, r.batches);
    const std::string what = std::to_string(r.cases) + " cases of " + std::to_string(r.fields);
    EXPECT_EQ(hex(one_pass), hex(batched)) << what;
    std::vector<double> back;
    ASSERT_EQ("", testkit::decode_bytecode(batched, values.size(), back)) << what;
    ASSERT_EQ(values.size(), back.size()) << what;
    for (std::size_t i = 0; i < values.size(); ++i)
      EXPECT_TRUE(testkit::same_value(values[i], back[i]))
          << what << ": value " << i << " " << values[i] << " read as " << back[i];
  }
}

}  // namespace
}  // namespace tx
