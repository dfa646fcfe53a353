#include "txlib/filopen.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "testkit.h"

namespace tx {
namespace {

// Sets the location variables (a null value unsets one), runs ftmpinit, and
// puts the old values back at the end of the scope.
struct locations {
  std::vector<std::pair<std::string, std::optional<std::string>>> saved;
  locations(const char* perm, const char* temp, const char* suff = nullptr) {
    set("TXPERM", perm);
    set("TXTEMP", temp);
    set("TXSUFF", suff);
    EXPECT_EQ(0, ftmpinit());
  }
  ~locations() {
    for (const auto& [name, value] : saved)
      if (value)
        setenv(name.c_str(), value->c_str(), 1);
      else
        unsetenv(name.c_str());
    ftmpinit();
  }
  void set(const char* name, const char* value) {
    const char* old = std::getenv(name);
    saved.emplace_back(name, old != nullptr ? std::optional<std::string>(old) : std::nullopt);
    if (value != nullptr)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
};

std::string temp_name(const char* name) {
  std::string out = "unset";
  EXPECT_EQ(1, tmpopname(name, out));
  return out;
}

std::string temp_dir_name() {
  std::string out = "unset";
  EXPECT_EQ(1, tmpdirname(out));
  return out;
}

// Opens with op and closes again; true when the open worked.
template <typename Open>
bool opens(Open op, const std::string& name, const char* mode) {
  file_ptr f(op(name.c_str(), mode));
  return f != nullptr;
}

TEST(Filopen, NamesWithoutEnvironmentAreRelative) {
  locations loc(nullptr, nullptr);
  EXPECT_EQ("descrips.inf", temp_name("descrips.inf"));
  EXPECT_EQ("", temp_dir_name());
}

TEST(Filopen, TemporaryDirectoryPrefix) {
  const struct {
    const char* temp;
    const char* path;
    const char* dir;
  } cases[] = {
      {"/tmp/job", "/tmp/job/descrips.inf", "/tmp/job/"},
      {"/tmp/job/", "/tmp/job//descrips.inf", "/tmp/job//"},  // a "/" is always added
      {"", "descrips.inf", ""},
  };
  for (const auto& c : cases) {
    locations loc("/perm", c.temp);
    EXPECT_EQ(c.path, temp_name("descrips.inf")) << c.temp;
    EXPECT_EQ(c.dir, temp_dir_name()) << c.temp;
  }
}

TEST(Filopen, EqualDirectoriesShareOneBufferAndLimit) {
  testkit::temp_dir dir;
  const std::string name(100, 'n');  // too long for a separate temporary directory
  {
    locations loc(dir.path.c_str(), dir.path.c_str());
    EXPECT_EQ(dir / name, temp_name(name.c_str()));
    file_ptr f(ftmpopen(name.c_str(), "w"));
    ASSERT_NE(nullptr, f);
    EXPECT_TRUE(testkit::file_exists(dir / name));
  }
  {
    testkit::temp_dir other;
    locations loc(dir.path.c_str(), other.path.c_str());
    errno = 0;
    EXPECT_EQ(nullptr, ftmpopen(name.c_str(), "r"));
    EXPECT_EQ(ENAMETOOLONG, errno);
  }
}

TEST(Filopen, PermanentAndTemporaryDirectoriesAreKeptApart) {
  testkit::temp_dir perm, temp;
  locations loc(perm.path.c_str(), temp.path.c_str());
  testkit::write_file(temp / "intermed.x", "t");
  testkit::write_file(perm / "intermed.x", "p");
  file_ptr t(ftmpopen("intermed.x", "r"));
  file_ptr p(finpopen("intermed.x", "r"));
  ASSERT_NE(nullptr, t);
  ASSERT_NE(nullptr, p);
  EXPECT_EQ('t', std::fgetc(t.get()));
  EXPECT_EQ('p', std::fgetc(p.get()));
  file_ptr out(foutopen("survey.xml", "wt"));
  ASSERT_NE(nullptr, out);
  EXPECT_TRUE(testkit::file_exists(perm / "survey.xml"));
  EXPECT_FALSE(testkit::file_exists(temp / "survey.xml"));
}

TEST(Filopen, SuffixGoesOnOutputNamesWithoutADot) {
  testkit::temp_dir perm;
  std::filesystem::create_directories(perm / "out");
  std::filesystem::create_directories(perm / "job.old");
  locations loc(perm.path.c_str(), perm.path.c_str(), "dat");
  const struct {
    const char* name;
    const char* created;
  } cases[] = {
      {"report", "report.dat"},
      {"report.txt", "report.txt"},
      {"out/report", "out/report.dat"},
      {"./report", "report"},  // the "." test looks at the whole name
      {"job.old/report", "job.old/report"},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(perm / c.created);
    EXPECT_TRUE(opens(foutopen, c.name, "w")) << c.name;
    EXPECT_TRUE(testkit::file_exists(perm / c.created)) << c.name;
  }
  // Only foutopen adds the suffix.
  testkit::write_file(perm / "plain", "x");
  EXPECT_TRUE(opens(ftmpopen, "plain", "r"));
  EXPECT_TRUE(opens(finpopen, "plain", "r"));
  EXPECT_TRUE(opens(foniopen, "plain", "r"));
  EXPECT_FALSE(testkit::file_exists(perm / "plain.dat"));
}

TEST(Filopen, EmptySuffixAddsNothing) {
  testkit::temp_dir perm;
  locations loc(perm.path.c_str(), nullptr, "");
  EXPECT_TRUE(opens(foutopen, "report", "w"));
  EXPECT_TRUE(testkit::file_exists(perm / "report"));
  EXPECT_FALSE(testkit::file_exists(perm / "report."));
}

TEST(Filopen, AbsoluteNamesIgnoreThePermanentDirectory) {
  testkit::temp_dir perm, elsewhere;
  locations loc(perm.path.c_str(), nullptr, "dat");
  testkit::write_file(elsewhere / "file", "x");
  EXPECT_TRUE(opens(finpopen, elsewhere / "file", "r"));
  EXPECT_TRUE(opens(foniopen, elsewhere / "file", "r"));
  const int fd = prmopen((elsewhere / "file").c_str(), O_RDONLY);
  EXPECT_GE(fd, 0);
  if (fd >= 0) close(fd);
  // The scratch directory's name holds a ".", so the whole-name rule adds no suffix.
  ASSERT_NE(std::string::npos, elsewhere.path.find('.'));
  EXPECT_TRUE(opens(foutopen, elsewhere / "new", "w"));
  EXPECT_TRUE(testkit::file_exists(elsewhere / "new"));
  EXPECT_FALSE(testkit::file_exists(perm / "new.dat"));
}

TEST(Filopen, DescriptorOperationsWorkInTheTemporaryDirectory) {
  testkit::temp_dir perm, temp;
  locations loc(perm.path.c_str(), temp.path.c_str());
  const int created = tmpcreat("work.x", 0644);
  ASSERT_GE(created, 0);
  ASSERT_EQ(3, write(created, "abc", 3));
  close(created);
  EXPECT_EQ("abc", testkit::read_file(temp / "work.x"));

  const int fd = tmpopen("fresh.x", O_WRONLY | O_CREAT);
  ASSERT_GE(fd, 0);
  close(fd);
  struct stat st {};
  ASSERT_EQ(0, stat((temp / "fresh.x").c_str(), &st));
  EXPECT_EQ(0u, st.st_mode & 077);  // created with 0600

  const int kept = prmopen("kept.x", O_WRONLY | O_CREAT);
  ASSERT_GE(kept, 0);
  close(kept);
  EXPECT_TRUE(testkit::file_exists(perm / "kept.x"));

  EXPECT_EQ(0, tmpunlink("work.x"));
  EXPECT_FALSE(testkit::file_exists(temp / "work.x"));
  errno = 0;
  EXPECT_EQ(-1, tmpunlink("work.x"));
  EXPECT_EQ(ENOENT, errno);
  EXPECT_EQ(-1, tmpopen("none.x", O_RDONLY));
}

TEST(Filopen, IncludeFilesComeFromTheHomeDirectory) {
  testkit::temp_dir home, other;
  std::filesystem::create_directories(home / "include");
  std::filesystem::create_directories(other / "include");
  testkit::write_file(home / "include/defs", "h");
  testkit::write_file(other / "include/defs", "o");
  auto first_char = [](std::FILE* f) {
    file_ptr owned(f);
    return owned ? std::fgetc(owned.get()) : -1;
  };
  {
    testkit::scoped_env env({{"TXHOME", home.path}});
    EXPECT_EQ('h', first_char(fxinopen("defs", "", "r")));
    EXPECT_EQ('h', first_char(fxinopen("defs", nullptr, "r")));
    EXPECT_EQ('o', first_char(fxinopen("defs", other.path.c_str(), "r")));  // the argument wins
    EXPECT_EQ(nullptr, fxinopen("none", nullptr, "r"));
  }
  const char* old = std::getenv("TXHOME");
  const std::string saved = old != nullptr ? old : "";
  unsetenv("TXHOME");
  EXPECT_EQ(nullptr, fxinopen("defs", nullptr, "r"));
  EXPECT_EQ(nullptr, fxinopen("defs", "", "r"));
  EXPECT_EQ('o', first_char(fxinopen("defs", other.path.c_str(), "r")));
  if (old != nullptr) setenv("TXHOME", saved.c_str(), 1);
}

TEST(Filopen, TooLongNamesAreRefusedNeverCut) {
  testkit::temp_dir perm, temp;
  locations loc(perm.path.c_str(), temp.path.c_str(), "dat");
  // Permanent directory: up to 200 characters (and the suffix behind them).
  const std::string longest(200, 'p');
  const std::string too_long(201, 'p');
  EXPECT_TRUE(opens(foutopen, longest, "w"));
  EXPECT_TRUE(testkit::file_exists(perm / (longest + ".dat")));

  auto refused = [](auto&& op) {
    errno = 0;
    const bool failed = op();
    return failed && errno == ENAMETOOLONG;
  };
  const char* p = too_long.c_str();
  EXPECT_TRUE(refused([&] { return foutopen(p, "w") == nullptr; }));
  EXPECT_TRUE(refused([&] { return foniopen(p, "w") == nullptr; }));
  EXPECT_TRUE(refused([&] { return finpopen(p, "w") == nullptr; }));
  EXPECT_TRUE(refused([&] { return prmopen(p, O_WRONLY | O_CREAT) == -1; }));
  // foniopen and foutopen write even an absolute name behind the prefix.
  const std::string absolute = "/" + too_long;
  EXPECT_TRUE(refused([&] { return foutopen(absolute.c_str(), "w") == nullptr; }));

  // A separate temporary directory: 21 characters plus the suffix length.
  const std::string temp_longest(24, 't');
  const std::string temp_too_long(25, 't');
  EXPECT_EQ(temp / temp_longest, temp_name(temp_longest.c_str()));
  EXPECT_TRUE(opens(ftmpopen, temp_longest, "w"));
  const char* t = temp_too_long.c_str();
  EXPECT_TRUE(refused([&] { return ftmpopen(t, "w") == nullptr; }));
  EXPECT_TRUE(refused([&] { return tmpopen(t, O_WRONLY | O_CREAT) == -1; }));
  EXPECT_TRUE(refused([&] { return tmpcreat(t, 0600) == -1; }));
  EXPECT_TRUE(refused([&] { return tmpunlink(t) == -1; }));
  EXPECT_TRUE(refused([&] { return temp_name(t).empty(); }));
  for (const auto& entry : std::filesystem::directory_iterator(temp.path))
    EXPECT_EQ(temp_longest, entry.path().filename().string());  // nothing cut short was made
}

}  // namespace
}  // namespace tx
