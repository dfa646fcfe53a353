// Tests of xtostats: the name table, the variables of the axes, incs and
// weights, and the variable group list.
#include "fmtlib/model/xtostats.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fmtlib/model/statvars.h"
#include "fmtlib/read/axinf.h"
#include "fmtlib/run/convert.h"
#include "modelkit.h"
#include "testkit.h"
#include "tools/jobbuild.h"
#include "txlib/bytes.h"

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
    modelkit::model_run m;
    run_state& run = m.run;
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
    // The output name keeps eight characters of it.
    EXPECT_EQ(std::string(c.name).substr(0, 8), cr_statname(run, v->name)->name);
  }
}

TEST(Xtostats, MultiCodedValuesAndGaps) {
  modelkit::model_run m;
  run_state& run = m.run;
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
  modelkit::model_run m;
  run_state& run = m.run;
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
  modelkit::model_run m;
  run_state& run = m.run;
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
    modelkit::model_run m;
    run_state& run = m.run;
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
  modelkit::model_run m;
  run_state& run = m.run;
  modelkit::add_axis(run, {.name = "q", .elements = modelkit::elements(17)});
  modelkit::mark_elements(run);
  run.mask_words = 1;
  const run_stopped stop = testkit::expect_stop([&] { xtostats(run); });
  EXPECT_THAT(stop.message, ::testing::HasSubstr("\"intermed.x\""));
}

TEST(Xtostats, JobWithoutAxesHasNoAxisVariables) {
  modelkit::model_run m;
  run_state& run = m.run;
  xtostats(run);
  EXPECT_TRUE(run.stvars.empty());
  EXPECT_EQ(0, run.weighting);
}

