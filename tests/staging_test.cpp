// The staged outputs of a run in this process: a commit puts the whole set
// in place or leaves every earlier file as it was, and nothing of the
// temporary files or of the earlier files' second names stays behind.
#include "base/staging.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "base/misc.h"
#include "testkit.h"

namespace tx {
namespace {

namespace fs = std::filesystem;

// The names in dir, sorted.
std::vector<std::string> names_in(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// Stages each output of `names` in dir with the text "new <name>".
void stage(staged_outputs& outputs, const std::string& dir, const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    std::FILE* f = open_staged(outputs, name.c_str(), dir + "/" + name);
    ASSERT_NE(nullptr, f) << name;
    std::fputs(("new " + name).c_str(), f);
    ASSERT_EQ(0, std::fclose(f));
  }
}

// The tests run with unnamed temporary files and with named ones, as on a
// file system without the former.
struct temp_files : testing::TestWithParam<bool> {
  void SetUp() override { testkit::no_unnamed_files = GetParam(); }
  void TearDown() override { testkit::no_unnamed_files = false; }
};
INSTANTIATE_TEST_SUITE_P(Staging, temp_files, testing::Bool(),
                         [](const auto& info) { return info.param ? "Named" : "Unnamed"; });

// What a commit leaves: the stop message ("" when it succeeded).
std::string commit(staged_outputs& outputs) {
  try {
    commit_outputs(outputs);
  } catch (const run_stopped& stop) {
    EXPECT_EQ(1, stop.status);
    return stop.message;
  }
  return {};
}

TEST_P(temp_files, ACommitReplacesTheWholeSetAndKeepsTheModes) {
  testkit::temp_dir dir;
  testkit::write_file(dir / "a", "old a");
  ASSERT_EQ(0, chmod((dir / "a").c_str(), 0640));
  staged_outputs outputs;
  stage(outputs, dir.path, {"a", "b"});
  // Nothing is in place before the commit; the temporary files have names
  // only where the file system cannot make them without.
  EXPECT_EQ("old a", testkit::read_file(dir / "a"));
  EXPECT_EQ(GetParam() ? 3U : 1U, names_in(dir.path).size());
  EXPECT_FALSE(testkit::file_exists(dir / "b"));
  EXPECT_EQ("", commit(outputs));
  EXPECT_EQ("new a", testkit::read_file(dir / "a"));
  EXPECT_EQ("new b", testkit::read_file(dir / "b"));
  EXPECT_EQ((std::vector<std::string>{"a", "b"}), names_in(dir.path));
  struct stat st {};
  ASSERT_EQ(0, stat((dir / "a").c_str(), &st));
  EXPECT_EQ(0640U, st.st_mode & 07777);
  EXPECT_TRUE(outputs.files.empty());
}

// An output whose earlier file cannot be kept aside (a directory took its
// place after the run opened it) fails the commit: no output of the set
// changes, the message names that output, and nothing else is left.
TEST_P(temp_files, AFailedCommitLeavesEveryEarlierFile) {
  const struct {
    std::vector<std::string> outputs;
    const char* blocked;
  } rows[] = {
      {{"a", "b", "c"}, "b"},
      {{"a", "b", "c"}, "c"},
      {{"a", "b"}, "a"},
  };
  for (const auto& row : rows) {
    testkit::temp_dir dir;
    for (const std::string& name : row.outputs) testkit::write_file(dir / name, "old " + name);
    staged_outputs outputs;
    stage(outputs, dir.path, row.outputs);
    fs::remove(dir / row.blocked);
    fs::create_directory(dir / row.blocked);
    testkit::write_file(dir / row.blocked + "/inside", "x");
    EXPECT_EQ(
        std::string("ERROR: cannot write \"") + row.blocked + "\": " + std::strerror(EPERM) + "\n",
        commit(outputs))
        << row.blocked;
    for (const std::string& name : row.outputs)
      if (name != row.blocked) {
        EXPECT_EQ("old " + name, testkit::read_file(dir / name)) << name;
      }
    EXPECT_EQ(row.outputs, names_in(dir.path)) << row.blocked;
  }
}

// A run that stops before its commit leaves no temporary file.
TEST_P(temp_files, OutputsNotCommittedLeaveNothing) {
  testkit::temp_dir dir;
  testkit::write_file(dir / "a", "old a");
  {
    staged_outputs outputs;
    stage(outputs, dir.path, {"a", "b"});
  }
  EXPECT_EQ("old a", testkit::read_file(dir / "a"));
  EXPECT_EQ(std::vector<std::string>{"a"}, names_in(dir.path));
}

}  // namespace
}  // namespace tx
