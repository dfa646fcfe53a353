// The system file's bytecode encoder on any values and case counts: the
// cases, handed over in batches as the data pass does, must read back
// exactly through the test kit's decoder, in the bytes one batch gives.
//
// Input: byte 0 the fields of a case (0 to 63), byte 1 the cases of a batch
// (1 to 16; with bit 4 set every fourth batch holds one case), then the
// values, each chosen by a byte: below 0xC0 a whole number, the byte - 102
// (-102 to 89, around the one-byte codes' lower end); 0xC0 to 0xEF the
// next byte + 50 (50 to 305, around their upper end); 0xFE system-missing;
// any other the next 8 bytes as a double (NaNs, infinities and -0
// included). Values that fill no whole case are dropped.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "kit.h"
#include "tests/bytecode_kit.h"

namespace tx::fuzz {

namespace {

std::vector<double> values_of(input data) {
  std::vector<double> values;
  for (std::size_t at = 0; at < data.size();) {
    const std::uint8_t selector = data[at++];
    if (selector < 0xC0) {
      values.push_back(static_cast<double>(selector) - 102);
    } else if (selector < 0xF0) {
      if (at == data.size()) break;
      values.push_back(static_cast<double>(data[at++]) + 50);
    } else if (selector == 0xFE) {
      values.push_back(std::nan(""));
    } else {
      if (data.size() - at < 8) break;
      double v;
      std::memcpy(&v, data.data() + at, sizeof v);
      at += 8;
      values.push_back(v);
    }
  }
  return values;
}

}  // namespace

std::string fuzz_bytecode(input data) {
  if (data.size() < 2) return "";
  const std::size_t fields = data[0] % 64;
  std::vector<std::size_t> batches = {1 + (data[1] & 15u)};
  if ((data[1] & 16) != 0) batches = {batches[0], batches[0], batches[0], 1};
  std::vector<double> values = values_of(data.subspan(2));
  const std::size_t cases = fields == 0 ? 0 : values.size() / fields;
  values.resize(cases * fields);

  std::string problem;
  const std::string bytes = testkit::encode_cases(values, fields, batches, problem);
  if (!problem.empty()) return problem;
  const std::string one_pass = testkit::encode_cases(values, fields, {}, problem);
  if (!problem.empty()) return problem;
  if (bytes != one_pass)
    return "batches of " + std::to_string(batches[0]) + " cases give other bytes than one pass";
  std::vector<double> back;
  if (std::string broken = testkit::decode_bytecode(bytes, values.size(), back); !broken.empty())
    return broken;
  for (std::size_t i = 0; i < values.size(); ++i)
    if (!testkit::same_value(values[i], back[i]))
      return "value " + std::to_string(i) + " read back as another";
  return "";
}

}  // namespace tx::fuzz
