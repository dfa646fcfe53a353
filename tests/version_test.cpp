// Tests of version: the header check on descriptors and streams, the header
// writers, the 4-byte integer helpers and the split fields of axis records.
#include "txlib/version.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "tests/testkit.h"
#include "txlib/bytes.h"

namespace {

using testkit::temp_dir;

std::string header_bytes(short type) {
  tx::file_header h;
  tx::fillinvers(h, type);
  return std::string(h.begin(), h.end());
}

struct check_result {
  int result;
  std::string err;
  off_t position;  // of the descriptor after the check
};

// Runs getversn on a file holding `bytes`, as the converter does: on a
// descriptor it has just opened.
check_result check(const std::string& bytes, short type) {
  temp_dir dir;
  std::string path = dir / "seg1.xv";
  testkit::write_file(path, bytes);
  int fd = ::open(path.c_str(), O_RDONLY);
  EXPECT_GE(fd, 0);
  testing::internal::CaptureStderr();
  int r = tx::getversn(fd, "seg1.xv", 0, type, 0);
  std::string err = testing::internal::GetCapturedStderr();
  off_t pos = ::lseek(fd, 0, SEEK_CUR);
  ::close(fd);
  return {r == fd ? 0 : r, err, pos};
}

TEST(Version, GetversnRefusals) {
  std::string good = header_bytes(2);
  std::string out_of_date = good;
  out_of_date[0] = 0x55;
  out_of_date[1] = 0x55;
  std::string bad_ident = good;
  bad_ident[5] = 0x54;
  std::string version10 = good;
  version10[9] = 10;
  std::string odd_struct = good;
  odd_struct[24 + 39] = 1;
  std::string type3_version9 = header_bytes(3);
  type3_version9[9] = 9;
  std::string type77 = header_bytes(12);
  type77[7] = 77;
  std::string negative_type = header_bytes(12);
  negative_type[6] = '\xff';
  const struct {
    const char* what;
    std::string bytes;
    short type;
    const char* message;
  } cases[] = {
      {"empty", "", 2, "Error: file seg1.xv is empty\n"},
      {"0x55 0x55 start", out_of_date, 2, "Error: file seg1.xv has out-of-date format\n"},
      {"wrong ident3", bad_ident, 2, "Error: seg1.xv is not a recognisable file\n"},
      {"plain text", "Plain text, long enough to fill the whole header of sixty-four bytes", 2,
       "Error: seg1.xv is not a recognisable file\n"},
      {"type 3 for 2, version differs too", type3_version9, 2,
       "Error: wrong file type for seg1.xv (axes.info expected, .ax file found)\n"},
      {"version 10", version10, 2,
       "Error: wrong version of file seg1.xv (11 expected, 10 found)\n"},
      {"type 77", type77, 12,
       "Error: wrong file type for seg1.xv (intermediate.x expected, undefined found)\n"},
      {"negative type", negative_type, 12,
       "Error: wrong file type for seg1.xv (intermediate.x expected, undefined found)\n"},
      {"structure byte", odd_struct, 2, "Error: invalid info in file seg1.xv\n"},
  };
  for (const auto& c : cases) {
    check_result r = check(c.bytes, c.type);
    EXPECT_EQ(-1, r.result) << c.what;
    EXPECT_EQ(c.message, r.err) << c.what;
  }
}

TEST(Version, GetversnRefusesEveryShortHeader) {
  std::string good = header_bytes(9) + "rest of the file";
  for (std::size_t n = 1; n < tx::header_size; ++n) {
    check_result r = check(good.substr(0, n), 9);
    EXPECT_EQ(-1, r.result) << "cut at " << n;
    EXPECT_EQ("Error: seg1.xv is not a recognisable file\n", r.err) << "cut at " << n;
  }
}

TEST(Version, GoodHeaderLeavesDescriptorAfterIt) {
  for (short type : {1, 2, 3, 4, 5, 8, 9, 12, 18, 48}) {
    check_result r = check(header_bytes(type) + "data", type);
    EXPECT_EQ(0, r.result) << type;
    EXPECT_EQ("", r.err) << type;
    EXPECT_EQ(64, r.position) << type;
  }
}

TEST(Version, FillinversWritesTheFixedFields) {
  tx::file_header h;
  tx::fillinvers(h, 4);
  EXPECT_EQ(2, tx::be_i16(h, 0));
  EXPECT_EQ(0, tx::be_i16(h, 2));
  EXPECT_EQ(0x5555, tx::be_u16(h, 4));
  EXPECT_EQ(4, tx::be_i16(h, 6));
  EXPECT_EQ(12, tx::be_i16(h, 8));
  EXPECT_EQ(111, tx::be_i16(h, 10));
  EXPECT_EQ(4, tx::be_i16(h, 12));
  EXPECT_EQ('a', h[14]);
  EXPECT_EQ('b', h[15]);
  EXPECT_EQ(0x42F6E666u, tx::be_u32(h, 16));
  std::time_t written = tx::be_i32(h, 20);
  EXPECT_LE(std::abs(written - std::time(nullptr)), 5);
  const std::uint8_t block[40] = {2, 1, 1, 1, 2, 1, 1, 2, 1, 2, 1, 1, 1, 1, 1, 1};
  EXPECT_EQ(0, std::memcmp(h.data() + 24, block, 40));
  tx::fillinvers(h, 0);
  EXPECT_EQ(0, tx::be_i16(h, 8));
  tx::fillinvers(h, 49);
  EXPECT_EQ(11, tx::be_i16(h, 8));
}

TEST(Version, SetversnAndSetXVersionWriteCheckableHeaders) {
  temp_dir dir;
  std::string a = dir / "a", b = dir / "b";
  int fd = ::open(a.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  tx::setversn(fd, 18);
  ::close(fd);
  std::FILE* f = std::fopen(b.c_str(), "wb");
  tx::SetXVersion(f, 18);
  std::fclose(f);
  for (const std::string& path : {a, b}) {
    std::string bytes = testkit::read_file(path);
    ASSERT_EQ(64u, bytes.size());
    EXPECT_EQ(0, check(bytes, 18).result);
  }
}

TEST(Version, GetXVersionCodes) {
  std::string good = header_bytes(5);
  std::string ident = good, type = good, version = good, block = good;
  ident[1] = 3;
  type[7] = 6;
  version[9] = 12;
  block[30] = 9;
  const struct {
    const char* what;
    std::string bytes;
    int type;
    int code;
  } cases[] = {
      {"good", good, 5, 0},    {"short", good.substr(0, 63), 5, -1},
      {"empty", "", 5, -1},    {"ident", ident, 5, -2},
      {"type", type, 5, -3},   {"version", version, 5, -4},
      {"block", block, 5, -5}, {"type outside the table", good, 50, -3},
  };
  temp_dir dir;
  for (const auto& c : cases) {
    testkit::write_file(dir / "w", c.bytes);
    std::FILE* f = std::fopen((dir / "w").c_str(), "rb");
    testing::internal::CaptureStderr();
    EXPECT_EQ(c.code, tx::GetXVersion(f, c.type)) << c.what;
    EXPECT_EQ("", testing::internal::GetCapturedStderr()) << c.what;
    std::fclose(f);
  }
}

TEST(Version, LongwrtAndLongrd) {
  temp_dir dir;
  std::string path = dir / "l";
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  EXPECT_EQ(4, tx::longwrt(fd, 0x01020304));
  EXPECT_EQ(4, tx::longwrt(fd, -2));
  ::close(fd);
  EXPECT_EQ(std::string("\x01\x02\x03\x04\xff\xff\xff\xfe", 8), testkit::read_file(path));
  testkit::write_file(path, testkit::read_file(path) + "ab");
  fd = ::open(path.c_str(), O_RDONLY);
  testing::internal::CaptureStderr();
  EXPECT_EQ(0x01020304, tx::longrd(fd));
  EXPECT_EQ(-2, tx::longrd(fd));
  EXPECT_EQ(0, tx::longrd(fd));
  EXPECT_EQ("longread failure \n", testing::internal::GetCapturedStderr());
  ::close(fd);
}

TEST(Version, HdCopyrightPageBreak) {
  const struct {
    const char* txnopage;  // null: unset
    int flag;
    const char* out;
  } cases[] = {{nullptr, 0, "\n\f\n"}, {nullptr, 1, ""}, {"", 0, ""}, {"1", 0, ""}};
  for (const auto& c : cases) {
    testkit::scoped_env set(testkit::env_list{{"TXNOPAGE", c.txnopage ? c.txnopage : ""}});
    if (c.txnopage == nullptr) ::unsetenv("TXNOPAGE");
    EXPECT_EQ(c.out, testkit::capture([&](std::FILE* f) { tx::hd_copyright(f, c.flag); }))
        << (c.txnopage ? c.txnopage : "unset") << " flag " << c.flag;
  }
}

TEST(Version, SplitFields) {
  std::uint8_t elem[60] = {};
  elem[37] = 5;
  elem[53] = 2;
  EXPECT_EQ(65541, tx::el_textoff(elem));
  std::memset(elem, 0, sizeof elem);
  tx::s_eltxtoff(elem, 65541);
  EXPECT_EQ(2, elem[53]);
  EXPECT_EQ(0, elem[36]);
  EXPECT_EQ(5, elem[37]);

  std::uint8_t axis[80] = {};
  tx::s_axheap(axis, 40000);
  EXPECT_EQ(40000, tx::be_i32(axis, 4));
  EXPECT_EQ(0, tx::be_i16(axis, 20));
  EXPECT_EQ(40000, tx::ax_heap(axis));
  tx::s_axheap(axis, 1200);
  EXPECT_EQ(1200, tx::be_i16(axis, 20));
  EXPECT_EQ(1200, tx::ax_heap(axis));
  tx::put_be16(axis, 20, 300);  // the 16-bit field wins when above 0
  EXPECT_EQ(300, tx::ax_heap(axis));

  std::uint8_t list[68] = {};
  tx::s_axinfheap(list, 32768);
  EXPECT_EQ(32768, tx::be_i32(list, 4));
  EXPECT_EQ(0, tx::be_i16(list, 32));
  EXPECT_EQ(32768, tx::axinf_heap(list));
  tx::s_axinfheap(list, 32767);
  EXPECT_EQ(32767, tx::be_i16(list, 32));
  EXPECT_EQ(32767, tx::axinf_heap(list));
}

}  // namespace
