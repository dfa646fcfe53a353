#include "driver/ptf.h"

#include "base/run_state.h"
#include "base/showmsg.h"

namespace tx {

void OpenPTF(run_state& run, const char* language) {
  if (language == nullptr || language[0] == '\0') return;
  showmsg(run.err, "WARNING: %s\n         %s ('%s' ignored).\n",
          "No language options available on this project.", "Base language will be output",
          language);
}

void ClosePTF(run_state& /*run*/) {}

}  // namespace tx
