// The host's picture files: palette PNG and BMP written and read back without
// changing a palette entry or an index; PNGs of every colour type, bit depth
// and interlacing and BMPs of every depth read right, truecolour pictures
// given a palette of their colours; damaged and truncated files refused with
// the reason; and the plug-in's DIB turned into rows.
#include <gtest/gtest.h>
#include <png.h>

#include "byte_order.h"
#include "host/formats/palette_mapping.h"
#include "host/formats/palette_reduction.h"
#include "host/formats/picture_io.h"
#include "host/formats/png_codec.h"
#include "host/formats/picture_scaling.h"
#include "host/host_error.h"
#include "host_test_support.h"
#include "picture_writers.h"

namespace {

using host_test::MakePicture;
using host_test::PictureKind;
using namespace picture_writers;

using host_test::Contains;

void ExpectSamePicture(const IndexedPicture& got, const IndexedPicture& want,
                       const std::string& what) {
  EXPECT_EQ(got.width, want.width) << what;
  EXPECT_EQ(got.height, want.height) << what;
  EXPECT_TRUE(got.palette == want.palette) << what;
  EXPECT_TRUE(got.pixels == want.pixels) << what;
}

IndexedPicture Decode(const Bytes& file, bool expect_transparent = false) {
  bool transparent = !expect_transparent;
  PictureFile picture = DecodePicture(file, transparent);
  EXPECT_EQ(transparent, expect_transparent);
  return picture.indexed;
}

// The reason DecodePicture refuses the file with, or "" when it takes it.
std::string Refusal(const Bytes& file) {
  try {
    bool transparent = false;
    DecodePicture(file, transparent);
  } catch (const HostError& error) {
    return error.what();
  }
  return "";
}

// The colour of every pixel, top row first.
std::vector<Rgb> Colours(const IndexedPicture& picture) {
  std::vector<Rgb> colours;
  for (std::uint8_t index : picture.pixels) colours.push_back(picture.palette.at(index));
  return colours;
}

// Distinct colours in the order they first appear.
std::vector<Rgb> FirstSeen(const std::vector<Rgb>& colours) {
  std::vector<Rgb> seen;
  for (const Rgb& c : colours)
    if (std::find(seen.begin(), seen.end(), c) == seen.end()) seen.push_back(c);
  return seen;
}

TEST(PictureFiles, PaletteFilesComeBackUnchanged) {
  for (PictureFileType type : {PictureFileType::kPng, PictureFileType::kBmp}) {
    for (std::uint32_t width : {1u, 3u, 4u, 5u, 17u}) {
      for (std::uint32_t height : {1u, 2u, 9u}) {
        for (std::uint32_t colours : {1u, 2u, 16u, 256u}) {
          const IndexedPicture picture = MakePicture(PictureKind::kStripes, width, height, colours);
          const std::string what = std::string(type == PictureFileType::kPng ? "png " : "bmp ") +
                                   std::to_string(width) + "x" + std::to_string(height) + "/" +
                                   std::to_string(colours);
          ExpectSamePicture(Decode(EncodePicture(picture, type)), picture, what);
          if (type == PictureFileType::kPng)  // rows streamed through zlib, as for big pictures
            ExpectSamePicture(Decode(EncodeIndexedPng(picture, {}, 0)), picture, what + " streamed");
        }
      }
    }
  }
}

// libpng's simplified reader, which applies the format's rules on its own,
// sees the colours of a written PNG.
TEST(PictureFiles, WrittenPngsShowTheirColoursToLibpngsOwnReader) {
  const IndexedPicture picture = MakePicture(PictureKind::kGradient, 13, 7, 256);
  const Bytes png = EncodePicture(picture, PictureFileType::kPng);
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  ASSERT_NE(png_image_begin_read_from_memory(&image, png.data(), png.size()), 0) << image.message;
  image.format = PNG_FORMAT_RGBA;
  std::vector<unsigned char> rgba(PNG_IMAGE_SIZE(image));
  ASSERT_NE(png_image_finish_read(&image, nullptr, rgba.data(), 0, nullptr), 0) << image.message;
  ASSERT_EQ(image.width, picture.width);
  ASSERT_EQ(image.height, picture.height);
  for (std::size_t i = 0; i < picture.pixels.size(); ++i) {
    ASSERT_EQ((Rgb{rgba[4 * i], rgba[4 * i + 1], rgba[4 * i + 2]}),
              picture.palette[picture.pixels[i]])
        << i;
    ASSERT_EQ(rgba[4 * i + 3], 255) << i;
  }
}

// A palette PNG of the picture, at the depth, by the tests' writer.
Bytes PalettePng(const IndexedPicture& picture, unsigned depth, bool interlaced,
                 const Bytes& transparency = {}) {
  PngLayout layout;
  layout.width = picture.width;
  layout.height = picture.height;
  layout.depth = depth;
  layout.interlaced = interlaced;
  layout.samples = [&picture](std::uint32_t x, std::uint32_t y) {
    return std::vector<unsigned>{picture.At(x, y)};
  };
  for (const Rgb& c : picture.palette)
    layout.palette.insert(layout.palette.end(), {c.red, c.green, c.blue});
  layout.transparency = transparency;
  return HandMadePng(layout);
}

TEST(PictureFiles, PalettePngsOfEveryDepthAndInterlacing) {
  for (unsigned depth : {1u, 2u, 4u, 8u}) {
    for (bool interlaced : {false, true}) {
      for (std::uint32_t width : {1u, 7u, 9u, 33u}) {
        // Fewer entries than the depth could index, in an order of their own.
        const std::uint32_t colours = depth == 1 ? 2 : (1u << depth) - 1;
        const IndexedPicture picture = MakePicture(PictureKind::kGradient, width, 11, colours);
        const std::string what = "depth " + std::to_string(depth) +
                                 (interlaced ? " interlaced " : " ") + std::to_string(width);
        ExpectSamePicture(Decode(PalettePng(picture, depth, interlaced)), picture, what);
      }
    }
  }
}

// Grey and truecolour PNGs, with and without alpha, of every depth their
// colour type allows, plain and interlaced: each pixel's colour comes back,
// and the palette holds the colours in the order they first appear.
TEST(PictureFiles, GreyAndTruecolourPngsOfEveryDepthAndInterlacing) {
  struct Case {
    PngColourType type;
    unsigned depth;
  };
  const Case cases[] = {{kGrey, 1},  {kGrey, 2},      {kGrey, 4},       {kGrey, 8},
                        {kGrey, 16}, {kGreyAlpha, 8}, {kGreyAlpha, 16}, {kRgb, 8},
                        {kRgb, 16},  {kRgba, 8},      {kRgba, 16}};
  for (const Case& c : cases) {
    for (bool interlaced : {false, true}) {
      const std::string what = "type " + std::to_string(c.type) + " depth " +
                               std::to_string(c.depth) + (interlaced ? " interlaced" : "");
      // Levels the depth holds, spread over 0 to its top; 8 bits of each is
      // what the picture keeps (the top 8 of 16 bits are the same value).
      const unsigned top = (1u << c.depth) - 1;
      const unsigned levels = std::min(top + 1, 6u);
      auto level = [&](unsigned k) { return k * top / (levels - 1); };
      auto eight = [&](unsigned v) {
        return static_cast<std::uint8_t>(c.depth == 16 ? v >> 8 : v * 255 / top);
      };
      PngLayout layout;
      layout.width = 10;
      layout.height = 9;
      layout.type = c.type;
      layout.depth = c.depth;
      layout.interlaced = interlaced;
      std::vector<Rgb> expected;
      auto sample = [&](std::uint32_t x, std::uint32_t y, unsigned channel) {
        const unsigned v = level((x * (channel + 1) + y * 2) % levels);
        return c.depth == 16 ? v / 257 * 257 : v;  // exact 8-bit values in 16 bits
      };
      layout.samples = [&](std::uint32_t x, std::uint32_t y) {
        std::vector<unsigned> s;
        const bool colour = c.type == kRgb || c.type == kRgba;
        for (unsigned ch = 0; ch < (colour ? 3u : 1u); ++ch) s.push_back(sample(x, y, ch));
        if (c.type == kGreyAlpha || c.type == kRgba) s.push_back(top);  // opaque
        return s;
      };
      for (std::uint32_t y = 0; y < layout.height; ++y) {
        for (std::uint32_t x = 0; x < layout.width; ++x) {
          const std::vector<unsigned> s = layout.samples(x, y);
          expected.push_back(s.size() >= 3 ? Rgb{eight(s[0]), eight(s[1]), eight(s[2])}
                                           : Rgb{eight(s[0]), eight(s[0]), eight(s[0])});
        }
      }
      const IndexedPicture picture = Decode(HandMadePng(layout));
      EXPECT_EQ(Colours(picture), expected) << what;
      EXPECT_EQ(picture.palette, FirstSeen(expected)) << what;
    }
  }
}

TEST(PictureFiles, SixteenBitSamplesAreTakenOnlyWhenEightBitsHoldThem) {
  for (unsigned odd_sample : {0x4545u, 0x4546u}) {
    PngLayout layout;
    layout.width = 3;
    layout.height = 2;
    layout.type = kRgb;
    layout.depth = 16;
    layout.samples = [&](std::uint32_t x, std::uint32_t y) {
      if (x == 2 && y == 1) return std::vector<unsigned>{0xFFFF, odd_sample, 0};
      return std::vector<unsigned>{257 * x, 257 * y, 0x1212};
    };
    const std::string refusal = Refusal(HandMadePng(layout));
    if (odd_sample == 0x4545) {
      EXPECT_EQ(refusal, "");
    } else {
      EXPECT_TRUE(Contains(refusal, "16 bits a sample, and the sample at 2,1 (17734)")) << refusal;
    }
  }
}

TEST(PictureFiles, TransparencyIsReported) {
  const IndexedPicture picture = MakePicture(PictureKind::kStripes, 6, 4, 16);
  ExpectSamePicture(Decode(PalettePng(picture, 8, false, {0xFF, 0x00}), true), picture, "tRNS");
  Decode(PalettePng(picture, 8, false, {0xFF, 0xFF}), false);
  for (unsigned alpha : {255u, 254u}) {
    PngLayout layout;
    layout.width = 2;
    layout.type = kRgba;
    layout.samples = [&](std::uint32_t x, std::uint32_t) {
      return std::vector<unsigned>{1, 2, 3, x == 1 ? alpha : 255};
    };
    Decode(HandMadePng(layout), alpha != 255);
    BmpSpec bmp;
    bmp.width = 2;
    bmp.bits = 32;
    bmp.header_size = 108;
    bmp.bitfields = true;
    bmp.masks = {0xFF0000, 0xFF00, 0xFF, 0xFF000000};
    bmp.pixel = [&](std::uint32_t x, std::uint32_t) {
      return (x == 1 ? alpha : 255u) << 24 | 0x010203;
    };
    Decode(HandMadeBmp(bmp), alpha != 255);
  }
}

// BMP files as other tools write them: each depth, colour masks, rows top
// first, the old 12-byte header, a colour table shorter than the depth.
TEST(PictureFiles, BmpsOfEveryDepthAndLayout) {
  // What each pixel shows: colour k of six at x, y.
  const std::vector<Colour> six = {{250, 0, 5},     {0, 200, 9}, {7, 7, 7},
                                   {255, 255, 255}, {0, 0, 0},   {16, 32, 48}};
  auto k = [](std::uint32_t x, std::uint32_t y) { return (x + 2 * y) % 6; };
  struct Case {
    const char* what;
    BmpSpec layout;
    // The colour a stored pixel value stands for, to 8 bits.
    std::function<Rgb(std::uint32_t)> shown;
  };
  auto palette_case = [&](const char* what, unsigned bits, std::uint32_t header, bool top_down) {
    BmpSpec layout;
    layout.width = 11;
    layout.height = 5;
    layout.bits = bits;
    layout.header_size = header;
    layout.top_down = top_down;
    layout.table = six;
    layout.pixel = k;
    return Case{what, layout, [six](std::uint32_t v) {
                  return Rgb{static_cast<std::uint8_t>(six[v].red),
                             static_cast<std::uint8_t>(six[v].green),
                             static_cast<std::uint8_t>(six[v].blue)};
                }};
  };
  auto packed_case = [&](const char* what, unsigned bits, bool bitfields,
                         std::array<std::uint32_t, 4> masks, std::uint32_t header = 40) {
    BmpSpec layout;
    layout.width = 11;
    layout.height = 5;
    layout.bits = bits;
    layout.header_size = header;
    layout.bitfields = bitfields;
    layout.masks = masks;
    // Each channel's top bits, as many as its mask has.
    auto pack = [masks, six](std::uint32_t v) {
      const unsigned rgb[3] = {six[v].red, six[v].green, six[v].blue};
      std::uint32_t pixel = 0;
      for (int ch = 0; ch < 3; ++ch) {
        const int width = std::popcount(masks[static_cast<std::size_t>(ch)]);
        pixel |= (rgb[ch] >> (8 - width)) << std::countr_zero(masks[static_cast<std::size_t>(ch)]);
      }
      return pixel;
    };
    layout.pixel = [pack, k](std::uint32_t x, std::uint32_t y) { return pack(k(x, y)); };
    return Case{what, layout, [pack, masks](std::uint32_t v) {
                  const std::uint32_t pixel = pack(v);
                  std::uint8_t out[3];
                  for (int ch = 0; ch < 3; ++ch) {
                    const std::uint32_t mask = masks[static_cast<std::size_t>(ch)];
                    const std::uint32_t top = mask >> std::countr_zero(mask);
                    const std::uint32_t value = (pixel & mask) >> std::countr_zero(mask);
                    out[ch] = static_cast<std::uint8_t>((value * 255 + top / 2) / top);
                  }
                  return Rgb{out[0], out[1], out[2]};
                }};
  };
  const std::vector<Case> cases = {
      palette_case("4 bits", 4, 40, false),
      palette_case("8 bits, rows top first", 8, 40, true),
      palette_case("8 bits, 12-byte header", 8, 12, false),
      palette_case("8 bits, 124-byte header", 8, 124, false),
      packed_case("16 bits, 5-5-5", 16, false, {0x7C00, 0x3E0, 0x1F, 0}),
      packed_case("16 bits, masks 5-6-5", 16, true, {0xF800, 0x7E0, 0x1F, 0}),
      packed_case("24 bits", 24, false, {0xFF0000, 0xFF00, 0xFF, 0}),
      packed_case("32 bits", 32, false, {0xFF0000, 0xFF00, 0xFF, 0}),
      packed_case("32 bits, masks in a 56-byte header", 32, true, {0xFF, 0xFF00, 0xFF0000, 0}, 56),
  };
  for (const Case& c : cases) {
    std::vector<Rgb> expected;
    for (std::uint32_t y = 0; y < c.layout.height; ++y)
      for (std::uint32_t x = 0; x < c.layout.width; ++x) expected.push_back(c.shown(k(x, y)));
    const IndexedPicture picture = Decode(HandMadeBmp(c.layout));
    EXPECT_EQ(Colours(picture), expected) << c.what;
    if (c.layout.bits > 8) EXPECT_EQ(picture.palette, FirstSeen(expected)) << c.what;
    if (c.layout.bits <= 8) EXPECT_EQ(picture.palette.size(), six.size()) << c.what;
  }
}

// A truecolour file of more than 256 colours is no longer refused: its
// colours come as they are, without indexes, for the encoder to reduce.
TEST(PictureFiles, MoreThan256ColoursComeAsTheirColours) {
  for (std::uint32_t colours : {256u, 257u}) {
    auto colour_of = [](std::uint32_t x) { return std::vector<unsigned>{x & 0xFF, x >> 8, 9}; };
    PngLayout png;
    png.width = colours;
    png.type = kRgb;
    png.samples = [&](std::uint32_t x, std::uint32_t) { return colour_of(x); };
    BmpSpec bmp;
    bmp.width = colours;
    bmp.pixel = [](std::uint32_t x, std::uint32_t) {
      return ((x & 0xFF) << 16) | ((x >> 8) << 8) | 9;
    };
    for (const Bytes& file : {HandMadePng(png), HandMadeBmp(bmp)}) {
      bool transparent = false;
      const PictureFile read = DecodePicture(file, transparent);
      ASSERT_EQ(read.colours.pixels.size(), colours);
      for (std::uint32_t x = 0; x < colours; ++x)
        EXPECT_EQ(read.colours.pixels[x],
                  (Rgb{static_cast<std::uint8_t>(x & 0xFF), static_cast<std::uint8_t>(x >> 8), 9}));
      EXPECT_EQ(read.HasIndexes(), colours <= 256) << colours;
      EXPECT_EQ(read.indexed.palette.size(), colours <= 256 ? colours : 0u) << colours;
    }
  }
}

// Every truncation of a small BMP of each depth is refused, saying what is
// missing; only a cut inside the last row's fill, which holds no pixel,
// leaves the picture whole.
TEST(PictureFiles, TruncatedBmpsAreRefusedSayingWhatIsMissing) {
  for (unsigned bits : {1u, 4u, 8u, 16u, 24u, 32u}) {
    BmpSpec layout;
    layout.width = 5;
    layout.height = 3;
    layout.bits = bits;
    if (bits <= 8) layout.table = {{1, 2, 3}, {4, 5, 6}};
    layout.pixel = [bits](std::uint32_t x, std::uint32_t y) {
      return bits <= 8 ? (x + y) % 2 : 0x102030u * (x + 1) + y;
    };
    const Bytes file = HandMadeBmp(layout);
    const IndexedPicture whole = Decode(file);
    const std::size_t last_row_pixels = (5 * bits + 7) / 8;
    const std::size_t last_row_at = file.size() - (5 * bits + 31) / 32 * 4;
    for (std::size_t length = 2; length < file.size(); ++length) {
      const Bytes cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length));
      const std::string what = std::to_string(bits) + " bits cut to " + std::to_string(length);
      if (length >= last_row_at + last_row_pixels) {
        ExpectSamePicture(Decode(cut), whole, what);
        continue;
      }
      const std::string refusal = Refusal(cut);
      EXPECT_TRUE(Contains(refusal, "is truncated: it needs ")) << what << ": " << refusal;
      const char* part = length < 18   ? "for its file header"
                         : length < 54 ? "for its 40-byte information header"
                         : length < 54 + layout.table.size() * 4
                             ? "for its colour table of 2 entries"
                             : "for its 3 rows of pixels";
      EXPECT_TRUE(Contains(refusal, part)) << what << ": " << refusal;
    }
  }
  // The first 70 of the 102 bytes of a 24-bit 4x4 picture.
  BmpSpec layout;
  layout.width = 4;
  layout.height = 4;
  layout.pixel = [](std::uint32_t x, std::uint32_t y) { return 0x405060u + x + y; };
  Bytes file = HandMadeBmp(layout);
  ASSERT_EQ(file.size(), 102u);
  file.resize(70);
  EXPECT_EQ(Refusal(file),
            "is truncated: it needs 48 bytes for its 4 rows of pixels from offset 54, and the "
            "file holds 16 of them");
}

