// Whole conversions as data: every folder tests/cases/NAME/ is one run of the
// real program on a job written by txjob, compared byte for byte with the
// files under NAME/expected/ (tests/cases/README.md has the format), and one
// test, Each/Cases.MatchExpectedFiles/NAME ("-" written "_").
// TX_UPDATE_GOLDEN=1 rewrites the expected files instead, for review with
// git diff.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "testkit.h"
#include "tools/jobbuild.h"

namespace {

namespace fs = std::filesystem;

const fs::path cases_dir = fs::path(TX_SOURCE_DIR) / "tests/cases";

bool updating() {
  const char* v = std::getenv("TX_UPDATE_GOLDEN");
  return v != nullptr && std::strcmp(v, "1") == 0;
}

// Words of a line: split at blanks; '...' keeps blanks inside one word.
std::vector<std::string> split_words(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  bool in_word = false, quoted = false;
  for (const char c : line) {
    if (quoted) {
      if (c == '\'')
        quoted = false;
      else
        word += c;
    } else if (c == '\'') {
      quoted = in_word = true;
    } else if (c == ' ' || c == '\t') {
      if (in_word) words.push_back(word);
      word.clear();
      in_word = false;
    } else {
      word += c;
      in_word = true;
    }
  }
  if (in_word) words.push_back(word);
  return words;
}

// $JOB, $OUT and $WORK replaced by the case's directories.
std::string expand(std::string text, const std::map<std::string, std::string>& dirs) {
  for (const auto& [name, path] : dirs)
    for (std::size_t at; (at = text.find(name)) != std::string::npos;)
      text.replace(at, name.size(), path);
  return text;
}

struct step {
  std::string verb;
  std::vector<std::string> words;
  int line;
};

std::vector<step> read_case(const fs::path& file) {
  std::vector<step> steps;
  std::istringstream in(testkit::read_file(file.string()));
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    const std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#') continue;
    std::vector<std::string> words = split_words(line);
    const std::string verb = words.front();
    words.erase(words.begin());
    steps.push_back({verb, words, number});
  }
  return steps;
}

// Runs tests/readers/<script> with its arguments; the script's output is the
// failure message.
testing::AssertionResult reader_accepts(const std::vector<std::string>& words) {
  const std::string script = std::string(TX_SOURCE_DIR) + "/tests/readers/" + words[0];
  std::string command =
      script.ends_with(".py") ? "/usr/bin/python3 '" + script + "'" : "bash '" + script + "'";
  for (std::size_t i = 1; i < words.size(); ++i) command += " '" + words[i] + "'";
  command += " 2>&1";
  std::FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return testing::AssertionFailure() << "cannot start " << command;
  std::string out;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  if (pclose(p) != 0) return testing::AssertionFailure() << words[0] << " refused:\n" << out;
  return testing::AssertionSuccess();
}

// Every regular file of dir by name (symbolic links to regular files too),
// but those named in `leave_out`.
std::map<std::string, std::string> files_in(const fs::path& dir,
                                            const std::set<std::string>& leave_out = {}) {
  std::map<std::string, std::string> files;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) {
    const std::string name = e.path().filename().string();
    if (e.is_regular_file() && leave_out.count(name) == 0)
      files[name] = testkit::read_file(e.path());
  }
  return files;
}

// The scratch directory's name, different on every run, as "$WORK".
std::string with_work_named(std::string text, const std::string& work) {
  for (std::size_t at; (at = text.find(work)) != std::string::npos;)
    text.replace(at, work.size(), "$WORK");
  return text;
}

void compare_or_update(const fs::path& expected, const std::map<std::string, std::string>& actual,
                       const std::string& where) {
  if (updating()) {
    fs::remove_all(expected);
    fs::create_directories(expected);
    for (const auto& [name, bytes] : actual) testkit::write_file((expected / name).string(), bytes);
    return;
  }
  const std::map<std::string, std::string> wanted = files_in(expected);
  std::set<std::string> names;
  for (const auto& [name, bytes] : wanted) names.insert(name);
  for (const auto& [name, bytes] : actual) names.insert(name);
  for (const std::string& name : names) {
    const auto w = wanted.find(name), a = actual.find(name);
    if (w == wanted.end())
      ADD_FAILURE() << where << ": unexpected file " << name;
    else if (a == actual.end())
      ADD_FAILURE() << where << ": missing file " << name;
    else
      EXPECT_TRUE(testkit::same_bytes(w->second, a->second)) << where << ": " << name;
  }
}

