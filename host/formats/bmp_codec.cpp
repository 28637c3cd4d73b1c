#include "host/formats/bmp_codec.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <string>

#include "byte_order.h"
#include "host/host_error.h"

namespace {

// BITMAPFILEHEADER.
constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kFileSizeOffset = 2;
constexpr std::size_t kPixelOffsetOffset = 10;
// The information header, from the start of the file. Its size comes first.
constexpr std::size_t kInfoSizeOffset = 14;
constexpr std::size_t kInfoSizeSize = 4;
// BITMAPCOREHEADER (12 bytes): 16-bit sizes, a colour table of RGBTRIPLEs.
constexpr std::uint32_t kCoreHeaderSize = 12;
constexpr std::size_t kCoreWidthOffset = 18;
constexpr std::size_t kCoreHeightOffset = 20;
constexpr std::size_t kCoreBitCountOffset = 24;
constexpr std::size_t kCoreColourEntrySize = 3;
// BITMAPINFOHEADER (40 bytes) and the later headers that extend it.
constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr std::size_t kWidthOffset = 18;
constexpr std::size_t kHeightOffset = 22;
constexpr std::size_t kPlanesOffset = 26;
constexpr std::size_t kBitCountOffset = 28;
constexpr std::size_t kCompressionOffset = 30;
constexpr std::size_t kImageSizeOffset = 34;
constexpr std::size_t kXDensityOffset = 38;
constexpr std::size_t kYDensityOffset = 42;
constexpr std::size_t kColoursUsedOffset = 46;
// Colour masks: red, green, blue, then alpha; inside a header of 52 bytes or
// more, or right after a 40-byte one.
constexpr std::size_t kMasksOffset = 54;
constexpr std::uint32_t kHeaderWithRgbMasks = 52;
constexpr std::uint32_t kHeaderWithAlphaMask = 56;
constexpr std::size_t kColourEntrySize = 4;  // blue, green, red, 0

constexpr std::uint32_t kUncompressed = 0;  // BI_RGB
constexpr std::uint32_t kRle8 = 1;
constexpr std::uint32_t kRle4 = 2;
constexpr std::uint32_t kBitFields = 3;
constexpr std::uint32_t kAlphaBitFields = 6;
constexpr std::uint32_t kPixelsPerMetre = 2835;  // 72 dots an inch

std::uint64_t RowStride(std::uint64_t width, unsigned bits) { return (width * bits + 31) / 32 * 4; }

std::string ByteCount(std::uint64_t count) {
  return std::to_string(count) + (count == 1 ? " byte" : " bytes");
}

// "is truncated: it needs 48 bytes for its 4 rows of pixels from offset 54,
// and the file holds 16 of them".
[[noreturn]] void Truncated(const std::string& part, std::uint64_t needed, std::uint64_t at,
                            std::uint64_t file_size) {
  const std::uint64_t held = file_size > at ? std::min(needed, file_size - at) : 0;
  throw HostError("is truncated: it needs " + ByteCount(needed) + " for " + part + " from offset " +
                  std::to_string(at) + ", and the file holds " + std::to_string(held) + " of them");
}

// One channel of a colour mask: where its bits lie and how to widen them
// to 8 bits.
struct Channel {
  std::uint32_t mask = 0;
  int shift = 0;
  std::uint32_t top = 0;  // the largest value, all its bits set

  static Channel Of(std::uint32_t mask, const char* name) {
    Channel channel;
    channel.mask = mask;
    if (mask == 0) return channel;
    channel.shift = std::countr_zero(mask);
    const std::uint32_t bits = mask >> channel.shift;
    if ((bits & (bits + 1)) != 0)
      throw HostError(std::string("is damaged: its ") + name + " mask has gaps");
    if (std::popcount(bits) > 8)
      throw HostError(std::string("has more than 8 bits of ") + name +
                      " a pixel; only pictures of 8 bits a channel can be encoded");
    channel.top = bits;
    return channel;
  }

