// getversn writes a message with a reason in brackets as two writes, the
// second from the "(": the standard error here is a socket of packets, so
// each write arrives as one.
#include "txlib/version.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "testkit.h"
#include "tools/jobbuild.h"

namespace tx {
namespace {

// The writes getversn makes on the standard error for file `name` of the
// job in dir, read as type `type`.
std::vector<std::string> writes_of_getversn(const std::string& dir, const char* name, short type) {
  int pair[2];
  EXPECT_EQ(0, socketpair(AF_UNIX, SOCK_SEQPACKET, 0, pair));
  std::fflush(stderr);
  const int saved = dup(2);
  dup2(pair[0], 2);
  const int fd = open((dir + "/" + name).c_str(), O_RDONLY);
  const int got = getversn(fd, name, 0, type, 0);
  dup2(saved, 2);
  close(saved);
  close(pair[0]);
  if (fd >= 0) close(fd);
  EXPECT_EQ(-1, got);
  std::vector<std::string> writes;
  char buffer[512];
  for (ssize_t n; (n = recv(pair[1], buffer, sizeof buffer, MSG_DONTWAIT)) > 0;)
    writes.emplace_back(buffer, static_cast<std::size_t>(n));
  close(pair[1]);
  return writes;
}

TEST(Version, AReasonInBracketsIsASecondWrite) {
  testkit::temp_dir dir;
  job::job j;
  j.title = {"Version"};
  job::write_job(j, dir.path);
  // axes.inf read as the case file: another type.
  EXPECT_EQ((std::vector<std::string>{"Error: wrong file type for axes.inf ",
                                      "(intermediate.x expected, axes.info found)\n"}),
            writes_of_getversn(dir.path, "axes.inf", 12));
}

}  // namespace
}  // namespace tx
