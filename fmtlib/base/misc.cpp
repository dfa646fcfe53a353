#include "base/misc.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/run_state.h"
#include "base/showmsg.h"
#include "txlib/filopen.h"
#include "txlib/version.h"

namespace tx {

void errormess(int code, const char* text) {
  stop_run(1, format_text("\n Fatal error %d <%s>\n", code, text));
}

void error(int code) { stop_run(1, format_text("ERROR: %d\n", code)); }

void stop_damaged(const char* name, const std::string& what) {
  stop_run(1, format_text("ERROR: file \"%s\" is damaged: %s\n", name, what.c_str()));
}

namespace {

void set_up_locations(run_state& run) {
  if (run.files_ready) return;
  if (ftmpinit() != 0) stop_run(1, "Error: cannot allocate space for mainpath\n");
  run.files_ready = true;
}

[[noreturn]] void cannot_open(const char* name, const char* mode, const char* reason) {
  stop_run(1, format_text("%s: %s\nFATAL ERROR: Cannot open \"%s\" mode \"%s\"\n", name, reason,
                          name, mode));
}

[[noreturn]] void cannot_open(const char* name, const char* mode) {
  cannot_open(name, mode, std::strerror(errno));
}

std::FILE* open_output(run_state& run, const char* name) {
  std::string path;
  return foutname(name, path) ? open_staged(run.outputs, name, path) : nullptr;
}

}  // namespace

std::FILE* efopen(run_state& run, const char* name, const char* mode) {
  set_up_locations(run);
  if (std::strcmp(mode, "wt") == 0) {
    std::FILE* f = open_output(run, name);
    if (f == nullptr) cannot_open(name, mode);
    return f;
  }
  std::string why;
  std::FILE* f = input_stream(tmpopen(name, input_flags), mode, why);
  if (f == nullptr) cannot_open(name, mode, why.c_str());
  return f;
}

std::FILE* efopen_in_place(run_state& run, const char* name, const char* mode) {
  set_up_locations(run);
  std::FILE* f = foutopen(name, mode);
  if (f == nullptr) cannot_open(name, mode);
  return f;
}

void check_output(run_state& run, const char* name) {
  set_up_locations(run);
  std::string path;
  if (!foutname(name, path)) return;  // the open names the reason
  if (const int refused = output_refusal(path); refused != 0)
    cannot_open(name, "wt", std::strerror(refused));
}

std::FILE* input_stream(int fd, const char* mode, std::string& why) {
  struct stat st {};
  if (fd < 0 || fstat(fd, &st) != 0) {
    why = std::strerror(errno);
    if (fd >= 0) close(fd);
    return nullptr;
  }
  if (!S_ISREG(st.st_mode)) {
    why = S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : not_regular;
    close(fd);
    return nullptr;
  }
  std::FILE* f = nullptr;
  const int flags = fcntl(fd, F_GETFL);
  if (flags != -1 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0) f = fdopen(fd, mode);
  if (f == nullptr) {
    why = std::strerror(errno);
    close(fd);
  }
  return f;
}

void refuse_irregular(const std::string& path, const char* name) {
  struct stat st {};
  if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) cannot_open(name, "r", not_regular);
}

void check_job_header(std::FILE* f, const char* name, short type) {
  file_header vers{};
  const header_check found = check_header(fileno(f), type, vers);
  const std::string message = header_message(found, name, type, vers);
  if (found == header_empty || found == header_out_of_date || found == header_unknown)
    stop_run(1, message);
  std::fputs(message.c_str(), stderr);
}

void close_output(file_ptr& f, const char* name) {
  if (!f) return;
  std::FILE* stream = f.release();
  bool failed = std::fflush(stream) != 0;
  int reason = failed ? errno : 0;
  if (std::ferror(stream) != 0 && !failed) {
    failed = true;
    reason = EIO;
  }
  if (std::fclose(stream) != 0 && !failed) {
    failed = true;
    reason = errno;
  }
  if (failed) cannot_write(name, reason);
}

void cannot_write(const char* name, int reason) {
  stop_run(1, format_text("ERROR: cannot write \"%s\": %s\n", name, std::strerror(reason)));
}

void out_buffer::make_room(std::size_t n) {
  const std::size_t want = std::max(used + n, out_buffer_size);
  if (bytes.size() < want) bytes.resize(std::max(want, 2 * bytes.size()));
}

void read_record(std::FILE* f, std::span<std::uint8_t> rec, const char* name, const char* what) {
  if (rec.empty()) return;
  if (std::fread(rec.data(), 1, rec.size(), f) != rec.size())
    stop_damaged(name, format_text("it ends inside %s", what));
}

long file_size(std::FILE* f) {
  struct stat st {};
  if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return static_cast<long>(st.st_size);
}

long bytes_left(std::FILE* f) {
  const long size = file_size(f);
  const long at = std::ftell(f);
  if (size < 0 || at < 0) return LONG_MAX;
  return size > at ? size - at : 0;
}

std::string blank_controls(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 32) c = ' ';
  return out;
}

void* emalloc(std::size_t n) {
  void* p = std::malloc(n == 0 ? 1 : n);
  if (p == nullptr) errormess(0, "out of memory in emalloc();");
  return p;
}

void morestvars(run_state& run) {
  run.stvarmax += 9500;
  try {
    run.stvars.reserve(run.stvarmax);
  } catch (const std::bad_alloc&) {
    errormess(0, run.stvars.empty() ? "unable to allocate memory for stvars[]"
                                    : "unable to reallocate memory for stvars[]");
  }
}

}  // namespace tx
