// Language selection for multi-language projects: this system has the base
// language only.
#pragma once

namespace tx {
struct run_state;
void OpenPTF(run_state& run, const char* language);
void ClosePTF(run_state& run);
}  // namespace tx
