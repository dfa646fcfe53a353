// The codebook's numbers: one pass over the cases that counts every code of
// every output variable, unweighted and under each weight, and summarises
// every inc and weight, with the numbers the system file stores for them.
#pragma once
#include <cstdint>
#include <vector>

namespace tx {

struct run_state;
struct stat_node;

enum class tally_kind { single, multiple, numeric };

// A row of a variable's table. Single-coded: one per code in code order,
// then the cases without an answer. Multiple: one per element (the cases
// that hold it), then the cases with at least one element and those with
// none.
enum class row_kind { code, no_answer, element, any, none };
struct tally_row {
  row_kind kind;
  std::int32_t code;        // a code's value; an element's yes code
  const char* label;        // its value label (job text), or null
  const stat_node* member;  // an element's yes/no variable
  std::int64_t count = 0;
};

// An inc or weight: its valid values as the system file stores them.
struct numeric_summary {
  std::int64_t valid = 0;
  std::int64_t missing = 0;  // the missing text, or a value no reader takes as a number
  double min = 0, max = 0;   // of the valid values
  double mean = 0;           // running mean and sum of squared deviations (Welford)
  double squares = 0;
  std::vector<double> weight_sum;    // per weight: the valid weights of the valid cases
  std::vector<double> weighted_sum;  // per weight: weight times value
  // The histogram over [low, high], the measured range as stored: unit
  // bins from low for a whole field of at most 20 values, else 20 equal
  // bins. No bins when there is no value or the range is not finite.
  double low = 0, high = 0;
  bool unit_bins = false;
  std::vector<std::int64_t> bins;
};
// The sample standard deviation (n - 1); false when there are fewer than
// two values.
bool standard_deviation(const numeric_summary& s, double& sd);

struct variable_tally {
  tally_kind kind;
  const stat_node* group;  // its first node in run.statlist
  std::vector<tally_row> rows;
  std::vector<double> weighted;  // rows.size() x weights: the weights of a row's cases
  numeric_summary numbers;       // numeric only
  int field = 0;                 // numeric: its field in a case, incs then weights
};

struct codebook_tally {
  std::int64_t cases = 0;
  int weights = 0;
  std::vector<double> weight_total;  // per weight: the valid weights of all cases
  std::vector<variable_tally> vars;  // one per group of run.statlist, in list order
};

// Counts the groups of run.statlist, measured already (measure_fields), in
// one pass over the cases. A weight counts as the system file stores it,
// and as PSPP's WEIGHT BY takes it: a weight that is zero, negative or no
// number counts as 0.
codebook_tally tally_cases(run_state& run);

}  // namespace tx