TEST(PictureFiles, DamagedBmpsAreRefusedWithTheReason) {
  struct Case {
    const char* what;
    std::function<void(Bytes&)> damage;
    const char* reason;
  };
  const std::vector<Case> cases = {
      {"no width", [](Bytes& f) { PutLe(f, 18, 0, 4); }, "holds no pixels"},
      {"pixels inside the colour table", [](Bytes& f) { PutLe(f, 10, 60, 4); },
       "inside its headers and colour table"},
      {"more colours than 8 bits index", [](Bytes& f) { PutLe(f, 46, 300, 4); },
       "gives 300 colours"},
      {"index beyond the table", [](Bytes& f) { f[f.size() - 4] = 9; },
       "the pixel at 0,0 has colour index 9 but the colour table has 2 entries"},
      {"run-length compressed", [](Bytes& f) { PutLe(f, 30, 1, 4); }, "run-length compressed"},
      {"7 bits a pixel", [](Bytes& f) { PutLe(f, 28, 7, 2); }, "7 bits a pixel"},
      {"header of 20 bytes", [](Bytes& f) { PutLe(f, 14, 20, 4); }, "shorter than any BMP header"},
  };
  BmpSpec layout;
  layout.width = 4;
  layout.height = 2;
  layout.bits = 8;
  layout.table = {{1, 2, 3}, {4, 5, 6}};
  layout.pixel = [](std::uint32_t x, std::uint32_t) { return x % 2; };
  for (const Case& c : cases) {
    Bytes file = HandMadeBmp(layout);
    c.damage(file);
    const std::string refusal = Refusal(file);
    EXPECT_TRUE(Contains(refusal, c.reason)) << c.what << ": " << refusal;
  }
}

