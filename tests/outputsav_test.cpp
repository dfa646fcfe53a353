// The system-file writer: its name and text rules, and survey.sav read by
// PSPP, R haven and the readstat command against the SPSS syntax form of the
// same job (tests/readers/sav_check.py).
#include "write/outputsav.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "fmtlib/base/run_state.h"
#include "testkit.h"
#include "write/names.h"

namespace tx {
namespace {

TEST(Outputsav, NamesAreMadeValidAndUnique) {
  const struct {
    std::string xml_name, name;
  } cases[] = {
      {"_1stchoice", "@_1stchoice"},  // the XML form's name of "1st choice"
      {"caf\xe9s", "caf_s"},
      {"caf\xe9", "caf"},  // "_", then dropped at the end
      {"Q_5a__.", "Q_5a"},
      {"and", "@and"},
      {"With", "@With"},
      {"TOTAL", "TOTAL"},
      {"#x", "@#x"},
      {"$x", "@$x"},
      {"", "@"},
      {"a@b#c$d.e", "a@b#c$d.e"},
      {std::string(70, 'a'), std::string(64, 'a')},
      {std::string(63, 'a') + "_b", std::string(63, 'a')},  // cut, then "_" dropped
  };
  for (const auto& c : cases) EXPECT_EQ(c.name, sav_name(c.xml_name)) << c.xml_name;

  // Variables take the SPSS syntax form's names, which stay as they are;
  // anything else is mended.
  const struct {
    std::string syntax_name, name;
  } variables[] = {
      {"@1st@cho", "@1st@cho"},
      {"Home@tow", "Home@tow"},
      {"AOME@TOW", "AOME@TOW"},
      {"@and", "@and"},
      {"Q1_", "Q1_"},
      {"@weight0", "@weight0"},
      {"zAZa", "zAZa"},
      {"", "@"},
      {"1abc", "@1abc"},
      {"_x", "@_x"},
      {"#x", "@#x"},
      {"$x", "@$x"},
      {"a b\xe9", "a_b_"},
      {"with", "@with"},
      {"x.", "x"},
      {std::string(70, 'v'), std::string(64, 'v')},
  };
  for (const auto& v : variables)
    EXPECT_EQ(v.name, sav_variable_name(v.syntax_name)) << v.syntax_name;

  std::unordered_set<std::string> taken;
  const std::string long_name(64, 'q');
  const struct {
    std::string name, unique;
  } names[] = {{"Age", "Age"},
               {"AGE", "AGE_2"},
               {"age_2", "age_2_2"},  // taken by the second, ignoring case
               {"age", "age_3"},
               {long_name, long_name},
               {long_name, long_name.substr(0, 62) + "_2"}};
  for (const auto& n : names) EXPECT_EQ(n.unique, unique_name(taken, n.name, 64)) << n.name;
}

TEST(Outputsav, TextsBecomeUtf8) {
  const struct {
    std::string text;
    std::size_t max;
    std::string utf8;
  } cases[] = {
      {"Caf\xe9 \x80", 255, "Caf\xc3\xa9 \xe2\x82\xac"},
      {"a\tb\nc\x7f\x81\x8d\x8f\x90\x9d"
       "d",
       255, "a b c      d"},  // controls, undefined
      {"Don\x92t \x85 \x93q\x94 \x96 \x9f", 255, "Don\u2019t \u2026 \u201cq\u201d \u2013 \u0178"},
      {"\xa0\xaf\xff", 255, "\xc2\xa0\xc2\xaf\xc3\xbf"},
      {std::string("ab\0cd", 5), 255, "ab"},
      {"abc\xe9", 4, "abc"},  // a character is never split
      {"ab\x80", 4, "ab"},
      {"ab\x80", 5, "ab\xe2\x82\xac"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.utf8, sav_text(c.text, c.max)) << c.text;
}

TEST(Outputsav, MembersNameTheirCategory) {
  const std::string e_acute = "\xc3\xa9";
  std::string accents;  // 124 two-byte characters: 248 bytes
  for (int i = 0; i < 124; ++i) accents += e_acute;
  const struct {
    std::string axis, element, label;
  } cases[] = {
      {"Which colours?", "Red", "Which colours? - Red"},
      {"", "Red", "Red"},
      {"Colours", "", "Colours"},
      {"", "", ""},
      {"Don\x92t know", "\x85 more", "Don\u2019t know - \u2026 more"},
      // The axis label gives way to the element text, which stays whole.
      {std::string(300, 'a'), "Red", std::string(249, 'a') + " - Red"},
      {std::string(300, '\xe9'), "Red", accents + " - Red"},  // 254 bytes: no half character
      {std::string(300, 'a'), std::string(200, 'e'),
       std::string(132, 'a') + " - " + std::string(120, 'e')},
      {std::string(300, 'a'), "", std::string(255, 'a')},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.label, member_label(c.axis, c.element)) << c.axis << " / " << c.element;
    EXPECT_LE(member_label(c.axis, c.element).size(), 255u);
  }
}

TEST(Outputsav, FormatItemSetsThePrintFormatOfRealFields) {
  // ordinal, kind, width, decimals, max, min
  const size_detail real{0, size_real, 10, 7, 34, -2.5f};
  const size_detail big{0, size_real, 15, 7, 1234567.5f, 0.1f};
  const size_detail whole{0, size_whole, 5, 0, 12345, 0};
  const size_detail whole_with_missing{0, size_text, 4, 0, 57, 34};
  const size_detail no_values{0, size_none, 1, 0, -3.4028235e38f, 3.4028235e38f};
  const struct {
    const size_detail* d;
    const char* f_item;  // null: none
    const char* format;
  } cases[] = {
      {&real, nullptr, "F10.7"},  // the fixed columns'
      {&real, "8.0", "F8.0"},
      {&real, "8.2", "F8.2"},
      {&real, "", "F9.6"},     // "%f": six decimals, as wide as "34.000000"
      {&real, ".3", "F6.3"},   // as wide as "34.000"
      {&real, "8", "F9.6"},    // "%8f": six decimals; printf widens to 9
      {&real, "2.1", "F4.1"},  // raised to "34.0"
      {&big, "8.0", "F8.0"},   // "1234568"
      {&big, "5.0", "F7.0"},
      {&big, "08.2", "F10.2"},     // a leading zero pads; "1234567.50"
      {&real, "99.20", "F40.16"},  // what readers take
      {&real, "123456789012345678901234567890.2", "F40.2"},
      {&whole, "8.2", "F5.0"},  // whole fields keep theirs
      {&whole_with_missing, "8.2", "F4.0"},
      {&no_values, "8.2", "F1.0"},
      {nullptr, "8.2", "F1.0"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.format, numeric_print_format(c.d, c.f_item))
        << (c.f_item != nullptr ? c.f_item : "(none)") << " width " << (c.d ? c.d->width : 0);
}

namespace fs = std::filesystem;

// Runs a shell command in tests/readers; its exit status and what it printed.
std::pair<int, std::string> run_reader(const std::string& command) {
  std::FILE* p = popen(
      ("cd '" + std::string(TX_SOURCE_DIR) + "/tests/readers' && " + command + " 2>&1").c_str(),
      "r");
  if (p == nullptr) return {-1, "popen failed"};
  std::string out;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  return {pclose(p), out};
}

// The expected system files of tests/cases (not an earlier output that no
// reader takes).
std::vector<std::string> golden_system_files() {
  std::vector<std::string> files;
  for (const auto& entry :
       fs::recursive_directory_iterator(std::string(TX_SOURCE_DIR) + "/tests/cases"))
    if (entry.path().extension() == ".sav" &&
        testkit::read_file(entry.path().string()).rfind("$FL2", 0) == 0)
      files.push_back(entry.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

// The textconv of .gitattributes reads every golden system file whole: its
// dictionary ends, its cases decode to the header's count and nothing follows.
TEST(Outputsav, EveryGoldenSystemFileDumpsWhole) {
  const std::vector<std::string> files = golden_system_files();
  EXPECT_GT(files.size(), 5u);
  for (const std::string& file : files) {
    const auto [status, out] = run_reader("/usr/bin/python3 sav_dump.py '" + file + "'");
    EXPECT_EQ(0, status) << file << "\n" << out.substr(0, 2000);
    EXPECT_NE(std::string::npos, out.find("\nend of dictionary\n")) << file;
  }
}

TEST(Outputsav, RealReadersReadEveryGoldenWithoutWarning) {
  std::string command = "/usr/bin/python3 sav_check.py --clean";
  for (const std::string& file : golden_system_files()) command += " '" + file + "'";
  const auto [status, out] = run_reader(command);
  EXPECT_EQ(0, status) << out.substr(0, 4000);
}

// Writes the job of a JSON file with txjob into dir.
void write_job(const std::string& json, const std::string& dir) {
  const testkit::result r = testkit::run_program(TXJOB_BINARY, {json, dir}, dir);
  ASSERT_EQ(0, r.status) << r.err;
}

TEST(Outputsav, RealReadersAgreeWithTheSyntaxForm) {
  const std::string cases = std::string(TX_SOURCE_DIR) + "/tests/cases/";
  const struct {
    std::string job, spssrc;
    int scale;
    const char* sets;  // null: not checked
  } jobs[] = {
      {cases + "sav-mended/job.json", "", 3,
       "$Colours=@Colour0 @Colour1 @Colour2;$Pets=@Pets0 @Pets1"},
      {cases + "sav-mended/job.json", "c", 3, ""},  // yes codes differ: no set
      // Codes from the element texts, names removed from labels, two decimals.
      {cases + "sav-mended/job.json", "k;S;f=8.2", 3, nullptr},
      {cases + "sav-mended/job.json", "f=8.0", 3, nullptr},  // 1.25 stays 1.25
      {cases + "sav-nocases/job.json", "", 1, ""},
      {cases + "sav-wide-codes/job.json", "c", 1, ""},  // codes beyond one byte
      // Names that begin with a digit or "_" or hold a tab, thirty-two equal
      // but for case.
      {cases + "jobs/name-edges.json", "", 0, "$@_9=@9@0 @9@1"},
      // Labels that fall back: no title, value labels only first or last.
      {cases + "jobs/labels.json", "", 3, "$pick=@pick0 @pick1 @pick2;$pickt=@pickt0 @pickt1"},
      // Windows-1252 texts, checked against Python's codec.
      {cases + "sav-windows-1252/job.json", "", 1, "$Brands=@Brands0 @Brands1 @Brands2 @Brands3"},
      {std::string(TX_SOURCE_DIR) + "/examples/demo/job.json", "", 5,
       "$Magazinesread=@Magaz0 @Magaz1 @Magaz2 @Magaz3 @Magaz4 @Magaz5 @Magaz6 @Magaz7 @Magaz8 "
       "@Magaz9 @Magaz10 @Magaz11 @Magaz12 @Magaz13 @Magaz14 @Magaz15 @Magaz16 @Magaz17 "
       "@Magaz18;"
       "$Services=@Servic0 @Servic1 @Servic2 @Servic3"},
  };
  for (const auto& j : jobs) {
    const std::string what = j.job + " with TXSPSSRC=" + j.spssrc;
    testkit::temp_dir dir;
    write_job(j.job, dir.path);
    fs::create_directory(dir / "spss");
    fs::create_directory(dir / "sav");
    // The f item shapes data.xsp's numbers but not the system file's values:
    // the reference runs go without it.
    std::string spssrc_without_f = j.spssrc;
    if (const std::size_t f = spssrc_without_f.find("f="); f != std::string::npos)
      spssrc_without_f.erase(f, spssrc_without_f.find(';', f) - f);
    testkit::env_list spss_env = {{"TXSPSSRC", spssrc_without_f}};
    testkit::env_list sav_env = {{"TXSPSSRC", j.spssrc}};
    spss_env.emplace_back("TXPERM", dir / "spss");
    sav_env.emplace_back("TXPERM", dir / "sav");
    testkit::result r =
        testkit::convert(dir.path, {"tx2spss", "-q", "255", "-r", "120", "-m", "."}, spss_env);
    ASSERT_EQ(0, r.status) << what << r.err;
    // The fixed-column forms' precision, which the system file stores.
    r = testkit::convert(dir.path, {"tx2csv", "-m", "."}, spss_env);
    ASSERT_EQ(0, r.status) << what << r.err;
    r = testkit::convert(dir.path, {"tx2sav"}, sav_env);
    ASSERT_EQ(0, r.status) << what << r.err;

    std::string command = "/usr/bin/python3 sav_check.py '" + (dir / "sav/survey.sav") + "' '" +
                          (dir / "spss") + "' " + std::to_string(j.scale);
    if (j.sets != nullptr) command += std::string(" '") + j.sets + "'";
    const auto [status, out] = run_reader(command);
    EXPECT_EQ(0, status) << what << "\n" << out.substr(0, 4000);
  }
}

}  // namespace
}  // namespace tx
