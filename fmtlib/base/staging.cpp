#include "base/staging.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <ctime>
#include <utility>

#include "base/misc.h"
#include "base/showmsg.h"

namespace tx {

namespace {

// Tries at a fresh hidden name before giving up (EEXIST every time).
constexpr int name_tries = 64;
// Symbolic links followed from an output's path to the file it reaches.
constexpr int link_hops = 40;

// ".<base>.XXXXXX", the six characters random.
std::string hidden_name(const std::string& base) {
  static constexpr char letters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::array<unsigned char, 6> r{};
  if (getrandom(r.data(), r.size(), GRND_NONBLOCK) != static_cast<ssize_t>(r.size())) {
    // No random bytes yet (early boot): the clock differs from try to try.
    auto t = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    t ^= static_cast<unsigned long long>(getpid()) << 20;
    for (unsigned char& c : r) {
      c = static_cast<unsigned char>(t);
      t = t * 6364136223846793005ULL + 1442695040888963407ULL;
    }
  }
  std::string name = "." + base + ".";
  for (const unsigned char c : r) name += letters[c % (sizeof letters - 1)];
  return name;
}

// "dir/name" gives "dir" and "name"; "name" gives "." and "name".
std::pair<std::string, std::string> split_path(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? std::string("/") : path.substr(0, slash), path.substr(slash + 1)};
}

// A directory to write into. One that may be searched and written but not
// listed is opened for its path only: everything works but its lock.
int open_directory(int at, const std::string& path) {
  int fd = openat(at, path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0 && errno == EACCES) fd = openat(at, path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  return fd;
}

void close_keeping_errno(int fd) {
  const int reason = errno;
  if (fd >= 0) close(fd);
  errno = reason;
}

// The directory and name that a write through `path` reaches: symbolic links
// followed, a relative target taken from the link's directory. False with
// errno set when a directory on the way cannot be opened.
bool reach(const std::string& path, int& dir, std::string& base) {
  auto [where, name] = split_path(path);
  dir = open_directory(AT_FDCWD, where);
  if (dir < 0) return false;
  base = std::move(name);
  for (int hops = 0; hops < link_hops; ++hops) {
    std::string target(PATH_MAX, '\0');
    // No link (EINVAL) or nothing there yet (ENOENT): this is the file.
    const ssize_t n = readlinkat(dir, base.c_str(), target.data(), target.size());
    if (n <= 0) break;
    target.resize(static_cast<std::size_t>(n));
    auto [target_dir, target_name] = split_path(target);
    if (target_dir != ".") {
      const int next = open_directory(dir, target_dir);  // an absolute one ignores dir
      if (next < 0) {
        close_keeping_errno(dir);
        dir = -1;
        return false;
      }
      close(dir);
      dir = next;
    }
    base = std::move(target_name);
  }
  return true;
}

int refusal_at(int dir, const std::string& base) {
  struct statx sx {};
  if (statx(dir, base.c_str(), 0, STATX_TYPE | STATX_MODE, &sx) != 0)
    return errno == ENOENT ? 0 : errno;
  if (!S_ISREG(sx.stx_mode)) return 0;
  if (faccessat(dir, base.c_str(), W_OK, AT_EACCESS) != 0) return errno;
  // Both flags bar an in-place write, to root too; access() sees only the
  // immutable one.
  const std::uint64_t barred = STATX_ATTR_IMMUTABLE | STATX_ATTR_APPEND;
  if ((sx.stx_attributes & sx.stx_attributes_mask & barred) != 0) return EPERM;
  return 0;
}

// The temporary file of s: unnamed in its directory where the file system
// allows it, else ".<base>.XXXXXX" there. The descriptor to write to, or -1
// with errno set.
int open_temp(staged_output& s) {
  const int fd = openat(s.dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd >= 0) {
    // A second descriptor keeps the file while its stream is closed.
    s.file = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (s.file >= 0) return fd;
    close_keeping_errno(fd);
    return -1;
  }
  // An older kernel (EISDIR) or a file system without unnamed files.
  if (errno != EOPNOTSUPP && errno != EISDIR) return -1;
  for (int tries = 0; tries < name_tries; ++tries) {
    std::string temp = hidden_name(s.base);
    const int named = openat(s.dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (named >= 0) {
      s.temp = std::move(temp);
      return named;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;
}

// A new output has the permission bits open gave it (0666 less the umask); a
// replacing one those of the file it replaces, and under root its owner and
// group as well (best effort: a file system may refuse root that, as NFS
// does). fchown clears the set-user-ID and set-group-ID bits, so it comes
// first.
bool keep_owner_and_mode(int fd, const struct stat* existing) {
  if (existing == nullptr) return true;
  if (geteuid() == 0) static_cast<void>(fchown(fd, existing->st_uid, existing->st_gid) == 0);
  return fchmod(fd, existing->st_mode & 07777) == 0;
}

// Removes s's temporary file and closes its descriptors. The second name of
// an earlier file that could not be put back stays.
void drop(staged_output& s) {
  if (!s.temp.empty()) unlinkat(s.dir, s.temp.c_str(), 0);
  s.temp.clear();
  if (s.file >= 0) close(s.file);
  if (s.dir >= 0) close(s.dir);
  s.file = s.dir = -1;
}

// The list names s; an output opened again in the same run replaces its
// earlier temporary file.
void add(staged_outputs& outputs, staged_output&& s) {
  for (staged_output& e : outputs.files)
    if (e.dir_dev == s.dir_dev && e.dir_ino == s.dir_ino && e.base == s.base) {
      drop(e);
      e = std::move(s);
      return;
    }
  outputs.files.push_back(std::move(s));
}

// The directories of the outputs, each locked once for the commit, in the
// order of their device and inode numbers: runs that share directories take
// them in the same order, so none waits for another forever. A directory
// that cannot be locked (opened for its path only, a file system without
// locks) is committed to without.
struct directory_locks {
  std::vector<int> held;  // second descriptors, so closing the outputs' keeps the locks
  explicit directory_locks(const std::vector<staged_output>& files) {
    std::vector<const staged_output*> dirs;
    for (const staged_output& s : files) dirs.push_back(&s);
    auto key = [](const staged_output* s) { return std::pair(s->dir_dev, s->dir_ino); };
    std::sort(dirs.begin(), dirs.end(), [&](auto* a, auto* b) { return key(a) < key(b); });
    dirs.erase(
        std::unique(dirs.begin(), dirs.end(), [&](auto* a, auto* b) { return key(a) == key(b); }),
        dirs.end());
    for (const staged_output* s : dirs) {
      const int fd = fcntl(s->dir, F_DUPFD_CLOEXEC, 0);
      if (fd < 0) continue;
      int locked;
      while ((locked = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
      }
      if (locked == 0)
        held.push_back(fd);
      else
        close(fd);
    }
  }
  ~directory_locks() {
    for (const int fd : held) {
      flock(fd, LOCK_UN);
      close(fd);
    }
  }
  directory_locks(const directory_locks&) = delete;
  directory_locks& operator=(const directory_locks&) = delete;
};

// Gives an unnamed temporary file its hidden name, through /proc (any user)
// or, without /proc, through its descriptor.
bool name_temp(staged_output& s) {
  if (s.file < 0) return true;
  const std::string by_proc = "/proc/self/fd/" + std::to_string(s.file);
  for (int tries = 0; tries < name_tries; ++tries) {
    std::string temp = hidden_name(s.base);
    int linked = linkat(AT_FDCWD, by_proc.c_str(), s.dir, temp.c_str(), AT_SYMLINK_FOLLOW);
    if (linked != 0 && errno == ENOENT)
      linked = linkat(s.file, "", s.dir, temp.c_str(), AT_EMPTY_PATH);
    if (linked == 0) {
      s.temp = std::move(temp);
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

// A second name for the file the output replaces: the way back. An output
// that does not exist yet needs none.
bool keep_aside(staged_output& s) {
  for (int tries = 0; tries < name_tries; ++tries) {
    std::string backup = hidden_name(s.base);
    if (linkat(s.dir, s.base.c_str(), s.dir, backup.c_str(), 0) == 0) {
      s.backup = std::move(backup);
      return true;
    }
    if (errno == ENOENT) return true;
    if (errno != EEXIST) return false;
  }
  return false;
}

// After a failed replacement: each output replaced so far gets its earlier
// file back, or goes when it is new; the other second names go. An earlier
// file that cannot be put back keeps its second name, and the text returned
// says where it is.
std::string put_back(std::vector<staged_output>& files, std::size_t replaced) {
  std::string message;
  for (std::size_t i = 0; i < files.size(); ++i) {
    staged_output& s = files[i];
    if (i < replaced && s.backup.empty()) {
      unlinkat(s.dir, s.base.c_str(), 0);
    } else if (i < replaced) {
      if (renameat(s.dir, s.backup.c_str(), s.dir, s.base.c_str()) == 0)
        s.backup.clear();
      else
        message += format_text(
            "ERROR: the earlier \"%s\" could not be put back: it is \"%s\" beside it: %s\n",
            s.name.c_str(), s.backup.c_str(), std::strerror(errno));
    } else if (!s.backup.empty()) {
      unlinkat(s.dir, s.backup.c_str(), 0);
      s.backup.clear();
    }
  }
  return message;
}

// Names every temporary file and keeps every earlier file aside, then renames
// the temporary files over their outputs. An empty text when all are in
// place; otherwise, with the earlier files back, the stop message.
std::string put_in_place(std::vector<staged_output>& files) {
  std::size_t failed = 0, replaced = 0;
  int reason = 0;
  for (; failed < files.size(); ++failed)
    if (!name_temp(files[failed]) || !keep_aside(files[failed])) {
      reason = errno != 0 ? errno : EIO;
      break;
    }
  if (reason == 0)
    for (; replaced < files.size(); ++replaced) {
      staged_output& s = files[replaced];
      if (renameat(s.dir, s.temp.c_str(), s.dir, s.base.c_str()) != 0) {
        reason = errno;
        failed = replaced;
        break;
      }
      s.temp.clear();
    }
  if (reason == 0) {
    for (staged_output& s : files)
      if (!s.backup.empty()) unlinkat(s.dir, s.backup.c_str(), 0);
    for (staged_output& s : files) s.backup.clear();
    return {};
  }
  return format_text("ERROR: cannot write \"%s\": %s\n", files[failed].name.c_str(),
                     std::strerror(reason)) +
         put_back(files, replaced);
}

// A termination signal that came during a complete commit: the run has
// succeeded, and it ends as a success.
void drop_pending_interrupts() {
  sigset_t pending;
  if (sigpending(&pending) != 0) return;
  const timespec now{0, 0};
  for (const int sig : termination_signals) {
    if (sigismember(&pending, sig) != 1) continue;
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, sig);
    sigtimedwait(&one, nullptr, &now);
  }
}

}  // namespace

interrupts_held::interrupts_held() {
  sigset_t held;
  sigemptyset(&held);
  for (const int sig : termination_signals) sigaddset(&held, sig);
  pthread_sigmask(SIG_BLOCK, &held, &old);
}

interrupts_held::~interrupts_held() { pthread_sigmask(SIG_SETMASK, &old, nullptr); }

void staged_outputs::discard() {
  const interrupts_held held;
  for (staged_output& s : files) drop(s);
  files.clear();
}

std::FILE* open_staged(staged_outputs& outputs, const char* name, const std::string& path) {
  staged_output s;
  s.name = name;
  if (!reach(path, s.dir, s.base)) return nullptr;
  struct stat st {};
  const bool exists = fstatat(s.dir, s.base.c_str(), &st, 0) == 0;
  if (exists && !S_ISREG(st.st_mode)) {
    // Written as it is, and only by the pass that writes its bytes: a FIFO's
    // reader gets the whole file once.
    const int fd = openat(s.dir, s.base.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY);
    close_keeping_errno(s.dir);
    std::FILE* f = fd >= 0 ? fdopen(fd, "w") : nullptr;
    if (f == nullptr) close_keeping_errno(fd);
    return f;
  }
  const int refused = exists ? refusal_at(s.dir, s.base) : 0;
  if (refused != 0) errno = refused;
  struct stat dir_st {};
  if (refused != 0 || fstat(s.dir, &dir_st) != 0) {
    close_keeping_errno(s.dir);
    return nullptr;
  }
  s.dir_dev = dir_st.st_dev;
  s.dir_ino = dir_st.st_ino;

  // From the temporary file's creation until the list names it.
  const interrupts_held held;
  const int fd = open_temp(s);
  std::FILE* f = nullptr;
  if (fd >= 0 && keep_owner_and_mode(fd, exists ? &st : nullptr)) f = fdopen(fd, "w");
  if (f == nullptr) {
    close_keeping_errno(fd);
    const int reason = errno;
    drop(s);
    errno = reason;
    return nullptr;
  }
  add(outputs, std::move(s));
  return f;
}

int output_refusal(const std::string& path) {
  int dir = -1;
  std::string base;
  if (!reach(path, dir, base)) return 0;  // the open that follows tells why
  const int refused = refusal_at(dir, base);
  close(dir);
  return refused;
}

void commit_outputs(staged_outputs& outputs) {
  if (outputs.files.empty()) return;
  // Waiting for another run's commit, a termination signal still ends this run.
  const directory_locks locks(outputs.files);
  const interrupts_held held;
  const std::string failure = put_in_place(outputs.files);
  outputs.discard();
  if (!failure.empty()) stop_run(1, failure);
  drop_pending_interrupts();
}

void remove_staged(const staged_outputs& outputs) {
  for (const staged_output& s : outputs.files)
    if (!s.temp.empty()) unlinkat(s.dir, s.temp.c_str(), 0);
}

}  // namespace tx
