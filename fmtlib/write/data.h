// Case data writer: reads the intermediate case file again, after the masks
// pass of the reader, and hands every field of every case to a row of field
// writers: to measure the numeric fields for the metadata writers, to write
// a data file, or to write the system file's cases.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "base/run_state.h"

namespace tx {

struct output_routines;

enum class data_pass {
  measure,      // the measuring row records kind, width, decimals and range of
                // every numeric field in run.sizedetails; nothing is written
  text,         // a data file, through a row that writes text
  system_file,  // the system file's cases, compressed into its bytecode
};

// One pass over the cases through `row`. A text or system_file pass writes
// into `out` (opened by the caller, who also closes it; `name` names it in
// messages); a measuring pass takes null for both.
void create_data(run_state& run, std::FILE* out, const char* name, const output_routines& row,
                 data_pass kind);
// The data file of a form: opens it (staged, like every output), writes
// every case through `row` and closes it.
void write_data_file(run_state& run, const char* name, const output_routines& row);

// Cases as a pass reads them, in batches of many: decoded by the thread
// that reads them, or, in a pass that writes the cases, kept as the file's
// records for the thread that formats them to decode.
struct case_batch {
  std::int32_t cases = 0;
  std::size_t nwords = 0;             // mask words a case (none in a measuring pass)
  std::size_t nvalues = 0;            // inc values a case
  std::size_t nweights = 0;           // weights a case
  std::vector<std::uint16_t> masks;   // nwords a case
  std::vector<float> values;          // nvalues a case
  std::vector<float> weights;         // nweights a case
  std::size_t record_size = 0;        // bytes of a record when the records are kept, else 0
  std::vector<std::uint8_t> records;  // record_size a case; masks and values then stay empty
};
// Reads every case of the case file and the weight files once, in order,
// and hands each batch to `take`; the weight files are then back where they
// were. A short weight file or case file stops the run.
void read_cases(run_state& run, const std::function<void(const case_batch&)>& take);

// A thread that works on one batch at a time beside the thread that reads
// the cases: a pass's second formatter, the codebook's second counter.
struct batch_worker {
  explicit batch_worker(std::function<void(const case_batch&)> work);
  // Ends the thread once its batch is done; work not yet begun is dropped.
  ~batch_worker();
  batch_worker(const batch_worker&) = delete;
  batch_worker& operator=(const batch_worker&) = delete;

  // Hands `b` over; it must stay as it is until wait() returns (declare the
  // batches before the worker, so that a stop unwinds the worker first).
  void start(const case_batch& b);
  // Returns once the batch is done; a stop of the work stops the run here.
  void wait();

 private:
  void serve();

  std::function<void(const case_batch&)> work_;
  std::mutex lock_;
  std::condition_variable changed_;
  const case_batch* job_ = nullptr;  // the batch being worked on
  bool closing_ = false;
  std::exception_ptr failure_;
  std::thread thread_;
};

// Shared by the Triple-S, CSV and system-file writers: makes one size record
// per numeric node of run.statlist (in list order), gives the Triple-S
// widths to the other lone nodes when `fixed_columns`, and runs the
// measuring pass.
void measure_fields(run_state& run, bool fixed_columns);

// Raises each numeric field's width to the printed length of its smallest and
// largest value (with the field's final kind and decimals); a field that never
// got a value gets width 1 at least.
void settle_widths(std::vector<size_detail>& sizes);

}  // namespace tx
