// Run options: the option list of TXSPSSRC (and the option file it may name)
// and the command line.
#pragma once
#include <string>

namespace tx {

struct run_state;

struct run_options {
  int use_positions = 0;       // item c
  int suppress_same_name = 0;  // item e
  int element_values = 0;      // item k
  int remove_name = 0;         // items s (1) and S (2)
  int max_value_label = 0;     // item r, -r; 20 after init
  int max_var_label = 0;       // item q, -q; 40 after init
  int fixed_format = 0;        // item z
  int blank_comment = 0;       // item a
  bool has_missing = false;    // -m given (or filled by the driver)
  std::string missing;
  bool has_numeric_format = false;  // item f
  std::string numeric_format;       // " %" value "f"
  std::string language;             // item p
};

void get_options(run_state& run, int argc, char** argv);
void process_option(run_state& run, const char* item, const char* source, int depth);
int get_options_file(run_state& run, const char* name);
const char* skip_equals(const char* text);
const char* argcrack(run_state& run, int argc, char** argv, const char* program_name);
const char* alldig(const char* text);
void print_usage(run_state& run, const char* program_name);

}  // namespace tx
