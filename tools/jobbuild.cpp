#include "jobbuild.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <span>
#include <stdexcept>

#include "axttjust.h"
#include "bytes.h"
#include "compio.h"
#include "descrips.h"
#include "filopen.h"
#include "version.h"

namespace tx::job {

namespace {

namespace fs = std::filesystem;

using bytes = std::vector<std::uint8_t>;

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error("jobbuild: " + what); }

// A binary job file being written: the library's header first, then the
// body in big writes.
class out_file {
 public:
  out_file(const job& j, const std::string& path, short type) : path_(path) {
    f_.reset(std::fopen(path.c_str(), "wb"));
    if (!f_) fail("cannot create " + path);
    std::setvbuf(f_.get(), nullptr, _IOFBF, 1 << 20);
    SetXVersion(f_.get(), type);
    if (j.written_at) {
      // written_at, bytes 20-23 of the header.
      std::array<std::uint8_t, 4> t{};
      put_be32(t, 0, static_cast<std::uint32_t>(*j.written_at));
      std::fseek(f_.get(), 20, SEEK_SET);
      put(t);
      std::fseek(f_.get(), 0, SEEK_END);
    }
  }
  void put(std::span<const std::uint8_t> b) {
    if (!b.empty()) std::fwrite(b.data(), 1, b.size(), f_.get());
  }
  void put32(std::int32_t v) {
    std::array<std::uint8_t, 4> b{};
    put_be32(b, 0, static_cast<std::uint32_t>(v));
    put(b);
  }
  void finish() {
    std::FILE* f = f_.release();
    const bool bad = std::ferror(f) != 0;
    if (std::fclose(f) != 0 || bad) fail("cannot write " + path_);
  }

