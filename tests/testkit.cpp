#include "testkit.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace testkit {

namespace fs = std::filesystem;

temp_dir::temp_dir() {
  std::string pattern = (fs::temp_directory_path() / "txtest.XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path = pattern;
}

temp_dir::~temp_dir() {
  std::error_code ec;
  // A test may have taken write permission away; give it back first.
  for (auto it = fs::recursive_directory_iterator(path, ec); !ec && it != fs::end(it);
       it.increment(ec))
    if (it->is_directory(ec)) fs::permissions(it->path(), fs::perms::owner_all, ec);
  fs::permissions(path, fs::perms::owner_all, ec);
  fs::remove_all(path, ec);
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool file_exists(const std::string& path) { return fs::exists(path); }

scoped_env::scoped_env(const env_list& vars) {
  for (const auto& [name, value] : vars) {
    const char* old = std::getenv(name.c_str());
    saved.push_back({name, {old != nullptr, old != nullptr ? old : ""}});
    setenv(name.c_str(), value.c_str(), 1);
  }
  tzset();
}

scoped_env::~scoped_env() {
  for (auto it = saved.rbegin(); it != saved.rend(); ++it) {
    if (it->second.first)
      setenv(it->first.c_str(), it->second.second.c_str(), 1);
    else
      unsetenv(it->first.c_str());
  }
  tzset();
}

namespace {

const char* const job_variables[] = {"TXSPSSRC", "TXTEMP", "TXPERM",
                                     "TXSUFF",   "TXHOME", "SOURCE_DATE_EPOCH"};

// Unsets the job variables for the scope (and restores them afterwards).
struct cleared_env {
  std::vector<std::pair<std::string, std::string>> saved;
  cleared_env() {
    for (const char* name : job_variables) {
      if (const char* old = std::getenv(name)) saved.emplace_back(name, old);
      unsetenv(name);
    }
  }
  ~cleared_env() {
    for (const char* name : job_variables) unsetenv(name);
    for (const auto& [name, value] : saved) setenv(name.c_str(), value.c_str(), 1);
  }
};

}  // namespace

in_directory::in_directory(const std::string& dir) : old(fs::current_path().string()) {
  fs::current_path(dir);
}
in_directory::~in_directory() { fs::current_path(old); }

std::FILE* null_stream() {
  static std::FILE* const sink = std::fopen("/dev/null", "w");
  return sink;
}

namespace {

// One conversion in this process, in the current directory.
result convert_here(const std::string& dir, std::vector<std::string> args) {
  mem_stream out, err;
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  result r;
  r.dir = dir;
  if (const char* perm = std::getenv("TXPERM"); perm != nullptr && *perm != '\0')
    r.dir = perm[0] == '/' ? perm : dir + "/" + perm;
  {
    tx::run_state run;
    run.out = out.f;
    run.err = err.f;
    run.now = pinned_time;
    try {
      tx::convert(run, static_cast<int>(args.size()), argv.data(), false);
    } catch (const tx::run_stopped& stop) {
      std::fputs(stop.message.c_str(), err.f);
      r.status = stop.status;
    }
  }
  r.out = out.text();
  r.err = err.text();
  return r;
}

}  // namespace

std::vector<result> convert_in_turn(const std::string& dir,
                                    const std::vector<std::vector<std::string>>& runs,
                                    const env_list& env) {
  cleared_env cleared;
  env_list all = env;
  all.emplace_back("TZ", "UTC");
  scoped_env vars(all);
  in_directory cwd(dir);
  std::vector<result> results;
  for (const std::vector<std::string>& args : runs) results.push_back(convert_here(dir, args));
  return results;
}

result convert(const std::string& dir, std::vector<std::string> args, const env_list& env) {
  return convert_in_turn(dir, {std::move(args)}, env).front();
}

result run_program(const std::string& argv0, const std::vector<std::string>& args,
                   const std::string& dir, const env_list& env) {
  temp_dir bin;
  const std::string link = argv0.find('/') != std::string::npos ? argv0 : bin / argv0;
  if (argv0.find('/') == std::string::npos) fs::create_symlink(TX2FMT_BINARY, link);
  temp_dir scratch;
  const std::string out_path = scratch / "stdout", err_path = scratch / "stderr";

  result r;
  r.dir = dir;
  const pid_t pid = fork();
  if (pid == 0) {
    for (const char* name : job_variables) unsetenv(name);
    setenv("TZ", "UTC", 1);
    for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
    if (chdir(dir.c_str()) != 0) _exit(127);
    const int out_fd = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err_fd = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(out_fd, 1);
    dup2(err_fd, 2);
    std::vector<std::string> words{argv0};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    execv(link.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.out = read_file(out_path);
  r.err = read_file(err_path);
  return r;
}

testing::AssertionResult same_bytes(const std::string& expected, const std::string& actual) {
  if (expected == actual) return testing::AssertionSuccess();
  std::size_t at = 0;
  while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) ++at;
  const std::size_t line =
      1 + static_cast<std::size_t>(std::count(expected.begin(), expected.begin() + at, '\n'));
  auto context = [at](const std::string& s) {
    const std::size_t from = s.rfind('\n', at == 0 ? 0 : at - 1);
    const std::size_t start = from == std::string::npos ? 0 : from + 1;
    return s.substr(start, std::min<std::size_t>(120, s.size() - start));
  };
  return testing::AssertionFailure()
         << "first difference at byte " << at << ", line " << line << " (sizes " << expected.size()
         << " and " << actual.size() << ")\nexpected: " << context(expected)
         << "\nactual:   " << context(actual);
}

std::string capture(const std::function<void(std::FILE*)>& fn) {
  mem_stream m;
  fn(m.f);
  return m.text();
}

}  // namespace testkit
