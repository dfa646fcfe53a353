// tx2fmt: converts one Tabulex job into Triple-S XML, Triple-S classic, SPSS
// syntax, an SPSS system file or tab-separated CSV, chosen by the name the
// program is started under.
#include <signal.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <optional>

#include "fmtlib/base/misc.h"
#include "fmtlib/base/staging.h"
#include "fmtlib/driver/convert.h"

namespace {

// The first moment of the year 10000: metadata dates have four-digit years.
constexpr long long year_10000 = 253402300800LL;

// SOURCE_DATE_EPOCH pins the date and time written into the metadata
// (reproducible output): when set and not empty, a count of seconds since
// 1970 in decimal digits, whose date lies before the year 10000 where the
// run is. Empty means unset; null: anything else.
std::optional<std::time_t> run_time() {
  const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
  if (epoch == nullptr || *epoch == '\0') return std::time(nullptr);
  long long value = 0;
  for (const char* p = epoch; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return std::nullopt;
    value = value * 10 + (*p - '0');
    if (value >= year_10000) return std::nullopt;
  }
  const auto t = static_cast<std::time_t>(value);
  std::tm local{};
  if (localtime_r(&t, &local) == nullptr || local.tm_year + 1900 > 9999) return std::nullopt;
  return t;
}

// The run whose staged outputs a termination signal removes before the
// program ends by the signal, as it would have without a handler.
const tx::staged_outputs* interrupted_outputs = nullptr;

extern "C" void remove_outputs_and_end(int sig) {
  if (interrupted_outputs != nullptr) tx::remove_staged(*interrupted_outputs);
  std::signal(sig, SIG_DFL);
  std::raise(sig);  // delivered when the handler returns: the status is 128 + sig
}

void answer_termination_signals() {
  struct sigaction answer {};
  answer.sa_handler = remove_outputs_and_end;
  // One signal at a time: a second waits while the first removes the files.
  sigemptyset(&answer.sa_mask);
  for (const int sig : tx::termination_signals) sigaddset(&answer.sa_mask, sig);
  for (const int sig : tx::termination_signals) {
    struct sigaction old {};
    // A signal the caller has us ignore (nohup, a background job) stays ignored.
    if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    sigaction(sig, &answer, nullptr);
  }
  // A file-size limit fails the write that meets it ("File too large").
  std::signal(SIGXFSZ, SIG_IGN);
}

// "Produced files ..." and the usage text: a standard output that cannot
// take them fails the run (status 1), although the outputs are in place.
int finish_standard_output() {
  errno = 0;
  const bool written = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
  if (written && std::fclose(stdout) == 0) return 0;
  // A write that failed earlier left only the stream's error indicator.
  std::fprintf(stderr, "cannot write the standard output: %s\n",
               std::strerror(errno != 0 ? errno : EIO));
  return 1;
}

int convert(tx::run_state& run, int argc, char** argv) {
  try {
    tx::convert(run, argc, argv, /*quiet=*/false);
  } catch (const tx::run_stopped& stop) {
    if (stop.status == 0) return finish_standard_output();  // the usage text
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
  return finish_standard_output();
}

}  // namespace

int main(int argc, char** argv) {
  const std::optional<std::time_t> now = run_time();
  if (!now) {
    std::fprintf(stderr,
                 "ERROR: SOURCE_DATE_EPOCH \"%s\" is not a number of seconds since 1970 "
                 "before the year 10000\n",
                 std::getenv("SOURCE_DATE_EPOCH"));
    return 1;
  }
  tx::run_state run;
  run.now = *now;
  interrupted_outputs = &run.outputs;
  answer_termination_signals();
  const int status = convert(run, argc, argv);
  // Whatever is still staged goes while the handler can still see it.
  run.outputs.discard();
  interrupted_outputs = nullptr;
  return status;
}
