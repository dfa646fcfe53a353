// Tests of xtostats: the name table, the variables of the axes, incs and
// weights, and the variable group list.
#include "fmtlib/xtostats.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fmtlib/convert.h"
#include "modelkit.h"
#include "testkit.h"

namespace tx {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

std::vector<std::string> internal_names(const run_state& run) {
  std::vector<std::string> out;
  for (const stat_var* v : run.stvars) out.push_back(v->name);
  return out;
}

TEST(Xtostats, NameHashSumsSevenBitBytes) {
  EXPECT_EQ(0, name_hash(""));
  EXPECT_EQ(0, name_hash("ddddc"));  // 4 x 100 + 99 = 499
  EXPECT_EQ(498, name_hash("ddddb"));
  EXPECT_EQ(1, name_hash("ddddd"));
  EXPECT_EQ(67, name_hash("\xc3"));  // the signed byte -61 masked with 127
  EXPECT_EQ('A' + 'b', name_hash("Ab"));
}

TEST(Xtostats, LookupFindsTheLatestRecordOfAName) {
  run_state run;
  modelkit::start(run);
  stat_var* first = install(run, "ddddc");
  stat_var* other = install(run, "cdddd");  // same slot, other name
  EXPECT_EQ(nullptr, lookup(run, "dddd"));
  EXPECT_EQ(first, lookup(run, "ddddc"));
  stat_var* second = install(run, "ddddc");
  EXPECT_EQ(second, lookup(run, "ddddc"));
  EXPECT_EQ(other, lookup(run, "cdddd"));
  EXPECT_EQ(second, run.items[0]);
  EXPECT_TRUE(run.stvars.empty());  // install does not add to stvars
  for (std::size_t slot = 1; slot < run.items.size(); ++slot) EXPECT_EQ(nullptr, run.items[slot]);
}

TEST(Xtostats, StvarsGrowInSteps) {
  run_state run;
  modelkit::start(run);
  for (int i = 0; i < 9501; ++i) add_stat_var(run, "v");
  EXPECT_EQ(9501u, run.stvars.size());
  EXPECT_EQ(19000u, run.stvarmax);
}

TEST(Xtostats, MultiCodedNamesFollowTheNumberOfElements) {
  const struct {
    int elements;
    int position;
    const char* name;
  } cases[] = {
      {5, 0, "@QUESTI0"},
      {40, 12, "@QUEST12"},
      {400, 345, "@QUES345"},
      {1200, 1100, "@QUES1100"},
  };
  for (const auto& c : cases) {
    run_state run;
    modelkit::start(run);
    axis_info* axis = modelkit::add_axis(
        run, {.name = "QUESTION1", .elements = modelkit::elements(c.elements), .maxbits = 2});
    modelkit::mark_elements(run);
    xtostats(run);
    ASSERT_EQ(static_cast<std::size_t>(c.elements), run.stvars.size());
    const stat_var* v = axis->multi_vars[c.position];
    EXPECT_STREQ(c.name, v->name);
    EXPECT_EQ(type_yesno, v->type);
    EXPECT_EQ(c.position, v->index);
    EXPECT_EQ(axis, v->axis);
    EXPECT_EQ(axis->head, v->parent);
    EXPECT_EQ(kind_multi, axis->kind);
  }
}

TEST(Xtostats, MultiCodedValuesAndGaps) {
  run_state run;
  modelkit::start(run);
  axis_info* axis = modelkit::add_axis(
      run, {.name = "Q", .elements = {{"Red", 1}, {"none", 0}, {"Blue", 3}}, .maxbits = 2});
  modelkit::mark_elements(run);
  xtostats(run);
  EXPECT_THAT(internal_names(run), ElementsAre("@Q0", "@Q2"));
  EXPECT_EQ(nullptr, axis->multi_vars[1]);
  const stat_var* blue = axis->multi_vars[2];
  ASSERT_EQ(2, blue->nvalues);
  EXPECT_STREQ("no Blue", blue->valtexts[0]);
  EXPECT_STREQ("Blue", blue->valtexts[1]);
  EXPECT_EQ(-1, blue->values[0]);
  EXPECT_EQ(2, blue->values[1]);
  EXPECT_EQ(nullptr, axis->single_var);
}

TEST(Xtostats, SingleCodedValuesAreTheDataElements) {
  run_state run;
  modelkit::start(run);
  axis_info* axis = modelkit::add_axis(
      run, {.name = "sex", .elements = {{"Male", 1}, {"Total", 0}, {"Female", 2}}, .maxbits = 1});
  modelkit::mark_elements(run);
  xtostats(run);
  ASSERT_EQ(1u, run.stvars.size());
  const stat_var* v = run.stvars[0];
  EXPECT_EQ(v, axis->single_var);
  EXPECT_EQ(kind_single, axis->kind);
  EXPECT_STREQ("sex", v->name);
  EXPECT_EQ(type_single, v->type);
  EXPECT_EQ(0, v->index);
  EXPECT_EQ(nullptr, v->text);  // no title lines
  ASSERT_EQ(2, v->nvalues);
  EXPECT_EQ(0, v->values[0]);
  EXPECT_EQ(2, v->values[1]);
  EXPECT_STREQ("Male", v->valtexts[0]);
  EXPECT_STREQ("Female", v->valtexts[1]);
}

TEST(Xtostats, ElementWithoutMaskBitCarriesNoData) {
  run_state run;
  modelkit::start(run);
  modelkit::add_axis(run, {.name = "q", .elements = modelkit::elements(18), .maxbits = 1});
  modelkit::mark_elements(run);
  run.elmask[0] = 0x0001;  // element 0 only in the first word
  run.elmask[1] = 0x0002;  // element 17 in the second
  xtostats(run);
  const stat_var* v = run.stvars[0];
  ASSERT_EQ(2, v->nvalues);
  EXPECT_EQ(0, v->values[0]);
  EXPECT_EQ(17, v->values[1]);
  EXPECT_STREQ("e17", v->valtexts[1]);
}

TEST(Xtostats, AxesWithoutVariablesUseTheRightMaskWords) {
  // notin has no words in the cases; empty has 17 elements, none with data,
  // and takes two words; last takes the third.
  const struct {
    int empty_elements;
    int words_before_last;
  } cases[] = {{17, 2}, {16, 1}, {1, 1}};
  for (const auto& c : cases) {
    run_state run;
    modelkit::start(run);
    modelkit::add_axis(run, {.name = "notin", .elements = modelkit::elements(20), .incase = false});
    std::vector<modelkit::element> no_data(static_cast<std::size_t>(c.empty_elements),
                                           modelkit::element{"x", 0});
    axis_info* empty = modelkit::add_axis(run, {.name = "empty", .elements = no_data});
    modelkit::add_axis(run, {.name = "last", .elements = {{"a", 1}, {"b", 1}, {"c", 1}}});
    modelkit::mark_elements(run);
    ASSERT_EQ(c.words_before_last + 1, run.mask_words);
    run.elmask[c.words_before_last] = 0x0006;  // b and c
    EXPECT_EQ(1, empty->no_output);
    xtostats(run);
    ASSERT_THAT(internal_names(run), ElementsAre("last")) << c.empty_elements;
    EXPECT_EQ(2, run.stvars[0]->nvalues);
    EXPECT_EQ(1, run.stvars[0]->values[0]);
  }
}

TEST(Xtostats, MaskShorterThanTheAxesStops) {
  run_state run;
  modelkit::start(run);
  modelkit::add_axis(run, {.name = "q", .elements = modelkit::elements(17)});
  modelkit::mark_elements(run);
  run.mask_words = 1;
  const run_stopped stop = testkit::expect_stop([&] { xtostats(run); });
  EXPECT_THAT(stop.message, ::testing::HasSubstr("\"intermed.x\""));
}

TEST(Xtostats, JobWithoutAxesHasNoAxisVariables) {
  run_state run;
  modelkit::start(run);
  xtostats(run);
  EXPECT_TRUE(run.stvars.empty());
  EXPECT_EQ(0, run.weighting);
}

// Text of the first variable of an axis with the given titles and grid text.
std::string text_of(output_form form, int lflg, int maxbits, std::vector<std::string> titles,
                    const char* grid_label = nullptr) {
  run_state run;
  modelkit::start(run, form);
  run.lflg = lflg;
  modelkit::add_axis(run, {.name = "q",
                           .elements = modelkit::elements(2),
                           .maxbits = maxbits,
                           .titles = std::move(titles),
                           .grid_label = grid_label});
  modelkit::mark_elements(run);
  xtostats(run);
  const char* text = run.stvars[0]->text;
  return text != nullptr ? text : "(none)";
}

TEST(Xtostats, TextOfAxisVariables) {
  const std::vector<std::string> ab{"A", "B"};
  // -l joins the title lines with the form's separator, the last one included.
  EXPECT_EQ("A\nB\n", text_of(form_xml, 1, 1, ab));
  EXPECT_EQ("A B ", text_of(form_csv, 1, 1, ab));
  EXPECT_EQ("A B ", text_of(form_classic, 2, 2, ab));
  EXPECT_EQ("A", text_of(form_spss, 1, 1, ab));
  EXPECT_EQ("A", text_of(form_xml, 0, 2, ab));
  EXPECT_EQ("(none)", text_of(form_xml, 1, 1, {}));
  EXPECT_EQ("(none)", text_of(form_xml, 0, 2, {}));
  // A grid copy: its item's text; an empty one is passed over by a
  // single-coded variable only.
  EXPECT_EQ("Beta", text_of(form_xml, 0, 1, ab, "Beta"));
  EXPECT_EQ("Beta", text_of(form_xml, 0, 2, ab, "Beta"));
  EXPECT_EQ("A", text_of(form_xml, 0, 1, ab, ""));
  EXPECT_EQ("(none)", text_of(form_xml, 0, 1, {}, ""));
  EXPECT_EQ("", text_of(form_xml, 0, 2, ab, ""));
}

TEST(Xtostats, EveryYesNoVariableHasItsOwnText) {
  run_state run;
  modelkit::start(run);
  axis_info* axis = modelkit::add_axis(
      run, {.name = "q", .elements = modelkit::elements(2), .maxbits = 2, .titles = {"T"}});
  modelkit::mark_elements(run);
  xtostats(run);
  EXPECT_STREQ("T", axis->multi_vars[0]->text);
  EXPECT_NE(axis->multi_vars[0]->text, axis->multi_vars[1]->text);
}

TEST(Xtostats, CopycommentsWithoutTitlesGivesAnEmptyText) {
  run_state run;
  modelkit::start(run, form_csv);
  axis_info* axis = modelkit::add_axis(run, {.name = "q", .elements = modelkit::elements(1)});
  stat_var* v = modelkit::add_var(run, "inc", type_numeric);
  copycomments(run, axis, v);
  EXPECT_STREQ("", v->text);
  run.lflg = 1;
  copycomments(run, axis, v);
  EXPECT_STREQ("", v->text);
}

// Group list of the variables, as "name" per variable and "|" between groups.
std::string groups(run_state& run) {
  build_statlist(run);
  std::string out;
  for (const stat_node* g = run.statlist; g != nullptr; g = g->nextgroup) {
    int members = 0;
    for (const stat_node* m = g; m != nullptr; m = m->member, ++members)
      out += std::string(m->var->spssvar->sname->name) + (m->member != nullptr ? " " : "");
    EXPECT_EQ(members, g->count) << out;
    out += g->nextgroup != nullptr ? " | " : "";
  }
  return out;
}

TEST(Xtostats, GroupListJoinsTheYesNoVariablesOfOneAxis) {
  run_state run;
  modelkit::start(run);
  modelkit::add_axis(run, {.name = "single", .elements = modelkit::elements(2)});
  modelkit::add_axis(run, {.name = "m", .elements = modelkit::elements(3), .maxbits = 2});
  axis_info* gone =
      modelkit::add_axis(run, {.name = "gone", .elements = modelkit::elements(2), .maxbits = 2});
  modelkit::add_axis(run, {.name = "m", .elements = modelkit::elements(2), .maxbits = 2});
  // Two single-coded axes given the same name stay two variables.
  modelkit::add_axis(run, {.name = "twin", .elements = modelkit::elements(12)});
  modelkit::add_axis(run, {.name = "twin", .elements = modelkit::elements(12)});
  modelkit::mark_elements(run);
  xtostats(run);
  modelkit::add_var(run, "n1", type_numeric);
  modelkit::add_var(run, "@weight0", type_numeric);
  gone->no_output = 1;
  statstospss(run);
  EXPECT_EQ("single | @m0 @m1 @m2 | @A0 @B1 | twin | Cwin | n1 | @weight0", groups(run));
  EXPECT_EQ(2, build_statlist(run));
  for (const stat_node* g = run.statlist; g != nullptr; g = g->nextgroup) {
    EXPECT_EQ(nullptr, g->size);
    EXPECT_EQ(0, g->width);
  }
}

TEST(Xtostats, GroupListOfNothingIsEmpty) {
  run_state run;
  modelkit::start(run);
  modelkit::add_var(run, "x", type_numeric);  // never named: not output
  EXPECT_EQ(0, build_statlist(run));
  EXPECT_EQ(nullptr, run.statlist);
}

}  // namespace
}  // namespace tx
