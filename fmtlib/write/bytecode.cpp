#include "write/bytecode.h"

#include <cmath>
#include <cstring>

namespace tx {

char* case_field(char* out, double value) {
  if (std::isnan(value)) {
    *out = static_cast<char>(sysmis_code);
    return out + 1;
  }
  if (value >= 1 - compression_bias && value <= 251 - compression_bias &&
      value == std::trunc(value)) {
    *out = static_cast<char>(static_cast<std::uint8_t>(value + compression_bias));
    return out + 1;
  }
  *out = static_cast<char>(raw_code);
  std::memcpy(out + 1, &value, sizeof value);
  return out + 1 + sizeof value;
}

// A run of one-byte codes goes in with one copy while the open block holds
// no 8-byte value, since blocks without values lie end to end; a raw-value
// code, and codes while values wait after the open block, go one at a time.
std::size_t bytecode_encoder::add(out_buffer& out, const char* p, const char* end) {
  const auto n_bytes = static_cast<std::size_t>(end - p);
  // The fields, and the codes of one block not yet filled.
  char* bytes = out.room(n_bytes + 16) - out.used;
  std::size_t used = out.used;
  std::size_t fields = 0;
  while (p != end) {
    const bool open = codes != 8;
    if (static_cast<std::uint8_t>(*p) != raw_code && (!open || used == command + 8)) {
      const void* raw = std::memchr(p, raw_code, static_cast<std::size_t>(end - p));
      const char* run_end = raw != nullptr ? static_cast<const char*>(raw) : end;
      const auto n = static_cast<std::size_t>(run_end - p);
      const std::size_t base = open ? command : used;
      const std::size_t total = (open ? static_cast<std::size_t>(codes) : 0) + n;
      std::memcpy(bytes + base + total - n, p, n);
      command = base + 8 * ((total - 1) / 8);  // the last block the run reaches
      codes = static_cast<int>(total - (command - base));
      std::memset(bytes + base + total, 0, 8 - static_cast<std::size_t>(codes));
      used = command + 8;
      fields += n;
      p = run_end;
      continue;
    }
    const auto code = static_cast<std::uint8_t>(*p++);
    if (codes == 8) {
      command = used;
      std::memset(bytes + used, 0, 8);
      used += 8;
      codes = 0;
    }
    bytes[command + static_cast<std::size_t>(codes++)] = static_cast<char>(code);
    if (code == raw_code) {
      std::memcpy(bytes + used, p, 8);
      used += 8;
      p += 8;
    }
    ++fields;
  }
  out.used = used;
  return fields;
}

std::string bytecode_encoder::cut_open_block(out_buffer& out) {
  if (codes == 8) return {};
  std::string block(out.bytes.data() + command, out.used - command);
  out.used = command;
  command = 0;
  return block;
}

void bytecode_encoder::resume(out_buffer& out, std::string_view open_block) {
  char* p = out.room(open_block.size());
  std::memcpy(p, open_block.data(), open_block.size());
  out.commit(p + open_block.size());
}

}  // namespace tx
