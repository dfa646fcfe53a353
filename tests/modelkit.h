// In-memory axes for the tests of the variable model: axis_info records built
// from the block store as the readers leave them, with the element mask.
#pragma once
#include <string>
#include <vector>

#include "fmtlib/model/xtostats.h"
#include "fmtlib/read/axinf.h"
#include "fmtlib/run/convert.h"
#include "testkit.h"
#include "tools/jobbuild.h"

namespace modelkit {

struct element {
  std::string text{};
  int type = 1;  // 0: carries no data
};

struct axis_spec {
  std::string name{};
  std::vector<element> elements{};
  int maxbits = 1;  // above 1: one yes/no variable per data element
  bool incase = true;
  std::vector<std::string> titles{};
  const char* grid_label = nullptr;
};

// n elements with the texts "<prefix>0", "<prefix>1", ...
inline std::vector<element> elements(int n, const std::string& prefix = "e") {
  std::vector<element> out;
  for (int i = 0; i < n; ++i) out.push_back({prefix + std::to_string(i), 1});
  return out;
}

// Appends an axis to run.axinf; no_output is set when no element carries data.
inline tx::axis_info* add_axis(tx::run_state& run, const axis_spec& s) {
  auto* a = tx::make_record<tx::axis_info>(run.store);
  a->head = tx::make_record<tx::axis_head>(run.store);
  a->head->incase = s.incase ? 1 : 0;
  a->head->name = tx::store_text(run.store, s.name);
  a->counts = tx::make_record<tx::axis_counts>(run.store);
  const auto n = static_cast<std::int16_t>(s.elements.size());
  a->counts->nelements = a->counts->nbits = n;
  a->nwords = (n + 15) / 16;
  std::string heap;
  a->elements = tx::make_array<tx::element_info*>(run.store, s.elements.size());
  a->no_output = 1;
  for (std::size_t i = 0; i < s.elements.size(); ++i) {
    auto* e = tx::make_record<tx::element_info>(run.store);
    e->type = static_cast<std::uint8_t>(s.elements[i].type);
    e->textoff = static_cast<std::int32_t>(heap.size());
    heap += s.elements[i].text;
    heap += '\0';
    a->elements[i] = e;
    if (e->type != 0) a->no_output = 0;
  }
  a->heap = tx::store_text(run.store, heap);
  a->heap_size = static_cast<std::int32_t>(heap.size());
  a->titles = tx::make_record<tx::title_list>(run.store);
  for (const std::string& t : s.titles)
    a->titles->lines[a->titles->count++] = tx::store_text(run.store, t);
  if (s.grid_label != nullptr) a->grid_label = tx::store_text(run.store, s.grid_label);
  a->maxbits = static_cast<std::int16_t>(s.maxbits);
  tx::axis_info** tail = &run.axinf;
  while (*tail != nullptr) tail = &(*tail)->next;
  *tail = a;
  return a;
}

// Builds elmask as the case-file reader does: the bits of the data elements
// of every in-case axis, each axis starting on a new word.
inline void mark_elements(tx::run_state& run) {
  int words = 0;
  for (const tx::axis_info* a = run.axinf; a != nullptr; a = a->next)
    if (a->head->incase != 0) words += a->nwords;
  run.mask_words = words;
  run.elmask = tx::make_array<std::uint16_t>(run.store, static_cast<std::size_t>(words));
  int p = 0;
  for (const tx::axis_info* a = run.axinf; a != nullptr; a = a->next) {
    if (a->head->incase == 0) continue;
    for (int i = 0; i < a->counts->nelements; ++i)
      if (a->elements[i]->type != 0)
        run.elmask[p + i / 16] =
            static_cast<std::uint16_t>(run.elmask[p + i / 16] | (1u << (i % 16)));
    p += a->nwords;
  }
}

// A run ready for the variable model: the store started, the form selected.
inline void start(tx::run_state& run, tx::output_form form = tx::form_xml) {
  tx::init_store(run.store);
  for (tx::driver_row& row : run.drivers)
    if (row.suffix != nullptr && row.form == form) {
      run.progmode = &row;
      break;
    }
}

// A started run over a job written into a scratch directory, which is the
// job's temporary and permanent directory: xtostats reads the incs and
// weights of the job after the in-memory axes.
struct model_run {
  testkit::temp_dir dir;
  testkit::scoped_env env{{{"TXTEMP", dir.path}, {"TXPERM", dir.path}, {"TXSUFF", ""}}};
  tx::file_ptr quiet{std::tmpfile()};  // the warnings of a job without descriptions
  tx::run_state run;
  explicit model_run(tx::output_form form = tx::form_xml, const tx::job::job& j = {}) {
    tx::job::write_job(j, dir.path);
    start(run, form);
    if (quiet) run.err = quiet.get();
    run.layout.nfloats = static_cast<std::uint32_t>(j.incs.size());
  }
  std::string path(const std::string& name) const { return dir / name; }
};

// Adds a statistical variable directly, as xtostats would.
inline tx::stat_var* add_var(tx::run_state& run, const char* name, int type,
                             const char* text = nullptr) {
  tx::stat_var* v = tx::add_stat_var(run, name);
  v->type = static_cast<std::int16_t>(type);
  if (text != nullptr) v->text = tx::store_text(run.store, text);
  return v;
}

}  // namespace modelkit
