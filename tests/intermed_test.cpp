#include "fmtlib/read/intermed.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fmtlib/model/statvars.h"
#include "fmtlib/model/xtostats.h"
#include "fmtlib/read/axinf.h"
#include "fmtlib/read/init.h"
#include "fmtlib/read/title.h"
#include "fmtlib/run/convert.h"
#include "readers_kit.h"

namespace tx {
namespace {

using readers_kit::element_name;
using readers_kit::job_run;
using readers_kit::simple_axis;
using testing::ElementsAre;
using testing::HasSubstr;
using words = std::vector<std::uint16_t>;

constexpr int part_errors[3] = {1201, 2201, 3201};

words mask_of(const std::uint16_t* m, int n) { return words(m, m + n); }

// Axes read as the run driver reads them, then the case file.
void read_axes_and_cases(run_state& run) {
  get_axinf(run);
  read_intermed(run);
}

job::axis typed_axis(const std::string& tag, std::vector<std::uint8_t> types) {
  job::axis a;
  a.tag = tag;
  for (std::size_t i = 0; i < types.size(); ++i)
    a.elements.push_back({element_name(i), types[i]});
  return a;
}

job::axis numbered_axis(const std::string& tag, int n) {
  return typed_axis(tag, std::vector<std::uint8_t>(static_cast<std::size_t>(n), 1));
}

job::case_record raw_case(words w) {
  job::case_record c;
  c.raw_masks = std::move(w);
  return c;
}

TEST(Init, RefusesHierarchicalData) {
  job::job j;
  j.levels = 2;
  job_run jr(j);
  run_stopped stop = testkit::expect_stop([&] { init(jr.run); });
  EXPECT_EQ("\n Conversion for hierarchical databases not implemented\n", stop.message);
  EXPECT_EQ(1, stop.status);
}

TEST(Init, HierarchicalDataEndTheProgramWithStatus1) {
  job::job j;
  j.levels = 2;
  j.axes = {simple_axis("q1", {"a"})};
  job_run jr(j);
  testkit::result r = testkit::run_program("tx2xml", {}, jr.dir.path);
  EXPECT_EQ(1, r.status);
  EXPECT_THAT(r.err, HasSubstr("\n Conversion for hierarchical databases not implemented\n"));
  EXPECT_THAT(r.out, testing::Not(HasSubstr("Produced files")));
}

TEST(Init, ClearsNameTablesAndSetsLabelLengths) {
  job_run jr(job::job{});
  stat_var dummy{};
  stat_name dummy_name{};
  jr.run.items[7] = &dummy;
  jr.run.statitems[499] = &dummy_name;
  jr.run.stvarmax = 9500;
  init(jr.run);
  EXPECT_EQ(0, jr.run.levels);
  EXPECT_EQ(nullptr, jr.run.items[7]);
  EXPECT_EQ(nullptr, jr.run.statitems[499]);
  EXPECT_EQ(0u, jr.run.stvarmax);
  EXPECT_EQ(40, jr.run.options.max_var_label);
  EXPECT_EQ(20, jr.run.options.max_value_label);

  job_run set(job::job{});
  set.run.options.max_value_label = 30;  // -r 30
  init(set.run);
  EXPECT_EQ(30, set.run.options.max_value_label);
  EXPECT_EQ(40, set.run.options.max_var_label);
}

TEST(Intermed, DataBitsDecideMaxbits) {
  // Types 1, 0, 2: the type-0 element's bit never counts.
  const struct {
    std::vector<words> cases;
    int maxbits;
    std::uint16_t andmask, ormask, mask;
  } cases[] = {
      {{{0x0007}}, 2, 0x0007, 0x0007, 0x0005},
      {{{0x0001}, {0x0006}}, 1, 0x0000, 0x0007, 0x0004},
  };
  for (const auto& c : cases) {
    job::job j;
    j.axes = {typed_axis("q1", {1, 0, 2})};
    for (const words& w : c.cases) j.cases.push_back(raw_case(w));
    job_run jr(j);
    read_axes_and_cases(jr.run);
    const axis_info* q1 = jr.run.axinf;
    EXPECT_EQ(static_cast<std::int32_t>(c.cases.size()), jr.run.ncases);
    EXPECT_EQ(1, jr.run.mask_words);
    EXPECT_EQ(0x0005, jr.run.elmask[0]);
    EXPECT_EQ(2, q1->ndata);
    EXPECT_EQ(c.maxbits, q1->maxbits);
    EXPECT_EQ(c.andmask, jr.run.intermed.andmask[0]);
    EXPECT_EQ(c.ormask, jr.run.intermed.ormask[0]);
    EXPECT_EQ(c.mask, jr.run.intermed.mask[0]);
  }
}

TEST(Intermed, InCaseAxesTakeConsecutiveWords) {
  job::job j;
  j.axes = {numbered_axis("q1", 20), numbered_axis("q2", 4), numbered_axis("q3", 5)};
  j.axes[1].incase = false;
  job::case_record c;
  c.axes = {{0, 19}, {4}};  // q1 and q3
  j.cases = {c};
  job_run jr(j);
  read_axes_and_cases(jr.run);
  ASSERT_EQ(3, jr.run.mask_words);
  EXPECT_EQ((words{0xffff, 0x000f, 0x001f}), mask_of(jr.run.elmask, 3));
  EXPECT_EQ((words{0x0001, 0x0008, 0x0010}), mask_of(jr.run.intermed.mask, 3));
  const axis_info* q1 = jr.run.axinf;
  const axis_info* q2 = q1->next;
  const axis_info* q3 = q2->next;
  EXPECT_EQ(2, q1->maxbits);
  EXPECT_EQ(0, q2->maxbits);
  EXPECT_EQ(0, q2->ndata);  // no words, so no data bits
  EXPECT_EQ(1, q3->maxbits);
  EXPECT_EQ(20, q1->ndata);
  EXPECT_EQ(5, q3->ndata);
}

// Each grid item has the grid axis's words of its own; the partner has none.
TEST(Intermed, GridItemsTakeWordsOfTheirOwn) {
  job::job j;
  j.axes = {numbered_axis("gbrand", 2), numbered_axis("pbrand", 3), numbered_axis("q9", 3)};
  j.axes[0].ngrid = 3;
  j.axes[1].partner = true;
  j.axes[1].incase = false;
  job::case_record c;
  c.axes = {{0}, {0, 1}, {}, {2}};  // x0, x1, x2, q9
  j.cases = {c};
  job_run jr(j);
  read_axes_and_cases(jr.run);
  ASSERT_EQ(4, jr.run.mask_words);
  EXPECT_EQ((words{0x0001, 0x0003, 0x0000, 0x0004}), mask_of(jr.run.intermed.mask, 4));
  std::vector<int> maxbits;
  for (const axis_info* a = jr.run.axinf; a != nullptr; a = a->next) maxbits.push_back(a->maxbits);
  EXPECT_THAT(maxbits, ElementsAre(1, 2, 0, 1));
}

TEST(Intermed, NoRecordsKeepStartingValues) {
  job::job j;
  j.axes = {numbered_axis("q1", 3), numbered_axis("q2", 2)};
  j.axes[1].options = 0x0c;  // exported as multi-coded
  job_run jr(j);
  read_axes_and_cases(jr.run);
  EXPECT_EQ(0, jr.run.ncases);
  EXPECT_EQ((words{0xffff, 0xffff}), mask_of(jr.run.intermed.andmask, 2));
  EXPECT_EQ(0, jr.run.axinf->maxbits);
  EXPECT_EQ(2, jr.run.axinf->next->maxbits);
}

// nt 10, na 6, ni 8: 5 leading words, 3 mask words and 2 floats, 24 bytes.
job::job sized_job(std::int32_t nt) {
  job::job j;
  j.axes = {numbered_axis("q1", 20), numbered_axis("q2", 5)};
  j.incs = {{"age"}, {"income"}};
  j.nt = nt;
  for (int i = 0; i < 2; ++i) {
    job::case_record c;
    c.axes = {{i}, {4}};
    c.incs = {1.5f + static_cast<float>(i), job::missing};
    j.cases.push_back(c);
  }
  return j;
}

TEST(Intermed, RecordsAreReadAsWordsAndFloats) {
  job_run jr(sized_job(10));
  EXPECT_EQ(80u + 2 * 24, jr.bytes("intermed.x").size());
  get_axinf(jr.run);
  file_ptr f(std::fopen("intermed.x", "rb"));
  ASSERT_TRUE(f);
  ASSERT_EQ(0, std::fseek(f.get(), 64, SEEK_SET));
  case_reader r;
  r.f = f.get();
  read_case_layout(jr.run, r);
  EXPECT_EQ(10, jr.run.layout.nt);
  EXPECT_EQ(6, jr.run.layout.na);
  EXPECT_EQ(8, jr.run.layout.ni);
  EXPECT_EQ(5u, r.layout.nwords_t);
  EXPECT_EQ(3u, r.layout.nwords_a);
  EXPECT_EQ(2u, r.layout.nfloats);
  ASSERT_TRUE(read_case(r, part_errors));
  EXPECT_EQ((words{0x0001, 0x0000, 0x0010}), r.masks);
  EXPECT_THAT(r.values, ElementsAre(1.5f, missing_value));
  ASSERT_TRUE(read_case(r, part_errors));
  EXPECT_EQ((words{0x0002, 0x0000, 0x0010}), r.masks);
  EXPECT_THAT(r.values, ElementsAre(2.5f, missing_value));
  EXPECT_FALSE(read_case(r, part_errors));
}

TEST(Intermed, ShortRecordsStopWithThePartsCode) {
  const struct {
    std::int32_t nt;
    std::size_t tail;     // bytes of a last, partial record
    const char* message;  // empty: the tail is the end of the file
  } cases[] = {
      {10, 3, "ERROR: 1201\n"},       // one and a half of five leading words
      {2, 3, "ERROR: 2201\n"},        // the leading word, half a mask word
      {10, 10 + 5, "ERROR: 2201\n"},  // masks 5 of 6 bytes
      {10, 10 + 6 + 7, "ERROR: 3201\n"},
      {10, 1, ""},  // shorter than one leading word
      {2, 1, ""},
      {0, 3, "ERROR: 2201\n"},  // no leading part: any tail is a partial record
      {0, 6 + 1, "ERROR: 3201\n"},
      {0, 0, ""},  // no leading part, ends at a record boundary
  };
  for (const auto& c : cases) {
    job_run jr(sized_job(c.nt));
    job::append_bytes(jr.path("intermed.x"), std::string(c.tail, '\x01'));
    if (*c.message == '\0') {
      read_axes_and_cases(jr.run);
      EXPECT_EQ(2, jr.run.ncases) << "nt " << c.nt << " tail " << c.tail;
    } else {
      run_stopped stop = testkit::expect_stop([&] { read_axes_and_cases(jr.run); });
      EXPECT_EQ(c.message, stop.message) << "nt " << c.nt << " tail " << c.tail;
    }
  }
}

TEST(Intermed, ImpossibleLayoutsStopBeforeAnyCase) {
  const struct {
    const char* what;
    bool incase;  // q1, of 17 elements (2 words), has words in the records
    std::int32_t nt;
    std::optional<std::int32_t> na, ni;
    std::size_t data;  // bytes after the sizes
    const char* message;
  } cases[] = {
      {"axes need 2 words, records hold 1", true, 2, 2, 0, 0, "mask words but the axes need 2"},
      {"negative size", true, 2, 4, -4, 0, "negative record size"},
      {"masks longer than the file", true, 2, {}, 0, 3, "longer than the file"},
      {"all sizes 0 with data", false, 0, 0, 0, 5, "size 0 but case data follow"},
  };
  for (const auto& c : cases) {
    job::job j;
    j.axes = {numbered_axis("q1", 17)};
    j.axes[0].incase = c.incase;
    j.nt = c.nt;
    j.na = c.na;
    j.ni = c.ni;
    job_run jr(j);
    job::append_bytes(jr.path("intermed.x"), std::string(c.data, '\x01'));
    if (!c.na) job::set_be32(jr.path("intermed.x"), 72, 0x7ffffffe);  // na: a billion words
    run_stopped stop = testkit::expect_stop([&] { read_axes_and_cases(jr.run); });
    EXPECT_THAT(stop.message, HasSubstr("\"intermed.x\"")) << c.what;
    EXPECT_THAT(stop.message, HasSubstr(c.message)) << c.what;
    EXPECT_EQ(0, jr.run.ncases) << c.what;
  }
}

TEST(Intermed, AllSizesZeroWithoutDataHasNoCases) {
  job::job j;
  j.axes = {numbered_axis("q1", 3)};
  j.axes[0].incase = false;
  j.nt = 0;
  j.na = 0;
  j.ni = 0;
  job_run jr(j);
  read_axes_and_cases(jr.run);
  EXPECT_EQ(0, jr.run.ncases);
  EXPECT_EQ(0, jr.run.mask_words);
}

TEST(Intermed, PrBitAndPrintBits) {
  job::job j;
  j.axes = {numbered_axis("q1", 16), numbered_axis("q2", 2)};
  j.axes[1].incase = false;
  job_run jr(j);
  jr.debug_on();
  get_axinf(jr.run);
  pr_bit(jr.run, 0x0001);
  pr_bit(jr.run, 0x8421);
  EXPECT_EQ("  0000000000000001  1000010000100001", jr.debug());

  job_run bits(j);
  bits.debug_on();
  get_axinf(bits.run);
  const std::uint16_t word = 0x0001;
  print_bits(bits.run, &word, 1);
  EXPECT_EQ(
      "\n     0 :  0000000000000001"
      "\n    Axe q1         :1000000000000000"
      "\n     ->  1(e0)"
      "\n       Maximum number of bits set 0"
      "\n    Axe q2         :",
      bits.debug());
}

// The real program on damaged job files: one message naming the file or
// the numbered error, exit status 1, and no files reported as produced.
TEST(Readers, DamagedJobFilesEndTheProgramWithStatus1) {
  const struct {
    const char* file;
    std::size_t cut;  // 0: append a partial record instead
    const char* message;
  } cases[] = {
      {"seg1.xv", 200, "ERROR: file \"seg1.xv\" is damaged"},
      {"axes.inf", 100, "ERROR: file \"axes.inf\" is damaged"},
      {"q1.ax", 400, "ERROR: file \"q1.ax\" is damaged"},
      {"intermed.x", 0, "ERROR: 2201\n"},
  };
  for (const auto& c : cases) {
    job::job j;
    j.title = {"Survey"};
    j.axes = {numbered_axis("q1", 3), numbered_axis("q2", 2)};
    j.cases = {raw_case({1, 2})};
    job_run jr(j);
    if (c.cut != 0)
      job::truncate_file(jr.path(c.file), c.cut);
    else
      job::append_bytes(jr.path(c.file), "\x01\x02\x03");
    testkit::result r = testkit::run_program("tx2xml", {}, jr.dir.path);
    EXPECT_EQ(1, r.status) << c.file;
    EXPECT_THAT(r.err, HasSubstr(c.message)) << c.file;
    EXPECT_THAT(r.out, testing::Not(HasSubstr("Produced files"))) << c.file;
  }
}

#ifdef TXJOB_BINARY
// The demo job as txjob writes it is read from end to end without a word.
TEST(Readers, DemoJobIsReadCompletely) {
  job_run jr(job::job{});
  ASSERT_EQ(
      0, testkit::run_program(TXJOB_BINARY, {TX_SOURCE_DIR "/examples/demo/job.json", jr.dir.path},
                              jr.dir.path)
             .status);
  init(jr.run);
  get_title(jr.run);
  get_axinf(jr.run);
  const int words = read_intermed(jr.run);
  EXPECT_EQ("", jr.err.text());
  EXPECT_EQ(2, jr.run.title->count);
  EXPECT_EQ(13, jr.run.naxes);
  EXPECT_EQ(200, jr.run.ncases);
  // The grid axis gsat (3 items) gives way to x0, x1, x2; its partner leaves.
  std::vector<std::string> names;
  int in_case_words = 0;
  for (const axis_info* a = jr.run.axinf; a != nullptr; a = a->next) {
    names.emplace_back(a->head->name);
    if (a->head->incase != 0) in_case_words += a->nwords;
  }
  ASSERT_EQ(14u, names.size());
  EXPECT_THAT(std::vector<std::string>(names.begin() + 4, names.begin() + 7),
              ElementsAre("x0", "x1", "x2"));
  EXPECT_EQ(in_case_words, words);
}
#endif

// A small job read as the run driver reads it, with a debug level set: the
// title, every axis, the sizes, the four masks and the number of cases.
TEST(Intermed, DebugListingsOfASmallJob) {
  job::job j;
  j.title = {"Small job", "wave 1"};
  j.axes = {typed_axis("q1", {1, 1, 0}), numbered_axis("q2", 18), numbered_axis("q3", 2)};
  j.axes[0].elements[2].text = "Don't know";
  j.axes[0].desc = job::description{"Region", "Where do you live?"};
  j.axes[1].elements[1].kept = false;
  j.axes[2].incase = false;
  j.axes[2].options = 0x0c;
  for (const auto& [q1, q2] : std::vector<std::pair<std::vector<int>, std::vector<int>>>{
           {{0}, {0, 16}}, {{1, 2}, {1}}, {{0, 1}, {}}}) {
    job::case_record c;
    c.axes = {q1, q2};
    j.cases.push_back(c);
  }
  job_run jr(j);
  jr.debug_on();
  init(jr.run);
  get_title(jr.run);
  get_axinf(jr.run);
  for (const axis_info* a = jr.run.axinf; a != nullptr; a = a->next) print_axinf(jr.run, a);
  EXPECT_EQ(3, read_intermed(jr.run));
  EXPECT_EQ(3, jr.run.ncases);
  EXPECT_TRUE(testkit::matches_golden("readers/debugfile", jr.debug()));
}

}  // namespace
}  // namespace tx
