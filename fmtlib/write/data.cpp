// Case data writer: the second reading of "intermed.x", one data record per
// case through a row of field writers, and the measuring pass shared by the
// Triple-S and CSV writers.
#include "write/data.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <cfloat>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <initializer_list>
#include <map>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

#include "model/statvars.h"
#include "model/xtostats.h"
#include "read/axinf.h"
#include "read/intermed.h"
#include "read/title.h"
#include "base/misc.h"
#include "base/run_state.h"
#include "write/writebehind.h"
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

// Only the thread that reads the cases reads the weights: no stream lock
// for four bytes a case.
float read_weight(const weight_slot& w, std::int32_t ncases) {
  std::uint8_t b[4];
  if (fread_unlocked(b, 1, sizeof b, w.stream.get()) != sizeof b)
    stop_damaged(weight_file_name(w).c_str(),
                 "it holds fewer values than the " + std::to_string(ncases) + " cases");
  return be_f32(b, 0);
}

// The plan of a pass: every field's codes, and for a row that writes text
// the text of each code as the row itself writes it, and of the yes/no
// fields of one byte of a mask word together.

// Copies a ready text 16 bytes at a time, whatever its size, up to 32
// bytes (texts and the pass's buffer have the room): most texts take one
// store.
constexpr std::size_t copy_room = 32;
char* copy_text(char* out, const char* texts, ready_text t) {
  const char* from = texts + t.text;
  std::memcpy(out, from, 16);
  if (t.size > 16) {
    std::memcpy(out + 16, from + 16, 16);
    if (t.size > copy_room) std::memcpy(out, from, t.size);
  }
  return out + t.size;
}

ready_text add_text(data_plan& plan, std::string_view text) {
  const auto at = static_cast<std::uint32_t>(plan.texts.size());
  plan.texts.append(text);
  return ready_text{at, static_cast<std::uint32_t>(text.size())};
}

std::string_view text_of(const data_plan& plan, ready_text t) {
  return std::string_view(plan.texts).substr(t.text, t.size);
}

// What `put` makes the row write as the first field of a record, followed by
// the row's separator. The row writes into the pass's buffer, which this
// leaves empty, and ends the record there so that its record state starts
// afresh.
template <class Put>
ready_text capture(run_state& run, const output_routines& row, Put put) {
  out_buffer& sink = run.data.sink;
  put();
  std::string text(sink.bytes.data(), sink.used);
  if (row.layout->separator != 0) text += row.layout->separator;
  sink.used = 0;
  if (row.end_record != nullptr) row.end_record(run, nullptr);
  sink.used = 0;
  return add_text(run.data.plan, text);
}

field_code value_code(run_state& run, const output_routines& row, std::int32_t value, int index) {
  field_code f{{0, 0}, value, index, code_value};
  if (row.layout != nullptr)
    f.ready = capture(run, row, [&] { row.put_int(run, nullptr, value, index); });
  return f;
}

field_code missing_code(run_state& run, const output_routines& row, int index) {
  field_code f{{0, 0}, 0, index, code_missing};
  if (row.layout != nullptr)
    f.ready =
        capture(run, row, [&] { row.put_string(run, nullptr, run.data.plan.missing, index); });
  return f;
}

// Room one of these codes can take in a record: its text, and a line end
// before it when the row breaks lines.
std::size_t room_of(const output_routines& row, std::initializer_list<field_code> codes) {
  std::size_t n = 0;
  for (const field_code& f : codes) n = std::max<std::size_t>(n, f.ready.size);
  return n + (row.layout != nullptr && row.layout->line_limit != 0 ? 1 : 0);
}

// A single-coded axis writes the code of its first data element whose bit is
// set: value code k of its variable for the k-th data element (no field when
// the variable has no such code), else the missing text.
void plan_single(run_state& run, const output_routines& row, const axis_info* a, int word) {
  data_plan& plan = run.data.plan;
  const int index = -a->width;
  const auto first = static_cast<std::uint32_t>(plan.codes.size());
  std::size_t room = 0;
  int rank = 0;
  for (int i = 0; i < 16 * a->nwords; ++i) {
    field_code f{};
    if (i < a->counts->nelements && a->elements[i]->type != 0) {
      const stat_var* v = a->single_var;
      if (v != nullptr && rank < v->nvalues) f = value_code(run, row, v->values[rank], index);
      ++rank;
    }
    // Every text of a field holds at least one byte: an empty one is no field.
    plan.codes.push_back(f.kind != code_none ? f.ready : ready_text{0, 0});
    room = std::max(room, room_of(row, {f}));
  }
  const field_code missing = missing_code(run, row, index);
  plan.codes.push_back(missing.ready);
  room = std::max(room, room_of(row, {missing}));
  axis_step step{};
  step.word = word;
  step.nwords = a->nwords;
  step.first = first;
  plan.axes.push_back(step);
  plan.record_bytes += room;
}

