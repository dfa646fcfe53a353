// The XML writer: escaping and names, and whole conversions checked against
// reviewed golden files.
#include "fmtlib/outputxml.h"

#include <gtest/gtest.h>

#include <string>

#include "testkit.h"

namespace tx {
namespace {

TEST(Outputxml, XmlfmtEscapes) {
  const struct {
    std::string text, escaped;
  } cases[] = {
      {"", ""},
      {"Tom & Jerry <1> \"x\" 'y'", "Tom &amp; Jerry &lt;1&gt; &quot;x&quot; &apos;y&apos;"},
      {"two\nlines\n", "two<br/>lines"},  // the last newline is dropped
      {"\n", ""},
      {"\n\n", "<br/>"},
      {"a\tb\x7f" "c", "a&#32;b&#32;c"},
      {"caf\xe9", "caf&#xe9;"},
      {"\x80" "5", "&#x20AC;5"},
      {"\x81\x9f\xa0\xff", "&#x81;&#x9f;&#xa0;&#xff;"},
      {"\xaf", "\xaf"},  // 175 has no entry and is written as it is
      {std::string("cut\0here", 8), "cut"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.escaped, xmlfmt(c.text)) << c.text;
}

TEST(Outputxml, CharmapEntries) {
  EXPECT_STREQ("#32", xmlcharmap[1]);
  EXPECT_STREQ("#32", xmlcharmap[159]);
  EXPECT_STREQ("<br/>", xmlcharmap[10]);
  EXPECT_STREQ("amp", xmlcharmap['&']);
  EXPECT_STREQ("", xmlcharmap['A']);
  EXPECT_STREQ("", xmlcharmap[175]);
  EXPECT_STREQ("nbsp", xmlcharmap[160]);
  EXPECT_STREQ("eacute", xmlcharmap[233]);
  EXPECT_STREQ("yuml", xmlcharmap[255]);
}

TEST(Outputxml, RmspacesMakesNames) {
  const struct {
    const char *text, *name;
  } cases[] = {
      {"1st choice", "_1stchoice"},
      {"Q.5a", "Q_5a"},
      {"Age of respondent", "Ageofrespondent"},
      {"a_b-c\td\ne", "a_b_cde"},
      {"@weight0", "_weight0"},
      {"caf\xe9 \x01x", "caf\xe9\x01x"},  // bytes above 127 and control bytes stay
      {"", ""},
      {" 1", "1"},  // only a digit in the first place gets the "_"
  };
  for (const auto& c : cases) EXPECT_EQ(c.name, rmspaces(c.text)) << c.text;
}

}  // namespace
}  // namespace tx
