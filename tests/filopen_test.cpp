// File locations: which path a name reaches for each setting of TXPERM,
// TXTEMP, TXSUFF and TXHOME, and which names are refused for their length.
#include "txlib/filopen.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "testkit.h"

namespace tx {
namespace {

TEST(Filopen, AnAbsoluteNameIsOpenedAsItStands) {
  testkit::temp_dir dir;
  testkit::write_file(dir / "in", "x");
  {
    testkit::scoped_env env({{"TXPERM", dir / "perm"}, {"TXTEMP", dir / "temp"}, {"TXSUFF", ""}});
    ASSERT_EQ(0, ftmpinit());
    EXPECT_TRUE(file_ptr(finpopen((dir / "in").c_str(), "r")));
    EXPECT_FALSE(file_ptr(finpopen("in", "r")));  // looked for in the permanent directory
    errno = 0;
    EXPECT_FALSE(file_ptr(finpopen(std::string(perm_name_limit + 1, 'n').c_str(), "r")));
    EXPECT_EQ(ENAMETOOLONG, errno);  // refused before any open
  }
  ftmpinit();
}

TEST(Filopen, NamesReachTheirDirectories) {
  const std::string n21(21, 'n'), n200(200, 'n');
  const struct {
    const char *perm, *temp, *suff;
    char call;               // t: tmpopname, d: tmpdirname, o: foutname
    std::string name, path;  // "" for a refused name
  } cases[] = {
      {"P", "T", "", 't', "intermed.x", "T/intermed.x"},
      {"P", "P", "", 't', "intermed.x", "P/intermed.x"},  // equal: one directory
      {"", "", "", 't', "intermed.x", "intermed.x"},
      {"P", "T", "", 'd', "", "T/"},
      {"P", "P", "", 'd', "", "P/"},
      {"", "", "", 'd', "", ""},
      {"P", "T", "lst", 'o', "debugfile", "P/debugfile.lst"},
      {"P", "T", "lst", 'o', "survey.xml", "P/survey.xml"},
      {"P", "T", "lst", 'o', "/abs/debugfile", "/abs/debugfile.lst"},
      {"P", "T", "lst", 'o', "dir.d/list", "P/dir.d/list"},  // any "." in the name counts
      {"P", "T", "", 't', n21, "T/" + n21},
      {"P", "T", "", 't', n21 + "x", ""},
      {"P", "T", "ab", 't', n21 + "xy", "T/" + n21 + "xy"},  // room for the suffix
      {"P", "P", "", 't', n21 + "x", "P/" + n21 + "x"},      // the permanent limit
      {"P", "T", "", 'o', n200, "P/" + n200},
      {"P", "T", "", 'o', n200 + "x", ""},
  };
  for (const auto& c : cases) {
    testkit::scoped_env env({{"TXPERM", c.perm}, {"TXTEMP", c.temp}, {"TXSUFF", c.suff}});
    ASSERT_EQ(0, ftmpinit());
    std::string path = "unset";
    if (c.call == 't') {
      EXPECT_EQ(1, tmpopname(c.name.c_str(), path));
    } else if (c.call == 'd') {
      EXPECT_EQ(1, tmpdirname(path));
    }
    if (c.call == 'o' && !foutname(c.name.c_str(), path)) path.clear();
    EXPECT_EQ(c.path, path) << c.call << " " << c.name.substr(0, 30);
  }
  ftmpinit();

  testkit::temp_dir home;
  std::filesystem::create_directory(home / "include");
  testkit::write_file(home / "include/std.inc", "x");
  for (const bool set : {true, false}) {
    testkit::scoped_env env({{"TXHOME", set ? home.path : ""}});
    if (!set) unsetenv("TXHOME");
    file_ptr f(fxinopen("std.inc", nullptr, "r"));
    EXPECT_EQ(set, f != nullptr);
    file_ptr given(fxinopen("std.inc", home.path.c_str(), "r"));
    EXPECT_NE(nullptr, given);
  }
}

}  // namespace
}  // namespace tx
