#include "model/statvars.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "base/run_state.h"
#include "model/xtostats.h"
#include "read/axinf.h"

namespace tx {

namespace {

constexpr std::size_t max_name = 8;  // characters of an output name
// Room of a name buffer: "@", eight characters, letters the counter may add.
constexpr std::size_t name_room = 16;
constexpr std::int32_t no_number = -10000;  // extract_num: the text has no leading number
// Value codes read from element texts have at most nine digits, so a code and
// the codes given out above the highest one stay inside 32 bits.
constexpr std::int32_t max_text_code = 999999999;

bool is_digit(char c) { return c >= '0' && c <= '9'; }
char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool equal_ignoring_case(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b)
    if (upper(*a) != upper(*b)) return false;
  return *a == *b;
}

bool spss_form(const run_state& run) {
  return run.progmode != nullptr && run.progmode->form == form_spss;
}

// Words SPSS reserves; none of them can name a variable.
bool spss_reserved(const char* name) {
  static constexpr const char* words[] = {"ALL", "AND", "BY",  "EQ", "GE", "GT",  "LE",
                                          "LT",  "NE",  "NOT", "OR", "TO", "WITH"};
  for (const char* w : words)
    if (equal_ignoring_case(name, w)) return true;
  return false;
}

// Slot of an output name. For SPSS, whose names ignore case, letters are
// hashed as upper case so that age and AGE meet in one chain.
int stat_slot(const run_state& run, const char* name) {
  if (!spss_form(run)) return name_hash(name);
  char folded[name_room];
  std::size_t n = 0;
  for (; name[n] != '\0' && n + 1 < sizeof folded; ++n) folded[n] = upper(name[n]);
  folded[n] = '\0';
  return name_hash(folded);
}

bool same_name(const run_state& run, const char* a, const char* b) {
  return spss_form(run) ? equal_ignoring_case(a, b) : std::strcmp(a, b) == 0;
}

// SPSS only: a name may not begin with a digit or "_", nor be a reserved
// word; such a name gets "@" in front and is cut to eight characters again.
void fit_spss_name(char* name) {
  if (!is_digit(name[0]) && name[0] != '_' && !spss_reserved(name)) return;
  const std::size_t n = std::strlen(name);
  std::memmove(name + 1, name, n + 1);
  name[0] = '@';
  name[max_name] = '\0';
}

bool name_taken(run_state& run, const char* name) {
  return statlookup(run, name) != nullptr || (spss_form(run) && spss_reserved(name));
}

// Number of decimal digits at text (none: -1), as a 64-bit value held below
// 10^10 so that no long digit string overflows.
std::int64_t leading_number(const char*& text) {
  if (!is_digit(*text)) return -1;
  std::int64_t value = 0;
  for (; is_digit(*text); ++text)
    if (value < 10000000000) value = value * 10 + (*text - '0');
  return value;
}

std::FILE* debug_stream(run_state& run) { return run.prt != 0 ? run.debug.get() : nullptr; }

}  // namespace

void statstospss(run_state& run) {
  for (stat_var* var : run.stvars) create_spssvar(run, var);
}

void create_spssvar(run_state& run, stat_var* var) {
  if (var->axis != nullptr && var->axis->no_output != 0) return;
  auto* sv = make_record<spss_var>(run.store);
  var->spssvar = sv;
  sv->var = var;
  sv->sname = cr_statname(run, var->name);
  sv->label = cr_statlabel(run, var->text);
  if (run.options.remove_name != 0) sv->label = avoid_dup(run, sv->label, sv->sname->name);

  auto* vl = make_record<value_list>(run.store);
  sv->vallist = vl;
  if (var->type == type_numeric) return;
  vl->count = var->nvalues;
  if (var->type == type_yesno) change_multicodes(run, var);
  if (run.options.element_values != 0) change_vals(run, var);
  const auto n = static_cast<std::size_t>(var->nvalues > 0 ? var->nvalues : 0);
  vl->codes = make_array<std::int32_t>(run.store, n);
  vl->labels = make_array<char*>(run.store, n);
  for (std::size_t i = 0; i < n; ++i) {
    vl->codes[i] = var->values[i];
    vl->labels[i] = cr_statlabel(run, var->valtexts[i]);
    if (run.options.element_values != 0 && run.options.remove_name != 0)
      vl->labels[i] = avoid_dup_n(vl->labels[i], vl->codes[i]);
  }
}

stat_name* cr_statname(run_state& run, const char* name) {
  char* candidate = check_statname(run, name);
  if (spss_form(run)) fit_spss_name(candidate);
  while (name_taken(run, candidate)) mod_statname(run, candidate);
  return statinstall(run, candidate);
}

char* check_statname(run_state& run, const char* name) {
  auto* out = make_array<char>(run.store, name_room);
  for (std::size_t i = 0; i < max_name && name[i] != '\0'; ++i)
    out[i] = statchar(name[i]) ? name[i] : '@';
  return out;
}

