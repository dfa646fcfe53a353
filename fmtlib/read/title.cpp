#include "read/title.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

#include "base/misc.h"
#include "base/nstore.h"
#include "base/run_state.h"
#include "base/showmsg.h"
#include "txlib/bytes.h"
#include "txlib/version.h"

namespace tx {

namespace {

constexpr const char* title_file = "seg1.xv";
constexpr long skipped_block = 196;  // after the header; the converter does not use it
constexpr int prefix_size = 8;       // before the length of each title record

// Reads the rest of one title record: the length L at offset 8 and L bytes of
// text. Returns the text (L + 1 zero-filled bytes from the store), or null when
// `keep` is false and the text was passed over.
char* read_title_text(run_state& run, std::FILE* f, int record, bool keep) {
  std::array<std::uint8_t, 4> len_field;
  read_record(f, len_field, title_file, "the length of a title record");
  const std::int32_t len = be_i32(len_field, 0);
  if (len < 0)
    stop_damaged(title_file, "title record " + std::to_string(record) +
                                 " has a negative text length (" + std::to_string(len) + ")");
  if (len > bytes_left(f))
    stop_damaged(title_file, "the text of title record " + std::to_string(record) + " needs " +
                                 std::to_string(len) + " bytes but only " +
                                 std::to_string(bytes_left(f)) + " are left");
  if (!keep) {
    if (std::fseek(f, len, SEEK_CUR) != 0)
      stop_damaged(title_file, "it ends inside the text of a title record");
    return nullptr;
  }
  auto* text = static_cast<char*>(oalloc(run.store, static_cast<std::size_t>(len) + 1));
  read_record(f, {reinterpret_cast<std::uint8_t*>(text), static_cast<std::size_t>(len)}, title_file,
              "the text of a title record");
  return text;
}

}  // namespace

void get_title(run_state& run) {
  file_ptr f(efopen(run, title_file, "r"));
  check_job_header(f.get(), title_file, 9);
  run.title = make_record<title_record>(run.store);

  std::array<std::uint8_t, skipped_block> block;
  read_record(f.get(), block, title_file, "the block after the header");

  // Records run to the end of the file; fewer than 8 bytes left is no record.
  // The title holds ten lines: later records are checked and dropped.
  int records = 0;
  std::array<std::uint8_t, prefix_size> prefix;
  while (std::fread(prefix.data(), 1, prefix.size(), f.get()) == prefix.size()) {
    const bool keep = records < max_title_lines;
    char* text = read_title_text(run, f.get(), records + 1, keep);
    if (keep) run.title->lines[records] = text;
    ++records;
  }
  run.title->count = records < max_title_lines ? records : max_title_lines;
  if (records > max_title_lines)
    showmsg(run.err, "Warning: %s holds %d title lines; only the first %d are used\n", title_file,
            records, max_title_lines);
  f.reset();
  if (run.prt != 0) print_title(run);
}

void print_title(run_state& run) {
  std::FILE* debug = run.debug.get();
  showmsg(debug, "\n TITLE\n");
  for (int i = 0; i < run.title->count; ++i) showmsg(debug, " <%s>\n", run.title->lines[i]);
}

}  // namespace tx
