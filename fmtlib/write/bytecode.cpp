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

namespace {

// The size of the field at p in the form of a case.
std::size_t field_size(const char* p) {
  return static_cast<std::uint8_t>(*p) == raw_code ? 1 + sizeof(double) : 1;
}

// A group of eight fields at p: its codes first, then its raw values, in
// place. Returns the end of the group, or null when fewer than eight fields
// lie before `end`.
char* rewrite_group(char* p, const char* end) {
  char codes[8];
  char values[8 * sizeof(double)];
  std::size_t n_values = 0;
  const char* q = p;
  for (int k = 0; k < 8; ++k) {
    if (q == end) return nullptr;
    codes[k] = *q;
    if (static_cast<std::uint8_t>(*q) == raw_code) {
      std::memcpy(values + sizeof(double) * n_values++, q + 1, sizeof(double));
      q += 1 + sizeof(double);
    } else {
      ++q;
    }
  }
  std::memcpy(p, codes, 8);
  std::memcpy(p + 8, values, sizeof(double) * n_values);
  return p + 8 + sizeof(double) * n_values;
}

}  // namespace

std::size_t bytecode_encoder::encode(out_buffer& buffer, std::size_t& begin) {
  char* const base = buffer.bytes.data();
  begin = front_room - open.size();
  std::memcpy(base + begin, open.data(), open.size());
  const std::size_t waiting = open_fields;
  char* p = base + begin;
  char* const end = base + buffer.used;
  std::size_t fields = 0;
  for (;;) {
    // Up to the next raw-value code every field is one byte, and every
    // whole group of them is in bytecode already.
    const void* raw = std::memchr(p, raw_code, static_cast<std::size_t>(end - p));
    const auto plain =
        static_cast<std::size_t>((raw != nullptr ? static_cast<const char*>(raw) : end) - p);
    p += plain / 8 * 8;
    fields += plain / 8 * 8;
    char* const next = rewrite_group(p, end);
    if (next == nullptr) break;
    p = next;
    fields += 8;
  }
  open.assign(p, static_cast<std::size_t>(end - p));
  open_fields = 0;
  for (const char* q = open.data(); q != open.data() + open.size(); q += field_size(q))
    ++open_fields;
  buffer.used = static_cast<std::size_t>(p - base);
  return fields + open_fields - waiting;
}

void bytecode_encoder::finish(out_buffer& buffer) {
  if (open_fields == 0) return;
  char* const start = buffer.room(8 + open.size());
  char* p = start + 8;
  std::memset(start, 0, 8);
  std::size_t k = 0;
  for (const char* q = open.data(); q != open.data() + open.size(); q += field_size(q)) {
    start[k++] = *q;
    if (static_cast<std::uint8_t>(*q) == raw_code) {
      std::memcpy(p, q + 1, sizeof(double));
      p += sizeof(double);
    }
  }
  buffer.commit(p);
  open.clear();
  open_fields = 0;
}

}  // namespace tx
