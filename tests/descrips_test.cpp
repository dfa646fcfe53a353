// Tests of descrips: loading descrips.inf (a compress stream of text lines),
// lookups by tag, adding, changing, removing and saving entries.
#include "txlib/descrips.h"

#include <string>
#include <vector>

#include "tests/testkit.h"
#include "txlib/compio.h"

namespace {

using testkit::temp_dir;

void write_z(const std::string& path, const std::string& text) {
  tx::comp_file* h = tx::compopen(path.c_str(), "wb", 12);
  ASSERT_NE(nullptr, h);
  tx::compwrite(h, text.data(), static_cast<int>(text.size()));
  ASSERT_EQ(0, tx::compclose(h));
}

std::string read_z(const std::string& path) {
  tx::comp_file* h = tx::compopen(path.c_str(), "rb", 12);
  EXPECT_NE(nullptr, h);
  if (h == nullptr) return "";
  std::string out;
  char buf[4096];
  for (int n; (n = tx::compread(h, buf, sizeof buf)) > 0;) out.append(buf, n);
  tx::compclose(h);
  return out;
}

struct loaded {
  tx::descs_guard guard;
  int count = -1;
  int handle() const { return guard.handle; }
};

// Loads `text` compressed as descrips.inf; the handle is destroyed with the result.
void load(const temp_dir& dir, const std::string& text, loaded& out) {
  write_z(dir / "descrips.inf", text);
  out.guard.handle = tx::DescsLoad((dir / "descrips.inf").c_str(), 0, 0, &out.count);
}

std::string str(const char* text) { return text != nullptr ? text : "<null>"; }

// The code of a failure must have a text of its own: the job builder's
// messages give it as the reason.
void expect_explained(int code) {
  const std::string text = tx::DescsErrorString(code);
  EXPECT_TRUE(code < 0 && !text.empty() && text != "Unknown error code")
      << "code " << code << ": \"" << text << "\"";
}

TEST(Descrips, LoadFailures) {
  temp_dir dir;
  testkit::write_file(dir / "plain", "#@axis q1\n#;tag=q1\n");
  const struct {
    const char* what;
    std::string path;
    int code;
  } cases[] = {
      {"missing", dir / "missing", -3},
      {"plain text", dir / "plain", -3},
      {"path of 256 characters", std::string(256, 'p'), -3},
  };
  for (const auto& c : cases) {
    int count = 7;
    const int code = tx::DescsLoad(c.path.c_str(), 0, 0, &count);
    EXPECT_EQ(c.code, code) << c.what;
    EXPECT_EQ(0, count) << c.what;
    expect_explained(code);
  }
  loaded only_text;
  load(dir, "##version=1001\nsome descriptive text\n#;tag=q1\n", only_text);
  EXPECT_EQ(-2, only_text.handle());
  expect_explained(only_text.handle());
  EXPECT_EQ(0, only_text.count);
  EXPECT_EQ(nullptr, tx::TagGetLabel(only_text.handle(), "q1"));
}

TEST(Descrips, EntryLinesFirstValueWins) {
  temp_dir dir;
  loaded d;
  load(dir,
       "##version=7\n"
       "#@axis\n"  // no space: the type word holds the newline, the entry is skipped
       "#;tag=skipped\n#;label=Skipped\n"
       "#@axis q1\n"
       "\n"
       "First text\n"
       "Second text\n"
       "#;label=Region\n#;label=Area\n"
       "#;tag=q1\n#;tag=other\n"
       "#;level=12\n#;grid=3\n#;usrcrt=yes\n#;unknown=1\n"
       "#@inc sales\n#;tag=Sales\n#;label=Total Sales\n#;level=4\n#;level=5\n"
       "#@weight w\n#;tag=w1\n#;label=Weight\n"
       "#@axis g\n#;tag=q2\n#;label=Grid\n#;grid=2\n#;parent=q1\n#;usrcrt=1\n",
       d);
  ASSERT_GE(d.handle(), 0);
  EXPECT_EQ(4, d.count);
  int h = d.handle();
  EXPECT_EQ(nullptr, tx::TagGetLabel(h, "skipped"));
  EXPECT_EQ("Region", str(tx::TagGetLabel(h, "q1")));
  EXPECT_EQ("First text", str(tx::TagGetDescript(h, "q1")));
  EXPECT_EQ(999, tx::TagGetLevel(h, "q1"));
  EXPECT_EQ(0, tx::TagGetGrid(h, "q1"));
  EXPECT_EQ(0, tx::TagGetUserCreated(h, "q1"));
  EXPECT_EQ(nullptr, tx::TagGetParent(h, "q1"));
  EXPECT_EQ(nullptr, tx::TagGetLabel(h, "other"));
  EXPECT_EQ(4, tx::TagGetLevel(h, "Sales"));
  EXPECT_EQ("", str(tx::TagGetDescript(h, "Sales")));  // empty, not null
  EXPECT_EQ(2, tx::TagGetGrid(h, "q2"));
  EXPECT_EQ("q1", str(tx::TagGetParent(h, "q2")));
  EXPECT_EQ(1, tx::TagGetUserCreated(h, "q2"));
  EXPECT_EQ(0, tx::TagGetWmid(h, "w1"));
  EXPECT_EQ(tx::desc_weight, tx::TagGetType(h, "w1"));
  // Lookups are exact and case-sensitive.
  EXPECT_EQ(nullptr, tx::TagGetLabel(h, "Q1"));
  EXPECT_EQ(nullptr, tx::TagGetLabel(h, "sales"));
  EXPECT_EQ(nullptr, tx::TagGetLabel(h, "q"));
  EXPECT_EQ(nullptr, tx::TagGetLabel(h, ""));
  EXPECT_EQ(nullptr, tx::TagGetLabel(h, nullptr));
  EXPECT_EQ(nullptr, tx::TagGetLabel(-1, "q1"));
  EXPECT_EQ(nullptr, tx::TagGetLabel(4, "q1"));
  int type = 0, level = 0;
  char* label = nullptr;
  char* descript = nullptr;
  EXPECT_EQ(0, tx::TagGetAllInfo(h, "Sales", &type, &level, &label, &descript));
  EXPECT_EQ(tx::desc_inc, type);
  EXPECT_EQ("Total Sales", str(label));
  EXPECT_EQ(-1, tx::TagGetAllInfo(h, "nope", &type, &level, &label, &descript));
}

TEST(Descrips, SaveWritesTheEntryFormat) {
  temp_dir dir;
  loaded d;
  load(dir,
       "##version=3\n"
       "#@weight w\n#;tag=w1\n#;label=Weight\n"
       "#@axis q1\nQuestion text\n#;tag=q1\n#;label=Region\n#;level=12\n"
       "#@inc n\n#;tag=n1\n#;label=Income\n#;level=2\n"
       "#@axis q2\n#;tag=q2\n#;label=Grid\n#;grid=1\n#;parent=q1\n#;usrcrt=1\n#;level=0\n",
       d);
  ASSERT_GE(d.handle(), 0);
  ASSERT_EQ(0, tx::DescsSave(d.handle(), (dir / "saved.inf").c_str()));
  const std::string expected =
      "##version=1001\n"
      "#@axis q1\nQuestion text\n#;level=0\n#;tag=q1\n#;label=Region\n"
      "#@axis q2\n\n#;level=0\n#;tag=q2\n#;label=Grid\n#;grid=1\n#;parent=q1\n#;usrcrt=1\n"
      "#@inc n1\n\n#;level=2\n#;tag=n1\n#;label=Income\n"
      "#@weight w1\n\n#;level=0\n#;tag=w1\n#;label=Weight\n#;wmid=0\n";
  std::string saved = read_z(dir / "saved.inf");
  EXPECT_TRUE(testkit::same_bytes(expected, saved));
  EXPECT_EQ(0x8C, static_cast<unsigned char>(testkit::read_file(dir / "saved.inf")[2]));

  // Loading the saved file gives the same entries, and saving again the same bytes.
  loaded again;
  again.guard.handle = tx::DescsLoad((dir / "saved.inf").c_str(), 0, 0, &again.count);
  ASSERT_GE(again.handle(), 0);
  EXPECT_EQ(4, again.count);
  EXPECT_EQ(0, tx::TagGetLevel(again.handle(), "q1"));
  EXPECT_EQ(1, tx::TagGetGrid(again.handle(), "q2"));
  ASSERT_EQ(0, tx::DescsSave(again.handle(), nullptr));  // back to where it came from
  EXPECT_TRUE(testkit::same_bytes(expected, read_z(dir / "saved.inf")));
}

TEST(Descrips, OverlongFieldsAreRefusedForTheEntry) {
  temp_dir dir;
  loaded d;
  std::string long_label(3000, 'L');
  load(dir,
       "#@axis a\n#;tag=twelve_chars\n#;tag=short\n#;label=A\n"
       "#@axis b\n#;tag=eleven_char\n#;label=B\n#;parent=ten_chars_\n"
       "#@axis c\n#;tag=c\n#;parent=nine_char\n#;label=" +
           long_label + "\n",
       d);
  ASSERT_GE(d.handle(), 0);
  int h = d.handle();
  EXPECT_EQ(3, d.count);
  EXPECT_EQ(nullptr, tx::TagGetLabel(h, "twelve_chars"));
  EXPECT_EQ(nullptr, tx::TagGetLabel(h, "short"));  // the first tag line decides
  EXPECT_EQ("B", str(tx::TagGetLabel(h, "eleven_char")));
  EXPECT_EQ(nullptr, tx::TagGetParent(h, "eleven_char"));
  EXPECT_EQ("nine_char", str(tx::TagGetParent(h, "c")));
  EXPECT_EQ(std::string(511 - 8, 'L'), str(tx::TagGetLabel(h, "c")));  // 511-character lines
  // The entry without a tag keeps its slot but is neither found nor saved.
  ASSERT_EQ(0, tx::DescsSave(h, (dir / "s.inf").c_str()));
  EXPECT_EQ(std::string::npos, read_z(dir / "s.inf").find("#;label=A\n"));
}

TEST(Descrips, TheFirstParentLineWithAValueCounts) {
  temp_dir dir;
  loaded d;
  load(dir, "#@axis d\n#;tag=d\n#;parent=\n#;parent=q1\n#;parent=q2\n", d);
  ASSERT_GE(d.handle(), 0);
  EXPECT_EQ("q1", str(tx::TagGetParent(d.handle(), "d")));
}

TEST(Descrips, AbsurdFilesLoadOrFailWithACode) {
  temp_dir dir;
  std::string binary;
  for (int k = 0; k < 3000; ++k) binary += static_cast<char>((k * 37) % 256);
  const std::string files[] = {
      std::string(100000, 'x'),                                   // one long line, no newline
      "#@axis q1\n#;tag=q1\n#;label=" + std::string(70000, 'y'),  // no final newline
      "#@" + binary + "\n#@axis q1\n" + binary + "\n#;tag=q1\n#;label=" + binary,
      "#@axis q1\n#;tag=q1\n" + std::string(5000, '\n') + "#@",
      "#@axis q1\n#;tag=\n#;tag=q1\n#;level=\n#;label=\n#;label=x\n#;grid=\n#;wmid=\n",
  };
  for (const std::string& text : files) {
    loaded d;
    load(dir, text, d);
    if (d.handle() >= 0) {
      tx::TagGetLabel(d.handle(), "q1");
      EXPECT_EQ(0, tx::DescsSave(d.handle(), (dir / "out.inf").c_str()));
    } else {
      expect_explained(d.handle());
    }
  }
}

TEST(Descrips, FourHandlesAtOnce) {
  temp_dir dir;
  write_z(dir / "d.inf", "#@inc n\n#;tag=n1\n#;label=N\n");
  std::vector<tx::descs_guard> guards(4);
  for (auto& g : guards) {
    g.handle = tx::DescsLoad((dir / "d.inf").c_str(), 0, 0, nullptr);
    EXPECT_GE(g.handle, 0);
  }
  EXPECT_EQ(-5, tx::DescsLoad((dir / "d.inf").c_str(), 0, 0, nullptr));
  EXPECT_EQ(-5, tx::DescsCreate(0, 0));
  expect_explained(-5);
  tx::DescsDestroy(guards[2].handle);
  EXPECT_EQ(nullptr, tx::TagGetLabel(guards[2].handle, "n1"));  // free: finds nothing
  int h = tx::DescsLoad((dir / "d.inf").c_str(), 0, 0, nullptr);
  EXPECT_EQ(guards[2].handle, h);
  EXPECT_EQ("N", str(tx::TagGetLabel(h, "n1")));
  tx::DescsDestroy(-1);  // ignored
  tx::DescsDestroy(4);
}

TEST(Descrips, AddChoosesTags) {
  tx::descs_guard g{tx::DescsCreate(2, 1)};
  int h = g.handle;
  ASSERT_GE(h, 0);
  int moved = -1;
  const struct {
    int type;
    const char* label;
    const char* tag;  // null: the add fails
  } cases[] = {
      {tx::desc_axis, "Region", "Region"},
      {tx::desc_axis, "Region", nullptr},        // same type, same label
      {tx::desc_inc, "Region", "n_0001_"},       // a slot's tag equals the label
      {tx::desc_inc, "Total Sales", "n_0002_"},  // not a valid name
      {tx::desc_axis, "Regions1", "x_0001_"},    // 8 characters: too long for an axis
      {tx::desc_inc, "Regions1", "Regions1"},    // but not for an inc
      {tx::desc_weight, "1st", "w_0001_"},       // must start with a letter
      {tx::desc_group, "a_b_9", "a_b_9"},
      {tx::desc_axlist, "x-y", "l_0001_"},
      {tx::desc_group, "x+y", "l_0002_"},  // shares the axlist template
      {tx::desc_inc, "ab-cd", "n_0003_"},  // a character not allowed past the second
      {0, "none", nullptr},
      {8, "none", nullptr},
  };
  for (const auto& c : cases) {
    char* tag = tx::DescsAdd(h, c.type, 1, c.label, nullptr, &moved);
    EXPECT_EQ(str(c.tag), str(tag)) << c.label;
  }
  EXPECT_EQ(nullptr, tx::DescsAdd(h, tx::desc_inc, 1, nullptr, nullptr, &moved));
  EXPECT_EQ("", str(tx::TagGetDescript(h, "n_0002_")));
  EXPECT_EQ("Total Sales", str(tx::TagGetLabel(h, "n_0002_")));
  EXPECT_EQ("n_0002_", str(tx::DescsFindTag(h, tx::desc_inc, "Total Sales")));
  EXPECT_EQ("n_0002_", str(tx::DescsFindTag(h, 0, "Total Sales")));
  EXPECT_EQ(nullptr, tx::DescsFindTag(h, tx::desc_axis, "Total Sales"));

  tx::descs_guard fixed{tx::DescsCreate(1, 0)};
  EXPECT_NE(nullptr, tx::DescsAdd(fixed.handle, tx::desc_bit, 0, "b", "", &moved));
  EXPECT_EQ(nullptr, tx::DescsAdd(fixed.handle, tx::desc_bit, 0, "c", "", &moved));
}

// Generated tags run from 1 to 9999; after that an add that needs one fails.
TEST(Descrips, GeneratedTagsRunOutAfter9999) {
  temp_dir dir;
  std::string text;
  char entry[64];
  for (int n = 1; n < 9999; ++n) {
    std::snprintf(entry, sizeof entry, "#@inc x\n#;tag=n_%04d_\n#;label=L\n", n);
    text += entry;
  }
  write_z(dir / "d.inf", text);
  tx::descs_guard g{tx::DescsLoad((dir / "d.inf").c_str(), 2, 0, nullptr)};
  ASSERT_GE(g.handle, 0);
  EXPECT_EQ("n_9999_", str(tx::DescsAdd(g.handle, tx::desc_inc, 0, "Total Sales", "", nullptr)));
  EXPECT_EQ(nullptr, tx::DescsAdd(g.handle, tx::desc_inc, 0, "More Sales", "", nullptr));
}

TEST(Descrips, GrowingMovesTheSlots) {
  tx::descs_guard g{tx::DescsCreate(1, 1)};
  int moved = -1;
  ASSERT_NE(nullptr, tx::DescsAdd(g.handle, tx::desc_inc, 0, "a", "", &moved));
  EXPECT_EQ(0, moved);
  ASSERT_NE(nullptr, tx::DescsAdd(g.handle, tx::desc_inc, 0, "b", "", &moved));
  EXPECT_EQ(1, moved);
  EXPECT_EQ("a", str(tx::TagGetLabel(g.handle, "a")));
  for (int k = 0; k < 150; ++k) {
    char label[16];
    std::snprintf(label, sizeof label, "l%d", k);
    ASSERT_NE(nullptr, tx::DescsAdd(g.handle, tx::desc_inc, 0, label, nullptr, nullptr));
  }
  EXPECT_EQ("l149", str(tx::TagGetLabel(g.handle, "l149")));
}

TEST(Descrips, FindIteration) {
  tx::descs_guard g{tx::DescsCreate(0, 0)};
  int h = g.handle;
  for (const char* label : {"a1", "a2"}) tx::DescsAdd(h, tx::desc_axis, 0, label, "", nullptr);
  tx::DescsAdd(h, tx::desc_inc, 0, "i1", "", nullptr);
  tx::DescsAdd(h, tx::desc_axis, 0, "a3", "", nullptr);
  EXPECT_EQ(nullptr, tx::DescsFindNextTag(h, tx::desc_axis));  // no first yet
  EXPECT_EQ("a1", str(tx::DescsFindFirstTag(h, tx::desc_axis)));
  EXPECT_EQ("i1", str(tx::DescsFindFirstTag(h, tx::desc_inc)));
  EXPECT_EQ("a2", str(tx::DescsFindNextTag(h, tx::desc_axis)));
  EXPECT_EQ(nullptr, tx::DescsFindNextTag(h, tx::desc_inc));
  EXPECT_EQ("a3", str(tx::DescsFindNextTag(h, tx::desc_axis)));
  EXPECT_EQ(nullptr, tx::DescsFindNextTag(h, tx::desc_axis));
  EXPECT_EQ(nullptr, tx::DescsFindNextTag(h, tx::desc_axis));  // and stays at the end
  std::string all;
  for (char* t = tx::DescsFindFirstTag(h, 0); t != nullptr; t = tx::DescsFindNextTag(h, 0))
    all += std::string(t) + " ";
  EXPECT_EQ("a1 a2 i1 a3 ", all);
  EXPECT_EQ(nullptr, tx::DescsFindFirstTag(h, 9));
  EXPECT_EQ(nullptr, tx::DescsFindFirstTag(-1, 0));  // no such handle, any type
  EXPECT_EQ(nullptr, tx::DescsFindFirstTag(h, tx::desc_weight));
}

TEST(Descrips, SettersAndRemoval) {
  tx::descs_guard g{tx::DescsCreate(0, 0)};
  int h = g.handle;
  tx::DescsAdd(h, tx::desc_axis, 0, "q1", "text", nullptr);
  tx::DescsAdd(h, tx::desc_weight, 0, "w1", "", nullptr);
  int moved = -1;
  EXPECT_EQ(0, tx::TagSetLabel(h, "q1", "q", &moved));
  EXPECT_EQ(0, moved);
  EXPECT_EQ(0, tx::TagSetLabel(h, "q1", "a longer label", &moved));
  EXPECT_EQ(1, moved);
  EXPECT_EQ("a longer label", str(tx::TagGetLabel(h, "q1")));
  EXPECT_EQ(0, tx::TagSetDescript(h, "q1", "more descriptive text", &moved));
  EXPECT_EQ(1, moved);
  EXPECT_EQ(-1, tx::TagSetLabel(h, "nope", "x", &moved));
  EXPECT_EQ(0, tx::TagSetLevel(h, "q1", 12));
  EXPECT_EQ(12, tx::TagGetLevel(h, "q1"));
  EXPECT_EQ(0, tx::TagSetGrid(h, "q1", 2));
  EXPECT_EQ(-1, tx::TagSetGrid(h, "w1", 2));
  EXPECT_EQ(0, tx::TagSetWmid(h, "w1", 7));
  EXPECT_EQ(-1, tx::TagSetWmid(h, "q1", 7));
  EXPECT_EQ(7, tx::TagGetWmid(h, "w1"));
  EXPECT_EQ(0, tx::TagGetGrid(h, "w1"));
  EXPECT_EQ(0, tx::TagSetUserCreated(h, "w1", 5));
  EXPECT_EQ(1, tx::TagGetUserCreated(h, "w1"));
  EXPECT_EQ(0, tx::TagSetParent(h, "q1", "parent_09"));
  EXPECT_EQ(-1, tx::TagSetParent(h, "q1", "parent_010"));
  EXPECT_EQ(-1, tx::TagSetParent(h, "w1", "p"));
  EXPECT_EQ("parent_09", str(tx::TagGetParent(h, "q1")));

  EXPECT_EQ(0, tx::DescsRemoveTag(h, "q1"));
  EXPECT_EQ(-1, tx::DescsRemoveTag(h, "q1"));
  EXPECT_EQ(nullptr, tx::TagGetLabel(h, "q1"));
  EXPECT_EQ("w1", str(tx::DescsFindFirstTag(h, 0)));
  // The removed slot is not reused; the label may be added again.
  EXPECT_EQ("q1", str(tx::DescsAdd(h, tx::desc_axis, 0, "q1", "", nullptr)));
  EXPECT_EQ(-1, tx::DescsRemoveTag(7, "w1"));
}

TEST(Descrips, SaveFailures) {
  temp_dir dir;
  tx::descs_guard g{tx::DescsCreate(0, 0)};
  EXPECT_EQ(-3, tx::DescsSave(g.handle, nullptr));  // a created set has no name
  EXPECT_EQ(-3, tx::DescsSave(g.handle, ""));
  EXPECT_EQ(-41, tx::DescsSave(g.handle, (dir / "no/such/dir").c_str()));
  EXPECT_EQ(-41, tx::DescsSave(5, (dir / "x").c_str()));
  EXPECT_EQ(-41, tx::DescsSave(g.handle, "/dev/full"));
  for (const int code : {tx::DescsSave(g.handle, ""), tx::DescsSave(g.handle, "/dev/full")})
    expect_explained(code);
  EXPECT_EQ(0, tx::DescsSave(g.handle, (dir / "empty.inf").c_str()));
  EXPECT_EQ("##version=1001\n", read_z(dir / "empty.inf"));
}

}  // namespace
