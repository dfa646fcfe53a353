#include "targets.h"

namespace tx::fuzz {

const std::vector<target>& targets() {
  static const std::vector<target> all = {
      {"header", fuzz_header},     {"compio", fuzz_compio},     {"descrips", fuzz_descrips},
      {"axes", fuzz_axes},         {"intermed", fuzz_intermed}, {"incs", fuzz_incs},
      {"title", fuzz_title},       {"options", fuzz_options},   {"job", fuzz_job},
      {"bytecode", fuzz_bytecode},
  };
  return all;
}

const target* find_target(std::string_view name) {
  for (const target& t : targets())
    if (name == t.name) return &t;
  return nullptr;
}

}  // namespace tx::fuzz
