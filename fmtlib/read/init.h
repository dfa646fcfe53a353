// Start-up check of the intermediate case file: refuses hierarchical data,
// clears the run's name tables and sets the label-length defaults.
#pragma once

namespace tx {
struct run_state;
void init(run_state& run);
}  // namespace tx
