// CSV writer: the plain-text description "survey.txt" of the tab-separated "survey.csv".
#pragma once
#include <cstdio>

namespace tx {
struct run_state;
struct stat_node;

void outputcsv(run_state& run, const char* meta_file, const char* data_file);
void csv_header(run_state& run, std::FILE* f);
// Builds the group list, measures the numeric fields and
// writes one block per variable.
void csv_labels(run_state& run, std::FILE* f);
// One variable (k 0) or one yes/no member k of a multi-coded group.
void output_csv_labels(run_state& run, std::FILE* f, const stat_node* node, int k);
}  // namespace tx
