#include "bytecode_kit.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "fmtlib/base/misc.h"
#include "fmtlib/write/bytecode.h"

namespace testkit {

std::string decode_bytecode(std::string_view bytes, std::size_t count,
                            std::vector<double>& values) {
  values.clear();
  std::size_t at = 0;
  while (values.size() < count) {
    if (bytes.size() - at < 8) return "a block of codes cut short at byte " + std::to_string(at);
    const std::size_t block = at;
    at += 8;
    for (std::size_t i = 0; i < 8; ++i) {
      const auto code = static_cast<std::uint8_t>(bytes[block + i]);
      const std::string where = " at byte " + std::to_string(block + i);
      if (values.size() == count) {
        if (code != 0) return "code " + std::to_string(code) + " after the last value" + where;
      } else if (code >= 1 && code <= 251) {
        values.push_back(code - tx::compression_bias);
      } else if (code == tx::raw_code) {
        // The raw values of a block follow it in the order of its codes.
        if (bytes.size() - at < 8) return "a raw value cut short" + where;
        double v;
        std::memcpy(&v, bytes.data() + at, sizeof v);
        at += 8;
        values.push_back(v);
      } else if (code == tx::sysmis_code) {
        values.push_back(std::nan(""));
      } else {
        return "code " + std::to_string(code) + " before the last value" + where;
      }
    }
  }
  if (at != bytes.size()) return std::to_string(bytes.size() - at) + " bytes after the last block";
  return "";
}

std::string encode_cases(const std::vector<double>& values, std::size_t fields_per_case,
                         const std::vector<std::size_t>& batch_cases, std::string& problem) {
  const std::size_t cases = fields_per_case == 0 ? 0 : values.size() / fields_per_case;
  tx::bytecode_encoder encoder;
  tx::out_buffer sink;
  std::string file;
  std::size_t next_batch = 0;
  // One batch at least: a pass over no cases hands over one empty batch.
  std::size_t first = 0;
  do {
    std::size_t n = batch_cases.empty() ? cases : batch_cases[next_batch++ % batch_cases.size()];
    n = std::min(std::max<std::size_t>(n, 1), cases - first);
    // The room the encoder keeps before a buffer's fields, as the data
    // writer's buffers keep it.
    sink.used = 0;
    sink.commit(sink.room(tx::bytecode_encoder::front_room) + tx::bytecode_encoder::front_room);
    for (std::size_t i = first * fields_per_case; i < (first + n) * fields_per_case; ++i) {
      char* p = sink.room(tx::case_field_room);
      sink.commit(tx::case_field(p, values[i]));
    }
    std::size_t begin = 0;
    const std::size_t fields = encoder.encode(sink, begin);
    if (fields != n * fields_per_case && problem.empty())
      problem = "the encoder took " + std::to_string(fields) + " fields of " +
                std::to_string(n * fields_per_case) + " in the batch from case " +
                std::to_string(first);
    file.append(sink.bytes.data() + begin, sink.used - begin);
    first += n;
  } while (first < cases);
  sink.used = 0;
  encoder.finish(sink);
  file.append(sink.bytes.data(), sink.used);
  return file;
}

bool same_value(double written, double read) {
  return written == read || (std::isnan(written) && std::isnan(read));
}

}  // namespace testkit
