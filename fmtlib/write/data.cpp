// Case data writer: the passes over "intermed.x" after the masks pass, one
// record per case through a row of field writers, and the measuring pass
// shared by the Triple-S, CSV and system-file writers.
#include "write/data.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

#include "base/misc.h"
#include "base/run_state.h"
#include "base/showmsg.h"
#include "model/statvars.h"
#include "model/xtostats.h"
#include "read/axinf.h"
#include "read/intermed.h"
#include "txlib/bytes.h"
#include "txlib/version.h"
#include "write/bytecode.h"
#include "write/funcs.h"
#include "write/plan.h"
#include "write/writebehind.h"

namespace tx {

namespace {

constexpr const char* case_file = "intermed.x";

std::string weight_file_name(const weight_slot& w) {
  return "wmvals" + std::to_string(w.number) + ".x";
}

// read_case_layout has checked the axis words; the numeric fields of a record
// must match the size records, which the row's writers index (all but the
// SPSS row's).
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

// A batch takes as many cases as make about batch_bytes of records or of
// output, at least one.
constexpr std::size_t batch_bytes = 512 * 1024;
std::size_t cases_per_batch(const run_state& run, const case_layout& l, std::size_t out) {
  for (const size_detail& d : run.sizedetails) out += static_cast<std::size_t>(d.width) + 16;
  const std::size_t in = 2 * std::size_t{l.nwords_a} + 4 * std::size_t{l.nfloats} +
                         4 * static_cast<std::size_t>(run.weighting);
  return std::max<std::size_t>(1, batch_bytes / std::max<std::size_t>({in, out, 1}));
}

// The case file of one pass, open from its first record, and the weight
// files' positions to go back to when the pass ends, however it ends.
struct case_source {
  run_state& run;
  file_ptr in;
  case_reader r;
  std::size_t batch_size = 1;
  bool masks_wanted = true;   // not by the measuring pass, which writes no axis fields
  bool keep_records = false;  // the formatters decode the records (a pass that writes)
  std::int32_t count = 0;

  explicit case_source(run_state& pass_run) : run(pass_run), in(efopen(run, case_file, "r")) {
    for (int w = 0; w < run.weighting; ++w)
      run.wght[w].position = std::ftell(run.wght[w].stream.get());
    // A refused header has been reported by getversn; the reading goes on.
    getversn(fileno(in.get()), case_file, 0, 12, 0);
    r.f = in.get();
    read_case_layout(run, r);
  }
  ~case_source() {
    r.ahead.reset();
    for (int w = 0; w < run.weighting; ++w)
      std::fseek(run.wght[w].stream.get(), run.wght[w].position, SEEK_SET);
  }
  case_source(const case_source&) = delete;
  case_source& operator=(const case_source&) = delete;

