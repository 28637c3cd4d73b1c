// Recognition of ARC archives: the member count, the plain and the scrambled
// pass, and what each leaves for the listing.
#include <cstring>
#include <string>
#include <vector>

#include "cobbet_api.h"

namespace {

using Recognition = CobbetTest;

std::vector<Bytes> GoodEntries(int n) {
  std::vector<Bytes> entries;
  for (int i = 0; i < n; ++i) entries.push_back(ArcEntry("F" + std::to_string(i) + ".TXT", 1, 0));
  return entries;
}

TEST_F(Recognition, MemberCountBounds) {
  struct Case {
    std::int32_t count;
    std::int32_t expected;
  } cases[] = {{-1, 0}, {0, 0}, {1, 0}, {2, -1}, {99, -1}, {500, -1},
               {10240, -1}, {10241, 0}, {65538, 0}, {0x7FFFFFFF, 0}};
  for (const auto& c : cases) {
    const Bytes image = ArcImage(c.count, GoodEntries(99), false);
    EXPECT_EQ(Recognise(image), c.expected) << "count " << c.count;
  }
}

TEST_F(Recognition, NamesAndExtensions) {
  struct Case {
    std::string second_name;
    std::int32_t expected;
  } cases[] = {
      {"README.TXT", -1},     {"FILE.", -1},         {"a.b", -1},         {"X.ZZZ", -1},
      {"X.!!!", -1},          {"X.z~", 0},           {"X.T T", 0},        {"X.\xE8", 0},
      {"ABCDEFGHIJK.", -1},   {"ABCDEFGHIJ.Q", -1},  {"X.{", 0},          {"X.abcdef", -1},
  };
  for (const auto& c : cases) {
    const Bytes image = ArcImage(2, {ArcEntry("A.TXT", 0, 0), ArcEntry(c.second_name, 0, 0)}, false);
    EXPECT_EQ(Recognise(image), c.expected) << c.second_name;
  }
}

TEST_F(Recognition, LateDotRunsIntoTheSizeField) {
  // "ABCDEFGHIJK." fills the name; the three bytes examined after the dot
  // are the size field's: 0x41 'A' passes, 0x20 (space) fails.
  Bytes good = ArcEntry("ABCDEFGHIJK.", 0x00414141, 0);
  Bytes bad = ArcEntry("ABCDEFGHIJK.", 0x00204141, 0);
  EXPECT_EQ(Recognise(ArcImage(2, {ArcEntry("A.TXT", 1, 0), good}, false)), -1);
  EXPECT_EQ(Recognise(ArcImage(2, {ArcEntry("A.TXT", 1, 0), bad}, false)), 0);
}

TEST_F(Recognition, OnlyTheFirst99EntriesAreExamined) {
  std::vector<Bytes> entries = GoodEntries(99);
  entries.push_back(ArcEntry("BAD.\x01", 1, 0));  // entry 99
  EXPECT_EQ(Recognise(ArcImage(100, entries, false)), -1);
  entries[98] = ArcEntry("BAD.\x01", 1, 0);  // entry 98 is examined
  EXPECT_EQ(Recognise(ArcImage(100, entries, false)), 0);
}

TEST_F(Recognition, ScrambledDirectoryIsRecognisedAndSetsTheFlag) {
  const std::vector<ArcMember> members = {{"README.TXT", TextBytes("hello")},
                                          {"PIC.GP8", TextBytes("pixels")}};
  const Bytes scrambled = BuildArchive(members, true);
  Bytes head = HeadOf(scrambled);
  const Bytes before = head;
  EXPECT_EQ(api_.IsSupported("x.arc", reinterpret_cast<HandleOrHead>(head.data())), -1);
  EXPECT_EQ(head, before) << "the host's head must not be written";

  // The flag it set makes the listing descramble.
  HLOCAL listing = nullptr;
  ASSERT_EQ(api_.GetArchiveInfo(reinterpret_cast<const char*>(scrambled.data()),
                                static_cast<std::int32_t>(scrambled.size()), 1, &listing),
            0);
  Bytes block = TakeBlock(listing);
  ASSERT_EQ(block.size(), 3 * sizeof(FileInfoRecord));
  const auto* records = reinterpret_cast<const FileInfoRecord*>(block.data());
  EXPECT_STREQ(records[0].name, "README.TXT");
  EXPECT_STREQ(records[1].name, "PIC.GP8");
}

TEST_F(Recognition, FlagFollowsTheLastRecognition) {
  const std::vector<ArcMember> members = {{"A.TXT", TextBytes("a")}, {"B.TXT", TextBytes("b")}};
  const Bytes plain = BuildArchive(members, false);
  const Bytes scrambled = BuildArchive(members, true);
  auto first_name = [&](const Bytes& image) {
    HLOCAL listing = nullptr;
    EXPECT_EQ(api_.GetArchiveInfo(reinterpret_cast<const char*>(image.data()),
                                  static_cast<std::int32_t>(image.size()), 1, &listing),
              0);
    Bytes block = TakeBlock(listing);
    return std::string(reinterpret_cast<const FileInfoRecord*>(block.data())->name);
  };

  ASSERT_EQ(Recognise(scrambled), -1);
  EXPECT_EQ(first_name(scrambled), "A.TXT");
  ASSERT_EQ(Recognise(plain), -1);  // plain: the flag goes back to 0
  EXPECT_EQ(first_name(plain), "A.TXT");

  ASSERT_EQ(Recognise(scrambled), -1);
  // A count out of range leaves the flag as it was (1)...
  EXPECT_EQ(Recognise(ArcImage(1, {ArcEntry("A.TXT", 1, 0)}, false)), 0);
  EXPECT_EQ(first_name(scrambled), "A.TXT");
  // ...and so does a bad plain entry.
  EXPECT_EQ(Recognise(ArcImage(2, {ArcEntry("A.TXT", 1, 0), ArcEntry("B.T T", 1, 0)}, false)), 0);
  EXPECT_EQ(first_name(scrambled), "A.TXT");
  // A failed scrambled pass still leaves the flag at 1, after a plain one.
  ASSERT_EQ(Recognise(plain), -1);
  EXPECT_EQ(Recognise(ArcImage(2, {ArcEntry("README", 1, 0), ArcEntry("B.TXT", 1, 0)}, false)), 0);
  EXPECT_EQ(first_name(scrambled), "A.TXT");
}

TEST_F(Recognition, AsciiNamesNeverPassThePlainPassOnceScrambled) {
  // Every mask byte over the name is 0x80 or more, so a scrambled name holds
  // no "." and no NUL: the plain pass always hands over to the scrambled one.
  for (int i = 0; i < 12; ++i) {
    const unsigned char m = kTestMask[i];
    EXPECT_GE(m, 0x80) << i;
  }
  const Bytes scrambled = BuildArchive({{"X.Y", {}}, {"LONGNAME.EXT", TextBytes("z")}}, true);
  EXPECT_EQ(Recognise(scrambled), -1);
}

TEST_F(Recognition, RecognisingTwiceGivesTheSameAnswer) {
  // The head handed over is never rewritten, so a second look sees the same.
  const Bytes scrambled = BuildArchive({{"A.TXT", TextBytes("a")}, {"B.TXT", TextBytes("b")}}, true);
  Bytes head = HeadOf(scrambled);
  EXPECT_EQ(api_.IsSupported("x", reinterpret_cast<HandleOrHead>(head.data())), -1);
  EXPECT_EQ(api_.IsSupported("x", reinterpret_cast<HandleOrHead>(head.data())), -1);
}

}  // namespace