 private:
  std::string path_;
  file_ptr f_;
};

// Appends a NUL-terminated text to the heap and returns its offset.
int add_text(bytes& heap, const std::string& text) {
  const int at = static_cast<int>(heap.size());
  heap.insert(heap.end(), text.begin(), text.end());
  heap.push_back(0);
  return at;
}

std::int16_t axis_number(const axis& a, std::size_t index) {
  return a.axisno != 0 ? a.axisno : static_cast<std::int16_t>(index + 1);
}

std::string axis_file_name(const axis& a) { return a.tag + (a.partner ? ".ay" : ".ax"); }

// seg1.xv: header type 9, a 196-byte block, then per line an 8-byte prefix,
// the 32-bit text length and the text.
void write_title(const job& j, const std::string& dir) {
  out_file f(j, dir + "/seg1.xv", 9);
  f.put(bytes(196, 0));
  for (const std::string& line : j.title) {
    f.put(bytes(8, 0));
    f.put32(static_cast<std::int32_t>(line.size()));
    f.put({reinterpret_cast<const std::uint8_t*>(line.data()), line.size()});
  }
  f.finish();
}

// The axis file's 320-byte axis record, element records and heap; returns
// the heap size for the axis-list record.
int write_axis_file(const job& j, const axis& a, const std::string& dir) {
  if (a.titles.size() > 12) fail(a.tag + ": more than 12 title lines");
  if (a.elements.size() > 32767) fail(a.tag + ": more than 32,767 elements");
  if (a.heap_padding < 0) fail(a.tag + ": negative heap padding");
  bytes rec(320, 0);
  bytes heap;
  put_be16(rec, 8, static_cast<std::uint16_t>(a.elements.size()));
  put_be16(rec, 14, static_cast<std::uint16_t>(a.titles.size()));
  // Axis text and title offsets are 16-bit fields: their texts come first.
  if (a.axis_text) {
    put_be16(rec, 22, 1);
    put_be16(rec, 24, static_cast<std::uint16_t>(add_text(heap, *a.axis_text)));
  }
  for (std::size_t i = 0; i < a.titles.size(); ++i) {
    const title_line& t = a.titles[i];
    const int line = static_cast<int>(i);
    if (t.packed) {
      put_be16(rec, 26 + 2 * i, static_cast<std::uint16_t>(add_text(heap, t.text)));
      SetAxisTitleJustifyChars(rec.data(), line, t.vert, t.horiz);
    } else {
      // Code 0 at 50 + 2i: the text starts with the horizontal, then the
      // vertical character.
      const std::string text = std::string{t.horiz, t.vert} + t.text;
      put_be16(rec, 26 + 2 * i, static_cast<std::uint16_t>(add_text(heap, text)));
    }
  }
  heap.resize(heap.size() + static_cast<std::size_t>(a.heap_padding), 0);
  bytes elems(76 * a.elements.size(), 0);
  for (std::size_t i = 0; i < a.elements.size(); ++i) {
    const element& e = a.elements[i];
    std::uint8_t* r = elems.data() + 76 * i;
    std::span<std::uint8_t> rs(r, 76);
    if (e.kept) put_be16(rs, 28, 0x0800);
    if (e.no_data_flag) put_be16(rs, 34, 0x0040);
    const int off = add_text(heap, e.text);
    if (off > 255 * 32768 + 32767) fail(a.tag + ": element text offset beyond 8,388,607");
    s_eltxtoff(r, off);
    rs[61] = e.type;
  }
  const int heap_size = static_cast<int>(heap.size());
  s_axheap(rec.data(), heap_size);
  out_file f(j, dir + "/" + axis_file_name(a), 3);
  f.put(rec);
  f.put(elems);
  f.put(heap);
  f.finish();
  return heap_size;
}

// axes.inf: header type 2, the 32-bit count, one 68-byte record per axis;
// each axis file after it.
void write_axes(const job& j, const std::string& dir) {
  bytes list;
  for (std::size_t i = 0; i < j.axes.size(); ++i) {
    const axis& a = j.axes[i];
    if (a.tag.size() > 12) fail("tag longer than 12 bytes: " + a.tag);
    const int heap_size = write_axis_file(j, a, dir);
    bytes rec(68, 0);
    put_be16(rec, 8, static_cast<std::uint16_t>(axis_number(a, i)));
    put_be16(rec, 30, a.incase ? 1 : 0);
    std::copy(a.tag.begin(), a.tag.end(), rec.begin() + 50);  // 12 bytes, NUL-padded
    // Grid flag 62 and grid count 63: a grid axis has both non-zero, its
    // partner the flag only.
    rec[62] = (a.ngrid != 0 || a.partner) ? 1 : 0;
    rec[63] = a.partner ? 0 : a.ngrid;
    rec[66] = a.options;
    s_axinfheap(rec.data(), heap_size);
    list.insert(list.end(), rec.begin(), rec.end());
  }
  out_file f(j, dir + "/axes.inf", 2);
  f.put32(static_cast<std::int32_t>(j.axes.size()));
  f.put(list);
  f.finish();
}

// incs.inf: header type 8, N, S, the name block, N records of three 32-bit
// words with the name's offset in the third.
void write_incs(const job& j, const std::string& dir) {
  bytes names;
  bytes recs(12 * j.incs.size(), 0);
  for (std::size_t i = 0; i < j.incs.size(); ++i) {
    const int at = add_text(names, j.incs[i].name);
    put_be32(recs, 12 * i + 8, static_cast<std::uint32_t>(at));
  }
  out_file f(j, dir + "/incs.inf", 8);
  f.put32(static_cast<std::int32_t>(j.incs.size()));
  f.put32(static_cast<std::int32_t>(names.size()));
  f.put(names);
  f.put(recs);
  f.finish();
}

// weightin.x: header type 5, -1 for no weights (else the count), twenty
// 16-bit values, one 156-byte record per weight with its number at byte 4.
// wmvals<number>.x: header type 18, one big-endian float per case.
void write_weights(const job& j, const std::string& dir) {
  if (j.has_weights_file) {
    out_file f(j, dir + "/weightin.x", 5);
    if (j.weights.empty()) {
      f.put32(-1);
    } else {
      f.put32(static_cast<std::int32_t>(j.weights.size()));
      f.put(bytes(40, 0));
      for (const weight& w : j.weights) {
        bytes rec(156, 0);
        put_be16(rec, 4, static_cast<std::uint16_t>(w.number));
        f.put(rec);
      }
    }
    f.finish();
  }
  for (const weight& w : j.weights) {
    bytes values(4 * w.values.size());
    for (std::size_t i = 0; i < w.values.size(); ++i) put_bef32(values, 4 * i, w.values[i]);
    out_file f(j, dir + "/wmvals" + std::to_string(w.number) + ".x", 18);
    f.put(values);
    f.finish();
  }
}

// One case record: nt/2 zero words, na/2 mask words, ni/4 floats, as the
// reader divides the three sizes.
class record_writer {
 public:
  explicit record_writer(const job& j, std::int32_t nt, std::int32_t na, std::int32_t ni)
      : axes_(case_axes(j)),
        lead_(2 * (std::max(nt, 0) / 2)),
        words_(std::max(na, 0) / 2),
        floats_(std::max(ni, 0) / 4),
        rec_(lead_ + 2 * words_ + 4 * floats_),
        masks_(words_) {}

