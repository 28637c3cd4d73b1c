// Small writers of PNG and BMP files for the tests, byte by byte from the
// formats' rules: the layouts other tools make (every PNG colour type, depth
// and interlacing, each row under one of the five filters in turn; BMPs of
// every depth, with colour masks, top row first, old-style headers).
#pragma once

#include <zlib.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "test_files.h"

namespace picture_writers {

// ---------------------------------------------------------------- PNG

inline void AppendBe32(Bytes& out, std::uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<unsigned char>(v >> s));
}

inline std::uint32_t Crc(const unsigned char* p, std::size_t n) {
  std::uint32_t c = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < n; ++i) {
    c ^= p[i];
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
  }
  return ~c;
}

inline void Chunk(Bytes& out, const std::string& type, const Bytes& data) {
  AppendBe32(out, static_cast<std::uint32_t>(data.size()));
  const std::size_t from = out.size();
  out.insert(out.end(), type.begin(), type.end());
  out.insert(out.end(), data.begin(), data.end());
  AppendBe32(out, Crc(out.data() + from, out.size() - from));
}

inline Bytes Deflate(const Bytes& raw) {
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  Bytes out(size);
  if (compress2(out.data(), &size, raw.data(), static_cast<uLong>(raw.size()), 9) != Z_OK)
    std::abort();
  out.resize(size);
  return out;
}