// Truncation and damage of PNGs in libpng's own words.
TEST(PictureFiles, DamagedPngsAreRefusedInLibpngsWords) {
  const IndexedPicture picture = MakePicture(PictureKind::kGradient, 6, 5, 20);
  const Bytes png = PalettePng(picture, 8, false);
  // IHDR's CRC, the first byte of the first IDAT's data, and a cut: before
  // IEND, in the middle of the pixel data.
  const std::size_t ihdr_crc = 8 + 8 + 13;
  Bytes crc = png;
  crc[ihdr_crc] ^= 1;
  Bytes early_end = png;
  early_end.resize(png.size() - 12);  // no IEND
  Bytes mid = png;
  mid.resize(png.size() / 2);
  EXPECT_TRUE(Contains(Refusal(crc), "cannot be read as PNG: IHDR: CRC error")) << Refusal(crc);
  EXPECT_TRUE(Contains(Refusal(early_end), "cannot be read as PNG: file truncated"))
      << Refusal(early_end);
  EXPECT_TRUE(Contains(Refusal(mid), "cannot be read as PNG: ")) << Refusal(mid);
}

// Every truncation and every single-byte change of a small file: a clear
// refusal or a picture, never anything else.
void SweepDamage(const Bytes& file, bool every_truncation_refused, const std::string& what) {
  for (std::size_t length = 0; length < file.size(); ++length) {
    const Bytes cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length));
    const std::string refusal = Refusal(cut);
    if (every_truncation_refused) EXPECT_NE(refusal, "") << what << " cut to " << length;
  }
  for (std::size_t at = 0; at < file.size(); ++at) {
    Bytes changed = file;
    changed[at] ^= 0x5A;
    Refusal(changed);
  }
}

