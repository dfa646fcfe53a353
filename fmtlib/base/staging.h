// The outputs of a run on their way: each written to a temporary file in the
// directory of the file it replaces, and all put in place together, in one
// commit, once the run has succeeded. Also the termination signals, which
// wait while the list of temporary files changes and during the commit.
#pragma once
#include <signal.h>
#include <sys/types.h>

#include <cstdio>
#include <string>
#include <vector>

namespace tx {

// Every signal whose default action ends the process and that a handler may
// catch, but SIGXFSZ: the program ignores that one, so that a file-size
// limit fails the write that meets it (an ordinary write error).
inline constexpr int termination_signals[] = {SIGHUP,  SIGINT,    SIGQUIT, SIGTERM,
                                              SIGPIPE, SIGALRM,   SIGUSR1, SIGUSR2,
                                              SIGXCPU, SIGVTALRM, SIGPROF};

// Holds the termination signals in the calling thread for the scope; one
// that arrives meanwhile waits and is delivered at its end.
struct interrupts_held {
  sigset_t old;
  interrupts_held();
  ~interrupts_held();
  interrupts_held(const interrupts_held&) = delete;
  interrupts_held& operator=(const interrupts_held&) = delete;
};

// One output under way. Its temporary file has no name (O_TMPFILE) until the
// commit where the file system allows that, so nothing is left of it however
// the run ends; elsewhere it is ".<base>.XXXXXX" from the start. Both are
// reached through the descriptor of the directory: a change of the current
// directory or a path longer than PATH_MAX cannot lose them.
struct staged_output {
  std::string name;   // as the run knows it: "survey.xml"
  int dir = -1;       // the directory the output lies in (symbolic links followed)
  dev_t dir_dev = 0;  // ... and its identity, the order in which directories are locked
  ino_t dir_ino = 0;
  std::string base;    // the output's name in that directory
  int file = -1;       // the unnamed temporary file, held open until the commit names it
  std::string temp;    // the temporary file's name in `dir`; empty while it has none
  std::string backup;  // during the commit: a second name of the file it replaces
};

// The staged outputs of a run. Whatever is still staged when the run ends
// (a stop at any point) is removed, so a failed run leaves every earlier
// output as it was.
struct staged_outputs {
  std::vector<staged_output> files;
  staged_outputs() = default;
  staged_outputs(const staged_outputs&) = delete;
  staged_outputs& operator=(const staged_outputs&) = delete;
  ~staged_outputs() { discard(); }
  // Removes every temporary file and forgets the list.
  void discard();
};

// Opens output `name`, found at `path`, for writing. A path that exists and
// is no regular file (a FIFO, a device) is opened in place, as it is; any
// other gets a temporary file beside the file the path reaches (beside the
// target of a symbolic link, which stays a link), with the permission bits of
// the file it replaces and, under root, its owner and group. An existing file
// that could not be written in place is refused (output_refusal). Null with
// errno set when the output cannot be opened.
std::FILE* open_staged(staged_outputs& outputs, const char* name, const std::string& path);

// 0 when the file at `path` could be written in place or does not exist;
// otherwise the reason an in-place open for writing would fail with: EACCES
// for the permission bits, EPERM for the immutable and append-only flags,
// EROFS, ETXTBSY.
int output_refusal(const std::string& path);

// Puts every staged output in place at once. Runs that commit into the same
// directory take turns (an advisory lock on it for the commit). The
// termination signals are held from before the first replacement until after
// the last: one that arrives meanwhile is dropped once every output is in
// place, since the run has then succeeded. When a replacement fails, the
// outputs already replaced are put back as they were and the run stops with
// the file's name and the system's reason.
void commit_outputs(staged_outputs& outputs);

// Removes the named temporary files: only unlinkat, so a signal handler may
// call it (the list never changes while the termination signals can arrive).
void remove_staged(const staged_outputs& outputs);

}  // namespace tx
