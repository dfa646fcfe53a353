// Block store: every record and text of a run is cut from large zero-filled
// blocks by moving a pointer and released all at once when the run ends.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>
#include <type_traits>

namespace tx {

inline constexpr std::uint32_t block_size = 65536;  // usable bytes of a standard block
inline constexpr std::uint32_t store_alignment = 8;

struct store_block {
  store_block* next;
  std::uint32_t size;  // usable bytes
  std::uint32_t left;  // usable bytes not yet handed out
  std::uint8_t* free;  // first byte not yet handed out
};

struct block_store {
  store_block* blocklist = nullptr;  // first block
  store_block* blockend = nullptr;   // last block, where new ones are linked in
  store_block* currblock = nullptr;  // small requests are served from here
  block_store() = default;
  block_store(const block_store&) = delete;
  block_store& operator=(const block_store&) = delete;
  ~block_store();
};

void init_store(block_store& s);
store_block* newblock(block_store& s, std::uint32_t size, int make_current);
// Zero-filled piece of n bytes rounded up to 8; stops the run when memory is
// exhausted or n cannot be a block size.
void* oalloc(block_store& s, std::size_t n);
void free_store(block_store& s);

template <class T>
T* make_record(block_store& s) {
  static_assert(std::is_trivially_destructible_v<T>, "store records are never destroyed");
  static_assert(alignof(T) <= store_alignment);
  return ::new (oalloc(s, sizeof(T))) T;
}

template <class T>
T* make_array(block_store& s, std::size_t n) {
  static_assert(std::is_trivially_destructible_v<T>, "store records are never destroyed");
  static_assert(alignof(T) <= store_alignment);
  if (n > SIZE_MAX / sizeof(T) / 2) n = SIZE_MAX / 2;  // oalloc refuses it
  void* p = oalloc(s, n * sizeof(T));
  return ::new (p) T[n];
}

// A NUL-terminated copy of text, exactly its length plus one.
char* store_text(block_store& s, std::string_view text);

}  // namespace tx
