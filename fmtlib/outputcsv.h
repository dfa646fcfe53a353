// CSV writer: the plain-text description "survey.txt" of the tab-separated "survey.csv".
#pragma once

namespace tx {
struct run_state;

struct outputcsv_state {
  int fieldno = 0;
};

void outputcsv(run_state& run, const char* meta_file, const char* data_file);
}  // namespace tx
