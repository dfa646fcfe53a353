// Tests of axttjust: the justification of axis title lines, packed in the
// axis record's codes at byte 50 + 2 * line or held in the title text.
#include "txlib/axttjust.h"

#include <cstring>
#include <string>

#include "testkit.h"
#include "txlib/bytes.h"

namespace {

struct axis_record {
  std::uint8_t bytes[80] = {};
  axis_record& code(int line, std::uint16_t value) {
    tx::put_be16(bytes, 50 + 2 * line, value);
    return *this;
  }
};

TEST(Axttjust, ReadsPackedAndTextForms) {
  const struct {
    std::uint16_t code;
    const char* text;
    int skip;
    char vert, horiz;
    const char* visible;
  } cases[] = {
      {0x8000, "Sales", 0, 't', 'l', "Sales"},
      {0x80C3, "Sales", 0, '\0', 'a', "Sales"},  // vertical index 3 is the NUL
      {0x8011, "Sales", 0, 't', 'l', "Sales"},   // horizontal index 17 is out of the table
      {0x8010, "Sales", 0, 't', '\0', "Sales"},  // index 16 is the NUL
      {0x83CF, "Sales", 0, 't', 'i', "Sales"},   // vertical index 15 is out of the table
      {0x804F, "Sales", 0, 'f', 'i', "Sales"},
      {0, "cbSales", 2, 'b', 'c', "Sales"},
      {0x7FFF, "rt", 2, 't', 'r', ""},
  };
  for (const auto& c : cases) {
    axis_record rec;
    rec.code(5, c.code);
    EXPECT_EQ(c.skip, tx::GetAxisTitleSkipJust(rec.bytes, 5)) << std::hex << c.code;
    char vert = '?', horiz = '?';
    EXPECT_EQ(c.skip, tx::GetAxisTitleJustifyChars(rec.bytes, 5, &vert, &horiz, c.text))
        << std::hex << c.code;
    EXPECT_EQ(c.vert, vert) << std::hex << c.code;
    EXPECT_EQ(c.horiz, horiz) << std::hex << c.code;
    EXPECT_STREQ(c.visible, c.text + c.skip) << std::hex << c.code;
  }
}

TEST(Axttjust, RefusesBadArguments) {
  axis_record rec;
  char vert = '?', horiz = '?';
  for (int line : {-1, 12}) {
    EXPECT_EQ(-1, tx::GetAxisTitleSkipJust(rec.bytes, line));
    EXPECT_EQ(-1, tx::GetAxisTitleJustifyChars(rec.bytes, line, &vert, &horiz, "cbX"));
    axis_record before = rec;
    tx::SetAxisTitleJustifyChars(rec.bytes, line, 'b', 'c');
    EXPECT_EQ(0, std::memcmp(before.bytes, rec.bytes, sizeof rec.bytes));
  }
  EXPECT_EQ(-1, tx::GetAxisTitleSkipJust(nullptr, 0));
  EXPECT_EQ(-1, tx::GetAxisTitleJustifyChars(nullptr, 0, &vert, &horiz, "cb"));
  EXPECT_EQ(-1, tx::GetAxisTitleJustifyChars(rec.bytes, 0, nullptr, &horiz, "cb"));
  EXPECT_EQ(-1, tx::GetAxisTitleJustifyChars(rec.bytes, 0, &vert, nullptr, "cb"));
  EXPECT_EQ(-1, tx::GetAxisTitleJustifyChars(rec.bytes, 0, &vert, &horiz, nullptr));
  EXPECT_EQ(2, tx::GetAxisTitleJustifyChars(rec.bytes, 0, &vert, &horiz, ""));
  EXPECT_EQ('\0', horiz);
  EXPECT_EQ('\0', vert);  // the byte after an empty text is not read
  tx::SetAxisTitleJustifyChars(nullptr, 0, 't', 'l');
}

TEST(Axttjust, SetStoresPackedCodes) {
  const struct {
    char vert, horiz;
    std::uint16_t code;
  } cases[] = {{'t', 'l', 0x8000}, {'b', 'c', 0x8082}, {'f', 'i', 0x804F},
               {'x', 'i', 0x800F}, {'t', 'z', 0x8000}, {'\0', '\0', 0x80D0}};
  for (const auto& c : cases) {
    axis_record rec;
    tx::SetAxisTitleJustifyChars(rec.bytes, 11, c.vert, c.horiz);
    EXPECT_EQ(c.code, tx::be_u16(rec.bytes, 72)) << c.vert << c.horiz;
    EXPECT_EQ(0, tx::be_u16(rec.bytes, 70));  // the neighbouring line is left alone
    char vert = '?', horiz = '?';
    EXPECT_EQ(0, tx::GetAxisTitleJustifyChars(rec.bytes, 11, &vert, &horiz, nullptr));
  }
}

}  // namespace
