// The host's picture files: palette PNG and BMP written and read back without
// changing a palette entry or an index, palette PNGs of every bit depth and
// interlacing read right, truecolour pictures given a palette of their
// colours, damaged files refused, and the plug-in's DIB turned into rows.
#include <gtest/gtest.h>
#include <stb_image_write.h>

#include "byte_order.h"
#include "host/host_error.h"
#include "host/picture_io.h"
#include "host/stb_support.h"
#include "host_test_support.h"

namespace {

using host_test::MakePicture;
using host_test::PictureKind;

void ExpectSamePicture(const IndexedPicture& got, const IndexedPicture& want,
                       const std::string& what) {
  EXPECT_EQ(got.width, want.width) << what;
  EXPECT_EQ(got.height, want.height) << what;
  EXPECT_TRUE(got.palette == want.palette) << what;
  EXPECT_TRUE(got.pixels == want.pixels) << what;
}

IndexedPicture Decode(const Bytes& file) {
  bool transparent = false;
  IndexedPicture picture = DecodePicture(file, transparent);
  EXPECT_FALSE(transparent);
  return picture;
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
        }
      }
    }
  }
}

TEST(PictureFiles, WrittenFilesShowTheSameColoursToAnotherDecoder) {
  const IndexedPicture picture = MakePicture(PictureKind::kGradient, 13, 7, 256);
  for (PictureFileType type : {PictureFileType::kPng, PictureFileType::kBmp}) {
    const RgbaPixels decoded = DecodeRgba(EncodePicture(picture, type));
    ASSERT_EQ(decoded.width, picture.width);
    ASSERT_EQ(decoded.height, picture.height);
    for (std::size_t i = 0; i < picture.pixels.size(); ++i) {
      const Rgb& colour = picture.palette[picture.pixels[i]];
      ASSERT_EQ((Rgb{decoded.rgba[4 * i], decoded.rgba[4 * i + 1], decoded.rgba[4 * i + 2]}),
                colour)
          << i;
      ASSERT_EQ(decoded.rgba[4 * i + 3], 255) << i;
    }
  }
}

// A palette PNG built here, byte by byte: packed rows, each row under one of
// the five filters in turn, optionally in the seven interlaced passes.
void AppendBe32(Bytes& out, std::uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<unsigned char>(v >> s));
}

std::uint32_t Crc(const unsigned char* p, std::size_t n) {
  std::uint32_t c = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < n; ++i) {
    c ^= p[i];
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
  }
  return ~c;
}

void Chunk(Bytes& out, const std::string& type, const Bytes& data) {
  AppendBe32(out, static_cast<std::uint32_t>(data.size()));
  const std::size_t from = out.size();
  out.insert(out.end(), type.begin(), type.end());
  out.insert(out.end(), data.begin(), data.end());
  AppendBe32(out, Crc(out.data() + from, out.size() - from));
}