  // Fills b with the next cases; false once the file has no more. A batch
  // grows as its cases arrive: sizes from the file size nothing before a
  // record is there.
  bool fill(case_batch& b) {
    static constexpr int short_record[3] = {202, 202, 202};
    b.nwords = masks_wanted ? r.layout.nwords_a : 0;
    b.nvalues = r.layout.nfloats;
    b.nweights = static_cast<std::size_t>(run.weighting);
    b.record_size = keep_records ? record_size(r.layout) : 0;
    b.cases = 0;
    for (std::size_t k = 0; k < batch_size; ++k) {
      const std::uint8_t* rec = next_record(r, short_record);
      if (rec == nullptr) return false;
      if (b.weights.size() < (k + 1) * b.nweights) b.weights.resize((k + 1) * b.nweights);
      if (keep_records) {
        if (b.records.size() < (k + 1) * b.record_size) b.records.resize((k + 1) * b.record_size);
        std::memcpy(b.records.data() + k * b.record_size, rec, b.record_size);
      } else {
        if (b.masks.size() < (k + 1) * b.nwords) b.masks.resize((k + 1) * b.nwords);
        if (b.values.size() < (k + 1) * b.nvalues) b.values.resize((k + 1) * b.nvalues);
        decode_case(r.layout, rec, masks_wanted ? b.masks.data() + k * b.nwords : nullptr,
                    b.values.data() + k * b.nvalues);
      }
      ++count;
      for (std::size_t w = 0; w < b.nweights; ++w)
        b.weights[k * b.nweights + w] = read_weight(run.wght[w], run.ncases);
      ++b.cases;
    }
    return true;
  }
  // Every case was there: as many as the masks pass counted.
  void check_count() const {
    if (count != run.ncases) error(203);
  }
};

// Hands every field of the batch's cases to the row: the axis fields from
// the plan, the incs (the missing text for a missing value), the weights.
// Each record is decoded just before its fields are written, so that its
// words are at hand in this thread's cache.
void format_batch(field_context& ctx, const data_plan& plan, const case_layout& layout,
                  const output_routines& row, const case_batch& b) {
  std::vector<std::uint16_t> masks(b.nwords);
  std::vector<float> values(b.nvalues);
  for (std::size_t k = 0; k < static_cast<std::size_t>(b.cases); ++k) {
    int index = 0;
    decode_case(layout, b.records.data() + k * b.record_size, masks.data(), values.data());
    put_axis_texts(plan, masks.data(), ctx);
    for (const float v : values) {
      if (v == missing_value)
        row.put_string(ctx, nullptr, plan.missing, index++);
      else
        row.put_float(ctx, nullptr, v, index++);
    }
    for (const float w : std::span(b.weights).subspan(k * b.nweights, b.nweights))
      row.put_float(ctx, nullptr, w, index++);
    if (row.end_record != nullptr) row.end_record(ctx, nullptr);
  }
}

// The measuring pass's fields [first, last) of the batch's cases, in the
// order of the cases: the incs (a missing value with the missing text) and
// then the weights.
void measure_batch(field_context& ctx, std::string_view missing, const output_routines& row,
                   const case_batch& b, std::size_t first, std::size_t last) {
  const std::size_t fields = b.nvalues + b.nweights;
  for (std::size_t k = 0; k < static_cast<std::size_t>(b.cases); ++k) {
    const float* values = b.values.data() + k * b.nvalues;
    const float* weights = b.weights.data() + k * b.nweights;
    for (std::size_t i = first; i < last && i < fields; ++i) {
      const int index = static_cast<int>(i);
      if (i >= b.nvalues)
        row.put_float(ctx, nullptr, weights[i - b.nvalues], index);
      else if (values[i] == missing_value)
        row.put_string(ctx, nullptr, missing, index);
      else
        row.put_float(ctx, nullptr, values[i], index);
    }
  }
}

// Where the formatters' bytes go: straight to the writer, or, for the
// system file, through the bytecode encoder first, which rewrites them where
// they lie.
struct pass_output {
  write_behind writer;
  const char* name;
  std::optional<bytecode_encoder> encoder;
  std::size_t fields_per_case = 0;  // system file: the fields of every case

  pass_output(std::FILE* out, const char* file_name) : writer(out), name(file_name) {}

