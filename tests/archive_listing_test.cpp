// GetArchiveInfo and GetFileInfo: the listing block and the lookup by name.
#include <cstring>
#include <string>
#include <vector>

#include "cobbet_api.h"

namespace {

const char* AsSource(const Bytes& image) { return reinterpret_cast<const char*>(image.data()); }
std::int32_t LengthOf(const Bytes& image) { return static_cast<std::int32_t>(image.size()); }

class Listing : public CobbetTest {
 protected:
  // The listing of an image (memory input) or of a file, as records.
  std::vector<FileInfoRecord> List(const char* source, std::int32_t length, std::uint32_t flags,
                                   std::size_t* block_size = nullptr) {
    HLOCAL handle = nullptr;
    EXPECT_EQ(api_.GetArchiveInfo(source, length, flags, &handle), 0);
    Bytes block = TakeBlock(handle);
    if (block_size != nullptr) *block_size = block.size();
    std::vector<FileInfoRecord> records(block.size() / sizeof(FileInfoRecord));
    if (!block.empty()) std::memcpy(records.data(), block.data(), records.size() * sizeof(FileInfoRecord));
    return records;
  }

  const std::vector<ArcMember> members_ = {{"README.TXT", TextBytes("read me first\n")},
                                           {"PICTURE.GP8", Bytes(300, 0x5A)},
                                           {"ABCDEFGH.TXT", TextBytes("12")},
                                           {"EMPTY.DAT", {}}};
};

bool AllZero(const FileInfoRecord& r) {
  const auto* b = reinterpret_cast<const unsigned char*>(&r);
  for (std::size_t i = 0; i < sizeof r; ++i)
    if (b[i] != 0) return false;
  return true;
}

TEST_F(Listing, RecordsFollowTheDirectoryAndEndInAZeroRecord) {
  for (bool scrambled : {false, true}) {
    const Bytes archive = BuildArchive(members_, scrambled);
    ASSERT_EQ(Recognise(archive), -1);
    std::size_t block_size = 0;
    const auto records = List(AsSource(archive), LengthOf(archive), 1, &block_size);
    ASSERT_EQ(block_size, (members_.size() + 1) * 428);
    std::uint32_t position = 4 + 20 * static_cast<std::uint32_t>(members_.size());
    for (std::size_t i = 0; i < members_.size(); ++i) {
      const FileInfoRecord& r = records[i];
      EXPECT_EQ(std::string(r.method, 8), std::string("DERUVU\0\0", 8));
      EXPECT_EQ(r.position, position);
      EXPECT_EQ(r.compressed_size, members_[i].data.size());
      EXPECT_EQ(r.extracted_size, members_[i].data.size());
      EXPECT_EQ(r.timestamp, 0u);
      EXPECT_EQ(r.crc, 0u);
      EXPECT_EQ(std::string(r.name), members_[i].name);
      for (char c : r.path) EXPECT_EQ(c, 0);
      for (std::size_t k = members_[i].name.size(); k < sizeof r.name; ++k) EXPECT_EQ(r.name[k], 0);
      position += static_cast<std::uint32_t>(members_[i].data.size());
    }
    EXPECT_TRUE(AllZero(records.back()));
  }
}

TEST_F(Listing, FileInputMatchesMemoryInputWhateverThePosition) {
  ScratchDirectory dir;
  const Bytes archive = BuildArchive(members_, true);
  WriteBytes(dir.File("a.arc"), archive);
  ASSERT_EQ(Recognise(archive), -1);
  const auto from_memory = List(AsSource(archive), LengthOf(archive), 1);
  for (std::uint32_t flags : {0u, 2u, 7u, 0x100u}) {
    for (std::int32_t position : {0, 123, -1}) {
      const auto from_file = List(dir.File("a.arc").c_str(), position, flags);
      ASSERT_EQ(from_file.size(), from_memory.size());
      EXPECT_EQ(std::memcmp(from_file.data(), from_memory.data(), from_file.size() * 428), 0);
    }
  }
}

TEST_F(Listing, TheHostImageIsNeverWritten) {
  const Bytes archive = BuildArchive(members_, true);
  ASSERT_EQ(Recognise(archive), -1);
  const Bytes before = archive;
  const auto first = List(AsSource(archive), LengthOf(archive), 1);
  const auto second = List(AsSource(archive), LengthOf(archive), 1);
  EXPECT_EQ(archive, before);
  EXPECT_EQ(std::memcmp(first.data(), second.data(), first.size() * 428), 0);
  EXPECT_EQ(std::string(second[0].name), "README.TXT");
}

TEST_F(Listing, CountIsTheLow16BitsWhenListed) {
  // 0x00010002 members: recognition refuses it, the listing reads 2.
  Bytes archive = BuildArchive({{"A.TXT", TextBytes("a")}, {"B.TXT", TextBytes("b")}});
  archive[2] = 1;
  const auto records = List(AsSource(archive), LengthOf(archive), 1);
  EXPECT_EQ(records.size(), 3u);
}

TEST_F(Listing, FailuresLeaveTheHandleAlone) {
  ScratchDirectory dir;
  const Bytes archive = BuildArchive(members_);
  Bytes cut_directory(archive.begin(), archive.begin() + 4 + 20 * 3 + 19);
  WriteBytes(dir.File("cut.arc"), cut_directory);
  WriteBytes(dir.File("tiny.arc"), Bytes{0, 0, 0});  // would be an empty archive with a fourth byte
  struct Case {
    const char* what;
    const char* source;
    std::int32_t length;
    std::uint32_t flags;
  } cases[] = {
      {"missing file", "/nonexistent/x.arc", 0, 0},
      {"file under 4 bytes", nullptr, 0, 0},
      {"directory cut short in a file", nullptr, 0, 0},
      {"image under 4 bytes", AsSource(archive), 3, 1},
      {"directory past the image", AsSource(archive), 4 + 20 * 4 - 1, 1},
      {"no source", nullptr, 100, 1},
  };
  const std::string tiny = dir.File("tiny.arc"), cut = dir.File("cut.arc");
  cases[1].source = tiny.c_str();
  cases[2].source = cut.c_str();
  for (const auto& c : cases) {
    HLOCAL handle = reinterpret_cast<HLOCAL>(0x1234);
    EXPECT_EQ(api_.GetArchiveInfo(c.source, c.length, c.flags, &handle), -1) << c.what;
    EXPECT_EQ(handle, reinterpret_cast<HLOCAL>(0x1234)) << c.what;
    EXPECT_EQ(LiveBlocks(), live_at_start_) << c.what;
  }
  // The directory ending exactly at the image's end is whole.
  EXPECT_EQ(List(AsSource(archive), 4 + 20 * 4, 1).size(), 5u);
  const Bytes empty(4, 0);
  EXPECT_EQ(List(AsSource(empty), 4, 1).size(), 1u) << "a count of 0 and nothing else";
}

TEST_F(Listing, TwelveCharacterNamesAreTerminated) {
  // The size that follows the name holds no zero byte ("WXYZ"), so a copy
  // that ran past the twelve name bytes would not end at a NUL by luck.
  Bytes archive =
      ArcImage(2, {ArcEntry("ABCDEFGH.TXT", 0x5A595857, 0x44434241), ArcEntry("X.Y", 0, 0)}, false);
  ASSERT_EQ(Recognise(archive), -1);
  const auto records = List(AsSource(archive), LengthOf(archive), 1);
  EXPECT_EQ(std::string(records[0].name), "ABCDEFGH.TXT");
}

class Lookup : public Listing {
 protected:
  FileInfoRecord Find(const Bytes& archive, const char* name, std::uint32_t flags,
                      std::int32_t expected_result = 0) {
    FileInfoRecord record;
    std::memset(&record, 0xCC, sizeof record);
    EXPECT_EQ(api_.GetFileInfo(AsSource(archive), LengthOf(archive), name, flags, &record),
              expected_result);
    return record;
  }
};

TEST_F(Lookup, FindsByExactNameAndFoldsCaseOnlyWithBit0) {
  // A member stored in mixed case is found whatever the case asked for: the
  // member's name is folded as well as the wanted one.
  std::vector<ArcMember> members = members_;
  members.push_back({"mixed.Txt", TextBytes("m")});
  const Bytes archive = BuildArchive(members, true);
  ASSERT_EQ(Recognise(archive), -1);
  struct Case {
    const char* wanted;
    std::uint32_t flags;
    const char* found;  // nullptr: the all-zero record
  } cases[] = {
      {"PICTURE.GP8", 1, "PICTURE.GP8"}, {"picture.gp8", 1, "PICTURE.GP8"},
      {"Readme.Txt", 1, "README.TXT"},   {"NOPE.TXT", 1, nullptr},
      {"", 1, nullptr},                  {"ABCDEFGH.TXT", 1, "ABCDEFGH.TXT"},
      {"MIXED.TXT", 1, "mixed.Txt"},     {"mixed.txt", 1, "mixed.Txt"},
  };
  for (const auto& c : cases) {
    const FileInfoRecord r = Find(archive, c.wanted, c.flags);
    if (c.found == nullptr) {
      EXPECT_TRUE(AllZero(r)) << c.wanted;
    } else {
      EXPECT_EQ(std::string(r.name), c.found) << c.wanted;
    }
  }
}

TEST_F(Lookup, FileInputFoldsCaseOnlyWithBit0) {
  ScratchDirectory dir;
  const Bytes archive = BuildArchive(members_);
  WriteBytes(dir.File("a.arc"), archive);
  ASSERT_EQ(Recognise(archive), -1);
  FileInfoRecord r{};
  ASSERT_EQ(api_.GetFileInfo(dir.File("a.arc").c_str(), 0, "README.TXT", 0, &r), 0);
  EXPECT_EQ(r.extracted_size, members_[0].data.size());
  ASSERT_EQ(api_.GetFileInfo(dir.File("a.arc").c_str(), 0, "readme.txt", 0, &r), 0);
  EXPECT_TRUE(AllZero(r));
  // Only flags 1 mean memory input; every other value reads the file, and
  // bit 0 alone decides whether names are compared folded to upper case.
  for (std::uint32_t flags : {2u, 3u, 4u, 5u, 6u, 7u}) {
    std::memset(&r, 0xCC, sizeof r);
    ASSERT_EQ(api_.GetFileInfo(dir.File("a.arc").c_str(), 0, "readme.txt", flags, &r), 0) << flags;
    if ((flags & 1) != 0) {
      EXPECT_STREQ(r.name, "README.TXT") << flags;
      EXPECT_EQ(r.position, 4u + 20 * members_.size()) << flags;
    } else {
      EXPECT_TRUE(AllZero(r)) << flags;
    }
  }
}

TEST_F(Lookup, OverlongNamesMatchNothing) {
  // A member's whole twelve-character name followed by more: a lookup that
  // cut the wanted name to a member name's width, or compared only that
  // many bytes, would find ABCDEFGH.TXT.
  const Bytes archive = BuildArchive(members_);
  ASSERT_EQ(Recognise(archive), -1);
  const std::string long_name = "ABCDEFGH.TXT" + std::string(5000, 'X');
  ASSERT_EQ(std::string(Find(archive, long_name.substr(0, 12).c_str(), 1).name), "ABCDEFGH.TXT");
  for (std::size_t n : {13u, 199u, 200u, 4999u}) {
    const FileInfoRecord r = Find(archive, long_name.substr(0, n).c_str(), 1);
    EXPECT_TRUE(AllZero(r)) << n;
  }
}

TEST_F(Lookup, AFailedListingLeavesTheRecordAlone) {
  const Bytes archive = BuildArchive(members_);
  FileInfoRecord r;
  std::memset(&r, 0xCC, sizeof r);
  EXPECT_EQ(api_.GetFileInfo(AsSource(archive), 10, "README.TXT", 1, &r), -1);
  for (std::size_t i = 0; i < sizeof r; ++i) EXPECT_EQ(reinterpret_cast<unsigned char*>(&r)[i], 0xCC);
  EXPECT_EQ(api_.GetFileInfo("/nonexistent/a.arc", 0, "README.TXT", 0, &r), -1);
}

}  // namespace
