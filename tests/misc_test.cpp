#include "fmtlib/run/misc.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fmtlib/run/convert.h"
#include "fmtlib/run/showmsg.h"
#include "testkit.h"

namespace tx {
namespace {

using testing::HasSubstr;

TEST(Misc, EfopenOfMissingFileStopsWithTheSystemReason) {
  testkit::temp_dir dir;
  testkit::scoped_env env({{"TXTEMP", dir.path}, {"TXPERM", dir.path}});
  run_state run;
  run_stopped stop = testkit::expect_stop([&] { efopen(run, "intermed.x", "r"); });
  EXPECT_EQ(1, stop.status);
  EXPECT_EQ("intermed.x: No such file or directory\n"
            "FATAL ERROR: Cannot open \"intermed.x\" mode \"r\"\n",
            stop.message);
}

TEST(Misc, NumberedErrorsAndFatalMessages) {
  EXPECT_EQ("ERROR: 901\n", testkit::expect_stop([] { error(901); }).message);
  run_stopped stop = testkit::expect_stop([] { errormess(0, "out of memory in emalloc();"); });
  EXPECT_EQ("\n Fatal error 0 <out of memory in emalloc();>\n", stop.message);
  EXPECT_EQ(1, stop.status);
}

TEST(Misc, MorestvarsGrowsInStepsOf9500) {
  run_state run;
  morestvars(run);
  EXPECT_EQ(9500u, run.stvarmax);
  EXPECT_GE(run.stvars.capacity(), 9500u);
  run.stvars.push_back(nullptr);
  morestvars(run);
  EXPECT_EQ(19000u, run.stvarmax);
  EXPECT_EQ(1u, run.stvars.size());
}

TEST(Misc, CloseOutputStopsOnAFullDevice) {
  file_ptr f(std::fopen("/dev/full", "w"));
  ASSERT_TRUE(f);
  std::fputs("some text", f.get());
  run_stopped stop = testkit::expect_stop([&] { close_output(f, "survey.asc"); });
  EXPECT_EQ(1, stop.status);
  EXPECT_THAT(stop.message, HasSubstr("\"survey.asc\""));
}

TEST(Showmsg, LongMessagesAreCutAndNullMeansStandardError) {
  const std::string text = testkit::capture([](std::FILE* f) {
    showmsg(f, "%s", std::string(10000, 'x').c_str());
  });
  EXPECT_EQ(std::string(8191, 'x'), text);
  EXPECT_EQ("a 1\n", testkit::capture([](std::FILE* f) { showmsg(f, "a %d\n", 1); }));
}

}  // namespace
}  // namespace tx