// Text of the first variable of an axis with the given titles and grid text.
std::string text_of(output_form form, int lflg, int maxbits, std::vector<std::string> titles,
                    const char* grid_label = nullptr) {
  modelkit::model_run m(form);
  run_state& run = m.run;
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
  modelkit::model_run m;
  run_state& run = m.run;
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
  modelkit::model_run m;
  run_state& run = m.run;
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

// A run over the incs and weights of a job.
struct job_run : modelkit::model_run {
  std::string err;
  explicit job_run(const job::job& j, output_form form = form_xml) : model_run(form, j) {}
  // Runs fn with the run's standard error captured into err.
  void capture_err(const std::function<void()>& fn) {
    err = testkit::capture([&](std::FILE* f) {
      std::FILE* before = run.err;
      run.err = f;
      fn();
      run.err = before;
    });
  }
};

job::description desc(std::optional<std::string> label, std::optional<std::string> descript) {
  return {std::move(label), std::move(descript)};
}

TEST(Xtostats, IncsAreNamedByTheirLabels) {
  job::job j;
  j.incs = {{"i1", desc("Income", "Yearly income")},
            {"i2"},
            {"i3", desc("", "Age in years")},  // an empty label names nothing
            {"i4", desc("Spend", std::nullopt)},
            {"i5", desc(std::nullopt, "Only a text")}};
  j.has_weights_file = true;
  job_run jr(j);
  get_incinf(jr.run);
  run_state& run = jr.run;
  EXPECT_THAT(internal_names(run), ElementsAre("Income", "i2", "i3", "Spend", "i5"));
  const char* texts[] = {"Yearly income", "i2", "Age in years", "", "Only a text"};
  ASSERT_EQ(5, run.nincs);
  const inc_info* inc = run.incinf;
  for (int i = 0; i < 5; ++i, inc = inc->next) {
    const stat_var* v = run.stvars[static_cast<std::size_t>(i)];
    EXPECT_STREQ(texts[i], v->text) << i;
    EXPECT_EQ(type_numeric, v->type);
    EXPECT_EQ(i, v->index);
    EXPECT_EQ(nullptr, v->axis);
    ASSERT_NE(nullptr, inc);
    EXPECT_EQ(inc, v->parent);
    EXPECT_STREQ(v->name, inc->name);
    EXPECT_EQ(v, lookup(run, inc->name));
  }
  EXPECT_EQ(nullptr, inc);
}

TEST(Xtostats, IncsWithoutDescriptionsKeepTheirRawNames) {
  job::job j;
  j.incs = {{"i1", desc("Income", "Yearly income")}};
  j.descriptions = false;
  job_run jr(j);
  jr.capture_err([&] { get_incinf(jr.run); });
  EXPECT_THAT(jr.err, ::testing::MatchesRegex(
                          "Warning: cannot read .*/descrips.inf \\(errcode -[0-9]+\\)\n"));
  ASSERT_EQ(1u, jr.run.stvars.size());
  EXPECT_STREQ("i1", jr.run.stvars[0]->name);
  EXPECT_STREQ("i1", jr.run.stvars[0]->text);
}

TEST(Xtostats, IncOfAnAxisNameMaySuppressTheAxis) {
  for (int suppress : {0, 1}) {
    job::job j;
    j.incs = {{"i1", desc("income", "Yearly income")}, {"age"}};
    job_run jr(j, form_csv);
    run_state& run = jr.run;
    run.options.suppress_same_name = suppress;
    run.lflg = 1;
    axis_info* axis = modelkit::add_axis(
        run, {.name = "income", .elements = modelkit::elements(2), .titles = {"How", "much"}});
    modelkit::mark_elements(run);
    xtostats(run);
    statstospss(run);
    ASSERT_EQ(3u, run.stvars.size());
    const stat_var* inc = run.stvars[1];
    if (suppress != 0) {
      EXPECT_EQ(1, axis->no_output);
      EXPECT_STREQ("How much ", inc->text);  // the axis's text, joined for CSV with -l
      EXPECT_EQ(nullptr, run.stvars[0]->spssvar);
      EXPECT_STREQ("income", inc->spssvar->sname->name);
    } else {
      EXPECT_EQ(0, axis->no_output);
      EXPECT_STREQ("Yearly income", inc->text);
      EXPECT_STREQ("income", run.stvars[0]->spssvar->sname->name);
      EXPECT_STREQ("Ancome", inc->spssvar->sname->name);
    }
    EXPECT_STREQ("age", run.stvars[2]->spssvar->sname->name);
  }
}

TEST(Xtostats, IncOfAYesNoVariableNameSuppressesItsAxis) {
  job::job j;
  j.incs = {{"@q1"}};
  job_run jr(j);
  run_state& run = jr.run;
  run.options.suppress_same_name = 1;
  axis_info* axis =
      modelkit::add_axis(run, {.name = "q", .elements = modelkit::elements(2), .maxbits = 2});
  modelkit::mark_elements(run);
  xtostats(run);
  EXPECT_EQ(1, axis->no_output);
  EXPECT_STREQ("", run.stvars[2]->text);  // the axis has no title lines
}

TEST(Xtostats, IncCountMustMatchTheCaseRecords) {
  job::job j;
  j.incs = {{"a"}, {"b"}};
  job_run jr(j);
  jr.run.layout.nfloats = 1;
  const run_stopped stop = testkit::expect_stop([&] { get_incinf(jr.run); });
  EXPECT_EQ(1, stop.status);
  EXPECT_EQ(
      "ERROR: \"intermed.x\" holds 1 numeric values per case, but \"incs.inf\" lists 2 incs\n",
      stop.message);
}

TEST(Xtostats, DamagedIncsFileStops) {
  job::job j;
  j.incs = {{"first"}, {"second"}};
  job_run jr(j);
  const std::string file = jr.path("incs.inf");
  const std::string full = testkit::read_file(file);
  // Every cut after the header loses bytes that the counts promise.
  for (std::size_t n = 64; n < full.size(); ++n) {
    testkit::write_file(file, full.substr(0, n));
    run_state run;
    modelkit::start(run);
    run.err = jr.run.err;
    run.layout.nfloats = 2;
    const run_stopped stop = testkit::expect_stop([&] { get_incinf(run); });
    EXPECT_THAT(stop.message, ::testing::HasSubstr("\"incs.inf\" is damaged")) << "cut at " << n;
  }
  // 64 header, 4 N, 4 S, name block "first\0second\0" (13), records from 85.
  const struct {
    std::size_t at;
    std::uint32_t value;
    const char* what;
  } damage[] = {
      {64, 0x7fffffff, "incs"},                             // N far beyond the file
      {68, 0xffffffff, "name bytes"},                       // S negative
      {68, 1000, "name bytes"},                             // S beyond the file
      {85 + 8, 13, "outside its name block"},               // offset at the block's end
      {85 + 12 + 8, 0xfffffffe, "outside its name block"},  // negative offset
  };
  for (const auto& d : damage) {
    testkit::write_file(file, full);
    job::set_be32(file, d.at, d.value);
    run_state run;
    modelkit::start(run);
    run.err = jr.run.err;
    run.layout.nfloats = d.at == 64 ? 0x7fffffff : 2;
    const run_stopped stop = testkit::expect_stop([&] { get_incinf(run); });
    EXPECT_THAT(stop.message, ::testing::HasSubstr("\"incs.inf\" is damaged")) << d.at;
    EXPECT_THAT(stop.message, ::testing::HasSubstr(d.what)) << d.at;
  }
  // The last name without its zero byte runs out of the block.
  testkit::write_file(file, full);
  job::set_byte(file, 84, 'x');
  run_state run;
  modelkit::start(run);
  run.err = jr.run.err;
  run.layout.nfloats = 2;
  EXPECT_THAT(testkit::expect_stop([&] { get_incinf(run); }).message,
              ::testing::HasSubstr("outside its name block"));
  // An offset into the middle of a name is a valid (shorter) name.
  testkit::write_file(file, full);
  job::set_be32(file, 85 + 8, 2);
  run_state ok;
  modelkit::start(ok);
  ok.err = jr.run.err;
  ok.layout.nfloats = 2;
  get_incinf(ok);
  EXPECT_THAT(internal_names(ok), ElementsAre("rst", "second"));
}

TEST(Xtostats, NoWeights) {
  job::job j;
  job_run jr(j);
  EXPECT_EQ(0, get_weightinf(jr.run));
  EXPECT_EQ(0, jr.run.weighting);
  EXPECT_TRUE(jr.run.stvars.empty());
}

TEST(Xtostats, WeightsOpenTheirValueFiles) {
  job::job j;
  j.weights = {{.number = 7, .values = {1.5f, 2.5f}}, {.number = 3, .values = {0.25f, 4.0f}}};
  j.cases = {{}, {}};
  job_run jr(j);
  run_state& run = jr.run;
  EXPECT_EQ(2, get_weightinf(run));
  EXPECT_EQ(2, run.weighting);
  EXPECT_THAT(internal_names(run), ElementsAre("@weight0", "@weight1"));
  const float first[] = {1.5f, 0.25f};
  for (int i = 0; i < 2; ++i) {
    const stat_var* v = run.stvars[static_cast<std::size_t>(i)];
    const weight_slot& slot = run.wght[static_cast<std::size_t>(i)];
    EXPECT_EQ(type_numeric, v->type);
    EXPECT_EQ(&slot, v->parent);
    EXPECT_EQ(i, v->index);
    EXPECT_EQ(nullptr, v->text);
    EXPECT_EQ(nullptr, v->axis);
    // Open and just after the header, for the case data writer.
    ASSERT_TRUE(slot.stream);
    EXPECT_EQ(64, std::ftell(slot.stream.get()));
    std::array<std::uint8_t, 4> value{};
    ASSERT_EQ(4u, std::fread(value.data(), 1, 4, slot.stream.get()));
    EXPECT_EQ(first[i], be_f32(value, 0));
  }
  EXPECT_EQ(7, run.wght[0].number);
  EXPECT_EQ(3, run.wght[1].number);
}

TEST(Xtostats, EleventhWeightStops) {
  job::job j;
  for (int i = 0; i < 11; ++i) j.weights.push_back({.number = static_cast<std::int16_t>(i)});
  job_run jr(j);
  const run_stopped stop = testkit::expect_stop([&] { get_weightinf(jr.run); });
  EXPECT_EQ(1, stop.status);
  EXPECT_EQ("ERROR: \"weightin.x\" holds more than 10 weights\n", stop.message);
}

TEST(Xtostats, DamagedWeightFileStops) {
  job::job j;
  j.weights = {{.number = 1}, {.number = 2}};
  job_run jr(j);
  const std::string file = jr.path("weightin.x");
  const std::string full = testkit::read_file(file);
  // 64 header, 4 count, 40 unused, two records of 156 from 108.
  for (std::size_t n = 64; n < full.size(); ++n) {
    testkit::write_file(file, full.substr(0, n));
    run_state run;
    modelkit::start(run);
    if (n == 108 || n == 108 + 156) {
      EXPECT_EQ(static_cast<int>(n - 108) / 156, get_weightinf(run));  // whole records only
      continue;
    }
    const run_stopped stop = testkit::expect_stop([&] { get_weightinf(run); });
    EXPECT_THAT(stop.message, ::testing::HasSubstr("\"weightin.x\" is damaged")) << n;
  }
  // A values file that is not there stops through the guarded open.
  testkit::write_file(file, full);
  job::remove_file(jr.path("wmvals2.x"));
  run_state run;
  modelkit::start(run);
  EXPECT_THAT(testkit::expect_stop([&] { get_weightinf(run); }).message,
              ::testing::HasSubstr("Cannot open \"wmvals2.x\""));
}

TEST(Xtostats, IncAndWeightListings) {
  job::job j;
  j.incs = {{"i1", desc("Income", std::nullopt)}, {"i2"}};
  j.weights = {{.number = 9}, {.number = 4}};
  job_run jr(j);
  run_state& run = jr.run;
  run.prt = 1;
  const std::string listing = testkit::capture([&](std::FILE* f) {
    run.debug.reset(f);
    xtostats(run);
    run.debug.release();
  });
  EXPECT_EQ("\n Inc 0 Income\n Inc 1 i2\n Weight 0\n Weight 1", listing);
  EXPECT_EQ(2, run.weighting);
  EXPECT_THAT(internal_names(run), ElementsAre("Income", "i2", "@weight0", "@weight1"));
}

}  // namespace
}  // namespace tx

