// txjob: writes a whole Tabulex job directory, from a JSON description
// (docs/job-format.md) or from a few numbers for benchmarks.
//
//   txjob JOB.json DIR
//   txjob --synthetic cases=N,single=A,multi=B,elements=E,incs=I,weights=W,seed=S DIR
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "jobbuild.h"

namespace {

using nlohmann::json;
namespace job = tx::job;

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error(what); }

// ---- texts: UTF-8 in the JSON, Windows-1252 bytes in the job files ----

// The characters Windows-1252 puts at bytes 128 to 159 (0: none there).
constexpr char16_t windows_1252_high[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 128-135
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,       // 136-143
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 144-151
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,  // 152-159
};

std::string code_point_text(unsigned cp) {
  char text[16];
  std::snprintf(text, sizeof text, "U+%04X", cp);
  return text;
}

// The job file byte of character cp: U+0000 to U+00FF as that byte (U+0080
// to U+009F too, the bytes written as they are), the other characters of
// Windows-1252 (the euro sign, curly quotes, dashes, ...) as theirs.
char job_byte(unsigned cp, const std::string& utf8) {
  if (cp <= 0xFF) return static_cast<char>(cp);
  for (unsigned b = 0; b < 32; ++b)
    if (windows_1252_high[b] == cp) return static_cast<char>(0x80 + b);
  fail("character " + code_point_text(cp) + " is not in Windows-1252: " + utf8);
}

std::string job_text(const std::string& utf8) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    // Bytes of the sequence and the bits of its lead byte; 4-byte sequences
    // hold characters beyond U+FFFF, none of them in Windows-1252.
    const std::size_t n = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : 0;
    if (n == 0 && (c & 0xF8) == 0xF0)
      fail("a character beyond U+FFFF is not in Windows-1252: " + utf8);
    if (n == 0 || utf8.size() - i < n) fail("text is not UTF-8: " + utf8);
    unsigned cp = n == 1 ? c : n == 2 ? c & 0x1Fu : c & 0x0Fu;
    for (std::size_t k = 1; k < n; ++k) {
      const auto next = static_cast<unsigned char>(utf8[i + k]);
      if ((next & 0xC0) != 0x80) fail("text is not UTF-8: " + utf8);
      cp = (cp << 6) | (next & 0x3Fu);
    }
    // The shortest form only: an overlong sequence is no UTF-8.
    if ((n == 2 && cp < 0x80) || (n == 3 && cp < 0x800)) fail("text is not UTF-8: " + utf8);
    out += job_byte(cp, utf8);
    i += n;
  }
  return out;
}

std::string text_of(const json& j, const char* key) {
  return job_text(j.at(key).get<std::string>());
}

std::optional<std::string> optional_text(const json& j, const char* key) {
  if (!j.contains(key) || j.at(key).is_null()) return std::nullopt;
  return text_of(j, key);
}

// An entry in descrips.inf when "label" or "descript" is given (null: the
// entry has no such line content).
std::optional<job::description> description_of(const json& j) {
  if (!j.contains("label") && !j.contains("descript")) return std::nullopt;
  return job::description{optional_text(j, "label"), optional_text(j, "descript")};
}

template <typename T>
T value_or(const json& j, const char* key, T fallback) {
  return j.contains(key) ? j.at(key).get<T>() : fallback;
}

char one_char(const json& j, const char* key, char fallback) {
  const std::string s = value_or<std::string>(j, key, std::string(1, fallback));
  if (s.size() != 1) fail(std::string(key) + " must be one character");
  return s[0];
}

// ---- axes ----

job::element element_of(const json& e) {
  if (e.is_string()) return {job_text(e.get<std::string>())};
  job::element out{text_of(e, "text")};
  out.type = value_or<std::uint8_t>(e, "type", 1);
  out.kept = value_or(e, "kept", true);
  out.no_data_flag = value_or(e, "no_data", false);
  return out;
}

job::title_line title_of(const json& t) {
  if (t.is_string()) return {job_text(t.get<std::string>())};
  return {text_of(t, "text"), one_char(t, "vert", 't'), one_char(t, "horiz", 'l'),
          value_or(t, "packed", true)};
}

struct axis_extra {
  bool multi = false;  // generated cases set several elements
};