  std::uint8_t Value(std::uint32_t pixel, std::uint8_t absent) const {
    if (mask == 0) return absent;
    const std::uint32_t v = (pixel & mask) >> shift;
    return static_cast<std::uint8_t>((v * 255 + top / 2) / top);
  }
};

struct Layout {
  std::int64_t width = 0;
  std::int64_t height = 0;  // negative: top row first
  unsigned bits = 0;
  std::uint32_t compression = kUncompressed;
  std::uint32_t colours_used = 0;
  std::size_t table_at = 0;
  std::size_t entry_size = kColourEntrySize;
  std::array<std::uint32_t, 4> masks = {};  // red, green, blue, alpha
};

Layout ReadLayout(std::span<const unsigned char> bytes) {
  const std::uint64_t size = bytes.size();
  if (size < kFileHeaderSize + kInfoSizeSize)
    Truncated("its file header", kFileHeaderSize + kInfoSizeSize, 0, size);
  const std::uint32_t info_size = ReadLe32(bytes.data() + kInfoSizeOffset);
  Layout layout;
  if (info_size == kCoreHeaderSize) {
    if (info_size > size - kFileHeaderSize)
      Truncated("its 12-byte information header", info_size, kFileHeaderSize, size);
    layout.width = ReadLe16(bytes.data() + kCoreWidthOffset);
    layout.height = ReadLe16(bytes.data() + kCoreHeightOffset);
    layout.bits = ReadLe16(bytes.data() + kCoreBitCountOffset);
    layout.entry_size = kCoreColourEntrySize;
    layout.table_at = kFileHeaderSize + kCoreHeaderSize;
    return layout;
  }
  if (info_size < kInfoHeaderSize)
    throw HostError("is damaged: its information header is " + ByteCount(info_size) +
                    " long, shorter than any BMP header");
  if (info_size > size - kFileHeaderSize)
    Truncated("its " + std::to_string(info_size) + "-byte information header", info_size,
              kFileHeaderSize, size);
  layout.width = static_cast<std::int32_t>(ReadLe32(bytes.data() + kWidthOffset));
  layout.height = static_cast<std::int32_t>(ReadLe32(bytes.data() + kHeightOffset));
  layout.bits = ReadLe16(bytes.data() + kBitCountOffset);
  layout.compression = ReadLe32(bytes.data() + kCompressionOffset);
  layout.colours_used = ReadLe32(bytes.data() + kColoursUsedOffset);
  layout.table_at = kFileHeaderSize + info_size;

  if (layout.compression == kRle8 || layout.compression == kRle4)
    throw HostError("is a run-length compressed BMP (method " + std::to_string(layout.compression) +
                    "); only uncompressed BMP files are read");
  const bool bitfields = layout.compression == kBitFields || layout.compression == kAlphaBitFields;
  if (layout.compression != kUncompressed && !bitfields)
    throw HostError("is a compressed BMP (method " + std::to_string(layout.compression) +
                    "); only uncompressed BMP files are read");
  if (bitfields) {
    if (layout.bits != 16 && layout.bits != 32)
      throw HostError("is damaged: colour masks with " + std::to_string(layout.bits) +
                      " bits a pixel");
    // A 40-byte header is followed by the masks; later headers hold them.
    const std::size_t mask_count = layout.compression == kAlphaBitFields ? 4 : 3;
    if (info_size == kInfoHeaderSize) {
      if (mask_count * 4 > size - layout.table_at)
        Truncated("its colour masks", mask_count * 4, layout.table_at, size);
      layout.table_at += mask_count * 4;
    } else if (info_size < kHeaderWithRgbMasks) {
      throw HostError("is damaged: its header of " + ByteCount(info_size) + " has no colour masks");
    }
    const std::size_t held = info_size == kInfoHeaderSize        ? mask_count
                             : info_size >= kHeaderWithAlphaMask ? 4
                                                                 : 3;
    for (std::size_t i = 0; i < held; ++i)
      layout.masks[i] = ReadLe32(bytes.data() + kMasksOffset + 4 * i);
  } else if (layout.bits == 16) {
    layout.masks = {0x7C00, 0x03E0, 0x001F, 0};  // 5 bits each
  } else if (layout.bits == 32) {
    layout.masks = {0xFF0000, 0xFF00, 0xFF, 0};  // the fourth byte is unused
  }
  return layout;
}

}  // namespace

bool IsBmp(std::span<const unsigned char> bytes) {
  return bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M';
}

