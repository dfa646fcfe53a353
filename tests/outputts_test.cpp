// Tests of outputts: the Triple-S classic document "survey.sss".
#include "fmtlib/write/outputts.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <regex>
#include <set>
#include <sstream>
#include <strings.h>

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

// Writes one variable alone in its group (k 0) in columns first to last.
std::string one_variable(run_state& run, stat_var* var, int first, int last,
                         const size_detail* size = nullptr) {
  stat_node node{};
  node.var = var;
  node.count = 1;
  node.size = const_cast<size_detail*>(size);
  std::vector<std::string> names;
  return testkit::capture(
      [&](std::FILE* f) { output_tss_labels(run, f, &node, 0, first, last, names); });
}

size_detail measured(size_kind kind, int decimals, float min, float max) {
  return size_detail{0, kind, 1, decimals, max, min};
}

TEST(Outputts, ConvstrQuotesAndControlCharacters) {
  const struct {
    const char* text;
    const char* want;
  } cases[] = {
      {"", ""},
      {"plain text", "plain text"},
      {"say \"hi\"", "say {\"}hi{\"}"},
      {"a\nb\tc\x1f", "a b c "},
      {"caf\xe9 \x80", "caf\xe9 \x80"},  // 128 to 255 belong to the classic character set
  };
  for (const auto& c : cases) EXPECT_EQ(c.want, tsss_convstr(c.text)) << c.text;
}

TEST(Outputts, HeaderDateTitleAndOrigin) {
  testkit::scoped_env tz(testkit::env_list{{"TZ", "UTC"}});
  const struct {
    std::initializer_list<const char*> title;
    const char* program;
    const char* title_text;
    const char* program_text;
  } cases[] = {
      {{}, "tx2ts", "unknown", "tx2ts"},
      {{"Car \"owners\"", "2001\twave"}, "tx2ts", "Car {\"}owners{\"} 2001 wave ", "tx2ts"},
      {{""}, "q\"ts", " ", "q{\"}ts"},
  };
  for (const auto& c : cases) {
    run_state run;
    run.now = testkit::pinned_time;
    run.program_name = c.program;
    set_title(run, c.title);
    EXPECT_EQ(std::string("SSS\n\tVersion 1.1\n\tDate \"14 Mar 2026\"\n\tTime \"09:26\"\n"
                          "\tOrigin \"UNIX, created by ") +
                  c.program_text + "\"\n\tSURVEY\n\t\tTITLE \"" + c.title_text +
                  "\"\n\t\tRecord A\n",
              testkit::capture([&](std::FILE* f) { tsss_header(run, f); }));
  }
  EXPECT_EQ("\t\tEnd Record\n\tEnd Survey\nEnd SSS\n",
            testkit::capture([](std::FILE* f) { tsss_trailer(f); }));
}

TEST(Outputts, SingleVariableListsLabelledCodesOnly) {
  run_state run;
  stat_var* v = add_var(run, type_single, "q7", "Pick \"one\"", add_axis(run, "q7"),
                        {{1, ""}, {7, "seven\nth"}, {12, nullptr}});
  EXPECT_EQ(
      "\t\t\tVariable 1\n\t\t\tName \"q7\"\n\t\t\tLabel \"Pick {\"}one{\"}\"\n"
      "\t\t\tType single\n\t\t\tPosition 3 to 4\n"
      "\t\t\t\tValues\n\t\t\t\t\t7 \"seven th\"\n\t\t\t\tEnd Values\n",
      one_variable(run, v, 3, 4));

  // No labelled value: no values block; one column: no " to".
  stat_var* bare = add_var(run, type_single, "q8", "", add_axis(run, "q8"), {{1, ""}});
  EXPECT_EQ(
      "\t\t\tVariable 2\n\t\t\tName \"q8\"\n\t\t\tLabel \"q8\"\n\t\t\tType single\n"
      "\t\t\tPosition 5\n",
      one_variable(run, bare, 5, 5));
}

