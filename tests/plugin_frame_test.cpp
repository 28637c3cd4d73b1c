// GetPluginInfo and the outer layer of IsSupported, through the archive
// plug-in's exports.
#include <cstring>
#include <string>

#include "cobbet_api.h"

namespace {

using InformationStrings = CobbetTest;

TEST_F(InformationStrings, EachIndexGivesItsStringAndLength) {
  const char* expected[] = {"00AM", "Quarvel - ARC extract library ver0.20 (C) 2026 cobbet authors",
                            "*.ARC", "Vyn Archived File(ARC)"};
  for (int i = 0; i < 4; ++i) {
    char buffer[128];
    std::memset(buffer, 'x', sizeof buffer);
    const auto n = api_.GetPluginInfo(i, buffer, sizeof buffer);
    EXPECT_EQ(n, static_cast<std::int32_t>(std::strlen(expected[i]))) << i;
    EXPECT_STREQ(buffer, expected[i]) << i;
  }
}

TEST_F(InformationStrings, RefusalsLeaveTheBufferUntouched) {
  struct Case {
    std::int32_t index;
    std::int32_t size;
  } cases[] = {{4, 100}, {-1, 100}, {0x7FFFFFFF, 100}, {0, 4}, {0, 0}, {0, -5}, {1, 10}};
  for (const auto& c : cases) {
    char buffer[100];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(api_.GetPluginInfo(c.index, buffer, c.size), 0) << c.index << "/" << c.size;
    EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, 'x'))
        << c.index << "/" << c.size;
  }
  EXPECT_EQ(api_.GetPluginInfo(2, nullptr, 100), 0);
}

TEST_F(InformationStrings, ExactFitIncludesTheTerminator) {
  char buffer[8];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(api_.GetPluginInfo(0, buffer, 5), 4);
  // Nothing is written past the size given.
  EXPECT_EQ(std::string(buffer, 8), std::string("00AM\0xxx", 8));
}

// The host's file handles are the platform's own: KERNEL32's on Windows, file
// descriptors elsewhere.
TEST_F(CobbetTest, IsSupportedReadsTheHeadThroughAFileHandle) {
  ScratchDirectory dir;
  const Bytes archive = BuildArchive({{"A.TXT", TextBytes("alpha")}, {"B.TXT", TextBytes("beta")}});
  WriteBytes(dir.File("a.arc"), archive);
  const HFILE file = _lopen(dir.File("a.arc").c_str(), OF_READ);
  ASSERT_NE(file, HFILE_ERROR);
  _llseek(file, 7, FILE_BEGIN);  // wherever the host left it, the head is read from 0
  EXPECT_EQ(api_.IsSupported("a.arc", static_cast<HandleOrHead>(file)), -1);
  // The handle stays open, after the bytes read (the whole short file here).
  EXPECT_EQ(_llseek(file, 0, FILE_CURRENT), static_cast<LONG>(archive.size()));
  _lclose(file);
}

TEST_F(CobbetTest, ShortFileThroughAHandleSeesZerosPastItsEnd) {
  ScratchDirectory dir;
  // A head whose bytes past the file's end would, if stale, form a good entry.
  Bytes archive = BuildArchive({{"A.TXT", TextBytes("1")}, {"B.TXT", TextBytes("2")}});
  archive.resize(25);  // the second entry keeps only the "B" of its name
  WriteBytes(dir.File("short.arc"), archive);
  const HFILE file = _lopen(dir.File("short.arc").c_str(), OF_READ);
  ASSERT_NE(file, HFILE_ERROR);
  // The cut entry reads as zeros: no "." in its name, so the scrambled pass
  // runs and rejects it.
  EXPECT_EQ(api_.IsSupported("short.arc", static_cast<HandleOrHead>(file)), 0);
  _lclose(file);
}

TEST_F(CobbetTest, SecondArgumentAbove0xFFFFIsAPointer) {
  // 0xFFFF is a handle (no such descriptor: nothing read, not recognised).
  EXPECT_EQ(api_.IsSupported("x", 0xFFFF), 0);
  const Bytes archive = BuildArchive({{"A.TXT", TextBytes("1")}, {"B.TXT", TextBytes("2")}});
  Bytes head = HeadOf(archive);
  EXPECT_EQ(api_.IsSupported(nullptr, reinterpret_cast<HandleOrHead>(head.data())), -1);
}

}  // namespace
