#include "base/misc.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <cerrno>
#include <cstdio>
#include <climits>
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

[[noreturn]] void cannot_open(const char* name, const char* mode) {
  const int reason = errno;
  stop_run(1, format_text("%s: %s\nFATAL ERROR: Cannot open \"%s\" mode \"%s\"\n", name,
                          std::strerror(reason), name, mode));
}

// The path a write through `path` reaches: symbolic links followed, a
// relative target taken from the link's directory.
std::string link_target(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
    std::string target(PATH_MAX, '\0');
    const ssize_t n = readlink(path.c_str(), target.data(), target.size());
    if (n <= 0) break;
    target.resize(static_cast<std::size_t>(n));
    const std::size_t slash = path.rfind('/');
    path = target[0] == '/' || slash == std::string::npos ? target
                                                          : path.substr(0, slash + 1) + target;
  }
  return path;
}

mode_t new_file_mode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

// A temporary file beside path (".name.XXXXXX"), with the permissions the
// real file has or would get; the stream, or null with errno set.
std::FILE* open_beside(const std::string& path, const struct stat* existing, std::string& temp) {
  const std::size_t slash = path.rfind('/');
  const std::size_t base = slash == std::string::npos ? 0 : slash + 1;
  temp = path.substr(0, base) + "." + path.substr(base) + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) return nullptr;
  std::FILE* f = nullptr;
  if (fchmod(fd, existing != nullptr ? existing->st_mode & 07777 : new_file_mode()) == 0)
    f = fdopen(fd, "w");
  if (f == nullptr) {
    const int reason = errno;
    close(fd);
    unlink(temp.c_str());
    errno = reason;
  }
  return f;
}

// The path from the root: a run that ends in another directory than the one
// its outputs were opened in still finds their temporary files.
std::string absolute(std::string path) {
  if (path.empty() || path[0] == '/') return path;
  std::string here(PATH_MAX, '\0');
  if (getcwd(here.data(), here.size()) == nullptr) return path;
  here.resize(std::strlen(here.c_str()));
  return here + "/" + path;
}

std::FILE* open_staged(run_state& run, const char* name) {
  std::string path;
  if (!foutname(name, path)) return nullptr;
  path = absolute(link_target(path));
  struct stat st {};
  const bool exists = stat(path.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode)) return std::fopen(path.c_str(), "w");
  // From the temporary file's creation until the list names it.
  const interrupts_held held;
  std::string temp;
  std::FILE* f = open_beside(path, exists ? &st : nullptr, temp);
  if (f == nullptr) return nullptr;
  // A file opened again in the same run (the measuring pass, then the
  // writing pass) replaces its earlier temporary file.
  for (staged_output& s : run.outputs.files)
    if (s.path == path) {
      unlink(s.temp.c_str());
      s.temp = temp;
      return f;
    }
  run.outputs.files.push_back({name, temp, path});
  return f;
}

}  // namespace

std::FILE* efopen(run_state& run, const char* name, const char* mode) {
  set_up_locations(run);
  std::FILE* f = std::strcmp(mode, "wt") == 0 ? open_staged(run, name) : ftmpopen(name, mode);
  if (f == nullptr) cannot_open(name, mode);
  return f;
}

std::FILE* efopen_in_place(run_state& run, const char* name, const char* mode) {
  set_up_locations(run);
  std::FILE* f = foutopen(name, mode);
  if (f == nullptr) cannot_open(name, mode);
  return f;
}

staged_outputs::~staged_outputs() { remove_staged(*this); }

void remove_staged(const staged_outputs& outputs) {
  for (const staged_output& s : outputs.files) unlink(s.temp.c_str());
}

void commit_outputs(run_state& run) {
  std::vector<staged_output>& files = run.outputs.files;
  while (!files.empty()) {
    const staged_output& s = files.front();
    // A renamed file leaves the list before a handler could remove it.
    const interrupts_held held;
    if (std::rename(s.temp.c_str(), s.path.c_str()) != 0)
      cannot_write(s.name.c_str(), errno);
    files.erase(files.begin());
  }
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

interrupts_held::interrupts_held() {
  sigset_t held;
  sigemptyset(&held);
  for (const int sig : interrupt_signals) sigaddset(&held, sig);
  pthread_sigmask(SIG_BLOCK, &held, &old);
}

interrupts_held::~interrupts_held() { pthread_sigmask(SIG_SETMASK, &old, nullptr); }

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
