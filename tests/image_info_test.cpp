// The image plug-in's strings, recognition of GP8 pictures, and the picture
// information reported from a header.
#include <cstring>
#include <string>

#include "wennel_api.h"

namespace {

using InformationStrings = WennelTest;
using Recognition = WennelTest;
using PictureInfo = WennelTest;

TEST_F(InformationStrings, EachIndexGivesItsStringAndLength) {
  const char* expected[] = {"00IN", "GP8 to DIB filter ver0.20 (C) 2026 wennel authors", "*.GP8",
                            "Vyn 256-color Picture Format(GP8)"};
  for (int i = 0; i < 4; ++i) {
    char buffer[128];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(api_.GetPluginInfo(i, buffer, sizeof buffer),
              static_cast<std::int32_t>(std::strlen(expected[i])))
        << i;
    EXPECT_STREQ(buffer, expected[i]) << i;
  }
  char small[4];
  std::memset(small, 'x', sizeof small);
  EXPECT_EQ(api_.GetPluginInfo(0, small, 4), 0);  // "00IN" needs 5 bytes
  EXPECT_EQ(small[0], 'x');
  EXPECT_EQ(api_.GetPluginInfo(4, small, 4), 0);
}

// The sample picture: 640 x 480, every palette entry ending in 0.
Bytes SampleHead() { return Gp8File(0, 0, 640, 480, {}); }

TEST_F(Recognition, HeaderAndPaletteRules) {
  struct Case {
    const char* what;
    std::size_t offset;  // byte to set; SIZE_MAX for none
    unsigned char value;
    std::int32_t expected;
  } cases[] = {
      {"sample 640 x 480", SIZE_MAX, 0, -1},
      {"left low byte", 0, 1, 0},
      {"top high byte", 3, 1, 0},
      {"fourth byte of entry 0", 11, 1, 0},
      {"fourth byte of entry 128", 8 + 4 * 128 + 3, 0x80, 0},
      {"fourth byte of entry 255", 1031, 1, 0},
      {"colour bytes are free", 1030, 0xFF, -1},
      {"first stream byte is not examined", 1032, 0xFF, -1},
  };
  for (const auto& c : cases) {
    Bytes file = SampleHead();
    file.resize(1040, 0);
    if (c.offset != SIZE_MAX) file[c.offset] = c.value;
    EXPECT_EQ(Recognise(file), c.expected) << c.what;
  }
}

TEST_F(Recognition, EmptyInOneDirectionOnly) {
  struct Case {
    std::uint16_t right, bottom;
    std::int32_t expected;
  } cases[] = {{0, 0, 0}, {0, 5, -1}, {5, 0, -1}, {0xFFFF, 0xFFFF, -1}, {0x100, 0, -1}};
  for (const auto& c : cases) {
    EXPECT_EQ(Recognise(Gp8File(0, 0, c.right, c.bottom, {})), c.expected)
        << c.right << " x " << c.bottom;
  }
}

// A record filled with a pattern, to see what a call wrote.
PictureInfoRecord Untouched() {
  PictureInfoRecord record;
  std::memset(&record, 0xAB, sizeof record);
  return record;
}

bool SameBytes(const PictureInfoRecord& a, const PictureInfoRecord& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

void ExpectRecord(const PictureInfoRecord& r, std::int32_t left, std::int32_t top,
                  std::int32_t width, std::int32_t height) {
  EXPECT_EQ(r.left, left);
  EXPECT_EQ(r.top, top);
  EXPECT_EQ(r.width, width);
  EXPECT_EQ(r.height, height);
  EXPECT_EQ(r.x_density, 1);
  EXPECT_EQ(r.y_density, 1);
  EXPECT_EQ(r.bits_per_pixel, 8);
  EXPECT_EQ(r.reserved, 0);  // bytes 22 and 23
  EXPECT_EQ(r.text_handle, 0u);
}

TEST_F(PictureInfo, RectangleFromTheHeaderUnchecked) {
  struct Case {
    std::uint16_t left, top, right, bottom;
    std::int32_t width, height;
  } cases[] = {
      {0, 0, 640, 480, 640, 480}, {0, 0, 0, 5, 0, 5},  {0, 0, 0xFFFF, 1, 65535, 1},
      {10, 0, 4, 3, -6, 3},       {0, 7, 2, 0, 2, -7}, {0xFFFF, 0xFFFF, 0, 0, -65535, -65535},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.left) + "," + std::to_string(c.top) + "," +
                 std::to_string(c.right) + "," + std::to_string(c.bottom));
    Bytes header = Gp8File(c.left, c.top, c.right, c.bottom, {});
    header.resize(8);  // the header alone is enough
    PictureInfoRecord record = Untouched();
    ASSERT_EQ(api_.GetPictureInfo(reinterpret_cast<const char*>(header.data()), 8, 1, &record), 0);
    ExpectRecord(record, c.left, c.top, c.width, c.height);
  }
}

TEST_F(PictureInfo, OnlyFlagsOneIsMemoryInput) {
  ScratchDirectory dir;
  const std::string path = dir.File("p.gp8");
  WriteBytes(path, Gp8File(0, 0, 640, 480, {}));
  const Bytes image = Gp8File(0, 0, 3, 2, {});

  for (std::uint32_t flags : {0u, 2u, 3u, 7u, 0x100u}) {
    PictureInfoRecord record = Untouched();
    // The second argument is not a position: the header comes from offset 0.
    EXPECT_EQ(api_.GetPictureInfo(path.c_str(), 100, flags, &record), 0) << flags;
    ExpectRecord(record, 0, 0, 640, 480);
  }
  for (std::uint32_t flags : {1u, 0x101u, 0xFFFFFFF9u}) {
    PictureInfoRecord record = Untouched();
    EXPECT_EQ(api_.GetPictureInfo(reinterpret_cast<const char*>(image.data()),
                                  static_cast<std::int32_t>(image.size()), flags, &record),
              0)
        << flags;
    ExpectRecord(record, 0, 0, 3, 2);
  }
}

TEST_F(PictureInfo, NoHeaderLeavesTheRecordUntouched) {
  ScratchDirectory dir;
  const Bytes seven = HexBytes("00 00 00 00 80 02 E0");
  WriteBytes(dir.File("seven.gp8"), seven);
  WriteBytes(dir.File("empty.gp8"), {});
  const Bytes eight = Gp8File(0, 0, 640, 480, {});
  struct Case {
    const char* what;
    const char* source;
    std::int32_t length;
    std::uint32_t flags;
  } cases[] = {
      {"missing file", "/nonexistent/vyn/p.gp8", 0, 0},
      {"file of 7 bytes", nullptr, 0, 0},
      {"empty file", nullptr, 0, 0},
      {"null path", nullptr, 0, 0},
      {"memory length 7", reinterpret_cast<const char*>(eight.data()), 7, 1},
      {"memory length 0", reinterpret_cast<const char*>(eight.data()), 0, 1},
      {"memory null", nullptr, 8, 1},
  };
  const std::string seven_path = dir.File("seven.gp8");
  const std::string empty_path = dir.File("empty.gp8");
  cases[1].source = seven_path.c_str();
  cases[2].source = empty_path.c_str();
  for (const auto& c : cases) {
    PictureInfoRecord record = Untouched();
    EXPECT_EQ(api_.GetPictureInfo(c.source, c.length, c.flags, &record), -1) << c.what;
    EXPECT_TRUE(SameBytes(record, Untouched())) << c.what;
  }
  EXPECT_EQ(api_.GetPictureInfo(reinterpret_cast<const char*>(eight.data()), 8, 1, nullptr), -1);
}

}  // namespace
