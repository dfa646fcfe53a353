// Tests of outputcsv: the description "survey.txt" of the tab-separated data.
#include "fmtlib/write/outputcsv.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "fmtlib/model/xtostats.h"
#include "fmtlib/read/axinf.h"
#include "fmtlib/run/convert.h"
#include "testkit.h"
#include "writers_jobs.h"
#include "writers_model.h"

namespace tx {
namespace {

using testing::HasSubstr;
using writers_model::add_axis;
using writers_model::add_var;
using writers_model::set_title;

std::string one_block(run_state& run, stat_var* var, const size_detail* size = nullptr) {
  stat_node node{var, 1, 0, const_cast<size_detail*>(size), nullptr, nullptr};
  return testkit::capture([&](std::FILE* f) { output_csv_labels(run, f, &node, 0); });
}

size_detail measured(size_kind kind, int decimals, float min, float max) {
  return size_detail{0, kind, 1, decimals, max, min};
}

const char* const explanation =
    "This is the description of the generated data file\n"
    "\n"
    "There are three types of variables, single, multiple and value. \"Single\"\n"
    "variables occupy one field and are integer values. \"Multiple\" values\n"
    "occupy a field each for each answer within the multiple. \"0\" indicates\n"
    "a \"no\", \"1\" indicates a \"yes\" and space is \"no answer\". The final variable\n"
    "type is a value, generally integer. The maximum and minimum range of this\n"
    "variable is given.\n"
    "\n"
    "Each variable is shown with its name, associated question text (if any)\n"
    "the type of variable, field position and possible values. In the case of\n"
    "\"multiple\", each value is shown along with the field it occupies.\n"
    "\n";

TEST(Outputcsv, HeaderDateAndTitle) {
  testkit::scoped_env tz(testkit::env_list{{"TZ", "UTC"}});
  const struct {
    std::initializer_list<const char*> title;
    const char* want;
  } cases[] = {
      {{}, "unknown"},
      {{"Cars", "Wave\t2\n"}, "Cars Wave 2  "},
  };
  for (const auto& c : cases) {
    run_state run;
    run.now = testkit::pinned_time;
    set_title(run, c.title);
    EXPECT_EQ(std::string(explanation) + "\nProduced on: 14 Mar 2026 at 09:26Survey title: " +
                  c.want + "\n",
              testkit::capture([&](std::FILE* f) { csv_header(run, f); }));
  }
}

TEST(Outputcsv, NumericRanges) {
  const struct {
    size_detail d;
    const char* want;
  } cases[] = {
      {measured(size_whole, 0, 2, 17), "Range: 2 to 17"},
      {measured(size_whole, 0, 5, 5), "Range: 5"},
      {measured(size_real, 3, -0.5, 12.25), "Range: -0.500 to 12.250"},
      {measured(size_real, 7, 2.5, 2.5), "Range: 2.5000000"},
      {measured(size_none, 0, 3.4028235e38f, -3.4028235e38f), ""},  // never a value: no range
      {measured(size_text, 0, 3.4028235e38f, -3.4028235e38f), ""},
  };
  for (const auto& c : cases) {
    run_state run;
    stat_var* v = add_var(run, type_numeric, "@inc1", "Income", nullptr);
    EXPECT_EQ(std::string("\nVariable: Income\nQuestion label: Income\nVariable type: value\n"
                          "Field: 1\n") +
                  c.want,
              one_block(run, v, &c.d));
  }
}

TEST(Outputcsv, FieldNumbersCountEveryColumn) {
  run_state run;
  tx::axis_info* m = add_axis(run, "m");
  stat_var* single = add_var(run, type_single, "q1", "  ", add_axis(run, "q1"),
                             {{0, "Yes\tplease"}, {1, ""}, {2, "No"}});
  stat_var* bare = add_var(run, type_single, "q2", "Bare", add_axis(run, "q2"), {{0, ""}});
  stat_var* yes[] = {add_var(run, type_yesno, "@m0", "Brands", m, {{-1, "no A"}, {1, "A"}}),
                     add_var(run, type_yesno, "@m1", "Brands", m, {{0, "no B"}, {1, "B"}}),
                     add_var(run, type_yesno, "@m2", "Brands", m, {{0, "no C"}, {1, ""}})};
  stat_var* lone =
      add_var(run, type_yesno, "@l0", "", add_axis(run, "lone"), {{-1, "no X"}, {1, "X"}});
  stat_var* weight = add_var(run, type_numeric, "@wt", nullptr, nullptr);
  const size_detail d = measured(size_whole, 0, 1, 1);

  std::string got = one_block(run, single);
  got += one_block(run, bare);
  stat_node nodes[3]{};
  for (int i = 0; i < 3; ++i) nodes[i] = {yes[i], i == 0 ? 3 : 0, 0, nullptr,
                                          i < 2 ? &nodes[i + 1] : nullptr, nullptr};
  got += testkit::capture([&](std::FILE* f) {
    for (int i = 0; i < 3; ++i) output_csv_labels(run, f, &nodes[i], i + 1);
  });
  got += one_block(run, lone);
  got += one_block(run, weight, &d);
  EXPECT_EQ(
      "\nVariable: q1\nQuestion label:   \nVariable type: single\nField:  1\n"
      "Value: 0 = Yes please\nValue: 2 = No\n\n"
      // Without value labels and alone: still a column, so still a number.
      "\nVariable: q2\nQuestion label: Bare\nVariable type: single\nField:  2\n\n"
      "\nVariable: m\nQuestion label: Brands\nVariable type: multiple\n"
      "Field 3: A\nField 4: B\nField 5: no C\n"
      "\nVariable: lone\nQuestion label: l0\nVariable type: single\nField:  6\n\n"
      "\nVariable: wt\nQuestion label: wt\nVariable type: value\nField: 7\nRange: 1",
      got);
}

TEST(Outputcsv, SurveyJobMatchesGolden) {
  testkit::temp_dir dir;
  tx::job::write_job(writers_jobs::survey_job(), dir.path);
  const testkit::result r = testkit::convert(dir.path, {"tx2csv"});
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_EQ("Produced files survey.txt and survey.csv\n\n Job completed.\n", r.out);
  EXPECT_TRUE(testkit::matches_golden("csv/survey/survey.txt", r.file("survey.txt")));
  EXPECT_TRUE(testkit::matches_golden("csv/survey/survey.csv", r.file("survey.csv")));
}

// pandas reads every golden survey.csv into a rectangular table with one
// column per field that survey.txt names.
TEST(Outputcsv, PandasReadsEveryGoldenJob) {
  ASSERT_TRUE(writers_jobs::have_pandas()) << "python3-pandas is missing (scripts/install-deps test)";
  const std::filesystem::path golden = std::string(TX_SOURCE_DIR) + "/tests/golden/csv";
  int jobs = 0;
  for (const auto& job : std::filesystem::directory_iterator(golden)) {
    ++jobs;
    const auto [status, report] = writers_jobs::run_reader("csv_check.py", job.path().string());
    EXPECT_EQ(0, status) << job.path() << "\n" << report;
  }
  EXPECT_LT(0, jobs);
}

}  // namespace
}  // namespace tx
