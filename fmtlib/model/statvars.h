// Output variables: unique output names of at most eight characters, labels
// and value codes for every statistical variable that is output.
#pragma once
#include <cstdint>

namespace tx {

struct run_state;
struct stat_var;

struct stat_name {
  char* name;
  stat_name* next;
};

struct value_list {
  std::int32_t count;
  std::int32_t* codes;
  char** labels;
};

struct spss_var {
  stat_name* sname;
  char* label;
  value_list* vallist;
  stat_var* var;
};

void statstospss(run_state& run);
void create_spssvar(run_state& run, stat_var* var);
stat_name* cr_statname(run_state& run, const char* name);
char* check_statname(run_state& run, const char* name);
bool statchar(char c);
void mod_statname(run_state& run, char* name);
stat_name* statlookup(run_state& run, const char* name);
stat_name* statinstall(run_state& run, const char* name);
char* cr_statlabel(run_state& run, const char* text);
char* avoid_dup(run_state& run, char* label, const char* name);
char* avoid_dup_n(char* label, std::int32_t code);
void change_multicodes(run_state& run, stat_var* var);
void change_vals(run_state& run, stat_var* var);
std::int32_t extract_num(const char* text);
void print_statvars(run_state& run);
void print_st(run_state& run, const stat_var* var);

}  // namespace tx
