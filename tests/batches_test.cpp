// The writing pass takes the cases in batches, read ahead of the formatting,
// formatted by two threads in turn and written behind them. None of that may
// show in the bytes: a job of many copies of a few cases writes the records
// of those few, copy after copy, whichever thread formatted a case, wherever
// its batch began and its record crossed a block of the case file.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "testkit.h"

namespace tx {
namespace {

// Single-coded axes with one- and two-digit codes and a no-data element,
// multi-coded axes of 12 elements (their yes/no fields span two bytes of a
// mask word and break SPSS lines inside a byte's fields), incs with
// missing, whole and real values, two weights.
const char* const job_head = R"({
  "written_at": 1773480360,
  "title": ["Batches"],
  "axes": [
    {"tag": "s1", "titles": ["S1"], "elements": ["a", "b", {"text": "none", "type": 0}, "d", "e",
                                                "f", "g", "h", "i", "j", "k", "l"]},
    {"tag": "m1", "titles": ["M1"], "coding": "multi",
     "elements": ["a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l"]},
    {"tag": "m2", "titles": ["M2"], "coding": "multi",
     "elements": ["a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l"]},
    {"tag": "m3", "titles": ["M3"], "coding": "multi",
     "elements": ["a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l"]},
    {"tag": "m4", "titles": ["M4"], "coding": "multi",
     "elements": ["a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l"]},
    {"tag": "s2", "titles": ["S2"], "elements": ["x", "y", "z"]}
  ],
  "incs": [{"name": "age", "label": "Age"}, {"name": "spend", "label": "Spend"}],
  "weights": [{"number": 1, "label": "W1"}, {"number": 2, "label": "W2"}],
  "cases": [)";

const char* const pattern[] = {
    R"({"axes": [[0], [0, 1, 11], [], [3, 4, 5, 6, 7, 8, 9, 10], [11], [2]],
        "incs": [34, 12.25], "weights": [1.25, 2]})",
    R"({"axes": [[11], [0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11], [1], [], [0, 11], [0]],
        "incs": [null, 0.1], "weights": [0.8, 1]})",
    R"({"axes": [[], [], [], [], [], []], "incs": [57, null], "weights": [1, 0.5]})",
    R"({"axes": [[5], [7, 8], [0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11], [2], [1, 3], [1]],
        "incs": [-2.5, 1234567.5], "weights": [0.3333, 3]})",
    R"({"axes": [[3], [3], [4], [5], [6], []], "incs": [0, 99.75], "weights": [2, 1.5]})",
};

// Enough copies for several batches of each thread.
constexpr int copies = 4000;

// Writes the job with the pattern's cases `times` times into dir.
void write_job(const std::string& dir, int times) {
  std::string json = job_head;
  for (int t = 0; t < times; ++t)
    for (const char* c : pattern) json += std::string(t == 0 && c == pattern[0] ? "" : ",\n") + c;
  json += "]\n}\n";
  const std::string path = dir + "/job.json";
  testkit::write_file(path, json);
  const testkit::result r = testkit::run_program(TXJOB_BINARY, {path, dir + "/job"}, dir);
  ASSERT_EQ(0, r.status) << r.err;
}

std::string repeated(const std::string& text, int times) {
  std::string all;
  for (int t = 0; t < times; ++t) all += text;
  return all;
}

TEST(Batches, ManyCopiesOfFewCasesWriteTheirRecordsCopyAfterCopy) {
  testkit::temp_dir few, many;
  write_job(few.path, 1);
  write_job(many.path, copies);
  const struct {
    const char* argv0;
    const char* data_file;
  } forms[] = {{"tx2xml", "survey.asc"},
               {"tx2ts", "survey.asc"},
               {"tx2spss", "data.xsp"},
               {"tx2csv", "survey.csv"}};
  for (const auto& form : forms) {
    const testkit::result one = testkit::convert(few.path + "/job", {form.argv0});
    ASSERT_EQ(0, one.status) << form.argv0 << one.err;
    const testkit::result all = testkit::convert(many.path + "/job", {form.argv0});
    ASSERT_EQ(0, all.status) << form.argv0 << all.err;
    const std::string records = one.file(form.data_file);
    ASSERT_FALSE(records.empty()) << form.argv0;
    EXPECT_TRUE(testkit::same_bytes(repeated(records, copies), all.file(form.data_file)))
        << form.argv0;
  }
}

// A write that fails while the cases are still being formatted stops the
// run with the system's reason, and nothing is reported as produced.
TEST(Batches, AFailedWriteBehindStopsTheRun) {
  testkit::temp_dir dir;
  write_job(dir.path, copies);
  const std::string job = dir.path + "/job";
  std::filesystem::create_symlink("/dev/full", job + "/data.xsp");
  const testkit::result r = testkit::run_program("tx2spss", {}, job);
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos,
            r.err.find("ERROR: cannot write \"data.xsp\": No space left on device\n"))
      << r.err;
  EXPECT_EQ(std::string::npos, r.out.find("Produced files")) << r.out;
  EXPECT_FALSE(testkit::file_exists(job + "/commands.xsp"));
}

}  // namespace
}  // namespace tx
