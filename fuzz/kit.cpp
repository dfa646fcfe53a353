#include "kit.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "jobbuild.h"

namespace tx::fuzz {

namespace {

namespace fs = std::filesystem;

// The environment a job reads; a target sets what it needs and the scope
// puts the caller's values back.
const char* const job_variables[] = {"TXSPSSRC", "TXTEMP",   "TXPERM",           "TXSUFF",
                                     "TXHOME",   "TXNOPAGE", "SOURCE_DATE_EPOCH"};

std::string scratch_parent() {
  std::error_code ec;
  if (access("/dev/shm", W_OK) == 0) return "/dev/shm";
  return fs::temp_directory_path(ec).string();
}

std::vector<framed_file> read_dir(const std::string& dir) {
  std::vector<framed_file> files;
  for (const auto& entry : fs::directory_iterator(dir)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    files.emplace_back(entry.path().filename().string(), bytes.str());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// Written once per process; the targets copy the bytes into each workspace.
const std::vector<framed_file>& model_files() {
  static const std::vector<framed_file> files = job_files(model_job());
  return files;
}

// Words of a frame's text, one per line, cut at the first NUL.
std::vector<std::string> words_of(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text.substr(0, text.find('\0')));
  for (std::string line; std::getline(in, line);) words.push_back(line);
  return words;
}

bool plain_name(std::string_view name);

}  // namespace

workspace::workspace() {
  for (const char* name : job_variables) {
    const char* old = std::getenv(name);
    saved_.emplace_back(name, old != nullptr ? std::optional<std::string>(old) : std::nullopt);
    unsetenv(name);
  }
  std::string pattern = scratch_parent() + "/txfuzz.XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  dir_ = pattern;
  old_cwd_ = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (old_cwd_ < 0 || chdir(dir_.c_str()) != 0) std::abort();
}

workspace::~workspace() {
  if (fchdir(old_cwd_) != 0) std::abort();
  close(old_cwd_);
  std::error_code ec;
  fs::remove_all(dir_, ec);
  for (const auto& [name, value] : saved_) {
    if (value)
      setenv(name.c_str(), value->c_str(), 1);
    else
      unsetenv(name.c_str());
  }
}

void workspace::put(const std::string& name, std::string_view bytes) const {
  std::FILE* f = std::fopen(name.c_str(), "wb");
  if (f == nullptr) std::abort();
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

void workspace::enter() const {
  if (chdir(dir_.c_str()) != 0) std::abort();
}

void workspace::remove(const std::string& name) const {
  std::error_code ec;
  fs::remove(name, ec);
}

quiet_run::quiet_run() {
  run.out = open_memstream(&out_text, &out_size);
  run.err = std::fopen("/dev/null", "w");
  if (run.out == nullptr || run.err == nullptr) std::abort();
  run.now = 1773480360;
}

quiet_run::~quiet_run() {
  std::fclose(run.out);
  std::fclose(run.err);
  std::free(out_text);
}

// The lowest free descriptor; a run that leaves a file open moves it.
int lowest_free_fd() {
  const int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  close(fd);
  return fd;
}

void put_model(const workspace& ws) { ws.put_all(model_files()); }

// Three axes (one with an element without data, one of 20 elements, one
// without words in the case records), an inc and a weight, three cases.
job::job model_job() {
  job::job j;
  j.title = {"Fuzz model", "second line"};
  job::axis q1;
  q1.tag = "q1";
  q1.elements = {{"Yes", 1}, {"No data", 0}, {"No", 2}};
  q1.titles = {{"Question one"}};
  q1.axis_text = "Axis one";
  q1.desc = job::description{"Q one", "First question"};
  job::axis q2;
  q2.tag = "q2";
  for (int i = 0; i < 20; ++i) q2.elements.push_back({"e" + std::to_string(i), 1});
  q2.titles = {{"Question two", 't', 'c', false}};
  job::axis q3;
  q3.tag = "q3";
  q3.incase = false;
  q3.elements = {{"a", 1}, {"b", 1}};
  j.axes = {q1, q2, q3};
  j.incs = {{"income", job::description{"Income", "Yearly income"}}};
  j.weights = {{1, {1.0f, 0.5f, 2.0f}}};
  j.cases = {{{{0}, {1, 5, 19}}, {12.5f}, {}},
             {{{2}, {}}, {job::missing}, {}},
             {{{0, 2}, {0}}, {-3.0f}, {}}};
  return j;
}

std::vector<framed_file> job_files(const job::job& j) {
  std::string pattern = scratch_parent() + "/txjob.XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  job::write_job(j, pattern);
  std::vector<framed_file> read = read_dir(pattern);
  std::error_code ec;
  fs::remove_all(pattern, ec);
  return read;
}

job_settings take_settings(std::vector<framed_file>& files) {
  job_settings s;
  for (auto it = files.begin(); it != files.end();) {
    if (it->first == "TXSPSSRC") {
      s.spssrc = it->second.substr(0, it->second.find('\0'));
      it = files.erase(it);
    } else if (it->first == "argv") {
      s.args = words_of(it->second);
      it = files.erase(it);
    } else {
      ++it;
    }
  }
  return s;
}

std::vector<char*> argv_of(std::vector<std::string>& words) {
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  return argv;
}

std::vector<framed_file> unframe(input data) {
  const std::string_view text = as_text(data);
  std::vector<framed_file> files;
  std::size_t at = text.find(frame_marker);
  while (at != std::string_view::npos) {
    const std::size_t name_start = at + frame_marker.size();
    const std::size_t name_end = text.find('\n', name_start);
    if (name_end == std::string_view::npos) break;
    const std::size_t next = text.find(frame_marker, name_end + 1);
    const std::size_t end = next == std::string_view::npos ? text.size() : next;
    const std::string_view name = text.substr(name_start, name_end - name_start);
    if (plain_name(name))
      files.emplace_back(std::string(name),
                         std::string(text.substr(name_end + 1, end - name_end - 1)));
    at = next;
  }
  return files;
}

std::string frame(const std::vector<framed_file>& files) {
  std::string out;
  for (const auto& [name, bytes] : files) {
    out.append(frame_marker);
    out.append(name);
    out.push_back('\n');
    out.append(bytes);
  }
  return out;
}

namespace {
bool plain_name(std::string_view name) {
  if (name.empty() || name.size() > 40 || name[0] == '.') return false;
  for (const char c : name)
    if (!(std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '_' || c == '-'))
      return false;
  return true;
}
}  // namespace

}  // namespace tx::fuzz