TEST(PictureFiles, DamagedFilesAreRefused) {
  const IndexedPicture picture = MakePicture(PictureKind::kGradient, 6, 5, 20);
  SweepDamage(EncodePicture(picture, PictureFileType::kPng), true, "png");
  SweepDamage(PalettePng(picture, 8, true), true, "interlaced png");
  SweepDamage(EncodePicture(picture, PictureFileType::kBmp), false, "bmp");
  EXPECT_EQ(Refusal(TextBytes("GIF89a, not a picture this host reads")),
            "is not a PNG or BMP picture");
}

TEST(PictureFiles, IndexBeyondThePaletteIsRefused) {
  IndexedPicture picture = MakePicture(PictureKind::kStripes, 4, 4, 16);
  picture.pixels[5] = 40;
  for (const Bytes& file :
       {PalettePng(picture, 8, false), EncodePicture(picture, PictureFileType::kBmp)})
    EXPECT_TRUE(Contains(Refusal(file), "the pixel at 1,1 has") &&
                Contains(Refusal(file), " index 40 but the ") &&
                Contains(Refusal(file), " has 16 entries"))
        << Refusal(file);
}

// A DIB laid out as the image plug-in delivers it.
struct Dib {
  Bytes header;
  Bytes pixels;
};

Dib MakeDib(std::int32_t width, std::int32_t height, unsigned bits, std::size_t pixel_bytes) {
  Dib dib;
  dib.header.assign(40 + 1024 + 14, 0);
  WriteLe32(dib.header.data(), 40);
  WriteLe32(dib.header.data() + 4, static_cast<std::uint32_t>(width));
  WriteLe32(dib.header.data() + 8, static_cast<std::uint32_t>(height));
  WriteLe16(dib.header.data() + 12, 1);
  WriteLe16(dib.header.data() + 14, static_cast<std::uint16_t>(bits));
  WriteLe32(dib.header.data() + 32, 256);
  for (int i = 0; i < 256; ++i) {
    dib.header[40 + 4 * i] = static_cast<unsigned char>(i);            // blue
    dib.header[40 + 4 * i + 2] = static_cast<unsigned char>(255 - i);  // red
  }
  dib.pixels.assign(pixel_bytes, 0xEE);  // row fill shows as 0xEE
  return dib;
}

