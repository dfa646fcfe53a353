#include "write/plan.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <map>
#include <string_view>
#include <utility>

#include "base/run_state.h"
#include "model/statvars.h"
#include "model/xtostats.h"
#include "read/axinf.h"

namespace tx {

namespace {

ready_text add_text(data_plan& plan, std::string_view text) {
  const auto at = static_cast<std::uint32_t>(plan.texts.size());
  plan.texts.append(text);
  return ready_text{at, static_cast<std::uint32_t>(text.size())};
}

std::string_view text_of(const data_plan& plan, ready_text t) {
  return std::string_view(plan.texts).substr(t.text, t.size);
}

// Makes the plan of one pass: the row's writers run on a context of their
// own, each text as the first field of a record.
struct plan_maker {
  const run_state& run;
  const output_routines& row;
  field_context ctx;
  data_plan& plan;
  std::map<std::string, std::uint32_t> tables;  // chunk tables by their fields' bits and texts

  // What `put` makes the row write as the first field of a record, followed
  // by the row's separator.
  template <class Put>
  ready_text capture(Put put) {
    ctx.sink.used = 0;
    ctx.record = record_state{};
    put();
    std::string text(ctx.sink.bytes.data(), ctx.sink.used);
    if (row.layout->separator != 0) text += row.layout->separator;
    return add_text(plan, text);
  }
  ready_text value_text(std::int32_t value, int index) {
    return capture([&] { row.put_int(ctx, nullptr, value, index); });
  }
  ready_text missing_text(int index) {
    return capture([&] { row.put_string(ctx, nullptr, plan.missing, index); });
  }

  // Room one of these texts can take in a record: the text, and a line end
  // before it when the row breaks lines.
  std::size_t room_of(std::initializer_list<ready_text> texts) const {
    std::size_t n = 0;
    for (const ready_text& t : texts) n = std::max<std::size_t>(n, t.size);
    return n + (row.layout->line_limit != 0 ? 1 : 0);
  }

