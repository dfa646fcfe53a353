#include "write/tally.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <exception>
#include <functional>
#include <limits>
#include <optional>
#include <unordered_map>
#include <utility>

#include "base/misc.h"
#include "base/run_state.h"
#include "model/statvars.h"
#include "model/xtostats.h"
#include "read/axinf.h"
#include "read/intermed.h"
#include "write/data.h"
#include "write/funcs.h"
#include "write/plan.h"

namespace tx {

namespace {

constexpr int histogram_bins = 20;
constexpr int fewest_bins = 10;
constexpr double no_number = std::numeric_limits<double>::quiet_NaN();

// What the pass counts, laid out flat: the rows of all variables numbered
// through, and for each axis where its bits stand and which row each bit
// counts in. The variables fall into two parts of about equal work, which
// two threads count; a row or summary belongs to one part, so it is added
// to in case order by one thread, as one thread alone would.
struct counting_plan {
  struct axis_step {
    std::int32_t word;  // its first mask word in a case
    std::int32_t nwords;
    std::uint32_t bits;      // its entries in row_of_bit
    std::uint32_t elements;  // a multiple's words in element_words
    std::uint32_t row;       // a multiple's any row; its none row follows
  };
  struct part {
    std::vector<axis_step> singles, multiples;
    std::vector<std::pair<std::size_t, variable_tally*>> numbers;  // field, variable
    std::vector<double>* weight_total = nullptr;  // part 0 sums the weights of all cases
  };
  std::array<part, 2> parts;
  std::vector<std::uint32_t> row_of_bit;
  std::vector<std::uint16_t> element_words;  // the bits of a multiple's elements
  std::vector<std::int64_t> counts;          // per row
  std::vector<double> weighted;              // per row x weights
  int weights = 0;
};

// The work of counting a variable for a case, in about the time of adding
// the case to one row: a multi-coded axis adds it to about a third of its
// elements' rows.
std::size_t work_of(const stat_node* g) {
  if (g->var->type == type_numeric) return 4;
  if (g->var->type == type_yesno) return 2 + static_cast<std::size_t>(g->count) / 3;
  return 1;
}

// Codes in code order, each with the last label the value list gives it (as
// the system file's value labels keep it), then the no-answer row.
void single_rows(variable_tally& t) {
  const stat_var* v = t.group->var;
  const value_list* vals = v->spssvar->vallist;
  std::vector<std::int32_t> codes(v->values, v->values + std::max(v->nvalues, 0));
  std::sort(codes.begin(), codes.end());
  codes.erase(std::unique(codes.begin(), codes.end()), codes.end());
  for (const std::int32_t code : codes) {
    const char* label = nullptr;
    for (int i = 0; vals != nullptr && i < vals->count; ++i)
      if (vals->codes[i] == code) label = vals->labels[i];
    t.rows.push_back(tally_row{row_kind::code, code, label, nullptr});
  }
  t.rows.push_back(tally_row{row_kind::no_answer, 0, nullptr, nullptr});
}

// Every bit of a data element counts in its code's row, the position after
// the last bit (no data bit set) in the no-answer row; so does a data
// element without a code, which writes no field.
void plan_single(counting_plan& p, counting_plan::part& part, const variable_tally& t,
                 std::uint32_t first_row, int word) {
  const axis_info* a = t.group->var->axis;
  const stat_var* v = a->single_var;
  const auto no_answer = first_row + static_cast<std::uint32_t>(t.rows.size() - 1);
  const auto bits = static_cast<std::uint32_t>(p.row_of_bit.size());
  p.row_of_bit.resize(bits + 16 * static_cast<std::size_t>(a->nwords) + 1, no_answer);
  int rank = 0;
  for (int i = 0; i < a->counts->nelements && i < 16 * a->nwords; ++i) {
    if (a->elements[i]->type == 0) continue;
    if (rank < v->nvalues) {
      const auto at = std::find_if(t.rows.begin(), t.rows.end(),
                                   [&](const tally_row& r) { return r.code == v->values[rank]; });
      p.row_of_bit[bits + static_cast<std::size_t>(i)] =
          first_row + static_cast<std::uint32_t>(at - t.rows.begin());
    }
    ++rank;
  }
  part.singles.push_back({word, a->nwords, bits, 0, 0});
}

// One row per yes/no variable of the group (the element at bit `index`),
// with the element's text and yes code; then the any and none rows.
void multiple_rows(variable_tally& t) {
  for (const stat_node* n = t.group; n != nullptr; n = n->member) {
    const stat_var* v = n->var;
    const value_list* vals = v->spssvar->vallist;
    const char* label = vals != nullptr && vals->count >= 2 ? vals->labels[1] : nullptr;
    t.rows.push_back(tally_row{row_kind::element, v->values[1], label, n});
  }
  t.rows.push_back(tally_row{row_kind::any, 0, nullptr, nullptr});
  t.rows.push_back(tally_row{row_kind::none, 0, nullptr, nullptr});
}

void plan_multiple(counting_plan& p, counting_plan::part& part, const variable_tally& t,
                   std::uint32_t first_row, int word) {
  const axis_info* a = t.group->var->axis;
  const auto bits = static_cast<std::uint32_t>(p.row_of_bit.size());
  const auto words = static_cast<std::uint32_t>(p.element_words.size());
  p.row_of_bit.resize(bits + 16 * static_cast<std::size_t>(a->nwords), 0);
  p.element_words.resize(words + static_cast<std::size_t>(a->nwords), 0);
  for (std::size_t r = 0; r + 2 < t.rows.size(); ++r) {
    const auto bit = static_cast<std::size_t>(t.rows[r].member->var->index);
    if (bit >= 16 * static_cast<std::size_t>(a->nwords)) continue;  // outside the axis's words
    p.row_of_bit[bits + bit] = first_row + static_cast<std::uint32_t>(r);
    p.element_words[words + bit / 16] |= static_cast<std::uint16_t>(1U << (bit % 16));
  }
  const auto any = first_row + static_cast<std::uint32_t>(t.rows.size() - 2);
  part.multiples.push_back({word, a->nwords, bits, words, any});
}

// The histogram's range and bins, from the measured range of the field.
void shape_histogram(numeric_summary& s, const size_detail& d) {
  if (d.min > d.max) return;  // no value
  s.low = stored_number(d.min, d);
  s.high = stored_number(d.max, d);
  if (!std::isfinite(s.low) || !std::isfinite(s.high)) return;
  const bool whole = d.kind == size_whole || d.decimals == 0;
  const double span = s.high - s.low + 1;
  s.unit_bins = whole && span <= histogram_bins;
  s.bins.assign(
      s.unit_bins ? static_cast<std::size_t>(std::max<double>(span, fewest_bins)) : histogram_bins,
      0);
}

void count_number(numeric_summary& s, double x, const double* w, int weights) {
  if (std::isnan(x)) {
    ++s.missing;
    return;
  }
  if (s.valid == 0) s.min = s.max = x;
  s.min = std::min(s.min, x);
  s.max = std::max(s.max, x);
  ++s.valid;
  const double delta = x - s.mean;
  s.mean += delta / static_cast<double>(s.valid);
  s.squares += delta * (x - s.mean);
  for (int k = 0; k < weights; ++k) {
    s.weight_sum[static_cast<std::size_t>(k)] += w[k];
    s.weighted_sum[static_cast<std::size_t>(k)] += w[k] * x;
  }
  if (s.bins.empty()) return;
  // Clamped in double before the cast: a value outside the measured range
  // (a case file changed between the passes) falls into the first or last
  // bin; at or above 0, the cast cuts as floor would.
  const double last = static_cast<double>(s.bins.size() - 1);
  const double scale = s.unit_bins || s.high == s.low ? 1 : histogram_bins / (s.high - s.low);
  ++s.bins[static_cast<std::size_t>(std::clamp((x - s.low) * scale, 0.0, last))];
}

// The variables of run.statlist with their rows, and the plan that counts
// them.
counting_plan make_counting_plan(const run_state& run, codebook_tally& t) {
  counting_plan p;
  p.weights = t.weights;
  std::unordered_map<const axis_info*, int> words;
  for (const counted_axis& x : run.intermed.axes) words[x.axis] = x.word;
  p.parts[0].weight_total = &t.weight_total;
  std::size_t work = 0, done = 0;
  for (const stat_node* g = run.statlist; g != nullptr; g = g->nextgroup) work += work_of(g);
  std::vector<std::size_t> part_of;  // per variable
  std::uint32_t rows = 0;
  for (const stat_node* g = run.statlist; g != nullptr; g = g->nextgroup) {
    variable_tally& v = t.vars.emplace_back();
    v.group = g;
    part_of.push_back(2 * done < work ? 0 : 1);
    counting_plan::part& part = p.parts[part_of.back()];
    done += work_of(g);
    if (g->var->type == type_numeric) {
      v.kind = tally_kind::numeric;
      v.field = g->size->ordinal;
      v.numbers.weight_sum.assign(static_cast<std::size_t>(t.weights), 0);
      v.numbers.weighted_sum.assign(static_cast<std::size_t>(t.weights), 0);
      shape_histogram(v.numbers, *g->size);
      continue;
    }
    // The yes/no variables of one axis form a group: a lone one too.
    const int word = words.at(g->var->axis);
    if (g->var->type == type_yesno) {
      v.kind = tally_kind::multiple;
      multiple_rows(v);
      plan_multiple(p, part, v, rows, word);
    } else {
      v.kind = tally_kind::single;
      single_rows(v);
      plan_single(p, part, v, rows, word);
    }
    rows += static_cast<std::uint32_t>(v.rows.size());
  }
  // Pointers into t.vars only now that it has stopped growing.
  for (std::size_t i = 0; i < t.vars.size(); ++i)
    if (t.vars[i].kind == tally_kind::numeric)
      p.parts[part_of[i]].numbers.emplace_back(static_cast<std::size_t>(t.vars[i].field),
                                               &t.vars[i]);
  p.counts.assign(rows, 0);
  p.weighted.assign(static_cast<std::size_t>(rows) * static_cast<std::size_t>(t.weights), 0);
  return p;
}

// Adds the cases of a batch to the rows and numeric summaries of one part
// of the plan. Weights is the number of weights when the compiler may know
// it (0 to 2), else -1: the adding loops are most of the work.
template <int Weights>
void count_batch(counting_plan& p, const counting_plan::part& part, const run_state& run,
                 const case_batch& b) {
  const int nw = Weights >= 0 ? Weights : p.weights;
  const std::uint16_t* data = run.elmask;
  const std::vector<size_detail>& sizes = run.sizedetails;
  std::int64_t* counts = p.counts.data();
  double* weighted = p.weighted.data();
  const std::uint32_t* row_of_bit = p.row_of_bit.data();
  double w[max_weights] = {};
  auto add = [&](std::uint32_t r) {
    ++counts[r];
    double* sums = weighted + static_cast<std::size_t>(r) * static_cast<std::size_t>(nw);
    for (int k = 0; k < nw; ++k) sums[k] += w[k];
  };
  for (std::size_t k = 0; k < static_cast<std::size_t>(b.cases); ++k) {
    const std::uint16_t* c = b.masks.data() + k * b.nwords;
    const float* values = b.values.data() + k * b.nvalues;
    const float* raw_weights = b.weights.data() + k * b.nweights;
    // The weights' size records follow the incs'.
    for (int i = 0; i < nw; ++i) {
      const double x =
          stored_number(raw_weights[i], sizes[b.nvalues + static_cast<std::size_t>(i)]);
      w[i] = x > 0 ? x : 0;  // NaN included
      if (part.weight_total != nullptr) (*part.weight_total)[static_cast<std::size_t>(i)] += w[i];
    }
    for (const counting_plan::axis_step& s : part.singles)
      add(row_of_bit[s.bits + static_cast<std::uint32_t>(
                                  first_data_bit(c + s.word, data + s.word, s.nwords))]);
    for (const counting_plan::axis_step& s : part.multiples) {
      if (!any_data_bit(c + s.word, data + s.word, s.nwords)) {
        add(s.row + 1);
        continue;
      }
      add(s.row);
      for (int i = 0; i < s.nwords; ++i)
        for (unsigned bits = unsigned{c[s.word + i]} &
                             p.element_words[s.elements + static_cast<std::uint32_t>(i)];
             bits != 0; bits &= bits - 1)
          add(row_of_bit[s.bits + 16 * static_cast<std::uint32_t>(i) +
                         static_cast<std::uint32_t>(std::countr_zero(bits))]);
    }
    for (const auto& [f, v] : part.numbers) {
      const float raw = f < b.nvalues ? values[f] : raw_weights[f - b.nvalues];
      const bool missing = f < b.nvalues && raw == missing_value;
      count_number(v->numbers, missing ? no_number : stored_number(raw, sizes[f]), w, nw);
    }
  }
}

void count_part(counting_plan& p, int part, const run_state& run, const case_batch& b) {
  const counting_plan::part& which = p.parts[static_cast<std::size_t>(part)];
  switch (p.weights) {
    case 0:
      count_batch<0>(p, which, run, b);
      break;
    case 1:
      count_batch<1>(p, which, run, b);
      break;
    case 2:
      count_batch<2>(p, which, run, b);
      break;
    default:
      count_batch<-1>(p, which, run, b);
  }
}

}  // namespace

bool standard_deviation(const numeric_summary& s, double& sd) {
  if (s.valid < 2) return false;
  sd = std::sqrt(s.squares / static_cast<double>(s.valid - 1));
  return true;
}

codebook_tally tally_cases(run_state& run) {
  codebook_tally t;
  t.weights = run.weighting;
  t.weight_total.assign(static_cast<std::size_t>(t.weights), 0);
  counting_plan p = make_counting_plan(run, t);

  const counting_plan::part& second_part = p.parts[1];
  // The thread that counts part 1 of every batch while this one counts part 0.
  std::optional<batch_worker> second;
  if (!second_part.singles.empty() || !second_part.multiples.empty() ||
      !second_part.numbers.empty())
    second.emplace([&](const case_batch& b) { count_part(p, 1, run, b); });
  read_cases(run, [&](const case_batch& b) {
    t.cases += b.cases;
    if (!second) {
      count_part(p, 0, run, b);
      return;
    }
    // The batch must outlive the second thread's work on it, however the
    // first part ends.
    second->start(b);
    std::exception_ptr failed;
    try {
      count_part(p, 0, run, b);
    } catch (...) {
      failed = std::current_exception();
    }
    second->wait();
    if (failed) std::rethrow_exception(failed);
  });

  std::size_t row = 0;
  for (variable_tally& v : t.vars) {
    if (v.kind == tally_kind::numeric) continue;
    const std::size_t n = v.rows.size(), nw = static_cast<std::size_t>(t.weights);
    for (std::size_t r = 0; r < n; ++r) v.rows[r].count = p.counts[row + r];
    v.weighted.assign(p.weighted.begin() + static_cast<std::ptrdiff_t>(row * nw),
                      p.weighted.begin() + static_cast<std::ptrdiff_t>((row + n) * nw));
    row += n;
  }
  return t;
}

}  // namespace tx
