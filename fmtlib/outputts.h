// Triple-S classic writer: "survey.sss" describing the fixed columns of "survey.asc".
#pragma once
#include <string>
#include <string_view>

namespace tx {
struct run_state;

struct outputts_state {
  int varnum = 0;
};

void outputts(run_state& run, const char* meta_file, const char* data_file);
std::string tsss_convstr(std::string_view text);
}  // namespace tx
