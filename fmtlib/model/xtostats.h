// Statistical variables: one single-coded variable or one yes/no variable per
// data element for every axis, then one numeric variable per inc and per
// weight; the name table `items`; the variable group list of the writers.
#pragma once
#include <cstdint>
#include <cstdio>

#include "txlib/filopen.h"

namespace tx {

struct run_state;
struct axis_info;
struct spss_var;
struct size_detail;

enum stat_type { type_single = 1, type_yesno = 2, type_numeric = 3 };

struct stat_var {
  std::int16_t type;   // stat_type
  char* name;          // internal name, key of `items`
  axis_info* axis;     // none for incs and weights
  const void* parent;  // axis_head (types 1, 2), inc_info (inc), weight_slot (weight)
  std::int32_t index;
  char* text;  // description, or none
  spss_var* spssvar;
  std::int32_t nvalues;
  std::int32_t* values;
  char** valtexts;
  std::int32_t width;  // set by the Triple-S writers
  stat_var* next;      // chain of `items`
};

struct inc_info {
  char* name;
  inc_info* next;
};

// One node of the variable group list.
struct stat_node {
  stat_var* var;
  int count;             // on a group's first node: variables in the group
  int width;             // Triple-S: width of a non-numeric variable alone in its group
  size_detail* size;     // numeric variables: their size record
  stat_node* member;     // next variable of the same group
  stat_node* nextgroup;  // first node of the next group
};

inline constexpr int name_hash_modulus = 499;  // slot 499 is never used
// Sum of the name's bytes, each as a signed character masked with 127, modulo 499.
int name_hash(const char* name);

stat_var* install(run_state& run, const char* name);
stat_var* lookup(run_state& run, const char* name);
// Grows stvars when full, installs the name and appends the record.
stat_var* add_stat_var(run_state& run, const char* name);

void xtostats(run_state& run);
void copycomments(run_state& run, const axis_info* axis, stat_var* var);
void get_incinf(run_state& run);
int get_weightinf(run_state& run);
void print_incinf(run_state& run);

// Builds run.statlist from stvars: variables without output variable left
// out; yes/no variables of one axis form one group. Returns the number of
// numeric variables listed.
int build_statlist(run_state& run);

}  // namespace tx