void run_case(const fs::path& dir) {
  const std::string name = dir.filename().string();
  testkit::temp_dir work;
  const std::string job = work / "job", out = work / "out";
  fs::create_directories(job);
  fs::create_directories(out);
  const std::map<std::string, std::string> dirs = {
      {"$JOB", job}, {"$OUT", out}, {"$WORK", work.path}, {"$CASE", dir.string()}};

  std::vector<std::string> command;
  testkit::env_list env = {{"TXPERM", out},
                           {"SOURCE_DATE_EPOCH", std::to_string(testkit::pinned_time)}};
  std::string cwd = job, outputs = out;
  std::vector<std::vector<std::string>> checks, afters;
  auto build = [&](const std::vector<std::string>& args) {
    const testkit::result r = testkit::run_program(TXJOB_BINARY, args, work.path);
    ASSERT_EQ(0, r.status) << name << ": txjob " << args[0] << ":\n" << r.err;
  };
  const std::vector<step> steps = read_case(dir / "case");
  if (std::none_of(steps.begin(), steps.end(),
                   [](const step& s) { return s.verb == "job" || s.verb == "synthetic"; }) &&
      fs::exists(dir / "job.json"))
    build({(dir / "job.json").string(), job});
  for (const step& s : steps) {
    const std::string at = name + "/case:" + std::to_string(s.line);
    std::vector<std::string> w;
    for (const std::string& word : s.words) w.push_back(expand(word, dirs));
    auto job_file = [&](std::size_t i) { return job + "/" + w.at(i); };
    if (s.verb == "job") {
      build({(dir / w.at(0)).string(), w.size() > 1 ? w[1] : job});
    } else if (s.verb == "synthetic") {
      build({"--synthetic", w.at(0), job});
    } else if (s.verb == "run") {
      command = w;
    } else if (s.verb == "env") {
      const std::size_t eq = w.at(0).find('=');
      const std::string var = w.at(0).substr(0, eq);
      std::erase_if(env, [&](const auto& e) { return e.first == var; });
      if (eq != std::string::npos) env.emplace_back(var, w.at(0).substr(eq + 1));
    } else if (s.verb == "cwd") {
      cwd = w.at(0);
    } else if (s.verb == "outputs") {
      outputs = w.at(0);
    } else if (s.verb == "cut") {
      tx::job::truncate_file(job_file(0), std::stoul(w.at(1)));
    } else if (s.verb == "set") {
      tx::job::set_byte(job_file(0), std::stoul(w.at(1), nullptr, 0),
                        static_cast<std::uint8_t>(std::stoul(w.at(2), nullptr, 0)));
    } else if (s.verb == "zero") {
      // What a crash leaves: the file's length, every byte 0.
      const std::string path = job_file(0);
      testkit::write_file(path, std::string(testkit::read_file(path).size(), '\0'));
    } else if (s.verb == "fifo") {
      ASSERT_EQ(0, mkfifo(w.at(0).c_str(), 0600)) << at;
    } else if (s.verb == "rm") {
      tx::job::remove_file(job_file(0));
    } else if (s.verb == "mkdir") {
      fs::create_directories(w.at(0));
    } else if (s.verb == "put") {
      fs::copy_file(dir / w.at(0), w.at(1), fs::copy_options::overwrite_existing);
    } else if (s.verb == "link") {
      fs::create_symlink(w.at(1), w.at(0));
    } else if (s.verb == "check") {
      checks.push_back(w);
    } else if (s.verb == "after") {
      afters.push_back(w);
    } else {
      FAIL() << at << ": unknown step \"" << s.verb << "\"";
    }
  }
  ASSERT_FALSE(command.empty()) << name << ": the case has no run line";

  // Files that are there before the run (the job's own, when the outputs go
  // to the job directory) are no outputs.
  std::set<std::string> before;
  for (const auto& [file, bytes] : files_in(outputs)) before.insert(file);
  const std::string program = command.front();
  command.erase(command.begin());
  const testkit::result r = testkit::run_program(program, command, cwd, env);
  std::map<std::string, std::string> process = {{"status", std::to_string(r.status) + "\n"},
                                                {"stdout", with_work_named(r.out, work.path)},
                                                {"stderr", with_work_named(r.err, work.path)}};
  compare_or_update(dir / "expected", process, name);
  compare_or_update(dir / "expected/out",
                    files_in(outputs, outputs == out ? std::set<std::string>{} : before),
                    name + " (outputs)");
  for (const auto& c : checks) EXPECT_TRUE(reader_accepts(c)) << name;
  for (const auto& a : afters) {
    std::string command_line;
    for (const std::string& word : a) command_line += "'" + word + "' ";
    EXPECT_EQ(0, std::system(command_line.c_str())) << name << ": after " << command_line;
  }
}

// Every folder of tests/cases that holds a file "case", by name.
std::vector<std::string> case_names() {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(cases_dir))
    if (e.is_directory() && fs::exists(e.path() / "case"))
      names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A case's test is named after its folder; a test name holds only letters,
// digits and "_", so every other character is written "_".
std::string test_name(const testing::TestParamInfo<std::string>& info) {
  std::string name = info.param;
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

// One test per case, so that one case runs alone (a --gtest_filter, or
// ctest -R, on its name) and TX_UPDATE_GOLDEN=1 rewrites only the cases the
// filter selects.
class Cases : public testing::TestWithParam<std::string> {};

TEST_P(Cases, MatchExpectedFiles) { run_case(cases_dir / GetParam()); }

INSTANTIATE_TEST_SUITE_P(Each, Cases, testing::ValuesIn(case_names()), test_name);

}  // namespace
