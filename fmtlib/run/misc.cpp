#include "run/misc.h"

#include <sys/stat.h>

#include <algorithm>

#include <cerrno>
#include <cstdio>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "run/run_state.h"
#include "run/showmsg.h"
#include "txlib/filopen.h"

namespace tx {

void errormess(int code, const char* text) {
  stop_run(1, format_text("\n Fatal error %d <%s>\n", code, text));
}

void error(int code) { stop_run(1, format_text("ERROR: %d\n", code)); }

void stop_damaged(const char* name, const std::string& what) {
  stop_run(1, format_text("ERROR: file \"%s\" is damaged: %s\n", name, what.c_str()));
}

std::FILE* efopen(run_state& run, const char* name, const char* mode) {
  if (!run.files_ready) {
    if (ftmpinit() != 0) stop_run(1, "Error: cannot allocate space for mainpath\n");
    run.files_ready = true;
  }
  std::FILE* f = std::strcmp(mode, "wt") == 0 ? foutopen(name, mode) : ftmpopen(name, mode);
  if (f == nullptr) {
    const int reason = errno;
    stop_run(1, format_text("%s: %s\nFATAL ERROR: Cannot open \"%s\" mode \"%s\"\n", name,
                            std::strerror(reason), name, mode));
  }
  return f;
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
  if (failed)
    stop_run(1, format_text("ERROR: cannot write \"%s\": %s\n", name, std::strerror(reason)));
}

void out_buffer::flush() {
  if (used != 0 && stream != nullptr) std::fwrite(bytes.data(), 1, used, stream);
  used = 0;
}

void out_buffer::make_room(std::size_t n) {
  flush();
  if (bytes.size() < n || bytes.size() < out_buffer_size) bytes.resize(std::max(n, out_buffer_size));
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
