#include "model/xtostats.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/misc.h"
#include "base/run_state.h"
#include "base/showmsg.h"
#include "read/axinf.h"
#include "read/intermed.h"
#include "txlib/bytes.h"
#include "txlib/descrips.h"
#include "txlib/filopen.h"
#include "txlib/version.h"

namespace tx {

namespace {

constexpr const char* incs_file = "incs.inf";
constexpr const char* weights_file = "weightin.x";
constexpr const char* case_file = "intermed.x";

std::FILE* debug_stream(run_state& run) { return run.prt != 0 ? run.debug.get() : nullptr; }

// The name at `offset` of the name block; it must start inside the block and
// end with a zero byte there.
const char* inc_name(const std::vector<std::uint8_t>& block, std::int32_t offset, std::int32_t i) {
  const auto at = static_cast<std::size_t>(offset);
  if (offset < 0 || at >= block.size() || std::memchr(&block[at], 0, block.size() - at) == nullptr)
    stop_damaged(incs_file, "the name offset " + std::to_string(offset) + " of inc " +
                                std::to_string(i) + " lies outside its name block");
  return reinterpret_cast<const char*>(&block[at]);
}

int title_count(const axis_info* axis) { return axis->titles != nullptr ? axis->titles->count : 0; }

// Text of an axis variable: the grid item's text for a grid copy, else the
// title lines. A single-coded variable passes over an empty grid text.
void set_axis_text(run_state& run, const axis_info* axis, stat_var* var, bool multi) {
  if (axis->grid_label != nullptr && (multi || axis->grid_label[0] != '\0'))
    var->text = store_text(run.store, axis->grid_label);
  else if (title_count(axis) > 0)
    copycomments(run, axis, var);
}

// The walk over one axis's elements: bit 0 of the axis's first elmask word
// belongs to element 0, and each word serves 16 elements.
struct element_walk {
  const std::uint16_t* words;
  std::uint16_t word = 0;
  bool data(const axis_info* axis, int p) {
    if (p % 16 == 0) word = *words++;
    const bool set = (word & 1) != 0;
    word = static_cast<std::uint16_t>(word >> 1);
    return axis->elements[p]->type != 0 && set;
  }
};

void single_coded(run_state& run, axis_info* axis, element_walk walk) {
  axis->kind = kind_single;
  stat_var* var = add_stat_var(run, axis->head->name);
  axis->single_var = var;
  var->type = type_single;
  var->parent = axis->head;
  var->axis = axis;
  set_axis_text(run, axis, var, false);
  const int n = axis->counts->nelements;
  var->values = make_array<std::int32_t>(run.store, static_cast<std::size_t>(n));
  var->valtexts = make_array<char*>(run.store, static_cast<std::size_t>(n));
  for (int p = 0; p < n; ++p) {
    if (!walk.data(axis, p)) continue;
    var->valtexts[var->nvalues] = store_text(run.store, element_text(axis, p));
    var->values[var->nvalues++] = p;
  }
}

void multi_coded(run_state& run, axis_info* axis, element_walk walk) {
  axis->kind = kind_multi;
  const int nbits = axis->counts->nbits;
  const int keep = nbits < 10 ? 6 : nbits < 100 ? 5 : 4;  // characters of the axis name
  const int n = axis->counts->nelements;
  axis->multi_vars = make_array<stat_var*>(run.store, static_cast<std::size_t>(n));
  for (int p = 0; p < n; ++p) {
    if (!walk.data(axis, p)) continue;
    char name[32];
    std::snprintf(name, sizeof name, "@%-.*s%d", keep, axis->head->name, p);
    stat_var* var = add_stat_var(run, name);
    axis->multi_vars[p] = var;
    var->type = type_yesno;
    var->parent = axis->head;
    var->axis = axis;
    var->index = p;
    set_axis_text(run, axis, var, true);
    const char* text = element_text(axis, p);
    var->values = make_array<std::int32_t>(run.store, 2);
    var->valtexts = make_array<char*>(run.store, 2);
    var->valtexts[0] = store_text(run.store, std::string("no ") + text);
    var->valtexts[1] = store_text(run.store, text);
    var->values[0] = -1;
    var->values[1] = p;
    var->nvalues = 2;
  }
}

}  // namespace

int name_hash(const char* name) {
  int sum = 0;
  for (const char* p = name; *p != '\0'; ++p) sum += static_cast<signed char>(*p) & 127;
  return sum % name_hash_modulus;
}

stat_var* install(run_state& run, const char* name) {
  auto* var = make_record<stat_var>(run.store);
  var->name = store_text(run.store, name);
  stat_var*& head = run.items[static_cast<std::size_t>(name_hash(name))];
  var->next = head;
  head = var;
  return var;
}

stat_var* lookup(run_state& run, const char* name) {
  for (stat_var* v = run.items[static_cast<std::size_t>(name_hash(name))]; v != nullptr;
       v = v->next)
    if (std::strcmp(v->name, name) == 0) return v;
  return nullptr;
}

stat_var* add_stat_var(run_state& run, const char* name) {
  if (run.stvars.size() == run.stvarmax) morestvars(run);
  stat_var* var = install(run, name);
  run.stvars.push_back(var);
  return var;
}

void xtostats(run_state& run) {
  // One running position in elmask over the axes that have words in the cases.
  std::size_t word = 0;
  for (axis_info* axis = run.axinf; axis != nullptr; axis = axis->next) {
    if (axis->head->incase == 0) continue;
    const auto nwords = static_cast<std::size_t>((axis->counts->nelements + 15) / 16);
    if (word + nwords > static_cast<std::size_t>(run.mask_words))
      stop_damaged(case_file, "its axis masks are shorter than the axes need");
    const element_walk walk{run.elmask + word};
    word += nwords;
    if (axis->no_output == 1) continue;
    if (axis->maxbits > 1)
      multi_coded(run, axis, walk);
    else
      single_coded(run, axis, walk);
  }
  get_incinf(run);
  run.weighting = get_weightinf(run);
}

void copycomments(run_state& run, const axis_info* axis, stat_var* var) {
  const int form = run.progmode != nullptr ? run.progmode->form : form_xml;
  const char* separator = form == form_xml ? "\n" : " ";
  const int count = title_count(axis);
  std::string text;
  if (run.lflg != 0 && form != form_spss) {
    for (int i = 0; i < count; ++i) text.append(axis->titles->lines[i]).append(separator);
  } else if (count > 0) {
    text = axis->titles->lines[0];
  }
  var->text = store_text(run.store, text);
}

void get_incinf(run_state& run) {
  file_ptr f(efopen(run, incs_file, "r"));
  check_job_header(f.get(), incs_file, 8);
  std::array<std::uint8_t, 8> counts{};
  read_record(f.get(), counts, incs_file, "the counts");
  const std::int32_t n = be_i32(counts, 0);  // incs
  const std::int32_t s = be_i32(counts, 4);  // bytes of the name block
  // The counts size the buffers: they must fit in what is left of the file.
  const long left = bytes_left(f.get());
  if (n < 0 || s < 0 || s > left || std::int64_t{12} * n > left - s)
    stop_damaged(incs_file, "its counts of " + std::to_string(n) + " incs and " +
                                std::to_string(s) + " name bytes do not fit the file");
  // Every case record carries one 4-byte value per inc; a different number
  // would shift every value written to the data file.
  if (static_cast<std::uint32_t>(n) != run.layout.nfloats)
    stop_run(1, "ERROR: \"" + std::string(case_file) + "\" holds " +
                    std::to_string(run.layout.nfloats) + " numeric values per case, but \"" +
                    incs_file + "\" lists " + std::to_string(n) + " incs\n");
  std::vector<std::uint8_t> names(static_cast<std::size_t>(s));
  read_record(f.get(), names, incs_file, "the name block");
  std::vector<std::uint8_t> recs(static_cast<std::size_t>(n) * 12);
  read_record(f.get(), recs, incs_file, "the inc records");

  std::string path;
  tmpopname("descrips.inf", path);
  refuse_irregular(path, "descrips.inf");
  int entries = 0;
  descs_guard descs{DescsLoad(path.c_str(), 0, 0, &entries)};
  if (descs.handle < 0)
    showmsg(run.err, "Warning: cannot read %s (errcode %d)\n", path.c_str(), descs.handle);

  inc_info** tail = &run.incinf;
  for (std::int32_t i = 0; i < n; ++i) {
    const char* raw = inc_name(names, be_i32(recs, static_cast<std::size_t>(i) * 12 + 8), i);
    // An entry without a label names nothing: the inc keeps its raw name.
    const char* label = descs.handle >= 0 ? TagGetLabel(descs.handle, raw) : nullptr;
    if (label == nullptr || label[0] == '\0') label = raw;
    auto* inc = make_record<inc_info>(run.store);
    inc->name = store_text(run.store, label);
    *tail = inc;
    tail = &inc->next;
    ++run.nincs;

    stat_var* same = lookup(run, inc->name);
    stat_var* var = add_stat_var(run, inc->name);
    const char* descript = descs.handle >= 0 ? TagGetDescript(descs.handle, raw) : nullptr;
    if (same != nullptr && same->axis != nullptr && run.options.suppress_same_name != 0) {
      same->axis->no_output = 1;
      copycomments(run, same->axis, var);
    } else {
      var->text = store_text(run.store, descript != nullptr ? descript : inc->name);
    }
    var->type = type_numeric;
    var->parent = inc;
    var->index = i;
  }
  if (debug_stream(run) != nullptr) print_incinf(run);
}

int get_weightinf(run_state& run) {
  file_ptr f(efopen(run, weights_file, "r"));
  check_job_header(f.get(), weights_file, 5);
  std::array<std::uint8_t, 4> first{};
  read_record(f.get(), first, weights_file, "the weight count");
  if (be_i32(first, 0) == -1) {
    run.weighting = 0;
    return 0;
  }
  std::array<std::uint8_t, 40> unused{};  // twenty 16-bit values
  read_record(f.get(), unused, weights_file, "the values before the weight records");

  int count = 0;
  std::array<std::uint8_t, 156> rec{};
  for (;;) {
    const std::size_t got = std::fread(rec.data(), 1, rec.size(), f.get());
    if (got == 0) break;
    if (got != rec.size())
      stop_damaged(weights_file, "it ends inside weight record " + std::to_string(count));
    if (count == max_weights)
      stop_run(1, "ERROR: \"" + std::string(weights_file) + "\" holds more than " +
                      std::to_string(max_weights) + " weights\n");
    weight_slot& slot = run.wght[static_cast<std::size_t>(count)];
    slot.number = be_i16(rec, 4);
    char name[32];
    std::snprintf(name, sizeof name, "wmvals%d.x", static_cast<int>(slot.number));
    // Left open after its header: the case data writer reads the values.
    slot.stream.reset(efopen(run, name, "r"));
    check_job_header(slot.stream.get(), name, 18);
    std::snprintf(name, sizeof name, "@weight%d", count);
    stat_var* var = add_stat_var(run, name);
    var->type = type_numeric;
    var->parent = &slot;
    var->index = count;
    ++count;
  }
  run.weighting = count;
  if (std::FILE* d = debug_stream(run))
    for (int i = 0; i < count; ++i) std::fprintf(d, "\n Weight %d", i);
  return count;
}

void print_incinf(run_state& run) {
  std::FILE* d = debug_stream(run);
  if (d == nullptr) return;
  int i = 0;
  for (const inc_info* inc = run.incinf; inc != nullptr; inc = inc->next, ++i)
    std::fprintf(d, "\n Inc %d %s", i, inc->name);
  std::fflush(d);
}

int build_statlist(run_state& run) {
  run.statlist = nullptr;
  stat_node* first = nullptr;  // first node of the current group
  stat_node* last = nullptr;   // its last member
  int numeric = 0;
  for (stat_var* var : run.stvars) {
    if (var->spssvar == nullptr) continue;
    auto* node = make_record<stat_node>(run.store);
    node->var = var;
    if (var->type == type_numeric) ++numeric;
    // Only the yes/no variables of one axis share a group; comparing the axis
    // records (not their names) keeps two axes of the same name apart.
    const stat_var* head = first != nullptr ? first->var : nullptr;
    if (head != nullptr && var->type == type_yesno && head->type == type_yesno &&
        var->axis != nullptr && var->axis == head->axis) {
      last->member = node;
      last = node;
      ++first->count;
      continue;
    }
    node->count = 1;
    if (first == nullptr)
      run.statlist = node;
    else
      first->nextgroup = node;
    first = last = node;
  }
  return numeric;
}

}  // namespace tx