// The texts of the yes/no fields of one chunk for every value of its byte.
// Chunks with the same fields' bits and texts share one table.
std::uint32_t chunk_table(data_plan& plan, std::map<std::string, std::uint32_t>& tables,
                          const field_chunk& c) {
  std::string key;
  for (std::uint32_t k = c.first; k < c.first + c.fields; ++k) {
    const yes_no_field& y = plan.yes_no[k];
    key += static_cast<char>(y.bit % 8);
    for (int state = 0; state < 2; ++state) {
      key += std::to_string(y.codes[state].ready.size) + ':';
      key += text_of(plan, y.codes[state].ready);
    }
  }
  const auto found = tables.find(key);
  if (found != tables.end()) return found->second;
  const auto table = static_cast<std::uint32_t>(plan.chunk_texts.size());
  for (unsigned byte = 0; byte < 256; ++byte) {
    std::string text;
    for (std::uint32_t k = c.first; k < c.first + c.fields; ++k) {
      const yes_no_field& y = plan.yes_no[k];
      text += text_of(plan, y.codes[(byte >> (y.bit % 8)) & 1U].ready);
    }
    plan.chunk_texts.push_back(add_text(plan, text));
  }
  tables.emplace(std::move(key), table);
  return table;
}

// The size of every yes and no text of the chunk's fields when they are all
// alike, else 0.
std::uint32_t common_field_size(const data_plan& plan, const field_chunk& c) {
  const std::uint32_t size = plan.yes_no[c.first].codes[0].ready.size;
  for (std::uint32_t k = c.first; k < c.first + c.fields; ++k)
    for (int state = 0; state < 2; ++state)
      if (plan.yes_no[k].codes[state].ready.size != size) return 0;
  return size;
}

// A multi-coded axis writes one field per data element that has a variable:
// its yes code when its bit is set, else its no code, or the missing text
// when no data bit of the axis is set.
void plan_multi(run_state& run, const output_routines& row, const axis_info* a, int word,
                std::map<std::string, std::uint32_t>& tables) {
  data_plan& plan = run.data.plan;
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
      y.codes[0] = value_code(run, row, 0, index);
      y.codes[1] = value_code(run, row, 1, index);
    } else {
      // SPSS and the system file keep a "no" code of -1 as it is.
      y.codes[0] = v->values[0] == -1 && row.id != row_spss && row.id != row_sav
                       ? value_code(run, row, 0, -1)
                       : value_code(run, row, v->values[0], index);
      y.codes[1] = value_code(run, row, v->values[1], index);
    }
    y.codes[2] = missing_code(run, row, index);
    plan.record_bytes += room_of(row, {y.codes[0], y.codes[1], y.codes[2]});
    missing += text_of(plan, y.codes[2].ready);
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
  if (row.layout != nullptr) {
    for (std::uint32_t k = step.first_chunk; k < step.first_chunk + step.chunks; ++k) {
      plan.chunks[k].table = chunk_table(plan, tables, plan.chunks[k]);
      plan.chunks[k].field_size = common_field_size(plan, plan.chunks[k]);
    }
    step.missing = add_text(plan, missing);
  }
  plan.axes.push_back(step);
}

void make_plan(run_state& run, const output_routines& row) {
  data_plan& plan = run.data.plan;
  plan.axes.clear();
  plan.codes.clear();
  plan.yes_no.clear();
  plan.chunks.clear();
  plan.chunk_texts.clear();
  plan.texts.clear();
  plan.record_bytes = copy_room;
  std::map<std::string, std::uint32_t> tables;
  int p = 0;
  for (const axis_info* a = run.axinf; a != nullptr; a = a->next) {
    if (a->head->incase == 0) continue;
    if (a->no_output == 0) {
      if (a->maxbits >= 2)
        plan_multi(run, row, a, p, tables);
      else
        plan_single(run, row, a, p);
    }
    p += a->nwords;
  }
  plan.texts.append(copy_room, '\0');
}