  void put(std::size_t index, const case_record& c, out_file& f) {
    std::fill(rec_.begin(), rec_.end(), 0);
    std::fill(masks_.begin(), masks_.end(), 0);
    std::vector<std::uint16_t>& masks = masks_;
    std::uint16_t* words = masks.data();
    if (!c.raw_masks.empty()) {
      std::copy_n(c.raw_masks.begin(), std::min(c.raw_masks.size(), masks.size()), words);
    } else {
      if (c.axes.size() > axes_.size())
        fail("case " + std::to_string(index) + " has more axis entries than in-case axes");
      std::size_t p = 0;
      for (std::size_t a = 0; a < axes_.size(); ++a) {
        if (a < c.axes.size()) {
          for (int pos : c.axes[a]) {
            if (pos < 0 || pos >= axes_[a])
              fail("case " + std::to_string(index) + ": element " + std::to_string(pos) +
                   " outside axis " + std::to_string(a));
            const std::size_t w = p + static_cast<std::size_t>(pos / 16);
            if (w < masks.size()) words[w] |= static_cast<std::uint16_t>(1u << (pos % 16));
          }
        }
        p += static_cast<std::size_t>((axes_[a] + 15) / 16);
      }
    }
    for (std::size_t w = 0; w < masks.size(); ++w) put_be16(rec_, lead_ + 2 * w, masks[w]);
    const std::size_t at = lead_ + 2 * words_;
    for (std::size_t k = 0; k < floats_; ++k)
      put_bef32(rec_, at + 4 * k, k < c.incs.size() ? c.incs[k] : missing);
    f.put(rec_);
  }

