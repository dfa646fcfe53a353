// SPSS system file writer: "survey.sav". ReadStat writes the header and the
// dictionary; this module adds the multiple response sets record and the
// character encoding record, which ReadStat does not write, before the
// dictionary's end, and the data writer appends the cases in the bytecode
// the header announces.
#include "write/outputsav.h"

#include <readstat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <unordered_set>

#include "base/misc.h"
#include "base/run_state.h"
#include "base/showmsg.h"
#include "model/statvars.h"
#include "model/xtostats.h"
#include "read/axinf.h"
#include "read/title.h"
#include "write/bytecode.h"
#include "write/data.h"
#include "write/funcs.h"
#include "write/names.h"
#include "write/outputxml.h"
#include "write/wintext.h"

namespace tx {

namespace {

// The writer's state for one file: ReadStat's writer for the header and
// dictionary, and the dictionary's bytes until it is complete.
struct sav_state {
  struct writer_free {
    void operator()(readstat_writer_t* w) const { readstat_writer_free(w); }
  };
  std::unique_ptr<readstat_writer_t, writer_free> writer;
  file_ptr file;  // "survey.sav"
  const char* name = nullptr;
  std::size_t nvars = 0;  // fields of a case
  bool holding = true;    // ReadStat's bytes are held until the dictionary is complete
  std::string held;       // its bytes
  std::string mrsets;     // the multiple response sets, "$name=D..." lines without member names
  std::vector<std::vector<std::size_t>>
      members;  // per line of mrsets: its variables' field numbers
  bool write_failed = false;
  const char* f_item = nullptr;  // the f item's "w.d"; null: none
};

constexpr std::size_t max_name = 64;
constexpr std::size_t max_var_label = 255;
constexpr std::size_t max_value_label = 120;
constexpr std::size_t max_file_label = 64;
// The widest print format and the most decimals a reader accepts.
constexpr int max_format_width = 40;
constexpr int max_format_decimals = 16;
constexpr int min_display_width = 8;

bool has_text(const char* text) { return text != nullptr && *text != '\0'; }
bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::string upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

bool is_reserved(const std::string& name) {
  static constexpr const char* reserved[] = {"ALL", "AND", "BY",  "EQ", "GE", "GT",  "LE",
                                             "LT",  "NE",  "NOT", "OR", "TO", "WITH"};
  const std::string u = upper(name);
  for (const char* r : reserved)
    if (u == r) return true;
  return false;
}

// --- writing through ReadStat -----------------------------------------

// ReadStat's data writer: the dictionary is held until it is complete, then
// every byte goes to the file. Returns -1 on a failed write (ReadStat then
// reports a write error); it must not throw through ReadStat's frames.
ssize_t put_bytes(const void* data, size_t len, void* ctx) {
  auto& s = *static_cast<sav_state*>(ctx);
  try {
    if (s.holding) {
      s.held.append(static_cast<const char*>(data), len);
      return static_cast<ssize_t>(len);
    }
  } catch (...) {
    s.write_failed = true;
    errno = ENOMEM;
    return -1;
  }
  if (std::fwrite(data, 1, len, s.file.get()) != len) {
    s.write_failed = true;
    return -1;
  }
  return static_cast<ssize_t>(len);
}

void check(const sav_state& s, readstat_error_t e, const char* what) {
  if (e == READSTAT_OK) return;
  if (s.write_failed) cannot_write(s.name, errno);
  stop_run(1, format_text("ERROR: cannot write \"%s\": %s: %s\n", s.name, what,
                          readstat_error_message(e)));
}

std::int32_t int_at(const std::string& d, std::size_t at) {
  std::int32_t v;
  std::memcpy(&v, d.data() + at, sizeof v);  // ReadStat writes the machine's byte order
  return v;
}

// The offset of the dictionary-termination record (999) in the held bytes,
// after the 176-byte file header; collects the 8-byte short name of every
// numeric variable record on the way, and tells whether a character
// encoding record (type 7, subtype 20) is among them. Record layouts (32-bit words):
//   2: type, has_label, n_missing, print, write, name[8]; label length and
//      label padded to 4; n_missing values of 8 bytes
//   3: count, then per label 8 bytes value, 1 length byte, label, padded so
//      that length byte and label fill a multiple of 8
//   4: count, then count variable indexes
//   6: count, then count lines of 80 bytes
//   7: subtype, size, count, then size * count bytes
std::size_t find_terminator(const char* file, const std::string& d,
                            std::vector<std::string>& short_names, bool& has_encoding) {
  std::size_t at = 176;
  auto need = [&](std::size_t n) {
    if (n > d.size() || at > d.size() - n)
      stop_run(1,
               format_text("ERROR: cannot write \"%s\": ReadStat's dictionary ends early\n", file));
  };
  auto word = [&](std::size_t k) { return int_at(d, at + 4 * k); };
  for (;;) {
    need(8);
    const std::int32_t type = word(0);
    if (type == 999) return at;
    if (type == 2) {
      need(32);
      const std::int32_t width = word(1), has_label = word(2), missing = word(3);
      if (width == 0) {
        std::string name = d.substr(at + 24, 8);
        name.erase(name.find_last_not_of(' ') + 1);
        short_names.push_back(name);
      }
      at += 32;
      if (has_label != 0) {
        need(4);
        const auto n = static_cast<std::uint32_t>(word(0));
        at += 4 + (n + 3) / 4 * 4;
      }
      at += 8 * static_cast<std::size_t>(std::abs(missing));
    } else if (type == 3) {
      const auto count = static_cast<std::uint32_t>(word(1));
      at += 8;
      for (std::uint32_t i = 0; i < count; ++i) {
        need(9);
        const auto n = static_cast<std::uint8_t>(d[at + 8]);
        at += 8 + (n + 1 + 7) / 8 * 8;
      }
    } else if (type == 4) {
      at += 8 + 4 * static_cast<std::size_t>(static_cast<std::uint32_t>(word(1)));
    } else if (type == 6) {
      at += 8 + 80 * static_cast<std::size_t>(static_cast<std::uint32_t>(word(1)));
    } else if (type == 7) {
      need(16);
      if (word(1) == 20) has_encoding = true;
      at += 16 + static_cast<std::size_t>(static_cast<std::uint32_t>(word(2))) *
                     static_cast<std::uint32_t>(word(3));
    } else {
      stop_run(1, format_text("ERROR: cannot write \"%s\": record type %d in ReadStat's "
                              "dictionary\n",
                              file, static_cast<int>(type)));
    }
  }
}

// The multiple response sets record (type 7, subtype 7): one line per set,
// "$name=D<digits of the counted value> <counted value> <label length>
// <label> <short names of the members, lower case>".
std::string mrsets_record(const sav_state& s, const std::vector<std::string>& short_names) {
  std::string text;
  std::size_t line = 0;
  for (std::size_t start = 0, end; start < s.mrsets.size(); start = end + 1, ++line) {
    end = s.mrsets.find('\n', start);
    text.append(s.mrsets, start, end - start);
    for (const std::size_t field : s.members[line])
      text.append(" ").append(lower_ascii(short_names[field]));
    text += '\n';
  }
  std::string record(16, '\0');
  const std::int32_t head[4] = {7, 7, 1, static_cast<std::int32_t>(text.size())};
  std::memcpy(record.data(), head, sizeof head);
  return record + text;
}

// The character encoding record (type 7, subtype 20): the name of the
// texts' encoding, which readers take before the integer info record's
// code page 65001.
std::string encoding_record() {
  constexpr std::string_view encoding = "UTF-8";
  std::string record(16, '\0');
  const std::int32_t head[4] = {7, 20, 1, static_cast<std::int32_t>(encoding.size())};
  std::memcpy(record.data(), head, sizeof head);
  return record.append(encoding);
}

// Writes the held dictionary with the multiple response sets record and a
// character encoding record (unless ReadStat wrote one) before its
// termination record, and everything ReadStat wrote after it.
void release_dictionary(sav_state& s) {
  s.holding = false;
  std::vector<std::string> short_names;
  bool has_encoding = false;
  const std::size_t end = find_terminator(s.name, s.held, short_names, has_encoding);
  if (short_names.size() != s.nvars)
    stop_run(1, format_text("ERROR: cannot write \"%s\": ReadStat wrote %zu of %zu variables\n",
                            s.name, short_names.size(), s.nvars));
  double bias = 0;
  if (s.held.size() >= 176)
    std::memcpy(&bias, s.held.data() + 84, sizeof bias);  // after the header's case count
  if (bias != compression_bias)
    stop_run(1, format_text("ERROR: cannot write \"%s\": ReadStat's header has no bias of 100\n",
                            s.name));
  std::string bytes = s.held.substr(0, end);
  if (!s.mrsets.empty()) bytes += mrsets_record(s, short_names);
  if (!has_encoding) bytes += encoding_record();
  bytes.append(s.held, end);
  s.held.clear();
  if (put_bytes(bytes.data(), bytes.size(), &s) < 0) check(s, READSTAT_ERROR_WRITE, "dictionary");
}

// --- the dictionary ----------------------------------------------------

// "F w.d" within what readers accept.
std::string print_format(int width, int decimals) {
  width = std::clamp(width, 1, max_format_width);
  decimals = std::clamp(decimals, 0, std::min(max_format_decimals, width - 1));
  return format_text("F%d.%d", width, decimals);
}

std::string code_format(const value_list* vals) {
  int w = 1;
  for (int i = 0; vals != nullptr && i < vals->count; ++i)
    w = std::max(w, std::snprintf(nullptr, 0, "%d", vals->codes[i]));
  return print_format(w, 0);
}

// The SPSS form's value labels; a code that comes twice keeps its last
// label, as the VALUE LABELS command leaves it.
void add_value_labels(sav_state& s, readstat_variable_t* rv, const value_list* vals,
                      const std::string& name) {
  std::vector<std::pair<std::int32_t, std::string>> labels;
  for (int i = 0; vals != nullptr && i < vals->count; ++i) {
    if (!has_text(vals->labels[i])) continue;
    std::string text = sav_text(vals->labels[i], max_value_label);
    auto same = std::find_if(labels.begin(), labels.end(),
                             [&](const auto& l) { return l.first == vals->codes[i]; });
    if (same != labels.end())
      same->second = std::move(text);
    else
      labels.emplace_back(vals->codes[i], std::move(text));
  }
  if (labels.empty()) return;
  readstat_label_set_t* set =
      readstat_add_label_set(s.writer.get(), READSTAT_TYPE_DOUBLE, name.c_str());
  for (const auto& [code, text] : labels)
    readstat_label_double_value(set, static_cast<double>(code), text.c_str());
  readstat_variable_set_label_set(rv, set);
}

bool is_weight(const run_state& run, const stat_var* v) {
  for (const weight_slot& w : run.wght)
    if (v->parent == &w) return true;
  return false;
}

// The variable label: the SPSS form's; for a yes/no variable its element's
// text after it (member_label); for a weight, which has none there, the
// Triple-S XML form's ("weight0").
std::string variable_label(const run_state& run, const spss_var* o) {
  if (is_weight(run, o->var)) return sav_text(label_text(o, 0), max_var_label);
  if (o->var->type != type_yesno)
    return has_text(o->label) ? sav_text(o->label, max_var_label) : "";
  // The label of its yes value, the last, is the element's text; an empty
  // one names no category (the "no" label before it would name the wrong one).
  const value_list* vals = o->vallist;
  const char* element =
      vals != nullptr && vals->count > 0 ? vals->labels[vals->count - 1] : nullptr;
  return member_label(o->label != nullptr ? o->label : "", element != nullptr ? element : "");
}

// The f item's value "w.d" from the option list's printf format (" %" value
// "f"); null when the list has no f item.
const char* f_item_of(const run_state& run) {
  const std::string& format = run.options.numeric_format;
  if (!run.options.has_numeric_format || format.size() < 3) return nullptr;
  return format.c_str() + 2;  // up to the closing "f", which the parser stops at
}

void add_variable(const run_state& run, sav_state& s, const stat_node* n, const std::string& name) {
  const stat_var* v = n->var;
  const spss_var* o = v->spssvar;
  readstat_variable_t* rv =
      readstat_add_variable(s.writer.get(), name.c_str(), READSTAT_TYPE_DOUBLE, 0);
  if (const std::string label = variable_label(run, o); !label.empty())
    readstat_variable_set_label(rv, label.c_str());
  const bool numeric = v->type == type_numeric;
  const std::string format =
      numeric ? numeric_print_format(n->size, s.f_item) : code_format(o->vallist);
  readstat_variable_set_measure(rv, numeric ? READSTAT_MEASURE_SCALE : READSTAT_MEASURE_NOMINAL);
  readstat_variable_set_format(rv, format.c_str());
  // Columns a data view gives the variable: SPSS's 8, or the whole print
  // format's width.
  const int format_width = std::atoi(format.c_str() + 1);  // "F w.d"
  readstat_variable_set_display_width(rv, std::max(min_display_width, format_width));
  if (!numeric) add_value_labels(s, rv, o->vallist, name);
}

// One multiple dichotomy set for a group of yes/no variables, counting their
// common yes code; none, with a warning, when the yes codes differ.
void add_set(run_state& run, sav_state& s, const stat_node* g, std::size_t first_field,
             std::unordered_set<std::string>& set_names) {
  const std::string name = set_name(set_names, g);
  std::vector<std::size_t> fields;
  std::size_t field = first_field;
  for (const stat_node* n = g; n != nullptr; n = n->member, ++field) {
    if (n->var->type != type_yesno || n->var->values[1] != g->var->values[1]) {
      const char* axis = g->var->axis->head->name;
      showmsg(run.err,
              "WARNING: the yes codes of axis %s differ: survey.sav has no multiple response "
              "set for it\n",
              axis != nullptr ? axis : "");
      return;
    }
    fields.push_back(field);
  }
  if (fields.size() < 2) return;
  const std::string yes = std::to_string(g->var->values[1]);
  const char* label = g->var->spssvar->label;
  const std::string text = has_text(label) ? sav_text(label, max_var_label) : "";
  s.mrsets.append(name)
      .append(format_text("=D%zu %s %zu ", yes.size(), yes.c_str(), text.size()))
      .append(text)
      .append("\n");
  s.members.push_back(std::move(fields));
}

void write_dictionary(run_state& run, sav_state& s) {
  readstat_writer_t* w = s.writer.get();
  check(s, readstat_set_data_writer(w, put_bytes), "data writer");
  check(s, readstat_writer_set_compression(w, READSTAT_COMPRESS_ROWS), "compression");
  check(s, readstat_writer_set_file_timestamp(w, run.now), "time stamp");
  if (run.title != nullptr && run.title->count > 0 && has_text(run.title->lines[0]))
    check(s,
          readstat_writer_set_file_label(w, sav_text(run.title->lines[0], max_file_label).c_str()),
          "file label");

  // The names of the SPSS syntax form, valid and unique ignoring case under
  // its name rule already; sav_variable_name and unique_name only guard
  // that promise.
  std::unordered_set<std::string> taken, set_names;
  for (const stat_node* g = run.statlist; g != nullptr; g = g->nextgroup) {
    const std::size_t first_field = s.nvars;
    for (const stat_node* n = g; n != nullptr; n = n->member) {
      const stat_name* syntax_name = n->var->spssvar->sname;
      const std::string name = sav_variable_name(syntax_name != nullptr ? syntax_name->name : "");
      add_variable(run, s, n, unique_name(taken, name, max_name));
      ++s.nvars;
    }
    if (g->member != nullptr) add_set(run, s, g, first_field, set_names);
  }
}

}  // namespace

std::string set_name(std::unordered_set<std::string>& taken, const stat_node* group) {
  std::string name = "$";
  name += sav_name(document_name(group->var, 1));
  return unique_name(taken, name, max_name);
}

std::string member_label(std::string_view axis_label, std::string_view element_text) {
  const std::string element = sav_text(element_text, max_value_label);
  if (element.empty()) return sav_text(axis_label, max_var_label);
  constexpr std::string_view between = " - ";
  const std::string axis = sav_text(axis_label, max_var_label - between.size() - element.size());
  if (axis.empty()) return element;
  return axis + std::string(between) + element;
}

std::string numeric_print_format(const size_detail* d, const char* f_item) {
  // The fixed-column width and decimals of the field.
  const bool whole = d == nullptr || d->kind == size_whole;
  if (whole || f_item == nullptr || d->decimals <= 0)
    return print_format(d != nullptr ? d->width : 1, whole ? 0 : d->decimals);
  // "w.d", either part possibly empty; digits beyond what a format holds
  // only need to stay large.
  auto number = [&](const char*& p, int none) {
    if (*p < '0' || *p > '9') return none;
    int n = 0;
    for (; *p >= '0' && *p <= '9'; ++p) n = std::min(n * 10 + (*p - '0'), 1000);
    return n;
  };
  const char* p = f_item;
  const int width = number(p, 0);
  int decimals = 6;
  if (*p == '.') {
    ++p;
    decimals = number(p, 0);
  }
  decimals = std::min(decimals, max_format_decimals);
  int needed = decimals > 0 ? decimals + 2 : 1;  // "0" or "0." and the decimals
  if (d->min <= d->max)
    for (const float v : {d->min, d->max})
      needed = std::max(needed, printed_length(v, size_real, decimals));
  return print_format(std::max(width, needed), decimals);
}

std::string sav_text(std::string_view text, std::size_t max_bytes) {
  return utf8_text(text, max_bytes);
}

std::string sav_variable_name(std::string_view name) {
  name = name.substr(0, name.find('\0'));
  std::string out;
  for (const char c : name)
    out += is_letter(c) || is_digit(c) || c == '_' || c == '.' || c == '@' || c == '#' || c == '$'
               ? c
               : '_';
  if (out.empty() || !(is_letter(out[0]) || out[0] == '@')) out = std::string("@").append(out);
  if (out.size() > max_name) out.resize(max_name);
  while (out.size() > 1 && out.back() == '.') out.pop_back();
  if (is_reserved(out)) out = std::string("@").append(out);
  return out;
}

std::string sav_name(std::string_view name) {
  name = name.substr(0, name.find('\0'));
  std::string out;
  for (const char c : name)
    out += is_letter(c) || is_digit(c) || c == '_' || c == '.' || c == '@' || c == '#' || c == '$'
               ? c
               : '_';
  if (out.empty() || !is_letter(out[0])) out = std::string("@").append(out);
  if (out.size() > max_name) out.resize(max_name);
  while (out.size() > 1 && (out.back() == '.' || out.back() == '_')) out.pop_back();
  if (is_reserved(out)) out = std::string("@").append(out);
  return out;
}

void outputsav(run_state& run, const char* meta_file, const char*) {
  sav_state s;
  s.name = meta_file;
  s.f_item = f_item_of(run);
  s.file.reset(efopen(run, meta_file, "wt"));
  std::setvbuf(s.file.get(), nullptr, _IOFBF, out_buffer_size);
  s.writer.reset(readstat_writer_init());
  if (!s.writer) errormess(1, "ReadStat writer");

  build_statlist(run);
  measure_fields(run, false);
  write_dictionary(run, s);
  check(s, readstat_begin_writing_sav(s.writer.get(), &s, run.ncases), "dictionary");
  // ReadStat writes the dictionary when the first case begins, or when it
  // ends writing a file without cases; its own cases are never used.
  if (run.ncases > 0)
    check(s, readstat_begin_row(s.writer.get()), "dictionary");
  else
    check(s, readstat_end_writing(s.writer.get()), "dictionary");
  release_dictionary(s);
  s.writer.reset();
  create_data(run, s.file.get(), meta_file, outputroutines[row_sav], data_pass::system_file);
  close_output(s.file, meta_file);
}

}  // namespace tx
