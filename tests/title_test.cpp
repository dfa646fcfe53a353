#include "fmtlib/read/title.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fmtlib/run/convert.h"
#include "readers_kit.h"

namespace tx {
namespace {

using readers_kit::job_run;
using testing::HasSubstr;

constexpr std::size_t first_record = 260;  // header and the 196-byte block

std::vector<std::string> lines_of(const run_state& run) {
  std::vector<std::string> out;
  for (int i = 0; i < run.title->count; ++i) out.emplace_back(run.title->lines[i]);
  return out;
}

TEST(Title, RecordsBecomeLinesInFileOrder) {
  const struct {
    std::vector<std::string> lines;
  } cases[] = {{{}}, {{"Hello", ""}}, {{"A survey of 2026", "wave 3", "x"}}};
  for (const auto& c : cases) {
    job::job j;
    j.title = c.lines;
    job_run jr(j);
    get_title(jr.run);
    EXPECT_EQ(c.lines, lines_of(jr.run));
    EXPECT_EQ("", jr.err.text());
  }
}

TEST(Title, TrailingBytesShorterThanAPrefixAreIgnored) {
  job::job j;
  j.title = {"Hello", ""};
  for (std::size_t extra = 1; extra < 8; ++extra) {
    job_run jr(j);
    job::append_bytes(jr.path("seg1.xv"), std::string(extra, '\x7f'));
    get_title(jr.run);
    EXPECT_EQ(j.title, lines_of(jr.run)) << extra << " trailing bytes";
  }
}

TEST(Title, ElevenRecordsKeepTenAndWarnOnce) {
  job::job j;
  for (int i = 1; i <= 11; ++i) j.title.push_back("line " + std::to_string(i));
  job_run jr(j);
  get_title(jr.run);
  EXPECT_EQ(std::vector<std::string>(j.title.begin(), j.title.begin() + 10), lines_of(jr.run));
  EXPECT_EQ("Warning: seg1.xv holds 11 title lines; only the first 10 are used\n", jr.err.text());
}

TEST(Title, NegativeOrOverlongLengthStops) {
  job::job j;
  j.title = {"Hello", "World"};
  const struct {
    std::size_t at;
    std::uint8_t value;
    const char* what;
  } cases[] = {
      {first_record + 8, 0xff, "negative text length"},           // L of the first record
      {first_record + 12 + 5 + 8, 0x80, "negative text length"},  // L of the second
      {first_record + 10, 0x01, "needs 261 bytes"},               // L = 0x105
  };
  for (const auto& c : cases) {
    job_run jr(j);
    job::set_byte(jr.path("seg1.xv"), c.at, c.value);
    run_stopped stop = testkit::expect_stop([&] { get_title(jr.run); });
    EXPECT_EQ(1, stop.status);
    EXPECT_THAT(stop.message, HasSubstr("\"seg1.xv\"")) << c.at;
    EXPECT_THAT(stop.message, HasSubstr(c.what)) << c.at;
  }
}

// Every cut of the file either ends between records (or inside the 8-byte
// prefix of one, which is no record) or stops the run naming the file.
TEST(Title, EveryCutEndsCleanlyOrStops) {
  job::job j;
  j.title = {"Hello", "", "World!"};
  job_run jr(j);
  const std::string bytes = jr.bytes("seg1.xv");
  ASSERT_EQ(first_record + 12 + 5 + 12 + 0 + 12 + 6, bytes.size());
  // Where each record starts, and how many whole records lie before it.
  const std::size_t starts[] = {first_record, first_record + 17, first_record + 29, bytes.size()};
  for (std::size_t n = 0; n < bytes.size(); ++n) {
    jr.put("seg1.xv", bytes.substr(0, n));
    run_state run;
    jr.prepare(run);
    int whole = -1;
    for (int r = 0; r < 3; ++r)
      if (n >= starts[r] && n < starts[r] + 8) whole = r;
    if (whole >= 0) {
      get_title(run);
      EXPECT_EQ(whole, run.title->count) << "cut at " << n;
    } else {
      run_stopped stop = testkit::expect_stop([&] { get_title(run); });
      EXPECT_THAT(stop.message, HasSubstr("seg1.xv")) << "cut at " << n;
    }
  }
}

TEST(Title, DebugListing) {
  job::job j;
  j.title = {"Hello", ""};
  job_run jr(j);
  jr.debug_on();
  get_title(jr.run);
  EXPECT_EQ("\n TITLE\n <Hello>\n <>\n", jr.debug());
}

TEST(Title, MissingFileStops) {
  job_run jr(job::job{});
  std::remove(jr.path("seg1.xv").c_str());
  run_stopped stop = testkit::expect_stop([&] { get_title(jr.run); });
  EXPECT_THAT(stop.message, HasSubstr("FATAL ERROR: Cannot open \"seg1.xv\" mode \"r\"\n"));
}

}  // namespace
}  // namespace tx