 private:
  std::vector<int> axes_;
  std::size_t lead_, words_, floats_;
  bytes rec_;
  std::vector<std::uint16_t> masks_;
};

// intermed.x: header type 12, levels, nt, na, ni, then the case records.
void write_intermed(const job& j, const std::string& dir) {
  const std::int32_t nt = j.nt;
  const std::int32_t na = j.na.value_or(2 * mask_words(j));
  const std::int32_t ni = j.ni.value_or(4 * static_cast<std::int32_t>(j.incs.size()));
  out_file f(j, dir + "/intermed.x", 12);
  f.put32(j.levels);
  f.put32(nt);
  f.put32(na);
  f.put32(ni);
  record_writer w(j, nt, na, ni);
  if (j.make_case) {
    case_record c;
    for (std::size_t i = 0; i < j.generated_cases; ++i) {
      for (auto& a : c.axes) a.clear();
      c.incs.clear();
      c.raw_masks.clear();
      j.make_case(i, c);
      w.put(i, c, f);
    }
  } else {
    for (std::size_t i = 0; i < j.cases.size(); ++i) w.put(i, j.cases[i], f);
  }
  f.finish();
}

// ---- descrips.inf ----

struct desc_entry {
  int type;
  std::string tag;  // wanted tag; empty: the one DescsAdd gives the label
  std::string label;
  std::string descript;
  int wmid = 0;
};

std::vector<desc_entry> desc_entries(const job& j) {
  std::vector<desc_entry> out;
  auto add = [&](int type, const std::string& tag, const description& d) {
    out.push_back({type, tag, d.label.value_or(""), d.descript.value_or("")});
  };
  for (const axis& a : j.axes)
    if (a.desc) add(desc_axis, a.tag, *a.desc);
  for (const inc& n : j.incs)
    if (n.desc) add(desc_inc, n.name, *n.desc);
  for (const weight& w : j.weights) {
    if (!w.desc) continue;
    add(desc_weight, "", *w.desc);
    out.back().wmid = (w.number >= 0 && w.number <= 9) ? w.number : 0;
  }
  return out;
}

const char* tag_template(int type) {
  switch (type) {
    case desc_axis:
      return "x_%04d_";
    case desc_inc:
      return "n_%04d_";
    default:
      return "w_%04d_";
  }
}

bool valid_name(const std::string& s, int type) {
  const std::size_t limit = type == desc_axis ? 7 : 8;
  if (s.empty() || s.size() > limit) return false;
  auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  if (!letter(s[0])) return false;
  return std::all_of(s.begin() + 1, s.end(),
                     [&](char c) { return letter(c) || (c >= '0' && c <= '9') || c == '_'; });
}

// The first of the type's generated tags ("x_0001_", ...) not in use.
std::optional<std::string> generated_tag(const std::vector<desc_entry>& prior, int type) {
  for (int n = 1; n <= 9999; ++n) {
    char t[16];
    std::snprintf(t, sizeof t, tag_template(type), n);
    if (std::none_of(prior.begin(), prior.end(), [&](const desc_entry& e) { return e.tag == t; }))
      return std::string(t);
  }
  return std::nullopt;
}

// The tag DescsAdd gives an entry proposed under `label` after the entries
// in `prior` (each already carrying its final tag and label); none when the
// add fails.
std::optional<std::string> add_tag(const std::vector<desc_entry>& prior, int type,
                                   const std::string& label) {
  bool generate = false;
  for (const desc_entry& e : prior) {
    if (e.tag.empty()) continue;
    if (e.type == type && e.label == label) return std::nullopt;
    if (e.tag == label) {
      generate = true;
      break;
    }
  }
  if (!generate && valid_name(label, type)) return label;
  return generated_tag(prior, type);
}

// Settles every entry's tag; true when DescsAdd gives each the wanted one.
bool settle_tags(std::vector<desc_entry>& entries) {
  bool library = true;
  std::vector<desc_entry> done;
  for (desc_entry& e : entries) {
    const std::string proposal = e.tag.empty() ? e.label : e.tag;
    std::optional<std::string> tag = add_tag(done, e.type, proposal);
    if (e.tag.empty()) {
      if (!tag) {
        library = false;
        // A tag nobody has: the generated series past the ones in use.
        tag = generated_tag(done, e.type);
        if (!tag) fail("no tag left for a weight entry");
      }
      e.tag = *tag;
    } else if (tag != e.tag) {
      library = false;
    }
    done.push_back(e);
  }
  return library;
}

void save_with_library(const std::vector<desc_entry>& entries, const std::string& path) {
  const int h = DescsCreate(static_cast<int>(entries.size()) + 1, 1);
  if (h < 0) fail(std::string("DescsCreate: ") + DescsErrorString(h));
  descs_guard guard{h};
  for (const desc_entry& e : entries) {
    const std::string proposal = e.type == desc_weight ? e.label : e.tag;
    const char* tag = DescsAdd(h, e.type, 0, proposal.c_str(), e.descript.c_str(), nullptr);
    if (tag == nullptr || e.tag != tag) fail("DescsAdd did not give the tag " + e.tag);
    if (TagSetLabel(h, e.tag.c_str(), e.label.c_str(), nullptr) != 0)
      fail("TagSetLabel failed for " + e.tag);
    if (e.type == desc_weight && TagSetWmid(h, e.tag.c_str(), e.wmid) != 0)
      fail("TagSetWmid failed for " + e.tag);
  }
  const int rc = DescsSave(h, path.c_str());
  if (rc != 0) fail("DescsSave " + path + ": " + DescsErrorString(rc));
}

// The entry format DescsSave writes: heading, descriptive text, level, tag,
// label, and for a weight its wmid; entries grouped by type in the order
// axis, inc, weight.
std::string entries_text(const std::vector<desc_entry>& entries) {
  static constexpr const char* words[] = {"",    "axis",   "inc",    "alph",
                                          "bit", "axlist", "weight", "group"};
  std::string text = "##version=1001\n";
  for (int type : {desc_axis, desc_inc, desc_weight}) {
    for (const desc_entry& e : entries) {
      if (e.type != type) continue;
      text += "#@" + std::string(words[type]) + " " + e.tag + "\n" + e.descript + "\n" +
              "#;level=0\n#;tag=" + e.tag + "\n#;label=" + e.label + "\n";
      if (type == desc_weight) text += "#;wmid=" + std::to_string(e.wmid) + "\n";
    }
  }
  return text;
}

void save_with_compio(const std::vector<desc_entry>& entries, const std::string& path) {
  const std::string text = entries_text(entries);
  comp_file* h = compopen(path.c_str(), "wb", 12);
  if (h == nullptr) fail("compopen " + path + ": " + comperrstr());
  const bool wrote =
      compwrite(h, text.data(), static_cast<int>(text.size())) == static_cast<int>(text.size());
  if (compclose(h) != 0 || !wrote) fail("cannot write " + path);
}

// descrips.inf, through DescsCreate/DescsAdd/DescsSave when DescsAdd gives
// every object its own tag; otherwise (tags longer than 7 or 8 characters,
// clashes) the same text written through compio.
void write_descriptions(const job& j, const std::string& dir) {
  if (!j.descriptions) return;
  std::vector<desc_entry> entries = desc_entries(j);
  const std::string path = dir + "/descrips.inf";
  if (settle_tags(entries))
    save_with_library(entries, path);
  else
    save_with_compio(entries, path);
}

// Opens a file for in-place damage.
file_ptr open_existing(const std::string& path) {
  file_ptr f(std::fopen(path.c_str(), "r+b"));
  if (!f) fail("cannot open " + path);
  return f;
}

void overwrite(const std::string& path, std::size_t at, std::span<const std::uint8_t> b) {
  file_ptr f = open_existing(path);
  if (std::fseek(f.get(), static_cast<long>(at), SEEK_SET) != 0 ||
      std::fwrite(b.data(), 1, b.size(), f.get()) != b.size())
    fail("cannot write " + path);
  std::FILE* raw = f.release();
  if (std::fclose(raw) != 0) fail("cannot write " + path);
}

}  // namespace