TEST(DibToPicture, RowsTurnedAndFillDropped) {
  // 5 pixels a row, rows 8 bytes apart; stored row k holds k*10 + x.
  for (bool top_down : {false, true}) {
    Dib dib = MakeDib(5, top_down ? -3 : 3, 8, 8 * 3 + 9);
    for (int k = 0; k < 3; ++k)
      for (int x = 0; x < 5; ++x)
        dib.pixels[static_cast<std::size_t>(k * 8 + x)] = static_cast<unsigned char>(k * 10 + x);
    const IndexedPicture picture = PictureFromDib(dib.header, dib.pixels);
    ASSERT_EQ(picture.width, 5u);
    ASSERT_EQ(picture.height, 3u);
    ASSERT_EQ(picture.palette.size(), 256u);
    EXPECT_EQ(picture.palette[1], (Rgb{254, 0, 1}));
    for (std::uint32_t y = 0; y < 3; ++y) {
      const std::uint32_t stored = top_down ? y : 2 - y;
      for (std::uint32_t x = 0; x < 5; ++x)
        EXPECT_EQ(picture.At(x, y), stored * 10 + x) << top_down << " " << x << "," << y;
    }
  }
}

TEST(DibToPicture, RefusesWhatItCannotShow) {
  struct Case {
    const char* what;
    Dib dib;
  };
  Dib short_header = MakeDib(4, 4, 8, 16);
  short_header.header.resize(39);
  Dib short_table = MakeDib(4, 4, 8, 16);
  short_table.header.resize(40 + 1000);
  const std::vector<Case> cases = {
      {"pixel block a byte short", MakeDib(5, 3, 8, 23)},
      {"24 bits a pixel", MakeDib(4, 4, 24, 48)},
      {"no width", MakeDib(0, 4, 8, 0)},
      {"no height", MakeDib(4, 0, 8, 0)},
      {"header too short", short_header},
      {"colour table cut", short_table},
  };
  for (const Case& c : cases)
    EXPECT_THROW(PictureFromDib(c.dib.header, c.dib.pixels), HostError) << c.what;
}