unsigned char PaethPredictor(int a, int b, int c) {
  const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  return static_cast<unsigned char>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

Bytes HandMadePalettePng(const IndexedPicture& picture, unsigned depth, bool interlaced,
                         const Bytes& transparency = {}) {
  struct Pass {
    std::uint32_t x0, y0, dx, dy;
  };
  const std::vector<Pass> passes =
      interlaced ? std::vector<Pass>{{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                     {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}}
                 : std::vector<Pass>{{0, 0, 1, 1}};
  Bytes raw;
  int row_number = 0;
  for (const Pass& pass : passes) {
    if (picture.width <= pass.x0 || picture.height <= pass.y0) continue;
    const std::uint32_t w = (picture.width - pass.x0 + pass.dx - 1) / pass.dx;
    const std::uint32_t h = (picture.height - pass.y0 + pass.dy - 1) / pass.dy;
    const std::size_t row_bytes = (std::size_t{w} * depth + 7) / 8;
    Bytes above(row_bytes, 0);
    for (std::uint32_t y = 0; y < h; ++y) {
      Bytes row(row_bytes, 0);
      for (std::uint32_t x = 0; x < w; ++x) {
        const unsigned v = picture.At(pass.x0 + x * pass.dx, pass.y0 + y * pass.dy);
        const std::size_t bit = std::size_t{x} * depth;
        row[bit / 8] = static_cast<unsigned char>(row[bit / 8] | (v << (8 - depth - bit % 8)));
      }
      const int filter = row_number++ % 5;
      raw.push_back(static_cast<unsigned char>(filter));
      for (std::size_t i = 0; i < row_bytes; ++i) {
        const int a = i > 0 ? row[i - 1] : 0, b = y > 0 ? above[i] : 0,
                  c = (i > 0 && y > 0) ? above[i - 1] : 0;
        const int predicted = filter == 1   ? a
                              : filter == 2 ? b
                              : filter == 3 ? (a + b) / 2
                              : filter == 4 ? PaethPredictor(a, b, c)
                                            : 0;
        raw.push_back(static_cast<unsigned char>(row[i] - predicted));
      }
      above = row;
    }
  }
  Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes header;
  AppendBe32(header, picture.width);
  AppendBe32(header, picture.height);
  header.insert(header.end(), {static_cast<unsigned char>(depth), 3, 0, 0,
                               static_cast<unsigned char>(interlaced)});
  Chunk(png, "IHDR", header);
  Chunk(png, "tEXt", TextBytes(std::string("Comment\0ancillary, skipped", 26)));
  Bytes palette;
  for (const Rgb& c : picture.palette) palette.insert(palette.end(), {c.red, c.green, c.blue});
  Chunk(png, "PLTE", palette);
  if (!transparency.empty()) Chunk(png, "tRNS", transparency);
  const Bytes compressed = ZlibCompress(raw);
  const std::size_t half = compressed.size() / 2;  // two IDAT chunks
  Chunk(png, "IDAT",
        Bytes(compressed.begin(), compressed.begin() + static_cast<std::ptrdiff_t>(half)));
  Chunk(png, "IDAT",
        Bytes(compressed.begin() + static_cast<std::ptrdiff_t>(half), compressed.end()));
  Chunk(png, "IEND", {});
  return png;
}

TEST(PictureFiles, PalettePngsOfEveryDepthAndInterlacing) {
  for (unsigned depth : {1u, 2u, 4u, 8u}) {
    for (bool interlaced : {false, true}) {
      for (std::uint32_t width : {1u, 7u, 9u, 33u}) {
        const std::uint32_t colours = 1u << depth;
        const IndexedPicture picture = MakePicture(PictureKind::kGradient, width, 11, colours);
        const Bytes png = HandMadePalettePng(picture, depth, interlaced);
        const std::string what = "depth " + std::to_string(depth) +
                                 (interlaced ? " interlaced " : " ") + std::to_string(width);
        ExpectSamePicture(Decode(png), picture, what);
        // stb reads the same file to the same colours.
        const RgbaPixels other = DecodeRgba(png);
        for (std::size_t i = 0; i < picture.pixels.size(); ++i)
          ASSERT_EQ((Rgb{other.rgba[4 * i], other.rgba[4 * i + 1], other.rgba[4 * i + 2]}),
                    picture.palette[picture.pixels[i]])
              << what;
      }
    }
  }
}

TEST(PictureFiles, PaletteTransparencyIsReported) {
  const IndexedPicture picture = MakePicture(PictureKind::kStripes, 6, 4, 16);
  bool transparent = false;
  ExpectSamePicture(DecodePicture(HandMadePalettePng(picture, 8, false, {0xFF, 0x00}), transparent),
                    picture, "tRNS");
  EXPECT_TRUE(transparent);
  DecodePicture(HandMadePalettePng(picture, 8, false, {0xFF, 0xFF}), transparent);
  EXPECT_FALSE(transparent);
}

void Collect(void* context, void* data, int size) {
  auto* out = static_cast<Bytes*>(context);
  const auto* bytes = static_cast<const unsigned char*>(data);
  out->insert(out->end(), bytes, bytes + size);
}

// A truecolour PNG or BMP of the given pixels, by stb's writer.
Bytes Truecolour(PictureFileType type, int width, int height, int channels,
                 const std::vector<unsigned char>& pixels) {
  Bytes out;
  if (type == PictureFileType::kPng) {
    stbi_write_png_to_func(Collect, &out, width, height, channels, pixels.data(), width * channels);
  } else {
    stbi_write_bmp_to_func(Collect, &out, width, height, channels, pixels.data());
  }
  return out;
}

TEST(PictureFiles, TruecolourGetsItsColoursInFirstSeenOrder) {
  const std::vector<unsigned char> rgb = {9, 9, 9, 1, 2, 3, 9,   9, 9,  //
                                          4, 5, 6, 1, 2, 3, 250, 0, 7};
  for (PictureFileType type : {PictureFileType::kPng, PictureFileType::kBmp}) {
    const IndexedPicture picture = Decode(Truecolour(type, 3, 2, 3, rgb));
    EXPECT_EQ(picture.palette, (std::vector<Rgb>{{9, 9, 9}, {1, 2, 3}, {4, 5, 6}, {250, 0, 7}}));
    EXPECT_EQ(picture.pixels, (std::vector<std::uint8_t>{0, 1, 0, 2, 1, 3}));
  }
  const std::vector<unsigned char> rgba = {1, 2, 3, 255, 1, 2, 3, 0};
  bool transparent = false;
  DecodePicture(Truecolour(PictureFileType::kPng, 2, 1, 4, rgba), transparent);
  EXPECT_TRUE(transparent);
}

TEST(PictureFiles, MoreThan256ColoursAreRefusedNotReduced) {
  for (int colours : {256, 257}) {
    std::vector<unsigned char> rgb;
    for (int i = 0; i < colours; ++i)
      rgb.insert(rgb.end(), {static_cast<unsigned char>(i), static_cast<unsigned char>(i >> 8), 0});
    const Bytes png = Truecolour(PictureFileType::kPng, colours, 1, 3, rgb);
    bool transparent = false;
    if (colours == 256) {
      EXPECT_EQ(DecodePicture(png, transparent).palette.size(), 256u);
      continue;
    }
    try {
      DecodePicture(png, transparent);
      ADD_FAILURE() << "257 colours accepted";
    } catch (const HostError& error) {
      EXPECT_NE(std::string(error.what()).find("more than 256 colours"), std::string::npos)
          << error.what();
    }
  }
}

// Every truncation and every single-byte change of a small file: a clear
// refusal or a picture, never anything else.
void SweepDamage(const Bytes& file, bool every_truncation_refused, const std::string& what) {
  auto decode = [](const Bytes& bytes) {
    bool transparent = false;
    DecodePicture(bytes, transparent);
  };
  for (std::size_t length = 0; length < file.size(); ++length) {
    const Bytes cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length));
    if (every_truncation_refused) {
      EXPECT_THROW(decode(cut), HostError) << what << " cut to " << length;
    } else {
      try {
        decode(cut);
      } catch (const HostError&) {
      }
    }
  }
  for (std::size_t at = 0; at < file.size(); ++at) {
    Bytes changed = file;
    changed[at] ^= 0x5A;
    try {
      decode(changed);
    } catch (const HostError&) {
    }
  }
}

