// Hand-made output variables for the metadata writers' tests: the records a
// run holds after its variables are named, made in the run's block store,
// stating only what a test looks at.
#pragma once
#include <initializer_list>
#include <string>
#include <vector>

#include "fmtlib/model/statvars.h"
#include "fmtlib/model/xtostats.h"
#include "fmtlib/read/axinf.h"
#include "fmtlib/read/title.h"
#include "fmtlib/run/convert.h"
#include "fmtlib/run/nstore.h"

namespace writers_model {

struct value {
  int code;
  const char* label;  // null: no label
};

inline void set_title(tx::run_state& run, std::initializer_list<const char*> lines) {
  run.title = tx::make_record<tx::title_record>(run.store);
  for (const char* line : lines) run.title->lines[run.title->count++] = tx::store_text(run.store, line);
}

// An axis named `name` with the given title lines.
inline tx::axis_info* add_axis(tx::run_state& run, const char* name,
                               std::initializer_list<const char*> titles = {}) {
  auto* axis = tx::make_record<tx::axis_info>(run.store);
  axis->head = tx::make_record<tx::axis_head>(run.store);
  axis->head->name = tx::store_text(run.store, name);
  axis->head->incase = 1;
  axis->titles = tx::make_record<tx::title_list>(run.store);
  for (const char* line : titles)
    axis->titles->lines[axis->titles->count++] = tx::store_text(run.store, line);
  return axis;
}

// A statistical variable with its output variable, appended to stvars.
// `output_name` null: the variable is not output (its axis is suppressed).
inline tx::stat_var* add_var(tx::run_state& run, tx::stat_type type, const char* output_name,
                             const char* label, tx::axis_info* axis,
                             std::vector<value> values = {}) {
  auto* var = tx::make_record<tx::stat_var>(run.store);
  var->type = static_cast<std::int16_t>(type);
  var->name = tx::store_text(run.store, output_name != nullptr ? output_name : "hidden");
  var->axis = axis;
  var->parent = axis != nullptr ? static_cast<const void*>(axis->head) : var;
  run.stvars.push_back(var);
  if (output_name == nullptr) return var;
  auto* sv = tx::make_record<tx::spss_var>(run.store);
  sv->sname = tx::make_record<tx::stat_name>(run.store);
  sv->sname->name = tx::store_text(run.store, output_name);
  sv->label = label != nullptr ? tx::store_text(run.store, label) : nullptr;
  sv->var = var;
  sv->vallist = tx::make_record<tx::value_list>(run.store);
  const auto n = static_cast<std::int32_t>(values.size());
  sv->vallist->count = n;
  sv->vallist->codes = tx::make_array<std::int32_t>(run.store, values.size());
  sv->vallist->labels = tx::make_array<char*>(run.store, values.size());
  for (std::int32_t i = 0; i < n; ++i) {
    sv->vallist->codes[i] = values[i].code;
    if (values[i].label != nullptr)
      sv->vallist->labels[i] = tx::store_text(run.store, values[i].label);
  }
  var->spssvar = sv;
  var->nvalues = n;
  return var;
}

}  // namespace writers_model
