// The job builder's command: JSON texts in UTF-8 become the job files'
// Windows-1252 bytes.
#include <gtest/gtest.h>

#include <string>

#include "testkit.h"

namespace {

TEST(Txjob, TextsBecomeWindows1252Bytes) {
  const struct {
    const char* json;   // the title line, as JSON writes it
    std::string bytes;  // in seg1.xv; empty: refused
    const char* error;  // what the message names
  } cases[] = {
      {"Caf\\u00e9 \\u00ff", "Caf\xe9 \xff", ""},
      {"Don\\u2019t know \\u2026 \\u201csmart\\u201d \\u2013 \\u2014 \\u20ac",
       "Don\x92t know \x85 \x93smart\x94 \x96 \x97 \x80", ""},
      {"\\u0152\\u0153 \\u0160\\u0161 \\u017d\\u017e \\u0178 \\u0192 \\u02c6\\u02dc \\u2122",
       "\x8c\x9c \x8a\x9a \x8e\x9e \x9f \x83 \x88\x98 \x99", ""},
      {"\\u201a\\u201e\\u2020\\u2021\\u2030\\u2039\\u203a\\u2018\\u2022",
       "\x82\x84\x86\x87\x89\x8b\x9b\x91\x95", ""},
      {"\\u0080 \\u0081 \\u009d", "\x80 \x81 \x9d", ""},  // bytes as they are
      {"\\u0101", "", "U+0101"},
      {"\\u20b9", "", "U+20B9"},
      {"\\ud83d\\ude00", "", "beyond U+FFFF"},
  };
  for (const auto& c : cases) {
    testkit::temp_dir dir;
    testkit::write_file(dir / "job.json", std::string("{\"title\": [\"") + c.json + "\"]}");
    const testkit::result r =
        testkit::run_program(TXJOB_BINARY, {dir / "job.json", dir / "job"}, dir.path);
    if (c.bytes.empty()) {
      EXPECT_EQ(1, r.status) << c.json;
      EXPECT_NE(std::string::npos, r.err.find(c.error)) << c.json << ": " << r.err;
      continue;
    }
    ASSERT_EQ(0, r.status) << c.json << ": " << r.err;
    const std::string title = testkit::read_file(dir / "job/seg1.xv");
    EXPECT_NE(std::string::npos, title.find(c.bytes)) << c.json;
  }
}

}  // namespace
