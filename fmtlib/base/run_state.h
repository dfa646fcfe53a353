// What one conversion keeps between its phases: the run's globals, the
// records they hold and the state of every module. A new run_state is a new
// conversion: no module keeps anything of a run anywhere else, so two
// conversions in one process give the same bytes as two processes.
#pragma once
#include <array>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "base/misc.h"
#include "base/nstore.h"
#include "base/staging.h"
#include "txlib/filopen.h"

namespace tx {

struct run_state;
struct axis_info;
struct inc_info;
struct stat_name;
struct stat_node;
struct stat_var;
struct title_record;

// One output form: a row of the table `drivers`.
using writer_fn = void (*)(run_state&, const char* meta_file, const char* data_file);

enum output_form { form_spss = 0, form_classic = 1, form_xml = 2, form_csv = 3 };

struct driver_row {
  int form;                  // output_form
  const char* suffix;        // ending of the program name; the word -f accepts; null ends the table
  const char* keyword;       // marked " (default)" in the usage text
  const char* display_name;  // "output format %s\n"
  int suffix_length;
  std::string default_missing;  // replaced by the -m text at start-up
  const char* meta_file;
  const char* data_file;  // null: a one-file form, whose writer also writes the cases
  writer_fn writer;
  int routines;  // row of outputroutines for the data file
};

inline constexpr std::size_t n_drivers = 8;
inline constexpr std::size_t default_driver = 4;  // "xml"
// The table of output forms, in search order, with its terminating row;
// defined with the run driver.
std::array<driver_row, n_drivers + 1> default_drivers();

// The run options: the option list of TXSPSSRC and the command line.
struct run_options {
  int use_positions = 0;       // item c
  int suppress_same_name = 0;  // item e
  int element_values = 0;      // item k
  int remove_name = 0;         // items s (1) and S (2)
  int max_value_label = 0;     // item r, -r; 20 after init
  int max_var_label = 0;       // item q, -q; 40 after init
  int fixed_format = 0;        // item z
  int blank_comment = 0;       // item a
  bool has_missing = false;    // -m given (or filled by the driver)
  std::string missing;
  bool has_numeric_format = false;  // item f
  std::string numeric_format;       // " %" value "f"
  std::string language;             // item p
};

// Sizes of the case records of "intermed.x", after its header: levels, nt,
// na, ni (signed 32-bit, big-endian).
struct case_layout {
  std::int32_t levels = 0;
  std::int32_t nt = 0, na = 0, ni = 0;  // sizes in bytes as stored
  std::uint32_t nwords_t = 0;           // nt / 2
  std::uint32_t nwords_a = 0;           // na / 2
  std::uint32_t nfloats = 0;            // ni / 4
};

inline constexpr int max_weights = 10;
struct weight_slot {
  std::int32_t number;
  file_ptr stream;  // wmvals%d.x, positioned after its header
  long position;    // saved by each pass of the case data writer
};

// Width record of one numeric output field, filled by the measuring pass.
enum size_kind { size_none = 0, size_real = 1, size_whole = 2, size_text = 3 };
struct size_detail {
  std::int32_t ordinal;
  std::int32_t kind;  // size_kind
  std::int32_t width;
  std::int32_t decimals;
  float max;  // starts at -3.4028235e38
  float min;  // starts at 3.4028235e38
};

// Chain heads of the name tables `items` and `statitems`.
inline constexpr int name_table_size = 500;

// The module states.

struct axinf_state {
  int grid_counter = 0;  // names x0, x1, ... of expanded grid axes
  int deschandle = -1;
};

// An in-case axis and where its bits stand in a case record's mask words.
struct counted_axis {
  axis_info* axis;
  int word;  // its first word
  int nwords;
};

struct intermed_state {
  std::uint16_t* andmask = nullptr;
  std::uint16_t* ormask = nullptr;
  std::uint16_t* mask = nullptr;
  std::uint16_t* countmask = nullptr;  // the bits maskops counts: elmask below each axis's nbits
  std::uint16_t* most = nullptr;       // per word: the most bits of countmask set in one case
  std::vector<counted_axis> axes;      // the in-case axes in list order
  std::vector<counted_axis> wide;      // those of them with more than one word
};

// The unique-name counter: nine letters read as a base-26 number whose first
// letter changes fastest, and the number of letters in use.
struct statvars_state {
  char uniqname[10] = "AAAAAAAAA";
  int size = 1;
};

struct commands_state {
  const void* last_parent = nullptr;  // parent of the variable before the last blank comment
};

struct outputxml_state {
  file_ptr fp_commands;                   // "survey.xml"
  int varnum = 0;                         // ident of the last variable written
  std::unordered_set<std::string> names;  // variable names written so far, in lower case
};

struct outputts_state {
  int varnum = 0;  // number of the last "Variable" written
};

struct outputcsv_state {
  int fieldno = 0;  // number of the last field named in a "Field" line
};

// What a conversion keeps between calls; one per run, so tests can run many.
struct run_state {
  std::FILE* out = stdout;  // "Produced files ...", usage
  std::FILE* err = stderr;  // banner, warnings
  std::time_t now = 0;      // date and time of the metadata headers; set by main()

  std::array<driver_row, n_drivers + 1> drivers = default_drivers();
  driver_row* progmode = nullptr;
  std::string program_name;
  std::string defmissing;
  run_options options;
  int pflg = 0;  // -p precision, 0: worked out from the data
  int lflg = 0;  // number of -l options
  int prt = 0;   // debug level
  file_ptr debug;
  bool files_ready = false;  // the first efopen of the run has set up the file locations
  staged_outputs outputs;    // outputs under temporary names until the run succeeds

  block_store store;
  std::int32_t levels = 0;
  std::array<stat_var*, name_table_size> items{};
  std::array<stat_name*, name_table_size> statitems{};
  std::vector<stat_var*> stvars;  // ist is stvars.size()
  std::size_t stvarmax = 0;
  title_record* title = nullptr;
  axis_info* axinf = nullptr;
  int naxes = 0;
  case_layout layout;  // sizes of the case records, from intermed.x
  std::int32_t ncases = 0;
  std::uint16_t* elmask = nullptr;
  int mask_words = 0;  // words of elmask: na / 2
  inc_info* incinf = nullptr;
  int nincs = 0;
  std::array<weight_slot, max_weights> wght{};
  int weighting = 0;
  stat_node* statlist = nullptr;
  std::vector<size_detail> sizedetails;

  axinf_state axinf_mod;
  intermed_state intermed;
  statvars_state names;
  commands_state commands;
  outputxml_state xml;
  outputts_state ts;
  outputcsv_state csv;
};

}  // namespace tx
