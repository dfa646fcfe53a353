// Job builder: writes every file of a Tabulex job from a plain description,
// in the binary layouts the converter reads, through the shared library's own
// writers (headers, descriptions file). Tests, the demo and the benchmarks
// make their jobs with it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tx::job {

inline constexpr float missing = -1048576.0f;  // a missing inc value in intermed.x

struct element {
  std::string text{};
  std::uint8_t type = 1;      // type byte (offset 61); 0: carries no data
  bool kept = true;           // flag 0x0800 at offset 28: has a bit in the case masks
  bool no_data_flag = false;  // flag 0x0040 at offset 34: no data whatever the type
};

struct title_line {
  std::string text{};
  char vert = 't';
  char horiz = 'l';
  bool packed = true;  // justification in the axis record (negative code); else the text's first
                       // two characters
};

// Description entry of an object in descrips.inf, filed under its tag.
struct description {
  std::optional<std::string> label{};     // no value: the entry has no label line content
  std::optional<std::string> descript{};  // no value: no descriptive text
};

struct axis {
  std::string tag{};         // also the axis file's name stem
  std::int16_t axisno = 0;   // 0: its position in the list, from 1
  bool incase = true;        // has words in every case record
  std::uint8_t options = 0;  // 0x04 exportsp, 0x08 with 0x04: multi-coded
  std::uint8_t ngrid = 0;    // grid axis: number of grid items; its partner is the next axis
  bool partner = false;      // partner of the grid axis before it: written as <tag>.ay
  std::optional<std::string> axis_text{};
  std::vector<title_line> titles{};  // up to 12
  std::vector<element> elements{};
  // Zero bytes put in the heap after the axis text and the title lines (whose
  // offsets are 16-bit fields) and before the element texts: large heaps and
  // element text offsets above 65,535.
  std::int32_t heap_padding = 0;
  std::optional<description> desc{};  // an entry in descrips.inf under the tag
};

struct inc {
  std::string name{};  // raw name in incs.inf
  std::optional<description> desc{};
};

struct weight {
  std::int16_t number = 0;      // wmvals<number>.x
  std::vector<float> values{};  // one per case; fewer for a short file
  // An entry of type weight in descrips.inf (the converter does not look
  // weights up; the tag is the one DescsAdd gives the label).
  std::optional<description> desc{};
};

struct case_record {
  // Per in-case axis in case-file order (grid axes expanded, partners left
  // out): positions of the kept elements that are set.
  std::vector<std::vector<int>> axes{};
  std::vector<float> incs{};  // one per inc, `missing` for a missing value
  // When not empty: the axis-mask words as they are (overrides `axes`).
  std::vector<std::uint16_t> raw_masks{};
};

struct job {
  std::vector<std::string> title{};  // lines of seg1.xv
  std::vector<axis> axes{};
  std::vector<inc> incs{};
  bool has_weights_file = true;  // weightin.x; with no weights it holds -1
  std::vector<weight> weights{};
  // Write descrips.inf (entries only for objects with desc). A file without
  // entries holds only its version line, which DescsLoad refuses with -2
  // (no heading line), so the converter warns about it.
  bool descriptions = true;
  std::vector<case_record> cases{};
  std::int32_t levels = 0;
  std::int32_t nt = 2;               // bytes of a record's leading part
  std::optional<std::int32_t> na{};  // default: 2 x the words of the in-case axes
  std::optional<std::int32_t> ni{};  // default: 4 x the number of incs

  // Cases made one at a time instead of held in `cases` (large jobs): when
  // set, called for i = 0 .. generated_cases - 1 with a record to fill (the
  // same record each time, cleared before the call).
  std::function<void(std::size_t i, case_record& c)> make_case{};
  std::size_t generated_cases = 0;

  // When set, the time of writing stored in every file header (bytes 20-23)
  // instead of the clock's, so that two builds give the same bytes.
  std::optional<std::int32_t> written_at{};
};

// Writes the job into dir (created when missing); stops nothing, throws
// std::runtime_error when a file cannot be written or the description cannot
// be laid out (a tag longer than 12 bytes, more than 12 title lines, more
// than 32,767 elements, a set element position outside the kept elements, a
// case with more axis entries than the job has in-case axes).
void write_job(const job& j, const std::string& dir);

// The case-file layout of the job: the number of kept elements of each axis
// that has words in a case record, in case-file order (grid axes expanded to
// one entry per grid item, partners and axes not in case left out).
std::vector<int> case_axes(const job& j);
// 16-bit mask words per case record for those axes.
int mask_words(const job& j);
// The text of descrips.inf before compression, as write_job stores it
// (empty when `descriptions` is false).
std::string descriptions_text(const job& j);

// Deliberate damage for bad-input tests.
void truncate_file(const std::string& path, std::size_t n);
void set_byte(const std::string& path, std::size_t at, std::uint8_t value);
void append_bytes(const std::string& path, const std::string& bytes);
void set_header_type(const std::string& path, std::int16_t type);        // bytes 6-7
void set_header_version(const std::string& path, std::int16_t version);  // bytes 8-9
void set_be16(const std::string& path, std::size_t at, std::uint16_t value);
void set_be32(const std::string& path, std::size_t at, std::uint32_t value);
void remove_file(const std::string& path);

}  // namespace tx::job