inline unsigned char PaethPredictor(int a, int b, int c) {
  const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  return static_cast<unsigned char>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

enum PngColourType : unsigned char {
  kGrey = 0,
  kRgb = 2,
  kPalette = 3,
  kGreyAlpha = 4,
  kRgba = 6,
};

inline unsigned SamplesOf(PngColourType type) {
  switch (type) {
    case kGrey:
    case kPalette:
      return 1;
    case kGreyAlpha:
      return 2;
    case kRgb:
      return 3;
    case kRgba:
      return 4;
  }
  return 1;
}

struct PngLayout {
  std::uint32_t width = 1;
  std::uint32_t height = 1;
  PngColourType type = kPalette;
  unsigned depth = 8;
  bool interlaced = false;
  // The samples of the pixel at x, y, as the file stores them.
  std::function<std::vector<unsigned>(std::uint32_t x, std::uint32_t y)> samples;
  Bytes palette;       // PLTE: red, green, blue a entry
  Bytes transparency;  // tRNS, when not empty
};

// The file, its pixel data split over two IDAT chunks.
inline Bytes HandMadePng(const PngLayout& layout) {
  struct Pass {
    std::uint32_t x0, y0, dx, dy;
  };
  const std::vector<Pass> passes =
      layout.interlaced ? std::vector<Pass>{{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                          {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}}
                      : std::vector<Pass>{{0, 0, 1, 1}};
  const unsigned samples = SamplesOf(layout.type);
  const std::size_t pixel_bits = std::size_t{samples} * layout.depth;
  const std::size_t left_distance = pixel_bits < 8 ? 1 : pixel_bits / 8;  // filter's "a"
  Bytes raw;
  int row_number = 0;
  for (const Pass& pass : passes) {
    if (layout.width <= pass.x0 || layout.height <= pass.y0) continue;
    const std::uint32_t w = (layout.width - pass.x0 + pass.dx - 1) / pass.dx;
    const std::uint32_t h = (layout.height - pass.y0 + pass.dy - 1) / pass.dy;
    const std::size_t row_bytes = (w * pixel_bits + 7) / 8;
    Bytes above(row_bytes, 0);
    for (std::uint32_t y = 0; y < h; ++y) {
      Bytes row(row_bytes, 0);
      for (std::uint32_t x = 0; x < w; ++x) {
        const std::vector<unsigned> values =
            layout.samples(pass.x0 + x * pass.dx, pass.y0 + y * pass.dy);
        for (unsigned s = 0; s < samples; ++s) {
          const std::size_t bit = x * pixel_bits + std::size_t{s} * layout.depth;
          if (layout.depth == 16) {
            row[bit / 8] = static_cast<unsigned char>(values[s] >> 8);
            row[bit / 8 + 1] = static_cast<unsigned char>(values[s]);
          } else {
            row[bit / 8] = static_cast<unsigned char>(row[bit / 8] |
                                                      (values[s] << (8 - layout.depth - bit % 8)));
          }
        }
      }
      const int filter = row_number++ % 5;
      raw.push_back(static_cast<unsigned char>(filter));
      for (std::size_t i = 0; i < row_bytes; ++i) {
        const bool has_left = i >= left_distance;
        const int a = has_left ? row[i - left_distance] : 0, b = y > 0 ? above[i] : 0,
                  c = (has_left && y > 0) ? above[i - left_distance] : 0;
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
  AppendBe32(header, layout.width);
  AppendBe32(header, layout.height);
  header.insert(header.end(), {static_cast<unsigned char>(layout.depth), layout.type, 0, 0,
                               static_cast<unsigned char>(layout.interlaced)});
  Chunk(png, "IHDR", header);
  Chunk(png, "tEXt", TextBytes(std::string("Comment\0ancillary, skipped", 26)));
  if (!layout.palette.empty()) Chunk(png, "PLTE", layout.palette);
  if (!layout.transparency.empty()) Chunk(png, "tRNS", layout.transparency);
  const Bytes compressed = Deflate(raw);
  const std::size_t half = compressed.size() / 2;
  Chunk(png, "IDAT",
        Bytes(compressed.begin(), compressed.begin() + static_cast<std::ptrdiff_t>(half)));
  Chunk(png, "IDAT",
        Bytes(compressed.begin() + static_cast<std::ptrdiff_t>(half), compressed.end()));
  Chunk(png, "IEND", {});
  return png;
}

// ---------------------------------------------------------------- BMP

struct Colour {
  unsigned red = 0, green = 0, blue = 0, alpha = 255;
};

struct BmpSpec {
  std::uint32_t width = 1;
  std::uint32_t height = 1;
  unsigned bits = 24;
  std::uint32_t header_size = 40;  // 12 (old style), 40, 56, 108 or 124
  bool top_down = false;
  bool bitfields = false;                // colour masks (16 and 32 bits)
  std::array<std::uint32_t, 4> masks{};  // red, green, blue, alpha
  std::vector<Colour> table;             // the colour table, 8 bits or fewer
  // The value the file stores for the pixel at x, y: a colour index, or the
  // packed pixel of 16 and 32 bits, or 0xRRGGBB for 24.
  std::function<std::uint32_t(std::uint32_t x, std::uint32_t y)> pixel;
};

inline void PutLe(Bytes& out, std::size_t at, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i)
    out[at + static_cast<std::size_t>(i)] = static_cast<unsigned char>(v >> (8 * i));
}

inline Bytes HandMadeBmp(const BmpSpec& layout) {
  const bool core = layout.header_size == 12;
  const std::size_t entry = core ? 3 : 4;
  const bool masks_after = layout.bitfields && layout.header_size == 40;
  const std::size_t table_at = 14 + layout.header_size + (masks_after ? 12 : 0);
  const std::size_t pixels_at = table_at + layout.table.size() * entry;
  const std::size_t stride = (std::size_t{layout.width} * layout.bits + 31) / 32 * 4;
  Bytes out(pixels_at + stride * layout.height, 0);
  out[0] = 'B';
  out[1] = 'M';
  PutLe(out, 2, static_cast<std::uint32_t>(out.size()), 4);
  PutLe(out, 10, static_cast<std::uint32_t>(pixels_at), 4);
  PutLe(out, 14, layout.header_size, 4);
  if (core) {
    PutLe(out, 18, layout.width, 2);
    PutLe(out, 20, layout.height, 2);
    PutLe(out, 22, 1, 2);
    PutLe(out, 24, layout.bits, 2);
  } else {
    PutLe(out, 18, layout.width, 4);
    PutLe(out, 22, layout.top_down ? 0u - layout.height : layout.height, 4);
    PutLe(out, 26, 1, 2);
    PutLe(out, 28, layout.bits, 2);
    PutLe(out, 30, layout.bitfields ? 3 : 0, 4);
    PutLe(out, 46, static_cast<std::uint32_t>(layout.table.size()), 4);
    if (layout.bitfields) {
      const int held = layout.header_size == 40 ? 3 : layout.header_size >= 56 ? 4 : 3;
      for (int i = 0; i < held; ++i)
        PutLe(out, 54 + 4 * static_cast<std::size_t>(i), layout.masks[static_cast<std::size_t>(i)],
              4);
    }
  }
  for (std::size_t i = 0; i < layout.table.size(); ++i) {
    unsigned char* e = out.data() + table_at + i * entry;
    e[0] = static_cast<unsigned char>(layout.table[i].blue);
    e[1] = static_cast<unsigned char>(layout.table[i].green);
    e[2] = static_cast<unsigned char>(layout.table[i].red);
  }
  for (std::uint32_t row = 0; row < layout.height; ++row) {
    const std::uint32_t y = layout.top_down ? row : layout.height - 1 - row;
    const std::size_t from = pixels_at + row * stride;
    for (std::uint32_t x = 0; x < layout.width; ++x) {
      const std::uint32_t v = layout.pixel(x, y);
      if (layout.bits < 8) {
        const std::size_t bit = std::size_t{x} * layout.bits;
        out[from + bit / 8] =
            static_cast<unsigned char>(out[from + bit / 8] | (v << (8 - layout.bits - bit % 8)));
      } else {
        PutLe(out, from + std::size_t{x} * layout.bits / 8, v, static_cast<int>(layout.bits / 8));
      }
    }
  }
  return out;
}

}  // namespace picture_writers