TEST(Thumbnails, LongestSideBoundedAspectKeptIndexesPicked) {
  struct Case {
    std::uint32_t width, height, longest;
    std::uint32_t want_width, want_height;
  };
  const std::vector<Case> cases = {
      {300, 200, 128, 128, 85},  // wider than tall
      {10, 4000, 128, 1, 128},   // a side never shrinks to nothing
      {128, 64, 128, 128, 64},   // fits already: unchanged
      {7, 5, 2, 2, 1},
  };
  for (const Case& c : cases) {
    IndexedPicture picture;
    picture.width = c.width;
    picture.height = c.height;
    picture.palette.assign(256, Rgb{1, 2, 3});
    picture.pixels.resize(std::size_t{c.width} * c.height);
    for (std::uint32_t y = 0; y < c.height; ++y)
      for (std::uint32_t x = 0; x < c.width; ++x)
        picture.pixels[std::size_t{y} * c.width + x] = static_cast<std::uint8_t>(x * 3 + y * 5);
    const IndexedPicture small = ShrinkPicture(picture, c.longest);
    ASSERT_EQ(small.width, c.want_width) << c.width << "x" << c.height;
    ASSERT_EQ(small.height, c.want_height) << c.width << "x" << c.height;
    EXPECT_TRUE(small.palette == picture.palette);
    // Each pixel is the one at the same fraction of the original.
    for (std::uint32_t y = 0; y < small.height; ++y)
      for (std::uint32_t x = 0; x < small.width; ++x)
        EXPECT_EQ(small.At(x, y),
                  picture.At(x * c.width / small.width, y * c.height / small.height));
  }
}

