// Damaged jobs and failing outputs: whatever is wrong, a run either completes
// and reports its two files, or ends with exit status 1 and a message, and
// never reports files after a failure.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "jobbuild.h"
#include "testkit.h"

namespace {

namespace fs = std::filesystem;
using testing::HasSubstr;
using testing::Not;

struct form {
  const char* argv0;
  const char* meta_file;
  const char* data_file;
};
constexpr form forms[] = {{"tx2xml", "survey.xml", "survey.asc"},
                          {"tx2ts", "survey.sss", "survey.asc"},
                          {"tx2spss", "commands.xsp", "data.xsp"},
                          {"tx2csv", "survey.txt", "survey.csv"},
                          {"tx2sav", "survey.sav", "survey.sav"}};

// Every kind of record in a small job: a single-coded axis with an element
// without data, a multi-coded axis, an inc with a missing value, a weight,
// descriptions and a title of two lines.
tx::job::job fault_job() {
  tx::job::job j;
  j.title = {"Damaged job", "second line"};
  tx::job::axis q1;
  q1.tag = "q1";
  q1.elements = {{"Yes", 1}, {"None", 0}, {"No", 2}};
  q1.titles = {{"First question"}};
  q1.desc = tx::job::description{"Q1", "Question one"};
  tx::job::axis q2;
  q2.tag = "q2";
  q2.elements = {{"Red", 1}, {"Green", 1}, {"Blue", 1}};
  q2.axis_text = "Colours";
  j.axes = {q1, q2};
  j.incs = {{"age", tx::job::description{"Age", "Age in years"}}};
  j.weights = {{2, {1.0f, 1.5f, 0.5f}}};
  j.cases = {{{{0}, {0, 2}}, {31.0f}, {}},
             {{{2}, {1}}, {tx::job::missing}, {}},
             {{{}, {0, 1, 2}}, {58.5f}, {}}};
  return j;
}

using job_bytes = std::map<std::string, std::string>;

job_bytes written_job() {
  testkit::temp_dir dir;
  tx::job::write_job(fault_job(), dir.path);
  job_bytes files;
  for (const auto& entry : fs::directory_iterator(dir.path))
    files[entry.path().filename().string()] = testkit::read_file(entry.path().string());
  return files;
}

void put_job(const job_bytes& files, const std::string& dir) {
  for (const auto& [name, bytes] : files) testkit::write_file(dir + "/" + name, bytes);
}

// Cuts at the start, inside the header, just after it, inside the records
// that follow each kind of header (the counts of axes.inf, incs.inf and
// intermed.x, the 196-byte block and the records of seg1.xv, the axis record,
// the element records and the heap of an axis file, the case records), the
// middle, and one and two bytes short of the end.
std::vector<std::size_t> cut_points(std::size_t size) {
  std::set<std::size_t> at = {0,   1,   2,   10,  32,  63,  64,  65,  66,  68,  70,
                              72,  76,  80,  81,  84,  90,  100, 110, 132, 136, 160,
                              200, 260, 262, 266, 270, 280, 384, 400, 420, 460, 500};
  at.insert(size / 2);
  if (size >= 2) at.insert(size - 2);
  if (size >= 1) at.insert(size - 1);
  std::vector<std::size_t> points;
  for (std::size_t n : at)
    if (n < size) points.push_back(n);
  return points;
}

// A run that completes reports its files; one that fails says why, with
// exit status 1, and reports nothing.
void expect_clean_end(const testkit::result& r, const std::string& what) {
  if (r.status == 0) {
    EXPECT_THAT(r.out, HasSubstr("Produced file")) << what;
    return;
  }
  EXPECT_EQ(1, r.status) << what << "\n" << r.err;
  EXPECT_THAT(r.err, Not(testing::IsEmpty())) << what;
  EXPECT_THAT(r.out, Not(HasSubstr("Produced file"))) << what << "\n" << r.err;
}

TEST(Faults, EveryTruncatedJobFileEndsCleanly) {
  const job_bytes full = written_job();
  ASSERT_FALSE(full.empty());
  for (const auto& [name, bytes] : full) {
    for (const std::size_t n : cut_points(bytes.size())) {
      testkit::temp_dir dir;
      put_job(full, dir.path);
      testkit::write_file(dir / name, bytes.substr(0, n));
      for (const form& f : forms)
        expect_clean_end(testkit::convert(dir.path, {f.argv0}),
                         std::string(f.argv0) + ": " + name + " cut at " + std::to_string(n));
    }
  }
}

TEST(Faults, WrongHeadersEndCleanly) {
  const job_bytes full = written_job();
  const struct {
    const char* what;
    void (*damage)(const std::string& path);
  } damages[] = {
      {"wrong type", [](const std::string& p) { tx::job::set_header_type(p, 44); }},
      {"type out of range", [](const std::string& p) { tx::job::set_header_type(p, 77); }},
      {"wrong version", [](const std::string& p) { tx::job::set_header_version(p, 10); }},
      {"out-of-date format",
       [](const std::string& p) {
         tx::job::set_byte(p, 0, 0x55);
         tx::job::set_byte(p, 1, 0x55);
       }},
      {"not a job file", [](const std::string& p) { tx::job::set_byte(p, 5, 0x00); }},
      {"structure versions", [](const std::string& p) { tx::job::set_byte(p, 30, 0x7F); }},
  };
  for (const auto& [name, bytes] : full) {
    if (bytes.size() < 64 || name == "descrips.inf") continue;  // no header
    for (const auto& d : damages) {
      testkit::temp_dir dir;
      put_job(full, dir.path);
      d.damage(dir / name);
      for (const form& f : forms)
        expect_clean_end(testkit::convert(dir.path, {f.argv0}),
                         std::string(f.argv0) + ": " + name + " with " + d.what);
    }
  }
}

TEST(Faults, DescriptionsFileInPlainTextEndsCleanly) {
  const job_bytes full = written_job();
  testkit::temp_dir dir;
  put_job(full, dir.path);
  testkit::write_file(dir / "descrips.inf", "#@axis q1\nplain\n#;tag=q1\n#;label=Q1\n");
  for (const form& f : forms) {
    const testkit::result r = testkit::convert(dir.path, {f.argv0});
    expect_clean_end(r, f.argv0);
    EXPECT_THAT(r.err, HasSubstr("Warning: cannot read")) << f.argv0;
  }
}

// The permanent directory cannot take files: it does not exist, or it is a
// plain file. (Tests may run as root, for whom permission bits do not count.)
TEST(Faults, UnwritablePermanentDirectoryStops) {
  const job_bytes full = written_job();
  testkit::temp_dir dir;
  put_job(full, dir.path);
  testkit::write_file(dir / "plain", "x");
  for (const char* perm : {"missing/dir", "plain"}) {
    for (const form& f : forms) {
      const testkit::result r = testkit::convert(dir.path, {f.argv0}, {{"TXPERM", perm}});
      const std::string what = std::string(f.argv0) + " with TXPERM=" + perm;
      EXPECT_EQ(1, r.status) << what;
      // The first output the form opens is the one named.
      EXPECT_THAT(r.err, testing::AnyOf(HasSubstr(f.meta_file), HasSubstr(f.data_file))) << what;
      EXPECT_THAT(r.out, Not(HasSubstr("Produced file"))) << what;
    }
  }
}

// An output that is a link to /dev/full: every write fails for want of space.
TEST(Faults, OutputOnFullDeviceStops) {
  ASSERT_EQ(0, access("/dev/full", W_OK));
  const job_bytes full = written_job();
  for (const form& f : forms) {
    for (const char* output : {f.meta_file, f.data_file}) {
      testkit::temp_dir dir;
      put_job(full, dir.path);
      fs::create_directory(dir / "out");
      fs::create_symlink("/dev/full", dir / ("out/" + std::string(output)));
      const testkit::result r = testkit::convert(dir.path, {f.argv0}, {{"TXPERM", "out"}});
      const std::string what = std::string(f.argv0) + " with " + output + " on /dev/full";
      EXPECT_EQ(1, r.status) << what;
      EXPECT_THAT(r.err, HasSubstr(output)) << what;
      EXPECT_THAT(r.out, Not(HasSubstr("Produced file"))) << what;
    }
  }
}

TEST(Faults, ProgramExitsWithStatusOneOnFullDevice) {
  ASSERT_EQ(0, access("/dev/full", W_OK));
  testkit::temp_dir dir;
  put_job(written_job(), dir.path);
  fs::create_symlink("/dev/full", dir / "survey.asc");
  const testkit::result r = testkit::run_program("tx2xml", {}, dir.path);
  EXPECT_EQ(1, r.status) << r.err;
  EXPECT_THAT(r.err, HasSubstr("survey.asc"));
  EXPECT_THAT(r.out, Not(HasSubstr("Produced files")));
}

TEST(Faults, ProgramExitsWithStatusOneOnCutCaseFile) {
  const job_bytes full = written_job();
  testkit::temp_dir dir;
  put_job(full, dir.path);
  const std::string& cases = full.at("intermed.x");
  testkit::write_file(dir / "intermed.x", cases.substr(0, cases.size() - 1));
  const testkit::result r = testkit::run_program("tx2spss", {}, dir.path);
  EXPECT_EQ(1, r.status) << r.err;
  EXPECT_THAT(r.err, Not(testing::IsEmpty()));
  EXPECT_THAT(r.out, Not(HasSubstr("Produced files")));
}

}  // namespace
