// A whole job cut from the input, converted in process into all six forms.
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "kit.h"

namespace tx::fuzz {

namespace {
constexpr const char* forms[] = {"tx2xml", "tx2ts", "tx2spss", "tx2csv", "tx2sav", "tx2html"};

std::string convert_once(const workspace& ws, const char* argv0, const job_settings& s) {
  std::vector<std::string> words{argv0};
  words.insert(words.end(), s.args.begin(), s.args.end());
  std::vector<char*> argv = argv_of(words);
  quiet_run q;
  std::string problem;
  try {
    convert(q.run, static_cast<int>(words.size()), argv.data(), /*quiet=*/true);
    ws.enter();
    const std::string out = q.out();
    if (out.find("Produced file") == std::string::npos)
      problem = std::string(argv0) + ": a completed run reported no files";
    const driver_row* row = q.run.progmode;
    if (row != nullptr && row->meta_file != nullptr &&
        (access(row->meta_file, F_OK) != 0 ||
         (row->data_file != nullptr && access(row->data_file, F_OK) != 0)))
      problem = std::string(argv0) + ": a completed run left out a file it reported";
  } catch (const run_stopped& stop) {
    ws.enter();
    // 0: the usage text; 1: a failed conversion; 2: a command-line error.
    if (stop.status < 0 || stop.status > 2)
      problem = std::string(argv0) + ": stopped with status " + std::to_string(stop.status);
    else if (stop.status != 0 && stop.message.empty())
      problem = std::string(argv0) + ": stopped with a failure and no message";
    else if (q.out().find("Produced file") != std::string::npos)
      problem = std::string(argv0) + ": reported files and then stopped";
  }
  for (const char* name : {"survey.xml", "survey.sss", "survey.asc", "commands.xsp", "data.xsp",
                           "survey.txt", "survey.csv", "survey.sav", "codebook.html", "debugfile"})
    ws.remove(name);
  return problem;
}

}  // namespace

std::string fuzz_job(input data) {
  std::vector<framed_file> files = unframe(data);
  job_settings s = take_settings(files);
  workspace ws;
  ws.put_all(files);
  if (s.spssrc) setenv("TXSPSSRC", s.spssrc->c_str(), 1);
  // Outputs stay in the workspace whatever directory a command line names.
  setenv("TXPERM", ws.dir().c_str(), 1);
  const int free_fd = lowest_free_fd();
  // TX_FUZZ_FORMS (program names separated by ",") narrows a fuzzing session
  // to some forms; the replay in the tests always takes all six.
  const char* only = std::getenv("TX_FUZZ_FORMS");
  for (const char* argv0 : forms) {
    if (only != nullptr && std::strstr(only, argv0) == nullptr) continue;
    if (std::string problem = convert_once(ws, argv0, s); !problem.empty()) return problem;
    if (std::string problem = check_descs_handles(); !problem.empty())
      return std::string(argv0) + ": " + problem;
    if (lowest_free_fd() != free_fd) return std::string(argv0) + ": a file stayed open";
  }
  return "";
}

}  // namespace tx::fuzz
