// The XML writer: escaping and names, and whole conversions checked against
// reviewed golden files.
#include "fmtlib/write/outputxml.h"

#include <gtest/gtest.h>

#include <string>

#include "testkit.h"

namespace tx {
namespace {

TEST(Outputxml, XmlfmtEscapes) {
  const struct {
    std::string text, escaped;
  } cases[] = {
      {"", ""},
      {"Tom & Jerry <1> \"x\" 'y'", "Tom &amp; Jerry &lt;1&gt; &quot;x&quot; &apos;y&apos;"},
      {"two\nlines\n", "two<br/>lines"},  // the last newline is dropped
      {"\n", ""},
      {"\n\n", "<br/>"},
      {"a\tb\x7f" "c", "a&#32;b&#32;c"},
      {"caf\xe9", "caf&#xe9;"},
      {"\x80" "5", "&#x20AC;5"},
      {"\x81\x9f\xa0\xff", "&#x81;&#x9f;&#xa0;&#xff;"},
      {"\xaf", "\xaf"},  // 175 has no entry and is written as it is
      {std::string("cut\0here", 8), "cut"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.escaped, xmlfmt(c.text)) << c.text;
}

TEST(Outputxml, CharmapEntries) {
  EXPECT_STREQ("#32", xmlcharmap[1]);
  EXPECT_STREQ("#32", xmlcharmap[159]);
  EXPECT_STREQ("<br/>", xmlcharmap[10]);
  EXPECT_STREQ("amp", xmlcharmap['&']);
  EXPECT_STREQ("", xmlcharmap['A']);
  EXPECT_STREQ("", xmlcharmap[175]);
  EXPECT_STREQ("nbsp", xmlcharmap[160]);
  EXPECT_STREQ("eacute", xmlcharmap[233]);
  EXPECT_STREQ("yuml", xmlcharmap[255]);
}

TEST(Outputxml, RmspacesMakesNames) {
  const struct {
    const char *text, *name;
  } cases[] = {
      {"1st choice", "_1stchoice"},
      {"Q.5a", "Q_5a"},
      {"Age of respondent", "Ageofrespondent"},
      {"a_b-c\td\ne", "a_b_cde"},
      {"@weight0", "_weight0"},
      {"caf\xe9 \x01x", "caf\xe9\x01x"},  // bytes above 127 and control bytes stay
      {"", ""},
      {" 1", "1"},  // only a digit in the first place gets the "_"
  };
  for (const auto& c : cases) EXPECT_EQ(c.name, rmspaces(c.text)) << c.text;
}

}  // namespace
}  // namespace tx

#include <gmock/gmock.h>
#include <unistd.h>

#include <cstdlib>
#include <regex>
#include <sstream>

#include "fmtlib/model/statvars.h"
#include "fmtlib/model/xtostats.h"
#include "fmtlib/run/convert.h"
#include "tools/jobbuild.h"

namespace tx {
namespace {

using job::element;

// survey.xml must be well-formed for xmllint.
void expect_well_formed(const testkit::result& r) {
  ASSERT_EQ(0, std::system("command -v xmllint >/dev/null 2>&1"))
      << "xmllint is missing (scripts/install-deps test)";
  const std::string cmd = "xmllint --noout '" + r.dir + "/survey.xml' 2>&1";
  EXPECT_EQ(0, std::system(cmd.c_str())) << "survey.xml is not well-formed";
}

// Every variable's columns lie inside the lines of survey.asc, the variables
// follow one another without gaps and every line has the same length.
void expect_positions_match_data(const testkit::result& r) {
  const std::string xml = r.file("survey.xml");
  std::istringstream asc(r.file("survey.asc"));
  std::vector<std::size_t> lengths;
  for (std::string line; std::getline(asc, line);) lengths.push_back(line.size());
  const std::regex position(R"re(<position start="(-?\d+)"(?: finish="(-?\d+)")?/>)re");
  long next = 1;
  for (auto it = std::sregex_iterator(xml.begin(), xml.end(), position);
       it != std::sregex_iterator(); ++it) {
    const long start = std::stol((*it)[1]);
    const long finish = (*it)[2].matched ? std::stol((*it)[2]) : start;
    EXPECT_EQ(next, start) << it->str();
    EXPECT_LE(start, finish) << it->str();
    next = finish + 1;
  }
  for (std::size_t i = 0; i < lengths.size(); ++i)
    EXPECT_EQ(static_cast<std::size_t>(next - 1), lengths[i]) << "line " << i + 1;
}

testkit::result convert_job(const job::job& j, const testkit::temp_dir& dir,
                            std::vector<std::string> args = {"tx2xml"}) {
  job::write_job(j, dir.path);
  testkit::result r = testkit::convert(dir.path, std::move(args));
  EXPECT_EQ(0, r.status) << r.err;
  return r;
}

void expect_golden(const std::string& name, const testkit::result& r) {
  EXPECT_TRUE(testkit::matches_golden("xml/" + name + "/survey.xml", r.file("survey.xml")));
  EXPECT_TRUE(testkit::matches_golden("xml/" + name + "/survey.asc", r.file("survey.asc")));
  expect_well_formed(r);
  expect_positions_match_data(r);
}

job::axis make_axis(const std::string& tag, std::vector<std::string> titles,
                    std::vector<element> elements, bool multi = false) {
  job::axis a;
  a.tag = tag;
  for (std::string& t : titles) a.titles.push_back(job::title_line{std::move(t)});
  a.elements = std::move(elements);
  if (multi) a.options = 0x0c;
  return a;
}

// One title line, a single-coded q1 with codes 1 and 2, a multi-coded q2
// with three elements and an inc with whole values from 0 to 25.
job::job example_job() {
  job::job j;
  j.title = {"Readership survey 2026"};
  j.axes.push_back(make_axis("q1", {"Gender of respondent"},
                             {{"Base", 0}, {"Male"}, {"Female"}}));
  j.axes.push_back(make_axis("q2", {"Papers read in the last week"},
                             {{"Daily Times"}, {"Evening Post"}, {"Sunday Mail"}}));
  j.incs.push_back(job::inc{"visits", {}});
  j.cases = {{{{1}, {0, 2}}, {0}},
             {{{2}, {1}}, {25}},
             {{{1}, {}}, {7}},
             {{{2}, {0, 1, 2}}, {12}}};
  return j;
}

TEST(Outputxml, ExampleJobMatchesGolden) {
  testkit::temp_dir dir;
  const testkit::result r = convert_job(example_job(), dir);
  EXPECT_EQ("Produced files survey.xml and survey.asc\n\n Job completed.\n", r.out);
  expect_golden("example", r);
}

// The edge cases of the document, converted with -l (title lines joined
// with newlines) and -p 2.
job::job edge_job() {
  job::job j;  // no title lines
  std::vector<element> twelve{{"Base", 0}};
  for (int i = 1; i <= 12; ++i) twelve.push_back({"Choice " + std::to_string(i)});
  j.axes.push_back(make_axis("1st choice",
                             {"Tom & Jerry <said> \"hi\"", "caf\xe9 costs \x80" "5"}, twelve));
  j.axes.push_back(make_axis(
      "Q.5a", {"Five papers"},
      {{"Times"}, {"Post"}, {"Mail"}, {"Herald"}, {"Courier"}}, true));
  j.axes.push_back(make_axis("age", {"Age group"}, {{"Young"}, {"Old"}}));
  j.axes.push_back(make_axis("AGE", {"Age band"}, {{"Under 40"}, {"40 or over"}}));
  // A multi-coded axis with one data element forms a group of its own; at
  // position 0 its codes are -1 and 1, two columns.
  j.axes.push_back(make_axis("solo", {"Only one"}, {{"Yes please"}, {"Base", 0}}, true));
  // Eleven elements whose last text is empty: code 10 is written though
  // it has no label.
  std::vector<element> eleven;
  for (int i = 0; i < 10; ++i) eleven.push_back({"Item " + std::to_string(i)});
  eleven.push_back({""});
  j.axes.push_back(make_axis("eleven", {"Eleven items"}, eleven));
  j.axes.push_back(make_axis("nolab", {}, {{""}, {""}}));
  j.incs = {{"Age of respondent", {}}, {"five", {}}, {"half", {}},
            {"negative", {}},          {"empty", {}}};
  j.weights.push_back(job::weight{3, {1.0f, 0.5f, 1.5f}});
  const float m = job::missing;
  j.cases = {
      {{{1}, {0, 4}, {0}, {1}, {0}, {10}, {0}}, {3, 5, 2.5f, -7.25f, m}},
      {{{12}, {1, 2, 3}, {1}, {0}, {}, {0}, {1}}, {97, 5, 2.5f, -2.5f, m}},
      {{{}, {}, {}, {}, {0, 1}, {5}, {}}, {40, 5, 2.5f, -3, m}},
  };
  return j;
}

TEST(Outputxml, EdgeJobMatchesGolden) {
  testkit::temp_dir dir;
  const testkit::result r = convert_job(edge_job(), dir, {"tx2xml", "-l", "-p", "2"});
  expect_golden("edge", r);
}

TEST(Outputxml, TwoTitleLinesAreJoined) {
  testkit::temp_dir dir;
  job::job j = example_job();
  j.title = {"First half & ", "second half"};
  const testkit::result r = convert_job(j, dir);
  EXPECT_NE(std::string::npos,
            r.file("survey.xml").find("<title>First half &amp; second half</title>"));
}

TEST(Outputxml, JobWithoutCases) {
  testkit::temp_dir dir;
  job::job j = example_job();
  j.cases.clear();
  j.axes.clear();
  const testkit::result r = convert_job(j, dir);
  const std::string xml = r.file("survey.xml");
  EXPECT_NE(std::string::npos, xml.find("<position start=\"1\"/>\n\t\t\t</variable>")) << xml;
  EXPECT_EQ(std::string::npos, xml.find("<values>")) << xml;
  EXPECT_EQ("", r.file("survey.asc"));
  expect_well_formed(r);
}

TEST(Outputxml, DateComesFromTheRunTime) {
  testkit::temp_dir dir;
  const testkit::result r = convert_job(example_job(), dir);
  // The pinned time of the test kit: 2026-03-14 09:26 UTC.
  EXPECT_NE(std::string::npos,
            r.file("survey.xml").find("\t<date>14 Mar 2026</date>\n\t<time>09:26</time>\n"));
}

// A numeric variable without label and without output name: both its name
// and its label are "v0"; a range outside the 32-bit range keeps its value.
TEST(Outputxml, VariableWithoutLabelOrName) {
  run_state run;
  init_store(run.store);
  auto* var = make_record<stat_var>(run.store);
  var->type = type_numeric;
  auto* o = make_record<spss_var>(run.store);
  o->vallist = make_record<value_list>(run.store);
  var->spssvar = o;
  size_detail d{0, size_whole, 11, 0, 3e9f, -5e9f};
  stat_node node{var, 1, 0, &d, nullptr, nullptr};
  run.xml.fp_commands.reset(std::tmpfile());
  output_xml_labels(run, &node, 0, 4, 14);
  std::FILE* f = run.xml.fp_commands.get();
  std::rewind(f);
  std::string text(4096, '\0');
  text.resize(std::fread(text.data(), 1, text.size(), f));
  EXPECT_EQ(
      "\t\t\t<variable ident=\"1\" type=\"quantity\">\n\t\t\t<name>v0</name>\n"
      "\t\t\t<label>v0</label>\n\t\t\t<position start=\"4\" finish=\"14\"/>\n"
      "\t\t\t\t<values>\n\t\t\t\t\t<range from=\"-5000000000\" to=\"3000000000\"/>\n"
      "\t\t\t\t</values>\n",
      text);
}

// What only the real program shows: exit status, messages, no report line.
TEST(Outputxml, WriteErrorStopsTheRun) {
  ASSERT_TRUE(testkit::file_exists("/dev/full"));
  for (const char* name : {"survey.xml", "survey.asc"}) {
    testkit::temp_dir dir;
    job::write_job(example_job(), dir.path);
    ASSERT_EQ(0, symlink("/dev/full", (dir / name).c_str()));
    const testkit::result r = testkit::run_program("tx2xml", {}, dir.path);
    EXPECT_EQ(1, r.status) << name;
    EXPECT_THAT(r.err, testing::HasSubstr(std::string("cannot write \"") + name)) << r.err;
    EXPECT_EQ(std::string::npos, r.out.find("Produced files")) << r.out;
  }
}

TEST(Outputxml, SourceDateEpochPinsTheDate) {
  testkit::temp_dir dir;
  job::write_job(example_job(), dir.path);
  const testkit::result r = testkit::run_program(
      "tx2xml", {}, dir.path, {{"SOURCE_DATE_EPOCH", "86400"}, {"TZ", "UTC"}});
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_NE(std::string::npos,
            r.file("survey.xml").find("\t<date>02 Jan 1970</date>\n\t<time>00:00</time>\n"));
}

TEST(Outputxml, ShortWeightFileStopsTheRun) {
  testkit::temp_dir dir;
  job::job j = example_job();
  j.weights.push_back(job::weight{3, {1.0f, 2.0f}});  // four cases
  job::write_job(j, dir.path);
  const testkit::result r = testkit::run_program("tx2xml", {}, dir.path);
  EXPECT_EQ(1, r.status);
  EXPECT_THAT(r.err, testing::HasSubstr("wmvals3.x")) << r.err;
  EXPECT_EQ(std::string::npos, r.out.find("Produced files")) << r.out;
}

}  // namespace
}  // namespace tx
