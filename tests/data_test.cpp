// The case data writer on axes and variables made in memory, reading case
// files written by the job builder.
#include "fmtlib/write/data.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cfloat>
#include <string>
#include <vector>

#include "fmtlib/model/xtostats.h"
#include "fmtlib/read/axinf.h"
#include "fmtlib/run/convert.h"
#include "fmtlib/write/funcs.h"
#include "testkit.h"
#include "tools/jobbuild.h"

namespace tx {
namespace {

using testing::HasSubstr;

// One in-memory job: axes with their variables (as the variable model leaves
// them), incs and weights; the case files come from the job builder.
struct data_job {
  testkit::temp_dir dir;
  testkit::scoped_env env{{{"TXTEMP", dir.path}, {"TXPERM", dir.path}}};
  run_state run;
  job::job spec;
  axis_info* last = nullptr;
  int mask_words = 0;

  data_job() {
    init_store(run.store);
    run.progmode = &run.drivers[default_driver];
    run.defmissing = " ";
    spec.has_weights_file = true;
  }

  stat_var* make_var(std::int16_t type, axis_info* axis, std::vector<std::int32_t> codes) {
    auto* v = make_record<stat_var>(run.store);
    v->type = type;
    v->axis = axis;
    v->nvalues = static_cast<std::int32_t>(codes.size());
    v->values = make_array<std::int32_t>(run.store, codes.size() + 1);
    for (std::size_t i = 0; i < codes.size(); ++i) v->values[i] = codes[i];
    run.stvars.push_back(v);
    return v;
  }

  // An axis of elements with these type bytes. Single-coded: `codes` are the
  // codes of its data elements. Multi-coded: `codes` holds the no and yes
  // codes of each data element in turn.
  axis_info* add_axis(const std::string& name, std::vector<std::uint8_t> types, bool multi,
                      std::vector<std::int32_t> codes, int width) {
    auto* a = make_record<axis_info>(run.store);
    a->head = make_record<axis_head>(run.store);
    a->head->incase = 1;
    a->head->name = store_text(run.store, name);
    a->counts = make_record<axis_counts>(run.store);
    const auto n = static_cast<std::int16_t>(types.size());
    a->counts->nelements = a->counts->nbits = n;
    a->elements = make_array<element_info*>(run.store, types.size());
    a->nwords = (n + 15) / 16;
    a->maxbits = multi ? 2 : 1;
    a->width = width;
    job::axis ax;
    ax.tag = name;
    ax.options = multi ? 0x0c : 0;
    for (std::size_t i = 0; i < types.size(); ++i) {
      a->elements[i] = make_record<element_info>(run.store);
      a->elements[i]->type = types[i];
      ax.elements.push_back(job::element{"e" + std::to_string(i), types[i]});
    }
    spec.axes.push_back(ax);
    if (multi) {
      a->multi_vars = make_array<stat_var*>(run.store, types.size());
      std::size_t c = 0;
      for (std::size_t i = 0; i < types.size(); ++i)
        if (types[i] != 0) {
          a->multi_vars[i] = make_var(type_yesno, a, {codes[c], codes[c + 1]});
          c += 2;
        }
    } else {
      a->single_var = make_var(type_single, a, codes);
    }
    (last != nullptr ? last->next : run.axinf) = a;
    last = a;
    ++run.naxes;
    return a;
  }

  void add_inc(const std::string& name) {
    spec.incs.push_back(job::inc{name, {}});
    make_var(type_numeric, nullptr, {});
    run.sizedetails.push_back(size_detail{});
  }

  void add_weight(std::int16_t number, std::vector<float> values) {
    spec.weights.push_back(job::weight{number, std::move(values)});
    make_var(type_numeric, nullptr, {});
    run.sizedetails.push_back(size_detail{});
  }

  void add_case(std::vector<std::vector<int>> axes, std::vector<float> incs = {}) {
    spec.cases.push_back(job::case_record{std::move(axes), std::move(incs), {}});
  }