std::vector<int> case_axes(const job& j) {
  std::vector<int> out;
  for (const axis& a : j.axes) {
    if (a.partner || !a.incase) continue;
    const int kept = static_cast<int>(std::count_if(a.elements.begin(), a.elements.end(),
                                                    [](const element& e) { return e.kept; }));
    const int copies = a.ngrid != 0 ? a.ngrid : 1;
    out.insert(out.end(), static_cast<std::size_t>(copies), kept);
  }
  return out;
}

int mask_words(const job& j) {
  int n = 0;
  for (int kept : case_axes(j)) n += (kept + 15) / 16;
  return n;
}

void write_job(const job& j, const std::string& dir) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) fail("cannot create " + dir + ": " + ec.message());
  write_title(j, dir);
  write_axes(j, dir);
  write_descriptions(j, dir);
  write_incs(j, dir);
  write_weights(j, dir);
  write_intermed(j, dir);
}

std::string descriptions_text(const job& j) {
  if (!j.descriptions) return {};
  std::vector<desc_entry> entries = desc_entries(j);
  settle_tags(entries);
  return entries_text(entries);
}

void truncate_file(const std::string& path, std::size_t n) {
  std::error_code ec;
  fs::resize_file(path, n, ec);
  if (ec) fail("cannot truncate " + path + ": " + ec.message());
}

void set_byte(const std::string& path, std::size_t at, std::uint8_t value) {
  overwrite(path, at, std::span<const std::uint8_t>(&value, 1));
}

void append_bytes(const std::string& path, const std::string& more) {
  file_ptr f(std::fopen(path.c_str(), "ab"));
  if (!f || std::fwrite(more.data(), 1, more.size(), f.get()) != more.size())
    fail("cannot append to " + path);
  std::FILE* raw = f.release();
  if (std::fclose(raw) != 0) fail("cannot append to " + path);
}

void set_be16(const std::string& path, std::size_t at, std::uint16_t value) {
  std::array<std::uint8_t, 2> b{};
  put_be16(b, 0, value);
  overwrite(path, at, b);
}

void set_be32(const std::string& path, std::size_t at, std::uint32_t value) {
  std::array<std::uint8_t, 4> b{};
  put_be32(b, 0, value);
  overwrite(path, at, b);
}

void set_header_type(const std::string& path, std::int16_t type) {
  set_be16(path, 6, static_cast<std::uint16_t>(type));
}

void set_header_version(const std::string& path, std::int16_t version) {
  set_be16(path, 8, static_cast<std::uint16_t>(version));
}

void remove_file(const std::string& path) {
  std::error_code ec;
  if (!fs::remove(path, ec) || ec) fail("cannot remove " + path);
}

}  // namespace tx::job
