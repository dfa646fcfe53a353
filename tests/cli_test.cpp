// The real program as a process: exit statuses and what reaches stdout and stderr.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "testkit.h"

namespace {

using testing::HasSubstr;
using testing::StartsWith;

TEST(Cli, BannerAndOutputFormatComeFirstOnStandardError) {
  testkit::temp_dir dir;
  testkit::result r = testkit::run_program("tx2spss", {}, dir.path);
  EXPECT_THAT(r.err, StartsWith("[ Tabulex to triple-s converter, program version 1.1 "
                                "(May 21 2001 09:22:12) ]\n\noutput format SPSS\n"));
}

}  // namespace