// Position of the first data bit set in the words of an axis of more than
// one word (16 * word + bit), or 16 * nwords when none is.
int first_data_bit(const std::uint16_t* words, const std::uint16_t* data, int nwords) {
  for (int w = 0; w < nwords; ++w) {
    const unsigned set = unsigned{words[w]} & data[w];
    if (set != 0) return 16 * w + std::countr_zero(set);
  }
  return 16 * nwords;
}

// The text of a single-coded axis for the case with mask words c.
inline ready_text single_text(const data_plan& plan, const axis_step& a, const std::uint16_t* c,
                              const std::uint16_t* elmask) {
  const unsigned set = unsigned{c[a.word]} & elmask[a.word];
  // With one word, bit 16 stands for "none set".
  const int i = a.nwords == 1 ? std::countr_zero(set | 0x10000U)
                              : first_data_bit(c + a.word, elmask + a.word, a.nwords);
  return plan.codes[a.first + static_cast<std::uint32_t>(i)];
}

bool any_data_bit(const axis_step& a, const std::uint16_t* c, const std::uint16_t* elmask) {
  unsigned any = 0;
  for (int w = a.word; w < a.word + a.nwords; ++w) any |= unsigned{c[w]} & elmask[w];
  return any != 0;
}

// Index of a yes/no field's code: 0 no, 1 yes, 2 missing.
unsigned yes_no_state(const yes_no_field& y, const std::uint16_t* c, bool any) {
  return any ? (unsigned{c[y.bit / 16]} >> (y.bit % 16)) & 1U : 2U;
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
// fields at a time. With `lines`, a line ends before it reaches `limit`
// characters, and where it may end inside a byte's fields they go one by
// one.
template <bool lines>
void copy_texts(const data_plan& plan, const std::uint16_t* c, const std::uint16_t* elmask,
                std::size_t limit, text_cursor& to) {
  const char* texts = plan.texts.data();
  char* p = to.p;
  std::size_t line = to.line;
  int fields = 0;
  // Whether n more characters fit the line; an empty line takes anything.
  auto fits = [&](std::size_t n) { return !lines || line + n < limit || line == 0; };
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
      std::size_t fit = line + s < limit ? (limit - 1 - line) / s : 0;
      if (line == 0) fit = std::max<std::size_t>(fit, 1);
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
    const bool any = any_data_bit(a, c, elmask);
    if (!any && (!lines || line + a.missing.size < limit)) {
      put(a.missing);
      continue;
    }
    const field_chunk* chunk = plan.chunks.data() + a.first_chunk;
    for (const field_chunk* end = chunk + a.chunks; chunk != end; ++chunk) {
      const ready_text t =
          plan.chunk_texts[chunk->table + ((unsigned{c[chunk->word]} >> chunk->shift) & 0xFFU)];
      if (any && (!lines || line + t.size < limit)) {
        put(t);
        continue;
      }
      if (any && chunk->field_size != 0) {
        put_split(t, chunk->fields, chunk->field_size);
        continue;
      }
      for (std::uint32_t k = chunk->first; k < chunk->first + chunk->fields; ++k)
        put(plan.yes_no[k].codes[yes_no_state(plan.yes_no[k], c, any)].ready);
    }
  }
  to = text_cursor{p, line, to.fields + fields};
}

// A row that writes text: the ready texts go straight into the pass's
// buffer, and the record state that the row's own writers keep goes on
// from them.
void put_texts(run_state& run, const std::uint16_t* c, const text_layout& layout) {
  const data_plan& plan = run.data.plan;
  out_buffer& sink = run.data.sink;
  text_cursor to{sink.room(plan.record_bytes), static_cast<std::size_t>(run.data.ib), 0};
  if (layout.line_limit != 0) {
    copy_texts<true>(plan, c, run.elmask, static_cast<std::size_t>(layout.line_limit), to);
    run.data.ib = static_cast<int>(to.line);
  } else {
    copy_texts<false>(plan, c, run.elmask, 0, to);
  }
  if (layout.separator != 0 && to.fields != 0) {
    // The separator after the last axis field goes; the row's own writers
    // put one before any field that follows.
    --to.p;
    run.progmode->field_count += to.fields;
  }
  sink.commit(to.p);
}

