// Tests of commands: the SPSS syntax file "commands.xsp".
#include "fmtlib/write/commands.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

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

// A run as init leaves it: label lengths 40 and 20.
struct spss_run {
  run_state run;
  spss_run() {
    run.options.max_var_label = 40;
    run.options.max_value_label = 20;
  }
  std::string labels() {
    return testkit::capture([&](std::FILE* f) { spss_labels(run, f); });
  }
};

TEST(Commands, QuotedTextIsCutThenDoubled) {
  const struct {
    const char* text;
    int max;
    const char* want;
  } cases[] = {
      {"plain", 40, "plain"},
      {"ab\"cd", 3, "ab\"\""},      // cut first: the quote at the edge is still doubled
      {"ab\"cd", 2, "ab"},
      {"\"\"", -1, "\"\"\"\""},
      {"a\nb\tc\rd", -1, "a b c d"},  // control characters become blanks
      {"caf\xe9", -1, "caf\xe9"},     // bytes above 127 stay
      {"", 5, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.want, spss_quoted(c.text, c.max)) << c.text;
}

TEST(Commands, TitleLines) {
  const struct {
    std::initializer_list<const char*> lines;
    const char* want;
  } cases[] = {
      {{}, ""},
      {{"Survey 2001"}, "TITLE Survey 2001.\n"},
      {{"First", "Second", "Third"}, "TITLE First.\n* Second.\n* Third.\n"},
      // An apostrophe or double quote in the first line: a quoted title.
      {{"Cars' owners"}, "TITLE \"Cars' owners\".\n"},
      {{"The \"best\" one"}, "TITLE \"The \"\"best\"\" one\".\n"},
      // Only the first line is a TITLE; quotes in a comment do no harm.
      {{"Plain", "It's \"here\""}, "TITLE Plain.\n* It's \"here\".\n"},
      {{"a\tb\nc", "d\ne"}, "TITLE a b c.\n* d e.\n"},
  };
  for (const auto& c : cases) {
    run_state run;
    set_title(run, c.lines);
    EXPECT_EQ(c.want, testkit::capture([&](std::FILE* f) { spss_title(run, f); }));
  }
}

TEST(Commands, DataListNamesOutputVariablesOnly) {
  run_state run;
  add_var(run, type_single, "q1", nullptr, add_axis(run, "q1"));
  add_var(run, type_single, nullptr, "suppressed", add_axis(run, "age"));  // not output
  add_var(run, type_numeric, "age", "Age", nullptr);
  EXPECT_EQ("DATA LIST FILE=\"data.xsp\" FREE/\n  q1\n  age\n  .\n",
            testkit::capture([&](std::FILE* f) { spss_datalist(run, f, "data.xsp"); }));

  run_state empty;
  EXPECT_EQ("DATA LIST FILE=\"data.xsp\" FREE/\n  .\n",
            testkit::capture([&](std::FILE* f) { spss_datalist(empty, f, "data.xsp"); }));
}

TEST(Commands, FixedFormatIsRefusedAndFreeFormatWritten) {
  run_state run;
  run.options.fixed_format = 1;
  const std::string err = testkit::capture([&](std::FILE* e) {
    run.err = e;
    EXPECT_EQ("DATA LIST FILE=\"d\" FREE/\n  .\n",
              testkit::capture([&](std::FILE* f) { spss_datalist(run, f, "d"); }));
  });
  EXPECT_EQ("Sorry, only free format data currently available\n", err);
}

TEST(Commands, LabelsAreCutAndQuoted) {
  spss_run s;
  const std::string label50(50, 'L');
  add_var(s.run, type_single, "q1", label50.c_str(), add_axis(s.run, "q1"),
          {{0, "a value label of 25 ch"}, {1, ""}, {2, "say \"yes\""}, {3, nullptr}});
  add_var(s.run, type_single, "q2", "", add_axis(s.run, "q2"), {{0, ""}, {1, nullptr}});
  add_var(s.run, type_numeric, "@inc", "Income \"net\"\nper year", nullptr);
  EXPECT_EQ("VARIABLE LABELS q1 \"" + std::string(40, 'L') +
                "\".\n"
                "VALUE LABELS q1\n"
                "  0 \"a value label of 25 \"\n"
                "  2 \"say \"\"yes\"\"\"\n"
                ".\n"
                "VARIABLE LABELS @inc \"Income \"\"net\"\" per year\".\n",
            s.labels());

  s.run.options.max_var_label = 8;
  s.run.options.max_value_label = 9;
  EXPECT_THAT(s.labels(), HasSubstr("VARIABLE LABELS q1 \"LLLLLLLL\".\n"));
  EXPECT_THAT(s.labels(), HasSubstr("  2 \"say \"\"yes\"\"\"\n"));
  EXPECT_THAT(s.labels(), HasSubstr("  0 \"a value l\"\n"));
}

TEST(Commands, BlankCommentsBetweenVariablesAndAxes) {
  // Two multi-coded axes of two labelled yes/no variables each, a labelled
  // single-coded variable and an unlabelled numeric variable.
  const struct {
    int item_a;
    const char* want;
  } cases[] = {
      {0, "V m1a\nV m1b\nV m2a\nV m2b\nV s\n"},
      {1, "*.\nV m1a\nV m1b\n*.\nV m2a\nV m2b\n*.\nV s\n"},
      {2, "*.\nV m1a\n*.\nV m1b\n*.\nV m2a\n*.\nV m2b\n*.\nV s\n"},
  };
  for (const auto& c : cases) {
    spss_run s;
    s.run.options.blank_comment = c.item_a;
    tx::axis_info* m1 = add_axis(s.run, "m1");
    tx::axis_info* m2 = add_axis(s.run, "m2");
    add_var(s.run, type_yesno, "m1a", "x", m1);
    add_var(s.run, type_yesno, "m1b", "x", m1);
    add_var(s.run, type_yesno, "m2a", "x", m2);
    add_var(s.run, type_yesno, "m2b", "x", m2);
    add_var(s.run, type_single, "s", "x", add_axis(s.run, "s"));
    add_var(s.run, type_numeric, "n", "", nullptr);
    std::string got = s.labels();
    // Shorten "VARIABLE LABELS <name> "x".\n" to "V <name>\n".
    for (std::size_t at; (at = got.find("VARIABLE LABELS ")) != std::string::npos;)
      got.replace(at, 16, "V ");
    for (std::size_t at; (at = got.find(" \"x\".")) != std::string::npos;) got.erase(at, 5);
    EXPECT_EQ(c.want, got) << "item a " << c.item_a;
  }
}

TEST(Commands, ExtraTitleLinesAreCommentsOfEveryYesNoVariable) {
  spss_run s;
  tx::axis_info* m = add_axis(s.run, "m", {"Which brands?", "Show card\nB", "All that apply"});
  add_var(s.run, type_yesno, "m0", "Which brands?", m, {{-1, "no A"}, {1, "A"}});
  add_var(s.run, type_yesno, "m1", "Which brands?", m, {{0, "no B"}, {1, "B"}});
  const std::string block = "VALUE LABELS m%\n  % \"no %\"\n  1 \"%\"\n.\n* Show card B.\n"
                            "* All that apply.\n";
  auto expand = [&](const char* name, const char* no, const char* el) {
    std::string b = "VARIABLE LABELS " + std::string(name) + " \"Which brands?\".\n" + block;
    const std::string fill[] = {std::string(name).substr(1), no, el, el};
    for (const std::string& x : fill) b.replace(b.find('%'), 1, x);
    return b;
  };
  EXPECT_EQ(expand("m0", "-1", "A") + expand("m1", "0", "B"), s.labels());
}

TEST(Commands, WholeFileAndWriteFailure) {
  testkit::temp_dir dir;
  testkit::scoped_env env(testkit::env_list{{"TXPERM", dir.path}});
  run_state run;
  run.options.max_var_label = 40;
  run.options.max_value_label = 20;
  set_title(run, {"T"});
  add_var(run, type_single, "q1", "Q", add_axis(run, "q1"), {{1, "yes"}});
  outputspss(run, "commands.xsp", "data.xsp");
  commit_outputs(run);
  EXPECT_EQ(
      "TITLE T.\nDATA LIST FILE=\"data.xsp\" FREE/\n  q1\n  .\nVARIABLE LABELS q1 \"Q\".\n"
      "VALUE LABELS q1\n  1 \"yes\"\n.\n",
      testkit::read_file(dir / "commands.xsp"));

  // A device that refuses every write: the run stops naming the file.
  const run_stopped stop =
      testkit::expect_stop([&] { outputspss(run, "/dev/full", "data.xsp"); });
  EXPECT_EQ(1, stop.status);
  EXPECT_THAT(stop.message, HasSubstr("\"/dev/full\""));
}

// The mended texts as PSPP reads them: quotes in every kind of text, control
// characters, cut labels, blank comments under both syntax rule sets.
TEST(Commands, PsppReadsQuotesCommentsAndCutLabels) {
  ASSERT_TRUE(writers_jobs::have_pspp()) << "pspp is missing (scripts/install-deps test)";
  testkit::temp_dir dir;
  testkit::scoped_env env(testkit::env_list{{"TXPERM", dir.path}});
  for (int item_a : {0, 1, 2}) {
    run_state run;
    run.options.max_var_label = 40;
    run.options.max_value_label = 20;
    run.options.blank_comment = item_a;
    set_title(run, {"The \"Car\" owner's survey", "Wave 'two'\n\"B\""});
    tx::axis_info* m = add_axis(run, "m", {"Brands", "Show \"card\"\tB.", "It's"});
    add_var(run, type_single, "q1", "A \"quoted\" label\nover two lines that is cut at forty",
            add_axis(run, "q1", {"Q1", "* not a command", "."}),
            {{0, "x\"y"}, {1, "a label longer than twenty"}, {2, ""}, {3, "ends in \""}});
    add_var(run, type_yesno, "@m0", "Brands \"A\"", m, {{-1, "no \"A\""}, {1, "\"A\""}});
    add_var(run, type_yesno, "@m1", "Brands \"A\"", m, {{0, "no B"}, {1, "B\t."}});
    add_var(run, type_numeric, "age", "Age.", nullptr);
    outputspss(run, "commands.xsp", "data.xsp");
    commit_outputs(run);
    testkit::write_file(dir / "data.xsp", " 0 1 0 17\n 3 -1 1 -99.99\n");
    const auto [status, report] = writers_jobs::run_reader("pspp_check.py", dir.path);
    EXPECT_EQ(0, status) << "item a " << item_a << "\n"
                         << report << testkit::read_file(dir / "commands.xsp");
  }
}

TEST(Commands, SpssJobMatchesGolden) {
  testkit::temp_dir dir;
  tx::job::write_job(writers_jobs::spss_job(), dir.path);
  const testkit::result r = testkit::convert(dir.path, {"tx2spss"}, {{"TXSPSSRC", "a=1;e"}});
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_EQ("Produced files commands.xsp and data.xsp\n\n Job completed.\n", r.out);
  EXPECT_TRUE(testkit::matches_golden("spss/survey/commands.xsp", r.file("commands.xsp")));
  EXPECT_TRUE(testkit::matches_golden("spss/survey/data.xsp", r.file("data.xsp")));
}

TEST(Commands, LabelLengthsFromTheCommandLine) {
  testkit::temp_dir dir;
  tx::job::write_job(writers_jobs::spss_job(), dir.path);
  const testkit::result r = testkit::convert(dir.path, {"tx2spss", "-q", "10", "-r", "9"});
  ASSERT_EQ(0, r.status) << r.err;
  const std::string commands = r.file("commands.xsp");
  EXPECT_THAT(commands, HasSubstr("VARIABLE LABELS q1 \"Q1 a quest\".\n"));
  EXPECT_THAT(commands, HasSubstr("  2 \"A value l\"\n  3 \"Say \"\"mayb\"\n"));
}

// PSPP reads every golden SPSS job under both syntax rule sets, without an
// error or warning, and reports the names, labels and values written.
TEST(Commands, PsppReadsEveryGoldenJob) {
  ASSERT_TRUE(writers_jobs::have_pspp()) << "pspp is missing (scripts/install-deps test)";
  const std::filesystem::path golden = std::string(TX_SOURCE_DIR) + "/tests/golden/spss";
  int jobs = 0;
  for (const auto& job : std::filesystem::directory_iterator(golden)) {
    ++jobs;
    const auto [status, report] = writers_jobs::run_reader("pspp_check.py", job.path().string());
    EXPECT_EQ(0, status) << job.path() << "\n" << report;
  }
  EXPECT_LT(0, jobs);
}

}  // namespace
}  // namespace tx