  // Writes the job files and sets up what the readers would have left: the
  // element mask, the case count and the open weight streams.
  void ready() {
    job::write_job(spec, dir.path);
    for (const axis_info* a = run.axinf; a != nullptr; a = a->next) mask_words += a->nwords;
    run.elmask = make_array<std::uint16_t>(run.store, static_cast<std::size_t>(mask_words) + 1);
    int p = 0;
    for (const axis_info* a = run.axinf; a != nullptr; a = a->next) {
      for (int i = 0; i < a->counts->nelements; ++i)
        if (a->elements[i]->type != 0)
          run.elmask[p + i / 16] = static_cast<std::uint16_t>(run.elmask[p + i / 16] | (1U << (i % 16)));
      p += a->nwords;
    }
    run.ncases = static_cast<std::int32_t>(spec.cases.size());
    run.weighting = static_cast<int>(spec.weights.size());
    for (std::size_t w = 0; w < spec.weights.size(); ++w) {
      run.wght[w].number = spec.weights[w].number;
      const std::string path = dir / ("wmvals" + std::to_string(spec.weights[w].number) + ".x");
      run.wght[w].stream.reset(std::fopen(path.c_str(), "rb"));
      std::fseek(run.wght[w].stream.get(), 64, SEEK_SET);
    }
  }

  std::string write(int row, const char* name = "out.dat") {
    create_data(run, name, outputroutines[static_cast<std::size_t>(row)], data_write);
    commit_outputs(run);
    return testkit::read_file(dir / name);
  }

