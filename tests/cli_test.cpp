// The real program as a process: exit statuses and what reaches stdout and stderr.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "testkit.h"

namespace {

using testing::HasSubstr;
using testing::StartsWith;

const std::string banner =
    "[ Tabulex to triple-s converter, program version 1.1 (May 21 2001 09:22:12) ]\n\n";

TEST(Cli, BannerAndOutputFormatComeFirstOnStandardError) {
  testkit::temp_dir dir;
  testkit::result r = testkit::run_program("tx2spss", {}, dir.path);
  EXPECT_THAT(r.err, StartsWith("[ Tabulex to triple-s converter, program version 1.1 "
                                "(May 21 2001 09:22:12) ]\n\noutput format SPSS\n"));
}

TEST(Cli, FormatOptionSelectsTheRowBeforeTheFormatLine) {
  testkit::temp_dir dir;
  testkit::result r = testkit::run_program("tx2fmt", {"-f", "spss"}, dir.path);
  EXPECT_THAT(r.err, StartsWith(banner + "output format SPSS\n"));
  testkit::result csv = testkit::run_program("tx2spss", {"-f", "csv"}, dir.path);
  EXPECT_THAT(csv.err, StartsWith(banner + "output format Tab seperated CSV\n"));
}

TEST(Cli, UsageTextGoesToStandardOutputWithStatusZero) {
  testkit::temp_dir dir;
  testkit::result r = testkit::run_program("tx2fmt", {"-x"}, dir.path);
  EXPECT_EQ(0, r.status);
  EXPECT_TRUE(testkit::same_bytes(
      "Usage: tx2fmt [ -lx ] [-p precision] [-m missing_value_string ] [-f format] [directory]\n"
      "\n"
      "    Convert Tabulex output to triple-s format\n"
      "\n"
      "-f   - output format. Available formats are:\n"
      "\n"
      "       xml     - triple-s XML format (default)\n"
      "       classic - Classic triple-s\n"
      "       spss    - SPSS format\n"
      "       csv     - tab separated csv file\n"
      "       sav     - SPSS system file\n"
      "\n"
      "-p   - number following indicates precision. Default is worked\n"
      "\t      out by scanning the data\n"
      "\n"
      "-m   - string following specifies string for missing values\n"
      "\n"
      "-l   - join multiple titles together\n"
      "\n"
      "-r   - set max length of value labels (default is 20)\n"
      "-q   - set max length of variable labels (default is 40)\n"
      "\n"
      "-x   - display this help.\n"
      "\n",
      r.out));
  EXPECT_EQ(banner, r.err);  // nothing after the banner: the run ends before its format line

  testkit::result spss = testkit::run_program("tx2spss", {"-h"}, dir.path);
  EXPECT_EQ(0, spss.status);
  EXPECT_THAT(spss.out, StartsWith("Usage: tx2spss [ -lx ]"));
  EXPECT_THAT(spss.out, HasSubstr("       spss    - SPSS format (default)\n"));
  EXPECT_THAT(spss.out, HasSubstr("       xml     - triple-s XML format\n"));
}

TEST(Cli, CommandLineErrorsEndWithStatusTwo) {
  const struct {
    const char* program;
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {"tx2fmt", {"-f", "SPSS"}, "unrecognised output format after -f\n"},
      {"tx2fmt", {"-m"}, "missing parameter after -m\n"},
      {"tx2csv", {"-l", "-m", "NA", "-m"}, "missing parameter after -m\n"},
      {"tx2xml", {"-p", "3x"}, "precision argument \"3x\" after -p is not numeric\n"},
      {"tx2xml", {"-q"}, "missing max length argument after -q\n"},
  };
  testkit::temp_dir dir;
  for (const auto& c : cases) {
    testkit::result r = testkit::run_program(c.program, c.args, dir.path);
    EXPECT_EQ(2, r.status) << c.args[0];
    EXPECT_EQ(banner + c.message, r.err) << c.args[0];
    EXPECT_EQ("", r.out) << c.args[0];
  }
}

TEST(Cli, InvalidFormatItemEndsWithStatusOne) {
  testkit::temp_dir dir;
  testkit::result r = testkit::run_program("tx2spss", {}, dir.path, {{"TXSPSSRC", "c;f=8.2.1;z"}});
  EXPECT_EQ(1, r.status);
  EXPECT_EQ(banner + "ERROR: Format specification \"f=8.2.1\" invalid ('TXSPSSRC')\n", r.err);
  EXPECT_EQ("", r.out);
}

TEST(Cli, OptionListWarningsComeBeforeTheFormatLine) {
  testkit::temp_dir dir;
  testkit::result r =
      testkit::run_program("tx2spss", {"-r", "5"}, dir.path, {{"TXSPSSRC", "y;q=3"}});
  EXPECT_THAT(r.err, StartsWith(banner + "tx2spss: Unknown option \"y\" ignored ('TXSPSSRC')\n" +
                                "WARNING: Specified value below minimum of 8 - ignored (q=3)\n" +
                                "Specified value for r of 5 is below minimum of 8 (ignored)\n" +
                                "output format SPSS\n"));
}

}  // namespace
