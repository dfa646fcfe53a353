#include "filopen.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace tx {

namespace {

// Set by ftmpinit. Each prefix is the directory text and one "/" (none for an
// empty text). When the two directories are equal, the temporary family uses
// the permanent prefix and its limit.
struct locations {
  std::string suffix;
  std::string main_prefix;
  std::string temp_prefix;
  bool shared = true;
};
locations loc;

const char* env_or_empty(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? v : "";
}

std::string prefix_of(const std::string& dir) { return dir.empty() ? dir : dir + "/"; }

// The name behind the permanent prefix; false (errno ENAMETOOLONG) when it
// does not fit: 200 characters, plus room for "." and the suffix.
bool main_path(const char* name, std::string& path) {
  if (std::strlen(name) > perm_name_limit) {
    errno = ENAMETOOLONG;
    return false;
  }
  path = loc.main_prefix + name;
  return true;
}

bool temp_path(const char* name, std::string& path) {
  if (loc.shared) return main_path(name, path);
  if (std::strlen(name) > temp_name_limit + loc.suffix.size()) {
    errno = ENAMETOOLONG;
    return false;
  }
  path = loc.temp_prefix + name;
  return true;
}

}  // namespace

int ftmpinit() {
  const std::string perm = env_or_empty("TXPERM");
  const std::string temp = env_or_empty("TXTEMP");
  loc.suffix = env_or_empty("TXSUFF");
  loc.main_prefix = prefix_of(perm);
  loc.shared = temp == perm;
  loc.temp_prefix = loc.shared ? loc.main_prefix : prefix_of(temp);
  return 0;
}

std::FILE* ftmpopen(const char* name, const char* mode) {
  std::string path;
  return temp_path(name, path) ? std::fopen(path.c_str(), mode) : nullptr;
}

int tmpopen(const char* name, int flags) {
  std::string path;
  return temp_path(name, path) ? open(path.c_str(), flags, 0600) : -1;
}

int tmpcreat(const char* name, mode_t mode) {
  std::string path;
  return temp_path(name, path) ? creat(path.c_str(), mode) : -1;
}

int tmpunlink(const char* name) {
  std::string path;
  return temp_path(name, path) ? unlink(path.c_str()) : -1;
}

int tmpopname(const char* name, std::string& out) {
  if (!temp_path(name, out)) out.clear();
  return 1;
}

int tmpdirname(std::string& out) {
  out = loc.shared ? loc.main_prefix : loc.temp_prefix;
  return 1;
}

std::FILE* finpopen(const char* name, const char* mode) {
  if (name[0] == '/') return std::fopen(name, mode);
  std::string path;
  return main_path(name, path) ? std::fopen(path.c_str(), mode) : nullptr;
}

std::FILE* foniopen(const char* name, const char* mode) {
  std::string path;
  if (!main_path(name, path)) return nullptr;
  return std::fopen(name[0] == '/' ? name : path.c_str(), mode);
}

bool foutname(const char* name, std::string& out) {
  std::string path;
  if (!main_path(name, path)) return false;
  // The "." test looks at the whole name, directory parts included.
  out = name[0] == '/' ? std::string(name) : path;
  if (!loc.suffix.empty() && std::strchr(name, '.') == nullptr) out += "." + loc.suffix;
  return true;
}

std::FILE* foutopen(const char* name, const char* mode) {
  std::string path;
  return foutname(name, path) ? std::fopen(path.c_str(), mode) : nullptr;
}

int prmopen(const char* name, int flags) {
  if (name[0] == '/') return open(name, flags, 0600);
  std::string path;
  return main_path(name, path) ? open(path.c_str(), flags, 0600) : -1;
}

std::FILE* fxinopen(const char* name, const char* home, const char* mode) {
  // TXHOME is looked up on every call: it stays unknown while unset.
  if (home == nullptr || *home == '\0') home = std::getenv("TXHOME");
  if (home == nullptr) return nullptr;
  const std::string path = std::string(home) + "/include/" + name;
  return std::fopen(path.c_str(), mode);
}

}  // namespace tx
