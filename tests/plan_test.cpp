// The data writer copies ready texts, taken once per pass from the row's
// field writers, joined per byte of a mask word and split at SPSS line
// ends. Random cases written both ways, through the plan and field by
// field through the row's own writers, must give the same bytes in every
// row that writes a record.
#include "write/plan.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "base/nstore.h"
#include "base/run_state.h"
#include "driver/convert.h"
#include "model/statvars.h"
#include "model/xtostats.h"
#include "read/axinf.h"
#include "read/init.h"
#include "read/intermed.h"
#include "read/title.h"
#include "testkit.h"
#include "tools/jobbuild.h"
#include "write/data.h"
#include "write/funcs.h"

namespace tx {
namespace {

job::axis axis_of(const std::string& tag, int elements, int no_data_at = -1) {
  job::axis a;
  a.tag = tag;
  a.titles = {{"Title of " + tag}};
  for (int e = 0; e < elements; ++e) {
    job::element el;
    el.text = tag + " element " + std::to_string(e);
    if (e == no_data_at) el.type = 0;
    a.elements.push_back(el);
  }
  return a;
}

// Single-coded axes of one and two mask words and multi-coded axes whose
// fields span the bytes and words of their masks, with no-data elements;
// the first cases make the multi-coded axes multi-coded.
job::job structure() {
  job::job j;
  j.title = {"Plan"};
  // m0 comes first, so that its fields can start a line; under the k item
  // its codes, read from its texts, are nine digits long.
  job::axis m0 = axis_of("m0", 12);
  for (std::size_t e = 0; e < m0.elements.size(); ++e)
    m0.elements[e].text = std::to_string(100000000 + e) + " element";
  j.axes = {m0,
            axis_of("s1", 12, 3),
            axis_of("m1", 12),
            axis_of("s2", 20),
            axis_of("m2", 20, 9),
            axis_of("m3", 3),
            axis_of("s3", 2),
            axis_of("m4", 33, 16)};
  j.incs = {{"age"}, {"spend"}};
  j.weights = {{1, {1.5f, 0.25f}}};
  job::case_record c;
  c.axes = {{0, 1}, {0}, {0, 1}, {19}, {0, 19}, {0, 2}, {1}, {0, 32}};
  c.incs = {34, 12.25f};
  j.cases.push_back(c);
  c.axes = {{}, {}, {}, {}, {}, {}, {}, {}};
  c.incs = {job::missing, 0.125f};
  j.cases.push_back(c);
  return j;
}

// The job read and its variables made as a conversion into `form` makes
// them, up to the measured sizes.
struct loaded_job {
  run_state run;
  loaded_job(const std::string& dir, const char* form, const run_options& options) {
    testkit::in_directory here(dir);
    run.err = testkit::null_stream();
    run.progmode = &run.drivers[0];
    for (driver_row& row : run.drivers)
      if (row.suffix != nullptr && std::string(row.suffix) == form) run.progmode = &row;
    run.options = options;
    run.defmissing = run.progmode->default_missing;
    init_store(run.store);
    init(run);
    get_title(run);
    get_axinf(run);
    read_intermed(run);
    xtostats(run);
    statstospss(run);
    build_statlist(run);
    measure_fields(run, run.progmode->routines == row_fixed);
  }
  ~loaded_job() { free_store(run.store); }
};

// The axis fields of one case, field by field through the row's writers.
void axis_fields_one_by_one(const run_state& run, const output_routines& row,
                            const std::string& missing, const std::uint16_t* c,
                            field_context& ctx) {
  int p = 0;
  for (const axis_info* a = run.axinf; a != nullptr; a = a->next) {
    if (a->head->incase == 0) continue;
    const int index = -a->width;
    auto data_bit = [&](int e) { return (run.elmask[p + e / 16] >> (e % 16) & 1U) != 0; };
    auto set = [&](int e) { return (c[p + e / 16] >> (e % 16) & 1U) != 0; };
    if (a->no_output != 0) {
    } else if (a->maxbits >= 2) {
      bool any = false;
      for (int e = 0; e < 16 * a->nwords; ++e) any = any || (data_bit(e) && set(e));
      for (int e = 0; e < a->counts->nelements; ++e) {
        const stat_var* v = a->multi_vars[e];
        if (a->elements[e]->type == 0 || v == nullptr) continue;
        if (!any)
          row.put_string(ctx, nullptr, missing, index);
        else if (row.id == row_fixed)
          row.put_int(ctx, nullptr, set(e) ? 1 : 0, index);
        else if (set(e))
          row.put_int(ctx, nullptr, v->values[1], index);
        else if (v->values[0] == -1 && row.id != row_spss && row.id != row_sav)
          row.put_int(ctx, nullptr, 0, -1);
        else
          row.put_int(ctx, nullptr, v->values[0], index);
      }
    } else {
      int rank = 0, found = -1;
      for (int e = 0; e < a->counts->nelements && found < 0; ++e) {
        if (a->elements[e]->type == 0) continue;
        if (data_bit(e) && set(e)) found = rank;
        ++rank;
      }
      if (found < 0)
        row.put_string(ctx, nullptr, missing, index);
      else if (found < a->single_var->nvalues)
        row.put_int(ctx, nullptr, a->single_var->values[found], index);
    }
    p += a->nwords;
  }
}

// Mask words with each axis empty, holding one element, several, noise or
// every element.
std::vector<std::uint16_t> random_masks(const run_state& run, std::mt19937& random) {
  std::vector<std::uint16_t> words(static_cast<std::size_t>(run.mask_words));
  int p = 0;
  for (const axis_info* a = run.axinf; a != nullptr; a = a->next) {
    if (a->head->incase == 0) continue;
    const int kind = static_cast<int>(random() % 5);
    for (int w = 0; w < a->nwords; ++w) {
      std::uint16_t& word = words[static_cast<std::size_t>(p + w)];
      if (kind == 1 && w == 0) word = static_cast<std::uint16_t>(1U << (random() % 16));
      if (kind >= 2) word = static_cast<std::uint16_t>(random());
      if (kind == 2) word &= static_cast<std::uint16_t>(random());  // fewer bits
      if (kind == 4) word = 0xFFFF;
    }
    p += a->nwords;
  }
  return words;
}

// Writes random cases of the job in dir through the plan and field by field
// and expects the same bytes; returns whether the plan copied one-byte fields.
bool expect_same_bytes(const std::string& dir, const char* form, const run_options& options) {
  std::mt19937 random(20261207);
  {
    loaded_job job(dir, form, options);
    const run_state& run = job.run;
    const output_routines& row = outputroutines[static_cast<std::size_t>(run.progmode->routines)];
    field_context planned = make_field_context(run), one_by_one = make_field_context(run);
    const data_plan plan = make_plan(run, row, planned);
    const std::string& missing = plan.missing;
    for (int k = 0; k < 400; ++k) {
      const std::vector<std::uint16_t> c = random_masks(run, random);
      const float values[3] = {static_cast<float>(random() % 1000) / 8,
                               k % 3 == 0 ? missing_value : 0.5f, 1.25f};
      for (field_context* ctx : {&planned, &one_by_one}) {
        if (ctx == &planned)
          put_axis_texts(plan, c.data(), *ctx);
        else
          axis_fields_one_by_one(run, row, missing, c.data(), *ctx);
        for (int i = 0; i < 3; ++i) {
          if (values[i] == missing_value)
            row.put_string(*ctx, nullptr, missing, i);
          else
            row.put_float(*ctx, nullptr, values[i], i);
        }
        if (row.end_record != nullptr) row.end_record(*ctx, nullptr);
      }
    }
    const std::string got(planned.sink.bytes.data(), planned.sink.used);
    const std::string want(one_by_one.sink.bytes.data(), one_by_one.sink.used);
    EXPECT_TRUE(testkit::same_bytes(want, got)) << form << " with missing text " << missing;
    return plan.one_byte_fields;
  }
}

TEST(Plan, ReadyTextsAreTheFieldWritersBytes) {
  testkit::temp_dir dir;
  job::write_job(structure(), dir.path);
  run_options positions;
  positions.use_positions = 1;  // yes codes up to 32: wider than a column
  run_options long_missing;
  long_missing.has_missing = true;
  long_missing.missing = std::string(90, 'x');  // a field longer than an SPSS line
  run_options text_codes;
  text_codes.element_values = 1;  // codes of nine digits: a byte's fields pass an SPSS line
  run_options ten_missing;
  ten_missing.has_missing = true;
  ten_missing.missing = "0123456789";  // three SPSS fields of 11 make a text of 33 bytes
  run_options tab_missing;
  tab_missing.has_missing = true;
  tab_missing.missing = "n\ta";
  // The system file's codes of up to 151 are one byte each, which the plan
  // copies without sizes; codes of nine digits are raw values of nine.
  const struct {
    const char* form;
    run_options options;
    bool one_byte_fields = false;
  } runs[] = {
      {"xml", {}},          {"spss", {}},           {"csv", {}},          {"sav", {}, true},
      {"xml", positions},   {"spss", positions},    {"csv", positions},   {"sav", positions, true},
      {"xml", tab_missing}, {"spss", long_missing}, {"csv", tab_missing}, {"spss", ten_missing},
      {"spss", text_codes}, {"csv", text_codes},    {"sav", text_codes}};
  for (const auto& r : runs)
    EXPECT_EQ(r.one_byte_fields, expect_same_bytes(dir.path, r.form, r.options)) << r.form;
}

// A byte of fields whose yes codes have one digit and two (codes 9 to 12,
// read from the element texts), where a line ends inside it: the axis
// before has a long missing text. The byte's fields go one by one.
TEST(Plan, LineEndsInsideAByteOfFieldsOfTwoSizes) {
  job::job lead = structure();
  for (std::size_t e = 0; e < lead.axes[0].elements.size(); ++e)
    lead.axes[0].elements[e].text = std::to_string(e + 1) + " element";
  lead.axes.insert(lead.axes.begin(), axis_of("s0", 2));
  for (job::case_record& c : lead.cases) c.axes.emplace(c.axes.begin());
  testkit::temp_dir dir;
  job::write_job(lead, dir.path);
  run_options text_codes;
  text_codes.element_values = 1;
  text_codes.has_missing = true;
  for (std::size_t size = 40; size < 78; ++size) {
    text_codes.missing = std::string(size, 'm');
    expect_same_bytes(dir.path, "spss", text_codes);
  }
}

}  // namespace
}  // namespace tx
