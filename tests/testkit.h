// Test kit: in-process conversions with pinned time, the real program as a
// process, byte-for-byte comparison.
#pragma once
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "fmtlib/base/misc.h"
#include "fmtlib/driver/convert.h"

namespace testkit {

// 2026-03-14 09:26 UTC: the date and time every test conversion writes.
inline constexpr std::time_t pinned_time = 1773480360;

// While set, an open of an unnamed temporary file fails with EOPNOTSUPP, as
// on a file system without them (openat_shim.cpp).
extern std::atomic<bool> no_unnamed_files;

using env_list = std::vector<std::pair<std::string, std::string>>;

// A fresh directory, removed with everything in it at the end of the scope.
struct temp_dir {
  std::string path;
  temp_dir();
  ~temp_dir();
  temp_dir(const temp_dir&) = delete;
  temp_dir& operator=(const temp_dir&) = delete;
  std::string operator/(const std::string& name) const { return path + "/" + name; }
};

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);
bool file_exists(const std::string& path);

struct result {
  int status = 0;
  std::string out;  // standard output
  std::string err;  // standard error, the stop message included
  std::string dir;  // where the outputs were written
  std::string file(const std::string& name) const { return read_file(dir + "/" + name); }
  bool has(const std::string& name) const { return file_exists(dir + "/" + name); }
};

// Sets environment variables for the scope and puts the old values back.
struct scoped_env {
  explicit scoped_env(const env_list& vars);
  ~scoped_env();
  std::vector<std::pair<std::string, std::pair<bool, std::string>>> saved;
};

// Runs one conversion in this process in `dir` (the job directory, also the
// output directory unless TXPERM is given), with TZ=UTC and the pinned time.
// TXSPSSRC, TXTEMP, TXPERM, TXSUFF and TXHOME are unset unless listed.
result convert(const std::string& dir, std::vector<std::string> args, const env_list& env = {});
// Several conversions, one after the other, started in `dir` as above.
std::vector<result> convert_in_turn(const std::string& dir,
                                    const std::vector<std::vector<std::string>>& runs,
                                    const env_list& env = {});

// The current directory for the scope.
struct in_directory {
  std::string old;
  explicit in_directory(const std::string& dir);
  ~in_directory();
  in_directory(const in_directory&) = delete;
  in_directory& operator=(const in_directory&) = delete;
};

// A stream that takes everything and keeps nothing (a run's warnings).
std::FILE* null_stream();

// Runs the built program under the name argv0 (a link in a scratch
// directory) in `dir`, with the environment changes given.
result run_program(const std::string& argv0, const std::vector<std::string>& args,
                   const std::string& dir, const env_list& env = {});

// Names the first byte and line where the two differ.
testing::AssertionResult same_bytes(const std::string& expected, const std::string& actual);

// A stream into memory; text() gives what was written so far.
struct mem_stream {
  char* data = nullptr;
  std::size_t size = 0;
  std::FILE* f = open_memstream(&data, &size);
  std::string text() {
    std::fflush(f);
    return std::string(data, size);
  }
  void close() {
    if (f != nullptr) std::fclose(f);
    f = nullptr;
  }
  ~mem_stream() {
    close();
    std::free(data);
  }
};

// Captures what a function writes to a stream.
std::string capture(const std::function<void(std::FILE*)>& fn);

}  // namespace testkit