TEST(PictureFiles, OutputTypeByExtension) {
  EXPECT_EQ(PictureFileTypeOf("out.png"), PictureFileType::kPng);
  EXPECT_EQ(PictureFileTypeOf("dir/OUT.PNG"), PictureFileType::kPng);
  EXPECT_EQ(PictureFileTypeOf("a.b.Bmp"), PictureFileType::kBmp);
  EXPECT_EQ(PictureFileTypeOf("out.gif"), PictureFileType::kUnknown);
  EXPECT_EQ(PictureFileTypeOf("png"), PictureFileType::kUnknown);
  EXPECT_EQ(PictureFileTypeOf("dir.png/out"), PictureFileType::kUnknown);
}

constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kBlue{0, 0, 255};
constexpr Rgb kGrey{128, 128, 128};

RgbPicture Row(const std::vector<Rgb>& colours) {
  return {static_cast<std::uint32_t>(colours.size()), 1, colours};
}

// Colours the palette holds take their first entry; others the nearest, the
// first of equally near ones; the count is of the others.
TEST(PaletteMapping, ExactColoursFirstOfEqualAndNearest) {
  struct Case {
    const char* what;
    std::vector<Rgb> palette;
    std::vector<Rgb> pixels;
    std::vector<std::uint8_t> indexes;
    std::uint64_t inexact;
  };
  const std::vector<Case> cases = {
      {"exact, an entry repeated and one unused",
       {kRed, kWhite, kRed, kBlack, kBlue},
       {kBlack, kRed, kWhite, kRed},
       {3, 0, 1, 0},
       0},
      {"nearest",
       {kBlack, kWhite, kRed, kBlue},
       {{250, 250, 250}, {6, 3, 3}, {230, 20, 10}, {10, 0, 200}, kWhite},
       {1, 0, 2, 3, 1},
       4},
      {"first of equally near", {kWhite, kRed, kRed}, {{240, 0, 0}, kRed}, {1, 1}, 1},
      {"a palette of one entry", {kGrey}, {kBlack, kGrey, kWhite}, {0, 0, 0}, 2},
  };
  for (const Case& c : cases) {
    for (bool dither : {false, true}) {
      const PaletteMapping mapping = MapToPalette(Row(c.pixels), c.palette, dither);
      // One row, each colour already as near as it gets: dithering changes nothing.
      EXPECT_EQ(mapping.indexes, c.indexes) << c.what << " " << dither;
      EXPECT_EQ(mapping.inexact, c.inexact) << c.what << " " << dither;
    }
  }
  EXPECT_THROW(MapToPalette(Row({kRed}), {}, false), HostError);
  EXPECT_THROW(MapToPalette(Row({kRed}), std::vector<Rgb>(257), false), HostError);
}

