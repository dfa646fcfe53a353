// Replays the fuzz corpora: every seed in fuzz/corpus/<target>/ and every
// input that once found a fault in tests/regressions/<target>/ runs through
// the same entry as under the fuzzer, so the sanitizer build checks them too.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/targets.h"
#include "testkit.h"

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> inputs_of(const std::string& target) {
  std::vector<fs::path> files;
  for (const char* root : {"/fuzz/corpus/", "/tests/regressions/"}) {
    const fs::path dir = std::string(TX_SOURCE_DIR) + root + target;
    if (!fs::is_directory(dir)) continue;
    for (const auto& entry : fs::directory_iterator(dir))
      if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

TEST(Regressions, EveryCorpusInputPasses) {
  int replayed = 0;
  for (const tx::fuzz::target& t : tx::fuzz::targets()) {
    for (const fs::path& path : inputs_of(t.name)) {
      const std::string bytes = testkit::read_file(path.string());
      const std::string problem =
          t.run({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
      EXPECT_EQ("", problem) << t.name << ": " << path.string();
      ++replayed;
    }
  }
  EXPECT_GT(replayed, 0);
}

TEST(Regressions, FramingSplitsFilesByName) {
  const std::string text = "junk@@>a.x\nAB@@>bad/name\nzz@@>b\n\n@@>c\n";
  const auto files =
      tx::fuzz::unframe({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
  ASSERT_EQ(3u, files.size());
  EXPECT_EQ("a.x", files[0].first);
  EXPECT_EQ("AB", files[0].second);
  EXPECT_EQ("b", files[1].first);
  EXPECT_EQ("\n", files[1].second);
  EXPECT_EQ("c", files[2].first);
  EXPECT_EQ("", files[2].second);
  EXPECT_EQ("@@>a.x\nAB@@>c\n", tx::fuzz::frame({{"a.x", "AB"}, {"c", ""}}));
}

}  // namespace