PictureFile DecodeBmp(std::span<const unsigned char> bytes, bool& transparent) {
  transparent = false;
  if (!IsBmp(bytes)) throw HostError("is not a BMP file");
  const Layout layout = ReadLayout(bytes);
  const std::uint64_t size = bytes.size();
  const unsigned bits = layout.bits;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
    throw HostError("is damaged: " + std::to_string(bits) + " bits a pixel");
  if (layout.width <= 0 || layout.height == 0)
    throw HostError("is damaged: its size is " + std::to_string(layout.width) + "x" +
                    std::to_string(layout.height) + ", which holds no pixels");
  const bool top_down = layout.height < 0;
  const std::uint64_t width = static_cast<std::uint64_t>(layout.width);
  const std::uint64_t height =
      static_cast<std::uint64_t>(top_down ? -layout.height : layout.height);
  CheckPictureSize(width, height);

  PictureFile file;
  IndexedPicture& picture = file.indexed;
  RgbPicture& colours_of = file.colours;
  const bool indexed = bits <= 8;
  std::uint32_t colours = 0;
  std::size_t table_end = layout.table_at;
  const std::uint32_t pixels_at = ReadLe32(bytes.data() + kPixelOffsetOffset);
  if (indexed) {
    const std::uint32_t capacity = 1u << bits;
    colours = layout.colours_used;
    if (colours > capacity)
      throw HostError("is damaged: it gives " + std::to_string(colours) + " colours for " +
                      std::to_string(bits) + " bits a pixel, which index at most " +
                      std::to_string(capacity));
    if (colours == 0) {
      // No count: a full table, unless the pixels begin before its end; some
      // writers keep only the entries they use.
      colours = capacity;
      if (pixels_at > layout.table_at && pixels_at < layout.table_at + capacity * layout.entry_size)
        colours = static_cast<std::uint32_t>((pixels_at - layout.table_at) / layout.entry_size);
    }
    if (colours == 0) throw HostError("is damaged: it has no colour table");
    const std::uint64_t table_bytes = std::uint64_t{colours} * layout.entry_size;
    if (table_bytes > size - std::min<std::uint64_t>(size, layout.table_at))
      Truncated("its colour table of " + std::to_string(colours) + " entries", table_bytes,
                layout.table_at, size);
    table_end = layout.table_at + static_cast<std::size_t>(table_bytes);
    for (std::uint32_t i = 0; i < colours; ++i) {
      const unsigned char* entry = bytes.data() + layout.table_at + i * layout.entry_size;
      picture.palette.push_back({entry[2], entry[1], entry[0]});
    }
  }
  if (pixels_at < table_end)
    throw HostError("is damaged: its pixels are said to begin at offset " +
                    std::to_string(pixels_at) + ", inside its headers" +
                    (indexed ? std::string(" and colour table") : std::string()) +
                    ", which end at offset " + std::to_string(table_end));

  // Every row's pixels must be there; only the last row's fill may be
  // missing, which holds none.
  const std::uint64_t stride = RowStride(width, bits);
  const std::uint64_t needed = stride * (height - 1) + (width * bits + 7) / 8;
  if (pixels_at > size || needed > size - pixels_at)
    Truncated("its " + std::to_string(height) + (height == 1 ? " row" : " rows") + " of pixels",
              needed, pixels_at, size);

  const auto columns = static_cast<std::uint32_t>(width);
  const auto rows = static_cast<std::uint32_t>(height);
  if (indexed) {
    picture.width = columns;
    picture.height = rows;
    picture.pixels.resize(static_cast<std::size_t>(width * height));
  } else {
    colours_of.width = columns;
    colours_of.height = rows;
    colours_of.pixels.resize(static_cast<std::size_t>(width * height));
  }
  const Channel red = Channel::Of(layout.masks[0], "red");
  const Channel green = Channel::Of(layout.masks[1], "green");
  const Channel blue = Channel::Of(layout.masks[2], "blue");
  const Channel alpha = Channel::Of(layout.masks[3], "alpha");
  // Top row first, whatever the order of the rows in the file.
  for (std::uint32_t y = 0; y < rows; ++y) {
    const std::uint32_t row = top_down ? y : rows - 1 - y;
    const unsigned char* from = bytes.data() + pixels_at + static_cast<std::size_t>(row * stride);
    std::uint8_t* out = indexed ? picture.pixels.data() + std::size_t{y} * columns : nullptr;
    Rgb* colour = indexed ? nullptr : colours_of.pixels.data() + std::size_t{y} * columns;
    for (std::uint32_t x = 0; x < columns; ++x) {
      if (indexed) {
        const std::uint64_t bit = std::uint64_t{x} * bits;
        const unsigned index = (from[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
        if (index >= colours)
          throw HostError("is damaged: the pixel at " + std::to_string(x) + "," +
                          std::to_string(y) + " has colour index " + std::to_string(index) +
                          " but the colour table has " + std::to_string(colours) + " entries");
        out[x] = static_cast<std::uint8_t>(index);
      } else if (bits == 24) {
        const unsigned char* p = from + 3 * std::size_t{x};
        colour[x] = {p[2], p[1], p[0]};
      } else {
        const std::uint32_t pixel =
            bits == 16 ? ReadLe16(from + 2 * std::size_t{x}) : ReadLe32(from + 4 * std::size_t{x});
        transparent = transparent || alpha.Value(pixel, 0xFF) != 0xFF;
        colour[x] = {red.Value(pixel, 0), green.Value(pixel, 0), blue.Value(pixel, 0)};
      }
    }
  }
  return file;
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
