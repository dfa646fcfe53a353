// Shared by the reader tests: a job written by the job builder into a fresh
// directory that is made current (axis files are opened relative to it), and a
// run whose standard error and debug file are captured.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "fmtlib/read/axinf.h"
#include "fmtlib/run/convert.h"
#include "testkit.h"
#include "tools/jobbuild.h"

namespace readers_kit {

// "e" and the number, without string concatenation (g++ 12 warns falsely on it).
inline std::string element_name(std::size_t i) {
  char text[24];
  std::snprintf(text, sizeof text, "e%zu", i);
  return text;
}

struct job_run {
  testkit::temp_dir dir;
  // Work files and outputs in the current directory, as in a job directory.
  testkit::scoped_env env{{{"TXTEMP", ""}, {"TXPERM", ""}, {"TXSUFF", ""}, {"TXSPSSRC", ""}}};
  std::filesystem::path old_cwd = std::filesystem::current_path();
  testkit::mem_stream err;
  char* debug_data = nullptr;
  std::size_t debug_size = 0;
  tx::run_state run;

  explicit job_run(const tx::job::job& j) {
    tx::job::write_job(j, dir.path);
    std::filesystem::current_path(dir.path);
    prepare(run);
  }
  // Readies another run in the same job directory (a cheap fresh start).
  void prepare(tx::run_state& r) {
    r.err = err.f;
    r.out = err.f;
    r.now = testkit::pinned_time;
    tx::init_store(r.store);
  }
  ~job_run() {
    run.debug.reset();
    std::free(debug_data);
    std::filesystem::current_path(old_cwd);
  }
  job_run(const job_run&) = delete;
  job_run& operator=(const job_run&) = delete;

  // Sets a debug level and sends the listings into memory.
  void debug_on() {
    run.prt = 1;
    run.debug.reset(open_memstream(&debug_data, &debug_size));
  }
  std::string debug() {
    std::fflush(run.debug.get());
    return std::string(debug_data, debug_size);
  }
  std::string path(const std::string& name) const { return dir / name; }
  std::string bytes(const std::string& name) const { return testkit::read_file(dir / name); }
  void put(const std::string& name, const std::string& bytes) const {
    testkit::write_file(dir / name, bytes);
  }
};

// Element texts of an axis, in order.
inline std::vector<std::string> texts_of(const tx::axis_info* a) {
  std::vector<std::string> out;
  for (int i = 0; i < a->counts->nelements; ++i) out.emplace_back(tx::element_text(a, i));
  return out;
}

inline std::vector<std::string> titles_of(const tx::axis_info* a) {
  std::vector<std::string> out;
  for (int i = 0; i < a->titles->count; ++i) out.emplace_back(a->titles->lines[i]);
  return out;
}

inline tx::job::axis simple_axis(const std::string& tag, std::vector<std::string> texts) {
  tx::job::axis a;
  a.tag = tag;
  for (auto& t : texts) a.elements.push_back({t});
  return a;
}

}  // namespace readers_kit
