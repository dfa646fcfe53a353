#include "write/commands.h"

#include <cstring>

#include "base/misc.h"
#include "base/run_state.h"
#include "base/showmsg.h"
#include "model/statvars.h"
#include "model/xtostats.h"
#include "read/axinf.h"
#include "read/title.h"

namespace tx {

namespace {

bool has_text(const char* text) { return text != nullptr && *text != '\0'; }

// Title lines and comments end at the line end, so a newline inside one
// would end it early: every control character becomes a blank.
void write_comment(std::FILE* f, const char* text) {
  std::fprintf(f, "* %s.\n", blank_controls(text != nullptr ? text : "").c_str());
}

}  // namespace

std::string spss_quoted(std::string_view text, int max) {
  if (max >= 0 && text.size() > static_cast<std::size_t>(max))
    text = text.substr(0, static_cast<std::size_t>(max));
  std::string out;
  out.reserve(text.size() + 8);
  for (const char c : blank_controls(text)) {
    out += c;
    if (c == '"') out += '"';  // SPSS writes a quote inside a quoted string twice
  }
  return out;
}

void outputspss(run_state& run, const char* meta_file, const char* data_file) {
  create_spsscommands(run, meta_file, data_file);
}

void create_spsscommands(run_state& run, const char* meta_file, const char* data_file) {
  file_ptr f(efopen(run, meta_file, "wt"));
  spss_title(run, f.get());
  spss_datalist(run, f.get(), data_file);
  spss_labels(run, f.get());
  close_output(f, meta_file);
}

void spss_title(run_state& run, std::FILE* f) {
  if (run.title == nullptr) return;
  for (int i = 0; i < run.title->count; ++i) {
    const char* line = run.title->lines[i] != nullptr ? run.title->lines[i] : "";
    if (i > 0) {
      write_comment(f, line);
    } else if (std::strpbrk(line, "'\"") != nullptr) {
      // Unquoted, an apostrophe or a double quote would open a string that
      // never closes and the command would be rejected.
      std::fprintf(f, "TITLE \"%s\".\n", spss_quoted(line, -1).c_str());
    } else {
      std::fprintf(f, "TITLE %s.\n", blank_controls(line).c_str());
    }
  }
}

void spss_datalist(run_state& run, std::FILE* f, const char* data_file) {
  if (run.options.fixed_format != 0)
    showmsg(run.err, "Sorry, only free format data currently available\n");
  std::fprintf(f, "DATA LIST FILE=\"%s\" FREE/\n", data_file);
  for (const stat_var* var : run.stvars)
    if (var->spssvar != nullptr) std::fprintf(f, "  %s\n", var->spssvar->sname->name);
  std::fputs("  .\n", f);
}

void spss_labels(run_state& run, std::FILE* f) {
  for (const stat_var* var : run.stvars) {
    if (var->spssvar == nullptr) continue;
    output_labels(run, f, var->spssvar);
    output_comments(run, f, var);
  }
}

void output_labels(run_state& run, std::FILE* f, const spss_var* sv) {
  const run_options& opt = run.options;
  const char* name = sv->sname->name;
  const stat_var* var = sv->var;
  if (has_text(sv->label)) {
    const int blank = opt.blank_comment;
    if (blank != 0 &&
        (blank >= 2 || var->type != type_yesno || var->parent != run.commands.last_parent)) {
      // "*." and not a bare "*": under interactive rules a bare "*" runs on
      // to the next full stop and swallows the VARIABLE LABELS command.
      std::fputs("*.\n", f);
      run.commands.last_parent = var->parent;
    }
    std::fprintf(f, "VARIABLE LABELS %s \"%s\".\n", name,
                 spss_quoted(sv->label, opt.max_var_label).c_str());
  }
  const value_list* vl = sv->vallist;
  if (vl == nullptr) return;
  bool any = false;
  for (int i = 0; i < vl->count && !any; ++i) any = has_text(vl->labels[i]);
  if (!any) return;
  std::fprintf(f, "VALUE LABELS %s\n", name);
  for (int i = 0; i < vl->count; ++i)
    if (has_text(vl->labels[i]))
      std::fprintf(f, "  %d \"%s\"\n", vl->codes[i],
                   spss_quoted(vl->labels[i], opt.max_value_label).c_str());
  std::fputs(".\n", f);
}

void output_comments(run_state&, std::FILE* f, const stat_var* var) {
  if (var->axis == nullptr || var->axis->titles == nullptr) return;
  const title_list* titles = var->axis->titles;
  for (int i = 1; i < titles->count; ++i) write_comment(f, titles->lines[i]);
}

}  // namespace tx
