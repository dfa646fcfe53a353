// The jobs of the metadata writers' golden files, written with the job
// builder, and the readers' checks shared by their tests.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "tools/jobbuild.h"

namespace writers_jobs {

namespace job = tx::job;

inline job::axis single_axis(const std::string& tag, std::vector<std::string> texts,
                             std::vector<std::string> titles = {}) {
  job::axis a;
  a.tag = tag;
  for (const std::string& t : titles) a.titles.push_back({t});
  for (const std::string& t : texts) a.elements.push_back({t});
  return a;
}

inline job::inc inc(const std::string& name, const std::string& descript) {
  return {name, job::description{name, descript}};
}

// The job of the Triple-S classic and CSV goldens: no run title; a
// single-coded axis with codes 0 to 11, one whose only labelled code is 7
// among codes 0 to 10, a multi-coded axis of three elements, a multi-coded
// axis with one data element, an axis named like the first but for case;
// whole, constant, real and never-answered incs and a weight.
inline job::job survey_job() {
  job::job j;
  j.axes.push_back(single_axis("region",
                               {"North", "South", "The \"East\"", "West", "Centre", "Coast",
                                "Hills", "Lakes", "Islands", "Capital", "Abroad", "Unknown"},
                               {"Where do you live?"}));
  std::vector<std::string> codes(11);
  codes[7] = "Seven";
  j.axes.push_back(single_axis("only7", codes, {"Which code?"}));
  j.axes.push_back(single_axis("brands", {"Brand \"A\"", "Brand B", "Brand C"},
                               {"Brands known", "Show card 3"}));
  job::axis lone = single_axis("lone", {"Only one", "Heading"}, {"Lone choice"});
  lone.elements[1].type = 0;
  lone.options = 0x0c;  // exported as multi-coded
  j.axes.push_back(lone);
  j.axes.push_back(single_axis("Region", {"Yes", "No"}, {"Same\tname, other case"}));
  j.incs = {inc("score", "Score out of ten"), inc("count", "Visits"),
            inc("five", "Always five"), inc("half", "Half \"a\" point"),
            inc("never", "Never answered")};
  j.weights = {{1, {1.5f, 0.5f, 1.0f, 2.0f, 1.0f, 1.25f}}};
  const float m = job::missing;
  // region, only7, brands, lone, Region; score, count, five, half, never.
  j.cases = {
      {{{0}, {7}, {0, 1}, {0}, {0}}, {-3, 2, 5, 2.5f, m}},
      {{{11}, {10}, {2}, {}, {1}}, {8, 17, 5, 2.5f, m}},
      {{{2}, {}, {}, {0}, {}}, {0, 5, 5, 2.5f, m}},
      {{{9}, {3}, {0, 1, 2}, {}, {0}}, {4, 9, 5, 2.5f, m}},
      {{{4}, {0}, {1}, {0}, {1}}, {1, 3, 5, 2.5f, m}},
      {{{10}, {5}, {2}, {}, {0}}, {2, 11, 5, 2.5f, m}},
  };
  return j;
}

// The job of the SPSS golden (run with TXSPSSRC "a=1;e"): a two-line title
// with quotes, labels longer than 40 and value labels longer than 20, quotes
// and a tab inside labels, two multi-coded axes, an axis with three title
// lines, an axis without any label, an axis suppressed by the inc named
// like it.
inline job::job spss_job() {
  job::job j;
  j.title = {"It's the \"Car\" survey", "Wave 2\tspring"};
  j.axes.push_back(single_axis(
      "q1", {"Yes", "No", "A value label that runs past twenty", "Say \"maybe\""},
      {"Q1 a question label that runs well past forty characters", "Show card 1",
       "Interviewer: read \"all\" out"}));
  j.axes.push_back(single_axis("m1", {"Red", "Green", "Blue"}, {"Colours\tliked", "Ask all"}));
  j.axes.push_back(single_axis("m2", {"Tea", "Coffee \"black\""}, {"Drinks"}));
  j.axes.push_back(single_axis("gone", {"x", "y"}, {"Gone axis"}));
  j.axes.push_back(single_axis("nolab", {"", "", ""}));
  j.incs = {inc("gone", "Replaced"), inc("age", "Age of \"respondent\"")};
  j.weights = {{1, {1.0f, 0.5f, 2.25f, 1.0f}}};
  const float m = job::missing;
  // q1, m1, m2, gone, nolab; gone, age.
  j.cases = {
      {{{0}, {0, 1}, {0}, {0}, {2}}, {1, 18}},
      {{{3}, {2}, {0, 1}, {1}, {}}, {2, 65}},
      {{{}, {}, {}, {}, {0}}, {m, m}},
      {{{2}, {0, 1, 2}, {1}, {0}, {1}}, {3, 40.5f}},
  };
  return j;
}

// The real readers: GNU PSPP and pandas (Debian's python3-pandas, so
// /usr/bin/python3 rather than whatever python3 comes first on the PATH).
inline bool have_pspp() {
  return std::system("command -v pspp >/dev/null 2>&1 && command -v pspp-convert >/dev/null 2>&1") ==
         0;
}
inline bool have_pandas() {
  return std::system("/usr/bin/python3 -c 'import pandas' >/dev/null 2>&1") == 0;
}

// Runs tests/readers/<script> on a job's output directory; its status and
// what it printed (the disagreements it found).
inline std::pair<int, std::string> run_reader(const std::string& script, const std::string& dir) {
  const std::string command = "/usr/bin/python3 " + std::string(TX_SOURCE_DIR) +
                              "/tests/readers/" + script + " '" + dir + "' 2>&1";
  std::FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return {-1, "cannot start " + command};
  std::string out;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  const int status = pclose(p);
  return {status, out};
}

}  // namespace writers_jobs
