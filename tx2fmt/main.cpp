// tx2fmt: converts one Tabulex job into Triple-S XML, Triple-S classic, SPSS
// syntax, an SPSS system file or tab-separated CSV, chosen by the name the
// program is started under.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>

#include "fmtlib/driver/convert.h"
#include "fmtlib/base/misc.h"

namespace {
// SOURCE_DATE_EPOCH, when it holds an integer, pins the date and time written
// into the metadata headers (reproducible output).
std::time_t run_time() {
  const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
  if (epoch != nullptr && *epoch != '\0') {
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(epoch, &end, 10);
    if (errno == 0 && *end == '\0') return static_cast<std::time_t>(value);
  }
  return std::time(nullptr);
}

// The run whose staged outputs an interrupt removes before the program ends
// by the signal, as it would have without a handler.
const tx::staged_outputs* interrupted_outputs = nullptr;

extern "C" void remove_outputs_and_end(int sig) {
  if (interrupted_outputs != nullptr) tx::remove_staged(*interrupted_outputs);
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}
}  // namespace

int main(int argc, char** argv) {
  tx::run_state run;
  run.now = run_time();
  interrupted_outputs = &run.outputs;
  // A signal the caller has us ignore (nohup, a background job) stays ignored.
  for (const int sig : tx::interrupt_signals)
    if (std::signal(sig, remove_outputs_and_end) == SIG_IGN) std::signal(sig, SIG_IGN);
  try {
    tx::convert(run, argc, argv, /*quiet=*/false);
  } catch (const tx::run_stopped& stop) {
    std::fflush(stdout);
    std::fputs(stop.message.c_str(), stderr);
    return stop.status;
  } catch (const std::exception& e) {
    // Memory or a thread the system refused: a message and status 1, and
    // the staged outputs go with the run.
    std::fflush(stdout);
    std::fprintf(stderr, "ERROR: %s\n", e.what());
    return 1;
  }
  if (std::fflush(stdout) != 0) return 1;
  return 0;
}