job::axis axis_of(const json& a, axis_extra& extra) {
  job::axis out;
  out.tag = text_of(a, "tag");
  out.axisno = value_or<std::int16_t>(a, "axisno", 0);
  out.incase = value_or(a, "incase", true);
  out.options = value_or<std::uint8_t>(a, "options", 0);
  if (value_or(a, "exportsp", false)) out.options |= 0x04;
  if (value_or(a, "export_multi", false)) out.options |= 0x0C;
  out.ngrid = value_or<std::uint8_t>(a, "grid", 0);
  out.partner = value_or(a, "partner", false);
  out.axis_text = optional_text(a, "axis_text");
  for (const json& t : value_or(a, "titles", json::array())) out.titles.push_back(title_of(t));
  for (const json& e : value_or(a, "elements", json::array()))
    out.elements.push_back(element_of(e));
  out.heap_padding = value_or<std::int32_t>(a, "heap_padding", 0);
  out.desc = description_of(a);
  const std::string coding = value_or<std::string>(a, "coding", "single");
  if (coding != "single" && coding != "multi") fail(out.tag + ": coding is single or multi");
  extra.multi = coding == "multi";
  return out;
}

// ---- generated values ----

// splitmix64: small, fast and the same on every machine.
struct random_source {
  std::uint64_t state;
  std::uint64_t next() {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }  // [0, 1)
  std::size_t below(std::size_t n) { return static_cast<std::size_t>(uniform() * n); }
  bool chance(double p) { return uniform() < p; }
};

// A value rule: min to max in steps of 10^-decimals, missing with a chance.
struct value_rule {
  double min = 0, max = 100;
  int decimals = 0;
  double missing = 0;
  float draw(random_source& r) const {
    if (missing > 0 && r.chance(missing)) return job::missing;
    const double scale = std::pow(10.0, decimals);
    const double steps = std::floor((max - min) * scale) + 1;
    return static_cast<float>(min + std::floor(r.uniform() * steps) / scale);
  }
};

value_rule rule_of(const json& j, value_rule fallback) {
  if (!j.contains("generate")) return fallback;
  const json& g = j.at("generate");
  return {value_or(g, "min", fallback.min), value_or(g, "max", fallback.max),
          value_or(g, "decimals", fallback.decimals), value_or(g, "missing", fallback.missing)};
}

// Kept positions of an axis split into data and no-data elements.
struct axis_positions {
  std::vector<int> data, no_data;
  bool multi = false;
};

axis_positions positions_of(const job::axis& a, bool multi) {
  axis_positions p;
  p.multi = multi;
  int pos = 0;
  for (const job::element& e : a.elements) {
    if (!e.kept) continue;
    (e.type == 0 || e.no_data_flag ? p.no_data : p.data).push_back(pos++);
  }
  return p;
}

// Per case-file axis: single-coded ones get one data element (none with the
// chance `empty`), multi-coded ones each data element with chance 1/3 and at
// least one; no-data elements are set with chance 1/2.
void draw_axis(const axis_positions& p, double empty, random_source& r, std::vector<int>& out) {
  if (!p.data.empty() && !(empty > 0 && r.chance(empty))) {
    if (p.multi) {
      for (int pos : p.data)
        if (r.chance(1.0 / 3)) out.push_back(pos);
      if (out.empty()) out.push_back(p.data[r.below(p.data.size())]);
    } else {
      out.push_back(p.data[r.below(p.data.size())]);
    }
  }
  for (int pos : p.no_data)
    if (r.chance(0.5)) out.push_back(pos);
}

// Case-file axes of the job with their generation rules.
std::vector<axis_positions> case_file_axes(const job::job& j, const std::vector<axis_extra>& x) {
  std::vector<axis_positions> out;
  for (std::size_t i = 0; i < j.axes.size(); ++i) {
    const job::axis& a = j.axes[i];
    if (a.partner || !a.incase) continue;
    out.insert(out.end(), a.ngrid != 0 ? a.ngrid : 1, positions_of(a, x[i].multi));
  }
  return out;
}

