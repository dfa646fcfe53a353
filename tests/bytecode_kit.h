// The test kit's side of the system file's bytecode: a decoder that reads
// the cases back, strict about the layout the encoder promises, and an
// encoder run that hands the cases over in batches as the data writer does.
// The encoder's tests and its fuzz target share both.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace testkit {

// Reads `bytes` as blocks of eight codes, each followed by the 8-byte values
// of its raw-value codes, holding exactly `count` values (system-missing as
// a NaN) into `values`. Returns "" when the bytes are exactly that; else
// what breaks the layout: a code 0 before the last value, a code other than
// 0 after it, a code the encoder never writes, a block or a value cut
// short, bytes after the last block, or fewer values.
std::string decode_bytecode(std::string_view bytes, std::size_t count, std::vector<double>& values);

// The bytecode of `values` (cases of fields_per_case fields), put through
// case_field and bytecode_encoder as the system file's data pass does: in
// batches of batch_cases[0], batch_cases[1], ... cases (taken in turn again
// after the last; a 0 counts as 1; none: one batch of all), each batch's
// whole groups handed over and its open group carried into the next. A
// batch whose count of fields the encoder gets wrong is reported in
// `problem`.
std::string encode_cases(const std::vector<double>& values, std::size_t fields_per_case,
                         const std::vector<std::size_t>& batch_cases, std::string& problem);

// Whether a value read back is the value written: the same number (0 and
// -0 alike, as the one-byte code holds no sign), or both NaN.
bool same_value(double written, double read);

}  // namespace testkit
