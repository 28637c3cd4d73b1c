// The DIB that GetPicture hands out: its header block, its pixel block and
// their layout; file and memory input; every way the call can fail.
#include <cstring>
#include <string>

#include "wennel_api.h"

namespace {

using DibLayout = WennelTest;
using InputKinds = WennelTest;
using Failures = WennelTest;

std::uint32_t Le32(const Bytes& b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at] | (b[at + 1] << 8) | (b[at + 2] << 16)) |
         (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
std::uint16_t Le16(const Bytes& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

// Checks the BITMAPINFOHEADER field by field.
void ExpectInfoHeader(const Bytes& h, std::int32_t width, std::int32_t height,
                      std::uint32_t size_image) {
  ASSERT_EQ(h.size(), 1078u);
  EXPECT_EQ(Le32(h, 0), 40u);                                // biSize
  EXPECT_EQ(static_cast<std::int32_t>(Le32(h, 4)), width);   // biWidth
  EXPECT_EQ(static_cast<std::int32_t>(Le32(h, 8)), height);  // biHeight
  EXPECT_EQ(Le16(h, 12), 1);                                 // biPlanes
  EXPECT_EQ(Le16(h, 14), 8);                                 // biBitCount
  EXPECT_EQ(Le32(h, 16), 0u);                                // biCompression
  EXPECT_EQ(Le32(h, 20), size_image);                        // biSizeImage
  EXPECT_EQ(Le32(h, 24), 0u);                                // biXPelsPerMeter
  EXPECT_EQ(Le32(h, 28), 0u);                                // biYPelsPerMeter
  EXPECT_EQ(Le32(h, 32), 256u);                              // biClrUsed
  EXPECT_EQ(Le32(h, 36), 0u);                                // biClrImportant
  EXPECT_EQ(Bytes(h.begin() + 1064, h.end()), Bytes(14, 0));
}

TEST_F(DibLayout, Picture640By480) {
  const Bytes pixels = CountingPixels(640 * 480);
  const Dib dib = PictureFromMemory(LiteralPicture(640, 480, pixels));
  ASSERT_EQ(dib.result, 0);
  ExpectInfoHeader(dib.header, 640, 480, 643 * 480);
  const Bytes palette = TestPalette();
  for (int i = 0; i < 256; ++i) {
    EXPECT_EQ(Bytes(dib.header.begin() + 40 + 4 * i, dib.header.begin() + 44 + 4 * i),
              Bytes(palette.begin() + 4 * i, palette.begin() + 4 * i + 4))
        << "entry " << i;
  }
  ASSERT_EQ(dib.pixels.size(), 643u * 480u);
  EXPECT_EQ(Bytes(dib.pixels.begin(), dib.pixels.begin() + 640 * 480), pixels);
  EXPECT_EQ(Bytes(dib.pixels.begin() + 640 * 480, dib.pixels.end()), Bytes(3 * 480, 0));
}

TEST_F(DibLayout, PaletteFourthBytesBecomeZero) {
  Bytes palette = TestPalette();
  const Bytes entry = HexBytes("10 20 30 FF");
  std::copy(entry.begin(), entry.end(), palette.begin() + 4 * 7);
  palette[4 * 255 + 3] = 0x01;
  const Dib dib = PictureFromMemory(Gp8File(0, 0, 1, 1, HexBytes("01 07"), palette));
  ASSERT_EQ(dib.result, 0);
  EXPECT_EQ(Bytes(dib.header.begin() + 40 + 28, dib.header.begin() + 40 + 32),
            HexBytes("10 20 30 00"));
  EXPECT_EQ(dib.header[40 + 4 * 255 + 3], 0);
  EXPECT_EQ(dib.pixels, HexBytes("07 00 00 00"));
}

TEST_F(DibLayout, RowsStartAtMultiplesOfFour) {
  struct Case {
    std::uint16_t right, bottom;
  } cases[] = {{1, 4}, {2, 3}, {3, 5}, {4, 3}, {5, 2}, {6, 7}, {7, 1}, {8, 2}, {13, 9}, {641, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.right) + " x " + std::to_string(c.bottom));
    const Bytes pixels = CountingPixels(std::size_t{c.right} * c.bottom);
    const Dib dib = PictureFromMemory(LiteralPicture(c.right, c.bottom, pixels));
    ASSERT_EQ(dib.result, 0);
    const std::size_t stride = (c.right + 3u) / 4 * 4;
    const std::size_t size = (c.right + 3u) * c.bottom;
    ExpectInfoHeader(dib.header, c.right, c.bottom, static_cast<std::uint32_t>(size));
    ASSERT_EQ(dib.pixels.size(), size);
    Bytes expected(size, 0);  // fill after each row and the tail: 0
    for (std::size_t row = 0; row < c.bottom; ++row) {
      std::copy_n(pixels.begin() + static_cast<std::ptrdiff_t>(row * c.right), c.right,
                  expected.begin() + static_cast<std::ptrdiff_t>(row * stride));
    }
    EXPECT_EQ(dib.pixels, expected);
  }
}

TEST_F(DibLayout, EmptyPictures) {
  // Nothing to decode: no stream byte is read; an empty block is no failure.
  Dib dib = PictureFromMemory(Gp8File(0, 0, 0, 5, {}));
  ASSERT_EQ(dib.result, 0);
  ExpectInfoHeader(dib.header, 0, 5, 15);
  EXPECT_EQ(dib.pixels, Bytes(15, 0));

  dib = PictureFromMemory(Gp8File(0, 0, 640, 0, {}));
  ASSERT_EQ(dib.result, 0);
  ExpectInfoHeader(dib.header, 640, 0, 0);
  EXPECT_TRUE(dib.pixels.empty());
}

TEST_F(InputKinds, AnyNonZeroKindIsMemoryForGetPicture) {
  const Bytes file = LiteralPicture(4, 2, CountingPixels(8));
  for (std::uint32_t flags : {1u, 2u, 3u, 7u, 0x102u}) {
    const Dib dib = PictureFromMemory(file, flags);
    ASSERT_EQ(dib.result, 0) << flags;
    EXPECT_EQ(dib.pixels, HexBytes("00 01 02 03 04 05 06 07 00 00 00 00 00 00")) << flags;
  }
  // Flags 2: memory for GetPicture above, a file for GetPictureInfo.
  ScratchDirectory dir;
  WriteBytes(dir.File("p.gp8"), file);
  PictureInfoRecord record{};
  EXPECT_EQ(api_.GetPictureInfo(dir.File("p.gp8").c_str(), 0, 2, &record), 0);
  EXPECT_EQ(record.width, 4);
  EXPECT_EQ(record.height, 2);
}

TEST_F(InputKinds, FileIsReadWholeFromTheStart) {
  ScratchDirectory dir;
  const Bytes pixels = CountingPixels(40 * 30);
  Bytes file = LiteralPicture(40, 30, pixels);
  file.insert(file.end(), 100, 0xEE);  // bytes after the picture's end are not used
  WriteBytes(dir.File("p.gp8"), file);
  for (std::int32_t second : {0, 500, -1}) {
    const Dib dib = Picture(dir.File("p.gp8").c_str(), second, 0x100);
    ASSERT_EQ(dib.result, 0) << second;
    const Dib from_memory = PictureFromMemory(file);
    EXPECT_EQ(dib.header, from_memory.header);
    EXPECT_EQ(dib.pixels, from_memory.pixels);
  }
}

TEST_F(Failures, NoPictureNothingHandedOut) {
  ScratchDirectory dir;
  const Bytes good = LiteralPicture(4, 2, CountingPixels(8));
  const Bytes no_stream_byte = Bytes(good.begin(), good.begin() + 1032);
  const Bytes short_palette = Bytes(good.begin(), good.begin() + 1031);
  WriteBytes(dir.File("empty.gp8"), {});
  WriteBytes(dir.File("short.gp8"), short_palette);
  WriteBytes(dir.File("header.gp8"), Bytes(good.begin(), good.begin() + 8));
  const std::string empty = dir.File("empty.gp8");
  const std::string short_file = dir.File("short.gp8");
  const std::string header_only = dir.File("header.gp8");
  const Bytes left = Gp8File(1, 0, 4, 2, LiteralStream(CountingPixels(8)));
  const Bytes top = Gp8File(0, 1, 4, 2, LiteralStream(CountingPixels(8)));
  // (65535 + 3) x 65535 does not fit in 32 bits.
  const Bytes huge = Gp8File(0, 0, 0xFFFF, 0xFFFF, LiteralStream(CountingPixels(8)));
  auto memory = [](const Bytes& b) { return reinterpret_cast<const char*>(b.data()); };
  auto size = [](const Bytes& b) { return static_cast<std::int32_t>(b.size()); };
  struct Case {
    const char* what;
    const char* source;
    std::int32_t length;
    std::uint32_t flags;
  } cases[] = {
      {"missing file", "/nonexistent/vyn/p.gp8", 0, 0},
      {"null path", nullptr, 0, 0},
      {"empty file", empty.c_str(), 0, 0},
      {"file shorter than the palette", short_file.c_str(), 0, 0},
      {"file holding a header only", header_only.c_str(), 0, 0},
      {"memory null", nullptr, 2000, 1},
      {"memory length 0", memory(good), 0, 1},
      {"memory shorter than the palette", memory(short_palette), size(short_palette), 1},
      {"no stream at all", memory(no_stream_byte), size(no_stream_byte), 1},
      {"left not 0", memory(left), size(left), 1},
      {"top not 0", memory(top), size(top), 1},
      {"pixel block beyond 32 bits", memory(huge), size(huge), 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Picture(c.source, c.length, c.flags).result, -1) << c.what;
  }
  // Without somewhere to put the handles nothing is made.
  HLOCAL header = kUntouchedHandle;
  EXPECT_EQ(api_.GetPicture(memory(good), size(good), 1, &header, nullptr, 0, 0), -1);
  EXPECT_EQ(api_.GetPicture(memory(good), size(good), 1, nullptr, &header, 0, 0), -1);
  EXPECT_EQ(header, kUntouchedHandle);
}

TEST_F(Failures, GetPreviewRefusesAndTouchesNothing) {
  const Bytes good = LiteralPicture(4, 2, CountingPixels(8));
  for (std::uint32_t flags : {0u, 1u}) {
    HLOCAL header = kUntouchedHandle;
    HLOCAL pixels = kUntouchedHandle;
    EXPECT_EQ(
        api_.GetPreview(reinterpret_cast<const char*>(good.data()),
                        static_cast<std::int32_t>(good.size()), flags, &header, &pixels, 0, 0),
        -1);
    EXPECT_EQ(header, kUntouchedHandle);
    EXPECT_EQ(pixels, kUntouchedHandle);
  }
  EXPECT_EQ(api_.GetPreview(nullptr, 0, 0, nullptr, nullptr, 0, 0), -1);
}

#if !defined(_WIN32)
// Faults injected into the platform layer, one at a time, on file input:
// whichever step fails, nothing is handed out and nothing is left behind.
TEST_F(Failures, PlatformFaults) {
  ScratchDirectory dir;
  const std::string path = dir.File("p.gp8");
  WriteBytes(path, LiteralPicture(8, 8, CountingPixels(64)));
  struct Case {
    const char* what;
    PlatformFault fault;
    long nth;
  } cases[] = {
      {"first open", PlatformFault::kOpen, 1},      {"second open", PlatformFault::kOpen, 2},
      {"working block", PlatformFault::kAlloc, 1},  {"header block", PlatformFault::kAlloc, 2},
      {"pixel block", PlatformFault::kAlloc, 3},    {"read", PlatformFault::kRead, 1},
      {"short read", PlatformFault::kShortRead, 1},
  };
  // A working block of zeros reads as a 0 x 0 picture, which would decode:
  // only the check of the read itself can refuse it.
  PlatformFillNewBlocks(0);
  for (const auto& c : cases) {
    PlatformResetFaults();
    PlatformFailNth(c.fault, c.nth);
    EXPECT_EQ(Picture(path.c_str(), 0, 0).result, -1) << c.what;
  }
  PlatformResetFaults();
  EXPECT_EQ(Picture(path.c_str(), 0, 0).result, 0);

  // Memory input allocates only the two blocks it hands out.
  const Bytes file = LiteralPicture(8, 8, CountingPixels(64));
  for (long nth : {1L, 2L}) {
    PlatformResetFaults();
    PlatformFailNth(PlatformFault::kAlloc, nth);
    EXPECT_EQ(PictureFromMemory(file).result, -1) << "memory input, allocation " << nth;
    EXPECT_EQ(PlatformCalls(PlatformFault::kAlloc), nth) << "memory input, allocation " << nth;
  }
  PlatformResetFaults();
  EXPECT_EQ(PictureFromMemory(file).result, 0);
}

TEST_F(Failures, APictureItsStreamCannotFillIsRefusedBeforeAllocating) {
  // 60000 x 60000 fits a 32-bit block, but a stream of 17 bytes gives at most
  // 144 pixels: the picture is refused without asking for 3.6 GB. Nor does a
  // stream of 255 bytes, 15 whole groups, give the 2,305 pixels of 5 x 461.
  struct Case {
    std::uint16_t right, bottom;
    std::size_t stream;
  };
  for (const Case& c : {Case{60000, 60000, 17}, Case{5, 461, 255}}) {
    const Bytes file = Gp8File(0, 0, c.right, c.bottom, Bytes(c.stream, 0x00));
    PlatformResetFaults();
    EXPECT_EQ(Picture(reinterpret_cast<const char*>(file.data()), static_cast<std::int32_t>(file.size()), 1).result,
              -1);
    EXPECT_EQ(PlatformCalls(PlatformFault::kAlloc), 0) << c.right << "x" << c.bottom;
  }
  // The most that stream can give still decodes: 8 matches of 18 pixels,
  // plus a second group's worth that the bound allows for.
  const Bytes full = Gp8File(0, 0, 12, 12, Bytes{0x00, 0, 0x0F, 0, 0x0F, 0, 0x0F, 0, 0x0F, 0, 0x0F, 0, 0x0F,
                                                  0, 0x0F, 0, 0x0F});
  EXPECT_EQ(Picture(reinterpret_cast<const char*>(full.data()), static_cast<std::int32_t>(full.size()), 1).result, 0);
}

TEST_F(Failures, ShortReadHoldingTheWholePictureIsAccepted) {
  ScratchDirectory dir;
  Bytes file = LiteralPicture(8, 8, CountingPixels(64));
  const std::size_t picture_size = file.size();
  file.resize(2 * picture_size, 0xEE);  // half of the file is the whole picture
  WriteBytes(dir.File("p.gp8"), file);
  PlatformResetFaults();
  PlatformFailNth(PlatformFault::kShortRead, 1);
  const Dib dib = Picture(dir.File("p.gp8").c_str(), 0, 0);
  PlatformResetFaults();
  ASSERT_EQ(dib.result, 0);
  EXPECT_EQ(Bytes(dib.pixels.begin(), dib.pixels.begin() + 64), CountingPixels(64));
}
#endif

}  // namespace