TEST(Outputts, NumericRanges) {
  const struct {
    size_detail d;
    const char* want;  // null: no values block
  } cases[] = {
      {measured(size_whole, 0, -3, 8), "-3 to 8"},
      {measured(size_whole, 0, 5, 5), "5 to 5"},  // a bare 5 is no valid value line
      {measured(size_whole, 0, -2.0f, -1.0f), "-2 to -1"},
      {measured(size_whole, 0, 0, 3e9f), "0 to 3000000000"},  // beyond the 32-bit range
      {measured(size_real, 7, 2.5, 2.5), "2.5000000 \"the only valid value\""},
      {measured(size_real, 2, -1.25, 12.5), "-1.25 to 12.50"},
      {measured(size_text, 7, 1.5, 2.25), "1.5000000 to 2.2500000"},
      {measured(size_none, 0, 3.4028235e38f, -3.4028235e38f), nullptr},  // no case at all
      {measured(size_text, 0, 3.4028235e38f, -3.4028235e38f), nullptr},  // only missing values
  };
  for (const auto& c : cases) {
    run_state run;
    stat_var* v = add_var(run, type_numeric, "@age", "", nullptr);
    const std::string head =
        "\t\t\tVariable 1\n\t\t\tName \"age\"\n\t\t\tLabel \"age\"\n\t\t\tType quantity\n"
        "\t\t\tPosition 9 to 10\n";
    const std::string values =
        c.want == nullptr
            ? ""
            : std::string("\t\t\t\tValues\n\t\t\t\t\t") + c.want + "\n\t\t\t\tEnd Values\n";
    EXPECT_EQ(head + values, one_variable(run, v, 9, 10, &c.d)) << (c.want ? c.want : "none");
  }
}

TEST(Outputts, LabelFallsBackToNameThenNumber) {
  run_state run;
  stat_var* weight = add_var(run, type_numeric, "@wt1", nullptr, nullptr);
  stat_var* nameless = add_var(run, type_numeric, "", nullptr, nullptr);
  const size_detail d = measured(size_whole, 0, 1, 2);
  EXPECT_THAT(one_variable(run, weight, 1, 1, &d), HasSubstr("Name \"wt1\"\n\t\t\tLabel \"wt1\"\n"));
  EXPECT_THAT(one_variable(run, nameless, 1, 1, &d), HasSubstr("Name \"v0\"\n\t\t\tLabel \"v0\"\n"));
}

TEST(Outputts, MultipleMembersAndLoneYesNoVariable) {
  run_state run;
  tx::axis_info* m = add_axis(run, "brand");
  stat_var* a = add_var(run, type_yesno, "@bran0", "Brands", m, {{-1, "no A"}, {1, "A"}});
  stat_var* b = add_var(run, type_yesno, "@bran1", "Brands", m, {{0, "no \"B\""}, {1, ""}});
  stat_node nodes[2]{};
  nodes[0] = {a, 2, 0, nullptr, &nodes[1], nullptr};
  nodes[1] = {b, 0, 0, nullptr, nullptr, nullptr};
  std::vector<std::string> names;
  const std::string got = testkit::capture([&](std::FILE* f) {
    output_tss_labels(run, f, &nodes[0], 1, 4, 5, names);
    output_tss_labels(run, f, &nodes[1], 2, 4, 5, names);
  });
  EXPECT_EQ(
      "\t\t\tVariable 1\n\t\t\tName \"brand\"\n\t\t\tLabel \"Brands\"\n\t\t\tType multiple\n"
      "\t\t\tPosition 4 to 5\n\t\t\t\tValues\n\t\t\t\t\t1 \"A\"\n"
      "\t\t\t\t\t2 \"no {\"}B{\"}\"\n",  // no element text: the last non-empty label
      got);

  // The only data element of its axis: a yes/no variable alone, no values block.
  stat_var* lone = add_var(run, type_yesno, "@only3", "Only", add_axis(run, "only"),
                           {{0, "no X"}, {1, "X"}});
  EXPECT_EQ(
      "\t\t\tVariable 2\n\t\t\tName \"only\"\n\t\t\tLabel \"Only\"\n\t\t\tType single\n"
      "\t\t\tPosition 6\n",
      one_variable(run, lone, 6, 6));
}