// The cases of a pass in batches: their mask words, inc values and weights,
// decoded by the thread that reads them, formatted by either formatter.
struct case_batch {
  std::int32_t cases = 0;
  std::vector<std::uint16_t> masks;  // nwords_a a case
  std::vector<float> values;         // nfloats a case
  std::vector<float> weights;        // run.weighting a case
};

// A batch takes as many cases as make about batch_bytes of records or of
// output, at least one.
constexpr std::size_t batch_bytes = 512 * 1024;
std::size_t cases_per_batch(const run_state& run, const case_layout& l, int mode) {
  // The measuring pass writes nothing, whatever plan an earlier pass left.
  std::size_t out = mode != data_measure ? run.data.plan.record_bytes : 0;
  for (const size_detail& d : run.sizedetails) out += static_cast<std::size_t>(d.width) + 16;
  const std::size_t in = 2 * std::size_t{l.nwords_a} + 4 * std::size_t{l.nfloats} +
                         4 * static_cast<std::size_t>(run.weighting);
  return std::max<std::size_t>(1, batch_bytes / std::max<std::size_t>({in, out, 1}));
}

// Reads the cases of a pass into batches and counts them.
struct batch_reader {
  run_state& run;
  case_reader& r;
  std::size_t batch_size;
  bool masks_wanted;  // not by the measuring pass, which writes no axis fields
  std::int32_t count;

  // Fills b with the next cases; false once the file has no more. A batch
  // grows as its cases arrive: sizes from the file size nothing before a
  // record is there.
  bool fill(case_batch& b) {
    static constexpr int short_record[3] = {202, 202, 202};
    const std::size_t words = r.layout.nwords_a;
    const std::size_t values = r.layout.nfloats;
    const auto weights = static_cast<std::size_t>(run.weighting);
    b.cases = 0;
    for (std::size_t k = 0; k < batch_size; ++k) {
      const std::uint8_t* rec = next_record(r, short_record);
      if (rec == nullptr) return false;
      if (masks_wanted && b.masks.size() < (k + 1) * words) b.masks.resize((k + 1) * words);
      if (b.values.size() < (k + 1) * values) b.values.resize((k + 1) * values);
      if (b.weights.size() < (k + 1) * weights) b.weights.resize((k + 1) * weights);
      decode_case(r.layout, rec, masks_wanted ? b.masks.data() + k * words : nullptr,
                  b.values.data() + k * values);
      ++count;
      for (std::size_t w = 0; w < weights; ++w)
        b.weights[k * weights + w] = read_weight(run.wght[w], run.ncases);
      ++b.cases;
    }
    return true;
  }
};

// Hands every field of the batch's cases to the row: the axis fields from
// the plan (when writing), the incs (the missing text for a missing value),
// the weights.
void format_batch(run_state& run, const output_routines& row, int mode, const case_batch& b) {
  const std::size_t words = run.layout.nwords_a;
  const std::size_t values = run.layout.nfloats;
  const auto weights = static_cast<std::size_t>(run.weighting);
  const std::string_view missing = run.data.plan.missing;
  for (std::size_t k = 0; k < static_cast<std::size_t>(b.cases); ++k) {
    int index = 0;
    if (mode != data_measure) put_axes_data(run, b.masks.data() + k * words, row);
    for (const float v : std::span(b.values).subspan(k * values, values)) {
      if (v == missing_value)
        row.put_string(run, nullptr, missing, index++);
      else
        row.put_float(run, nullptr, v, index++);
    }
    for (const float w : std::span(b.weights).subspan(k * weights, weights))
      row.put_float(run, nullptr, w, index++);
    if (row.end_record != nullptr) row.end_record(run, nullptr);
  }
}

// The second formatter of a writing pass: a thread with a run of its own,
// which holds copies of what the row's field writers read (the field sizes,
// the options, the plan, the form's row) and its own buffer and record
// state. It formats every other batch while the calling thread reads and
// formats the others; every case starts a record afresh, so the bytes are
// those of one formatter.
struct second_formatter {
  run_state lane;
  const output_routines& row;
  int mode;
  std::mutex lock;
  std::condition_variable changed;
  const case_batch* job = nullptr;  // the batch being formatted
  bool closing = false;
  std::exception_ptr failure;
  std::thread thread;

