#include "read/intermed.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>

#include "base/misc.h"
#include "base/nstore.h"
#include "base/run_state.h"
#include "base/showmsg.h"
#include "read/axinf.h"
#include "txlib/bytes.h"
#include "txlib/version.h"

namespace tx {

namespace {

constexpr int part_errors[3] = {1201, 2201, 3201};  // leading part, masks, numbers

std::string num(long long v) { return std::to_string(v); }

// Mask words that the in-case axes take in each record.
long long axis_words(const run_state& run) {
  long long words = 0;
  for (const axis_info* a = run.axinf; a != nullptr; a = a->next)
    if (a->head->incase != 0) words += a->nwords;
  return words;
}

// The next n bytes of the file, in place in the current block when they lie
// in it, else gathered in r.spill. Fewer only at the end of the file: the
// spill grows only as far as the file delivers, so a size from a damaged
// file cannot make it larger than the file.
std::span<const std::uint8_t> take(case_reader& r, std::size_t n) {
  if (r.block.size() - r.at >= n) {
    const std::span<const std::uint8_t> bytes = r.block.subspan(r.at, n);
    r.at += n;
    return bytes;
  }
  r.spill.assign(r.block.begin() + static_cast<std::ptrdiff_t>(r.at), r.block.end());
  r.at = r.block.size();
  while (r.spill.size() < n && !r.file_ended) {
    if (!r.ahead) r.ahead = std::make_unique<read_ahead>(r.f);
    r.block = r.ahead->next();
    r.file_ended = r.block.size() < read_ahead::block_size;
    // A failed read is no end of the file: the cases after it are not known.
    if (r.file_ended && r.ahead->error() != 0)
      stop_run(1, format_text("ERROR: cannot read \"%s\": %s\n", r.name,
                              std::strerror(r.ahead->error())));
    r.at = std::min(n - r.spill.size(), r.block.size());
    r.spill.insert(r.spill.end(), r.block.begin(),
                   r.block.begin() + static_cast<std::ptrdiff_t>(r.at));
  }
  return r.spill;
}

// Bits set in a 16-bit word, by adding neighbouring bit fields: the loop of
// maskops over a case's words vectorizes it. Every step is cut to 16 bits,
// so that the vectors hold eight words, not four.
std::uint16_t bits_in(std::uint16_t x) {
  std::uint16_t v = x;
  v = static_cast<std::uint16_t>(v - ((v >> 1) & 0x5555U));
  v = static_cast<std::uint16_t>((v & 0x3333U) + ((v >> 2) & 0x3333U));
  v = static_cast<std::uint16_t>((v + (v >> 4)) & 0x0F0FU);
  return static_cast<std::uint16_t>((v + (v >> 8)) & 0x1FU);
}

bool is_set(const std::uint16_t* words, int p, int i) {
  return (words[p + i / 16] >> (i % 16) & 1U) != 0;
}

// An in-case axis whose words would lie beyond the n words of a case.
[[noreturn]] void words_beyond(int n) {
  stop_damaged("intermed.x",
               "its case records hold " + num(n) + " mask words, fewer than the axes need");
}

}  // namespace

void read_case_layout(run_state& run, case_reader& r) {
  std::array<std::uint8_t, 16> counts;
  read_record(r.f, counts, r.name, "the record sizes");
  case_layout& l = r.layout;
  l.levels = be_i32(counts, 0);
  l.nt = be_i32(counts, 4);
  l.na = be_i32(counts, 8);
  l.ni = be_i32(counts, 12);
  if (l.nt < 0 || l.na < 0 || l.ni < 0)
    stop_damaged(r.name, "it holds a negative record size (nt " + num(l.nt) + ", na " + num(l.na) +
                             ", ni " + num(l.ni) + ")");
  // Sizes are bytes; a record is read as nt/2 words, na/2 words and ni/4 floats.
  l.nwords_t = static_cast<std::uint32_t>(l.nt) / 2;
  l.nwords_a = static_cast<std::uint32_t>(l.na) / 2;
  l.nfloats = static_cast<std::uint32_t>(l.ni) / 4;

  const long long need = axis_words(run);
  if (need > l.nwords_a)
    stop_damaged(r.name, "its case records hold " + num(l.nwords_a) +
                             " mask words but the axes need " + num(need));
  // The masks of a run have nwords_a words; more words than the axes use are
  // only allowed when the file holds at least one mask part of that size. A
  // file that ends right after the sizes holds no case, whatever the sizes.
  const long left = bytes_left(r.f);
  if (l.nwords_a > need && left > 0 && 2LL * l.nwords_a > left)
    stop_damaged(r.name,
                 "its case records of " + num(l.nwords_a) + " mask words are longer than the file");
  if (l.nwords_t == 0 && l.nwords_a == 0 && l.nfloats == 0) {
    const int c = std::fgetc(r.f);
    if (c != EOF)
      stop_damaged(r.name, "its case records have size 0 but case data follow the sizes");
  }
  r.ahead.reset();
  r.block = {};
  r.at = 0;
  r.spill.clear();
  r.file_ended = false;
  r.masks.clear();
  run.layout = l;
}

const std::uint8_t* next_record(case_reader& r, const int (&part_error)[3]) {
  const case_layout& l = r.layout;
  const std::size_t sizes[3] = {2 * std::size_t{l.nwords_t}, 2 * std::size_t{l.nwords_a},
                                4 * std::size_t{l.nfloats}};
  const std::size_t record = sizes[0] + sizes[1] + sizes[2];
  if (record == 0) return nullptr;  // the layout check allowed no data
  const std::span<const std::uint8_t> rec = take(r, record);
  const std::size_t got = rec.size();
  if (got < record) {
    // The end of the file shows as a first non-empty part that is missing
    // (with a leading part: less than one word of it is there).
    std::size_t at = 0;
    bool first = true;
    for (int k = 0; k < 3; ++k) {
      if (sizes[k] == 0) continue;
      const std::size_t part = std::min(got - std::min(got, at), sizes[k]);
      if (first && (part == 0 || (k == 0 && part < 2))) return nullptr;
      if (part < sizes[k]) error(part_error[k]);
      first = false;
      at += sizes[k];
    }
  }
  return rec.data();
}

std::size_t record_size(const case_layout& l) {
  return 2 * std::size_t{l.nwords_t} + 2 * std::size_t{l.nwords_a} + 4 * std::size_t{l.nfloats};
}

void decode_case(const case_layout& l, const std::uint8_t* record, std::uint16_t* masks,
                 float* values) {
  const std::size_t words_at = 2 * std::size_t{l.nwords_t};
  const std::size_t values_at = words_at + 2 * std::size_t{l.nwords_a};
  const std::span<const std::uint8_t> rec(record, values_at + 4 * std::size_t{l.nfloats});
  if (masks != nullptr) {
    // A store through `masks` could change the record's bytes, as far as
    // the compiler knows, which keeps the loop to one word at a time; told
    // otherwise, it swaps the bytes of eight words at once.
    const std::uint8_t* __restrict from = record + words_at;
    std::uint16_t* __restrict to = masks;
    const std::size_t n = l.nwords_a;
    for (std::size_t w = 0; w < n; ++w)
      to[w] = static_cast<std::uint16_t>((from[2 * w] << 8) | from[2 * w + 1]);
  }
  if (values != nullptr)
    for (std::size_t v = 0; v < l.nfloats; ++v) values[v] = be_f32(rec, values_at + 4 * v);
}

bool read_case(case_reader& r, const int (&part_error)[3]) {
  const std::uint8_t* rec = next_record(r, part_error);
  if (rec == nullptr) return false;
  r.masks.resize(r.layout.nwords_a);
  decode_case(r.layout, rec, r.masks.data(), nullptr);
  return true;
}

int read_intermed(run_state& run) {
  file_ptr f(efopen(run, "intermed.x", "r"));
  check_job_header(f.get(), "intermed.x", 12);
  case_reader r;
  r.f = f.get();
  read_case_layout(run, r);
  const case_layout& l = r.layout;
  if (run.prt != 0)
    showmsg(run.debug.get(), "\n\n levels %d nt %d na %d ni %d", l.levels, l.nt, l.na, l.ni);
  // A file that ends right after the sizes holds no case: its masks need no
  // more words than the axes take, however long its records would be.
  const int n = static_cast<int>(bytes_left(r.f) == 0 ? axis_words(run) : l.nwords_a);
  init_maskops(run, n);
  run.ncases = 0;
  while (read_case(r, part_errors)) {
    if (run.ncases == INT32_MAX) stop_damaged(r.name, "it holds more cases than can be counted");
    ++run.ncases;
    maskops(run, r.masks.data(), n);
  }
  end_maskops(run, n);
  if (run.prt != 0) showmsg(run.debug.get(), "\n N of cases %ld", static_cast<long>(run.ncases));
  return n;
}

void init_maskops(run_state& run, int n) {
  const auto words = static_cast<std::size_t>(n);
  intermed_state& m = run.intermed;
  m.andmask = make_array<std::uint16_t>(run.store, words);
  std::fill_n(m.andmask, words, std::uint16_t{0xFFFF});
  m.ormask = make_array<std::uint16_t>(run.store, words);
  run.elmask = make_array<std::uint16_t>(run.store, words);
  run.mask_words = n;
  markelements(run, run.elmask);
  m.mask = make_array<std::uint16_t>(run.store, words);
  m.countmask = make_array<std::uint16_t>(run.store, words);
  m.most = make_array<std::uint16_t>(run.store, words);
  m.axes.clear();
  m.wide.clear();
  int p = 0;
  for (axis_info* a = run.axinf; a != nullptr; a = a->next) {
    if (a->head->incase == 0) continue;
    m.axes.push_back(counted_axis{a, p, a->nwords});
    if (a->nwords > 1) m.wide.push_back(m.axes.back());
    for (int i = 0; i < a->counts->nbits && i < 16 * a->nwords; ++i)
      m.countmask[p + i / 16] |=
          static_cast<std::uint16_t>(run.elmask[p + i / 16] & (1U << (i % 16)));
    p += a->nwords;
  }
}

void markelements(run_state& run, std::uint16_t* m) {
  int p = 0;
  for (axis_info* a = run.axinf; a != nullptr; a = a->next) {
    if (a->head->incase == 0) continue;
    if (p + a->nwords > run.mask_words) words_beyond(run.mask_words);
    std::int16_t count = 0;
    for (int i = 0; i < a->counts->nelements; ++i) {
      if (a->elements[i]->type == 0) continue;
      m[p + i / 16] |= static_cast<std::uint16_t>(1U << (i % 16));
      ++count;
    }
    a->ndata = count;
    p += a->nwords;
  }
}

void maskops(run_state& run, const std::uint16_t* c, int n) {
  intermed_state& m = run.intermed;
  // The arrays are distinct (each has its own block of the store): told so,
  // the compiler needs no overlap checks and keeps both loops in vectors.
  std::uint16_t* __restrict andmask = m.andmask;
  std::uint16_t* __restrict ormask = m.ormask;
  std::uint16_t* __restrict mask = m.mask;
  const std::uint16_t* __restrict elmask = run.elmask;
  const std::uint16_t* __restrict words = c;
  for (int w = 0; w < n; ++w) {
    andmask[w] &= words[w];
    ormask[w] |= words[w];
    mask[w] = words[w] & elmask[w];
  }
  // The bits of a one-word axis are counted per word; end_maskops takes the
  // most of its word. An axis of more words adds up its words here.
  std::uint16_t* __restrict most = m.most;
  const std::uint16_t* __restrict countmask = m.countmask;
  for (int w = 0; w < n; ++w)
    most[w] = std::max(most[w], bits_in(static_cast<std::uint16_t>(words[w] & countmask[w])));
  for (const counted_axis& x : m.wide) {
    if (x.word + x.nwords > n) words_beyond(n);
    int set = 0;
    for (int w = x.word; w < x.word + x.nwords; ++w)
      set += bits_in(static_cast<std::uint16_t>(c[w] & countmask[w]));
    if (set > x.axis->maxbits) x.axis->maxbits = static_cast<std::int16_t>(set);
  }
}

void end_maskops(run_state& run, int n) {
  const intermed_state& m = run.intermed;
  for (const counted_axis& x : m.axes)
    if (x.nwords == 1 && m.most[x.word] > x.axis->maxbits)
      x.axis->maxbits = static_cast<std::int16_t>(m.most[x.word]);
  if (run.prt != 0) print_masks(run, n);
}

void print_masks(run_state& run, int n) {
  std::FILE* debug = run.debug.get();
  const intermed_state& m = run.intermed;
  showmsg(debug, "\n  ANDMASK");
  print_bits(run, m.andmask, n);
  showmsg(debug, "\n  ORMASK");
  print_bits(run, m.ormask, n);
  showmsg(debug, "\n  ELMASK");
  print_bits(run, run.elmask, n);
  showmsg(debug, "\n  MASK");
  print_bits(run, m.mask, n);
  std::fflush(debug != nullptr ? debug : stderr);
}

void print_bits(run_state& run, const std::uint16_t* words, int n) {
  std::FILE* debug = run.debug.get();
  for (int i = 0; i < n; ++i) {
    if (i % 2 == 0) showmsg(debug, "\n %5d :", i);
    pr_bit(run, words[i]);
  }
  int p = 0;
  for (const axis_info* a = run.axinf; a != nullptr; a = a->next) {
    showmsg(debug, "\n    Axe %-10s :", a->head->name);
    if (a->head->incase == 0) continue;
    if (p + a->nwords > n) words_beyond(n);
    // Element order: bit 0 of the axis's first word first.
    std::string bits;
    for (int i = 0; i < a->counts->nbits; ++i) bits += is_set(words, p, i) ? '1' : '0';
    for (std::size_t at = 0; at < bits.size(); at += 4096)
      showmsg(debug, "%s", bits.substr(at, 4096).c_str());
    for (int i = 0; i < a->counts->nelements; ++i)
      if (is_set(words, p, i))
        showmsg(debug, "\n     ->  %d(%s)", a->elements[i]->type, element_text(a, i));
    showmsg(debug, "\n       Maximum number of bits set %d", a->maxbits);
    p += a->nwords;
  }
}

void pr_bit(run_state& run, std::uint16_t word) {
  char text[19] = "  ";
  for (int b = 0; b < 16; ++b) text[2 + b] = (word >> (15 - b) & 1U) != 0 ? '1' : '0';
  text[18] = '\0';
  showmsg(run.debug.get(), "%s", text);
}

}  // namespace tx