bool statchar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || is_digit(c) || c == '@' || c == '_';
}

void mod_statname(run_state& run, char* name) {
  statvars_state& st = run.names;
  char* p = name[0] == '@' ? name + 1 : name;
  const auto size = static_cast<std::size_t>(st.size);
  const std::size_t len = std::strlen(p);
  std::memcpy(p, st.uniqname, size);
  if (len < size) p[size] = '\0';

  // The counter is a base-26 number whose first letter changes fastest.
  constexpr int letters = sizeof st.uniqname - 1;
  if (++st.uniqname[0] <= 'Z') return;
  int i = 0;
  while (i < letters && st.uniqname[i] > 'Z') {
    st.uniqname[i] = 'A';
    if (++i < letters) ++st.uniqname[i];
  }
  // Past the ninth letter the counter starts again from all A at nine letters.
  st.size = i < letters ? i + 1 : letters;
}

stat_name* statlookup(run_state& run, const char* name) {
  for (stat_name* e = run.statitems[static_cast<std::size_t>(stat_slot(run, name))]; e != nullptr;
       e = e->next)
    if (same_name(run, e->name, name)) return e;
  return nullptr;
}

stat_name* statinstall(run_state& run, const char* name) {
  auto* e = make_record<stat_name>(run.store);
  e->name = store_text(run.store, name);
  stat_name*& head = run.statitems[static_cast<std::size_t>(stat_slot(run, name))];
  e->next = head;
  head = e;
  return e;
}

char* cr_statlabel(run_state& run, const char* text) {
  if (text == nullptr) return nullptr;
  while (*text == ' ') ++text;
  return store_text(run.store, text);
}

char* avoid_dup(run_state& run, char* label, const char* name) {
  if (label == nullptr) return nullptr;
  const std::size_t n = std::strlen(name);
  bool starts = true;
  for (std::size_t i = 0; i < n && starts; ++i) {
    if (label[i] == '\0')
      starts = false;
    else if (run.options.remove_name == 1)
      starts = label[i] == name[i];
    else
      starts = upper(label[i]) == upper(name[i]);
  }
  if (!starts) return label;
  char* rest = label + n;
  while (*rest == ' ') ++rest;
  return rest;
}

char* avoid_dup_n(char* label, std::int32_t code) {
  if (label == nullptr) return nullptr;
  const char* p = label;
  while (*p == ' ') ++p;
  if (!is_digit(*p) || leading_number(p) != code) return label;
  while (*p == ' ') ++p;
  return label + (p - label);
}

void change_multicodes(run_state& run, stat_var* var) {
  const std::int32_t position = var->values[1];
  if (position != 0) var->values[0] = 0;
  if (run.options.use_positions == 0) var->values[1] = 1;
}

void change_vals(run_state& run, stat_var* var) {
  const auto n = static_cast<std::size_t>(var->nvalues > 0 ? var->nvalues : 0);
  auto* numbers = make_array<std::int32_t>(run.store, n);
  bool any = false;
  std::int32_t highest = no_number;
  for (std::size_t i = 0; i < n; ++i) {
    numbers[i] = extract_num(var->valtexts[i]);
    if (numbers[i] == no_number) continue;
    any = true;
    if (numbers[i] > highest) highest = numbers[i];
  }
  if (!any) return;
  if (var->type == type_yesno) {
    // The "no" text starts with "no ", so only the element text can hold the number.
    var->values[0] = 0;
    var->values[1] = numbers[1];
    return;
  }
  std::int32_t next = highest;
  for (std::size_t i = 0; i < n; ++i)
    var->values[i] = numbers[i] != no_number ? numbers[i] : ++next;
}

std::int32_t extract_num(const char* text) {
  while (*text == ' ') ++text;
  const std::int64_t value = leading_number(text);
  // A longer number than a code can be is no code.
  return value < 0 || value > max_text_code ? no_number : static_cast<std::int32_t>(value);
}

void print_statvars(run_state& run) {
  std::FILE* d = debug_stream(run);
  if (d == nullptr) return;
  for (std::size_t i = 0; i < run.stvars.size(); ++i) {
    std::fprintf(d, "\n I %d", static_cast<int>(i));
    print_st(run, run.stvars[i]);
  }
  std::fflush(d);
}

void print_st(run_state& run, const stat_var* var) {
  std::FILE* d = debug_stream(run);
  if (d == nullptr) return;
  std::fprintf(d, "\n %s %d", var->name, var->type);
  if (var->type != type_single && var->type != type_yesno) return;
  if (var->text == nullptr)
    std::fputs("\n", d);
  else
    std::fprintf(d, " <%s>\n", var->text);
  for (int k = 0; k < var->nvalues; ++k)
    std::fprintf(d, " %3d : %d <%s>\n", k, var->values[k], var->valtexts[k]);
}

}  // namespace tx
