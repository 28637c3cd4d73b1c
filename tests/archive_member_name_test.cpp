// GetFile's file output checks that a member name stays in the destination
// without taking the second byte of a double-byte character for a "\". The
// walk is run here with the lead bytes of CP932, as Windows runs it on a
// Japanese system, whatever system the tests run on; and through the
// exports, as the build's own system runs it.
#include <gtest/gtest.h>

#include "archive/member_name.h"
#include "cobbet_api.h"

namespace {

// CP932 (Shift-JIS) lead bytes: 0x81 to 0x9F and 0xE0 to 0xFC.
bool Cp932LeadByte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// "ソ表.TXT": both characters end in 0x5C.
const std::string kSoHyou = "\x83\x5C\x95\x5C.TXT";

TEST(MemberNameWalk, OnlySeparatorsOfTheirOwnCount) {
  struct Case {
    std::string name;
    bool stays;
  };
  const Case cases[] = {
      {kSoHyou, true},
      {"\x83\x5C", true},
      {"\x83", true},  // a lead byte at the end stands alone
      {"A.TXT", true},
      {"\x83\x83\x5C.TXT", false},  // a pair, then a "\" of its own
      {"\x5C\x83.TXT", false},
      {"A\\B.TXT", false},
      {"..\\X.BAT", false},
      {"C:X.BAT", false},
      {"A/B.TXT", false},
      {"\x83/X.TXT", false},  // "/" ends no double-byte character
      {"\x83:X.TXT", false},
      {"..", false},
      {".", false},
      {"", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NameStaysInDirectory(c.name.c_str(), "/\\:", Cp932LeadByte), c.stays) << c.name;
  }
}

class MemberNameExports : public CobbetTest {
 protected:
  // Whether GetFile writes the member, from the archive file and from
  // memory after GetFileInfo, and under its own name.
  void ExpectWritten(const std::string& name, bool written) {
    const Bytes archive =
        ArcImage(2, {ArcEntry(name, 3, 44), ArcEntry("OK.TXT", 3, 44)}, false, TextBytes("abc"));
    const std::string path = dir_.File("names.arc");
    WriteBytes(path, archive);
    ASSERT_EQ(Recognise(BuildArchive({{"A.TXT", {}}, {"B.TXT", {}}})), -1);  // plain directories
    for (std::uint32_t flags : {0x000u, 0x001u}) {
      ScratchDirectory out;
      std::string prefix = out.Prefix();
      FileInfoRecord record{};
      ASSERT_EQ(api_.GetFileInfo(path.c_str(), 0, name.c_str(), 0, &record), 0);
      const char* source = flags == 0 ? path.c_str() : "abc";
      EXPECT_EQ(api_.GetFile(source, flags == 0 ? 44 : 3, prefix.data(), flags, 0, 0),
                written ? 0 : -1)
          << name << " " << flags;
      EXPECT_EQ(out.Entries(),
                written ? std::vector<std::string>{name} : std::vector<std::string>{})
          << name << " " << flags;
      EXPECT_TRUE(dir_.Entries() == std::vector<std::string>{"names.arc"}) << name;
    }
  }

  ScratchDirectory dir_;
};

TEST_F(MemberNameExports, DoubleByteNamesAreWrittenWhereTheSystemReadsThemSo) {
#if defined(_WIN32)
  // The ANSI code page decides: on a Japanese system 0x83 begins a
  // character and the name is written; elsewhere 0x5C is a "\".
  ExpectWritten(kSoHyou, IsDBCSLeadByte(0x83) != FALSE);
  ExpectWritten("..\\X.BAT", false);
  ExpectWritten("C:X.BAT", false);
#else
  // Only "/" separates: every other byte is part of a file name.
  ExpectWritten(kSoHyou, true);
  ExpectWritten("..\\X.BAT", true);
  ExpectWritten("C:X.BAT", true);
#endif
  ExpectWritten("\x83/X.TXT", false);
}

}  // namespace