  void measure() {
    for (std::size_t i = 0; i < run.sizedetails.size(); ++i)
      run.sizedetails[i] = size_detail{static_cast<std::int32_t>(i), 0, 0, 0, -FLT_MAX, FLT_MAX};
    create_data(run, "out.dat", outputroutines[row_measure], data_measure);
    settle_widths(run.sizedetails);
  }
};

TEST(Data, SingleCodedAxisWritesTheCodeOfTheFirstDataElement) {
  data_job j;
  j.add_axis("q1", {1, 0, 1}, false, {0, 2}, 1);
  j.add_case({{1, 2}});  // bits 0x0006: element 2 is the second data element
  j.add_case({{1}});     // only the type-0 element: missing
  j.add_case({{0}});
  j.ready();
  EXPECT_EQ("2\n \n0\n", j.write(row_fixed));
  EXPECT_EQ(" 2\n -99.99\n 0\n", [&] {
    j.run.defmissing = "-99.99";
    return j.write(row_spss);
  }());
}

TEST(Data, MultiCodedAxisPerRow) {
  data_job j;
  j.add_axis("q2", {1, 1}, true, {-1, 1, -1, 2}, 1);
  j.add_case({{0}});
  j.add_case({{1}});
  j.add_case({{}});
  j.ready();
  EXPECT_EQ("10\n01\n  \n", j.write(row_fixed));
  EXPECT_EQ(" 1 -1\n -1 2\n -99.99 -99.99\n", [&] {
    j.run.defmissing = "-99.99";
    return j.write(row_spss);
  }());
  j.run.defmissing = " ";
  EXPECT_EQ("1\t0\n0\t2\n \t \n", j.write(row_csv));
}

TEST(Data, FixedColumnsWriteYesNoFieldsAsBitstringDigits) {
  // With use_positions the codes are {-1, 0} and {0, 12}: the literal codes
  // would put "12" into a one-column field.
  data_job j;
  std::vector<std::uint8_t> types(13, 0);
  types[0] = types[12] = 1;
  j.add_axis("q3", types, true, {-1, 0, 0, 12}, 1);
  // A yes/no variable alone in its group is two columns wide.
  j.add_axis("q4", {1}, true, {-1, 1}, 2);
  j.add_case({{0, 12}, {0}});
  j.add_case({{12}, {}});
  j.ready();
  EXPECT_EQ("11 1\n01  \n", j.write(row_fixed));
  EXPECT_EQ(" 0 12 1\n -1 12  \n", j.write(row_spss));
}

TEST(Data, IncsAndWeights) {
  data_job j;
  j.add_inc("i1");
  j.add_weight(7, {-1048576.0f, 2.5f});
  j.add_case({}, {-1048576.0f});
  j.add_case({}, {3.0f});
  j.ready();
  j.measure();
  // The inc's missing value is the missing text; the weight's is a number.
  EXPECT_EQ(size_text, j.run.sizedetails[0].kind);
  EXPECT_EQ(size_real, j.run.sizedetails[1].kind);
  EXPECT_EQ(-1048576.0f, j.run.sizedetails[1].min);
  // Every pass reads the same weight values.
  const std::string fixed = j.write(row_fixed);
  EXPECT_EQ(" -1048576.0000000\n3" + std::string(7, ' ') + "2.5000000\n", fixed);
  EXPECT_EQ(fixed, j.write(row_fixed));
  EXPECT_EQ(" \t-1048576.0000000\n3\t2.5000000\n", j.write(row_csv));
}

TEST(Data, MeasuringGivesWidthsThatHoldEveryValue) {
  data_job j;
  j.add_inc("late");   // missing first, then a wider real value
  j.add_inc("whole");  // outside the 32-bit range
  j.add_inc("none");   // every value missing
  j.add_case({}, {-1048576.0f, 3e9f, -1048576.0f});
  j.add_case({}, {1.5f, -5e9f, -1048576.0f});
  j.add_case({}, {123456.0f, 7.0f, -1048576.0f});
  j.ready();
  j.measure();
  const size_detail* d = j.run.sizedetails.data();
  EXPECT_EQ(7, d[0].decimals);
  EXPECT_EQ(14, d[0].width);  // "123456.0000000"
  EXPECT_EQ(size_whole, d[1].kind);
  EXPECT_EQ(11, d[1].width);  // "-5000000000"
  EXPECT_EQ(1, d[2].width);
  const std::string data = j.write(row_fixed);
  EXPECT_EQ(std::string(14, ' ') + " 3000000000 \n" +  //
                std::string(5, ' ') + "1.5000000-5000000000 \n" +  //
                "123456.0000000" + std::string(10, ' ') + "7 \n",
            data);
}

TEST(Data, SettlingWidths) {
  const struct {
    size_detail d;
    int width;
  } cases[] = {
      // Fields: ordinal, kind, width, decimals, max, min.
      {{0, size_real, 9, 9, 1.5f, 1.5f}, 11},    // -p 9: "%.9f" is longer than "%f"
      {{0, size_text, 1, 0, 9.5f, 9.5f}, 2},     // "%.0f" rounds 9.5 to 10
      {{0, size_whole, 1, 0, 3, -5}, 2},
      {{0, size_none, 0, 0, -FLT_MAX, FLT_MAX}, 1},  // no value at all
      {{0, size_text, 6, 0, -FLT_MAX, FLT_MAX}, 6},
      {{0, size_real, 12, 7, 2, 1}, 12},  // never narrowed
  };
  for (const auto& c : cases) {
    std::vector<size_detail> sizes{c.d};
    settle_widths(sizes);
    EXPECT_EQ(c.width, sizes[0].width) << c.d.kind << " " << c.d.min;
  }
}

TEST(Data, ShortWeightFileStopsNamingIt) {
  data_job j;
  j.add_weight(7, {1.0f});
  j.add_case({});
  j.add_case({});
  j.ready();
  const run_stopped stop = testkit::expect_stop([&] { j.write(row_spss); });
  EXPECT_EQ(1, stop.status);
  EXPECT_THAT(stop.message, HasSubstr("wmvals7.x"));
}

TEST(Data, CaseFileErrors) {
  data_job j;
  j.add_inc("i1");
  j.add_case({}, {1.0f});
  j.add_case({}, {2.0f});
  j.ready();
  j.run.ncases = 3;  // the file changed since it was first read
  EXPECT_EQ("ERROR: 203\n", testkit::expect_stop([&] { j.write(row_spss); }).message);
  j.run.ncases = 2;
  // Records are 2 + 4 bytes after 80 bytes of header and counts.
  job::truncate_file(j.dir / "intermed.x", 80 + 6 + 3);
  EXPECT_EQ("ERROR: 202\n", testkit::expect_stop([&] { j.write(row_spss); }).message);
  // A trailing byte shorter than the leading word is the end of the file.
  job::truncate_file(j.dir / "intermed.x", 80 + 6 + 1);
  EXPECT_EQ("ERROR: 203\n", testkit::expect_stop([&] { j.write(row_spss); }).message);
}

TEST(Data, NumericFieldsMustMatchTheVariables) {
  data_job j;
  j.add_inc("i1");
  j.spec.ni = 8;  // two numbers per record, one numeric variable
  j.add_case({}, {1.0f, 2.0f});
  j.ready();
  const run_stopped stop = testkit::expect_stop([&] { j.measure(); });
  EXPECT_THAT(stop.message, HasSubstr("intermed.x"));
}

TEST(Data, UniqueDocumentNames) {
  std::vector<std::string> earlier;
  const struct {
    const char *name, *unique;
  } cases[] = {{"age", "age"},   {"AGE", "AGE_2"}, {"Age", "Age_3"},
               {"q1", "q1"},     {"Q1_2", "Q1_2"}, {"q1", "q1_3"},
               {"AGE_2", "AGE_2_2"}};
  for (const auto& c : cases) EXPECT_EQ(c.unique, unique_document_name(earlier, c.name)) << c.name;
  EXPECT_EQ(7U, earlier.size());
}

}  // namespace
}  // namespace tx
