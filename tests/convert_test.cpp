#include "fmtlib/run/convert.h"

#include <gtest/gtest.h>

#include <string>

#include "testkit.h"
#include "tools/jobbuild.h"
#include "writers_jobs.h"

namespace tx {
namespace {

std::string name_of(std::string arg0) { return work_out_program_name(arg0.data()); }

TEST(Convert, ProgramNameIsTheTailOfLettersDigitsAndDots) {
  EXPECT_EQ("tx2spss", name_of("/usr/local/bin/TX2SPSS"));
  EXPECT_EQ("Tx2spss", name_of("TX2SPSS"));  // the first character is never examined
  EXPECT_EQ("tx2fmt.csv", name_of("tx2fmt.csv"));
  EXPECT_EQ("spss", name_of("x-spss"));
  EXPECT_EQ("a", name_of("/a"));
  EXPECT_EQ("", name_of(""));
  EXPECT_EQ("b", name_of("A_B"));
}

TEST(Convert, ProgramNameSelectsDriver) {
  const struct {
    const char* argv0;
    const char* meta_file;
    const char* display;
  } cases[] = {
      {"tx2fmt", "survey.xml", "XML"},  // no suffix matches: the default row
      {"/usr/local/bin/TX2SPSS", "commands.xsp", "SPSS"},
      {"TX2SPSS", "commands.xsp", "SPSS"},
      {"tx2ts", "survey.sss", "Triple S"},
      {"tx2classic", "survey.sss", "Triple S"},
      {"tx2sss", "survey.xml", "XML"},
      {"tx2fmt.csv", "survey.txt", "Tab seperated CSV"},
      {"TX2SAV", "survey.sav", "SPSS system file"},
      {"spss", "survey.xml", "XML"},  // a name no longer than its suffix
      {"x-spss", "survey.xml", "XML"},
  };
  for (const auto& c : cases) {
    run_state run;
    std::string arg0 = c.argv0;
    driver_row* row = select_driver(run, work_out_program_name(arg0.data()));
    EXPECT_STREQ(c.meta_file, row->meta_file) << c.argv0;
    EXPECT_STREQ(c.display, row->display_name) << c.argv0;
  }
}

TEST(Convert, EveryRunHasItsOwnDriverTable) {
  run_state a, b;
  a.drivers[1].default_missing = "NA";
  EXPECT_EQ("-99.99", b.drivers[1].default_missing);
  EXPECT_EQ(nullptr, b.drivers[n_drivers].suffix);
}

}  // namespace
}  // namespace tx

namespace tx {
namespace {

// A grid (its x0, x1 names come from a per-run counter) on top of a job with
// name clashes (the unique-name counter) and yes/no groups.
job::job job_with_grid() {
  job::job j = writers_jobs::survey_job();
  job::axis grid = writers_jobs::single_axis("gbrand", {"Good", "Bad"}, {"Rate each brand"});
  grid.ngrid = 2;
  job::axis partner = writers_jobs::single_axis("pbrand", {"Alpha", "Beta"});
  partner.partner = true;
  j.axes.push_back(grid);
  j.axes.push_back(partner);
  for (std::size_t i = 0; i < j.cases.size(); ++i) {
    j.cases[i].axes.push_back({static_cast<int>(i % 2)});
    j.cases[i].axes.push_back({});
  }
  return j;
}

TEST(Convert, TwoConversionsInOneProcessGiveTheSameBytes) {
  const struct {
    const char* argv0;
    const char* files[2];
  } forms[] = {{"tx2xml", {"survey.xml", "survey.asc"}},
               {"tx2ts", {"survey.sss", "survey.asc"}},
               {"tx2spss", {"commands.xsp", "data.xsp"}},
               {"tx2csv", {"survey.txt", "survey.csv"}},
               {"tx2sav", {"survey.sav", "survey.sav"}}};
  const job::job jobs[] = {job_with_grid(), writers_jobs::spss_job()};
  for (const job::job& j : jobs) {
    testkit::temp_dir dir;
    job::write_job(j, dir.path);
    for (const auto& form : forms) {
      const testkit::env_list env{{"TXSPSSRC", "a=1"}};
      testkit::result first = testkit::convert(dir.path, {form.argv0}, env);
      ASSERT_EQ(0, first.status) << form.argv0 << first.err;
      const std::string meta = first.file(form.files[0]), data = first.file(form.files[1]);
      testkit::result second = testkit::convert(dir.path, {form.argv0}, env);
      ASSERT_EQ(0, second.status) << form.argv0 << second.err;
      EXPECT_TRUE(testkit::same_bytes(meta, second.file(form.files[0]))) << form.argv0;
      EXPECT_TRUE(testkit::same_bytes(data, second.file(form.files[1]))) << form.argv0;
      EXPECT_EQ(first.out, second.out);
    }
  }
}

}  // namespace
}  // namespace tx