  // An empty buffer for a formatter: for the encoder, with the room it
  // keeps before the fields.
  void start(out_buffer& sink) const {
    sink.used = 0;
    if (encoder)
      sink.commit(sink.room(bytecode_encoder::front_room) + bytecode_encoder::front_room);
  }
  // The formatted bytes of `cases` cases; an earlier failed write stops
  // the run.
  void take(out_buffer& sink, std::int32_t cases) {
    std::size_t begin = 0;
    if (encoder) {
      const std::size_t fields = encoder->encode(sink, begin);
      if (fields != fields_per_case * static_cast<std::size_t>(cases))
        stop_run(1, format_text("ERROR: cannot write \"%s\": %zu fields for %d cases of %zu\n",
                                name, fields, static_cast<int>(cases), fields_per_case));
    }
    hand_over(sink, begin);
    start(sink);
    check();
  }
  // The last bytes: the encoder's open group, padded.
  void finish() {
    if (encoder) {
      out_buffer last;
      encoder->finish(last);
      hand_over(last, 0);
    }
    writer.wait();
    check();
  }
  void hand_over(out_buffer& b, std::size_t begin) {
    if (b.used > begin) b.bytes = writer.hand_over(std::move(b.bytes), b.used, begin);
    b.used = 0;
  }
  void check() {
    if (const int reason = writer.error(); reason != 0) cannot_write(name, reason);
  }
};

}  // namespace

batch_worker::batch_worker(std::function<void(const case_batch&)> work)
    : work_(std::move(work)), thread_(start_thread([this] { serve(); })) {}

batch_worker::~batch_worker() { end_thread(lock_, changed_, closing_, thread_); }

void batch_worker::start(const case_batch& b) {
  {
    const std::lock_guard<std::mutex> guard(lock_);
    job_ = &b;
  }
  changed_.notify_all();
}

void batch_worker::wait() {
  std::unique_lock<std::mutex> guard(lock_);
  changed_.wait(guard, [this] { return job_ == nullptr; });
  if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
}

void batch_worker::serve() {
  std::unique_lock<std::mutex> guard(lock_);
  for (;;) {
    changed_.wait(guard, [this] { return closing_ || job_ != nullptr; });
    if (closing_) return;
    const case_batch& batch = *job_;
    guard.unlock();
    try {
      work_(batch);
    } catch (...) {
      failure_ = std::current_exception();
    }
    guard.lock();
    job_ = nullptr;
    changed_.notify_all();
  }
}

namespace {

// The measuring pass: the widths and decimals learnt depend on the order
// of a field's values, so each field is measured by one of two threads, the
// first half of the fields by the second thread, case after case, while
// this one measures the other half and then reads the next batch. A missing
// value counts with the text written for it.
void measure_cases(run_state& run, case_source& source, field_context& ctx,
                   const output_routines& row) {
  const std::string missing = missing_text(run);
  source.masks_wanted = false;
  source.batch_size = cases_per_batch(run, source.r.layout, 0);
  const std::size_t split = run.sizedetails.size() / 2;
  std::array<case_batch, 2> batches;
  field_context first_half = ctx;
  batch_worker second(
      [&](const case_batch& b) { measure_batch(first_half, missing, row, b, 0, split); });
  bool more = source.fill(batches[0]);
  for (std::size_t k = 0;; k ^= 1U) {
    second.start(batches[k]);
    measure_batch(ctx, missing, row, batches[k], split, run.sizedetails.size());
    batches[k ^ 1U].cases = 0;
    const bool last = !more;
    if (more) more = source.fill(batches[k ^ 1U]);
    second.wait();
    if (last) break;
  }
  source.check_count();
  std::copy(first_half.sizes.begin(), first_half.sizes.begin() + static_cast<std::ptrdiff_t>(split),
            run.sizedetails.begin());
  std::copy(ctx.sizes.begin() + static_cast<std::ptrdiff_t>(split), ctx.sizes.end(),
            run.sizedetails.begin() + static_cast<std::ptrdiff_t>(split));
}

}  // namespace

void create_data(run_state& run, std::FILE* out, const char* name, const output_routines& row,
                 data_pass kind) {
  case_source source(run);
  check_numeric_fields(run, source.r, row);
  field_context ctx = make_field_context(run);

  if (kind == data_pass::measure) {
    measure_cases(run, source, ctx, row);
    return;
  }

  // Two formatters, each taking every other batch; their bytes reach the
  // file in the order of the cases.
  const data_plan plan = make_plan(run, row, ctx);
  source.batch_size = cases_per_batch(run, source.r.layout, plan.record_bytes);
  source.keep_records = true;
  pass_output output(out, name);
  if (kind == data_pass::system_file) {
    output.encoder.emplace();
    output.fields_per_case = plan.fields + source.r.layout.nfloats + source.run.weighting;
  }
  output.start(ctx.sink);
  // The second formatter has a field context of its own, a copy of this
  // thread's; every case starts a record afresh, so the bytes are those of
  // one formatter. It hands its bytes on itself: this thread handed its
  // batch before on before starting it, and hands its own on once it has
  // waited for it, so the encoder and the writer take the batches in
  // order. The batches outlive it, however the pass stops.
  std::array<case_batch, 2> batches;
  field_context second_ctx = ctx;
  batch_worker second([&](const case_batch& b) {
    format_batch(second_ctx, plan, source.r.layout, row, b);
    output.take(second_ctx.sink, b.cases);
  });
  for (bool more = true; more;) {
    more = source.fill(batches[0]);
    second.start(batches[0]);
    batches[1].cases = 0;
    if (more) more = source.fill(batches[1]);
    format_batch(ctx, plan, source.r.layout, row, batches[1]);
    second.wait();
    output.take(ctx.sink, batches[1].cases);
  }
  source.check_count();
  output.finish();
}

void write_data_file(run_state& run, const char* name, const output_routines& row) {
  file_ptr f(efopen(run, name, "wt"));
  create_data(run, f.get(), name, row, data_pass::text);
  close_output(f, name);
}

void read_cases(run_state& run, const std::function<void(const case_batch&)>& take) {
  case_source source(run);
  source.batch_size = cases_per_batch(run, source.r.layout, 0);
  case_batch batch;
  for (bool more = true; more;) {
    more = source.fill(batch);
    take(batch);
  }
  source.check_count();
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

void measure_fields(run_state& run, bool fixed_columns) {
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

  // Without a numeric field there is nothing to measure: the pass that
  // writes the cases reads the case file, and checks it, once more anyway.
  if (numeric != 0)
    create_data(run, nullptr, nullptr, outputroutines[row_measure], data_pass::measure);
  settle_widths(run.sizedetails);
}

}  // namespace tx