TEST(PictureFiles, DamagedFilesAreRefused) {
  const IndexedPicture picture = MakePicture(PictureKind::kGradient, 6, 5, 20);
  SweepDamage(EncodePicture(picture, PictureFileType::kPng), true, "png");
  SweepDamage(HandMadePalettePng(picture, 8, true), true, "interlaced png");
  SweepDamage(EncodePicture(picture, PictureFileType::kBmp), true, "bmp");
  bool transparent = false;
  EXPECT_THROW(DecodePicture(TextBytes("GIF89a, not a picture this host reads"), transparent),
               HostError);
}

TEST(PictureFiles, IndexBeyondThePaletteIsRefused) {
  IndexedPicture picture = MakePicture(PictureKind::kStripes, 4, 4, 16);
  picture.pixels[5] = 40;
  for (PictureFileType type : {PictureFileType::kPng, PictureFileType::kBmp}) {
    bool transparent = false;
    EXPECT_THROW(DecodePicture(EncodePicture(picture, type), transparent), HostError);
  }
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

TEST(PictureFiles, OutputTypeByExtension) {
  EXPECT_EQ(PictureFileTypeOf("out.png"), PictureFileType::kPng);
  EXPECT_EQ(PictureFileTypeOf("dir/OUT.PNG"), PictureFileType::kPng);
  EXPECT_EQ(PictureFileTypeOf("a.b.Bmp"), PictureFileType::kBmp);
  EXPECT_EQ(PictureFileTypeOf("out.gif"), PictureFileType::kUnknown);
  EXPECT_EQ(PictureFileTypeOf("png"), PictureFileType::kUnknown);
  EXPECT_EQ(PictureFileTypeOf("dir.png/out"), PictureFileType::kUnknown);
}

}  // namespace
