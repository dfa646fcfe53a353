// Triple-S XML writer: "survey.xml" describing the fixed columns of "survey.asc".
#pragma once
#include <string>
#include <string_view>

namespace tx {
struct run_state;
struct stat_node;

struct outputxml_state {
  int varnum = 0;
};

void outputxml(run_state& run, const char* meta_file, const char* data_file);
std::string xmlfmt(std::string_view text);
std::string rmspaces(std::string_view text);
}  // namespace tx
