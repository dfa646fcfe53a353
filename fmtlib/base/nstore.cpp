#include "base/nstore.h"

#include <cstdlib>

#include "base/misc.h"

namespace tx {

block_store::~block_store() { free_store(*this); }

store_block* newblock(block_store& s, std::uint32_t size, int make_current) {
  // The header is followed directly by the usable space; the whole block is
  // zeroed so every piece handed out reads as zeros.
  void* raw = std::calloc(1, sizeof(store_block) + std::size_t{size});
  if (raw == nullptr) errormess(0, "Out of memory in newblock();");
  auto* b = static_cast<store_block*>(raw);
  b->size = size;
  b->left = size;
  b->free = reinterpret_cast<std::uint8_t*>(b + 1);
  b->next = nullptr;
  if (s.blockend != nullptr)
    s.blockend->next = b;
  else
    s.blocklist = b;
  s.blockend = b;
  if (make_current != 0) s.currblock = b;
  return b;
}

void init_store(block_store& s) {
  free_store(s);
  newblock(s, block_size, 1);
}

void* oalloc(block_store& s, std::size_t n) {
  // A block's size is a 32-bit count; nothing larger can be served.
  if (n > std::size_t{UINT32_MAX} - store_alignment) errormess(0, "Out of memory in newblock();");
  n = (n + store_alignment - 1) & ~std::size_t{store_alignment - 1};
  const auto size = static_cast<std::uint32_t>(n);
  if (size > block_size) return newblock(s, size, 0)->free;
  if (s.currblock == nullptr || s.currblock->left < size) newblock(s, block_size, 1);
  store_block* b = s.currblock;
  std::uint8_t* piece = b->free;
  b->left -= size;
  b->free += size;
  return piece;
}

void free_store(block_store& s) {
  for (store_block* b = s.blocklist; b != nullptr;) {
    store_block* next = b->next;
    std::free(b);
    b = next;
  }
  s.blocklist = s.blockend = s.currblock = nullptr;
}

char* store_text(block_store& s, std::string_view text) {
  auto* copy = static_cast<char*>(oalloc(s, text.size() + 1));
  if (!text.empty()) std::memcpy(copy, text.data(), text.size());
  return copy;
}

}  // namespace tx
