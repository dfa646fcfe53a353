// The run driver: one conversion from the program's name to the two files it
// reports, and everything a conversion keeps between its phases.
#pragma once
#include <array>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "../txlib/filopen.h"
#include "axinf.h"
#include "commands.h"
#include "data.h"
#include "intermed.h"
#include "nstore.h"
#include "options.h"
#include "outputcsv.h"
#include "outputts.h"
#include "outputxml.h"
#include "statvars.h"
#include "title.h"
#include "xtostats.h"

namespace tx {

struct run_state;
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
  const char* data_file;
  writer_fn writer;
  int routines;     // row of outputroutines for the data file
  int field_count;  // fields written so far in the current CSV record
};

inline constexpr std::size_t n_drivers = 6;
inline constexpr std::size_t default_driver = 4;  // "xml"
std::array<driver_row, n_drivers + 1> default_drivers();

inline constexpr const char* program_version = "1.1";

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
  data_state data;
  commands_state commands;
  outputxml_state xml;
  outputts_state ts;
  outputcsv_state csv;
};

// One complete conversion; stops with run_stopped on any failure.
void convert(run_state& run, int argc, char** argv, bool quiet);
// The program name as worked out from argument 0 (changes it in place).
const char* work_out_program_name(char* arg0);
// The driver row for a program name; the default row when none matches.
driver_row* select_driver(run_state& run, const char* program_name);

}  // namespace tx
