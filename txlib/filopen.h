// File locations of a job: a permanent directory (TXPERM) for outputs and a
// temporary directory (TXTEMP) for work files, set up once per run by
// ftmpinit. A name is written behind the directory prefix; names longer than
// the path limits are refused with errno ENAMETOOLONG, never cut.
#pragma once
#include <sys/types.h>

#include <cstdio>
#include <memory>
#include <string>

namespace tx {

struct file_closer {
  void operator()(std::FILE* f) const {
    if (f != nullptr) std::fclose(f);
  }
};
using file_ptr = std::unique_ptr<std::FILE, file_closer>;

// Longest file name behind the permanent prefix; a separate temporary
// directory takes names of up to 21 characters plus the suffix length.
inline constexpr std::size_t perm_name_limit = 200;
inline constexpr std::size_t temp_name_limit = 21;

// Reads TXPERM, TXTEMP and TXSUFF and builds the two path prefixes; a second
// call starts over (a new run). Returns 0, or -1 when the paths cannot be
// allocated (the caller stops the run).
int ftmpinit();

// Temporary directory.
std::FILE* ftmpopen(const char* name, const char* mode);
int tmpopen(const char* name, int flags);
int tmpcreat(const char* name, mode_t mode);
int tmpunlink(const char* name);
int tmpopname(const char* name, std::string& out);  // always 1; out empty when refused
int tmpdirname(std::string& out);                   // always 1

// Permanent directory.
std::FILE* finpopen(const char* name, const char* mode);
std::FILE* foniopen(const char* name, const char* mode);
std::FILE* foutopen(const char* name, const char* mode);  // adds "." TXSUFF to a name without "."
// The path foutopen opens for name; false (errno ENAMETOOLONG) when it does not fit.
bool foutname(const char* name, std::string& out);
int prmopen(const char* name, int flags);

// home/include/name; home null or empty means TXHOME.
std::FILE* fxinopen(const char* name, const char* home, const char* mode);

}  // namespace tx