TEST(Outputts, NamesDifferingInCaseGetNumbers) {
  run_state run;
  stat_var* vars[] = {
      add_var(run, type_single, "age", "", add_axis(run, "age")),
      add_var(run, type_single, "AGE", "", add_axis(run, "AGE")),
      add_var(run, type_single, "Age", "", add_axis(run, "Age")),
      add_var(run, type_numeric, "@inc", "a\"ge", nullptr),  // named by its label
  };
  std::vector<std::string> names;
  std::string got;
  for (stat_var* v : vars) {
    stat_node node{v, 1, 0, nullptr, nullptr, nullptr};
    got += testkit::capture(
        [&](std::FILE* f) { output_tss_labels(run, f, &node, 0, 1, 1, names); });
  }
  EXPECT_THAT(got, HasSubstr("Name \"age\"\n"));
  EXPECT_THAT(got, HasSubstr("Name \"AGE_2\"\n"));
  EXPECT_THAT(got, HasSubstr("Name \"Age_3\"\n"));
  EXPECT_THAT(got, HasSubstr("Name \"a{\"}ge\"\n"));
}

// A strict reader of the classic keyword syntax as this writer uses it: the
// fixed head and tail, tab indentation, one keyword per line, quoted texts
// in the classic character set (a double quote only as {"}), Variable
// numbers 1, 2, ..., Names unique ignoring case, positions following each
// other from column 1, value lines that fit the variable's type. Then every
// line of survey.asc must be as long as the record, and every field must
// hold what its variable allows.
class classic_reader {
 public:
  testing::AssertionResult read(const std::string& sss, const std::string& asc) {
    if (sss.empty() || sss.back() != '\n') return testing::AssertionFailure() << "no line end at the end";
    std::istringstream in(sss);
    for (std::string line; std::getline(in, line);) lines_.push_back(line);
    if (!head() || !variables() || !tail() || !data(asc)) return testing::AssertionFailure() << why_;
    return testing::AssertionSuccess();
  }

 private:
  struct variable {
    std::string type;
    int first = 0, last = 0;
    bool has_values = false;
    double from = 0, to = 0;  // quantity
  };

  bool fail(const std::string& why) {
    why_ = "line " + std::to_string(at_ + 1) + ": " + why + " (\"" +
           (at_ < lines_.size() ? lines_[at_] : std::string("end of file")) + "\")";
    return false;
  }
  const std::string& line() const {
    static const std::string none = "\x01";
    return at_ < lines_.size() ? lines_[at_] : none;
  }
  bool expect(const std::string& want) {
    if (line() != want) return fail("expected \"" + want + "\"");
    ++at_;
    return true;
  }
  bool match(const std::regex& re, std::smatch& m, const char* what) {
    if (!std::regex_match(line(), m, re)) return fail(std::string("expected ") + what);
    ++at_;
    return true;
  }
  // A quoted text: between the quotes, characters 32 to 255 and no double
  // quote except inside {"}.
  static bool quoted_ok(const std::string& inner) {
    for (std::size_t i = 0; i < inner.size(); ++i) {
      const auto c = static_cast<unsigned char>(inner[i]);
      if (c < 32) return false;
      if (c == '"' && (i == 0 || inner[i - 1] != '{' || i + 1 >= inner.size() || inner[i + 1] != '}'))
        return false;
    }
    return true;
  }
  bool quoted_line(const std::string& keyword, std::string& inner) {
    const std::string& l = line();
    if (l.rfind(keyword + " \"", 0) != 0 || l.size() < keyword.size() + 3 || l.back() != '"')
      return fail("expected " + keyword + " and a quoted text");
    inner = l.substr(keyword.size() + 2, l.size() - keyword.size() - 3);
    if (!quoted_ok(inner)) return fail("a quote or control character inside the text");
    ++at_;
    return true;
  }

  bool head() {
    std::smatch m;
    std::string text;
    return expect("SSS") && expect("\tVersion 1.1") &&
           match(std::regex("\tDate \"\\d\\d (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
                            "\\d{4}\""),
                 m, "a Date") &&
           match(std::regex("\tTime \"\\d\\d:\\d\\d\""), m, "a Time") &&
           quoted_line("\tOrigin", text) && expect("\tSURVEY") && quoted_line("\t\tTITLE", text) &&
           expect("\t\tRecord A");
  }

