// Tests of statvars: output names, labels, value codes and the listing.
#include "fmtlib/model/statvars.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fmtlib/model/xtostats.h"
#include "fmtlib/read/axinf.h"
#include "fmtlib/run/convert.h"
#include "modelkit.h"
#include "testkit.h"

namespace tx {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

// Output names given, in order, to variables with these internal names.
std::vector<std::string> output_names(const std::vector<std::string>& internal,
                                      output_form form = form_xml) {
  run_state run;
  modelkit::start(run, form);
  std::vector<std::string> out;
  for (const std::string& name : internal) out.push_back(cr_statname(run, name.c_str())->name);
  return out;
}

TEST(Statvars, OutputNameIsEightAllowedCharacters) {
  const struct {
    const char* internal;
    const char* output;
  } cases[] = {
      {"Q 1.5x", "Q@1@5x"},           // blank and "." are not allowed
      {"AVERYLONGNAME", "AVERYLON"},  // cut to eight
      {"a_b@9Z", "a_b@9Z"},           // letters keep their case
      {"caf\xc3\xa9", "caf@@"},       // bytes outside 7-bit ASCII
      {"1st", "1st"},                 // no rule for the first character
      {"", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(std::vector<std::string>{c.output}, output_names({c.internal})) << c.internal;
}

TEST(Statvars, ClashesAreResolvedByTheCounter) {
  // The table compares case: age and AGE are two names.
  EXPECT_THAT(output_names({"age", "AGE"}), ElementsAre("age", "AGE"));
  // The counter's A gives ABCDEFGH back, still taken; B is next; the third starts at C.
  EXPECT_THAT(output_names({"ABCDEFGHIJ", "ABCDEFGHXY", "ABCDEFGH"}),
              ElementsAre("ABCDEFGH", "BBCDEFGH", "CBCDEFGH"));
  // A leading "@" stays; the letter after it takes the counter.
  EXPECT_THAT(output_names({"@Q12", "@Q12", "@Q12"}), ElementsAre("@Q12", "@A12", "@B12"));
  // Cutting to eight makes the clash; a short name grows to the counter's size.
  EXPECT_THAT(output_names({"QUESTION1", "QUESTION2", "", ""}),
              ElementsAre("QUESTION", "AUESTION", "", "B"));
}

TEST(Statvars, CounterCarriesIntoMoreLetters) {
  run_state run;
  modelkit::start(run);
  std::vector<std::string> seen;
  for (int call = 1; call <= 703; ++call) {
    char name[16] = "wxyz";
    mod_statname(run, name);
    seen.push_back(name);
  }
  EXPECT_EQ("Axyz", seen[0]);
  EXPECT_EQ("Zxyz", seen[25]);
  EXPECT_EQ("AByz", seen[26]);  // second letter starts at B
  EXPECT_EQ("BByz", seen[27]);
  EXPECT_EQ("ZByz", seen[51]);
  EXPECT_EQ("ACyz", seen[52]);
  EXPECT_EQ("ZZyz", seen[675]);
  EXPECT_EQ("AABz", seen[676]);  // three letters after ZZ
  EXPECT_EQ("ZABz", seen[701]);
  EXPECT_EQ("AByz", seen[702]);  // the carry stopped at the second letter: size 2 again

  char at_name[16] = "@";
  mod_statname(run, at_name);  // counter now BBB, size 2
  EXPECT_STREQ("@BB", at_name);
}

TEST(Statvars, SpssNamesIgnoreCaseAndAvoidReservedWords) {
  const struct {
    std::vector<std::string> internal;
    std::vector<std::string> spss;
    std::vector<std::string> other;
  } cases[] = {
      {{"age", "AGE"}, {"age", "BGE"}, {"age", "AGE"}},
      {{"1abc", "_x", "12345678"}, {"@1abc", "@_x", "@1234567"}, {"1abc", "_x", "12345678"}},
      {{"to", "With", "by", "ANDY"}, {"@to", "@With", "@by", "ANDY"}, {"to", "With", "by", "ANDY"}},
      // A counter candidate equal to a reserved word counts as taken.
      {{"AY", "AY"}, {"AY", "CY"}, {"AY", "BY"}},
      {{"@Q12", "@q12"}, {"@Q12", "@A12"}, {"@Q12", "@q12"}},
  };
  for (const auto& c : cases) {
    EXPECT_THAT(output_names(c.internal, form_spss), ElementsAreArray(c.spss)) << c.internal[0];
    for (output_form form : {form_xml, form_classic, form_csv})
      EXPECT_THAT(output_names(c.internal, form), ElementsAreArray(c.other)) << c.internal[0];
  }
}

TEST(Statvars, LabelDropsLeadingSpacesAndTheName) {
  const struct {
    const char* text;
    const char* name;
    int remove_name;
    const char* label;
  } cases[] = {
      {"  Q1 How old are you?", "Q1", 1, "How old are you?"},
      {"  Q1 How old are you?", "Q1", 0, "Q1 How old are you?"},
      {"q1 How old", "q1x", 1, "q1 How old"},  // differs in size and case from its name
      {"q1 How old", "Q1", 1, "q1 How old"},
      {"q1 How old", "Q1", 2, "How old"},
      {"Q1", "Q1", 1, ""},             // only the name
      {" \tQ1 x", "Q1", 1, "\tQ1 x"},  // only blanks are leading spaces
  };
  for (const auto& c : cases) {
    run_state run;
    modelkit::start(run);
    run.options.remove_name = c.remove_name;
    stat_var* v = modelkit::add_var(run, c.name, type_numeric, c.text);
    create_spssvar(run, v);
    ASSERT_NE(nullptr, v->spssvar);
    EXPECT_STREQ(c.label, v->spssvar->label) << c.text << " " << c.remove_name;
    EXPECT_EQ(0, v->spssvar->vallist->count);
  }
}

TEST(Statvars, VariableWithoutTextHasNoLabel) {
  run_state run;
  modelkit::start(run);
  run.options.remove_name = 2;
  stat_var* weight = modelkit::add_var(run, "@weight0", type_numeric);
  create_spssvar(run, weight);
  EXPECT_EQ(nullptr, weight->spssvar->label);
  EXPECT_STREQ("@weight0", weight->spssvar->sname->name);
  EXPECT_EQ(weight, weight->spssvar->var);
}

struct codes_labels {
  std::vector<int> codes;
  std::vector<std::string> labels;
  bool operator==(const codes_labels&) const = default;
};

std::vector<codes_labels> values_of(const run_state& run) {
  std::vector<codes_labels> out;
  for (const stat_var* v : run.stvars) {
    codes_labels cl;
    if (v->spssvar == nullptr) continue;
    const value_list* vl = v->spssvar->vallist;
    for (int i = 0; i < vl->count; ++i) {
      cl.codes.push_back(vl->codes[i]);
      cl.labels.push_back(vl->labels[i] != nullptr ? vl->labels[i] : "(none)");
    }
    out.push_back(cl);
  }
  return out;
}

std::string show(const std::vector<codes_labels>& vs) {
  std::string s;
  for (const codes_labels& v : vs) {
    s += "[";
    for (std::size_t i = 0; i < v.codes.size(); ++i)
      s += std::to_string(v.codes[i]) + "=" + v.labels[i] + (i + 1 < v.codes.size() ? "," : "");
    s += "]";
  }
  return s;
}

struct options_case {
  int use_positions = 0, element_values = 0, remove_name = 0;
};

std::string axis_values(const modelkit::axis_spec& axis, options_case o) {
  modelkit::model_run m;
  run_state& run = m.run;
  run.options.use_positions = o.use_positions;
  run.options.element_values = o.element_values;
  run.options.remove_name = o.remove_name;
  modelkit::add_axis(run, axis);
  modelkit::mark_elements(run);
  xtostats(run);
  statstospss(run);
  return show(values_of(run));
}

TEST(Statvars, YesNoCodes) {
  const modelkit::axis_spec axis{
      .name = "Q", .elements = {{"  A", 1}, {"B", 0}, {"C", 1}}, .maxbits = 2};
  // Position 0 keeps -1 for "no"; the element at position 2 gets 0.
  EXPECT_EQ("[-1=no   A,1=A][0=no C,1=C]", axis_values(axis, {}));
  EXPECT_EQ("[-1=no   A,0=A][0=no C,2=C]", axis_values(axis, {.use_positions = 1}));
}

TEST(Statvars, SingleCodedCodesArePositions) {
  const modelkit::axis_spec axis{
      .name = "Q", .elements = {{"A", 1}, {"skip", 0}, {" C", 1}}, .maxbits = 1};
  EXPECT_EQ("[0=A,2=C]", axis_values(axis, {}));
  EXPECT_EQ("[0=A,2=C]", axis_values(axis, {.use_positions = 1}));
}

TEST(Statvars, ElementValuesReadCodesFromTheTexts) {
  const modelkit::axis_spec scale{"freq",
                                  {{"1 Always", 1},
                                   {"2 Mostly", 1},
                                   {"3 Often", 1},
                                   {" 4  Sometimes", 1},
                                   {"5 Rarely", 1},
                                   {"Never", 1},
                                   {"Refused", 1}},
                                  1};
  EXPECT_EQ("[1=1 Always,2=2 Mostly,3=3 Often,4=4  Sometimes,5=5 Rarely,6=Never,7=Refused]",
            axis_values(scale, {.element_values = 1}));
  EXPECT_EQ("[1=Always,2=Mostly,3=Often,4=Sometimes,5=Rarely,6=Never,7=Refused]",
            axis_values(scale, {.element_values = 1, .remove_name = 1}));
  // Without element_values remove_name leaves the value labels alone.
  EXPECT_EQ("[0=1 Always,1=2 Mostly,2=3 Often,3=4  Sometimes,4=5 Rarely,5=Never,6=Refused]",
            axis_values(scale, {.remove_name = 1}));

  // Numbers out of order: the ones without a number go above the highest.
  const modelkit::axis_spec mixed{
      .name = "m", .elements = {{"x", 1}, {"9 nine", 1}, {"y", 1}, {"3 three", 1}}, .maxbits = 1};
  EXPECT_EQ("[10=x,9=nine,11=y,3=three]",
            axis_values(mixed, {.element_values = 1, .remove_name = 2}));

  // No text begins with a number: the positions stay.
  const modelkit::axis_spec words{.name = "w", .elements = {{"yes", 1}, {"no", 1}}, .maxbits = 1};
  EXPECT_EQ("[0=yes,1=no]", axis_values(words, {.element_values = 1}));

  // Yes/no variables: 0 and the number of the element text.
  const modelkit::axis_spec multi{
      .name = "mc", .elements = {{"7 Seven", 1}, {"Plain", 1}}, .maxbits = 2};
  EXPECT_EQ("[0=no 7 Seven,7=Seven][0=no Plain,1=Plain]",
            axis_values(multi, {.element_values = 1, .remove_name = 1}));
}

TEST(Statvars, ExtractNum) {
  const struct {
    const char* text;
    int number;
  } cases[] = {
      {"3 Often", 3},
      {"  42x", 42},
      {"007", 7},
      {"Never", -10000},
      {"", -10000},
      {"-3 minus", -10000},  // no sign is read
      {"\t5", -10000},       // only blanks are skipped
      {"999999999 top", 999999999},
      {"12345678901 too long", -10000},  // longer than a code can be
  };
  for (const auto& c : cases) EXPECT_EQ(c.number, extract_num(c.text)) << c.text;
}

TEST(Statvars, AvoidDupN) {
  const struct {
    const char* label;
    int code;
    const char* result;
  } cases[] = {
      {"3 Often", 3, "Often"},
      {"  12   x", 12, "x"},
      {"3 Often", 4, "3 Often"},
      {"3", 3, ""},
      {"no x", -1, "no x"},
      {"Never", 0, "Never"},
      {"99999999999 x", 2147483647, "99999999999 x"},
  };
  for (const auto& c : cases) {
    std::string buffer = c.label;
    EXPECT_STREQ(c.result, avoid_dup_n(buffer.data(), c.code)) << c.label;
  }
  EXPECT_EQ(nullptr, avoid_dup_n(nullptr, 1));
}

TEST(Statvars, SuppressedAxisHasNoOutputVariable) {
  modelkit::model_run m;
  run_state& run = m.run;
  modelkit::add_axis(run, {.name = "keep", .elements = modelkit::elements(2), .maxbits = 1});
  axis_info* gone =
      modelkit::add_axis(run, {.name = "gone", .elements = modelkit::elements(2), .maxbits = 2});
  modelkit::mark_elements(run);
  xtostats(run);
  gone->no_output = 1;  // as an inc of the same name with suppress_same_name leaves it
  statstospss(run);
  ASSERT_EQ(3u, run.stvars.size());
  EXPECT_NE(nullptr, run.stvars[0]->spssvar);
  EXPECT_EQ(nullptr, run.stvars[1]->spssvar);
  EXPECT_EQ(nullptr, run.stvars[2]->spssvar);
  // Its names were never taken: a later variable called @gone0 keeps that name.
  EXPECT_STREQ("@gone0", cr_statname(run, "@gone0")->name);
}

TEST(Statvars, ListingShowsTheCodesBeforeNaming) {
  modelkit::model_run m;
  run_state& run = m.run;
  modelkit::add_axis(
      run, {.name = "sex", .elements = {{"Male", 1}, {"Female", 1}}, .titles = {"Gender"}});
  modelkit::add_axis(run, {.name = "brand", .elements = {{"Alpha", 1}, {"Beta", 1}}, .maxbits = 2});
  modelkit::mark_elements(run);
  xtostats(run);
  modelkit::add_var(run, "income", type_numeric, "Yearly income");  // as an inc
  run.prt = 1;
  const std::string listing = testkit::capture([&](std::FILE* f) {
    run.debug.reset(f);
    print_statvars(run);
    run.debug.release();
  });
  EXPECT_EQ(
      "\n I 0\n sex 1 <Gender>\n   0 : 0 <Male>\n   1 : 1 <Female>\n"
      "\n I 1\n @brand0 2\n   0 : -1 <no Alpha>\n   1 : 0 <Alpha>\n"
      "\n I 2\n @brand1 2\n   0 : -1 <no Beta>\n   1 : 1 <Beta>\n"
      "\n I 3\n income 3",
      listing);
}

}  // namespace
}  // namespace tx
