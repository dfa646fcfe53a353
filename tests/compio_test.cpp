// The .Z codec: what we write, compress and gzip read back; what compress
// writes, we read; damaged streams end without overrunning anything.
#include "txlib/compio.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "testkit.h"

namespace {

using testkit::read_file;
using testkit::write_file;

void write_z(const std::string& path, const std::string& data, int bits, std::size_t chunk) {
  tx::comp_file* h = tx::compopen(path.c_str(), "wb", bits);
  ASSERT_NE(nullptr, h) << tx::comperrstr();
  for (std::size_t at = 0; at < data.size(); at += chunk) {
    const int n = static_cast<int>(std::min(chunk, data.size() - at));
    ASSERT_EQ(n, tx::compwrite(h, data.data() + at, n));
  }
  EXPECT_EQ(0, tx::compclose(h));
}

// The whole stream by compread calls of `chunk` bytes (or compfgets lines).
std::string read_z(const std::string& path, int chunk, bool lines = false) {
  tx::comp_file* h = tx::compopen(path.c_str(), "rb", 0);
  if (h == nullptr) return std::string("<refused: ") + tx::comperrstr() + ">";
  std::string out;
  std::vector<char> buf(static_cast<std::size_t>(chunk));
  if (lines)
    for (int n; (n = tx::compfgets(buf.data(), chunk, h)) >= 0;) out.append(buf.data(), n);
  else
    for (int n; (n = tx::compread(h, buf.data(), chunk)) > 0;) out.append(buf.data(), n);
  tx::compclose(h);
  return out;
}

std::string text_lines(int lines, unsigned seed) {
  const char* words[] = {"Region", "North", "South", "Total", "Q1", "yes", "18-24", "Don't know"};
  std::mt19937 rng(seed);
  std::string out;
  for (int i = 0; i < lines; ++i)
    for (int w = 0, n = 1 + static_cast<int>(rng() % 12); w < n; ++w)
      out += std::string(words[rng() % std::size(words)]) + (w + 1 < n ? " " : "\n");
  return out;
}

std::string random_bytes(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string out(n, '\0');
  for (char& c : out) c = static_cast<char>(rng());
  return out;
}

bool shell(const std::string& command) { return std::system(command.c_str()) == 0; }

// Empty, one byte, bytes 0x80 to 0xFF, text, and megabytes of text and noise
// that take the code width to the limit and make the ratio drop (a clear).
TEST(Compio, RoundTripsWithCompressAndGzip) {
  ASSERT_TRUE(shell("command -v compress >/dev/null && command -v gzip >/dev/null"))
      << "compress or gzip is missing (scripts/install-deps test)";
  std::string high;
  for (int c = 0x80; c <= 0xFF; ++c) high += static_cast<char>(c);
  const std::string samples[] = {
      "", "A", high + high + high, text_lines(3000, 1),
      text_lines(150000, 2) + random_bytes(600000, 3) + text_lines(60000, 4)};
  testkit::temp_dir dir;
  const std::string ours = dir / "ours.Z", theirs = dir / "theirs.Z", in = dir / "in";
  for (const std::string& s : samples) {
    const std::string what = std::to_string(s.size()) + " bytes";
    for (int bits : {12, 16}) {
      write_z(ours, s, bits, s.size() < 10000 ? 1 : 65536);
      EXPECT_EQ(bits == 12 ? '\x8c' : '\x90', read_file(ours)[2]) << what;
      for (const char* tool : {"compress", "gzip"}) {
        ASSERT_TRUE(shell(std::string(tool) + " -d -c < " + ours + " > " + in)) << tool << what;
        EXPECT_TRUE(testkit::same_bytes(s, read_file(in))) << tool << " " << what;
      }
      for (int chunk : {7, 4096}) EXPECT_TRUE(testkit::same_bytes(s, read_z(ours, chunk))) << what;
    }
    write_file(in, s);
    for (int bits : {10, 12, 16}) {  // Debian's compress cannot read back its 9-bit streams
      ASSERT_TRUE(shell("compress -f -b " + std::to_string(bits) + " -c < " + in + " > " + theirs));
      EXPECT_TRUE(testkit::same_bytes(s, read_z(theirs, 65536))) << what << " bits " << bits;
    }
  }
}

TEST(Compio, LinesRefusalsAndWrongDirections) {
  testkit::temp_dir dir;
  const std::string z = dir / "l.Z";
  write_z(z, std::string(600, 'x') + "\nsecond\n\nlast", 12, 65536);
  // compfgets keeps size - 1 characters of a line and drops the rest.
  EXPECT_EQ(std::string(511, 'x') + "second\n\nlast", read_z(z, 512, true));
  EXPECT_EQ("xs\nl", read_z(z, 2, true));
  write_z(z, "one\ntwo\n", 12, 65536);
  tx::comp_file* h = tx::compopen(z.c_str(), "rb", 0);
  EXPECT_EQ(3, tx::compftell(h));
  char buf[16];
  // No room even for the NUL, or no buffer: nothing is read or stored.
  buf[0] = '?';
  EXPECT_EQ(-1, tx::compfgets(buf, 0, h));
  EXPECT_EQ('?', buf[0]);
  EXPECT_EQ(0, tx::compread(h, nullptr, 4));
  EXPECT_EQ(0, tx::compread(h, buf, 0));  // and the lines below lose nothing
  EXPECT_EQ(-1, tx::compfgets(nullptr, 4, h));
  for (const int want : {4, 4, 0, -1, -1}) EXPECT_EQ(want, tx::compfgets(buf, sizeof buf, h));
  EXPECT_EQ(0, tx::compwrite(h, "x", 1));
  EXPECT_STREQ("File not open for writing", tx::comperrstr());
  tx::compclose(h);
  h = tx::compopen((dir / "w.Z").c_str(), "wb", 12);
  EXPECT_EQ(0, tx::compread(h, buf, sizeof buf));
  EXPECT_EQ(-1, tx::compfgets(buf, sizeof buf, h));
  EXPECT_STREQ("File not open for reading", tx::comperrstr());
  EXPECT_EQ(0, tx::compsrc(h));
  tx::compwrite(h, "abcabcabc", 9);
  EXPECT_EQ(9, tx::compsrc(h));
  EXPECT_EQ(tx::compout(h), tx::compftell(h));
  tx::compclose(h);

  write_file(dir / "plain", "##version=1001\n");
  write_file(dir / "magic", "\x1f\x9d");
  write_file(dir / "bits17", "\x1f\x9d\x91xx");
  write_file(dir / "bits8", "\x1f\x9d\x88xx");
  const struct {
    const char *file, *mode;
    int bits;
    const char* error;
  } refused[] = {{"plain", "rb", 12, "Input file not compressed"},
                 {"magic", "rb", 12, "Input file not compressed"},
                 {"bits17", "rb", 0, "Cannot deal with no of bits in input file"},
                 {"bits8", "rb", 0, "Cannot deal with no of bits in input file"},
                 {"w.Z", "rb", 11, "Cannot deal with no of bits in input file"},
                 {"new", "wb", 17, "Cannot deal with no of bits in input file"},
                 {"missing", "rb", 0, "Cannot open file"},
                 {"new", "ab", 0, "Unknown type flag"}};
  for (const auto& c : refused) {
    EXPECT_EQ(nullptr, tx::compopen((dir / c.file).c_str(), c.mode, c.bits)) << c.file;
    EXPECT_STREQ(c.error, tx::comperrstr()) << c.file;
  }
  EXPECT_FALSE(testkit::file_exists(dir / "new"));

  h = tx::compopen("/dev/full", "wb", 12);
  const std::string text = text_lines(3000, 8);
  tx::compwrite(h, text.data(), static_cast<int>(text.size()));
  EXPECT_EQ(-1, tx::compclose(h));
  EXPECT_STREQ("Write error on compressed file", tx::comperrstr());
}

// Damaged streams end, never give more than a sane amount, and (under the
// sanitizer build) touch nothing outside the tables; a cut stream gives a
// prefix of its data.
TEST(Compio, DamagedStreamsEndSafely) {
  testkit::temp_dir dir;
  const std::string path = dir / "bad.Z";
  auto decode = [&](const std::string& bytes, std::size_t most, const std::string& what) {
    write_file(path, bytes);
    EXPECT_LE(read_z(path, 1000).size(), most) << what;
    read_z(path, 1000, true);
  };
  std::string clears = "\x1f\x9d\x90";
  for (int k = 0; k < 5000; ++k) clears += std::string("\x00\x01\x00\x00\x00\x00\x00\x00\x00", 9);
  decode(clears, 5000 * 16, "clear codes");
  decode("\x1f\x9d\x90" + std::string(2250, '\xff'), 2000 * 70000, "codes above the table");
  for (int bits = 9; bits <= 16; ++bits)
    decode(std::string("\x1f\x9d", 2) + static_cast<char>(0x80 | bits) + random_bytes(50000, bits),
           std::size_t{50000} * 8 * 70000, "random, bits " + std::to_string(bits));
  const std::string sound = text_lines(1500, 10);
  write_z(dir / "s.Z", sound, 16, 65536);
  const std::string z = read_file(dir / "s.Z");
  std::mt19937 rng(16);
  for (int k = 0; k < 60; ++k) {
    std::string damaged = z;
    damaged[3 + rng() % (z.size() - 3)] ^= static_cast<char>(1 + rng() % 255);
    decode(damaged, sound.size() * 70000, "one byte changed");
  }
  const std::string text = text_lines(60, 9);
  write_z(dir / "t.Z", text, 12, 65536);
  const std::string t = read_file(dir / "t.Z");
  for (std::size_t n = 3; n < t.size(); ++n) {
    write_file(path, t.substr(0, n));
    const std::string got = read_z(path, 333);
    EXPECT_EQ(text.substr(0, got.size()), got) << "cut at " << n;
  }
}

}  // namespace
