// The option list of TXSPSSRC, the option files it names and the command line.
#include <cstdlib>

#include "fmtlib/driver/options.h"
#include "kit.h"

namespace tx::fuzz {

std::string fuzz_options(input data) {
  std::vector<framed_file> files = unframe(data);
  job_settings s = take_settings(files);
  workspace ws;
  ws.put_all(files);
  if (s.spssrc) setenv("TXSPSSRC", s.spssrc->c_str(), 1);
  std::vector<std::string> words{"tx2fmt"};
  words.insert(words.end(), s.args.begin(), s.args.end());
  std::vector<char*> argv = argv_of(words);
  quiet_run q;
  run_state& run = q.run;
  run.program_name = "tx2fmt";
  run.progmode = select_driver(run, "tx2fmt");
  try {
    char* no_words[] = {nullptr};
    get_options(run, 1, no_words);
    argcrack(run, static_cast<int>(words.size()), argv.data(), "tx2fmt");
  } catch (const run_stopped& stop) {
    // 0: the usage text (-x, -h); 1: an invalid f item of the option list;
    // 2: a command-line error. Each but the usage says why on stderr.
    if (stop.status < 0 || stop.status > 2)
      return "options stopped with status " + std::to_string(stop.status);
    if (stop.status == 0 && q.out().find("Usage: tx2fmt") == std::string::npos)
      return "options stopped with status 0 without the usage text";
    if (stop.status != 0 && stop.message.empty())
      return "options stopped with status " + std::to_string(stop.status) + " and no message";
    return "";
  }
  if (run.pflg < 0 || run.pflg > 10) return "precision " + std::to_string(run.pflg);
  if (run.options.max_var_label != 0 && run.options.max_var_label < 8)
    return "variable label length " + std::to_string(run.options.max_var_label);
  if (run.options.max_value_label != 0 && run.options.max_value_label < 8)
    return "value label length " + std::to_string(run.options.max_value_label);
  if (run.progmode == nullptr || run.progmode->suffix == nullptr) return "no driver row";
  return "";
}

}  // namespace tx::fuzz
