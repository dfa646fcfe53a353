#include "fmtlib/run/options.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "fmtlib/read/intermed.h"
#include "fmtlib/run/convert.h"
#include "fmtlib/run/misc.h"
#include "testkit.h"

namespace tx {
namespace {

using testing::HasSubstr;

// A run as the driver has it when the options are read: started as tx2fmt,
// the XML row selected. What the run writes is collected in out and err, and
// a stop is kept in `stop`.
struct option_run {
  run_state run;
  std::string err;
  std::string out;
  std::optional<run_stopped> stop;
  option_run() {
    run.program_name = "tx2fmt";
    run.progmode = &run.drivers[default_driver];
  }
  void capture(const std::function<void()>& fn) {
    out += testkit::capture([&](std::FILE* o) {
      err += testkit::capture([&](std::FILE* e) {
        run.out = o;
        run.err = e;
        try {
          fn();
        } catch (const run_stopped& s) {
          stop = s;
        }
        run.out = stdout;
        run.err = stderr;
      });
    });
  }
  // Reads TXSPSSRC set to list.
  void read_list(const std::string& list) {
    testkit::scoped_env env({{"TXSPSSRC", list}});
    capture([&] { get_options(run, 1, nullptr); });
  }
  // Reads a command line after argument 0 "tx2fmt"; returns argcrack's result.
  const char* crack(std::vector<std::string> words) {
    words.insert(words.begin(), "tx2fmt");
    argv_words = std::move(words);
    argv.clear();
    for (std::string& w : argv_words) argv.push_back(w.data());
    argv.push_back(nullptr);
    const char* first = nullptr;
    capture([&] {
      first =
          argcrack(run, static_cast<int>(argv_words.size()), argv.data(), run.program_name.c_str());
    });
    return first;
  }
  // The stop the run must have come to.
  run_stopped stopped(const std::string& what) {
    EXPECT_TRUE(stop.has_value()) << "the run did not stop: " << what;
    return stop.value_or(run_stopped{-1, ""});
  }

