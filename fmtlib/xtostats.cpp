#include "xtostats.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "../txlib/bytes.h"
#include "../txlib/descrips.h"
#include "../txlib/filopen.h"
#include "../txlib/transfil.h"
#include "../txlib/version.h"
#include "convert.h"
#include "misc.h"
#include "showmsg.h"

namespace tx {

namespace {

constexpr const char* incs_file = "incs.inf";
constexpr const char* weights_file = "weightin.x";
constexpr const char* case_file = "intermed.x";

std::FILE* debug_stream(run_state& run) { return run.prt != 0 ? run.debug.get() : nullptr; }

const char* elem_text(const axis_info* axis, int i) {
  return PtGlobDeref(axis->heap + axis->elements[i]->textoff);
}

int title_count(const axis_info* axis) { return axis->titles != nullptr ? axis->titles->count : 0; }

// Text of an axis variable: the grid item's text for a grid copy, else the
// title lines. A single-coded variable passes over an empty grid text.
void set_axis_text(run_state& run, const axis_info* axis, stat_var* var, bool multi) {
  if (axis->grid_label != nullptr && (multi || axis->grid_label[0] != '\0'))
    var->text = store_text(run.store, axis->grid_label);
  else if (title_count(axis) > 0)
    copycomments(run, axis, var);
}

// The walk over one axis's elements: bit 0 of the axis's first elmask word
// belongs to element 0, and each word serves 16 elements.
struct element_walk {
  const std::uint16_t* words;
  std::uint16_t word = 0;
  bool data(const axis_info* axis, int p) {
    if (p % 16 == 0) word = *words++;
    const bool set = (word & 1) != 0;
    word = static_cast<std::uint16_t>(word >> 1);
    return axis->elements[p]->type != 0 && set;
  }
};

void single_coded(run_state& run, axis_info* axis, element_walk walk) {
  axis->kind = kind_single;
  stat_var* var = add_stat_var(run, axis->head->name);
  axis->single_var = var;
  var->type = type_single;
  var->parent = axis->head;
  var->axis = axis;
  set_axis_text(run, axis, var, false);
  const int n = axis->counts->nelements;
  var->values = make_array<std::int32_t>(run.store, static_cast<std::size_t>(n));
  var->valtexts = make_array<char*>(run.store, static_cast<std::size_t>(n));
  for (int p = 0; p < n; ++p) {
    if (!walk.data(axis, p)) continue;
    var->valtexts[var->nvalues] = store_text(run.store, elem_text(axis, p));
    var->values[var->nvalues++] = p;
  }
}

void multi_coded(run_state& run, axis_info* axis, element_walk walk) {
  axis->kind = kind_multi;
  const int nbits = axis->counts->nbits;
  const int keep = nbits < 10 ? 6 : nbits < 100 ? 5 : 4;  // characters of the axis name
  const int n = axis->counts->nelements;
  axis->multi_vars = make_array<stat_var*>(run.store, static_cast<std::size_t>(n));
  for (int p = 0; p < n; ++p) {
    if (!walk.data(axis, p)) continue;
    char name[32];
    std::snprintf(name, sizeof name, "@%-.*s%d", keep, axis->head->name, p);
    stat_var* var = add_stat_var(run, name);
    axis->multi_vars[p] = var;
    var->type = type_yesno;
    var->parent = axis->head;
    var->axis = axis;
    var->index = p;
    set_axis_text(run, axis, var, true);
    const char* text = elem_text(axis, p);
    var->values = make_array<std::int32_t>(run.store, 2);
    var->valtexts = make_array<char*>(run.store, 2);
    var->valtexts[0] = store_text(run.store, std::string("no ") + text);
    var->valtexts[1] = store_text(run.store, text);
    var->values[0] = -1;
    var->values[1] = p;
    var->nvalues = 2;
  }
}

}  // namespace

int name_hash(const char* name) {
  int sum = 0;
  for (const char* p = name; *p != '\0'; ++p) sum += static_cast<signed char>(*p) & 127;
  return sum % name_hash_modulus;
}

stat_var* install(run_state& run, const char* name) {
  auto* var = make_record<stat_var>(run.store);
  var->name = store_text(run.store, name);
  stat_var*& head = run.items[static_cast<std::size_t>(name_hash(name))];
  var->next = head;
  head = var;
  return var;
}

stat_var* lookup(run_state& run, const char* name) {
  for (stat_var* v = run.items[static_cast<std::size_t>(name_hash(name))]; v != nullptr;
       v = v->next)
    if (std::strcmp(v->name, name) == 0) return v;
  return nullptr;
}

stat_var* add_stat_var(run_state& run, const char* name) {
  if (run.stvars.size() == run.stvarmax) morestvars(run);
  stat_var* var = install(run, name);
  run.stvars.push_back(var);
  return var;
}

void xtostats(run_state& run) {
  // One running position in elmask over the axes that have words in the cases.
  std::size_t word = 0;
  for (axis_info* axis = run.axinf; axis != nullptr; axis = axis->next) {
    if (axis->head->incase == 0) continue;
    const auto nwords = static_cast<std::size_t>((axis->counts->nelements + 15) / 16);
    if (word + nwords > static_cast<std::size_t>(run.mask_words))
      stop_damaged(case_file, "its axis masks are shorter than the axes need");
    const element_walk walk{run.elmask + word};
    word += nwords;
    if (axis->no_output == 1) continue;
    if (axis->maxbits > 1)
      multi_coded(run, axis, walk);
    else
      single_coded(run, axis, walk);
  }
  get_incinf(run);
  run.weighting = get_weightinf(run);
}

void copycomments(run_state& run, const axis_info* axis, stat_var* var) {
  const int form = run.progmode != nullptr ? run.progmode->form : form_xml;
  const char* separator = form == form_xml ? "\n" : " ";
  const int count = title_count(axis);
  std::string text;
  if (run.lflg != 0 && form != form_spss) {
    for (int i = 0; i < count; ++i) text.append(axis->titles->lines[i]).append(separator);
  } else if (count > 0) {
    text = axis->titles->lines[0];
  }
  var->text = store_text(run.store, text);
}

// TODO: read incs.inf and the descriptions once the file library is in.
void get_incinf(run_state&) {}

// TODO: read weightin.x and open the wmvals%d.x streams once the file library is in.
int get_weightinf(run_state& run) { return run.weighting; }

void print_incinf(run_state& run) {
  std::FILE* d = debug_stream(run);
  if (d == nullptr) return;
  int i = 0;
  for (const inc_info* inc = run.incinf; inc != nullptr; inc = inc->next, ++i)
    std::fprintf(d, "\n Inc %d %s", i, inc->name);
  std::fflush(d);
}

int build_statlist(run_state& run) {
  run.statlist = nullptr;
  stat_node* first = nullptr;  // first node of the current group
  stat_node* last = nullptr;   // its last member
  int numeric = 0;
  for (stat_var* var : run.stvars) {
    if (var->spssvar == nullptr) continue;
    auto* node = make_record<stat_node>(run.store);
    node->var = var;
    if (var->type == type_numeric) ++numeric;
    // Only the yes/no variables of one axis share a group; comparing the axis
    // records (not their names) keeps two axes of the same name apart.
    const stat_var* head = first != nullptr ? first->var : nullptr;
    if (head != nullptr && var->type == type_yesno && head->type == type_yesno &&
        var->axis != nullptr && var->axis == head->axis) {
      last->member = node;
      last = node;
      ++first->count;
      continue;
    }
    node->count = 1;
    if (first == nullptr)
      run.statlist = node;
    else
      first->nextgroup = node;
    first = last = node;
  }
  return numeric;
}

}  // namespace tx