// "cases": {"generate": {"count": N, "seed": S, "empty": p}}
void generate_cases(job::job& j, const json& g, const std::vector<axis_extra>& extra,
                    const std::vector<value_rule>& inc_rules,
                    const std::vector<value_rule>& weight_rules) {
  const auto count = value_or<std::size_t>(g, "count", 100);
  const double empty = value_or(g, "empty", 0.0);
  random_source r{value_or<std::uint64_t>(g, "seed", 1)};
  const std::vector<axis_positions> axes = case_file_axes(j, extra);
  for (std::size_t i = 0; i < count; ++i) {
    job::case_record c;
    c.axes.resize(axes.size());
    for (std::size_t a = 0; a < axes.size(); ++a) draw_axis(axes[a], empty, r, c.axes[a]);
    for (const value_rule& rule : inc_rules) c.incs.push_back(rule.draw(r));
    for (std::size_t w = 0; w < weight_rules.size(); ++w)
      j.weights[w].values.push_back(weight_rules[w].draw(r));
    j.cases.push_back(std::move(c));
  }
}

job::case_record case_of(const json& c, job::job& j) {
  job::case_record out;
  for (const json& a : value_or(c, "axes", json::array()))
    out.axes.push_back(a.get<std::vector<int>>());
  for (const json& v : value_or(c, "incs", json::array()))
    out.incs.push_back(v.is_null() ? job::missing : v.get<float>());
  out.raw_masks = value_or(c, "raw", std::vector<std::uint16_t>{});
  const auto weights = value_or(c, "weights", std::vector<float>{});
  if (weights.size() > j.weights.size()) fail("a case has more weight values than weights");
  for (std::size_t w = 0; w < weights.size(); ++w) j.weights[w].values.push_back(weights[w]);
  return out;
}

job::job job_of(const json& d) {
  job::job j;
  for (const json& t : value_or(d, "title", json::array()))
    j.title.push_back(job_text(t.get<std::string>()));
  std::vector<axis_extra> extra;
  for (const json& a : value_or(d, "axes", json::array())) {
    extra.emplace_back();
    j.axes.push_back(axis_of(a, extra.back()));
  }
  std::vector<value_rule> inc_rules, weight_rules;
  for (const json& n : value_or(d, "incs", json::array())) {
    j.incs.push_back({text_of(n, "name"), description_of(n)});
    inc_rules.push_back(rule_of(n, {}));
  }
  for (const json& w : value_or(d, "weights", json::array())) {
    j.weights.push_back({w.at("number").get<std::int16_t>(),
                         value_or(w, "values", std::vector<float>{}), description_of(w)});
    weight_rules.push_back(rule_of(w, {0.5, 2.0, 4, 0}));
  }
  j.descriptions = value_or(d, "descriptions", true);
  j.has_weights_file = value_or(d, "weights_file", true);
  j.levels = value_or<std::int32_t>(d, "levels", 0);
  j.nt = value_or<std::int32_t>(d, "nt", 2);
  if (d.contains("na")) j.na = d.at("na").get<std::int32_t>();
  if (d.contains("ni")) j.ni = d.at("ni").get<std::int32_t>();
  if (d.contains("written_at")) j.written_at = d.at("written_at").get<std::int32_t>();
  const json cases = value_or(d, "cases", json::array());
  if (cases.is_object())
    generate_cases(j, cases.at("generate"), extra, inc_rules, weight_rules);
  else
    for (const json& c : cases) j.cases.push_back(case_of(c, j));
  return j;
}

// ---- synthetic jobs ----

struct synthetic_params {
  std::size_t cases = 1000, single = 10, multi = 5, elements = 8, incs = 2, weights = 1;
  std::uint64_t seed = 1;
};

synthetic_params parse_params(const std::string& spec) {
  synthetic_params p;
  const std::map<std::string, std::size_t*> sizes = {{"cases", &p.cases}, {"single", &p.single},
                                                     {"multi", &p.multi}, {"elements", &p.elements},
                                                     {"incs", &p.incs},   {"weights", &p.weights}};
  std::size_t at = 0;
  while (at < spec.size()) {
    std::size_t end = spec.find(',', at);
    if (end == std::string::npos) end = spec.size();
    const std::string item = spec.substr(at, end - at);
    const std::size_t eq = item.find('=');
    if (eq == std::string::npos) fail("expected name=value: " + item);
    const std::string name = item.substr(0, eq);
    const unsigned long long value = std::stoull(item.substr(eq + 1));
    if (name == "seed")
      p.seed = value;
    else if (auto it = sizes.find(name); it != sizes.end())
      *it->second = static_cast<std::size_t>(value);
    else
      fail("unknown synthetic parameter: " + name);
    at = end + 1;
  }
  if (p.elements < 2) fail("elements must be at least 2");
  if (p.weights > 10) fail("at most 10 weights");
  return p;
}

