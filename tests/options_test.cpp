// The option list (TXSPSSRC and option files) and the command line, one
// table each: what a list or a command line leaves in the run, and what it
// wrote. Messages and exit statuses of the program are cases (cli-*).
#include "fmtlib/driver/options.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "fmtlib/base/misc.h"
#include "fmtlib/driver/convert.h"
#include "testkit.h"

namespace tx {
namespace {

// The fields the options set, in one line: c e k s r q z a, then the
// missing text, the print format and the language when they are set.
std::string fields(const run_state& run) {
  const run_options& o = run.options;
  std::string s;
  for (int v : {o.use_positions, o.suppress_same_name, o.element_values, o.remove_name,
                o.max_value_label, o.max_var_label, o.fixed_format, o.blank_comment})
    s += std::to_string(v) + " ";
  if (o.has_missing) s += "m'" + o.missing + "' ";
  if (o.has_numeric_format) s += "f'" + o.numeric_format + "' ";
  if (!o.language.empty()) s += "p'" + o.language + "' ";
  return s + "d" + std::to_string(run.prt);
}

struct outcome {
  std::string fields, err, stop;
};

// Runs fn on a run started as tx2fmt; "@" in texts stands for dir.
outcome run_options_of(const std::function<void(run_state&)>& fn) {
  run_state run;
  run.program_name = "tx2fmt";
  run.progmode = &run.drivers[default_driver];
  outcome o;
  o.err = testkit::capture([&](std::FILE* e) {
    run.err = run.out = e;
    try {
      fn(run);
    } catch (const run_stopped& s) {
      o.stop = std::to_string(s.status) + " " + s.message;
    }
    run.err = stderr;
    run.out = stdout;
  });
  o.fields = fields(run);
  return o;
}

std::string at(std::string text, const std::string& dir) {
  for (std::size_t p; (p = text.find('@')) != std::string::npos;) text.replace(p, 1, dir);
  return text;
}

TEST(Options, ListItems) {
  testkit::temp_dir dir;
  const std::string x123(123, 'x');
  testkit::write_file(dir / "opts", "c;r=30\n\n  S ; y\n;;\nq=5\no=" + dir / "inner" + "\nz");
  testkit::write_file(dir / "inner", "k\n");
  testkit::write_file(dir / "long", "a=1\nc;m=" + x123 + ";e;" + std::string(70, 'y') + "\nz\n");
  testkit::write_file(dir / "fits", "m=" + std::string(125, 'x') + "\nz");
  testkit::write_file(dir / "cut", "c\nm=" + std::string(125, 'x') + "y");
  ASSERT_EQ(0, mkfifo((dir / "fifo").c_str(), 0600));
  const std::string warn8 = "WARNING: Specified value below minimum of 8 - ignored ";
  const std::string unknown = "tx2fmt: Unknown option ";
  const struct {
    std::string list, fields, err{}, stop{};
  } cases[] = {
      {"c;S;r=30;z", "1 0 0 2 30 0 1 0 d0"},
      {"-e ; q = 12", "0 1 0 0 0 12 0 0 d0"},  // a leading "-", blanks around "="
      {";;C;;K;;", "1 0 1 0 0 0 0 0 d0"},      // either case, but for s and S
      {"s", "0 0 0 1 0 0 0 0 d0"},
      {"S;s", "0 0 0 1 0 0 0 0 d0"},
      {"c;c-;Z-;z;E;E-", "0 0 0 0 0 0 1 0 d0"},  // "-" after the letter: off
      {"c=0;c -;S;S-", "1 0 0 0 0 0 0 0 d0"},
      {"a=2", "0 0 0 0 0 0 0 2 d0"},
      {"A 1", "0 0 0 0 0 0 0 1 d0"},
      {"\t r=+40 ;q=99999999999", "0 0 0 0 40 2147483647 0 0 d0"},
      {"q=8;r=8", "0 0 0 0 8 8 0 0 d0"},
      {"m = NA ;p=fr", "0 0 0 0 0 0 0 0 m'NA ' p'fr' d0"},  // values run to the end
      {"f=8.2", "0 0 0 0 0 0 0 0 f' %8.2f' d0"},
      {"f=.3;F", "0 0 0 0 0 0 0 0 f' %f' d0"},
      {"f=8.", "0 0 0 0 0 0 0 0 f' %8.f' d0"},
      {"f = 12", "0 0 0 0 0 0 0 0 f' %12f' d0"},
      {"d=2", "0 0 0 0 0 0 0 0 d2", " ** 'TXSPSSRC': Debug level set to 2\n"},
      {"r=5;z", "0 0 0 0 0 0 1 0 d0", warn8 + "(r=5)\n"},
      {"q=7;Q", "0 0 0 0 0 0 0 0 d0", warn8 + "(q=7)\n" + warn8 + "(Q)\n"},
      {"y;-;z", "0 0 0 0 0 0 1 0 d0",
       unknown + "\"y\" ignored ('TXSPSSRC')\n" + unknown + "\"\" ignored ('TXSPSSRC')\n"},
      {" -x=1 ", "0 0 0 0 0 0 0 0 d0", unknown + "\"x=1 \" ignored ('TXSPSSRC')\n"},
      {"l=2", "0 0 0 0 0 0 0 0 d0",
       "WARNING: Levels specification not implemented - ignored (l=2)\n"},
      {"f=8.2.1;z", "0 0 0 0 0 0 0 0 d0", "",
       "1 ERROR: Format specification \"f=8.2.1\" invalid ('TXSPSSRC')\n"},
      {"c; -f=-3", "1 0 0 0 0 0 0 0 d0", "",
       "1 ERROR: Format specification \"f=-3\" invalid ('TXSPSSRC')\n"},
      {"f=x8", "0 0 0 0 0 0 0 0 d0", "",
       "1 ERROR: Format specification \"f=x8\" invalid ('TXSPSSRC')\n"},
      {"f=8.2 ;z", "0 0 0 0 0 0 0 0 d0", "",
       "1 ERROR: Format specification \"f=8.2 \" invalid ('TXSPSSRC')\n"},
      // Width and decimals must fit an int: printf refuses more.
      {"f=2147483647.0002147483647", "0 0 0 0 0 0 0 0 f' %2147483647.0002147483647f' d0"},
      {"f=2147483648.2", "0 0 0 0 0 0 0 0 d0", "",
       "1 ERROR: Format specification \"f=2147483648.2\" invalid ('TXSPSSRC')\n"},
      {"f=5.2147483648", "0 0 0 0 0 0 0 0 d0", "",
       "1 ERROR: Format specification \"f=5.2147483648\" invalid ('TXSPSSRC')\n"},
      {"f=99999999999999999999", "0 0 0 0 0 0 0 0 d0", "",
       "1 ERROR: Format specification \"f=99999999999999999999\" invalid ('TXSPSSRC')\n"},
      // Option files: the file is the source in warnings; no nesting.
      {"o=@/opts;e", "1 1 0 2 30 0 1 0 d0",
       unknown + "\"y\" ignored (@/opts)\n" + warn8 + "(q=5)\n"},
      {"o=@/none;c", "1 0 0 0 0 0 0 0 d0"},
      {"o=@/opts/x;k", "0 0 1 0 0 0 0 0 d0", "WARNING: @/opts/x: Not a directory\n"},
      {"o=@;k", "0 0 1 0 0 0 0 0 d0", "WARNING: @: Is a directory\n"},
      // A device would be read for ever, a FIFO would block the run.
      {"o=/dev/zero;k", "0 0 1 0 0 0 0 0 d0", "WARNING: /dev/zero: not a regular file\n"},
      {"o=@/fifo;k", "0 0 1 0 0 0 0 0 d0", "WARNING: @/fifo: not a regular file\n"},
      {"o=@/long", "1 0 0 0 0 0 1 1 m'" + x123 + "' d0",
       "WARNING: @/long(2): Line truncated to 127 characters\n"},
      {"o=@/fits", "0 0 0 0 0 0 1 0 m'" + std::string(125, 'x') + "' d0"},
      {"o=@/cut", "1 0 0 0 0 0 0 0 m'" + std::string(125, 'x') + "' d0",
       "WARNING: @/cut(2): Line truncated to 127 characters\n"},
  };
  for (const auto& c : cases) {
    const outcome o = run_options_of([&](run_state& run) {
      testkit::scoped_env env({{"TXSPSSRC", at(c.list, dir.path)}});
      get_options(run, 1, nullptr);
    });
    EXPECT_EQ(at(c.fields, dir.path), o.fields) << c.list;
    EXPECT_EQ(at(c.err, dir.path), o.err) << c.list;
    EXPECT_EQ(c.stop, o.stop) << c.list;
  }
}

TEST(Options, CommandLine) {
  const std::string below = " is below minimum of 8 (ignored)\n";
  const struct {
    std::vector<std::string> words;
    std::string fields, rest, err{};  // rest: the first word that is no option, then -p and -l
  } cases[] = {
      {{"-f", "spss"}, "0 0 0 0 30 0 0 0 d0", "- spss p7 l0"},
      {{"-p", "12"}, "0 0 0 0 30 0 0 0 d0", "- xml p0 l0"},
      {{"-p", "10"}, "0 0 0 0 30 0 0 0 d0", "- xml p10 l0"},
      {{"-p", ""}, "0 0 0 0 30 0 0 0 d0", "- xml p0 l0"},
      {{"-p", "000000000003"}, "0 0 0 0 30 0 0 0 d0", "- xml p3 l0"},
      {{"-p", "99999999999999999999"}, "0 0 0 0 30 0 0 0 d0", "- xml p0 l0"},
      {{"-lm", "NA", "xml", "-l"}, "0 0 0 0 30 0 0 0 m'NA' d0", "xml xml p7 l1"},
      {{"-mp", "-9", "4", "-", "-q", "12"}, "0 0 0 0 30 12 0 0 m'-9' d0", "- xml p4 l0"},
      {{"-l", "-l", "-F", "-Z", "-k"}, "0 0 0 0 30 0 0 0 d0", "- xml p7 l2"},  // -F is not -f
      {{"-r", "5", "-q", "x"},
       "0 0 0 0 30 0 0 0 d0",
       "- xml p7 l0",
       "Specified value for r of 5" + below + "Specified value for q of 0" + below},
      // "--" ends the options: the next word is the directory, whatever it is.
      {{"-l", "--", "-f", "spss"}, "0 0 0 0 30 0 0 0 d0", "-f xml p7 l1"},
      {{"--", "--"}, "0 0 0 0 30 0 0 0 d0", "-- xml p7 l0"},
      {{"-l", "--"}, "0 0 0 0 30 0 0 0 d0", "- xml p7 l1"},
      // 8 is the shortest length taken, 7 the longest refused.
      {{"-q", "8", "-r", "7"},
       "0 0 0 0 30 8 0 0 d0",
       "- xml p7 l0",
       "Specified value for r of 7" + below},
      {{"-r", "8", "-q", "7"},
       "0 0 0 0 8 0 0 0 d0",
       "- xml p7 l0",
       "Specified value for q of 7" + below},
  };
  for (const auto& c : cases) {
    std::string rest;
    const outcome o = run_options_of([&](run_state& run) {
      run.pflg = 7;
      run.options.max_value_label = 30;
      std::vector<std::string> words = c.words;
      words.insert(words.begin(), "tx2fmt");
      std::vector<char*> argv;
      for (std::string& w : words) argv.push_back(w.data());
      argv.push_back(nullptr);
      const char* first = argcrack(run, static_cast<int>(words.size()), argv.data(), "tx2fmt");
      rest = std::string(first != nullptr ? first : "-") + " " + run.progmode->suffix + " p" +
             std::to_string(run.pflg) + " l" + std::to_string(run.lflg);
    });
    EXPECT_EQ(c.fields, o.fields) << c.words[0];
    EXPECT_EQ(c.rest, rest) << c.words[0];
    EXPECT_EQ(c.err, o.err) << c.words[0];
  }
}

}  // namespace
}  // namespace tx
