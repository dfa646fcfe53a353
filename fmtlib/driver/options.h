// Run options: the option list of TXSPSSRC (and the option file it may name)
// and the command line.
#pragma once
#include <string>

namespace tx {

struct run_state;

void get_options(run_state& run, int argc, char** argv);
void process_option(run_state& run, const char* item, const char* source, int depth);
int get_options_file(run_state& run, const char* name);
const char* skip_equals(const char* text);
const char* argcrack(run_state& run, int argc, char** argv, const char* program_name);
const char* alldig(const char* text);
void print_usage(run_state& run, const char* program_name);

}  // namespace tx
