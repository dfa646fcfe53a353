// SPSS syntax writer: "commands.xsp" for the free-format data of "data.xsp".
#pragma once
#include <cstdio>
#include <string>
#include <string_view>

namespace tx {
struct run_state;
struct spss_var;
struct stat_var;

void outputspss(run_state& run, const char* meta_file, const char* data_file);
// Opens meta_file, writes the title, the DATA LIST command and the labels,
// and closes it (a failed write stops the run naming the file).
void create_spsscommands(run_state& run, const char* meta_file, const char* data_file);
void spss_title(run_state& run, std::FILE* f);
void spss_datalist(run_state& run, std::FILE* f, const char* data_file);
void spss_labels(run_state& run, std::FILE* f);
void output_labels(run_state& run, std::FILE* f, const spss_var* sv);
void output_comments(run_state& run, std::FILE* f, const stat_var* var);

// The text of a quoted SPSS string: cut to its first `max` characters
// (max < 0: not cut), control characters as blanks, each double quote doubled.
std::string spss_quoted(std::string_view text, int max);
}  // namespace tx
