// Fatal ends of a run, the guarded opens and checked reading of records.
#pragma once
#include <fcntl.h>

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "base/staging.h"
#include "txlib/filopen.h"

namespace tx {

struct run_state;

// Ends the run; main() writes the message to stderr and exits with status.
// Not derived from std::exception, so no general catch swallows it.
struct run_stopped {
  int status = 1;
  std::string message;
};
[[noreturn]] inline void stop_run(int status, std::string message) {
  throw run_stopped{status, std::move(message)};
}
// "\n Fatal error %d <%s>\n", status 1.
[[noreturn]] void errormess(int code, const char* text);
// "ERROR: %d\n", status 1.
[[noreturn]] void error(int code);
// A job file that ends early or holds an impossible value:
// "ERROR: file \"<name>\" is damaged: <what>\n", status 1.
[[noreturn]] void stop_damaged(const char* name, const std::string& what);
// An output that could not be written: "ERROR: cannot write \"<name>\":
// <the system's reason>\n", status 1.
[[noreturn]] void cannot_write(const char* name, int reason);

// Guarded open: output files (mode "wt") go to the permanent directory with the
// suffix rule, everything else comes from the temporary directory. Stops the
// run with the system's reason and "FATAL ERROR: Cannot open ..." on failure.
// An output is staged (open_staged): written to a temporary file and put in
// place by commit_outputs, or written in place when it is a FIFO or a
// device. An input must be a regular file.
std::FILE* efopen(run_state& run, const char* name, const char* mode);
// An output written in place, never staged: the debug listing, which a
// failed run keeps.
std::FILE* efopen_in_place(run_state& run, const char* name, const char* mode);
// Refuses, as efopen would, an existing output that could not be written in
// place (its permission bits, an immutable or append-only flag): checked
// before anything is written.
void check_output(run_state& run, const char* name);
// Flushes and closes an output file; stops the run when a write or the close failed.
void close_output(file_ptr& f, const char* name);

// Inputs are opened with these flags: a FIFO does not block the open.
inline constexpr int input_flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
// The reason given for an input that is no regular file.
inline constexpr const char* not_regular = "not a regular file";
// A stream on fd, an input opened with input_flags (-1: the open failed,
// errno set). Only a regular file: a FIFO, a device or a directory would
// block the run or never end. Null with `why` the reason otherwise.
std::FILE* input_stream(int fd, const char* mode, std::string& why);
// Stops the run, as efopen would, when the file at path exists and is no
// regular file (an input that another module opens).
void refuse_irregular(const std::string& path, const char* name);
// The header check of a job file (getversn). A file that is empty, of the
// out-of-date format or no file of the system at all stops the run after
// its message; another type, version or structure block is reported and the
// reading goes on.
void check_job_header(std::FILE* f, const char* name, short type);

// A thread for the run's own work. Termination signals never reach it (a
// thread starts with its creator's signal mask), so the handler and the held
// signals stay with the thread that runs the conversion; a write of its own
// to a closed pipe fails with EPIPE, a write error. A thread that cannot
// start stops the run.
template <class Body>
std::thread start_thread(Body body) {
  const interrupts_held held;
  try {
    return std::thread(std::move(body));
  } catch (const std::system_error& e) {
    stop_run(1, std::string("ERROR: cannot start a thread: ") + e.what() + "\n");
  }
}
// Tells such a thread to end (its `closing` flag, under its lock) and waits
// for it; work it has not begun is dropped.
inline void end_thread(std::mutex& lock, std::condition_variable& changed, bool& closing,
                       std::thread& thread) {
  {
    const std::lock_guard<std::mutex> guard(lock);
    closing = true;
  }
  changed.notify_all();
  thread.join();
}

// The bytes of a data pass on their way to a file (or to the system file's
// own writer), collected field by field: one growing block instead of one
// stdio call per field.
inline constexpr std::size_t out_buffer_size = 256 * 1024;
struct out_buffer {
  std::vector<char> bytes;
  std::size_t used = 0;

  // At least n free bytes at the end of the buffered ones.
  char* room(std::size_t n) {
    if (bytes.size() - used < n) make_room(n);
    return bytes.data() + used;
  }
  // The bytes up to `end` (inside the room) are taken.
  void commit(const char* end) { used = static_cast<std::size_t>(end - bytes.data()); }
  void make_room(std::size_t n);
};

// Reads exactly rec.size() bytes; stops the run naming the file and `what` otherwise.
void read_record(std::FILE* f, std::span<std::uint8_t> rec, const char* name, const char* what);
// Size in bytes of an open file, or -1 when it cannot be told (a pipe).
long file_size(std::FILE* f);
// Bytes from the current position to the end of the file (LONG_MAX when unknown).
long bytes_left(std::FILE* f);

// The text with every control character (bytes 1 to 31) as a blank: the
// metadata writers keep each text on its line and inside its quotes.
std::string blank_controls(std::string_view text);

void* emalloc(std::size_t n);  // stops the run when memory is exhausted
void morestvars(run_state& run);

}  // namespace tx
