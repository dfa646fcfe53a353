// Fuzz targets: one entry per reader of foreign bytes. Each entry takes the
// fuzz input, runs the reader on it in a scratch directory and returns an
// empty text when the outcome is acceptable (a completed read or a stopped
// run), or says what went wrong (a broken promise short of a crash, which the
// sanitizers report themselves). The libFuzzer wrappers (fuzz_main.cpp) and
// the regression replay in the tests call the same entries.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "jobbuild.h"

namespace tx::fuzz {

using input = std::span<const std::uint8_t>;
using entry_fn = std::string (*)(input data);

struct target {
  const char* name;  // also the directory of its corpus: fuzz/corpus/<name>/
  entry_fn run;
};

const std::vector<target>& targets();
const target* find_target(std::string_view name);

// The entries, one per reader; the empty text means a good outcome.
std::string fuzz_header(input data);    // 64-byte header check
std::string fuzz_compio(input data);    // byte 0: piece sizes and code width; then a .Z file
std::string fuzz_descrips(input data);  // byte 0 odd: a raw file; even: its text
std::string fuzz_axes(input data);      // framed axes.inf, axis files, descrips.inf
std::string fuzz_intermed(input data);  // intermed.x against the model's axes
std::string fuzz_incs(input data);      // framed incs.inf, weightin.x, wmvals*.x, descrips.inf
std::string fuzz_title(input data);     // seg1.xv
std::string fuzz_options(input data);   // framed TXSPSSRC, argv and option files
std::string fuzz_job(input data);       // a framed job, converted into all four forms
std::string fuzz_bytecode(input data);  // values and case counts through the system file's bytecode

// Several files in one input: each file starts with a line "@@>name" and runs
// to the next "@@>" or the end of the input. Bytes before the first marker are
// ignored; a name that is not a plain file name (letters, digits, ".", "_",
// "-", at most 40 characters, not starting with ".") drops its file.
inline constexpr std::string_view frame_marker = "@@>";
using framed_file = std::pair<std::string, std::string>;
std::vector<framed_file> unframe(input data);
std::string frame(const std::vector<framed_file>& files);

// The small job that the case-file, inc and axis targets put the fuzzed
// files over; the seed writer starts from it too.
job::job model_job();
// Every file of a job written by the job builder, by name.
std::vector<framed_file> job_files(const job::job& j);

}  // namespace tx::fuzz