namespace tx {
namespace {

// A small job with every kind of variable: a single-coded axis named by its
// label, a multi-coded axis with a non-data element, a grid of two items, an
// axis not in the cases, two incs and a weight.
job::job small_job() {
  job::job j;
  j.title = {"Small survey"};
  j.axes = {
      {.tag = "q1",
       .titles = {{"Sex of respondent"}},
       .elements = {{"Male"}, {"Female"}},
       .desc = job::description{"sex", "What is your sex?"}},
      {.tag = "brand",
       .titles = {{"Brands used"}, {"All that apply"}},
       .elements = {{"Alpha"}, {"Beta"}, {"Total", 0}, {"Gamma"}}},
      {.tag = "gq", .ngrid = 2, .titles = {{"Rate each drink"}}, .elements = {{"Good"}, {"Bad"}}},
      {.tag = "pq", .partner = true, .elements = {{"Tea"}, {"Coffee"}}},
      {.tag = "notin", .incase = false, .elements = {{"Never"}}},
  };
  j.incs = {{"i1", job::description{"income", "Yearly income"}}, {"age"}};
  j.weights = {{.number = 7, .values = {1.5f, 0.5f, 1.0f}}};
  j.cases = {{.axes = {{0}, {0, 1}, {1}, {0}}, .incs = {1200.0f, 35.0f}},
             {.axes = {{1}, {3}, {0}, {0}}, .incs = {job::missing, 52.0f}},
             {.axes = {{1}, {}, {1}, {1}}, .incs = {800.0f, 19.0f}}};
  return j;
}

TEST(Xtostats, SmallJobListingsMatchGolden) {
  testkit::temp_dir dir;
  job::write_job(small_job(), dir.path);
  const testkit::result r = testkit::convert(dir.path, {"tx2xml"}, {{"TXSPSSRC", "d=1"}});
  ASSERT_TRUE(r.has("debugfile")) << r.err;
  EXPECT_TRUE(testkit::matches_golden("model/debugfile", r.file("debugfile")));
}

TEST(Xtostats, JobWithoutAxesStillHasIncsAndWeights) {
  testkit::temp_dir dir;
  job::job j;
  j.incs = {{"age"}};
  j.weights = {{.number = 2, .values = {1.0f}}};
  j.cases = {{.incs = {30.0f}}};
  job::write_job(j, dir.path);
  const testkit::result r = testkit::convert(dir.path, {"tx2xml"}, {{"TXSPSSRC", "d=1"}});
  const std::string listing = r.file("debugfile");
  EXPECT_THAT(listing,
              ::testing::HasSubstr("\n Inc 0 age\n Weight 0\n I 0\n age 3\n I 1\n @weight0 3"))
      << r.err;
}

TEST(Xtostats, IncCountDifferentFromTheCaseRecordsIsRefused) {
  testkit::temp_dir dir;
  job::job j = small_job();
  j.ni = 4;  // one value per case for two incs
  job::write_job(j, dir.path);
  for (const char* program : {"tx2xml", "tx2spss", "tx2csv", "tx2ts"}) {
    const testkit::result r = testkit::convert(dir.path, {program});
    EXPECT_EQ(1, r.status) << program;
    EXPECT_THAT(r.err, ::testing::EndsWith("ERROR: \"intermed.x\" holds 1 numeric values per case, "
                                           "but \"incs.inf\" lists 2 incs\n"))
        << program;
    for (const char* out : {"survey.xml", "survey.asc", "commands.xsp", "data.xsp", "survey.txt",
                            "survey.csv", "survey.sss"})
      EXPECT_FALSE(r.has(out)) << program << " wrote " << out;
  }
}

}  // namespace
}  // namespace tx
