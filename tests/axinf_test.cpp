#include "fmtlib/read/axinf.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fmtlib/run/convert.h"
#include "readers_kit.h"

namespace tx {
namespace {

using readers_kit::element_name;
using readers_kit::job_run;
using readers_kit::simple_axis;
using readers_kit::texts_of;
using readers_kit::titles_of;
using testing::ElementsAre;
using testing::HasSubstr;
using strings = std::vector<std::string>;

// Offsets in an axis file: header, then the 320-byte axis record.
constexpr std::size_t axis_rec = 64;
constexpr std::size_t first_element = 64 + 320;
constexpr std::size_t element_size = 76;
// Offsets in axes.inf: header, count, then 68-byte records.
constexpr std::size_t first_list_rec = 68;

std::vector<const axis_info*> axes_of(const run_state& run) {
  std::vector<const axis_info*> out;
  for (const axis_info* a = run.axinf; a != nullptr; a = a->next) out.push_back(a);
  return out;
}

job::job one_axis_job(job::axis a) {
  job::job j;
  j.axes.push_back(std::move(a));
  return j;
}

TEST(Axinf, OnlyElementsWithTheMaskFlagAreKept) {
  job::axis a = simple_axis("q1", {"one", "two", "three", "four", "five"});
  for (int i : {0, 2, 4}) a.elements[static_cast<std::size_t>(i)].kept = false;
  job_run jr(one_axis_job(a));
  get_axinf(jr.run);
  const axis_info* q1 = jr.run.axinf;
  ASSERT_NE(nullptr, q1);
  EXPECT_EQ(2, q1->counts->nelements);
  EXPECT_EQ(2, q1->counts->nbits);
  EXPECT_EQ(1, q1->nwords);
  EXPECT_THAT(texts_of(q1), ElementsAre("two", "four"));
  EXPECT_EQ(1, jr.run.naxes);
  EXPECT_EQ(nullptr, q1->next);
}

TEST(Axinf, MaskWordsFollowTheKeptElements) {
  const struct {
    int kept;
    int nwords;
  } cases[] = {{0, 0}, {1, 1}, {16, 1}, {17, 2}, {33, 3}};
  for (const auto& c : cases) {
    job::axis a;
    a.tag = "q1";
    for (int i = 0; i < c.kept; ++i)
      a.elements.push_back({element_name(static_cast<std::size_t>(i))});
    a.elements.push_back({"dropped", 1, false});  // no bit in the masks
    job_run jr(one_axis_job(a));
    get_axinf(jr.run);
    EXPECT_EQ(c.kept, jr.run.axinf->counts->nelements);
    EXPECT_EQ(c.nwords, jr.run.axinf->nwords) << c.kept << " kept elements";
  }
}

TEST(Axinf, TypeZeroAndTheNoDataFlagMeanNoOutput) {
  job::axis a = simple_axis("q1", {"a", "b"});
  a.elements[0].type = 0;
  a.elements[1].type = 7;
  a.elements[1].no_data_flag = true;  // type taken as 0 whatever the byte says
  job_run jr(one_axis_job(a));
  jr.debug_on();
  get_axinf(jr.run);
  const axis_info* q1 = jr.run.axinf;
  EXPECT_EQ(1, q1->no_output);
  EXPECT_EQ(0, q1->elements[1]->type);
  print_axinf(jr.run, q1);
  EXPECT_EQ(
      "\nAxe 1 q1\n N of elements 2\n N of levels   2\n No output for this axis"
      "\n Type 0 text a\n Type 0 text b",
      jr.debug());

  a.elements[1].no_data_flag = false;  // one data element: the axis is output
  job_run data(one_axis_job(a));
  get_axinf(data.run);
  EXPECT_EQ(0, data.run.axinf->no_output);
  EXPECT_EQ(7, data.run.axinf->elements[1]->type);
}

TEST(Axinf, TitleListRules) {
  auto lines = [](int n) {
    std::vector<job::title_line> out;
    for (int i = 1; i <= n; ++i) out.push_back({"line " + std::to_string(i)});
    return out;
  };
  const struct {
    const char* what;
    std::optional<job::description> desc;
    std::optional<std::string> axis_text;
    std::vector<job::title_line> titles;
    strings expected;
  } cases[] = {
      {"nothing", {}, {}, {}, {}},
      {"axis text only", {}, "Region", {}, {"Region"}},
      {"description equal to the axis text",
       job::description{{}, "Region"},
       "Region",
       lines(3),
       {"Region", "line 1", "line 2", "line 3"}},
      {"twelve lines, description and axis text",
       job::description{{}, "About"},
       "Region",
       lines(12),
       {"About", "Region", "line 1", "line 2", "line 3", "line 4", "line 5", "line 6", "line 7",
        "line 8"}},
      {"twelve lines alone",
       {},
       {},
       lines(12),
       {"line 1", "line 2", "line 3", "line 4", "line 5", "line 6", "line 7", "line 8", "line 9",
        "line 10"}},
      {"a line equal to the description is left out and does not count",
       job::description{{}, "line 2"},
       {},
       lines(3),
       {"line 2", "line 1", "line 3"}},
      {"axis text equal to a line: both kept", {}, "line 1", lines(1), {"line 1", "line 1"}},
      {"empty description entry",
       job::description{},
       "Region",
       lines(2),
       {"", "Region", "line 1", "line 2"}},
      {"justification in the text and packed",
       {},
       {},
       {{"Left", 'b', 'r', false}, {"Packed", 'f', 'c', true}},
       {"Left", "Packed"}},
  };
  for (const auto& c : cases) {
    job::axis a = simple_axis("q1", {"a"});
    a.desc = c.desc;
    a.axis_text = c.axis_text;
    a.titles = c.titles;
    job_run jr(one_axis_job(a));
    get_axinf(jr.run);
    EXPECT_EQ(c.expected, titles_of(jr.run.axinf)) << c.what;
  }
}

TEST(Axinf, TitleShorterThanItsJustificationShowsNothing) {
  job::axis a = simple_axis("q1", {"a"});
  a.titles = {{"XYZ", 't', 'l', false}, {"after", 't', 'l', false}};
  job_run jr(one_axis_job(a));
  // Stored as "ltXYZ": end the text after its first character.
  std::string bytes = jr.bytes("q1.ax");
  const std::size_t at = bytes.find("ltXYZ");
  ASSERT_NE(std::string::npos, at);
  bytes[at + 1] = '\0';
  jr.put("q1.ax", bytes);
  get_axinf(jr.run);
  EXPECT_THAT(titles_of(jr.run.axinf), ElementsAre("", "after"));
}

TEST(Axinf, NamesComeFromLabelsElseTags) {
  job::job j;
  j.axes = {simple_axis("q1", {"a"}), simple_axis("q2", {"a"}), simple_axis("q3", {"a"}),
            simple_axis("q4", {"a"})};
  j.axes[0].desc = job::description{"Region", "Where do you live?"};
  j.axes[1].desc = job::description{"", "Age"};  // an empty label names nothing
  j.axes[2].desc = job::description{};           // neither label nor text
  job_run jr(j);
  get_axinf(jr.run);
  std::vector<std::string> names;
  for (const axis_info* a : axes_of(jr.run)) names.emplace_back(a->head->name);
  EXPECT_THAT(names, ElementsAre("Region", "q2", "q3", "q4"));
  EXPECT_THAT(titles_of(jr.run.axinf), ElementsAre("Where do you live?"));
  EXPECT_EQ("", jr.err.text());
  EXPECT_EQ(-1, jr.run.axinf_mod.deschandle);
}

TEST(Axinf, WithoutDescriptionsTheTagsNameTheAxes) {
  job::job j = one_axis_job(simple_axis("q1", {"a"}));
  j.axes[0].desc = job::description{"Region", "text"};
  j.descriptions = false;
  job_run jr(j);
  get_axinf(jr.run);
  EXPECT_STREQ("q1", jr.run.axinf->head->name);
  EXPECT_EQ(0, jr.run.axinf->titles->count);
  EXPECT_THAT(jr.err.text(), testing::MatchesRegex("Warning: cannot read .*descrips.inf "
                                                   "\\(errcode -[0-9]+\\)\n"));
}

TEST(Axinf, ExportspBits) {
  const struct {
    std::uint8_t options;
    int maxbits;
    const char* err;  // empty: no exportsp message
  } cases[] = {{0x00, 0, ""},
               {0x04, 0, "q1: 'exportsp' keyword not implemented.\n"},
               {0x0c, 2, ""},
               {0x08, 0, ""}};
  for (const auto& c : cases) {
    job::axis a = simple_axis("q1", {"a", "b"});
    a.options = c.options;
    job_run jr(one_axis_job(a));
    get_axinf(jr.run);
    EXPECT_EQ(c.maxbits, jr.run.axinf->maxbits) << int{c.options};
    // (descrips.inf holds no entry here, so its warning may come first)
    if (*c.err != '\0')
      EXPECT_THAT(jr.err.text(), HasSubstr(c.err)) << int{c.options};
    else
      EXPECT_THAT(jr.err.text(), testing::Not(HasSubstr("exportsp"))) << int{c.options};
  }
}

job::axis grid_axis(const std::string& tag, std::uint8_t ngrid, std::int16_t axisno) {
  job::axis a = simple_axis(tag, {"Yes", "No"});
  a.ngrid = ngrid;
  a.axisno = axisno;
  a.axis_text = "Brand rating";
  return a;
}

job::axis partner_axis(const std::string& tag, std::vector<std::string> items) {
  job::axis p = simple_axis(tag, std::move(items));
  p.partner = true;
  p.incase = false;
  return p;
}

TEST(Axinf, GridAxesExpandIntoOneAxisPerItem) {
  job::job j;
  j.axes = {simple_axis("q1", {"a"}),
            grid_axis("gbrand", 3, 20),
            partner_axis("pbrand", {"Alpha", "Beta", "Gamma"}),
            simple_axis("q9", {"a"}),
            grid_axis("gshop", 2, 30),
            partner_axis("pshop", {"Mall", "Web"})};
  job_run jr(j);
  get_axinf(jr.run);
  const auto axes = axes_of(jr.run);
  std::vector<std::string> names, labels;
  std::vector<int> numbers;
  for (const axis_info* a : axes) {
    names.emplace_back(a->head->name);
    labels.emplace_back(a->grid_label != nullptr ? a->grid_label : "-");
    numbers.push_back(a->head->axisno);
  }
  EXPECT_THAT(names, ElementsAre("q1", "x0", "x1", "x2", "q9", "x3", "x4"));
  EXPECT_THAT(labels, ElementsAre("-", "Alpha", "Beta", "Gamma", "-", "Mall", "Web"));
  EXPECT_THAT(numbers, ElementsAre(1, 20, 10020, 10020, 4, 30, 10030));
  EXPECT_EQ(6, jr.run.naxes);
  // The items share the grid axis's elements and titles; they start afresh.
  const axis_info* x0 = axes[1];
  for (const axis_info* k : {axes[2], axes[3]}) {
    EXPECT_EQ(x0->elements, k->elements);
    EXPECT_EQ(x0->titles, k->titles);
    EXPECT_EQ(x0->counts, k->counts);
    EXPECT_EQ(x0->heap, k->heap);
    EXPECT_EQ(x0->nwords, k->nwords);
    EXPECT_EQ(x0->head->incase, k->head->incase);
    EXPECT_EQ(0, k->head->isgrid);
    EXPECT_EQ(0, k->head->ngrid);
    EXPECT_EQ(0, k->maxbits);
  }
  EXPECT_THAT(texts_of(axes[3]), ElementsAre("Yes", "No"));
}

TEST(Axinf, BadGridsStop) {
  const struct {
    const char* what;
    std::vector<job::axis> axes;
    const char* message;
  } cases[] = {
      {"partner without grid axis",
       {simple_axis("q1", {"a"}), partner_axis("pbrand", {"A"})},
       "ERROR: 901\n"},
      {"no partner", {simple_axis("q1", {"a"}), grid_axis("gbrand", 2, 2)}, "ERROR: 902\n"},
      {"names differ after the first character",
       {grid_axis("gbrand", 2, 1), partner_axis("pbrant", {"A", "B"})},
       "ERROR: 902\n"},
      {"partner name longer",
       {grid_axis("gbrand", 2, 1), partner_axis("pbrand2", {"A", "B"})},
       "ERROR: 902\n"},
      {"fewer items than the grid count",
       {grid_axis("gbrand", 3, 1), partner_axis("pbrand", {"A", "B"})},
       "ERROR: 902\n"},
  };
  for (const auto& c : cases) {
    job::job j;
    j.axes = c.axes;
    job_run jr(j);
    run_stopped stop = testkit::expect_stop([&] { get_axinf(jr.run); });
    EXPECT_EQ(c.message, stop.message) << c.what;
    EXPECT_EQ(1, stop.status);
    EXPECT_EQ(-1, jr.run.axinf_mod.deschandle);
  }
}

// Four descriptions handles exist; a stop that kept one would leave none
// after four stopped runs.
TEST(Axinf, StopsReleaseTheDescriptionsHandle) {
  job::job bad;
  bad.axes = {grid_axis("gbrand", 2, 1), partner_axis("pbrant", {"A", "B"})};
  bad.axes[0].desc = job::description{"Brands", "Rate each brand"};
  for (int i = 0; i < 5; ++i) {
    job_run jr(bad);
    EXPECT_EQ("ERROR: 902\n", testkit::expect_stop([&] { get_axinf(jr.run); }).message);
  }
  job::job good = one_axis_job(simple_axis("q1", {"a"}));
  good.axes[0].desc = job::description{"Region", {}};
  job_run jr(good);
  get_axinf(jr.run);
  EXPECT_STREQ("Region", jr.run.axinf->head->name);
}

// Work files come from TXTEMP, axis files from the current directory.
TEST(Axinf, AxisFilesComeFromTheCurrentDirectory) {
  job::job j = one_axis_job(simple_axis("q1", {"a", "b"}));
  j.axes[0].desc = job::description{"Region", {}};
  job_run jr(j);
  testkit::temp_dir work;
  for (const char* name : {"axes.inf", "descrips.inf"}) {
    testkit::write_file(work / name, jr.bytes(name));
    std::remove(jr.path(name).c_str());
  }
  testkit::scoped_env env({{"TXTEMP", work.path}});
  get_axinf(jr.run);
  EXPECT_STREQ("Region", jr.run.axinf->head->name);
  EXPECT_THAT(texts_of(jr.run.axinf), ElementsAre("a", "b"));
}

TEST(Axinf, MissingAxisFileStops) {
  job_run jr(one_axis_job(simple_axis("q1", {"a"})));
  std::remove(jr.path("q1.ax").c_str());
  run_stopped stop = testkit::expect_stop([&] { get_axinf(jr.run); });
  EXPECT_EQ("failed to open q1.ax\n", stop.message);
  EXPECT_EQ(1, stop.status);
}

// A job with an axis text, titles, a kept and a dropped element, so every
// part of the axis file has bytes.
job::job full_axis_job() {
  job::axis a = simple_axis("q1", {"North", "South", "East"});
  a.elements[1].kept = false;
  a.axis_text = "Region";
  a.titles = {{"Where?"}, {"Area", 't', 'c', false}};
  return one_axis_job(a);
}

TEST(Axinf, TruncatedAxisFileStops) {
  job_run jr(full_axis_job());
  const std::string bytes = jr.bytes("q1.ax");
  for (std::size_t n = 0; n < bytes.size(); ++n) {
    jr.put("q1.ax", bytes.substr(0, n));
    run_state run;
    jr.prepare(run);
    run_stopped stop = testkit::expect_stop([&] { get_axinf(run); });
    EXPECT_THAT(stop.message, HasSubstr("\"q1.ax\"")) << "cut at " << n;
    EXPECT_EQ(1, stop.status);
  }
}

TEST(Axinf, TruncatedListStops) {
  job::job j;
  j.axes = {simple_axis("q1", {"a"}), simple_axis("q2", {"b"})};
  job_run jr(j);
  const std::string bytes = jr.bytes("axes.inf");
  for (std::size_t n = 0; n < bytes.size(); ++n) {
    jr.put("axes.inf", bytes.substr(0, n));
    run_state run;
    jr.prepare(run);
    run_stopped stop = testkit::expect_stop([&] { get_axinf(run); });
    EXPECT_THAT(stop.message, HasSubstr("\"axes.inf\"")) << "cut at " << n;
  }
}

TEST(Axinf, ImpossibleValuesStop) {
  const std::size_t el0 = first_element;                         // North
  const std::size_t el2 = first_element + 2 * element_size;      // East
  std::vector<std::pair<std::size_t, std::uint8_t>> tag_filled;  // all 12 bytes of the tag
  for (std::size_t i = 0; i < 12; ++i) tag_filled.push_back({first_list_rec + 50 + i, 'x'});
  const struct {
    const char* file;
    std::vector<std::pair<std::size_t, std::uint8_t>> bytes;
    const char* what;
  } cases[] = {
      {"axes.inf", {{64, 0xff}}, "negative number of axes"},
      {"axes.inf", {{64, 0x7f}}, "ends before"},  // 2 billion axes: nothing is allocated
      {"axes.inf", tag_filled, "no terminator"},
      {"q1.ax", {{axis_rec + 8, 0x80}}, "negative element count"},
      {"q1.ax", {{axis_rec + 8, 0x7f}}, "ends before"},
      {"q1.ax", {{axis_rec + 20, 0x80}, {axis_rec + 4, 0xff}}, "negative heap size"},
      {"q1.ax", {{axis_rec + 20, 0x80}, {axis_rec + 4, 0x7f}}, "longer than the file"},
      {"q1.ax", {{axis_rec + 14, 0xff}}, "title lines"},
      {"q1.ax", {{axis_rec + 15, 13}}, "title lines"},
      {"q1.ax", {{el0 + 53, 0x01}}, "text of element 1"},
      {"q1.ax", {{el2 + 36, 0xff}}, "text of element 2"},  // negative low part
      {"q1.ax", {{axis_rec + 24, 0x7f}}, "axis text"},
      {"q1.ax", {{axis_rec + 26 + 2, 0x7f}}, "title line 2"},
  };
  for (const auto& c : cases) {
    job_run jr(full_axis_job());
    for (const auto& [at, value] : c.bytes) job::set_byte(jr.path(c.file), at, value);
    run_stopped stop = testkit::expect_stop([&] { get_axinf(jr.run); });
    EXPECT_THAT(stop.message, HasSubstr(std::string("\"") + c.file + "\"")) << c.what;
    EXPECT_THAT(stop.message, HasSubstr(c.what));
  }
}

TEST(Axinf, ChecknamesComparesFromTheSecondCharacter) {
  EXPECT_EQ(0, checknames("gbrand", "pbrand"));
  EXPECT_EQ(0, checknames("g", "p"));
  EXPECT_EQ(0, checknames("", ""));
  EXPECT_LT(checknames("gbrand", "pbrane"), 0);
  EXPECT_GT(checknames("gbrandx", "pbrand"), 0);
  EXPECT_NE(0, checknames("", "ab"));
}

}  // namespace
}  // namespace tx
