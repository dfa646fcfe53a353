#include "driver/convert.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include "base/misc.h"
#include "base/showmsg.h"
#include "base/staging.h"
#include "driver/options.h"
#include "driver/ptf.h"
#include "model/statvars.h"
#include "model/xtostats.h"
#include "read/axinf.h"
#include "read/init.h"
#include "read/intermed.h"
#include "read/title.h"
#include "txlib/xdate.h"
#include "write/commands.h"
#include "write/data.h"
#include "write/funcs.h"
#include "write/outputcsv.h"
#include "write/outputhtml.h"
#include "write/outputsav.h"
#include "write/outputts.h"
#include "write/outputxml.h"

namespace tx {

std::array<driver_row, n_drivers + 1> default_drivers() {
  // The order is the search order for the program name's ending.
  return {{
      {form_classic, "classic", "classic", "Triple S", 7, " ", "survey.sss", "survey.asc", outputts,
       row_fixed},
      {form_spss, "spss", "spss", "SPSS", 4, "-99.99", "commands.xsp", "data.xsp", outputspss,
       row_spss},
      {form_classic, "ts", "classic", "Triple S", 2, " ", "survey.sss", "survey.asc", outputts,
       row_fixed},
      {form_xml, "sss", "xml", "XML", 3, " ", "survey.xml", "survey.asc", outputxml, row_fixed},
      {form_xml, "xml", "xml", "XML", 3, " ", "survey.xml", "survey.asc", outputxml, row_fixed},
      {form_csv, "csv", "csv", "Tab seperated CSV", 3, " ", "survey.txt", "survey.csv", outputcsv,
       row_csv},
      // The system file: SPSS texts and labels, one file that its writer
      // fills with the cases too; the missing text only counts in widths.
      {form_spss, "sav", "sav", "SPSS system file", 3, " ", "survey.sav", nullptr, outputsav,
       row_sav},
      // The codebook: the system file's variables and names in one page,
      // whose writer counts the cases itself; no row writes its data.
      {form_spss, "html", "html", "HTML codebook", 4, " ", "codebook.html", nullptr, outputhtml,
       row_measure},
      {0, nullptr, nullptr, nullptr, 0, "", nullptr, nullptr, nullptr, 0},
  }};
}

const char* work_out_program_name(char* arg0) {
  const std::size_t len = std::strlen(arg0);
  if (len == 0) return arg0;
  // Walk back over letters, digits and "." lower-casing them; the first
  // character of argument 0 is never examined.
  char* p = arg0 + len - 1;
  while (p > arg0) {
    const auto c = static_cast<unsigned char>(*p);
    if (std::isalnum(c) == 0 && c != '.') {
      ++p;
      break;
    }
    if (std::isupper(c) != 0) *p = static_cast<char>(std::tolower(c));
    --p;
  }
  const char* name = p;
  for (const char* q = p; *q != '\0'; ++q)
    if (*q == '/' || *q == '\\') name = q + 1;
  return name;
}

driver_row* select_driver(run_state& run, const char* program_name) {
  const std::size_t n = std::strlen(program_name);
  for (driver_row& row : run.drivers) {
    if (row.suffix == nullptr) break;
    const auto len = static_cast<std::size_t>(row.suffix_length);
    if (n > len && std::strcmp(program_name + n - len, row.suffix) == 0) return &row;
  }
  return &run.drivers[default_driver];
}

namespace {

void settle_missing_text(run_state& run) {
  driver_row& row = *run.progmode;
  run.defmissing = row.default_missing;
  if (!run.options.has_missing) {
    run.options.missing = run.defmissing;
    run.options.has_missing = true;
  } else {
    run.defmissing = run.options.missing;
    row.default_missing = run.options.missing;
  }
}

// The first word of the command line that is no option names the job's
// directory: the run goes on as if it had been started there (axis files,
// relative TXTEMP and TXPERM, the outputs).
void enter_job_directory(const char* directory) {
  if (directory == nullptr || chdir(directory) == 0) return;
  stop_run(1, format_text("ERROR: cannot enter the job directory \"%s\": %s\n", directory,
                          std::strerror(errno)));
}

// The directory a conversion starts in, entered again when it ends however
// it ends: a directory word moves the process only for its own run, and the
// next conversion in the process reads its words from the same place.
struct start_directory {
  int fd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  start_directory() = default;
  start_directory(const start_directory&) = delete;
  start_directory& operator=(const start_directory&) = delete;
  ~start_directory() {
    if (fd < 0) return;
    const int failed = fchdir(fd);  // nowhere to report it from here
    static_cast<void>(failed);
    close(fd);
  }
};

// An existing output that could not be written in place is refused before
// the job is read, and so before anything is written.
void check_outputs(run_state& run, const driver_row& row) {
  for (const char* name : {row.meta_file, row.data_file})
    if (name != nullptr) check_output(run, name);
}

void read_job(run_state& run) {
  init(run);
  get_title(run);
  get_axinf(run);
  if (run.prt != 0)
    for (const axis_info* a = run.axinf; a != nullptr; a = a->next) print_axinf(run, a);
  read_intermed(run);
}

}  // namespace

void convert(run_state& run, int argc, char** argv, bool quiet) {
  run.lflg = 0;
  run.pflg = 0;
  char empty_name[] = "";
  char* arg0 = argc > 0 && argv[0] != nullptr ? argv[0] : empty_name;
  run.program_name = work_out_program_name(arg0);
  run.progmode = select_driver(run, run.program_name.c_str());
  if (!quiet)
    showmsg(run.err, "[ Tabulex to triple-s converter, program version %s (%s) ]\n\n",
            program_version, date_comp);
  init_store(run.store);

  char* no_words[] = {nullptr};
  get_options(run, 1, no_words);
  run.options.has_missing = false;  // only -m on the command line sets the missing text
  run.options.missing.clear();
  const start_directory back;
  enter_job_directory(argcrack(run, argc, argv, run.program_name.c_str()));
  settle_missing_text(run);

  driver_row& row = *run.progmode;
  if (!quiet) showmsg(run.err, "output format %s\n", row.display_name);
  check_outputs(run, row);
  if (run.prt != 0) run.debug.reset(efopen_in_place(run, "debugfile", "wt"));
  OpenPTF(run, run.options.language.c_str());

  read_job(run);
  xtostats(run);
  if (run.prt != 0) print_statvars(run);
  statstospss(run);
  row.writer(run, row.meta_file, row.data_file);
  if (row.data_file != nullptr)
    write_data_file(run, row.data_file, outputroutines[static_cast<std::size_t>(row.routines)]);
  close_output(run.debug, "debugfile");
  commit_outputs(run.outputs);
  free_store(run.store);

  if (row.data_file != nullptr)
    showmsg(run.out, "Produced files %s and %s\n", row.meta_file, row.data_file);
  else
    showmsg(run.out, "Produced file %s\n", row.meta_file);
  if (!quiet) showmsg(run.out, "\n Job completed.\n");
  ClosePTF(run);
}

}  // namespace tx
