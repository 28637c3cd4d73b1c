#include "bmp_codec.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "byte_order.h"
#include "host_error.h"

namespace {

// BITMAPFILEHEADER.
constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kFileSizeOffset = 2;
constexpr std::size_t kPixelOffsetOffset = 10;
// BITMAPINFOHEADER, from the start of the file.
constexpr std::size_t kInfoSizeOffset = 14;
constexpr std::size_t kWidthOffset = 18;
constexpr std::size_t kHeightOffset = 22;
constexpr std::size_t kPlanesOffset = 26;
constexpr std::size_t kBitCountOffset = 28;
constexpr std::size_t kCompressionOffset = 30;
constexpr std::size_t kImageSizeOffset = 34;
constexpr std::size_t kXDensityOffset = 38;
constexpr std::size_t kYDensityOffset = 42;
constexpr std::size_t kColoursUsedOffset = 46;
constexpr std::size_t kInfoHeaderSize = 40;
constexpr std::size_t kColourEntrySize = 4;      // blue, green, red, 0
constexpr std::uint32_t kUncompressed = 0;       // BI_RGB
constexpr std::uint32_t kPixelsPerMetre = 2835;  // 72 dots an inch

std::uint64_t RowStride(std::uint64_t width, unsigned bits) { return (width * bits + 31) / 32 * 4; }

}  // namespace

bool IsBmp(std::span<const unsigned char> bytes) {
  return bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M';
}

std::optional<IndexedPicture> DecodeIndexedBmp(std::span<const unsigned char> bytes) {
  if (!IsBmp(bytes) || bytes.size() < kFileHeaderSize + 4) throw HostError("is not a BMP file");
  const std::uint32_t info_size = ReadLe32(bytes.data() + kInfoSizeOffset);
  if (info_size < kInfoHeaderSize) return std::nullopt;  // an old-style header
  if (info_size > bytes.size() - kFileHeaderSize) throw HostError("is truncated (its header)");

  const auto width = static_cast<std::int32_t>(ReadLe32(bytes.data() + kWidthOffset));
  const auto height = static_cast<std::int32_t>(ReadLe32(bytes.data() + kHeightOffset));
  const unsigned bits = ReadLe16(bytes.data() + kBitCountOffset);
  const std::uint32_t compression = ReadLe32(bytes.data() + kCompressionOffset);
  if (bits != 1 && bits != 4 && bits != 8) return std::nullopt;
  if (compression != kUncompressed)
    throw HostError("is a compressed BMP (method " + std::to_string(compression) +
                    "); only uncompressed BMP files are read");
  if (width <= 0 || height == 0 || height == INT32_MIN)
    throw HostError("is damaged (size " + std::to_string(width) + "x" + std::to_string(height) +
                    ")");

  const std::uint32_t table_capacity = 1u << bits;
  std::uint32_t colours = ReadLe32(bytes.data() + kColoursUsedOffset);
  if (colours == 0) colours = table_capacity;
  if (colours > table_capacity)
    throw HostError("is damaged (" + std::to_string(colours) + " colours)");
  const std::size_t table_at = kFileHeaderSize + info_size;
  if (std::uint64_t{colours} * kColourEntrySize > bytes.size() - table_at)
    throw HostError("is truncated (its colour table)");

  IndexedPicture picture;
  picture.palette = ReadRgbQuads(bytes.data() + table_at, colours);

  const bool top_down = height < 0;
  picture.width = static_cast<std::uint32_t>(width);
  picture.height = static_cast<std::uint32_t>(top_down ? -height : height);
  const std::uint64_t stride = RowStride(picture.width, bits);
  const std::uint32_t pixels_at = ReadLe32(bytes.data() + kPixelOffsetOffset);
  if (pixels_at > bytes.size() || stride * picture.height > bytes.size() - pixels_at)
    throw HostError("is truncated (its pixels)");

  picture.pixels.resize(static_cast<std::size_t>(std::uint64_t{picture.width} * picture.height));
  const unsigned mask = (1u << bits) - 1;
  for (std::uint32_t row = 0; row < picture.height; ++row) {
    const unsigned char* from = bytes.data() + pixels_at + static_cast<std::size_t>(row * stride);
    const std::uint32_t y = top_down ? row : picture.height - 1 - row;
    for (std::uint32_t x = 0; x < picture.width; ++x) {
      const std::uint64_t bit = std::uint64_t{x} * bits;
      const unsigned index = (from[bit / 8] >> (8 - bits - bit % 8)) & mask;
      if (index >= colours)
        throw HostError("has a pixel of colour index " + std::to_string(index) +
                        " but a colour table of " + std::to_string(colours) + " entries");
      picture.pixels[std::size_t{y} * picture.width + x] = static_cast<std::uint8_t>(index);
    }
  }
  return picture;
}

Bytes EncodeIndexedBmp(const IndexedPicture& picture) {
  const std::uint64_t stride = RowStride(picture.width, 8);
  const std::uint64_t pixels_at =
      kFileHeaderSize + kInfoHeaderSize + kColourEntrySize * picture.palette.size();
  const std::uint64_t file_size = pixels_at + stride * picture.height;
  if (picture.width == 0 || picture.height == 0 || picture.width > INT32_MAX ||
      picture.height > INT32_MAX || file_size > 0xFFFFFFFFu)
    throw HostError("a BMP cannot hold a picture of " + std::to_string(picture.width) + "x" +
                    std::to_string(picture.height));

  Bytes out(static_cast<std::size_t>(file_size), 0);
  unsigned char* at = out.data();
  at[0] = 'B';
  at[1] = 'M';
  WriteLe32(at + kFileSizeOffset, static_cast<std::uint32_t>(file_size));
  WriteLe32(at + kPixelOffsetOffset, static_cast<std::uint32_t>(pixels_at));
  WriteLe32(at + kInfoSizeOffset, kInfoHeaderSize);
  WriteLe32(at + kWidthOffset, picture.width);
  WriteLe32(at + kHeightOffset, picture.height);  // positive: bottom row first
  WriteLe16(at + kPlanesOffset, 1);
  WriteLe16(at + kBitCountOffset, 8);
  WriteLe32(at + kCompressionOffset, kUncompressed);
  WriteLe32(at + kImageSizeOffset, static_cast<std::uint32_t>(stride * picture.height));
  WriteLe32(at + kXDensityOffset, kPixelsPerMetre);
  WriteLe32(at + kYDensityOffset, kPixelsPerMetre);
  WriteLe32(at + kColoursUsedOffset, static_cast<std::uint32_t>(picture.palette.size()));
  unsigned char* table = at + kFileHeaderSize + kInfoHeaderSize;
  for (const Rgb& colour : picture.palette) {
    table[0] = colour.blue;
    table[1] = colour.green;
    table[2] = colour.red;
    table += kColourEntrySize;
  }
  for (std::uint32_t y = 0; y < picture.height; ++y) {
    unsigned char* row =
        at + static_cast<std::size_t>(pixels_at + (picture.height - 1 - y) * stride);
    const auto from =
        picture.pixels.begin() + static_cast<std::ptrdiff_t>(std::size_t{y} * picture.width);
    std::copy(from, from + picture.width, row);
  }
  return out;
}

std::vector<Rgb> ReadRgbQuads(const unsigned char* table, std::uint32_t count) {
  std::vector<Rgb> palette;
  palette.reserve(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    const unsigned char* quad = table + i * kColourEntrySize;
    palette.push_back({quad[2], quad[1], quad[0]});
  }
  return palette;
}
