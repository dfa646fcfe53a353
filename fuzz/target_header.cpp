// The header check: getversn on a descriptor and GetXVersion on a stream
// must accept exactly the same headers.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "kit.h"
#include "txlib/version.h"

namespace tx::fuzz {

std::string fuzz_header(input data) {
  const int fd = memfd_create("header", MFD_CLOEXEC);
  if (fd < 0) std::abort();
  if (!data.empty() && write(fd, data.data(), data.size()) != static_cast<ssize_t>(data.size()))
    std::abort();
  std::string problem;
  for (const short type : {2, 3, 5, 8, 9, 12, 18, 0, 49}) {
    lseek(fd, 0, SEEK_SET);
    const int got = getversn(fd, "fuzzed", 0, type, 0);
    const off_t at = lseek(fd, 0, SEEK_CUR);
    if (got != fd && got != -1) problem = "getversn returned " + std::to_string(got);
    if (at > header_size) problem = "getversn read past the header";

    const int copy = dup(fd);
    lseek(copy, 0, SEEK_SET);
    std::FILE* stream = fdopen(copy, "rb");
    const int code = GetXVersion(stream, type);
    std::fclose(stream);
    if (code < -5 || code > 0) problem = "GetXVersion returned " + std::to_string(code);
    // Both checks accept exactly the same headers; a short file must never
    // pass on bytes left over from an earlier check.
    if ((code == 0) != (got == fd))
      problem = "getversn and GetXVersion disagree for type " + std::to_string(type) + " (" +
                std::to_string(got) + ", " + std::to_string(code) + ")";
    if (!problem.empty()) break;
  }
  close(fd);
  if (problem.empty() && data.size() >= 76) {
    ax_heap(data.data());
    axinf_heap(data.data());
    el_textoff(data.data());
  }
  return problem;
}

}  // namespace tx::fuzz
