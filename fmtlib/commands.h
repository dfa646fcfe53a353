// SPSS syntax writer: "commands.xsp" for the free-format data of "data.xsp".
#pragma once

namespace tx {
struct run_state;

struct commands_state {
  const void* last_parent = nullptr;  // parent of the variable before the last blank comment
};

void outputspss(run_state& run, const char* meta_file, const char* data_file);
}  // namespace tx
