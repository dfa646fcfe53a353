// Tests of compio: the .Z format read and written through comp_file handles,
// checked against the standard compress and gzip programs where they are
// installed, and against damaged streams.
#include "txlib/compio.h"

#include <unistd.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "tests/testkit.h"

namespace {

using testkit::read_file;
using testkit::temp_dir;
using testkit::write_file;

// The full path of a program on PATH, or "" when it is not installed.
std::string find_tool(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
  for (std::size_t at = 0; at <= dirs.size();) {
    std::size_t end = dirs.find(':', at);
    if (end == std::string::npos) end = dirs.size();
    std::string candidate = dirs.substr(at, end - at) + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    at = end + 1;
  }
  return "";
}

// Runs a shell command; true when it exits with status 0.
bool shell(const std::string& command) { return std::system(command.c_str()) == 0; }

// Compresses `data` into `path`, handing it over in pieces of `chunk` bytes.
void comp_write_file(const std::string& path, const std::string& data, int bits,
                     std::size_t chunk = 65536) {
  tx::comp_file* h = tx::compopen(path.c_str(), "wb", bits);
  ASSERT_NE(nullptr, h) << tx::comperrstr();
  for (std::size_t at = 0; at < data.size(); at += chunk) {
    int n = static_cast<int>(std::min(chunk, data.size() - at));
    ASSERT_EQ(n, tx::compwrite(h, data.data() + at, n));
  }
  EXPECT_EQ(0, tx::compclose(h));
}

// Decodes the whole file with compread calls of `chunk` bytes.
std::string comp_read_file(const std::string& path, int chunk = 65536) {
  tx::comp_file* h = tx::compopen(path.c_str(), "rb", 0);
  EXPECT_NE(nullptr, h) << tx::comperrstr();
  if (h == nullptr) return "<not opened>";
  std::string out;
  std::vector<char> buf(static_cast<std::size_t>(chunk));
  for (int n; (n = tx::compread(h, buf.data(), chunk)) > 0;) out.append(buf.data(), n);
  EXPECT_EQ(0, tx::compread(h, buf.data(), chunk));  // the end stays the end
  tx::compclose(h);
  return out;
}

std::string text_lines(int lines, unsigned seed) {
  const char* words[] = {"Region", "North", "South", "East", "West",   "Total", "Sales",
                         "Q1",     "yes",   "no",    "male", "female", "18-24", "Don't know"};
  std::mt19937 rng(seed);
  std::string out;
  for (int i = 0; i < lines; ++i) {
    int n = 1 + static_cast<int>(rng() % 12);
    for (int w = 0; w < n; ++w) {
      out += words[rng() % std::size(words)];
      out += w + 1 < n ? ' ' : '\n';
    }
  }
  return out;
}

std::string random_bytes(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string out(n, '\0');
  for (char& c : out) c = static_cast<char>(rng());
  return out;
}

std::string high_bytes() {
  std::string out;
  for (int round = 0; round < 40; ++round)
    for (int c = 0x80; c <= 0xFF; ++c) out += static_cast<char>(c);
  return out;
}

struct sample {
  const char* name;
  std::string data;
};

// Empty, one byte, text, bytes 0x80 to 0xFF, and a few megabytes of text and
// random bytes that take the width to 16 bits and make the ratio drop.
std::vector<sample> samples() {
  std::string text = text_lines(4000, 1);
  std::string mixed = text_lines(150000, 2) + random_bytes(600000, 3) + text_lines(60000, 4);
  return {{"empty", ""},
          {"one byte", "A"},
          {"text", text},
          {"0x80-0xFF", high_bytes()},
          {"mixed", mixed}};
}

// Walks the code stream of a .Z file without decoding strings: the number of
// clear codes and the widest code width. Groups are n_bits bytes; a width
// change or a clear code ends the group in progress.
struct code_walk {
  int clears = 0;
  int widest = 9;
};
code_walk walk_codes(const std::string& z) {
  code_walk w;
  const int maxbits = z[2] & 0x1F;
  const bool block = (z[2] & 0x80) != 0;
  const int maxmaxcode = 1 << maxbits;
  int n_bits = 9, maxcode = 511, free_ent = block ? 257 : 256;
  bool first = true;
  for (std::size_t pos = 3; pos < z.size();) {
    const std::size_t group = std::min<std::size_t>(n_bits, z.size() - pos);
    const int width = n_bits;
    bool group_ends = false;
    for (std::size_t bit = 0; !group_ends && bit + width <= group * 8; bit += width) {
      int code = 0;
      for (int b = 0; b < width; ++b) {
        unsigned char byte = static_cast<unsigned char>(z[pos + (bit + b) / 8]);
        code |= ((byte >> ((bit + b) % 8)) & 1) << b;
      }
      if (block && code == 256) {
        ++w.clears;
        free_ent = 256;
        n_bits = 9;
        maxcode = 511;
        group_ends = true;
        continue;
      }
      if (!first && free_ent < maxmaxcode) ++free_ent;
      first = false;
      if (free_ent > maxcode) {
        ++n_bits;
        maxcode = n_bits == maxbits ? maxmaxcode : (1 << n_bits) - 1;
        w.widest = std::max(w.widest, n_bits);
        group_ends = true;
      }
    }
    pos += group;
  }
  return w;
}

TEST(Compio, StandardDecompressorsReadWhatWeWrite) {
  std::string compress = find_tool("compress"), gzip = find_tool("gzip");
  ASSERT_FALSE(compress.empty() || gzip.empty()) << "compress or gzip is missing (scripts/install-deps test)";
  temp_dir dir;
  for (const sample& s : samples()) {
    for (int bits : {12, 16}) {
      std::string z = dir / "ours.Z";
      comp_write_file(z, s.data, bits);
      ASSERT_TRUE(shell(compress + " -d -c < " + z + " > " + (dir / "c.out")))
          << s.name << " " << bits;
      EXPECT_TRUE(testkit::same_bytes(s.data, read_file(dir / "c.out"))) << s.name << " " << bits;
      ASSERT_TRUE(shell(gzip + " -d -c < " + z + " > " + (dir / "g.out"))) << s.name << " " << bits;
      EXPECT_TRUE(testkit::same_bytes(s.data, read_file(dir / "g.out"))) << s.name << " " << bits;
      EXPECT_TRUE(testkit::same_bytes(s.data, comp_read_file(z))) << s.name << " " << bits;
    }
  }
}

TEST(Compio, WeReadWhatStandardCompressWrites) {
  std::string compress = find_tool("compress");
  ASSERT_FALSE(compress.empty()) << "compress is missing (scripts/install-deps test)";
  temp_dir dir;
  for (const sample& s : samples()) {
    write_file(dir / "in", s.data);
    // Debian's compress writes 9-bit streams that neither it nor gzip reads back.
    for (int bits : {10, 12, 16}) {
      std::string z = dir / "theirs.Z";
      // -f: write the output even when it is larger than the input.
      ASSERT_TRUE(
          shell(compress + " -f -b " + std::to_string(bits) + " -c < " + (dir / "in") + " > " + z));
      EXPECT_TRUE(testkit::same_bytes(s.data, comp_read_file(z))) << s.name << " " << bits;
    }
  }
}

TEST(Compio, WidthGrowsToSixteenBitsAndRatioDropClears) {
  temp_dir dir;
  std::string mixed = samples().back().data;
  for (int bits : {12, 16}) {
    comp_write_file(dir / "m.Z", mixed, bits);
    code_walk w = walk_codes(read_file(dir / "m.Z"));
    EXPECT_EQ(bits, w.widest) << bits;
    EXPECT_GE(w.clears, 1) << bits;
  }
}

TEST(Compio, ReadsResumeAtAnyByte) {
  temp_dir dir;
  std::string text = text_lines(3000, 5) + high_bytes();
  comp_write_file(dir / "t.Z", text, 12, 1);  // also written a byte at a time
  for (int chunk : {1, 2, 7, 511, 4096})
    EXPECT_TRUE(testkit::same_bytes(text, comp_read_file(dir / "t.Z", chunk))) << chunk;
}

TEST(Compio, HeaderFlagsAndEmptyStream) {
  temp_dir dir;
  const struct {
    int bits;
    const char* header;
  } cases[] = {{0, "\x1f\x9d\x90"}, {12, "\x1f\x9d\x8c"}, {16, "\x1f\x9d\x90"}};
  for (const auto& c : cases) {
    comp_write_file(dir / "e.Z", "", c.bits);
    EXPECT_EQ(std::string(c.header, 3), read_file(dir / "e.Z")) << c.bits;
    comp_write_file(dir / "a.Z", "ab", c.bits);
    EXPECT_EQ(std::string(c.header, 3), read_file(dir / "a.Z").substr(0, 3)) << c.bits;
  }
  tx::comp_file* h = tx::compopen((dir / "e.Z").c_str(), "rb", 12);
  ASSERT_NE(nullptr, h);
  char line[16] = "unchanged";
  EXPECT_EQ(-1, tx::compfgets(line, sizeof line, h));
  EXPECT_EQ(0, tx::compread(h, line, sizeof line));
  tx::compclose(h);
}

TEST(Compio, CountsAndPosition) {
  temp_dir dir;
  std::string text = text_lines(500, 6);
  tx::comp_file* w = tx::compopen((dir / "c.Z").c_str(), "wb", 12);
  ASSERT_NE(nullptr, w);
  EXPECT_EQ(0, tx::compsrc(w));
  tx::compwrite(w, text.data(), static_cast<int>(text.size()));
  EXPECT_EQ(static_cast<long>(text.size()), tx::compsrc(w));
  long out = tx::compout(w);
  EXPECT_GE(out, 3);
  EXPECT_EQ(out, tx::compftell(w));  // nothing is held back but the group in progress
  tx::compclose(w);
  EXPECT_LT(out, static_cast<long>(read_file(dir / "c.Z").size()));
  tx::comp_file* r = tx::compopen((dir / "c.Z").c_str(), "rb", 0);
  ASSERT_NE(nullptr, r);
  EXPECT_EQ(3, tx::compftell(r));
  EXPECT_EQ(0, tx::compout(r));
  EXPECT_EQ(0, tx::compsrc(r));
  tx::compclose(r);
}

TEST(Compio, CompfgetsLines) {
  temp_dir dir;
  std::string long_line(600, 'x');
  comp_write_file(dir / "l.Z", long_line + "\nsecond\n\nlast without newline", 12);
  tx::comp_file* h = tx::compopen((dir / "l.Z").c_str(), "rb", 12);
  ASSERT_NE(nullptr, h);
  char buf[512];
  EXPECT_EQ(511, tx::compfgets(buf, sizeof buf, h));
  EXPECT_EQ(std::string(511, 'x'), buf);
  const struct {
    int result;
    const char* text;
  } rest[] = {
      {7, "second\n"}, {1, "\n"}, {20, "last without newline"}, {-1, nullptr}, {-1, nullptr}};
  for (const auto& r : rest) {
    EXPECT_EQ(r.result, tx::compfgets(buf, sizeof buf, h));
    if (r.text != nullptr) {
      EXPECT_STREQ(r.text, buf);
    }
  }
  tx::compclose(h);

  comp_write_file(dir / "n.Z", "one\ntwo\n", 12);
  h = tx::compopen((dir / "n.Z").c_str(), "rb", 12);
  ASSERT_NE(nullptr, h);
  EXPECT_EQ(4, tx::compfgets(buf, sizeof buf, h));
  EXPECT_EQ(4, tx::compfgets(buf, sizeof buf, h));
  EXPECT_STREQ("two\n", buf);
  EXPECT_EQ(0, tx::compfgets(buf, sizeof buf, h));  // the empty piece after the last newline
  EXPECT_STREQ("", buf);
  EXPECT_EQ(-1, tx::compfgets(buf, sizeof buf, h));
  tx::compclose(h);
}

TEST(Compio, CompfgetsSmallBuffersGiveEveryLine) {
  temp_dir dir;
  std::string text = text_lines(2000, 7);
  comp_write_file(dir / "s.Z", text, 12);
  for (int size : {2, 5, 64, 512}) {
    tx::comp_file* h = tx::compopen((dir / "s.Z").c_str(), "rb", 12);
    ASSERT_NE(nullptr, h);
    std::string expected, got;
    for (std::size_t at = 0; at < text.size();) {
      std::size_t nl = text.find('\n', at);
      std::string line = text.substr(at, nl + 1 - at);
      expected += line.substr(0, static_cast<std::size_t>(size - 1));
      at = nl + 1;
    }
    std::vector<char> buf(static_cast<std::size_t>(size));
    int n;
    while ((n = tx::compfgets(buf.data(), size, h)) >= 0) got.append(buf.data(), n);
    EXPECT_TRUE(testkit::same_bytes(expected, got)) << size;
    EXPECT_EQ(-1, n) << size;
    tx::compclose(h);
  }
}

TEST(Compio, RefusedOpens) {
  temp_dir dir;
  write_file(dir / "plain", "##version=1001\n#@axis q1\n");
  write_file(dir / "bits17", std::string("\x1f\x9d\x91", 3) + "data");
  write_file(dir / "bits8", std::string("\x1f\x9d\x88", 3) + "data");
  write_file(dir / "magic only", "\x1f\x9d");
  write_file(dir / "good", std::string("\x1f\x9d\x90", 3));
  const struct {
    std::string path;
    const char* mode;
    int bits;
    const char* error;
  } cases[] = {
      {dir / "plain", "rb", 12, "Input file not compressed"},
      {dir / "magic only", "rb", 12, "Input file not compressed"},
      {dir / "bits17", "rb", 0, "Cannot deal with no of bits in input file"},
      {dir / "bits8", "rb", 0, "Cannot deal with no of bits in input file"},
      {dir / "good", "rb", 11, "Cannot deal with no of bits in input file"},
      {dir / "good", "wb", 17, "Cannot deal with no of bits in input file"},
      {dir / "missing", "rb", 0, "Cannot open file"},
      {dir / "new", "ab", 0, "Unknown type flag"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(nullptr, tx::compopen(c.path.c_str(), c.mode, c.bits)) << c.path;
    EXPECT_STREQ(c.error, tx::comperrstr()) << c.path;
  }
  EXPECT_FALSE(testkit::file_exists(dir / "new"));  // refused before anything was created
}

TEST(Compio, WrongDirectionIsRefused) {
  temp_dir dir;
  comp_write_file(dir / "x.Z", "abc", 12);
  tx::comp_file* r = tx::compopen((dir / "x.Z").c_str(), "rb", 0);
  ASSERT_NE(nullptr, r);
  EXPECT_EQ(0, tx::compwrite(r, "abc", 3));
  EXPECT_STREQ("File not open for writing", tx::comperrstr());
  tx::compclose(r);
  tx::comp_file* w = tx::compopen((dir / "y.Z").c_str(), "wb", 12);
  ASSERT_NE(nullptr, w);
  char buf[8];
  EXPECT_EQ(0, tx::compread(w, buf, sizeof buf));
  EXPECT_EQ(-1, tx::compfgets(buf, sizeof buf, w));
  EXPECT_STREQ("File not open for reading", tx::comperrstr());
  tx::compclose(w);
}

TEST(Compio, WriteErrorStopsTheHandle) {
  ASSERT_EQ(0, ::access("/dev/full", W_OK));
  tx::comp_file* h = tx::compopen("/dev/full", "wb", 12);
  ASSERT_NE(nullptr, h);
  std::string text = text_lines(3000, 8);
  tx::compwrite(h, text.data(), static_cast<int>(text.size()));
  EXPECT_EQ(-1, tx::compclose(h));
  EXPECT_STREQ("Write error on compressed file", tx::comperrstr());
}

// Packs 9-bit codes as the writer does: least significant bit first, groups
// of 9 bytes, the last group cut to the bytes that hold code bits.
std::string pack9(const std::vector<int>& codes) {
  std::string out(std::string("\x1f\x9d\x90", 3));
  std::string bits((codes.size() * 9 + 7) / 8, '\0');
  for (std::size_t k = 0; k < codes.size(); ++k)
    for (int b = 0; b < 9; ++b)
      if (codes[k] >> b & 1)
        bits[(k * 9 + b) / 8] = static_cast<char>(bits[(k * 9 + b) / 8] | 1 << ((k * 9 + b) % 8));
  return out + bits;
}

// Decodes a damaged stream both ways; it must end, and never give more than
// `most` bytes (under the sanitizer build: without touching outside the tables).
void decode_damaged(const std::string& path, std::size_t most, const std::string& what) {
  tx::comp_file* h = tx::compopen(path.c_str(), "rb", 0);
  if (h == nullptr) return;  // refused at open is fine
  std::size_t total = 0;
  char buf[1000];
  for (int n; (n = tx::compread(h, buf, sizeof buf)) > 0;) total += static_cast<std::size_t>(n);
  tx::compclose(h);
  EXPECT_LE(total, most) << what;
  h = tx::compopen(path.c_str(), "rb", 0);
  ASSERT_NE(nullptr, h) << what;
  while (tx::compfgets(buf, sizeof buf, h) >= 0) {
  }
  tx::compclose(h);
}

TEST(Compio, DamagedStreamsEndSafely) {
  temp_dir dir;
  std::string path = dir / "bad.Z";
  // Codes far above free_ent: entry 511 becomes its own prefix.
  write_file(path, pack9(std::vector<int>(2000, 511)));
  decode_damaged(path, 2000 * 70000, "codes 511");
  // An endless run of clear codes, each in a group of its own.
  std::string clears = std::string("\x1f\x9d\x90", 3);
  for (int k = 0; k < 5000; ++k) clears += std::string("\x00\x01\x00\x00\x00\x00\x00\x00\x00", 9);
  write_file(path, clears);
  decode_damaged(path, 5000 * 16, "clear codes");
  // Random bytes behind a header of every width.
  for (int bits = 9; bits <= 16; ++bits) {
    std::string z = std::string("\x1f\x9d", 2) + static_cast<char>(0x80 | bits) +
                    random_bytes(50000, static_cast<unsigned>(bits));
    write_file(path, z);
    decode_damaged(path, std::size_t{50000} * 8 * 70000, "random " + std::to_string(bits));
  }
  // Sound streams with one byte changed.
  std::string sound = text_lines(1500, 10);
  for (int bits : {12, 16}) {
    comp_write_file(dir / "s.Z", sound, bits);
    std::string z = read_file(dir / "s.Z");
    std::mt19937 rng(static_cast<unsigned>(bits));
    for (int k = 0; k < 60; ++k) {
      std::string damaged = z;
      std::size_t at = 3 + rng() % (z.size() - 3);
      damaged[at] = static_cast<char>(damaged[at] ^ (1 + rng() % 255));
      write_file(path, damaged);
      decode_damaged(path, sound.size() * 70000, "byte " + std::to_string(at));
    }
  }
  // Every cut of a sound stream gives a prefix of its data.
  std::string text = text_lines(60, 9);
  comp_write_file(dir / "t.Z", text, 12);
  std::string z = read_file(dir / "t.Z");
  for (std::size_t n = 3; n < z.size(); ++n) {
    write_file(path, z.substr(0, n));
    std::string got = comp_read_file(path, 333);
    EXPECT_TRUE(testkit::same_bytes(text.substr(0, got.size()), got)) << "cut at " << n;
  }
}

}  // namespace
