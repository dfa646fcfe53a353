#include "write/outputcsv.h"

#include <ctime>
#include <string>

#include "base/misc.h"
#include "base/run_state.h"
#include "model/statvars.h"
#include "model/xtostats.h"
#include "read/axinf.h"
#include "read/title.h"
#include "write/data.h"
#include "write/funcs.h"

namespace tx {

namespace {

constexpr const char* mon = "JanFebMarAprMayJunJulAugSepOctNovDec";
constexpr std::size_t max_label = 40960;  // characters of a question label that are used

constexpr const char* explain[] = {
    "This is the description of the generated data file",
    "",
    "There are three types of variables, single, multiple and value. \"Single\"",
    "variables occupy one field and are integer values. \"Multiple\" values",
    "occupy a field each for each answer within the multiple. \"0\" indicates",
    "a \"no\", \"1\" indicates a \"yes\" and space is \"no answer\". The final variable",
    "type is a value, generally integer. The maximum and minimum range of this",
    "variable is given.",
    "",
    "Each variable is shown with its name, associated question text (if any)",
    "the type of variable, field position and possible values. In the case of",
    "\"multiple\", each value is shown along with the field it occupies.",
    "",
};

bool has_text(const char* text) { return text != nullptr && *text != '\0'; }

// Every text goes through here: a control character would break the
// one-item-per-line layout, so each becomes a blank.
std::string line_text(const char* text) { return blank_controls(text != nullptr ? text : ""); }

// The question label: the variable label, else the output name without a
// leading "@".
std::string question_label(const spss_var* s) {
  std::string text;
  if (has_text(s->label)) {
    text = s->label;
  } else if (s->sname != nullptr && s->sname->name != nullptr) {
    text = s->sname->name;
    if (!text.empty() && text[0] == '@') text.erase(0, 1);
  }
  if (text.size() > max_label) text.resize(max_label);
  return line_text(text.c_str());
}

void write_range(std::FILE* f, const size_detail& d) {
  if (d.kind == size_whole) {
    const std::string min = whole_number_text(d.min), max = whole_number_text(d.max);
    if (min == max)
      std::fprintf(f, "Range: %s", max.c_str());
    else
      std::fprintf(f, "Range: %s to %s", min.c_str(), max.c_str());
  } else if (d.min == d.max) {
    std::fprintf(f, "Range: %.*f", d.decimals, static_cast<double>(d.max));
  } else {
    std::fprintf(f, "Range: %.*f to %.*f", d.decimals, static_cast<double>(d.min), d.decimals,
                 static_cast<double>(d.max));
  }
}

}  // namespace

void outputcsv(run_state& run, const char* meta_file, const char*) {
  file_ptr f(efopen(run, meta_file, "wt"));
  csv_header(run, f.get());
  csv_labels(run, f.get());
  close_output(f, meta_file);
}

void csv_header(run_state& run, std::FILE* f) {
  for (const char* line : explain) std::fprintf(f, "%s\n", line);
  std::tm tm{};
  localtime_r(&run.now, &tm);
  std::fprintf(f, "\nProduced on: %02d %3.3s %4d at %02d:%02d", tm.tm_mday, mon + 3 * tm.tm_mon,
               tm.tm_year + 1900, tm.tm_hour, tm.tm_min);
  std::fputs("Survey title: ", f);
  if (run.title == nullptr || run.title->count == 0) {
    std::fputs("unknown", f);
  } else {
    for (int i = 0; i < run.title->count; ++i)
      std::fprintf(f, "%s ", line_text(run.title->lines[i]).c_str());
  }
  std::fputs("\n", f);
}

void csv_labels(run_state& run, std::FILE* f) {
  build_statlist(run);
  measure_fields(run, /*fixed_columns=*/false);
  for (const stat_node* head = run.statlist; head != nullptr; head = head->nextgroup) {
    std::fputs("\n", f);
    if (head->member != nullptr) {
      int k = 1;
      for (const stat_node* node = head; node != nullptr; node = node->member, ++k)
        output_csv_labels(run, f, node, k);
    } else {
      output_csv_labels(run, f, head, 0);
    }
  }
}

void output_csv_labels(run_state& run, std::FILE* f, const stat_node* node, int k) {
  const stat_var* v = node->var;
  const spss_var* s = v->spssvar;
  const std::string question = question_label(s);
  if (k == 0 || k == 1) {
    const bool from_axis = v->axis != nullptr && v->axis->head != nullptr;
    std::fprintf(f, "\nVariable: %s\n",
                 from_axis ? line_text(v->axis->head->name).c_str() : question.c_str());
    std::fprintf(f, "Question label: %s\n", question.c_str());
    std::fprintf(f, "Variable type: %s\n",
                 k != 0                    ? "multiple"
                 : v->type == type_numeric ? "value"
                                           : "single");
  }
  const value_list* vl = s->vallist;
  const int count = vl != nullptr ? vl->count : 0;
  if (k != 0) {
    const char* text = "";
    for (int i = 0; i < count; ++i)
      if (has_text(vl->labels[i])) text = vl->labels[i];
    std::fprintf(f, "Field %d: %s\n", ++run.csv.fieldno, line_text(text).c_str());
    return;
  }
  if (v->type == type_numeric) {
    std::fprintf(f, "Field: %d\n", ++run.csv.fieldno);
    // A field that never received a value has no range to give.
    if (node->size != nullptr && node->size->min <= node->size->max) write_range(f, *node->size);
    return;
  }
  // Every other variable has a data column too (a single-coded variable
  // without value labels, a yes/no variable alone in its group), so it takes
  // a field number: the later numbers name the right columns.
  std::fprintf(f, "Field:  %d\n", ++run.csv.fieldno);
  if (v->type == type_single)
    for (int i = 0; i < count; ++i)
      if (has_text(vl->labels[i]))
        std::fprintf(f, "Value: %d = %s\n", vl->codes[i], line_text(vl->labels[i]).c_str());
  std::fputs("\n", f);
}

}  // namespace tx
