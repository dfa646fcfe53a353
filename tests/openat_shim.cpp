// In the test build every openat of the program comes here first
// (-Wl,--wrap=openat), so that a test can take unnamed temporary files
// away, as a file system without them or an older kernel does.
#include <fcntl.h>

#include <cerrno>
#include <cstdarg>

#include "testkit.h"

extern "C" int __real_openat(int dir, const char* path, int flags, ...);

namespace testkit {
std::atomic<bool> no_unnamed_files{false};
}  // namespace testkit

extern "C" int __wrap_openat(int dir, const char* path, int flags, ...) {
  int mode = 0;
  if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
    va_list args;
    va_start(args, flags);
    mode = va_arg(args, int);
    va_end(args);
  }
  if (testkit::no_unnamed_files && (flags & O_TMPFILE) == O_TMPFILE) {
    errno = EOPNOTSUPP;
    return -1;
  }
  return __real_openat(dir, path, flags, mode);
}