 private:
  std::vector<std::string> argv_words;
  std::vector<char*> argv;
};

TEST(Options, ListItemsSetTheirFields) {
  struct expected {
    int use_positions = 0, suppress_same_name = 0, element_values = 0, remove_name = 0;
    int max_value_label = 0, max_var_label = 0, fixed_format = 0, blank_comment = 0;
  };
  const struct {
    const char* list;
    expected want;
  } cases[] = {
      {"c;S;r=30;z",
       {.use_positions = 1, .remove_name = 2, .max_value_label = 30, .fixed_format = 1}},
      // A leading "-" and blanks around "=" are passed over.
      {"-e ; q = 12", {.suppress_same_name = 1, .max_var_label = 12}},
      // Empty pieces are skipped; letters in either case, except s and S.
      {";;C;;K;;", {.use_positions = 1, .element_values = 1}},
      {"s", {.remove_name = 1}},
      {"S;s", {.remove_name = 1}},
      // A "-" right after the letter switches a flag off; anything else on.
      {"c;c-", {}},
      {"c=0", {.use_positions = 1}},
      {"z;Z-;e;E-;k;k-", {}},
      {"S;S-", {}},
      {"c -", {.use_positions = 1}},
      {"a=2", {.blank_comment = 2}},
      {"A 1", {.blank_comment = 1}},
      {"\t r=+40 ;q=99999999999", {.max_value_label = 40, .max_var_label = 2147483647}},
  };
  for (const auto& c : cases) {
    option_run o;
    o.read_list(c.list);
    const run_options& got = o.run.options;
    EXPECT_EQ(c.want.use_positions, got.use_positions) << c.list;
    EXPECT_EQ(c.want.suppress_same_name, got.suppress_same_name) << c.list;
    EXPECT_EQ(c.want.element_values, got.element_values) << c.list;
    EXPECT_EQ(c.want.remove_name, got.remove_name) << c.list;
    EXPECT_EQ(c.want.max_value_label, got.max_value_label) << c.list;
    EXPECT_EQ(c.want.max_var_label, got.max_var_label) << c.list;
    EXPECT_EQ(c.want.fixed_format, got.fixed_format) << c.list;
    EXPECT_EQ(c.want.blank_comment, got.blank_comment) << c.list;
    EXPECT_EQ("", o.err) << c.list;
    EXPECT_FALSE(o.stop.has_value()) << c.list;
  }
}

TEST(Options, TextItemsKeepTheirValueToTheEnd) {
  option_run o;
  o.run.options.language = "left over";
  o.read_list("m = NA ;p=fr");
  EXPECT_TRUE(o.run.options.has_missing);
  EXPECT_EQ("NA ", o.run.options.missing);  // trailing blanks belong to the value
  EXPECT_EQ("fr", o.run.options.language);

  option_run unset;
  unset.run.options.language = "left over";
  {
    testkit::scoped_env restore(testkit::env_list{{"TXSPSSRC", ""}});  // puts any outer value back
    unsetenv("TXSPSSRC");
    unset.capture([&] { get_options(unset.run, 1, nullptr); });
  }
  EXPECT_EQ("", unset.run.options.language);  // get_options starts it empty
  EXPECT_FALSE(unset.run.options.has_missing);
}

TEST(Options, FormatItemBuildsAPrintFormat) {
  const struct {
    const char* list;
    const char* format;
  } cases[] = {
      {"f=8.2", " %8.2f"}, {"f=.3", " %.3f"},   {"f=", " %f"},         {"F", " %f"},
      {"f=8.", " %8.f"},   {"f = 12", " %12f"}, {"f=8.2;f=5", " %5f"},
  };
  for (const auto& c : cases) {
    option_run o;
    o.read_list(c.list);
    EXPECT_TRUE(o.run.options.has_numeric_format) << c.list;
    EXPECT_EQ(c.format, o.run.options.numeric_format) << c.list;
  }
  option_run none;
  none.read_list("c");
  EXPECT_FALSE(none.run.options.has_numeric_format);
}

TEST(Options, InvalidFormatItemStopsWithStatusOne) {
  const struct {
    const char* list;
    const char* message;
  } cases[] = {
      {"f=8.2.1", "ERROR: Format specification \"f=8.2.1\" invalid ('TXSPSSRC')\n"},
      {"f=x8", "ERROR: Format specification \"f=x8\" invalid ('TXSPSSRC')\n"},
      {"c; -f=-3", "ERROR: Format specification \"f=-3\" invalid ('TXSPSSRC')\n"},
      // The value runs to the end of the item, so a trailing blank is refused too.
      {"f=8.2 ;z", "ERROR: Format specification \"f=8.2 \" invalid ('TXSPSSRC')\n"},
  };
  for (const auto& c : cases) {
    option_run o;
    o.read_list(c.list);
    run_stopped stop = o.stopped(c.list);
    EXPECT_EQ(1, stop.status) << c.list;
    EXPECT_EQ(c.message, stop.message) << c.list;
    EXPECT_EQ(0, o.run.options.fixed_format) << c.list;  // nothing after it applies
  }
}

TEST(Options, WarningsLeaveTheRunGoing) {
  const struct {
    const char* list;
    const char* err;
  } cases[] = {
      {"r=5", "WARNING: Specified value below minimum of 8 - ignored (r=5)\n"},
      {"q=7", "WARNING: Specified value below minimum of 8 - ignored (q=7)\n"},
      {"Q", "WARNING: Specified value below minimum of 8 - ignored (Q)\n"},
      {"y", "tx2fmt: Unknown option \"y\" ignored ('TXSPSSRC')\n"},
      {" -x=1 ", "tx2fmt: Unknown option \"x=1 \" ignored ('TXSPSSRC')\n"},
      {"-", "tx2fmt: Unknown option \"\" ignored ('TXSPSSRC')\n"},
      {"l=2", "WARNING: Levels specification not implemented - ignored (l=2)\n"},
  };
  for (const auto& c : cases) {
    option_run o;
    o.run.options.max_value_label = 30;
    o.run.options.max_var_label = 50;
    o.read_list(std::string(c.list) + ";z");
    EXPECT_EQ(c.err, o.err) << c.list;
    EXPECT_EQ(30, o.run.options.max_value_label) << c.list;
    EXPECT_EQ(50, o.run.options.max_var_label) << c.list;
    EXPECT_EQ(1, o.run.options.fixed_format) << c.list;  // the next item still applies
  }
  option_run eight;
  eight.read_list("q=8;r=8");
  EXPECT_EQ(8, eight.run.options.max_var_label);
  EXPECT_EQ(8, eight.run.options.max_value_label);
}

TEST(Options, DebugLevelIsReported) {
  option_run o;
  o.read_list("d=2");
  EXPECT_EQ(2, o.run.prt);
  EXPECT_EQ(" ** 'TXSPSSRC': Debug level set to 2\n", o.err);
}

TEST(Options, DebugLevelOpensTheDebugFile) {
  testkit::temp_dir dir;
  testkit::result r = testkit::convert(dir.path, {"tx2fmt"}, {{"TXSPSSRC", "d=2"}});
  EXPECT_THAT(r.err, HasSubstr("]\n\n ** 'TXSPSSRC': Debug level set to 2\noutput format XML\n"));
  EXPECT_TRUE(r.has("debugfile"));

  testkit::temp_dir quiet;
  testkit::result none = testkit::convert(quiet.path, {"tx2fmt"});
  EXPECT_FALSE(none.has("debugfile"));
}

TEST(Options, OptionFileItemsApplyWithTheFileAsSource) {
  testkit::temp_dir dir;
  const std::string file = dir / "opts";
  testkit::write_file(file, "c;r=30\n\n  S ; y\n;;\nq=5\n");
  option_run o;
  o.read_list("o=" + file + ";z");
  EXPECT_EQ(1, o.run.options.use_positions);
  EXPECT_EQ(30, o.run.options.max_value_label);
  EXPECT_EQ(2, o.run.options.remove_name);
  EXPECT_EQ(1, o.run.options.fixed_format);
  EXPECT_EQ("tx2fmt: Unknown option \"y\" ignored (" + file + ")\n" +
                "WARNING: Specified value below minimum of 8 - ignored (q=5)\n",
            o.err);
}

TEST(Options, MissingOptionFileIsPassedOverSilently) {
  testkit::temp_dir dir;
  option_run o;
  o.read_list("o=" + dir / "none" + ";c");
  EXPECT_EQ("", o.err);
  EXPECT_EQ(1, o.run.options.use_positions);
}

TEST(Options, UnreadableOptionFileWarnsWithTheReason) {
  testkit::temp_dir dir;
  testkit::write_file(dir / "plain", "c\n");
  const std::string name = dir / "plain/opts";  // a file is no directory
  option_run o;
  o.read_list("o=" + name + ";k");
  EXPECT_EQ("WARNING: " + name + ": Not a directory\n", o.err);
  EXPECT_EQ(1, o.run.options.element_values);

  // A directory opens but cannot be read: the read error is reported too.
  option_run dir_list;
  dir_list.read_list("o=" + dir.path + ";k");
  EXPECT_EQ("WARNING: " + dir.path + ": Is a directory\n", dir_list.err);
  EXPECT_EQ(1, dir_list.run.options.element_values);
}

TEST(Options, OptionFilesDoNotNest) {
  testkit::temp_dir dir;
  testkit::write_file(dir / "inner", "z\n");
  testkit::write_file(dir / "outer", "o=" + dir / "inner" + ";k\n");
  option_run o;
  o.read_list("o=" + dir / "outer");
  EXPECT_EQ(1, o.run.options.element_values);
  EXPECT_EQ(0, o.run.options.fixed_format);
  EXPECT_EQ("", o.err);
}

TEST(Options, LongOptionFileLineIsCutTo127Characters) {
  testkit::temp_dir dir;
  const std::string file = dir / "opts";
  // Line 2 holds 200 characters: "c;m=", 123 x's, then ";e" and more that are cut off.
  const std::string long_line = "c;m=" + std::string(123, 'x') + ";e;" + std::string(70, 'y');
  ASSERT_EQ(200u, long_line.size());
  testkit::write_file(file, "a=1\n" + long_line + "\nz\n");
  option_run o;
  o.read_list("o=" + file);
  EXPECT_EQ("WARNING: " + file + "(2): Line truncated to 127 characters\n", o.err);
  EXPECT_EQ(1, o.run.options.use_positions);
  EXPECT_EQ(std::string(123, 'x'), o.run.options.missing);
  EXPECT_EQ(0, o.run.options.suppress_same_name);
  EXPECT_EQ(1, o.run.options.fixed_format);  // the next line is read normally
  EXPECT_EQ(1, o.run.options.blank_comment);
}

TEST(Options, LinesThatFitAreNotReportedAsCut) {
  testkit::temp_dir dir;
  const std::string file = dir / "opts";
  // 127 characters and a newline fit exactly; a last line may lack its newline.
  const std::string full_line = "m=" + std::string(125, 'x');
  testkit::write_file(file, full_line + "\nz");
  option_run o;
  o.read_list("o=" + file);
  EXPECT_EQ("", o.err);
  EXPECT_EQ(std::string(125, 'x'), o.run.options.missing);
  EXPECT_EQ(1, o.run.options.fixed_format);

  // 128 characters: one is lost, on the last line too.
  testkit::write_file(file, "c\n" + full_line + "y");
  option_run cut;
  cut.read_list("o=" + file);
  EXPECT_EQ("WARNING: " + file + "(2): Line truncated to 127 characters\n", cut.err);
  EXPECT_EQ(std::string(125, 'x'), cut.run.options.missing);
}

TEST(Options, CommandLineSetsItsFields) {
  option_run spss;
  EXPECT_EQ(nullptr, spss.crack({"-f", "spss"}));
  EXPECT_STREQ("spss", spss.run.progmode->suffix);

  const struct {
    std::vector<std::string> words;
    int pflg;
  } precisions[] = {{{"-p", "12"}, 0},           {{"-p", "3"}, 3},
                    {{"-p", "10"}, 10},          {{"-p", ""}, 0},
                    {{"-p", "000000000003"}, 3}, {{"-p", "99999999999999999999"}, 0}};
  for (const auto& c : precisions) {
    option_run o;
    o.run.pflg = 7;
    o.crack(c.words);
    EXPECT_EQ(c.pflg, o.run.pflg) << c.words[1];
  }

  option_run grouped;
  EXPECT_STREQ("xml", grouped.crack({"-lm", "NA", "xml", "-l"}));
  EXPECT_EQ(1, grouped.run.lflg);
  EXPECT_TRUE(grouped.run.options.has_missing);
  EXPECT_EQ("NA", grouped.run.options.missing);

  // Each letter of a group takes the next whole word in turn.
  option_run pair;
  pair.crack({"-mp", "-9", "4", "-", "-q", "12"});
  EXPECT_EQ("-9", pair.run.options.missing);
  EXPECT_EQ(4, pair.run.pflg);
  EXPECT_EQ(12, pair.run.options.max_var_label);

  option_run twice;
  twice.crack({"-l", "-l", "-F", "-Z", "-k"});
  EXPECT_EQ(2, twice.run.lflg);
  EXPECT_STREQ("xml", twice.run.progmode->suffix);  // -F is not -f
  EXPECT_EQ("", twice.err);
}

TEST(Options, CommandLineLabelLengthsBelowEightAreIgnored) {
  option_run o;
  o.run.options.max_value_label = 30;
  o.crack({"-r", "5", "-q", "x"});
  EXPECT_EQ(30, o.run.options.max_value_label);
  EXPECT_EQ(0, o.run.options.max_var_label);
  EXPECT_EQ(
      "Specified value for r of 5 is below minimum of 8 (ignored)\n"
      "Specified value for q of 0 is below minimum of 8 (ignored)\n",
      o.err);
}

TEST(Options, CommandLineErrorsStopWithStatusTwo) {
  const struct {
    std::vector<std::string> words;
    const char* message;
  } cases[] = {
      {{"-f", "SPSS"}, "unrecognised output format after -f\n"},
      {{"-f", "fmt"}, "unrecognised output format after -f\n"},
      {{"-f"}, "missing format argument after -f\n"},
      {{"-lf"}, "missing format argument after -f\n"},
      {{"-m", "NA", "-m"}, "missing parameter after -m\n"},
      {{"-p"}, "missing precision argument after -p\n"},
      {{"-p", "3x"}, "precision argument \"3x\" after -p is not numeric\n"},
      {{"-p", "-3"}, "precision argument \"-3\" after -p is not numeric\n"},
      {{"-q"}, "missing max length argument after -q\n"},
      {{"-r"}, "missing max length argument after -r\n"},
  };
  for (const auto& c : cases) {
    option_run o;
    o.crack(c.words);
    run_stopped stop = o.stopped(c.words[0]);
    EXPECT_EQ(2, stop.status) << c.words[0];
    EXPECT_EQ(c.message, stop.message) << c.words[0];
  }
}

std::string usage_text(const char* name, const char* default_keyword) {
  auto mark = [&](const char* keyword) {
    return std::string(keyword) == default_keyword ? " (default)" : "";
  };
  return std::string("Usage: ") + name +
         " [ -lx ] [-p precision] [-m missing_value_string ] [-f format] [directory]\n"
         "\n"
         "    Convert Tabulex output to triple-s format\n"
         "\n"
         "-f   - output format. Available formats are:\n"
         "\n"
         "       xml     - triple-s XML format" +
         mark("xml") +
         "\n"
         "       classic - Classic triple-s" +
         mark("classic") +
         "\n"
         "       spss    - SPSS format" +
         mark("spss") +
         "\n"
         "       csv     - tab separated csv file" +
         mark("csv") +
         "\n"
         "       sav     - SPSS system file" +
         mark("sav") +
         "\n"
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
         "\n";
}

TEST(Options, UsageMarksTheFormSelectedSoFar) {
  const struct {
    const char* program;
    std::vector<std::string> words;
    const char* default_keyword;
  } cases[] = {
      {"tx2fmt", {"-x"}, "xml"},
      {"tx2fmt", {"-h", "-f", "spss"}, "xml"},  // -h ends the run at once
      {"tx2fmt", {"-f", "spss", "-lx"}, "spss"},
      {"tx2ts", {"-x"}, "classic"},  // the ts row's keyword
      {"tx2sss", {"-h"}, "xml"},
      {"Tx2csv", {"-f", "csv", "-x"}, "csv"},
      {"tx2sav", {"-x"}, "sav"},
      {"50%s", {"-x"}, "xml"},  // the name is printed, never used as a format
  };
  for (const auto& c : cases) {
    option_run o;
    o.run.program_name = c.program;
    o.run.progmode = select_driver(o.run, c.program);
    o.crack(c.words);
    run_stopped stop = o.stopped(c.words[0]);
    EXPECT_EQ(0, stop.status) << c.program;
    EXPECT_EQ("", stop.message) << c.program;
    EXPECT_TRUE(testkit::same_bytes(usage_text(c.program, c.default_keyword), o.out)) << c.program;
    EXPECT_EQ("", o.err);
  }
}

TEST(Options, UsageHasTwentyFourLines) {
  option_run o;
  o.capture([&] { print_usage(o.run, "tx2fmt"); });
  EXPECT_EQ(24, std::count(o.out.begin(), o.out.end(), '\n'));
}

TEST(Options, SkipEqualsAndAlldig) {
  EXPECT_STREQ("12 ", skip_equals(" \t= \n12 "));
  EXPECT_STREQ("=1", skip_equals("==1"));  // one "=" only
  EXPECT_STREQ("", skip_equals(""));
  EXPECT_STREQ("x", alldig("0123x"));
  EXPECT_STREQ("", alldig("42"));
  EXPECT_STREQ(".5", alldig(".5"));
}

// Runs the driver far enough to settle the missing-value text (later phases
// may stop for want of a job; that does not matter here).
void run_driver(run_state& run, const std::string& dir, const std::string& list,
                std::vector<std::string> words) {
  testkit::scoped_env env({{"TXSPSSRC", list}, {"TXTEMP", dir}, {"TXPERM", dir}});
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  testkit::capture([&](std::FILE* f) {
    run.out = run.err = f;
    try {
      convert(run, static_cast<int>(words.size()), argv.data(), true);
    } catch (const run_stopped&) {
    }
    run.out = stdout;
    run.err = stderr;
  });
}

TEST(Options, OnlyTheCommandLineSetsTheMissingText) {
  testkit::temp_dir dir;
  run_state plain;
  run_driver(plain, dir.path, "m=XX", {"tx2spss"});
  EXPECT_EQ("-99.99", plain.defmissing);
  EXPECT_EQ("-99.99", plain.options.missing);
  EXPECT_TRUE(plain.options.has_missing);

  run_state with_m;
  run_driver(with_m, dir.path, "m=XX", {"tx2spss", "-m", "NA"});
  EXPECT_EQ("NA", with_m.defmissing);
  EXPECT_EQ("NA", with_m.options.missing);
  EXPECT_EQ("NA", with_m.progmode->default_missing);
  EXPECT_EQ(" ", with_m.drivers[0].default_missing);

  run_state xml;
  run_driver(xml, dir.path, "", {"tx2fmt", "-m", "."});
  EXPECT_EQ(".", xml.defmissing);
  EXPECT_EQ(".", xml.drivers[default_driver].default_missing);
  EXPECT_EQ(" ", xml.drivers[3].default_missing);  // only the selected row changes
}

}  // namespace
}  // namespace tx
