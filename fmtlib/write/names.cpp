#include "write/names.h"

namespace tx {

std::string lower_ascii(std::string name) {
  for (char& c : name)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return name;
}

std::string unique_name(std::unordered_set<std::string>& taken, const std::string& name,
                        std::size_t max_bytes) {
  std::string result = name.substr(0, max_bytes);
  for (int k = 2; taken.contains(lower_ascii(result)); ++k) {
    std::string suffix = "_";
    suffix += std::to_string(k);
    result = name.substr(0, max_bytes - suffix.size()) + suffix;
  }
  taken.insert(lower_ascii(result));
  return result;
}

}  // namespace tx
