// The threads that read a file ahead of a pass and write one behind it: the
// bytes arrive whole and in their order at every size around a block's, and
// a failed write shows with its reason.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "fmtlib/read/readahead.h"
#include "fmtlib/write/writebehind.h"
#include "testkit.h"

namespace tx {
namespace {

std::string pattern(std::size_t n) {
  std::string bytes(n, '\0');
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<char>(i * 7 + i / 251);
  return bytes;
}

TEST(ReadAhead, GivesTheFileInFullBlocksThenTheRest) {
  constexpr std::size_t block = read_ahead::block_size;
  for (const std::size_t size :
       {std::size_t{0}, std::size_t{1}, block - 1, block, block + 1, 2 * block + 7, 5 * block}) {
    for (const long skip : {0L, 5L}) {
      testkit::temp_dir dir;
      const std::string bytes = pattern(size);
      testkit::write_file(dir / "in", bytes);
      file_ptr f(std::fopen((dir / "in").c_str(), "rb"));
      ASSERT_TRUE(f);
      // It reads from where the stream stands.
      ASSERT_EQ(0, std::fseek(f.get(), std::min(skip, static_cast<long>(size)), SEEK_SET));
      std::string got;
      {
        read_ahead ahead(f.get());
        for (;;) {
          const std::span<const std::uint8_t> b = ahead.next();
          if (b.empty()) break;
          got.append(reinterpret_cast<const char*>(b.data()), b.size());
          // Every block but the last is whole.
          if (b.size() < block) {
            EXPECT_TRUE(ahead.next().empty()) << size;
            break;
          }
        }
        EXPECT_TRUE(ahead.next().empty()) << size;
      }
      EXPECT_EQ(bytes.substr(std::min<std::size_t>(skip, size)), got) << size << " from " << skip;
    }
  }
}

TEST(ReadAhead, TellsAFailedReadFromTheEnd) {
  testkit::temp_dir dir;
  testkit::write_file(dir / "in", pattern(10));
  file_ptr f(std::fopen((dir / "in").c_str(), "rb"));
  ASSERT_TRUE(f);
  read_ahead ahead(f.get());
  EXPECT_EQ(10U, ahead.next().size());
  EXPECT_EQ(0, ahead.error());
  // A directory opens for reading, and every read of it fails.
  file_ptr d(std::fopen(dir.path.c_str(), "rb"));
  ASSERT_TRUE(d);
  read_ahead failing(d.get());
  EXPECT_TRUE(failing.next().empty());
  EXPECT_EQ(EISDIR, failing.error());
}

TEST(ReadAhead, EndsAtOnceWhenDroppedUnread) {
  testkit::temp_dir dir;
  testkit::write_file(dir / "in", pattern(20 * read_ahead::block_size));
  file_ptr f(std::fopen((dir / "in").c_str(), "rb"));
  ASSERT_TRUE(f);
  read_ahead ahead(f.get());
  EXPECT_EQ(read_ahead::block_size, ahead.next().size());
}

TEST(WriteBehind, WritesTheBlocksWholeAndInOrder) {
  testkit::temp_dir dir;
  file_ptr f(std::fopen((dir / "out").c_str(), "wb"));
  ASSERT_TRUE(f);
  std::string expected;
  {
    write_behind writer(f.get());
    // Two callers' blocks in turn, of sizes that vary, more of them than
    // the writer makes.
    std::vector<char> blocks[2] = {std::vector<char>(1000), std::vector<char>(3000)};
    for (std::size_t i = 0; i < 40; ++i) {
      std::vector<char>& b = blocks[i % 2];
      const std::size_t used = (i * 389) % b.size();
      const std::string bytes = pattern(used + i).substr(i);
      std::copy(bytes.begin(), bytes.end(), b.begin());
      expected += bytes;
      const std::size_t size = b.size();
      b = writer.hand_over(std::move(b), used);
      EXPECT_LE(size, b.size());
    }
    writer.wait();
    EXPECT_EQ(0, writer.error());
  }
  ASSERT_EQ(0, std::fflush(f.get()));
  EXPECT_TRUE(testkit::same_bytes(expected, testkit::read_file(dir / "out")));
}

TEST(WriteBehind, KeepsTheReasonOfTheFirstFailedWrite) {
  file_ptr f(std::fopen("/dev/full", "wb"));
  ASSERT_TRUE(f);
  std::setvbuf(f.get(), nullptr, _IONBF, 0);
  write_behind writer(f.get());
  std::vector<char> block(4096, 'x');
  for (int i = 0; i < 8; ++i) block = writer.hand_over(std::move(block), 4096);
  writer.wait();
  EXPECT_EQ(ENOSPC, writer.error());
}

}  // namespace
}  // namespace tx
