#include "descrips.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "compio.h"

namespace tx {

namespace {

constexpr int tag_size = 12;     // 11 characters and the NUL
constexpr int parent_size = 10;  // 9 characters and the NUL
constexpr int name_size = 256;
constexpr int line_size = 512;  // lines are read up to 511 characters
constexpr int default_slots = 100;
constexpr int grow_slots = 100;
constexpr int file_bits = 12;  // width of the compress stream, read and written
constexpr int current_version = 1001;
constexpr int no_level = 999;
constexpr int max_generated = 9999;

enum descs_error {
  no_descs_error = 0,
  unknown_entry = -1,
  file_empty = -2,
  file_not_found = -3,
  no_handles = -5,
  no_memory = -6,
  load_error = -21,
  create_error = -41
};

struct type_text {
  int code;
  const char* word;
  const char* tag_template;
};
// Types 5 (axlist) and 7 (group) share the template "l_%04d_".
constexpr type_text TypeTexts[] = {
    {desc_axis, "axis", "x_%04d_"},     {desc_inc, "inc", "n_%04d_"},
    {desc_alph, "alph", "t_%04d_"},     {desc_bit, "bit", "b_%04d_"},
    {desc_axlist, "axlist", "l_%04d_"}, {desc_weight, "weight", "w_%04d_"},
    {desc_group, "group", "l_%04d_"}};
constexpr int NTypes = 7;

struct descs_error_text {
  int code;
  const char* text;
};
constexpr descs_error_text DescsErrors[] = {{-1, "Unknown entry"},
                                            {-2, "File is empty"},
                                            {-3, "File not found"},
                                            {-4, "File already exists"},
                                            {-5, "No more handles available"},
                                            {-6, "No more memory available"},
                                            {-7, "No more unique valid tags available"},
                                            {-21, "Error in loading file"},
                                            {-41, "Error in creating file"}};
constexpr const char* NoDescsError = "";
constexpr const char* UnknownDescsError = "Unknown error code";

struct DescEntry {
  int type = 0;  // 0: a slot never used, or removed
  int level = no_level;
  char tag[tag_size] = {};  // empty: the slot holds no findable entry
  std::unique_ptr<char[]> label;
  std::unique_ptr<char[]> descript;
  std::unique_ptr<char[]> parent;  // axis entries only, parent_size bytes
  int label_size = 0;
  int descript_size = 0;
  std::uint8_t user_created = 0;
  std::uint8_t grid_wmid = 0;  // axis: grid 0, 1 or 2; weight: the digit 0 to 9
};

struct DescsHandle {
  char name[name_size] = {};
  int state = 0;  // 0 free, 1 loaded from a file, 2 created empty
  int can_grow = 0;
  int version = 0;
  int capacity = 0;
  int used = 0;  // slots handed out so far, never reused
  std::vector<DescEntry> entries;
  int find_next[10] = {};  // per type code: one past the slot last returned
};

DescsHandle DescFiles[n_desc_handles];

// ---- Helpers ----

bool valid_type(int type) { return type >= 1 && type <= NTypes; }
const type_text& type_row(int type) { return TypeTexts[type - 1]; }

DescsHandle* in_use(int handle) {
  if (handle < 0 || handle >= n_desc_handles || DescFiles[handle].state == 0) return nullptr;
  return &DescFiles[handle];
}

int free_handle() {
  for (int k = 0; k < n_desc_handles; ++k)
    if (DescFiles[k].state == 0) return k;
  return no_handles;
}

bool starts_with(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// An owned copy of text, allocated to its length plus the NUL.
std::unique_ptr<char[]> copy_text(const char* text, int& size) {
  std::size_t n = std::strlen(text) + 1;
  std::unique_ptr<char[]> out(new (std::nothrow) char[n]);
  if (out) {
    std::memcpy(out.get(), text, n);
    size = static_cast<int>(n);
  }
  return out;
}

DescEntry* find_entry(DescsHandle* d, const char* tag) {
  if (d == nullptr || tag == nullptr || tag[0] == '\0') return nullptr;
  for (DescEntry& e : d->entries)
    if (e.tag[0] != '\0' && std::strcmp(e.tag, tag) == 0) return &e;
  return nullptr;
}

DescEntry* find_entry(int handle, const char* tag) { return find_entry(in_use(handle), tag); }

// Makes the slot array `slots` long, new slots zeroed; false when memory fails.
bool resize_slots(DescsHandle& d, int slots) {
  try {
    d.entries.resize(static_cast<std::size_t>(slots));
  } catch (const std::bad_alloc&) {
    return false;
  }
  d.capacity = slots;
  return true;
}

// ---- Loading ----

// Lines of the file, read up to 511 characters (the rest of a line is dropped).
// A heading line that ends an entry stays in `line` for the next one.
struct line_reader {
  comp_file* file = nullptr;
  char line[line_size] = {};
  bool at_end = false;

  bool next() {
    if (compfgets(line, line_size, file) < 0) at_end = true;
    return !at_end;
  }
  bool heading() const { return starts_with(line, "#@"); }
};

int count_headings(const char* path) {
  line_reader r;
  r.file = compopen(path, "rb", file_bits);
  if (r.file == nullptr) return file_not_found;
  int count = 0;
  while (r.next())
    if (r.heading()) ++count;
  compclose(r.file);
  return count;
}

// What one entry's lines say, before it is stored in its slot.
struct entry_fields {
  int level = no_level;
  int grid = 0;
  int wmid = 0;
  int usrcrt = 0;
  bool tag_seen = false;
  bool parent_seen = false;
  std::string tag, label, descript, parent;
};

bool single_digit(const char* value) { return is_digit(value[0]) && value[1] == '\0'; }

// Takes one keyword line (the text after "#;"); the first usable value wins.
void take_keyword(entry_fields& f, const char* key_line) {
  if (starts_with(key_line, "tag=")) {
    const char* value = key_line + 4;
    // A tag longer than the field is refused, and the entry keeps an empty tag.
    if (!f.tag_seen && value[0] != '\0') {
      f.tag_seen = true;
      if (std::strlen(value) < static_cast<std::size_t>(tag_size)) f.tag = value;
    }
  } else if (starts_with(key_line, "label=")) {
    if (f.label.empty()) f.label = key_line + 6;
  } else if (starts_with(key_line, "level=")) {
    if (f.level == no_level && single_digit(key_line + 6)) f.level = key_line[6] - '0';
  } else if (starts_with(key_line, "grid=")) {
    const char* value = key_line + 5;
    if (f.grid == 0 && (std::strcmp(value, "1") == 0 || std::strcmp(value, "2") == 0))
      f.grid = value[0] - '0';
  } else if (starts_with(key_line, "parent=")) {
    const char* value = key_line + 7;
    // Likewise a parent longer than its 10-byte field: the entry has no parent.
    if (!f.parent_seen && value[0] != '\0') {
      f.parent_seen = true;
      if (std::strlen(value) < static_cast<std::size_t>(parent_size)) f.parent = value;
    }
  } else if (starts_with(key_line, "wmid=")) {
    if (f.wmid == 0 && single_digit(key_line + 5)) f.wmid = key_line[5] - '0';
  } else if (starts_with(key_line, "usrcrt=")) {
    if (f.usrcrt == 0 && std::strcmp(key_line + 7, "1") == 0) f.usrcrt = 1;
  }
}

// The type code named by a heading line: the word after "#@" up to the first
// space, or to the end of the line (newline included). 0 when unknown.
int heading_type(const char* line) {
  const char* word = line + 2;
  std::size_t n = std::strcspn(word, " ");
  for (const type_text& t : TypeTexts)
    if (std::strlen(t.word) == n && std::strncmp(word, t.word, n) == 0) return t.code;
  return 0;
}

int store_entry(DescEntry& e, int type, const entry_fields& f) {
  e.type = type;
  e.level = f.level;
  std::memcpy(e.tag, f.tag.c_str(), f.tag.size() + 1);
  e.label = copy_text(f.label.c_str(), e.label_size);
  e.descript = copy_text(f.descript.c_str(), e.descript_size);
  if (!e.label || !e.descript) return no_memory;
  e.grid_wmid = 0;
  e.user_created = 0;
  if (type == desc_axis && f.grid != 0) e.grid_wmid = static_cast<std::uint8_t>(f.grid);
  if (type == desc_axis && !f.parent.empty()) {
    e.parent.reset(new (std::nothrow) char[parent_size]());
    if (!e.parent) return no_memory;
    std::memcpy(e.parent.get(), f.parent.c_str(), f.parent.size() + 1);
  }
  if (type == desc_weight) e.grid_wmid = static_cast<std::uint8_t>(f.wmid);
  if (f.usrcrt == 1) e.user_created = 1;
  return 0;
}

constexpr int entry_skipped = 1;

// Reads one entry from its heading line (in r.line) up to the next heading or
// the end, into `slot`. Returns 0, entry_skipped for an unknown type, or -6.
int read_entry(line_reader& r, DescEntry& slot) {
  int type = heading_type(r.line);
  entry_fields f;
  while (r.next() && !r.heading()) {
    if (type == 0) continue;
    std::size_t n = std::strlen(r.line);
    if (n > 0 && r.line[n - 1] == '\n') r.line[n - 1] = '\0';
    if (!starts_with(r.line, "#;")) {
      if (f.descript.empty()) f.descript = r.line;
    } else {
      take_keyword(f, r.line + 2);
    }
  }
  if (type == 0) return entry_skipped;
  return store_entry(slot, type, f);
}

int read_entries(line_reader& r, DescsHandle& d, int headings) {
  while (!(r.next() && r.heading())) {
    if (r.at_end) return load_error;
    if (starts_with(r.line, "##version=")) {
      int version = 0;
      for (const char* p = r.line + 10; is_digit(*p) && version < 100000000; ++p)
        version = version * 10 + (*p - '0');
      d.version = version;
    }
  }
  for (;;) {
    int result = read_entry(r, d.entries[static_cast<std::size_t>(d.used)]);
    if (result == 0) {
      ++d.used;
    } else if (result != entry_skipped) {
      return result;
    }
    if (r.at_end) return 0;
    // The file changed since its headings were counted.
    if (d.used >= headings) return load_error;
  }
}

// ---- Saving ----

void append_format(std::string& out, const char* format, ...) {
  va_list args, again;
  va_start(args, format);
  va_copy(again, args);
  int n = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  if (n > 0) {
    std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(n) + 1);
    std::vsnprintf(out.data() + at, static_cast<std::size_t>(n) + 1, format, again);
    out.resize(at + static_cast<std::size_t>(n));
  }
  va_end(again);
}

// The written form of one entry, in a buffer sized to it.
std::string entry_text(const DescEntry& e) {
  std::string out;
  const char* word = type_row(e.type).word;
  append_format(out, "%s%s %s\n%s\n%s%s%d\n%s%s%s\n%s%s%s\n", "#@", word, e.tag,
                e.descript ? e.descript.get() : "", "#;",
                "level=", e.level == no_level ? 0 : e.level, "#;", "tag=", e.tag, "#;",
                "label=", e.label ? e.label.get() : "");
  if (e.type == desc_axis && e.grid_wmid != 0)
    append_format(out, "%s%s%d\n", "#;", "grid=", e.grid_wmid);
  if (e.type == desc_axis && e.parent)
    append_format(out, "%s%s%s\n", "#;", "parent=", e.parent.get());
  if (e.type == desc_weight) append_format(out, "%s%s%d\n", "#;", "wmid=", e.grid_wmid);
  if (e.user_created) append_format(out, "%s%s1\n", "#;", "usrcrt=");
  return out;
}

// ---- Adding ----

// A label that can serve as its own tag: a letter, then letters, digits or
// underscores, at most 7 characters for an axis and 8 for the other types.
bool valid_tag_name(int type, const char* label) {
  std::size_t n = std::strlen(label);
  std::size_t most = type == desc_axis ? 7 : 8;
  if (n == 0 || n > most || !is_letter(label[0])) return false;
  for (std::size_t k = 1; k < n; ++k)
    if (!is_letter(label[k]) && !is_digit(label[k]) && label[k] != '_') return false;
  return true;
}

// The generated tag, formed in a module buffer of tag_size characters.
char generated_tag[tag_size];

bool generate_tag(const DescsHandle& d, int type) {
  for (int n = 1; n <= max_generated; ++n) {
    std::snprintf(generated_tag, sizeof generated_tag, type_row(type).tag_template, n);
    bool taken = false;
    for (const DescEntry& e : d.entries)
      if (std::strcmp(e.tag, generated_tag) == 0) {
        taken = true;
        break;
      }
    if (!taken) return true;
  }
  return false;
}

// Chooses the new entry's tag into `tag`; false when the add must fail.
bool choose_tag(const DescsHandle& d, int type, const char* label, char* tag) {
  bool generate = false;
  for (int k = 0; k < d.used; ++k) {
    const DescEntry& e = d.entries[static_cast<std::size_t>(k)];
    if (e.tag[0] == '\0') continue;
    if (e.type == type && e.label && std::strcmp(e.label.get(), label) == 0) return false;
    if (std::strcmp(e.tag, label) == 0) {
      generate = true;
      break;
    }
  }
  if (!generate && valid_tag_name(type, label)) {
    std::strcpy(tag, label);  // at most 8 characters
    return true;
  }
  if (!generate_tag(d, type)) return false;
  std::strcpy(tag, generated_tag);
  return true;
}

int set_text(int handle, const char* tag, const char* text, int* moved,
             std::unique_ptr<char[]> DescEntry::*field, int DescEntry::*size) {
  if (moved != nullptr) *moved = 0;
  DescEntry* e = find_entry(handle, tag);
  if (e == nullptr) return unknown_entry;
  if (text == nullptr) text = "";
  std::size_t n = std::strlen(text) + 1;
  if (n > static_cast<std::size_t>(e->*size) || !(e->*field)) {
    std::unique_ptr<char[]> bigger(new (std::nothrow) char[n]);
    if (!bigger) return no_memory;
    e->*field = std::move(bigger);
    e->*size = static_cast<int>(n);
    if (moved != nullptr) *moved = 1;
  }
  std::memcpy((e->*field).get(), text, n);
  return 0;
}

}  // namespace

// ---- Interface ----

int DescsLoad(const char* path, int extra_slots, int can_grow, int* count) {
  if (count != nullptr) *count = 0;
  int handle = free_handle();
  if (handle < 0) return handle;
  // A path that does not fit the handle's name cannot be loaded or saved back.
  if (path == nullptr || std::strlen(path) >= static_cast<std::size_t>(name_size))
    return file_not_found;
  int headings = count_headings(path);
  if (headings < 0) return headings;
  if (headings == 0) return file_empty;
  line_reader r;
  r.file = compopen(path, "rb", file_bits);
  if (r.file == nullptr) return load_error;
  DescsHandle& d = DescFiles[handle];
  if (!resize_slots(d, headings + (extra_slots > 0 ? extra_slots : 0))) {
    compclose(r.file);
    return no_memory;
  }
  std::strcpy(d.name, path);
  d.state = 1;
  d.can_grow = can_grow;
  d.version = 0;
  d.used = 0;
  int result = read_entries(r, d, headings);
  compclose(r.file);
  d.version = current_version;
  if (result < 0) {
    DescsDestroy(handle);
    return result;
  }
  if (count != nullptr) *count = d.used;
  return handle;
}

int DescsCreate(int slots, int can_grow) {
  int handle = free_handle();
  if (handle < 0) return handle;
  DescsHandle& d = DescFiles[handle];
  if (!resize_slots(d, slots > 0 ? slots : default_slots)) {
    DescsDestroy(handle);
    return no_memory;
  }
  d.state = 2;
  d.can_grow = can_grow;
  d.version = current_version;
  return handle;
}

char* DescsAdd(int handle, int type, int level, const char* label, const char* descript,
               int* moved) {
  if (moved != nullptr) *moved = 0;
  DescsHandle* d = in_use(handle);
  if (d == nullptr || !valid_type(type) || label == nullptr) return nullptr;
  char tag[tag_size];
  if (!choose_tag(*d, type, label, tag)) return nullptr;
  if (d->used >= d->capacity) {
    if (!d->can_grow) return nullptr;
    const DescEntry* before = d->entries.data();
    if (!resize_slots(*d, d->capacity + grow_slots)) return nullptr;
    if (moved != nullptr) *moved = d->entries.data() != before ? 1 : 0;
  }
  DescEntry& e = d->entries[static_cast<std::size_t>(d->used)];
  DescEntry fresh;
  fresh.type = type;
  fresh.level = level;
  std::strcpy(fresh.tag, tag);
  fresh.label = copy_text(label, fresh.label_size);
  fresh.descript = copy_text(descript != nullptr ? descript : "", fresh.descript_size);
  if (!fresh.label || !fresh.descript) return nullptr;
  e = std::move(fresh);
  ++d->used;
  return e.tag;
}

int DescsRemoveTag(int handle, const char* tag) {
  DescEntry* e = find_entry(handle, tag);
  if (e == nullptr) return unknown_entry;
  *e = DescEntry{};
  e->level = 0;  // a removed slot is all zero, like one never used
  return 0;
}

int DescsSave(int handle, const char* path) {
  DescsHandle* d = in_use(handle);
  if (d == nullptr) return create_error;
  if (path == nullptr) path = d->name;
  if (path[0] == '\0') return file_not_found;
  comp_file* f = compopen(path, "wb", file_bits);
  if (f == nullptr) return create_error;
  std::string out;
  append_format(out, "%s%d\n", "##version=", d->version);
  for (const type_text& t : TypeTexts)
    for (const DescEntry& e : d->entries)
      if (e.type == t.code && e.tag[0] != '\0') out += entry_text(e);
  compwrite(f, out.data(), static_cast<int>(out.size()));
  // A file that could not be written whole is not reported as saved.
  return compclose(f) == 0 ? 0 : create_error;
}

void DescsDestroy(int handle) {
  if (handle < 0 || handle >= n_desc_handles) return;
  DescFiles[handle] = DescsHandle{};
}

const char* DescsErrorString(int code) {
  if (code == 0) return NoDescsError;
  for (const descs_error_text& e : DescsErrors)
    if (e.code == code) return e.text;
  return UnknownDescsError;
}

char* DescsFindTag(int handle, int type, const char* label) {
  DescsHandle* d = in_use(handle);
  if (d == nullptr || label == nullptr) return nullptr;
  for (DescEntry& e : d->entries)
    if (e.type != 0 && (type == 0 || e.type == type) && e.label &&
        std::strcmp(e.label.get(), label) == 0)
      return e.tag;
  return nullptr;
}

namespace {
// Returns the tag of the next used slot of `type` from slot `from` on, and
// remembers where the iteration stands for that type.
char* find_from(DescsHandle& d, int type, int from) {
  for (int k = from; k < d.capacity; ++k) {
    DescEntry& e = d.entries[static_cast<std::size_t>(k)];
    if (e.type != 0 && (type == 0 || e.type == type)) {
      d.find_next[type] = k + 1;
      return e.tag;
    }
  }
  d.find_next[type] = d.capacity;  // at the end it stays at the end
  return nullptr;
}
}  // namespace

char* DescsFindFirstTag(int handle, int type) {
  DescsHandle* d = in_use(handle);
  if (d == nullptr || (type != 0 && !valid_type(type))) return nullptr;
  return find_from(*d, type, 0);
}

char* DescsFindNextTag(int handle, int type) {
  DescsHandle* d = in_use(handle);
  if (d == nullptr || (type != 0 && !valid_type(type)) || d->find_next[type] == 0) return nullptr;
  return find_from(*d, type, d->find_next[type]);
}

int TagGetAllInfo(int handle, const char* tag, int* type, int* level, char** label,
                  char** descript) {
  DescEntry* e = find_entry(handle, tag);
  if (e == nullptr) return unknown_entry;
  if (type != nullptr) *type = e->type;
  if (level != nullptr) *level = e->level;
  if (label != nullptr) *label = e->label.get();
  if (descript != nullptr) *descript = e->descript.get();
  return 0;
}

char* TagGetLabel(int handle, const char* tag) {
  DescEntry* e = find_entry(handle, tag);
  return e != nullptr ? e->label.get() : nullptr;
}

char* TagGetDescript(int handle, const char* tag) {
  DescEntry* e = find_entry(handle, tag);
  return e != nullptr ? e->descript.get() : nullptr;
}

int TagGetType(int handle, const char* tag) {
  DescEntry* e = find_entry(handle, tag);
  return e != nullptr ? e->type : 0;
}

int TagGetLevel(int handle, const char* tag) {
  DescEntry* e = find_entry(handle, tag);
  return e != nullptr ? e->level : no_level;
}

int TagGetGrid(int handle, const char* tag) {
  DescEntry* e = find_entry(handle, tag);
  return e != nullptr && e->type == desc_axis ? e->grid_wmid : 0;
}

int TagGetWmid(int handle, const char* tag) {
  DescEntry* e = find_entry(handle, tag);
  return e != nullptr && e->type == desc_weight ? e->grid_wmid : 0;
}

char* TagGetParent(int handle, const char* tag) {
  DescEntry* e = find_entry(handle, tag);
  return e != nullptr && e->type == desc_axis ? e->parent.get() : nullptr;
}

int TagGetUserCreated(int handle, const char* tag) {
  DescEntry* e = find_entry(handle, tag);
  return e != nullptr ? e->user_created : 0;
}

int TagSetLabel(int handle, const char* tag, const char* label, int* moved) {
  return set_text(handle, tag, label, moved, &DescEntry::label, &DescEntry::label_size);
}

int TagSetDescript(int handle, const char* tag, const char* descript, int* moved) {
  return set_text(handle, tag, descript, moved, &DescEntry::descript, &DescEntry::descript_size);
}

int TagSetLevel(int handle, const char* tag, int level) {
  DescEntry* e = find_entry(handle, tag);
  if (e == nullptr) return unknown_entry;
  e->level = level;
  return 0;
}

int TagSetGrid(int handle, const char* tag, int grid) {
  DescEntry* e = find_entry(handle, tag);
  if (e == nullptr || e->type != desc_axis) return unknown_entry;
  e->grid_wmid = static_cast<std::uint8_t>(grid);
  return 0;
}

int TagSetWmid(int handle, const char* tag, int wmid) {
  DescEntry* e = find_entry(handle, tag);
  if (e == nullptr || e->type != desc_weight) return unknown_entry;
  e->grid_wmid = static_cast<std::uint8_t>(wmid);
  return 0;
}

int TagSetUserCreated(int handle, const char* tag, int flag) {
  DescEntry* e = find_entry(handle, tag);
  if (e == nullptr) return unknown_entry;
  e->user_created = flag != 0 ? 1 : 0;
  return 0;
}

int TagSetParent(int handle, const char* tag, const char* parent) {
  DescEntry* e = find_entry(handle, tag);
  // A parent tag longer than 9 characters does not fit the 10-byte field.
  if (e == nullptr || e->type != desc_axis || parent == nullptr ||
      std::strlen(parent) >= static_cast<std::size_t>(parent_size))
    return unknown_entry;
  if (!e->parent) {
    e->parent.reset(new (std::nothrow) char[parent_size]());
    if (!e->parent) return no_memory;
  }
  std::strcpy(e->parent.get(), parent);
  return 0;
}

}  // namespace tx