// A palette picture goes by its colours, unless its palette is where the
// new one begins: then its indexes stay, a repeated entry's too.
TEST(PaletteMapping, PalettePicturesByColourOrAsTheyAre) {
  IndexedPicture picture;
  picture.width = 3;
  picture.height = 1;
  picture.palette = {kRed, kWhite, kRed};
  picture.pixels = {2, 1, 0};
  const PaletteMapping same = MapToPalette(picture, {kRed, kWhite, kRed, kBlue}, false);
  EXPECT_EQ(same.indexes, (std::vector<std::uint8_t>{2, 1, 0}));
  picture.palette = {kBlue, kRed, {250, 250, 250}};
  const PaletteMapping other = MapToPalette(picture, {kRed, kWhite, kRed, kBlue}, false);
  EXPECT_EQ(other.indexes, (std::vector<std::uint8_t>{1, 0, 3}));
  EXPECT_EQ(other.inexact, 1u);
}

// Dithering a grey that black and white must make mixes them, and leaves a
// pixel whose colour the palette holds as it is.
TEST(PaletteMapping, DitheringMixesEntriesAndKeepsExactPixels) {
  RgbPicture grey{16, 16, std::vector<Rgb>(256, kGrey)};
  grey.pixels[17] = kBlack;
  grey.pixels[18] = kWhite;
  const std::vector<Rgb> palette = {kBlack, kWhite};
  const PaletteMapping plain = MapToPalette(grey, palette, false);
  const PaletteMapping dithered = MapToPalette(grey, palette, true);
  EXPECT_EQ(std::count(plain.indexes.begin(), plain.indexes.end(), 0), 1);
  const auto black = std::count(dithered.indexes.begin(), dithered.indexes.end(), 0);
  EXPECT_GT(black, 40);  // sRGB grey 128 is about a fifth of white's light
  EXPECT_LT(black, 200);
  EXPECT_EQ(dithered.indexes[17], 0);
  EXPECT_EQ(dithered.indexes[18], 1);
  EXPECT_EQ(plain.inexact, 254u);
  EXPECT_EQ(dithered.inexact, 254u);
}

// The reduced palette: every colour of a picture of few; near each cluster
// of a picture of clusters; never more than asked, at most 256.
TEST(PaletteReduction, FewColoursKeptClustersFoundBoundsHeld) {
  const std::vector<Rgb> few = {kRed, kBlue, kRed, kWhite};
  EXPECT_EQ(CountColours(few), 3u);
  std::vector<Rgb> kept = ReducedPalette(few, 3);
  std::sort(kept.begin(), kept.end(), [](Rgb x, Rgb y) { return ColourKey(x) < ColourKey(y); });
  EXPECT_EQ(kept, (std::vector<Rgb>{kRed, kBlue, kWhite}));

  // Four clusters of 25 colours each, within 4 of their centre.
  const std::vector<Rgb> centres = {{20, 30, 200}, {220, 40, 40}, {240, 240, 230}, {30, 160, 60}};
  std::vector<Rgb> clusters;
  for (const Rgb& c : centres)
    for (int d = 0; d < 25; ++d)
      clusters.push_back({static_cast<std::uint8_t>(c.red + d % 5 - 2),
                          static_cast<std::uint8_t>(c.green + d / 5 - 2), c.blue});
  const std::vector<Rgb> four = ReducedPalette(clusters, 4);
  ASSERT_EQ(four.size(), 4u);
  for (const Rgb& c : centres) {
    const bool found = std::any_of(four.begin(), four.end(), [&](Rgb p) {
      return std::abs(p.red - c.red) <= 2 && std::abs(p.green - c.green) <= 2 &&
             std::abs(p.blue - c.blue) <= 2;
    });
    EXPECT_TRUE(found) << int{c.red} << "," << int{c.green} << "," << int{c.blue};
  }

  std::vector<Rgb> many;  // 4096 colours
  for (unsigned v = 0; v < 4096; ++v)
    many.push_back({static_cast<std::uint8_t>((v & 15) * 17),
                    static_cast<std::uint8_t>((v >> 4 & 15) * 17),
                    static_cast<std::uint8_t>((v >> 8) * 17)});
  EXPECT_EQ(CountColours(many), 4096u);
  for (std::size_t asked : {2u, 16u, 256u, 300u}) {
    const std::vector<Rgb> palette = ReducedPalette(many, asked);
    EXPECT_LE(palette.size(), std::min<std::size_t>(asked, 256)) << asked;
    EXPECT_GE(palette.size(), std::min<std::size_t>(asked, 256) * 9 / 10) << asked;
  }
}

}  // namespace