  bool variables() {
    const std::regex position("\t\t\tPosition (\\d+)(?: to (\\d+))?");
    const std::regex single_value("\t\t\t\t\t(-?\\d+) \"(.*)\"");
    const std::regex range("\t\t\t\t\t(-?\\d+(?:\\.\\d+)?) to (-?\\d+(?:\\.\\d+)?)");
    const std::regex only("\t\t\t\t\t(-?\\d+(?:\\.\\d+)?) \"the only valid value\"");
    int column = 1;
    while (line().empty()) {
      ++at_;
      variable v;
      std::smatch m;
      std::string name, label;
      if (!expect("\t\t\tVariable " + std::to_string(vars_.size() + 1)) ||
          !quoted_line("\t\t\tName", name) || !quoted_line("\t\t\tLabel", label))
        return false;
      for (const std::string& earlier : names_)
        if (strcasecmp(earlier.c_str(), name.c_str()) == 0) return fail("Name used twice: " + name);
      names_.push_back(name);
      if (line().rfind("\t\t\tType ", 0) != 0) return fail("expected Type");
      v.type = line().substr(8);
      if (v.type != "single" && v.type != "multiple" && v.type != "quantity")
        return fail("unknown Type");
      ++at_;
      if (!match(position, m, "Position")) return false;
      v.first = std::stoi(m[1]);
      v.last = m[2].matched ? std::stoi(m[2]) : v.first;
      if (v.first != column || v.last < v.first) {
        --at_;
        return fail("Position does not follow column " + std::to_string(column - 1));
      }
      column = v.last + 1;
      const int span = v.last - v.first + 1;
      if (line() == "\t\t\t\tValues") {
        ++at_;
        v.has_values = true;
        int n = 0;
        std::set<std::string> codes;
        while (line() != "\t\t\t\tEnd Values") {
          ++n;
          if (v.type == "quantity") {
            if (n > 1) return fail("more than one range");
            if (std::regex_match(line(), m, range)) {
              v.from = std::stod(m[1]);
              v.to = std::stod(m[2]);
              if (v.from > v.to) return fail("range from above to");
            } else if (std::regex_match(line(), m, only)) {
              v.from = v.to = std::stod(m[1]);
            } else {
              return fail("expected a range");
            }
          } else {
            if (!std::regex_match(line(), m, single_value) || !quoted_ok(m[2]))
              return fail("expected a code and a quoted text");
            if (!codes.insert(m[1]).second) return fail("code listed twice");
            if (v.type == "multiple" && std::stoi(m[1]) != n) return fail("codes not 1, 2, ...");
            if (static_cast<int>(m[1].length()) > span) return fail("code wider than the field");
          }
          ++at_;
        }
        if (v.type == "multiple" && n != span) return fail("one value per column expected");
        if (n == 0) return fail("empty Values");
        ++at_;
      } else if (v.type == "multiple") {
        return fail("a multiple variable without Values");
      }
      if (!expect("\t\t\tEnd Variable")) return false;
      vars_.push_back(v);
    }
    width_ = column - 1;
    return true;
  }

  bool tail() {
    return expect("\t\tEnd Record") && expect("\tEnd Survey") && expect("End SSS") &&
           (at_ == lines_.size() || fail("text after End SSS"));
  }

  bool data(const std::string& asc) {
    std::istringstream in(asc);
    int n = 0;
    for (std::string line; std::getline(in, line);) {
      ++n;
      const std::string where = "survey.asc line " + std::to_string(n);
      if (static_cast<int>(line.size()) != width_)
        return fail(where + " is " + std::to_string(line.size()) + " columns, the record " +
                    std::to_string(width_));
      for (const variable& v : vars_) {
        const std::string field = line.substr(v.first - 1, v.last - v.first + 1);
        const std::string what = where + " columns " + std::to_string(v.first) + "-" +
                                 std::to_string(v.last) + " \"" + field + "\"";
        if (field.find_first_not_of(' ') == std::string::npos) continue;  // missing
        if (v.type == "multiple") {
          if (field.find_first_not_of("01") != std::string::npos) return fail(what);
        } else if (v.type == "single") {
          if (!std::regex_match(field, std::regex(" *-?\\d+"))) return fail(what);
        } else {
          if (!std::regex_match(field, std::regex(" *-?\\d+(\\.\\d+)?")) || !v.has_values)
            return fail(what);
          const double x = std::stod(field);
          if (x < v.from - 1e-6 || x > v.to + 1e-6) return fail(what + " outside its range");
        }
      }
    }
    if (asc.empty() ? false : asc.back() != '\n') return fail("survey.asc ends without a line end");
    return true;
  }

