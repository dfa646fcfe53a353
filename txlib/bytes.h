// Big-endian field access for the binary job files: every number in them is
// stored most significant byte first, whatever the machine's own order.
#pragma once
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

namespace tx {

inline std::uint16_t be_u16(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint16_t>((b[at] << 8) | b[at + 1]);
}
inline std::int16_t be_i16(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::int16_t>(be_u16(b, at));
}
inline std::uint32_t be_u32(std::span<const std::uint8_t> b, std::size_t at) {
  return (std::uint32_t{b[at]} << 24) | (std::uint32_t{b[at + 1]} << 16) |
         (std::uint32_t{b[at + 2]} << 8) | std::uint32_t{b[at + 3]};
}
inline std::int32_t be_i32(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::int32_t>(be_u32(b, at));
}
inline float be_f32(std::span<const std::uint8_t> b, std::size_t at) {
  return std::bit_cast<float>(be_u32(b, at));
}

inline void put_be16(std::span<std::uint8_t> b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v >> 8);
  b[at + 1] = static_cast<std::uint8_t>(v);
}
inline void put_be32(std::span<std::uint8_t> b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<std::uint8_t>(v >> 24);
  b[at + 1] = static_cast<std::uint8_t>(v >> 16);
  b[at + 2] = static_cast<std::uint8_t>(v >> 8);
  b[at + 3] = static_cast<std::uint8_t>(v);
}
inline void put_bef32(std::span<std::uint8_t> b, std::size_t at, float v) {
  put_be32(b, at, std::bit_cast<std::uint32_t>(v));
}

}  // namespace tx
