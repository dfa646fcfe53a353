#include "read/init.h"

#include <array>
#include <cstdint>

#include "base/misc.h"
#include "base/run_state.h"
#include "txlib/bytes.h"
#include "txlib/version.h"

namespace tx {

void init(run_state& run) {
  // Only the first count after the header matters here: the hierarchy
  // levels, 0 for the flat data this converter handles.
  {
    file_ptr f(efopen(run, "intermed.x", "r"));
    check_job_header(f.get(), "intermed.x", 12);
    std::array<std::uint8_t, 4> levels;
    read_record(f.get(), levels, "intermed.x", "the number of levels");
    run.levels = be_i32(levels, 0);
  }
  run.stvarmax = 0;
  if (run.levels != 0) stop_run(1, "\n Conversion for hierarchical databases not implemented\n");
  run.items.fill(nullptr);
  run.statitems.fill(nullptr);
  if (run.options.max_value_label == 0) run.options.max_value_label = 20;
  if (run.options.max_var_label == 0) run.options.max_var_label = 40;
}

}  // namespace tx
