// The converter's readers on the model job with fuzzed files put over it:
// axis list and axis files, title, case file, incs and weights.
#include <cstring>

#include "fmtlib/base/misc.h"
#include "fmtlib/model/xtostats.h"
#include "fmtlib/read/axinf.h"
#include "fmtlib/read/init.h"
#include "fmtlib/read/intermed.h"
#include "fmtlib/read/title.h"
#include "kit.h"

namespace tx::fuzz {

namespace {
// Runs `read` on a fresh run in a workspace holding the model job with the
// fuzzed files put over it.
template <class Fn>
std::string run_reader(const std::vector<framed_file>& files, Fn read) {
  workspace ws;
  put_model(ws);
  ws.put_all(files);
  const int free_fd = lowest_free_fd();
  std::string problem;
  {
    quiet_run q;
    init_store(q.run.store);
    try {
      problem = read(q.run);
    } catch (const run_stopped& stop) {
      if (stop.status != 1)
        problem = "a reader stopped with status " + std::to_string(stop.status);
      else if (stop.message.empty())
        problem = "a reader stopped without a message";
    }
    free_store(q.run.store);
  }
  if (problem.empty()) problem = check_descs_handles();
  if (problem.empty() && lowest_free_fd() != free_fd) problem = "a file stayed open after the run";
  return problem;
}

std::string check_axes(run_state& run) {
  int words = 0;
  for (const axis_info* a = run.axinf; a != nullptr; a = a->next) {
    if (a->head == nullptr || a->counts == nullptr) return "an axis without head or counts";
    const int n = a->counts->nelements;
    if (n < 0) return "an axis with a negative element count";
    if (a->nwords * 16 < a->counts->nbits) return "an axis with too few mask words";
    for (int i = 0; i < n; ++i) {
      const std::int32_t off = a->elements[i]->textoff;
      if (off < 0 || off > a->heap_size)
        return "element text offset " + std::to_string(off) + " outside a heap of " +
               std::to_string(a->heap_size) + " bytes";
      (void)std::strlen(element_text(a, i));
    }
    if (a->titles != nullptr) {
      if (a->titles->count < 0 || a->titles->count > max_axis_titles)
        return "an axis with " + std::to_string(a->titles->count) + " title lines";
      for (int i = 0; i < a->titles->count; ++i) (void)std::strlen(a->titles->lines[i]);
    }
    print_axinf(run, a);
    if (a->head->incase != 0) words += a->nwords;
  }
  (void)words;
  return "";
}

}  // namespace

std::string fuzz_axes(input data) {
  return run_reader(unframe(data), [](run_state& run) {
    run.prt = 1;
    run.debug.reset(std::fopen("/dev/null", "w"));
    init(run);
    get_axinf(run);
    return check_axes(run);
  });
}

std::string fuzz_title(input data) {
  return run_reader({{"seg1.xv", std::string(as_text(data))}}, [](run_state& run) {
    run.prt = 1;
    run.debug.reset(std::fopen("/dev/null", "w"));
    get_title(run);
    if (run.title == nullptr) return std::string("no title record after get_title");
    if (run.title->count < 0 || run.title->count > max_title_lines)
      return "a title of " + std::to_string(run.title->count) + " lines";
    for (int i = 0; i < run.title->count; ++i) (void)std::strlen(run.title->lines[i]);
    return std::string();
  });
}

std::string fuzz_intermed(input data) {
  return run_reader({{"intermed.x", std::string(as_text(data))}}, [](run_state& run) {
    init(run);
    get_axinf(run);
    read_intermed(run);
    // The masks of the in-case axes must fit the words of a case record.
    int words = 0;
    for (const axis_info* a = run.axinf; a != nullptr; a = a->next)
      if (a->head->incase != 0) words += a->nwords;
    if (words > run.mask_words)
      return "in-case axes take " + std::to_string(words) + " mask words, records hold " +
             std::to_string(run.mask_words);
    for (const axis_info* a = run.axinf; a != nullptr; a = a->next)
      if (a->maxbits < 0 || a->maxbits > a->counts->nbits + 2) return std::string("bad maxbits");
    if (run.ncases < 0) return std::string("negative case count");
    return std::string();
  });
}

std::string fuzz_incs(input data) {
  return run_reader(unframe(data), [](run_state& run) {
    run.prt = 1;
    run.debug.reset(std::fopen("/dev/null", "w"));
    init(run);
    get_axinf(run);
    read_intermed(run);
    xtostats(run);
    if (run.weighting < 0 || run.weighting > max_weights)
      return "weighting " + std::to_string(run.weighting);
    int n = 0;
    for (const inc_info* i = run.incinf; i != nullptr; i = i->next, ++n) (void)std::strlen(i->name);
    if (n != run.nincs)
      return "nincs " + std::to_string(run.nincs) + " for a list of " + std::to_string(n);
    return std::string();
  });
}

}  // namespace tx::fuzz
