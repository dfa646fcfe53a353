// Damaged jobs and failing outputs, in every form: a run either completes and
// reports its files, or ends with exit status 1 and a message, and never
// reports files after a failure.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>

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
constexpr form forms[] = {
    {"tx2xml", "survey.xml", "survey.asc"},  {"tx2ts", "survey.sss", "survey.asc"},
    {"tx2spss", "commands.xsp", "data.xsp"}, {"tx2csv", "survey.txt", "survey.csv"},
    {"tx2sav", "survey.sav", "survey.sav"},  {"tx2html", "codebook.html", "codebook.html"}};

using job_bytes = std::map<std::string, std::string>;

// Every kind of record: the job of tests/cases/jobs/grid.json (a title, a
// no-data element, a multi-coded axis, a grid, an axis not in the cases,
// incs with a missing value, a weight, descriptions).
job_bytes written_job() {
  testkit::temp_dir dir;
  const std::string json = std::string(TX_SOURCE_DIR) + "/tests/cases/jobs/grid.json";
  EXPECT_EQ(0, testkit::run_program(TXJOB_BINARY, {json, dir.path}, dir.path).status);
  job_bytes files;
  for (const auto& entry : fs::directory_iterator(dir.path))
    files[entry.path().filename().string()] = testkit::read_file(entry.path().string());
  return files;
}

void put_job(const job_bytes& files, const std::string& dir) {
  for (const auto& [name, bytes] : files) testkit::write_file(dir + "/" + name, bytes);
}

// A failed run leaves nothing in its output directory: no output, no
// temporary file.
void expect_clean_end(const testkit::result& r, const std::string& what) {
  if (r.status == 0) {
    EXPECT_THAT(r.out, HasSubstr("Produced file")) << what;
    return;
  }
  EXPECT_EQ(1, r.status) << what << "\n" << r.err;
  EXPECT_THAT(r.err, Not(testing::IsEmpty())) << what;
  EXPECT_THAT(r.out, Not(HasSubstr("Produced file"))) << what << "\n" << r.err;
  EXPECT_TRUE(fs::is_empty(r.dir)) << what << ": something was left in the output directory";
}

// The job with one file replaced, converted into every form.
void expect_clean_ends(const job_bytes& full, const std::string& name, const std::string& bytes,
                       const std::string& what) {
  testkit::temp_dir dir;
  put_job(full, dir.path);
  testkit::write_file(dir / name, bytes);
  for (const form& f : forms) {
    fs::create_directory(dir / f.argv0);
    expect_clean_end(testkit::convert(dir.path, {f.argv0}, {{"TXPERM", f.argv0}}),
                     f.argv0 + (": " + name + what));
  }
}

// Cuts at the start, inside the header, just after it, inside the counts and
// records that follow each kind of header, the middle, and one and two bytes
// short of the end.
TEST(Faults, EveryTruncatedJobFileEndsCleanly) {
  const job_bytes full = written_job();
  ASSERT_FALSE(full.empty());
  for (const auto& [name, bytes] : full) {
    std::set<std::size_t> at = {0,   1,   2,   10,  32,  63,  64,  65,  66,  68,  70,
                                72,  76,  80,  81,  84,  90,  100, 110, 132, 136, 160,
                                200, 260, 262, 266, 270, 280, 384, 400, 420, 460, 500};
    at.insert({bytes.size() / 2, bytes.size() - 2, bytes.size() - 1});
    for (const std::size_t n : at)
      if (n < bytes.size())
        expect_clean_ends(full, name, bytes.substr(0, n), " cut at " + std::to_string(n));
  }
}

TEST(Faults, WrongHeadersEndCleanly) {
  const job_bytes full = written_job();
  const struct {
    const char* what;
    std::size_t at;
    std::string bytes;
  } damages[] = {
      {"wrong type", 6, {'\0', 44}},    {"type out of range", 6, {'\0', 77}},
      {"wrong version", 8, {'\0', 10}}, {"out-of-date format", 0, "UU"},
      {"not a job file", 5, {'\0'}},    {"structure versions", 30, "\x7f"},
  };
  for (const auto& [name, bytes] : full) {
    if (bytes.size() < 64 || name == "descrips.inf") continue;  // no header
    for (const auto& d : damages)
      expect_clean_ends(full, name, std::string(bytes).replace(d.at, d.bytes.size(), d.bytes),
                        std::string(" with ") + d.what);
  }
  expect_clean_ends(full, "descrips.inf", "#@axis q1\nplain\n#;tag=q1\n#;label=Q1\n", " in text");
}

// The permanent directory does not exist or is a plain file; an output is a
// link to /dev/full, where every write fails for want of space.
TEST(Faults, OutputsThatCannotBeWrittenStop) {
  const job_bytes full = written_job();
  for (const form& f : forms) {
    for (const char* perm : {"missing/dir", "plain", "full-meta", "full-data"}) {
      testkit::temp_dir dir;
      put_job(full, dir.path);
      testkit::write_file(dir / "plain", "x");
      const std::string output = perm[5] == 'm' ? f.meta_file : f.data_file;
      if (perm[0] == 'f') {
        fs::create_directory(dir / perm);
        fs::create_symlink("/dev/full", dir / (std::string(perm) + "/" + output));
      }
      const testkit::result r = testkit::convert(dir.path, {f.argv0}, {{"TXPERM", perm}});
      const std::string what = std::string(f.argv0) + " with TXPERM=" + perm;
      EXPECT_EQ(1, r.status) << what;
      // The first output the form opens is the one named.
      EXPECT_THAT(r.err, testing::AnyOf(HasSubstr(perm[0] == 'f' ? output : f.meta_file),
                                        HasSubstr(perm[0] == 'f' ? output : f.data_file)))
          << what;
      EXPECT_THAT(r.out, Not(HasSubstr("Produced file"))) << what;
      if (perm[0] == 'f') {  // the link alone is left
        EXPECT_EQ(1, std::distance(fs::directory_iterator(dir / perm), {})) << what;
      }
    }
  }
}

}  // namespace
