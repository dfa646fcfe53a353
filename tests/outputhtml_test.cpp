// The codebook writer: its escaping, every number of codebook.html against
// PSPP's FREQUENCIES and DESCRIPTIVES on the system file of the same job
// (tests/readers/codebook_check.py), and the size of a large job's page.
#include "write/outputhtml.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "testkit.h"

namespace tx {
namespace {

TEST(Outputhtml, TextsAreEscaped) {
  const struct {
    std::string text, html;
  } cases[] = {
      {"plain text", "plain text"},
      {"<b>&amp;</b>", "&lt;b&gt;&amp;amp;&lt;/b&gt;"},
      {"say \"it's\"", "say &quot;it&#39;s&quot;"},
      {"caf\xc3\xa9 \xe2\x82\xac", "caf\xc3\xa9 \xe2\x82\xac"},  // UTF-8 passes as it is
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.html, html_escaped(c.text)) << c.text;
}

namespace fs = std::filesystem;

// Runs a command; its output is the failure message.
testing::AssertionResult succeeds(const std::string& command) {
  std::FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (p == nullptr) return testing::AssertionFailure() << "cannot start " << command;
  std::string out;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  if (pclose(p) != 0) return testing::AssertionFailure() << out.substr(0, 4000);
  return testing::AssertionSuccess();
}

// Writes a job with txjob into dir: from a JSON file, or synthetic
// ("--synthetic" and its parameters).
void write_job(const std::string& job, const std::string& dir) {
  const std::vector<std::string> args = job.starts_with("cases=")
                                            ? std::vector<std::string>{"--synthetic", job, dir}
                                            : std::vector<std::string>{job, dir};
  const testkit::result r = testkit::run_program(TXJOB_BINARY, args, dir);
  ASSERT_EQ(0, r.status) << r.err;
}

TEST(Outputhtml, NumbersAgreeWithPspp) {
  const std::string source = TX_SOURCE_DIR;
  const std::string cases = source + "/tests/cases/";
  const struct {
    std::string job, spssrc;
  } jobs[] = {
      // Two weights, one with zero and negative values; incs with missing
      // values; axes of two words.
      {cases + "html-weights/job.json", ""},
      {cases + "sav-mended/job.json", ""},
      {cases + "sav-mended/job.json", "c"},          // element positions: yes codes differ
      {cases + "sav-mended/job.json", "k;S;f=8.2"},  // codes from the texts
      {cases + "html-codes/job.json", "k"},          // two elements with one code
      {cases + "jobs/survey.json", ""},              // a lone yes/no variable
      {cases + "jobs/grid.json", ""},
      {cases + "jobs/no-cases.json", ""},
      {cases + "sav-wide-codes/job.json", "c"},  // codes beyond one byte
      {source + "/examples/demo/job.json", ""},
      // Three weights: the counting loop without a fixed number of them.
      {"cases=400,single=5,multi=3,elements=20,incs=3,weights=3,seed=5", ""},
  };
  for (const auto& j : jobs) {
    const std::string what = j.job + " with TXSPSSRC=" + j.spssrc;
    testkit::temp_dir dir;
    write_job(j.job, dir.path);
    fs::create_directory(dir / "sav");
    fs::create_directory(dir / "html");
    testkit::result r =
        testkit::convert(dir.path, {"tx2sav"}, {{"TXSPSSRC", j.spssrc}, {"TXPERM", dir / "sav"}});
    ASSERT_EQ(0, r.status) << what << r.err;
    r = testkit::convert(dir.path, {"tx2html"}, {{"TXSPSSRC", j.spssrc}, {"TXPERM", dir / "html"}});
    ASSERT_EQ(0, r.status) << what << r.err;
    EXPECT_TRUE(succeeds("cd '" + source +
                         "/tests/readers' && /usr/bin/python3 codebook_check.py '" +
                         (dir / "html/codebook.html") + "' '" + (dir / "sav/survey.sav") + "'"))
        << what;
  }
}

// 300 single-coded and 100 multi-coded axes of 12 elements, 20 incs and two
// weights, the benchmark's job: the page stays under about 2 MB.
TEST(Outputhtml, PageOfFourHundredAxesStaysSmall) {
  testkit::temp_dir dir;
  write_job("cases=2000,single=300,multi=100,elements=12,incs=20,weights=2,seed=1", dir.path);
  const testkit::result r = testkit::convert(dir.path, {"tx2html"});
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_LT(fs::file_size(dir / "codebook.html"), 2'000'000U);
}

}  // namespace
}  // namespace tx
