// What the fuzz targets share: a scratch directory per input, a run whose
// output is kept and whose errors go nowhere, the model job, and the frames
// that carry job settings.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fmtlib/base/misc.h"
#include "fmtlib/driver/convert.h"
#include "targets.h"

namespace tx::fuzz {

// A fresh directory that is also the current directory for the scope; the
// job variables are unset inside it. Everything is put back afterwards.
class workspace {
 public:
  workspace();
  ~workspace();
  workspace(const workspace&) = delete;
  workspace& operator=(const workspace&) = delete;

  void put(const std::string& name, std::string_view bytes) const;
  void put_all(const std::vector<framed_file>& files) const {
    for (const auto& [name, bytes] : files) put(name, bytes);
  }
  // Removes every file the run left, so the next conversion starts clean.
  void remove(const std::string& name) const;
  // Makes it the current directory again (a run enters the directory its
  // command line names).
  void enter() const;
  const std::string& dir() const { return dir_; }

 private:
  std::string dir_;
  int old_cwd_ = -1;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// A run whose standard output is kept (to check what it claims) and whose
// standard error goes nowhere.
struct quiet_run {
  run_state run;
  char* out_text = nullptr;
  std::size_t out_size = 0;
  quiet_run();
  ~quiet_run();
  quiet_run(const quiet_run&) = delete;
  quiet_run& operator=(const quiet_run&) = delete;
  std::string out() {
    std::fflush(run.out);
    return std::string(out_text, out_size);
  }
  // Gives the readers' debug listings somewhere to go.
  void with_debug() {
    run.prt = 1;
    run.debug.reset(std::fopen("/dev/null", "w"));
  }
};

inline std::string_view as_text(input data) {
  return {reinterpret_cast<const char*>(data.data()), data.size()};
}

// The lowest free descriptor; a run that leaves a file open moves it.
int lowest_free_fd();
// Every descriptions handle must be free again after a run, or four failed
// runs in one process leave none for the fifth. Empty when all are free.
std::string check_descs_handles();
// Puts the files of model_job() into the workspace.
void put_model(const workspace& ws);

// The frames "TXSPSSRC" (the option list, up to its first NUL) and "argv"
// (command-line words, one per line), taken out of the files.
struct job_settings {
  std::optional<std::string> spssrc;
  std::vector<std::string> args;
};
job_settings take_settings(std::vector<framed_file>& files);
std::vector<char*> argv_of(std::vector<std::string>& words);

}  // namespace tx::fuzz
