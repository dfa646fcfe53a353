#include "write/outputts.h"

#include <ctime>

#include "base/misc.h"
#include "base/run_state.h"
#include "model/statvars.h"
#include "model/xtostats.h"
#include "read/axinf.h"
#include "read/title.h"
#include "write/data.h"
#include "write/funcs.h"
#include "write/names.h"

namespace tx {

namespace {

constexpr const char* mon = "JanFebMarAprMayJunJulAugSepOctNovDec";
constexpr std::size_t max_label = 40960;  // characters of a label that are used

bool has_text(const char* text) { return text != nullptr && *text != '\0'; }

// The label of a variable: its label, else its output name without a
// leading "@", else "v<k>".
std::string label_text(const spss_var* s, int k) {
  std::string text;
  if (has_text(s->label)) {
    text = s->label;
  } else if (s->sname != nullptr && has_text(s->sname->name)) {
    text = s->sname->name;
    if (text[0] == '@') text.erase(0, 1);
  } else {
    char name[16];
    std::snprintf(name, sizeof name, "v%d", k);
    text = name;
  }
  if (text.size() > max_label) text.resize(max_label);
  return text;
}

// The value text of a yes/no member: its last non-empty value label (the
// element text).
const char* member_text(const spss_var* s) {
  const char* text = "";
  const value_list* vl = s->vallist;
  for (int i = 0; vl != nullptr && i < vl->count; ++i)
    if (has_text(vl->labels[i])) text = vl->labels[i];
  return text;
}

void write_range(std::FILE* f, const size_detail& d) {
  std::fputs("\t\t\t\tValues\n\t\t\t\t\t", f);
  if (d.kind == size_whole) {
    // Always "min to max": a bare number is no valid classic value line.
    std::fprintf(f, "%s to %s", whole_number_text(d.min).c_str(), whole_number_text(d.max).c_str());
  } else if (d.min == d.max) {
    std::fprintf(f, "%.*f \"the only valid value\"", d.decimals, static_cast<double>(d.max));
  } else {
    std::fprintf(f, "%.*f to %.*f", d.decimals, static_cast<double>(d.min), d.decimals,
                 static_cast<double>(d.max));
  }
  std::fputs("\n\t\t\t\tEnd Values\n", f);
}

void write_values(std::FILE* f, const value_list* vl) {
  bool any = false;
  for (int i = 0; i < vl->count && !any; ++i) any = has_text(vl->labels[i]);
  if (!any) return;
  std::fputs("\t\t\t\tValues\n", f);
  for (int i = 0; i < vl->count; ++i)
    if (has_text(vl->labels[i]))
      std::fprintf(f, "\t\t\t\t\t%d \"%s\"\n", vl->codes[i], tsss_convstr(vl->labels[i]).c_str());
  std::fputs("\t\t\t\tEnd Values\n", f);
}

}  // namespace

std::string tsss_convstr(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    if (c == '"')
      out += "{\"}";
    else
      out += static_cast<unsigned char>(c) < 32 ? ' ' : c;
  }
  return out;
}

void outputts(run_state& run, const char* meta_file, const char*) {
  file_ptr f(efopen(run, meta_file, "wt"));
  tsss_header(run, f.get());
  tsss_labels(run, f.get());
  tsss_trailer(f.get());
  close_output(f, meta_file);
}

void tsss_header(run_state& run, std::FILE* f) {
  std::tm tm{};
  localtime_r(&run.now, &tm);
  std::fprintf(f,
               "SSS\n\tVersion 1.1\n\tDate \"%02d %3.3s %4d\"\n\tTime \"%02d:%02d\"\n"
               "\tOrigin \"%s, created by %s\"\n\tSURVEY\n\t\tTITLE \"",
               tm.tm_mday, mon + 3 * tm.tm_mon, tm.tm_year + 1900, tm.tm_hour, tm.tm_min, "UNIX",
               tsss_convstr(run.program_name).c_str());
  if (run.title == nullptr || run.title->count == 0) {
    std::fputs("unknown", f);
  } else {
    for (int i = 0; i < run.title->count; ++i)
      std::fprintf(f, "%s ",
                   tsss_convstr(run.title->lines[i] != nullptr ? run.title->lines[i] : "").c_str());
  }
  std::fputs("\"\n\t\tRecord A\n", f);
}

void tsss_trailer(std::FILE* f) { std::fputs("\t\tEnd Record\n\tEnd Survey\nEnd SSS\n", f); }

void tsss_labels(run_state& run, std::FILE* f) {
  build_statlist(run);
  measure_fields(run, /*fixed_columns=*/true);
  std::unordered_set<std::string> names;
  int column = 1;
  for (const stat_node* head = run.statlist; head != nullptr; head = head->nextgroup) {
    std::fputs("\n", f);
    int span = 1;
    if (head->member != nullptr) {
      span = head->count;
      int k = 1;
      for (const stat_node* node = head; node != nullptr; node = node->member, ++k)
        output_tss_labels(run, f, node, k, column, column + span - 1, names);
      std::fputs("\t\t\t\tEnd Values\n\t\t\tEnd Variable\n", f);
    } else {
      if (head->width != 0)
        span = head->width;
      else if (head->var->type == type_numeric && head->size != nullptr)
        span = head->size->width;
      output_tss_labels(run, f, head, 0, column, column + span - 1, names);
      std::fputs("\t\t\tEnd Variable\n", f);
    }
    column += span;
  }
}

void output_tss_labels(run_state& run, std::FILE* f, const stat_node* node, int k, int first,
                       int last, std::unordered_set<std::string>& names) {
  const stat_var* v = node->var;
  const spss_var* s = v->spssvar;
  const std::string label = label_text(s, k);
  if (k == 0 || k == 1) {
    ++run.ts.varnum;
    const bool from_axis = v->axis != nullptr && v->axis->head != nullptr;
    // A reader takes Names that differ only in case for the same variable.
    const std::string name = unique_name(names, from_axis ? v->axis->head->name : label);
    std::fprintf(f, "\t\t\tVariable %d\n\t\t\tName \"%s\"\n", run.ts.varnum,
                 tsss_convstr(name).c_str());
    std::fprintf(f, "\t\t\tLabel \"%s\"\n", tsss_convstr(label).c_str());
    std::fprintf(f, "\t\t\tType %s\n",
                 k != 0                    ? "multiple"
                 : v->type == type_numeric ? "quantity"
                                           : "single");
    std::fprintf(f, "\t\t\tPosition %d", first);
    if (last != first) std::fprintf(f, " to %d", last);
    std::fputs("\n", f);
  }
  if (k != 0) {
    if (k == 1) std::fputs("\t\t\t\tValues\n", f);
    std::fprintf(f, "\t\t\t\t\t%d \"%s\"\n", k, tsss_convstr(member_text(s)).c_str());
    return;
  }
  if (v->type == type_numeric) {
    // A field that never received a value has no range to give.
    if (node->size != nullptr && node->size->min <= node->size->max) write_range(f, *node->size);
    return;
  }
  if (v->type == type_single && s->vallist != nullptr && s->vallist->count > 0)
    write_values(f, s->vallist);
}

}  // namespace tx
