// Recognition of ARC archives: the member count, the plain and the scrambled
// pass, and what each leaves for the listing.
#include <cstring>
#include <filesystem>
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
  // Scrambled, every name examined is checked again once descrambled, the
  // first and the last alike.
  struct Scrambled {
    std::string first, second;
    std::int32_t expected;
  };
  for (const Scrambled& c : {Scrambled{"A.TXT", "B.TXT", -1}, Scrambled{"README", "B.TXT", 0},
                             Scrambled{"A.TXT", "README", 0}, Scrambled{"A.TXT", "X.T T", 0}}) {
    const Bytes image = ArcImage(2, {ArcEntry(c.first, 0, 0), ArcEntry(c.second, 0, 0)}, true);
    EXPECT_EQ(Recognise(image), c.expected) << c.first << ", " << c.second;
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
  auto first_name = [&](const Bytes& image, GetArchiveInfoFn list = nullptr) {
    HLOCAL listing = nullptr;
    EXPECT_EQ((list ? list : api_.GetArchiveInfo)(reinterpret_cast<const char*>(image.data()),
                                                  static_cast<std::int32_t>(image.size()), 1, &listing),
              0);
    Bytes block = TakeBlock(listing);
    return std::string(reinterpret_cast<const FileInfoRecord*>(block.data())->name);
  };

  {
    // Until it has recognised anything, a module just loaded (a copy, so
    // that nothing this process did before counts) takes a directory for plain.
    ScratchDirectory dir;
    const std::string copy =
        dir.File("fresh-" + std::filesystem::path(PluginPath("cobbet")).filename().string());
    std::filesystem::copy_file(PluginPath("cobbet"), copy);
    PluginModule fresh(copy);
    ASSERT_TRUE(fresh.loaded()) << fresh.error();
    EXPECT_EQ(first_name(plain, fresh.Export<GetArchiveInfoFn>("GetArchiveInfo")), "A.TXT");
  }
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

TEST_F(Recognition, ScrambledAsciiNamesAreAlwaysDescrambled) {
  // Whatever printable ASCII a name holds, its scrambled form must not pass
  // the plain pass: the archive is recognised as scrambled, and the listing
  // then gives the names back as they were written. Every character other
  // than "." stands in every place of an eight-character stem, and as the
  // stem of a one-character name.
  for (int c = 0x20; c < 0x7F; ++c) {
    if (c == '.') continue;
    const std::string stem(8, static_cast<char>(c));
    const std::string names[] = {stem + ".TXT", std::string(1, static_cast<char>(c)) + ".A"};
    const Bytes scrambled = BuildArchive({{names[0], {}}, {names[1], TextBytes("z")}}, true);
    SCOPED_TRACE(names[0]);
    ASSERT_EQ(Recognise(scrambled), -1);
    HLOCAL listing = nullptr;
    ASSERT_EQ(api_.GetArchiveInfo(reinterpret_cast<const char*>(scrambled.data()),
                                  static_cast<std::int32_t>(scrambled.size()), 1, &listing),
              0);
    const Bytes block = TakeBlock(listing);
    ASSERT_EQ(block.size(), 3 * sizeof(FileInfoRecord));
    const auto* records = reinterpret_cast<const FileInfoRecord*>(block.data());
    EXPECT_EQ(std::string(records[0].name), names[0]);
    EXPECT_EQ(std::string(records[1].name), names[1]);
  }
}

TEST_F(Recognition, RecognisingTheSameHeadTwiceKeepsItScrambled) {
  // The head handed over is never rewritten: were it descrambled in place,
  // the second look would take it for a plain directory, and the archive
  // file, scrambled on disk, would then be listed without descrambling.
  const Bytes scrambled = BuildArchive({{"A.TXT", TextBytes("a")}, {"B.TXT", TextBytes("b")}}, true);
  ScratchDirectory dir;
  WriteBytes(dir.File("s.arc"), scrambled);
  Bytes head = HeadOf(scrambled);
  EXPECT_EQ(api_.IsSupported("x", reinterpret_cast<HandleOrHead>(head.data())), -1);
  EXPECT_EQ(api_.IsSupported("x", reinterpret_cast<HandleOrHead>(head.data())), -1);
  EXPECT_EQ(head, HeadOf(scrambled));
  HLOCAL listing = nullptr;
  ASSERT_EQ(api_.GetArchiveInfo(dir.File("s.arc").c_str(), 0, 0, &listing), 0);
  const Bytes block = TakeBlock(listing);
  ASSERT_EQ(block.size(), 3 * sizeof(FileInfoRecord));
  EXPECT_STREQ(reinterpret_cast<const FileInfoRecord*>(block.data())[1].name, "B.TXT");
}

}  // namespace