  std::vector<std::string> lines_;
  std::size_t at_ = 0;
  std::string why_;
  std::vector<variable> vars_;
  std::vector<std::string> names_;
  int width_ = 0;
};

TEST(Outputts, ReaderRefusesBrokenDocuments) {
  const std::string good =
      "SSS\n\tVersion 1.1\n\tDate \"14 Mar 2026\"\n\tTime \"09:26\"\n\tOrigin \"UNIX, created by "
      "tx2ts\"\n\tSURVEY\n\t\tTITLE \"unknown\"\n\t\tRecord A\n\n\t\t\tVariable 1\n\t\t\tName "
      "\"q\"\n\t\t\tLabel \"Q\"\n\t\t\tType single\n\t\t\tPosition 1 to 2\n\t\t\t\tValues\n"
      "\t\t\t\t\t10 \"ten\"\n\t\t\t\tEnd Values\n\t\t\tEnd Variable\n\n\t\t\tVariable 2\n"
      "\t\t\tName \"n\"\n\t\t\tLabel \"N\"\n\t\t\tType quantity\n\t\t\tPosition 3\n"
      "\t\t\t\tValues\n\t\t\t\t\t5 to 5\n\t\t\t\tEnd Values\n\t\t\tEnd Variable\n"
      "\t\tEnd Record\n\tEnd Survey\nEnd SSS\n";
  EXPECT_TRUE(classic_reader().read(good, "105\n  5\n"));
  const struct {
    const char* from;
    const char* to;
  } damage[] = {
      {"\"ten\"", "\"a \"ten\"\""},          // a raw quote
      {"\t\t\t\t\t5 to 5", "\t\t\t\t\t5"},  // a bare number
      {"Position 3", "Position 4"},          // a gap
      {"Name \"n\"", "Name \"Q\""},          // the same Name but for case
      {"Variable 2", "Variable 3"},
      {"\t\tTITLE", "\tTITLE"},
  };
  for (const auto& d : damage) {
    std::string bad = good;
    bad.replace(bad.find(d.from), std::strlen(d.from), d.to);
    EXPECT_FALSE(classic_reader().read(bad, "105\n  5\n")) << d.to;
  }
  EXPECT_FALSE(classic_reader().read(good, "10 5\n"));  // a single field with a blank inside
  EXPECT_FALSE(classic_reader().read(good, "106\n"));   // outside the range
  EXPECT_FALSE(classic_reader().read(good, "10\n"));    // short line
}

TEST(Outputts, SurveyJobMatchesGolden) {
  testkit::temp_dir dir;
  tx::job::write_job(writers_jobs::survey_job(), dir.path);
  const testkit::result r = testkit::convert(dir.path, {"tx2ts"});
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_EQ("Produced files survey.sss and survey.asc\n\n Job completed.\n", r.out);
  EXPECT_TRUE(testkit::matches_golden("classic/survey/survey.sss", r.file("survey.sss")));
  EXPECT_TRUE(testkit::matches_golden("classic/survey/survey.asc", r.file("survey.asc")));
  EXPECT_TRUE(classic_reader().read(r.file("survey.sss"), r.file("survey.asc")));
}

TEST(Outputts, JobWithoutCases) {
  tx::job::job j;
  j.axes.push_back(writers_jobs::single_axis("q1", {"Yes", "No"}, {"Agree?"}));
  j.incs = {writers_jobs::inc("age", "Age")};
  testkit::temp_dir dir;
  tx::job::write_job(j, dir.path);
  const testkit::result r = testkit::convert(dir.path, {"tx2classic"});
  ASSERT_EQ(0, r.status) << r.err;
  // The inc never received a value: one column, no values block.
  EXPECT_THAT(r.file("survey.sss"),
              HasSubstr("\t\t\tName \"Age\"\n\t\t\tLabel \"Age\"\n\t\t\tType quantity\n"
                        "\t\t\tPosition 2\n\t\t\tEnd Variable\n"));
  EXPECT_EQ("", r.file("survey.asc"));
  EXPECT_TRUE(classic_reader().read(r.file("survey.sss"), r.file("survey.asc")));
}

}  // namespace
}  // namespace tx
