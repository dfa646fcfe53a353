#include "fmtlib/run/nstore.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "testkit.h"

namespace tx {
namespace {

std::uintptr_t addr(void* p) { return reinterpret_cast<std::uintptr_t>(p); }

TEST(Nstore, SmallRequestsRoundToEightAndFollowEachOther) {
  block_store s;
  init_store(s);
  void* a = oalloc(s, 1);
  void* b = oalloc(s, 8);
  void* c = oalloc(s, 9);
  void* d = oalloc(s, 0);  // the current free position, not advanced
  void* e = oalloc(s, 1);
  EXPECT_EQ(addr(a) + 8, addr(b));
  EXPECT_EQ(addr(b) + 8, addr(c));
  EXPECT_EQ(addr(c) + 16, addr(d));
  EXPECT_EQ(addr(d), addr(e));
  EXPECT_EQ(0u, addr(a) % 8);
  EXPECT_EQ(block_size - 8 - 8 - 16 - 8, s.currblock->left);
}

TEST(Nstore, LargeRequestsGetBlocksOfTheirOwn) {
  block_store s;
  init_store(s);
  store_block* first = s.currblock;
  void* whole = oalloc(s, 65536);  // the untouched first block serves it
  EXPECT_EQ(first->free - 65536, static_cast<std::uint8_t*>(whole));
  EXPECT_EQ(first, s.currblock);
  void* small = oalloc(s, 8);  // no room left: a fresh standard block
  store_block* second = s.currblock;
  EXPECT_NE(first, second);
  auto* big = static_cast<std::uint8_t*>(oalloc(s, 65537));
  EXPECT_EQ(65544u, s.blockend->size);
  EXPECT_EQ(second, s.currblock);  // a big block never becomes current
  void* next = oalloc(s, 8);
  EXPECT_EQ(addr(small) + 8, addr(next));
  for (int i = 0; i < 65544; ++i) ASSERT_EQ(0, big[i]);
}

TEST(Nstore, NewBlockWhenTheRestDoesNotFit) {
  block_store s;
  init_store(s);
  oalloc(s, 65536 - 16);
  store_block* first = s.currblock;
  oalloc(s, 24);  // does not fit the 16 left
  EXPECT_NE(first, s.currblock);
  EXPECT_EQ(16u, first->left);
  oalloc(s, 8);  // would fit the old block, but it is never used again
  EXPECT_EQ(16u, first->left);
}

TEST(Nstore, PiecesReadAsZerosAndTextsAreExact) {
  block_store s;
  init_store(s);
  auto* p = static_cast<unsigned char*>(oalloc(s, 1000));
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(0, p[i]);
  char* t = store_text(s, "abc");
  EXPECT_STREQ("abc", t);
  free_store(s);
  EXPECT_EQ(nullptr, s.blocklist);
  EXPECT_EQ(nullptr, s.currblock);
}

TEST(Nstore, ImpossibleSizeStopsTheRun) {
  block_store s;
  init_store(s);
  run_stopped stop = testkit::expect_stop([&] { oalloc(s, std::size_t{1} << 40); });
  EXPECT_EQ(1, stop.status);
  EXPECT_EQ("\n Fatal error 0 <Out of memory in newblock();>\n", stop.message);
}

}  // namespace
}  // namespace tx
