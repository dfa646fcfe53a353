// Case data writer: the second reading of "intermed.x", one data record per
// case through a row of field writers, and the measuring pass shared by the
// Triple-S and CSV writers.
#include "write/data.h"

#include <cctype>
#include <cfloat>
#include <cstdio>
#include <string>

#include "model/statvars.h"
#include "model/xtostats.h"
#include "read/axinf.h"
#include "read/intermed.h"
#include "read/title.h"
#include "run/misc.h"
#include "run/run_state.h"
#include "txlib/bytes.h"
#include "txlib/version.h"
#include "write/funcs.h"

namespace tx {

namespace {

constexpr const char* case_file = "intermed.x";

// The -m text, or the output form's own missing text.
std::string missing_text(const run_state& run) {
  return run.options.has_missing ? run.options.missing : run.defmissing;
}

// Element i of an axis is bit i mod 16 of the axis's word i div 16.
bool bit_set(const std::uint16_t* words, int i) {
  return ((words[i / 16] >> (i % 16)) & 1U) != 0;
}

std::string weight_file_name(const weight_slot& w) {
  return "wmvals" + std::to_string(w.number) + ".x";
}

// read_case_layout has checked the axis words; the numeric fields of a record
// must match the size records, which they index.
void check_numeric_fields(const run_state& run, const case_reader& r, const output_routines& row) {
  const std::size_t fields = r.layout.nfloats + static_cast<std::size_t>(run.weighting);
  if (row.id != row_spss && fields != run.sizedetails.size())
    stop_damaged(case_file, "its records hold " + std::to_string(fields) +
                                " numeric fields with the weights, the job has " +
                                std::to_string(run.sizedetails.size()) + " numeric variables");
}

float read_weight(const weight_slot& w, std::int32_t ncases) {
  std::uint8_t b[4];
  if (std::fread(b, 1, sizeof b, w.stream.get()) != sizeof b)
    stop_damaged(weight_file_name(w).c_str(),
                 "it holds fewer values than the " + std::to_string(ncases) + " cases");
  return be_f32(b, 0);
}

void put_single(run_state& run, const axis_info* a, const std::uint16_t* c,
                const output_routines& row, const std::string& missing) {
  std::FILE* out = run.data.fp_data.get();
  const int index = -a->width;
  int rank = 0;
  for (int i = 0; i < a->counts->nelements; ++i) {
    if (a->elements[i]->type == 0) continue;
    if (bit_set(c, i)) {
      const stat_var* v = a->single_var;
      if (v != nullptr && rank < v->nvalues) row.put_int(run, out, v->values[rank], index);
      return;
    }
    ++rank;
  }
  row.put_string(run, out, missing, index);
}

void put_multi(run_state& run, const axis_info* a, const std::uint16_t* c, int p,
               const output_routines& row, const std::string& missing) {
  std::FILE* out = run.data.fp_data.get();
  const int index = -a->width;
  bool any = false;
  for (int w = 0; w < a->nwords; ++w) any = any || (c[w] & run.elmask[p + w]) != 0;
  for (int e = 0; e < a->counts->nelements; ++e) {
    const stat_var* v = a->multi_vars[e];
    if (a->elements[e]->type == 0 || v == nullptr) continue;
    const bool set = bit_set(c, e);
    if (!set && !any) {
      row.put_string(run, out, missing, index);
    } else if (row.id == row_fixed) {
      // Fixed columns hold a bitstring digit whatever the codes: with
      // use_positions the yes code can be wider than the one-column field.
      row.put_int(run, out, set ? 1 : 0, index);
    } else if (set) {
      row.put_int(run, out, v->values[1], index);
    } else if (v->values[0] == -1 && row.id != row_spss && row.id != row_sav) {
      row.put_int(run, out, 0, -1);
    } else {
      row.put_int(run, out, v->values[0], index);
    }
  }
}

}  // namespace

void put_axes_data(run_state& run, const std::uint16_t* c, const output_routines& row) {
  const std::string missing = missing_text(run);
  int p = 0;
  for (const axis_info* a = run.axinf; a != nullptr; a = a->next) {
    if (a->head->incase == 0) continue;
    if (a->no_output == 0) {
      if (a->maxbits >= 2)
        put_multi(run, a, c + p, p, row, missing);
      else
        put_single(run, a, c + p, row, missing);
    }
    p += a->nwords;
  }
}

void create_data(run_state& run, const char* name, const output_routines& row, int mode) {
  // Without a name the pass writes no file: the system file's rows hand
  // their values to its own writer.
  run.data.fp_data.reset(name != nullptr ? efopen(run, name, "wt") : nullptr);
  run.data.buffer.clear();
  // The field writers collect the pass's output in run.data.sink; it goes
  // nowhere once the pass ends, however it ends.
  run.data.sink.stream = run.data.fp_data.get();
  run.data.sink.used = 0;
  struct sink_guard {
    out_buffer& sink;
    ~sink_guard() {
      sink.stream = nullptr;
      sink.used = 0;
    }
  } guard{run.data.sink};
  file_ptr in(efopen(run, case_file, "r"));
  for (int w = 0; w < run.weighting; ++w)
    run.wght[w].position = std::ftell(run.wght[w].stream.get());

  // A refused header has been reported by getversn; the reading goes on.
  getversn(fileno(in.get()), case_file, 0, 12, 0);
  case_reader r;
  r.f = in.get();
  read_case_layout(run, r);
  check_numeric_fields(run, r, row);

  const std::string missing = missing_text(run);
  static constexpr int short_record[3] = {202, 202, 202};
  std::FILE* out = run.data.fp_data.get();
  std::int32_t count = 0;
  while (read_case(r, short_record)) {
    ++count;
    int index = 0;
    if (mode != data_measure) put_axes_data(run, r.masks.data(), row);
    for (const float v : r.values) {
      if (v == missing_value)
        row.put_string(run, out, missing, index++);
      else
        row.put_float(run, out, v, index++);
    }
    for (int w = 0; w < run.weighting; ++w)
      row.put_float(run, out, read_weight(run.wght[w], run.ncases), index++);
    if (row.end_record != nullptr) row.end_record(run, out);
  }
  if (count != run.ncases) error(203);

  in.reset();
  for (int w = 0; w < run.weighting; ++w)
    std::fseek(run.wght[w].stream.get(), run.wght[w].position, SEEK_SET);
  run.data.sink.flush();
  run.data.sink.stream = nullptr;
  if (name != nullptr) close_output(run.data.fp_data, name);
}

void settle_widths(std::vector<size_detail>& sizes) {
  for (size_detail& d : sizes) {
    if (d.min > d.max) {
      // No value at all: the field still takes one column.
      if (d.width < 1) d.width = 1;
      continue;
    }
    for (const float v : {d.min, d.max}) {
      const int n = printed_length(v, d.kind, d.decimals);
      if (n > d.width) d.width = n;
    }
  }
}

void measure_fields(run_state& run, const char* data_name, bool fixed_columns) {
  std::size_t numeric = 0;
  for (stat_node* g = run.statlist; g != nullptr; g = g->nextgroup)
    for (stat_node* n = g; n != nullptr; n = n->member) {
      if (n->var->type == type_numeric) ++numeric;
      if (fixed_columns) {
        n->var->width = 0;
        if (n->var->axis != nullptr) n->var->axis->width = 1;
      }
    }

  run.sizedetails.assign(numeric, size_detail{});
  std::size_t next = 0;
  for (stat_node* g = run.statlist; g != nullptr; g = g->nextgroup)
    for (stat_node* n = g; n != nullptr; n = n->member) {
      n->size = nullptr;
      if (n->var->type != type_numeric) continue;
      size_detail& d = run.sizedetails[next];
      d.ordinal = static_cast<std::int32_t>(next++);
      d.max = -FLT_MAX;
      d.min = FLT_MAX;
      n->size = &d;
    }

  if (fixed_columns)
    for (stat_node* g = run.statlist; g != nullptr; g = g->nextgroup) {
      if (g->var->type == type_numeric || g->member != nullptr) continue;
      // The data writer writes every element's code, labelled or not, so every
      // code counts for the width.
      int w = 1;
      const value_list* vals = g->var->spssvar->vallist;
      for (int i = 0; vals != nullptr && i < vals->count; ++i) {
        const int n = std::snprintf(nullptr, 0, "%d", vals->codes[i]);
        if (n > w) w = n;
      }
      g->width = w;
      g->var->width = w;
      if (g->var->axis != nullptr) g->var->axis->width = w;
    }

  create_data(run, data_name, outputroutines[row_measure], data_measure);
  settle_widths(run.sizedetails);
}

std::string unique_document_name(std::vector<std::string>& earlier, const std::string& name) {
  auto same = [](const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
      if (std::tolower(static_cast<unsigned char>(a[i])) !=
          std::tolower(static_cast<unsigned char>(b[i])))
        return false;
    return true;
  };
  auto taken = [&](const std::string& candidate) {
    for (const std::string& e : earlier)
      if (same(e, candidate)) return true;
    return false;
  };
  std::string result = name;
  for (int n = 2; taken(result); ++n) result = name + "_" + std::to_string(n);
  earlier.push_back(result);
  return result;
}

}  // namespace tx
