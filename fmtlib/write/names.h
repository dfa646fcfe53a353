// Names that must differ ignoring case, as the readers of a form compare
// them: the variable names of the Triple-S documents, the variables and
// multiple response sets of the system file.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_set>

namespace tx {

// `name` itself when no name in `taken` equals it ignoring case, else name +
// "_2", "_3", ... (the smallest free number), the name cut so that the
// result stays within max_bytes. `taken` holds the names given so far in
// lower case; the result joins them.
std::string unique_name(std::unordered_set<std::string>& taken, const std::string& name,
                        std::size_t max_bytes = SIZE_MAX);

// The name with the letters A to Z in lower case; other bytes stay.
std::string lower_ascii(std::string name);

}  // namespace tx
