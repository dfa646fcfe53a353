// The program's release: its version, shown in the banner and in the head of
// the codebook.
#pragma once

namespace tx {

inline constexpr const char* program_version = "1.1";

}  // namespace tx
