#include "fmtlib/convert.h"

#include <gtest/gtest.h>

#include <string>

#include "testkit.h"

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
