// libFuzzer entry of one target; TX_FUZZ_ENTRY names its function and
// TX_FUZZ_TARGET the target at build time. Calling the function directly
// links in only the readers the target needs.
#include <cstdio>
#include <cstdlib>

#include "targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string problem = tx::fuzz::TX_FUZZ_ENTRY({data, size});
  if (!problem.empty()) {
    std::fprintf(stderr, "fuzz target %s: %s\n", TX_FUZZ_TARGET, problem.c_str());
    std::abort();
  }
  return 0;
}
