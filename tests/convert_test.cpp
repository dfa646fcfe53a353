// The driver: the program's name chooses the form, and two conversions in
// one process give the same bytes (no state outlives a run).
#include "fmtlib/driver/convert.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testkit.h"

namespace tx {
namespace {

TEST(Convert, ProgramNameSelectsDriver) {
  const struct {
    const char *argv0, *name, *meta_file;
  } cases[] = {
      {"tx2fmt", "tx2fmt", "survey.xml"},  // no suffix matches: the default row
      {"/usr/local/bin/TX2SPSS", "tx2spss", "commands.xsp"},
      {"TX2SPSS", "Tx2spss", "commands.xsp"},  // the first character is never examined
      {"tx2ts", "tx2ts", "survey.sss"},
      {"tx2classic", "tx2classic", "survey.sss"},
      {"tx2fmt.csv", "tx2fmt.csv", "survey.txt"},
      {"TX2SAV", "Tx2sav", "survey.sav"},
      {"tx2html", "tx2html", "codebook.html"},
      {"x-html", "html", "survey.xml"},  // a name no longer than its suffix
      {"spss", "spss", "survey.xml"},    // a name no longer than its suffix
      {"x-spss", "spss", "survey.xml"},
      {"A_B", "b", "survey.xml"},
      {"/tx2sav", "tx2sav", "survey.sav"},  // the unexamined first character is a separator
      {"\\tx2csv", "tx2csv", "survey.txt"},
      {"", "", "survey.xml"},
  };
  for (const auto& c : cases) {
    run_state run;
    std::string arg0 = c.argv0;
    const std::string name = work_out_program_name(arg0.data());
    EXPECT_EQ(c.name, name) << c.argv0;
    EXPECT_STREQ(c.meta_file, select_driver(run, name.c_str())->meta_file) << c.argv0;
  }
}

TEST(Convert, TwoConversionsInOneProcessGiveTheSameBytes) {
  const struct {
    const char* argv0;
    const char* files[2];
  } forms[] = {
      {"tx2xml", {"survey.xml", "survey.asc"}},  {"tx2ts", {"survey.sss", "survey.asc"}},
      {"tx2spss", {"commands.xsp", "data.xsp"}}, {"tx2csv", {"survey.txt", "survey.csv"}},
      {"tx2sav", {"survey.sav", "survey.sav"}},  {"tx2html", {"codebook.html", "codebook.html"}}};
  // A grid (named by a per-run counter), name clashes (the unique-name
  // counter), yes/no groups, incs and weights.
  for (const char* job : {"grid.json", "names.json", "spss.json"}) {
    testkit::temp_dir dir;
    const std::string json = std::string(TX_SOURCE_DIR) + "/tests/cases/jobs/" + job;
    ASSERT_EQ(0, testkit::run_program(TXJOB_BINARY, {json, dir.path}, dir.path).status) << job;
    for (const auto& form : forms) {
      const testkit::env_list env{{"TXSPSSRC", "a=1"}};
      const testkit::result first = testkit::convert(dir.path, {form.argv0}, env);
      ASSERT_EQ(0, first.status) << form.argv0 << first.err;
      const std::string meta = first.file(form.files[0]), data = first.file(form.files[1]);
      const testkit::result second = testkit::convert(dir.path, {form.argv0}, env);
      EXPECT_TRUE(testkit::same_bytes(meta, second.file(form.files[0]))) << form.argv0 << job;
      EXPECT_TRUE(testkit::same_bytes(data, second.file(form.files[1]))) << form.argv0 << job;
      EXPECT_EQ(first.out + first.err, second.out + second.err);
    }
  }
}

// A directory word moves the process only for its own run: the next
// conversion reads the same word from where the first one started, and
// writes the same bytes.
TEST(Convert, ADirectoryWordHoldsForItsOwnRunOnly) {
  testkit::temp_dir dir;
  const std::string json = std::string(TX_SOURCE_DIR) + "/tests/cases/jobs/grid.json";
  ASSERT_EQ(0, testkit::run_program(TXJOB_BINARY, {json, dir.path + "/job"}, dir.path).status);
  const std::vector<std::string> args{"tx2xml", "job"};
  const std::vector<testkit::result> runs = testkit::convert_in_turn(dir.path, {args, args});
  ASSERT_EQ(0, runs[0].status) << runs[0].err;
  ASSERT_EQ(0, runs[1].status) << runs[1].err;
  EXPECT_EQ(runs[0].out + runs[0].err, runs[1].out + runs[1].err);
  const std::string xml = dir.path + "/job/survey.xml";
  const std::string second = testkit::read_file(xml);
  ASSERT_EQ(0, testkit::convert(dir.path, args).status);
  EXPECT_TRUE(testkit::same_bytes(second, testkit::read_file(xml)));
  EXPECT_FALSE(testkit::file_exists(dir.path + "/survey.xml"));
}

}  // namespace
}  // namespace tx
