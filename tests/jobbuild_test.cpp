// Tests of the job builder: every file it writes passes the library's header
// check, and a few layouts match bytes worked out by hand.
#include "tools/jobbuild.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "testkit.h"
#include "txlib/compio.h"
#include "txlib/descrips.h"
#include "txlib/filopen.h"
#include "txlib/version.h"

namespace {

using namespace tx::job;
using testkit::read_file;
using testkit::same_bytes;

// Big-endian bytes of a 16- and a 32-bit value.
std::string be16(unsigned v) { return {char(v >> 8), char(v)}; }
std::string be32(unsigned v) { return be16(v >> 16) + be16(v & 0xFFFF); }
std::string zeros(std::size_t n) { return std::string(n, '\0'); }
std::string put_at(std::string s, std::size_t at, const std::string& b) {
  return s.replace(at, b.size(), b);
}

job sample_job() {
  job j;
  j.title = {"Survey", ""};
  j.axes = {{.tag = "q1", .elements = {{"Yes"}, {"No"}}},
            {.tag = "gq", .ngrid = 2, .elements = {{"Good"}, {"Bad"}}},
            {.tag = "pq", .partner = true, .elements = {{"Tea"}, {"Coffee"}}}};
  j.incs = {{"age"}};
  j.weights = {{.number = 7, .values = {1.5f}}};
  j.cases = {{.axes = {{0}, {1}, {0}}, .incs = {42}}};
  return j;
}

TEST(Jobbuild, EveryFilePassesTheHeaderCheck) {
  testkit::temp_dir dir;
  write_job(sample_job(), dir.path);
  const struct {
    const char* name;
    int type;
  } files[] = {{"seg1.xv", 9},    {"axes.inf", 2},   {"q1.ax", 3},
               {"gq.ax", 3},      {"pq.ay", 3},      {"incs.inf", 8},
               {"weightin.x", 5}, {"wmvals7.x", 18}, {"intermed.x", 12}};
  for (const auto& f : files) {
    tx::file_ptr in(std::fopen((dir / f.name).c_str(), "rb"));
    ASSERT_TRUE(in) << f.name;
    EXPECT_EQ(0, tx::GetXVersion(in.get(), f.type)) << f.name;
  }
  // The partner is flagged without a count; the grid axis has both.
  const std::string list = read_file(dir / "axes.inf");
  EXPECT_EQ(std::string("\x01\x02", 2), list.substr(64 + 4 + 68 + 62, 2));
  EXPECT_EQ(std::string("\x01\x00", 2), list.substr(64 + 4 + 2 * 68 + 62, 2));
  EXPECT_EQ(be32(1) + be32(4) + std::string("age", 4) + zeros(8) + be32(0),
            read_file(dir / "incs.inf").substr(64));
  EXPECT_EQ(be32(1) + zeros(40) + put_at(zeros(156), 4, be16(7)),
            read_file(dir / "weightin.x").substr(64));
  EXPECT_EQ(be32(0x3FC00000), read_file(dir / "wmvals7.x").substr(64));
}

TEST(Jobbuild, NoWeightsWriteMinusOne) {
  testkit::temp_dir dir;
  job j;
  write_job(j, dir.path);
  EXPECT_EQ(be32(0xFFFFFFFF), read_file(dir / "weightin.x").substr(64));
  EXPECT_EQ(be32(0) + be32(2) + be32(0) + be32(0), read_file(dir / "intermed.x").substr(64));
}

TEST(Jobbuild, TitleFileBytes) {
  testkit::temp_dir dir;
  job j;
  j.title = {"Survey", ""};
  j.written_at = 1773480360;
  write_job(j, dir.path);
  const std::string f = read_file(dir / "seg1.xv");
  EXPECT_EQ(be32(1773480360), f.substr(20, 4));
  EXPECT_TRUE(
      same_bytes(zeros(196) + zeros(8) + be32(6) + "Survey" + zeros(8) + be32(0), f.substr(64)));
}

TEST(Jobbuild, AxisFileBytes) {
  testkit::temp_dir dir;
  job j;
  j.axes = {{.tag = "q1",
             .axis_text = "Sex",
             .titles = {{"Gender", 't', 'c'}, {"Base", 'b', 'l', false}},
             .elements = {{"Male"}, {"Female", 2}, {"Refused", 1, false}, {"DK", 1, true, true}}}};
  write_job(j, dir.path);
  // Heap: Sex@0 Gender@4 lbBase@11 Male@18 Female@23 Refused@30 DK@38, 41 bytes.
  std::string rec = zeros(320);
  rec = put_at(rec, 4, be32(41));
  rec = put_at(rec, 8, be16(4));
  rec = put_at(rec, 14, be16(2));
  rec = put_at(rec, 20, be16(41));
  rec = put_at(rec, 22, be16(1) + be16(0) + be16(4) + be16(11));
  rec = put_at(rec, 50, be16(0x8002));  // t = vertical 0, c = horizontal 2
  auto elem = [](unsigned flags, unsigned data, unsigned off, char type) {
    std::string e = put_at(zeros(76), 28, be16(flags));
    e = put_at(e, 34, be16(data));
    e = put_at(e, 36, be16(off));
    e[61] = type;
    return e;
  };
  const std::string heap("Sex\0Gender\0lbBase\0Male\0Female\0Refused\0DK\0", 41);
  EXPECT_TRUE(same_bytes(rec + elem(0x0800, 0, 18, 1) + elem(0x0800, 0, 23, 2) + elem(0, 0, 30, 1) +
                             elem(0x0800, 0x0040, 38, 1) + heap,
                         read_file(dir / "q1.ax").substr(64)));
  // Axis-list record: number 1, in case, tag, heap size in the short field.
  std::string list = put_at(zeros(68), 4, be32(41));
  list = put_at(list, 8, be16(1));
  list = put_at(list, 30, be16(1));
  list = put_at(list, 32, be16(41));
  list = put_at(list, 50, "q1");
  EXPECT_TRUE(same_bytes(be32(1) + list, read_file(dir / "axes.inf").substr(64)));
}

TEST(Jobbuild, LargeHeapUsesTheSplitFields) {
  testkit::temp_dir dir;
  job j;
  j.axes = {{.tag = "big", .axis_text = "A", .elements = {{"x"}}, .heap_padding = 70000}};
  write_job(j, dir.path);
  const std::string f = read_file(dir / "big.ax");
  const auto* rec = reinterpret_cast<const std::uint8_t*>(f.data()) + 64;
  EXPECT_EQ(70004, tx::ax_heap(rec));
  EXPECT_EQ(be16(0), f.substr(64 + 20, 2));
  EXPECT_EQ(70002, tx::el_textoff(rec + 320));
  EXPECT_EQ(std::string("x\0", 2), f.substr(64 + 320 + 76 + 70002));
  const std::string list = read_file(dir / "axes.inf");
  EXPECT_EQ(70004, tx::axinf_heap(reinterpret_cast<const std::uint8_t*>(list.data()) + 68));
}

TEST(Jobbuild, CaseRecordBytes) {
  testkit::temp_dir dir;
  job j;
  std::vector<element> twenty(20, element{"e"});
  j.axes = {{.tag = "q1", .elements = twenty},
            {.tag = "q2", .incase = false, .elements = {{"a"}}},
            {.tag = "gq", .ngrid = 2, .elements = {{"a"}, {"b"}, {"c"}}},
            {.tag = "pq", .partner = true, .elements = {{"x"}, {"y"}}},
            {.tag = "q3", .elements = std::vector<element>(5, element{"e"})}};
  j.incs = {{"n1"}, {"n2"}};
  j.cases = {{.axes = {{0, 17}, {1}, {2}, {4}}, .incs = {3.5f, missing}}, {.raw_masks = {0xFFFF}}};
  write_job(j, dir.path);
  EXPECT_EQ((std::vector<int>{20, 3, 3, 5}), case_axes(j));
  // levels, nt, na (2 x 5 words), ni; then 2 + 10 + 8 bytes per case.
  const std::string first = be16(0) + be16(0x0001) + be16(0x0002) + be16(0x0002) + be16(0x0004) +
                            be16(0x0010) + be32(0x40600000) + be32(0xC9800000);
  const std::string second =
      be16(0) + be16(0xFFFF) + zeros(8) + be32(0xC9800000) + be32(0xC9800000);
  EXPECT_TRUE(same_bytes(be32(0) + be32(2) + be32(10) + be32(8) + first + second,
                         read_file(dir / "intermed.x").substr(64)));
}

TEST(Jobbuild, SizesGivenShapeTheRecords) {
  testkit::temp_dir dir;
  job j;
  j.axes = {{.tag = "q1", .elements = std::vector<element>(20, element{"e"})}};
  j.cases = {{.axes = {{0, 17}}}};
  j.nt = 6;
  j.na = 2;  // too small for the axis's two words: the first one only
  j.levels = 2;
  write_job(j, dir.path);
  EXPECT_EQ(be32(2) + be32(6) + be32(2) + be32(0) + zeros(6) + be16(1),
            read_file(dir / "intermed.x").substr(64));
}

TEST(Jobbuild, DamageHelpers) {
  testkit::temp_dir dir;
  write_job(sample_job(), dir.path);
  const std::string path = dir / "intermed.x";
  set_header_type(path, 3);
  set_header_version(path, 10);
  set_be32(path, 64, 5);
  append_bytes(path, "xy");
  tx::file_ptr in(std::fopen(path.c_str(), "rb"));
  EXPECT_EQ(-3, tx::GetXVersion(in.get(), 12));
  const std::string f = read_file(path);
  EXPECT_EQ(be16(3) + be16(10), f.substr(6, 4));
  EXPECT_EQ(be32(5), f.substr(64, 4));
  EXPECT_EQ("xy", f.substr(f.size() - 2));
  truncate_file(path, 10);
  EXPECT_EQ(10u, read_file(path).size());
  remove_file(path);
  EXPECT_FALSE(testkit::file_exists(path));
}

// Reads a whole compressed file back through compio.
std::string uncompressed(const std::string& path) {
  tx::comp_file* h = tx::compopen(path.c_str(), "rb", 12);
  if (h == nullptr) return "(cannot open)";
  std::string text;
  char buf[4096];
  for (int n; (n = tx::compread(h, buf, sizeof buf)) > 0;) text.append(buf, n);
  tx::compclose(h);
  return text;
}

TEST(Jobbuild, DescriptionsLoadBack) {
  // The first job fits DescsAdd's tag rules and goes through DescsSave; the
  // second has a tag of 11 characters and an inc named like an axis, so its
  // entries are written through compio in the same format.
  job fits;
  fits.axes = {{.tag = "q1",
                .elements = {{"a"}},
                .desc = description{"Sex", "Q1. Are you \"male\" & Caf\xe9?"}},
               {.tag = "q2", .elements = {{"a"}}},
               {.tag = "q3", .elements = {{"a"}}, .desc = description{}}};
  fits.incs = {{"age", description{"Age", std::nullopt}}};
  fits.weights = {{.number = 2, .desc = description{"Weight", "Population"}}};
  job clash = fits;
  clash.axes[1].tag = "region_long";
  clash.axes[1].desc = description{"Region", "Q2. Region"};
  clash.incs.push_back({"q1", description{"Income", "Q1 income"}});
  for (const job* j : {&fits, &clash}) {
    testkit::temp_dir dir;
    write_job(*j, dir.path);
    const std::string path = dir / "descrips.inf";
    EXPECT_EQ(descriptions_text(*j), uncompressed(path));
    int count = -1;
    tx::descs_guard h{tx::DescsLoad(path.c_str(), 0, 0, &count)};
    ASSERT_GE(h.handle, 0) << tx::DescsErrorString(h.handle);
    EXPECT_EQ(j == &fits ? 4 : 6, count);
    EXPECT_STREQ("Sex", tx::TagGetLabel(h.handle, "q1"));
    EXPECT_STREQ("Q1. Are you \"male\" & Caf\xe9?", tx::TagGetDescript(h.handle, "q1"));
    EXPECT_STREQ("", tx::TagGetLabel(h.handle, "q3"));
    EXPECT_STREQ("", tx::TagGetDescript(h.handle, "q3"));
    EXPECT_STREQ("Age", tx::TagGetLabel(h.handle, "age"));
    EXPECT_STREQ("", tx::TagGetDescript(h.handle, "age"));
    EXPECT_EQ(2, tx::TagGetWmid(h.handle, "Weight"));
    if (j == &fits) {
      EXPECT_EQ(nullptr, tx::TagGetLabel(h.handle, "q2"));
    } else {
      EXPECT_STREQ("Region", tx::TagGetLabel(h.handle, "region_long"));
      EXPECT_NE(std::string::npos, uncompressed(path).find("#@inc q1\nQ1 income\n"));
    }
  }
}

TEST(Jobbuild, NoDescriptionsFile) {
  testkit::temp_dir dir;
  job j;
  j.axes = {{.tag = "q1", .elements = {{"a"}}, .desc = description{"Sex", "Q1"}}};
  j.descriptions = false;
  write_job(j, dir.path);
  EXPECT_FALSE(testkit::file_exists(dir / "descrips.inf"));
}

#ifdef TXJOB_BINARY
TEST(Jobbuild, TxjobWritesTheDemoJob) {
  testkit::temp_dir dir;
  const std::string job_dir = dir / "job";
  const testkit::result r = testkit::run_program(
      TXJOB_BINARY, {TX_SOURCE_DIR "/examples/demo/job.json", job_dir}, dir.path);
  ASSERT_EQ(0, r.status) << r.err;
  for (const char* name : {"seg1.xv", "axes.inf", "q4.ax", "psat.ay", "intermed.x"})
    EXPECT_TRUE(testkit::file_exists(job_dir + "/" + name)) << name;
  int count = 0;
  tx::descs_guard h{tx::DescsLoad((job_dir + "/descrips.inf").c_str(), 0, 0, &count)};
  ASSERT_GE(h.handle, 0);
  EXPECT_STREQ("R\xe9gion", tx::TagGetLabel(h.handle, "q3"));
  // 13 axes; 200 records of 2 + 2 x 14 mask words + 3 floats.
  EXPECT_EQ(be32(13), read_file(job_dir + "/axes.inf").substr(64, 4));
  const std::string cases = read_file(job_dir + "/intermed.x");
  EXPECT_EQ(be32(0) + be32(2) + be32(28) + be32(12), cases.substr(64, 16));
  EXPECT_EQ(80u + 200u * 42u, cases.size());
}

TEST(Jobbuild, TxjobRefusesBadInput) {
  testkit::temp_dir dir;
  testkit::write_file(dir / "dash.json", "{\"title\": [\"a \\u2013 b\"]}");
  const struct {
    std::vector<std::string> args;
    int status;
    const char* message;
  } cases[] = {
      {{"dash.json", "out"}, 1, "outside ISO-8859-1"},
      {{"--synthetic", "cases=3,colour=2", "out"}, 1, "unknown synthetic parameter: colour"},
      {{"--synthetic", "cases=3"}, 2, "usage: txjob"}};
  for (const auto& c : cases) {
    const testkit::result r = testkit::run_program(TXJOB_BINARY, c.args, dir.path);
    EXPECT_EQ(c.status, r.status) << c.args[0];
    EXPECT_NE(std::string::npos, r.err.find(c.message)) << r.err;
  }
}

TEST(Jobbuild, TxjobSyntheticIsRepeatable) {
  testkit::temp_dir dir;
  const std::string spec = "cases=50,single=6,multi=3,elements=20,incs=3,weights=2,seed=9";
  for (const char* out : {"a", "b"})
    ASSERT_EQ(0, testkit::run_program(TXJOB_BINARY, {"--synthetic", spec, out}, dir.path).status);
  for (const char* name : {"intermed.x", "q5.ax", "axes.inf", "descrips.inf", "wmvals2.x"})
    EXPECT_TRUE(same_bytes(read_file(dir / "a/" + name), read_file(dir / "b/" + name))) << name;
  // 9 axes of 20 elements (two words each, one fewer bit on every seventh).
  EXPECT_EQ(be32(0) + be32(2) + be32(36) + be32(12),
            read_file(dir / "a/intermed.x").substr(64, 16));
}
#endif

}  // namespace
