// The descriptions loader on a text of lines (compressed first) or on raw
// bytes; then every lookup, a save and a second load.
#include <cstdlib>
#include <cstring>

#include "kit.h"
#include "txlib/compio.h"
#include "txlib/descrips.h"

namespace tx::fuzz {

// Every descriptions handle must be free again after a run, or four failed
// runs in one process leave none for the fifth.
std::string check_descs_handles() {
  int handles[n_desc_handles];
  int got = 0;
  for (int& h : handles) {
    h = DescsCreate(1, 0);
    if (h >= 0) ++got;
  }
  for (int h : handles) DescsDestroy(h);
  if (got != n_desc_handles)
    return "a descriptions handle stayed in use after the run (" + std::to_string(got) +
           " of 4 free)";
  return "";
}

namespace {
void walk_descriptions(int h) {
  for (int type = 0; type <= 8; ++type) {
    for (char* tag = DescsFindFirstTag(h, type); tag != nullptr; tag = DescsFindNextTag(h, type)) {
      const std::string copy = tag;  // lookups must not depend on the iterator's text
      int t = 0, level = 0;
      char* label = nullptr;
      char* descript = nullptr;
      if (TagGetAllInfo(h, copy.c_str(), &t, &level, &label, &descript) == 0) {
        if (label != nullptr) (void)std::strlen(label);
        if (descript != nullptr) (void)std::strlen(descript);
      }
      if (const char* l = TagGetLabel(h, copy.c_str())) (void)std::strlen(l);
      if (const char* d = TagGetDescript(h, copy.c_str())) (void)std::strlen(d);
      if (const char* p = TagGetParent(h, copy.c_str())) (void)std::strlen(p);
      TagGetGrid(h, copy.c_str());
      TagGetWmid(h, copy.c_str());
      TagGetLevel(h, copy.c_str());
      TagGetUserCreated(h, copy.c_str());
    }
  }
}

}  // namespace

std::string fuzz_descrips(input data) {
  workspace ws;
  const bool raw = !data.empty() && (data[0] & 1) != 0;
  const std::string_view body = data.empty() ? std::string_view() : as_text(data.subspan(1));
  if (raw) {
    ws.put("descrips.inf", body);
  } else {
    // The lines as text; the loader only reads compressed files.
    comp_file* w = compopen("descrips.inf", "wb", 12);
    if (w == nullptr) std::abort();
    if (!body.empty()) compwrite(w, body.data(), static_cast<int>(body.size()));
    compclose(w);
  }
  int count = -1;
  const int h = DescsLoad("descrips.inf", 0, 0, &count);
  if (h >= 0) {
    walk_descriptions(h);
    TagGetLabel(h, "q1");
    DescsSave(h, "saved.inf");
    DescsDestroy(h);
    int again = 0;
    const int h2 = DescsLoad("saved.inf", 0, 0, &again);
    if (h2 >= 0) walk_descriptions(h2);
    DescsDestroy(h2);
  } else if (count != 0) {
    return "a failed load gave the count " + std::to_string(count);
  }
  return check_descs_handles();
}

}  // namespace tx::fuzz