// "<prefix><n>" (built by appending: GCC 12 warns falsely on "q" + to_string).
std::string numbered(std::string prefix, std::size_t n) {
  prefix += std::to_string(n);
  return prefix;
}

// Axis k (from 0): every fifth axis ends with a no-data element and every
// seventh has an element without a bit in the masks.
job::axis synthetic_axis(std::size_t k, const synthetic_params& p) {
  job::axis a;
  a.tag = numbered("q", k + 1);
  a.titles = {{numbered("Question ", k + 1)}};
  a.desc = job::description{std::nullopt, numbered("Text of question ", k + 1)};
  for (std::size_t e = 0; e < p.elements; ++e) a.elements.push_back({numbered("Answer ", e + 1)});
  if (k % 5 == 4) a.elements.back() = {"No answer", 0};
  if (k % 7 == 3) a.elements[1].kept = false;
  return a;
}

job::job synthetic_job(const synthetic_params& p) {
  job::job j;
  j.title = {"Synthetic survey", numbered("seed ", p.seed)};
  j.written_at = 1773480360;
  const std::size_t naxes = p.single + p.multi;
  auto positions = std::make_shared<std::vector<axis_positions>>();
  for (std::size_t k = 0; k < naxes; ++k) {
    // The multi-coded axes are spread evenly among the single-coded ones.
    const bool multi = naxes != 0 && (k * p.multi) % naxes < p.multi;
    j.axes.push_back(synthetic_axis(k, p));
    positions->push_back(positions_of(j.axes.back(), multi));
  }
  std::vector<value_rule> inc_rules;
  for (std::size_t i = 0; i < p.incs; ++i) {
    j.incs.push_back(
        {numbered("n", i + 1), job::description{numbered("Amount ", i + 1), std::nullopt}});
    // Whole values and real values by turns, 5% missing.
    inc_rules.push_back(i % 2 == 0 ? value_rule{0, 120, 0, 0.05} : value_rule{0, 9999.99, 2, 0.05});
  }
  random_source r{p.seed};
  for (std::size_t w = 0; w < p.weights; ++w) {
    job::weight wt{static_cast<std::int16_t>(w + 1)};
    const value_rule rule{0.2, 3.0, 4, 0};
    wt.values.reserve(p.cases);
    for (std::size_t i = 0; i < p.cases; ++i) wt.values.push_back(rule.draw(r));
    j.weights.push_back(std::move(wt));
  }
  j.generated_cases = p.cases;
  j.make_case = [positions, inc_rules, r = random_source{p.seed ^ 0x5DEECE66Dull}](
                    std::size_t, job::case_record& c) mutable {
    c.axes.resize(positions->size());
    for (std::size_t a = 0; a < positions->size(); ++a)
      draw_axis((*positions)[a], 0.02, r, c.axes[a]);
    for (const value_rule& rule : inc_rules) c.incs.push_back(rule.draw(r));
  };
  return j;
}

int usage() {
  std::fputs(
      "usage: txjob JOB.json DIR\n"
      "       txjob --synthetic "
      "cases=N,single=A,multi=B,elements=E,incs=I,weights=W,seed=S DIR\n",
      stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc == 4 && std::strcmp(argv[1], "--synthetic") == 0) {
      job::write_job(synthetic_job(parse_params(argv[2])), argv[3]);
    } else if (argc == 3 && argv[1][0] != '-') {
      std::ifstream in(argv[1], std::ios::binary);
      if (!in) fail(std::string("cannot open ") + argv[1]);
      job::write_job(job_of(json::parse(in)), argv[2]);
    } else {
      return usage();
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "txjob: %s\n", e.what());
    return 1;
  }
  return 0;
}