  second_formatter(const run_state& run, const output_routines& formatter_row, int pass_mode)
      : row(formatter_row), mode(pass_mode) {
    lane.options = run.options;
    lane.drivers = run.drivers;
    if (run.progmode != nullptr)
      lane.progmode = lane.drivers.data() + (run.progmode - run.drivers.data());
    lane.layout = run.layout;
    lane.elmask = run.elmask;
    lane.weighting = run.weighting;
    lane.sizedetails = run.sizedetails;
    lane.data.plan = run.data.plan;
    thread = start_thread([this] { serve(); });
  }
  ~second_formatter() { end_thread(lock, changed, closing, thread); }
  second_formatter(const second_formatter&) = delete;
  second_formatter& operator=(const second_formatter&) = delete;

  void start(const case_batch& b) {
    {
      const std::lock_guard<std::mutex> guard(lock);
      job = &b;
    }
    changed.notify_all();
  }
  // Waits for the batch; a stop of the formatter stops the run.
  void wait() {
    std::unique_lock<std::mutex> guard(lock);
    changed.wait(guard, [this] { return job == nullptr; });
    if (failure) std::rethrow_exception(std::exchange(failure, nullptr));
  }
  void serve() {
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
      changed.wait(guard, [this] { return closing || job != nullptr; });
      if (closing) return;
      const case_batch& batch = *job;
      guard.unlock();
      try {
        format_batch(lane, row, mode, batch);
      } catch (...) {
        failure = std::current_exception();
      }
      guard.lock();
      job = nullptr;
      changed.notify_all();
    }
  }
};

void check_written(write_behind& writer, const char* name) {
  if (const int reason = writer.error(); reason != 0) cannot_write(name, reason);
}

// The buffered bytes go to the writer; an earlier failed write stops the run.
void hand_over(write_behind& writer, out_buffer& sink, const char* name) {
  if (sink.used != 0) sink.bytes = writer.hand_over(std::move(sink.bytes), sink.used);
  sink.used = 0;
  check_written(writer, name);
}

}  // namespace

void put_axes_data(run_state& run, const std::uint16_t* c, const output_routines& row) {
  put_texts(run, c, *row.layout);
}

void create_data(run_state& run, const char* name, const output_routines& row, int mode) {
  // Without a name the pass writes no file: the system file's rows hand
  // their values to its own writer.
  run.data.fp_data.reset(name != nullptr ? efopen(run, name, "wt") : nullptr);
  run.data.ib = 0;
  // The field writers collect the pass's output in run.data.sink; what is
  // left there goes once the pass ends, however it ends.
  run.data.sink.used = 0;
  struct sink_guard {
    out_buffer& sink;
    ~sink_guard() { sink.used = 0; }
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

  run.data.plan.missing = missing_text(run);
  if (mode != data_measure) make_plan(run, row);
  const std::size_t batch_size = cases_per_batch(run, r.layout, mode);
  batch_reader reader{run, r, batch_size, mode != data_measure, 0};
  std::array<case_batch, 2> batches;
  if (mode == data_write && name != nullptr) {
    // Two formatters, each taking every other batch; their bytes reach the
    // file in the order of the cases.
    write_behind writer(run.data.fp_data.get());
    second_formatter second(run, row, mode);
    for (bool more = true; more;) {
      more = reader.fill(batches[0]);
      second.start(batches[0]);
      batches[1].cases = 0;
      if (more) more = reader.fill(batches[1]);
      format_batch(run, row, mode, batches[1]);
      second.wait();
      hand_over(writer, second.lane.data.sink, name);
      hand_over(writer, run.data.sink, name);
    }
    writer.wait();
    check_written(writer, name);
  } else {
    // Measuring writes nothing, and the system file's rows take each case's
    // bytes as it ends: one formatter.
    for (bool more = true; more;) {
      more = reader.fill(batches[0]);
      format_batch(run, row, mode, batches[0]);
    }
  }
  if (reader.count != run.ncases) error(203);

  r.ahead.reset();
  in.reset();
  for (int w = 0; w < run.weighting; ++w)
    std::fseek(run.wght[w].stream.get(), run.wght[w].position, SEEK_SET);
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

void measure_fields(run_state& run, const char* /*data_name*/, bool fixed_columns) {
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

  create_data(run, nullptr, outputroutines[row_measure], data_measure);  // opens no output
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
