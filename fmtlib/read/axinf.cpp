#include "read/axinf.h"

#include <fcntl.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/misc.h"
#include "base/nstore.h"
#include "base/run_state.h"
#include "base/showmsg.h"
#include "txlib/axttjust.h"
#include "txlib/bytes.h"
#include "txlib/descrips.h"
#include "txlib/filopen.h"
#include "txlib/transfil.h"
#include "txlib/version.h"

namespace tx {

namespace {

constexpr const char* list_file = "axes.inf";
constexpr std::size_t list_record_size = 68;
constexpr std::size_t axis_record_size = 320;
constexpr std::size_t element_record_size = 76;
constexpr int max_title_lines_in_file = 12;  // offsets at 26 and codes at 50, 12 of each

// Option bits of the axis-list record (byte 66).
constexpr std::uint8_t opt_exportsp = 0x04;
constexpr std::uint8_t opt_multi = 0x08;
// Element record flags.
constexpr std::uint16_t el_in_mask = 0x0800;  // offset 28: has a bit in the case masks
constexpr std::uint16_t el_no_data = 0x0040;  // offset 34: carries no data whatever its type

std::string num(long long v) { return std::to_string(v); }

// The descriptions handle of get_axinf: destroyed, and the run's copy set
// back to -1, however get_axinf ends.
struct descs_in_run {
  descs_guard guard;
  int& deschandle;
  descs_in_run(int handle, int& run_handle) : guard{handle}, deschandle(run_handle) {
    deschandle = handle;
  }
  ~descs_in_run() { deschandle = -1; }
  descs_in_run(const descs_in_run&) = delete;
  descs_in_run& operator=(const descs_in_run&) = delete;
};

// A text of the axis heap. The heap has one zero byte beyond its stored size,
// so any offset from 0 to heap_size gives a terminated text.
const char* heap_text(const axis_info* axis, std::int32_t offset, const std::string& file,
                      const std::string& what) {
  if (offset < 0 || offset > axis->heap_size)
    stop_damaged(file.c_str(), "the " + what + " lies at offset " + num(offset) +
                                   ", outside the text heap of " + num(axis->heap_size) + " bytes");
  return PtGlobDeref(axis->heap + offset);
}

// Element records: only those with flag 0x0800 are kept, in file order.
void read_elements(run_state& run, axis_info* axis, std::FILE* f, std::int16_t count,
                   const std::string& file) {
  if (count < 0)
    stop_damaged(file.c_str(), "it holds a negative element count (" + num(count) + ")");
  if (static_cast<long>(count) * static_cast<long>(element_record_size) > bytes_left(f))
    stop_damaged(file.c_str(), "it holds " + num(count) + " element records but ends before them");
  axis->elements = make_array<element_info*>(run.store, static_cast<std::size_t>(count));
  axis->no_output = 1;
  std::int16_t kept = 0;
  std::array<std::uint8_t, element_record_size> rec;
  for (int i = 0; i < count; ++i) {
    read_record(f, rec, file.c_str(), "an element record");
    if ((be_u16(rec, 28) & el_in_mask) == 0) continue;
    auto* e = make_record<element_info>(run.store);
    e->textoff = el_textoff(rec.data());
    e->type = (be_u16(rec, 34) & el_no_data) != 0 ? 0 : rec[61];
    if (e->type != 0) axis->no_output = 0;
    axis->elements[kept++] = e;
  }
  axis->counts = make_record<axis_counts>(run.store);
  axis->counts->nelements = kept;
  axis->counts->nbits = kept;
}

void read_heap(run_state& run, axis_info* axis, std::FILE* f, int size, const std::string& file) {
  if (size < 0) stop_damaged(file.c_str(), "it holds a negative heap size (" + num(size) + ")");
  if (size > bytes_left(f))
    stop_damaged(file.c_str(), "its text heap of " + num(size) + " bytes is longer than the file");
  axis->heap_size = size;
  axis->heap = static_cast<char*>(oalloc(run.store, static_cast<std::size_t>(size) + 1));
  read_record(f, {reinterpret_cast<std::uint8_t*>(axis->heap), static_cast<std::size_t>(size)},
              file.c_str(), "the text heap");
  for (int i = 0; i < axis->counts->nelements; ++i)
    heap_text(axis, axis->elements[i]->textoff, file, "text of element " + num(i + 1));
}

// The description, the axis text and the title lines, at most ten; a text
// equal to the description is not repeated.
void build_titles(run_state& run, axis_info* axis, const std::uint8_t* rec, const char* tag,
                  const std::string& file) {
  const std::span<const std::uint8_t> r(rec, axis_record_size);
  title_list* list = make_record<title_list>(run.store);
  axis->titles = list;
  const int handle = run.axinf_mod.deschandle;
  const char* descript = handle >= 0 ? PtGlobDeref(TagGetDescript(handle, tag)) : nullptr;
  const std::int16_t nlines = be_i16(r, 14);
  if (nlines < 0 || nlines > max_title_lines_in_file)
    stop_damaged(file.c_str(), "it holds " + num(nlines) + " title lines (at most 12)");
  const std::int16_t text_flag = be_i16(r, 22);
  int limit = (descript != nullptr ? 1 : 0) + nlines + text_flag;
  if (limit > max_axis_titles) limit = max_axis_titles;
  if (limit <= 0) return;

  auto take = [&](const char* text) { list->lines[list->count++] = store_text(run.store, text); };
  auto differs = [&](const char* text) {
    return descript == nullptr || std::strcmp(text, descript) != 0;
  };
  if (descript != nullptr) take(descript);
  if (text_flag != 0) {
    const char* text = heap_text(axis, be_i16(r, 24), file, "axis text");
    if (differs(text)) take(text);
  }
  for (int i = 0; i < nlines && list->count < limit; ++i) {
    const char* text = heap_text(axis, be_i16(r, 26 + 2 * static_cast<std::size_t>(i)), file,
                                 "title line " + num(i + 1));
    // The justification characters; a text shorter than them shows nothing.
    const int skip = GetAxisTitleSkipJust(rec, i);
    text =
        std::strlen(text) < static_cast<std::size_t>(skip) ? text + std::strlen(text) : text + skip;
    if (differs(text)) take(text);
  }
}

axis_info* read_list_record(run_state& run, std::FILE* f, int record) {
  std::array<std::uint8_t, list_record_size> rec;
  read_record(f, rec, list_file, "an axis-list record");
  auto* axis = make_record<axis_info>(run.store);
  auto* head = make_record<axis_head>(run.store);
  axis->head = head;
  head->ngrid = rec[63];
  head->isgrid = rec[62];
  head->incase = be_i16(rec, 30);
  head->axisno = be_i16(rec, 8);
  // The tag at 50 is NUL-terminated within its 12 bytes.
  const char* tag_field = reinterpret_cast<const char*>(rec.data() + 50);
  const std::size_t tag_len = strnlen(tag_field, 12);
  if (tag_len == 12)
    stop_damaged(list_file, "the tag of axis record " + num(record) + " has no terminator");
  const std::string tag(tag_field, tag_len);

  // A label names the axis; an entry without one (or with an empty one)
  // leaves the tag, as no entry does.
  const int handle = run.axinf_mod.deschandle;
  const char* label = handle >= 0 ? PtGlobDeref(TagGetLabel(handle, tag.c_str())) : nullptr;
  head->name = store_text(run.store, label != nullptr && *label != '\0' ? label : tag.c_str());

  read_axinf(run, axis, tag.c_str());
  axis->nwords = (axis->counts->nbits + 15) / 16;
  axis->maxbits = 0;
  if ((rec[66] & opt_exportsp) != 0) {
    if ((rec[66] & opt_multi) != 0)
      axis->maxbits = 2;
    else
      showmsg(run.err, "%s: 'exportsp' keyword not implemented.\n", tag.c_str());
  }
  axis->grid_label = nullptr;
  axis->next = nullptr;
  return axis;
}

char* grid_name(run_state& run) {
  char name[16];
  std::snprintf(name, sizeof name, "x%d", run.axinf_mod.grid_counter++);
  return store_text(run.store, name);
}

// Replaces grid axis a and its partner (the next axis) by one axis per grid
// item, named x0, x1, ... and labelled by the partner's kept elements.
// Returns the last axis of the group.
axis_info* expand_grid(run_state& run, axis_info* a) {
  if (a->head->ngrid == 0) error(901);
  axis_info* partner = a->next;
  if (partner == nullptr || checknames(a->head->name, partner->head->name) != 0) error(902);
  // The partner's elements are the grid items' texts; fewer is no grid.
  if (partner->counts->nelements < a->head->ngrid) error(902);
  a->head->name = grid_name(run);
  a->grid_label = store_text(run.store, element_text(partner, 0));
  axis_info* last = a;
  for (int j = 1; j < a->head->ngrid; ++j) {
    auto* k = make_record<axis_info>(run.store);
    axe_shr(k, a);
    k->head = make_record<axis_head>(run.store);
    k->head->incase = a->head->incase;
    k->head->axisno = static_cast<std::int16_t>(a->head->axisno + 10000);
    k->head->name = grid_name(run);
    k->grid_label = store_text(run.store, element_text(partner, j));
    last->next = k;
    last = k;
  }
  last->next = partner->next;
  return last;
}

}  // namespace

const char* element_text(const axis_info* axis, int element) {
  return PtGlobDeref(axis->heap + axis->elements[element]->textoff);
}

void get_axinf(run_state& run) {
  run.axinf = nullptr;
  run.naxes = 0;
  run.axinf_mod.grid_counter = 0;
  file_ptr f(efopen(run, list_file, "r"));
  check_job_header(f.get(), list_file, 2);

  std::string path;
  tmpopname("descrips.inf", path);
  refuse_irregular(path, "descrips.inf");
  int entries = 0;
  const int handle = DescsLoad(path.c_str(), 0, 0, &entries);
  descs_in_run descs(handle, run.axinf_mod.deschandle);
  if (handle < 0) showmsg(run.err, "Warning: cannot read %s (errcode %d)\n", path.c_str(), handle);

  std::array<std::uint8_t, 4> count;
  read_record(f.get(), count, list_file, "the number of axes");
  const std::int32_t naxes = be_i32(count, 0);
  if (naxes < 0) stop_damaged(list_file, "it holds a negative number of axes (" + num(naxes) + ")");
  if (static_cast<long long>(naxes) * static_cast<long long>(list_record_size) >
      bytes_left(f.get()))
    stop_damaged(list_file, "it holds " + num(naxes) + " axes but ends before their records");
  run.naxes = naxes;

  axis_info** tail = &run.axinf;
  for (int i = 0; i < naxes; ++i) {
    *tail = read_list_record(run, f.get(), i + 1);
    tail = &(*tail)->next;
  }
  for (axis_info* a = run.axinf; a != nullptr; a = a->next)
    if (a->head->isgrid != 0) a = expand_grid(run, a);
}

void read_axinf(run_state& run, axis_info* axis, const char* tag) {
  const bool partner = axis->head->isgrid != 0 && axis->head->ngrid == 0;
  const std::string file = std::string(tag) + (partner ? ".ay" : ".ax");
  // Axis files lie in the current directory, not in the temporary one.
  const int fd = open(file.c_str(), input_flags);
  std::string why;
  file_ptr f(input_stream(fd, "r", why));
  // One that is there but no regular file says why.
  if (!f) stop_run(1, "failed to open " + file + (fd >= 0 ? ": " + why : "") + "\n");
  check_job_header(f.get(), file.c_str(), 3);

  std::array<std::uint8_t, axis_record_size> rec;
  read_record(f.get(), rec, file.c_str(), "the axis record");
  read_elements(run, axis, f.get(), be_i16(rec, 8), file);
  read_heap(run, axis, f.get(), ax_heap(rec.data()), file);
  build_titles(run, axis, rec.data(), tag, file);
}

void axe_shr(axis_info* copy, const axis_info* source) {
  copy->counts = source->counts;
  copy->elements = source->elements;
  copy->heap = source->heap;
  copy->heap_size = source->heap_size;  // goes with the heap
  copy->nwords = source->nwords;
  copy->grid_label = source->grid_label;
  copy->titles = source->titles;
}

int checknames(const char* a, const char* b) {
  // From the second character on; an empty name has nothing there.
  return std::strcmp(*a != '\0' ? a + 1 : a, *b != '\0' ? b + 1 : b);
}

void print_axinf(run_state& run, const axis_info* axis) {
  std::FILE* debug = run.debug.get();
  showmsg(debug, "\nAxe %d %s", axis->head->axisno, axis->head->name);
  showmsg(debug, "\n N of elements %d", axis->counts->nelements);
  showmsg(debug, "\n N of levels   %d", axis->counts->nbits);
  if (axis->no_output != 0) showmsg(debug, "\n No output for this axis");
  for (int i = 0; i < axis->counts->nelements; ++i) {
    showmsg(debug, "\n Type %d", axis->elements[i]->type);
    showmsg(debug, " text %s", element_text(axis, i));
  }
  std::fflush(debug != nullptr ? debug : stderr);
}

}  // namespace tx