  void single(const axis_info* a, int word);
  void multi(const axis_info* a, int word);
  std::uint32_t chunk_table(const field_chunk& c);
};

// A single-coded axis writes the code of its first data element whose bit is
// set: value code k of its variable for the k-th data element (no field when
// the variable has no such code), else the missing text.
void plan_maker::single(const axis_info* a, int word) {
  const int index = -a->width;
  const auto first = static_cast<std::uint32_t>(plan.codes.size());
  std::size_t room = 0;
  int rank = 0;
  for (int i = 0; i < 16 * a->nwords; ++i) {
    ready_text t{0, 0};  // an empty text is no field: every field holds a byte
    if (i < a->counts->nelements && a->elements[i]->type != 0) {
      const stat_var* v = a->single_var;
      if (v != nullptr && rank < v->nvalues) t = value_text(v->values[rank], index);
      ++rank;
    }
    plan.codes.push_back(t);
    room = std::max(room, room_of({t}));
  }
  const ready_text missing = missing_text(index);
  plan.codes.push_back(missing);
  room = std::max(room, room_of({missing}));
  axis_step step{};
  step.word = word;
  step.nwords = a->nwords;
  step.first = first;
  plan.axes.push_back(step);
  plan.record_bytes += room;
  ++plan.fields;
}

// The texts of the yes/no fields of one chunk for every value of its byte.
// Chunks with the same fields' bits and texts share one table.
std::uint32_t plan_maker::chunk_table(const field_chunk& c) {
  std::string key;
  for (std::uint32_t k = c.first; k < c.first + c.fields; ++k) {
    const yes_no_field& y = plan.yes_no[k];
    key += static_cast<char>(y.bit % 8);
    for (int state = 0; state < 2; ++state) {
      key += std::to_string(y.codes[state].size) + ':';
      key += text_of(plan, y.codes[state]);
    }
  }
  const auto found = tables.find(key);
  if (found != tables.end()) return found->second;
  const auto table = static_cast<std::uint32_t>(plan.chunk_texts.size());
  for (unsigned byte = 0; byte < 256; ++byte) {
    std::string text;
    for (std::uint32_t k = c.first; k < c.first + c.fields; ++k) {
      const yes_no_field& y = plan.yes_no[k];
      text += text_of(plan, y.codes[(byte >> (y.bit % 8)) & 1U]);
    }
    plan.chunk_texts.push_back(add_text(plan, text));
  }
  tables.emplace(std::move(key), table);
  return table;
}

// The size of every yes and no text of the chunk's fields when they are all
// alike, else 0.
std::uint32_t common_field_size(const data_plan& plan, const field_chunk& c) {
  const std::uint32_t size = plan.yes_no[c.first].codes[0].size;
  for (std::uint32_t k = c.first; k < c.first + c.fields; ++k)
    for (int state = 0; state < 2; ++state)
      if (plan.yes_no[k].codes[state].size != size) return 0;
  return size;
}

// A multi-coded axis writes one field per data element that has a variable:
// its yes code when its bit is set, else its no code, or the missing text
// when no data bit of the axis is set.
void plan_maker::multi(const axis_info* a, int word) {
  const int index = -a->width;
  axis_step step{};
  step.word = word;
  step.nwords = a->nwords;
  step.first = static_cast<std::uint32_t>(plan.yes_no.size());
  step.first_chunk = static_cast<std::uint32_t>(plan.chunks.size());
  step.multi = true;
  std::string missing;
  for (int e = 0; e < a->counts->nelements; ++e) {
    const stat_var* v = a->multi_vars[e];
    if (a->elements[e]->type == 0 || v == nullptr) continue;
    yes_no_field y{static_cast<std::uint32_t>(16 * word + e), {}};
    if (row.id == row_fixed) {
      // Fixed columns hold a bitstring digit whatever the codes: with
      // use_positions the yes code can be wider than the one-column field.
      y.codes[0] = value_text(0, index);
      y.codes[1] = value_text(1, index);
    } else {
      // SPSS and the system file keep a "no" code of -1 as it is.
      y.codes[0] = v->values[0] == -1 && row.id != row_spss && row.id != row_sav
                       ? value_text(0, -1)
                       : value_text(v->values[0], index);
      y.codes[1] = value_text(v->values[1], index);
    }
    y.codes[2] = missing_text(index);
    plan.record_bytes += room_of({y.codes[0], y.codes[1], y.codes[2]});
    missing += text_of(plan, y.codes[2]);
    // A new chunk starts with the first field of the axis in each byte.
    const auto byte_word = static_cast<std::int32_t>(y.bit / 16);
    const auto byte_shift = static_cast<std::int32_t>(y.bit % 16 / 8 * 8);
    if (step.chunks == 0 || plan.chunks.back().word != byte_word ||
        plan.chunks.back().shift != byte_shift) {
      plan.chunks.push_back(field_chunk{byte_word, byte_shift, 0, step.first + step.fields, 0, 0});
      ++step.chunks;
    }
    ++plan.chunks.back().fields;
    ++step.fields;
    plan.yes_no.push_back(y);
  }
  if (step.fields == 0) return;
  for (std::uint32_t k = step.first_chunk; k < step.first_chunk + step.chunks; ++k) {
    plan.chunks[k].table = chunk_table(plan.chunks[k]);
    plan.chunks[k].field_size = common_field_size(plan, plan.chunks[k]);
  }
  step.missing = add_text(plan, missing);
  plan.axes.push_back(step);
  plan.fields += step.fields;
}

// The text of a single-coded axis for the case with mask words c.
inline ready_text single_text(const data_plan& plan, const axis_step& a, const std::uint16_t* c,
                              const std::uint16_t* elmask) {
  const int i = first_data_bit(c + a.word, elmask + a.word, a.nwords);
  return plan.codes[a.first + static_cast<std::uint32_t>(i)];
}

// Whether every field the axes can write is one byte in a row without
// separators and line ends: each text a single-coded axis can take (that
// of each data element and the missing text) and each yes and no text.
bool fields_of_one_byte(const data_plan& plan) {
  if (plan.layout->separator != 0 || plan.layout->line_limit != 0) return false;
  for (const axis_step& a : plan.axes) {
    if (a.multi) {
      for (std::uint32_t k = a.first_chunk; k < a.first_chunk + a.chunks; ++k)
        if (plan.chunks[k].field_size != 1) return false;
      continue;
    }
    for (int i = 0; i <= 16 * a.nwords; ++i) {
      const bool data =
          i == 16 * a.nwords || has_bit(plan.elmask.data() + a.word, static_cast<std::uint32_t>(i));
      if (data && plan.codes[a.first + static_cast<std::uint32_t>(i)].size != 1) return false;
    }
  }
  return true;
}

// The axis fields of a case when each is one byte: a byte a single-coded
// axis, a word a chunk (its spare bytes are overwritten by what follows, or
// fall in the record's spare room).
char* copy_bytes(const data_plan& plan, const std::uint16_t* c, char* p) {
  const std::uint16_t* elmask = plan.elmask.data();
  for (const axis_step& a : plan.axes) {
    if (!a.multi) {
      *p++ = plan.code_bytes[a.first + static_cast<std::uint32_t>(
                                           first_data_bit(c + a.word, elmask + a.word, a.nwords))];
      continue;
    }
    if (!any_data_bit(c + a.word, elmask + a.word, a.nwords)) {
      p = copy_text(p, plan.texts.data(), a.missing);
      continue;
    }
    const field_chunk* chunk = plan.chunks.data() + a.first_chunk;
    for (const field_chunk* end = chunk + a.chunks; chunk != end; ++chunk) {
      const std::uint64_t word =
          plan.chunk_words[chunk->table + ((unsigned{c[chunk->word]} >> chunk->shift) & 0xFFU)];
      std::memcpy(p, &word, sizeof word);
      p += chunk->fields;
    }
  }
  return p;
}

// Index of a yes/no field's text: 0 no, 1 yes, 2 missing.
unsigned yes_no_state(const yes_no_field& y, const std::uint16_t* c, bool any) {
  return any ? (has_bit(c, y.bit) ? 1U : 0U) : 2U;
}

// Where the ready texts of one case go, and the record state of the row:
// the length of the current line (rows that break lines) and the fields
// written.
struct text_cursor {
  char* p;
  std::size_t line;
  int fields;
};

// Copies the ready texts of a case's axis fields, a whole byte's yes/no
// fields at a time. With `lines`, a line ends where the layout breaks it,
// and where it may end inside a byte's fields they go one by one.
template <bool lines>
void copy_texts(const data_plan& plan, const std::uint16_t* c, text_cursor& to) {
  const text_layout& layout = *plan.layout;
  const std::uint16_t* elmask = plan.elmask.data();
  const char* texts = plan.texts.data();
  char* p = to.p;
  std::size_t line = to.line;
  int fields = 0;
  // A field, and several fields joined in one text.
  auto fits = [&](std::size_t n) { return !lines || !breaks_line(layout, line, n); };
  auto fit_joined = [&](std::size_t n) { return !lines || fit_whole(layout, line, n); };
  auto put = [&](ready_text t) {
    if (!fits(t.size)) {
      *p++ = '\n';
      line = 0;
    }
    p = copy_text(p, texts, t);
    if (lines) line += t.size;
  };
  // The n fields of size s that make up t, with a line end wherever one
  // field at a time would put it.
  auto put_split = [&](ready_text t, std::size_t n, std::size_t s) {
    for (std::size_t done = 0; done < n;) {
      const std::size_t fit = fields_that_fit(layout, line, s);
      if (fit == 0) {
        *p++ = '\n';
        line = 0;
        continue;
      }
      const std::size_t m = std::min(fit, n - done);
      p = copy_text(p, texts,
                    ready_text{t.text + static_cast<std::uint32_t>(done * s),
                               static_cast<std::uint32_t>(m * s)});
      line += m * s;
      done += m;
    }
  };
  for (const axis_step& a : plan.axes) {
    if (!a.multi) {
      const ready_text t = single_text(plan, a, c, elmask);
      if (t.size == 0) continue;
      put(t);
      ++fields;
      continue;
    }
    fields += static_cast<int>(a.fields);
    const bool any = any_data_bit(c + a.word, elmask + a.word, a.nwords);
    if (!any && fit_joined(a.missing.size)) {
      put(a.missing);
      continue;
    }
    const field_chunk* chunk = plan.chunks.data() + a.first_chunk;
    for (const field_chunk* end = chunk + a.chunks; chunk != end; ++chunk) {
      const ready_text t =
          plan.chunk_texts[chunk->table + ((unsigned{c[chunk->word]} >> chunk->shift) & 0xFFU)];
      if (any && fit_joined(t.size)) {
        put(t);
        continue;
      }
      if (any && chunk->field_size != 0) {
        put_split(t, chunk->fields, chunk->field_size);
        continue;
      }
      for (std::uint32_t k = chunk->first; k < chunk->first + chunk->fields; ++k)
        put(plan.yes_no[k].codes[yes_no_state(plan.yes_no[k], c, any)]);
    }
  }
  to = text_cursor{p, line, to.fields + fields};
}

}  // namespace

std::string missing_text(const run_state& run) {
  return run.options.has_missing ? run.options.missing : run.defmissing;
}

data_plan make_plan(const run_state& run, const output_routines& row, const field_context& ctx) {
  data_plan plan;
  plan.layout = row.layout;
  plan.missing = missing_text(run);
  plan.elmask.assign(run.elmask, run.elmask + run.mask_words);
  plan.record_bytes = copy_room;
  plan_maker maker{run, row, ctx, plan, {}};
  int p = 0;
  for (const axis_info* a = run.axinf; a != nullptr; a = a->next) {
    if (a->head->incase == 0) continue;
    if (a->no_output == 0) {
      if (a->maxbits >= 2)
        maker.multi(a, p);
      else
        maker.single(a, p);
    }
    p += a->nwords;
  }
  plan.texts.append(copy_room, '\0');
  plan.one_byte_fields = fields_of_one_byte(plan);
  if (plan.one_byte_fields) {
    for (const ready_text& t : plan.codes)
      plan.code_bytes.push_back(t.size == 1 ? plan.texts[t.text] : '\0');
    for (const ready_text& t : plan.chunk_texts) {
      std::uint64_t word = 0;
      std::memcpy(&word, plan.texts.data() + t.text, t.size);
      plan.chunk_words.push_back(word);
    }
  }
  return plan;
}

void put_axis_texts(const data_plan& plan, const std::uint16_t* c, field_context& ctx) {
  out_buffer& sink = ctx.sink;
  if (plan.one_byte_fields) {
    sink.commit(copy_bytes(plan, c, sink.room(plan.record_bytes)));
    return;
  }
  text_cursor to{sink.room(plan.record_bytes), static_cast<std::size_t>(ctx.record.line), 0};
  if (plan.layout->line_limit != 0) {
    copy_texts<true>(plan, c, to);
    ctx.record.line = static_cast<int>(to.line);
  } else {
    copy_texts<false>(plan, c, to);
  }
  if (plan.layout->separator != 0 && to.fields != 0) {
    // Each text ends with the separator; the one after the last axis field
    // goes, and the row's own writers put one before any field that follows.
    --to.p;
    ctx.record.fields += to.fields;
  }
  sink.commit(to.p);
}

}  // namespace tx
