// The intermediate case file "intermed.x": one record per case of a leading
// part (nt bytes), the axis masks (na bytes) and the inc values (ni bytes).
#pragma once
#include <cstdint>
#include <cstdio>
#include <vector>

namespace tx {

struct run_state;

inline constexpr float missing_value = -1048576.0f;  // -2^20 marks a missing inc value

// Layout after the header: levels, nt, na, ni (signed 32-bit, big-endian).
struct case_layout {
  std::int32_t levels = 0;
  std::int32_t nt = 0, na = 0, ni = 0;  // sizes in bytes as stored
  std::uint32_t nwords_t = 0;           // nt / 2
  std::uint32_t nwords_a = 0;           // na / 2
  std::uint32_t nfloats = 0;            // ni / 4
};

// One case record read into buffers made once.
struct case_reader {
  std::FILE* f = nullptr;
  const char* name = "intermed.x";
  case_layout layout;
  std::vector<std::uint8_t> raw;          // one whole record
  std::vector<std::uint16_t> masks;       // nwords_a axis-mask words
  std::vector<float> values;              // nfloats inc values
};

// Reads the four counts after the header and checks them against the axes.
void read_case_layout(run_state& run, case_reader& r);
// Reads the next record. false at the end of the file (no whole leading word);
// a partial record stops the run with error(part_error[k]) where k is the
// part that came up short (leading, masks, numbers).
bool read_case(case_reader& r, const int (&part_error)[3]);

struct intermed_state {
  std::uint16_t* andmask = nullptr;
  std::uint16_t* ormask = nullptr;
  std::uint16_t* mask = nullptr;
};

int read_intermed(run_state& run);
void init_maskops(run_state& run, int n);
void markelements(run_state& run, std::uint16_t* m);
void maskops(run_state& run, const std::uint16_t* c, int n);
void end_maskops(run_state& run, int n);
void print_masks(run_state& run, int n);
void print_bits(run_state& run, const std::uint16_t* words, int n);
void pr_bit(run_state& run, std::uint16_t word);

}  // namespace tx
