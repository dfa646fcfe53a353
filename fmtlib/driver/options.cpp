#include "driver/options.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/misc.h"
#include "base/run_state.h"
#include "base/showmsg.h"

namespace tx {

namespace {

constexpr const char* warntxt = "WARNING: ";
constexpr const char* env_source = "'TXSPSSRC'";
// An option-file line is read into 128 characters: at most 127 are used.
constexpr int line_buffer = 128;
constexpr int shortest_label = 8;

// "!" lines take the program name, "*" lines name a format keyword (up to the
// first blank) and are printed from that blank on.
constexpr const char* usage_lines[] = {
    "!Usage: %s [ -lx ] [-p precision] [-m missing_value_string ] [-f format] [--] [directory]",
    "",
    "    Convert Tabulex output to triple-s format",
    "",
    "-f   - output format. Available formats are:",
    "",
    "*xml       xml     - triple-s XML format",
    "*classic       classic - Classic triple-s",
    "*spss       spss    - SPSS format",
    "*csv       csv     - tab separated csv file",
    "*sav       sav     - SPSS system file",
    "*html       html    - HTML codebook",
    "",
    "-p   - number following indicates precision. Default is worked",
    "\t      out by scanning the data",
    "",
    "-m   - string following specifies string for missing values",
    "",
    "-l   - join multiple titles together",
    "",
    "-r   - set max length of value labels (default is 20)",
    "-q   - set max length of variable labels (default is 40)",
    "",
    "-x   - display this help.",
    "",
    "--   - end of the options: the next word is the directory",
    "",
};

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Standard decimal conversion: leading blanks, a sign, digits up to the first
// other character; no digits read as 0. A number beyond the range of int reads
// as the nearest int instead of being undefined.
int read_number(const char* text) {
  const long value = std::strtol(text, nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

// An f item's value: digits with at most one "." anywhere, the width before
// it and the decimals after it each within the range of int (printf refuses
// more, and every real field would be left out); empty is accepted.
bool valid_format(const char* value) {
  bool seen_point = false;
  long long number = 0;
  for (const char* p = value; *p != '\0'; ++p) {
    if (*p >= '0' && *p <= '9') {
      number = number * 10 + (*p - '0');
      if (number > INT_MAX) return false;
    } else if (*p == '.' && !seen_point) {
      seen_point = true;
      number = 0;
    } else {
      return false;
    }
  }
  return true;
}

void set_flag(int& flag, const char* option, int on) { flag = option[1] == '-' ? 0 : on; }

// q and r items: lengths below 8 are refused with a warning.
void set_label_length(run_state& run, int& field, const char* option) {
  const int n = read_number(skip_equals(option + 1));
  if (n >= shortest_label)
    field = n;
  else
    showmsg(run.err, "%sSpecified value below minimum of 8 - ignored (%s)\n", warntxt, option);
}

// Splits at every ";" and applies each non-empty piece.
void process_list(run_state& run, const std::string& list, const char* source, int depth) {
  std::size_t from = 0;
  while (from <= list.size()) {
    std::size_t to = list.find(';', from);
    if (to == std::string::npos) to = list.size();
    if (to > from) process_option(run, list.substr(from, to - from).c_str(), source, depth);
    from = to + 1;
  }
}

// "WARNING: " and the system's report for the file name.
void warn_file(run_state& run, const char* name, const char* reason) {
  showmsg(run.err, "%s%s: %s\n", warntxt, name, reason);
}

// Words of the command line, one at a time.
struct word_reader {
  int argc;
  char** argv;
  int next = 1;
  const char* take() { return next < argc ? argv[next++] : nullptr; }
};

// A command-line error: the message, then exit status 2, the usual status
// of a usage error (1 stays "the conversion failed").
[[noreturn]] void usage_error(const std::string& message) { stop_run(2, message); }

// The argument of an option: the next whole word.
const char* option_argument(word_reader& words, const std::string& missing_message) {
  const char* word = words.take();
  if (word == nullptr) usage_error(missing_message);
  return word;
}

void select_format(run_state& run, const char* word) {
  for (driver_row& row : run.drivers) {
    if (row.suffix == nullptr) break;
    if (std::strcmp(row.suffix, word) == 0) {
      run.progmode = &row;
      return;
    }
  }
  usage_error("unrecognised output format after -f\n");
}

void set_precision(run_state& run, const char* word) {
  if (*alldig(word) != '\0')
    usage_error(std::string("precision argument \"") + word + "\" after -p is not numeric\n");
  // Digits only; the value is capped while reading so that a long word
  // cannot overflow, and anything above 10 means "work it out" (0).
  int n = 0;
  for (const char* p = word; *p != '\0'; ++p) n = std::min(n * 10 + (*p - '0'), 100);
  run.pflg = n > 10 ? 0 : n;
}

void set_max_length(run_state& run, char letter, int& field, const char* word) {
  const int n = read_number(word);
  if (n >= shortest_label)
    field = n;
  else
    showmsg(run.err, "Specified value for %c of %d is below minimum of 8 (ignored)\n", letter, n);
}

[[noreturn]] void usage_and_stop(run_state& run, const char* program_name) {
  print_usage(run, program_name);
  stop_run(0, "");
}

}  // namespace

void get_options(run_state& run, int /*argc*/, char** /*argv*/) {
  // The driver passes no words: only the environment is read here.
  run.options.language.clear();
  const char* list = std::getenv("TXSPSSRC");
  if (list != nullptr) process_list(run, list, env_source, 1);
}

void process_option(run_state& run, const char* item, const char* source, int depth) {
  while (is_blank(*item)) ++item;
  if (*item == '-') ++item;
  const char* option = item;  // the option text; its first character is the letter
  run_options& o = run.options;
  switch (option[0]) {
    case 'a':
    case 'A':
      o.blank_comment = read_number(skip_equals(option + 1));
      break;
    case 'c':
    case 'C':
      set_flag(o.use_positions, option, 1);
      break;
    case 'd':
    case 'D':
      run.prt = read_number(skip_equals(option + 1));
      showmsg(run.err, " ** %s: Debug level set to %d\n", source, run.prt);
      break;
    case 'e':
    case 'E':
      set_flag(o.suppress_same_name, option, 1);
      break;
    case 'f':
    case 'F': {
      o.has_numeric_format = false;
      o.numeric_format.clear();
      const char* value = skip_equals(option + 1);
      if (!valid_format(value))
        stop_run(1, std::string("ERROR: Format specification \"") + option + "\" invalid (" +
                        source + ")\n");
      o.numeric_format = std::string(" %") + value + "f";
      o.has_numeric_format = true;
      break;
    }
    case 'k':
    case 'K':
      set_flag(o.element_values, option, 1);
      break;
    case 'l':
    case 'L':
      showmsg(run.err, "%sLevels specification not implemented - ignored (%s)\n", warntxt, option);
      break;
    case 'm':
    case 'M':
      o.missing = skip_equals(option + 1);
      o.has_missing = true;
      break;
    case 'o':
    case 'O':
      // Only items of TXSPSSRC read an option file: option files do not nest.
      if (depth > 0) get_options_file(run, skip_equals(option + 1));
      break;
    case 'p':
    case 'P':
      o.language = skip_equals(option + 1);
      break;
    case 'q':
    case 'Q':
      set_label_length(run, o.max_var_label, option);
      break;
    case 'r':
    case 'R':
      set_label_length(run, o.max_value_label, option);
      break;
    case 's':
      set_flag(o.remove_name, option, 1);
      break;
    case 'S':
      set_flag(o.remove_name, option, 2);
      break;
    case 'z':
    case 'Z':
      set_flag(o.fixed_format, option, 1);
      break;
    default:
      showmsg(run.err, "%s: Unknown option \"%s\" ignored (%s)\n", run.program_name.c_str(), option,
              source);
      break;
  }
}

int get_options_file(run_state& run, const char* name) {
  const int fd = open(name, input_flags);
  // A missing option file is no error; any other reason (one that is no
  // regular file included) is worth a warning, and the file is passed over.
  if (fd < 0 && errno == ENOENT) return 0;
  std::string why;
  file_ptr f(input_stream(fd, "r", why));
  if (!f) {
    warn_file(run, name, why.c_str());
    return 0;
  }
  char line[line_buffer];
  for (int number = 1; std::fgets(line, sizeof line, f.get()) != nullptr; ++number) {
    const std::size_t len = std::strlen(line);
    if (len > 0 && line[len - 1] == '\n') {
      line[len - 1] = '\0';
    } else {
      // The line did not fit (or is the last one and has no newline): drop
      // the rest of it. Only a line that really lost characters is reported;
      // a short last line, or one of exactly 127 characters, is used whole.
      int c = std::getc(f.get());
      if (c != '\n' && c != EOF) {
        showmsg(run.err, "%s%s(%d): Line truncated to %d characters\n", warntxt, name, number,
                line_buffer - 1);
        while (c != '\n' && c != EOF) c = std::getc(f.get());
      }
    }
    process_list(run, line, name, 0);
  }
  if (std::ferror(f.get()) != 0) warn_file(run, name, std::strerror(errno));
  return 0;
}

const char* skip_equals(const char* text) {
  while (is_blank(*text)) ++text;
  if (*text == '=') ++text;
  while (is_blank(*text)) ++text;
  return text;
}

const char* argcrack(run_state& run, int argc, char** argv, const char* program_name) {
  word_reader words{argc, argv};
  while (const char* word = words.take()) {
    if (word[0] != '-') return word;
    // "--" ends the options: the next word names the directory, whatever it
    // begins with.
    if (std::strcmp(word, "--") == 0) return words.take();
    for (const char* letter = word + 1; *letter != '\0'; ++letter) {
      switch (*letter) {
        case 'f':
          select_format(run, option_argument(words, "missing format argument after -f\n"));
          break;
        case 'h':
        case 'x':
          usage_and_stop(run, program_name);
        case 'l':
          ++run.lflg;
          break;
        case 'm':
          run.options.missing = option_argument(words, "missing parameter after -m\n");
          run.options.has_missing = true;
          break;
        case 'p':
          set_precision(run, option_argument(words, "missing precision argument after -p\n"));
          break;
        case 'q':
        case 'r': {
          const std::string missing =
              std::string("missing max length argument after -") + *letter + "\n";
          const char* value = option_argument(words, missing);
          set_max_length(run, *letter,
                         *letter == 'q' ? run.options.max_var_label : run.options.max_value_label,
                         value);
          break;
        }
        default:  // other letters, and every upper-case one, are passed over
          break;
      }
    }
  }
  return nullptr;
}

const char* alldig(const char* text) {
  while (*text >= '0' && *text <= '9') ++text;
  return text;
}

void print_usage(run_state& run, const char* program_name) {
  const char* keyword = run.progmode != nullptr ? run.progmode->keyword : nullptr;
  for (const char* line : usage_lines) {
    if (line[0] == '!') {
      // The program name goes where the line's "%s" stands.
      const char* at = std::strstr(line, "%s");
      showmsg(run.out, "%.*s%s%s", static_cast<int>(at - line - 1), line + 1, program_name, at + 2);
    } else if (line[0] == '*') {
      const char* blank = std::strchr(line, ' ');
      const std::string word(line + 1, blank);
      showmsg(run.out, "%s%s", blank, keyword != nullptr && word == keyword ? " (default)" : "");
    } else {
      showmsg(run.out, "%s", line);
    }
    showmsg(run.out, "\n");
  }
}

}  // namespace tx
