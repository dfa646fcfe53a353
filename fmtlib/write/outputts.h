// Triple-S classic writer: "survey.sss" describing the fixed columns of "survey.asc".
#pragma once
#include <cstdio>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace tx {
struct run_state;
struct stat_node;

void outputts(run_state& run, const char* meta_file, const char* data_file);
void tsss_header(run_state& run, std::FILE* f);
// Builds the group list and the field widths, measures the numeric fields
// and writes every variable.
void tsss_labels(run_state& run, std::FILE* f);
// One variable (k 0) or one yes/no member k of a multi-coded group, in the
// columns first to last; `names` holds the Names written so far.
void output_tss_labels(run_state& run, std::FILE* f, const stat_node* node, int k, int first,
                       int last, std::unordered_set<std::string>& names);
void tsss_trailer(std::FILE* f);
// The classic text of a label, title or name: each double quote as {"},
// each control character as a blank (the classic character set is 32 to 255).
std::string tsss_convstr(std::string_view text);
}  // namespace tx
