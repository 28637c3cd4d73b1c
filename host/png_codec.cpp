#include "png_codec.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host_error.h"
#include "stb_support.h"

namespace {

constexpr std::array<unsigned char, 8> kSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::size_t kChunkOverhead = 12;  // length, type, CRC
constexpr std::uint32_t kHeaderLength = 13;
constexpr std::uint8_t kPaletteColourType = 3;
constexpr std::uint8_t kFilterNone = 0;
constexpr std::uint32_t kMaxDimension = 0x7FFFFFFF;

// Adam7: first column and row of each pass, and the steps between pixels.
struct Pass {
  std::uint32_t x0, y0, dx, dy;
};
constexpr std::array<Pass, 7> kAdam7 = {{{0, 0, 8, 8},
                                         {4, 0, 8, 8},
                                         {0, 4, 4, 8},
                                         {2, 0, 4, 4},
                                         {0, 2, 2, 4},
                                         {1, 0, 2, 2},
                                         {0, 1, 1, 2}}};
constexpr Pass kWholePicture = {0, 0, 1, 1};

std::uint32_t ReadBe32(const unsigned char* at) {
  return (std::uint32_t{at[0]} << 24) | (std::uint32_t{at[1]} << 16) | (std::uint32_t{at[2]} << 8) |
         at[3];
}

void AppendBe32(Bytes& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8)
    out.push_back(static_cast<unsigned char>(value >> shift));
}

std::uint32_t Crc32(const unsigned char* bytes, std::size_t size) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size; ++i) crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

void AppendChunk(Bytes& out, const char (&type)[5], std::span<const unsigned char> data) {
  AppendBe32(out, static_cast<std::uint32_t>(data.size()));
  const std::size_t typed_at = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  AppendBe32(out, Crc32(out.data() + typed_at, out.size() - typed_at));
}

struct Header {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint8_t bit_depth = 0;
  std::uint8_t colour_type = 0;
  bool interlaced = false;
};

std::uint64_t PassWidth(const Header& header, const Pass& pass) {
  return header.width > pass.x0 ? (header.width - pass.x0 + pass.dx - 1) / pass.dx : 0;
}
std::uint64_t PassHeight(const Header& header, const Pass& pass) {
  return header.height > pass.y0 ? (header.height - pass.y0 + pass.dy - 1) / pass.dy : 0;
}
std::uint64_t RowBytes(const Header& header, std::uint64_t pixels) {
  return (pixels * header.bit_depth + 7) / 8;
}

unsigned char Paeth(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a);
  const int pb = std::abs(p - b);
  const int pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return static_cast<unsigned char>(a);
  if (pb <= pc) return static_cast<unsigned char>(b);
  return static_cast<unsigned char>(c);
}

// Reverses the row filters of one pass in place and places its pixels.
// Returns the position after the pass's bytes.
std::size_t ExpandPass(const Header& header, const Pass& pass, Bytes& raw, std::size_t at,
                       std::size_t palette_size, IndexedPicture& picture) {
  const std::uint64_t width = PassWidth(header, pass);
  const std::uint64_t height = PassHeight(header, pass);
  if (width == 0 || height == 0) return at;
  const std::size_t row_bytes = static_cast<std::size_t>(RowBytes(header, width));
  const unsigned mask = (1u << header.bit_depth) - 1;
  const unsigned char* above = nullptr;
  for (std::uint64_t y = 0; y < height; ++y) {
    const unsigned char filter = raw[at];
    unsigned char* row = raw.data() + at + 1;
    for (std::size_t i = 0; i < row_bytes; ++i) {
      // Palette pixels are at most one byte: the byte to the left is the
      // previous one.
      const int a = i > 0 ? row[i - 1] : 0;
      const int b = above != nullptr ? above[i] : 0;
      const int c = (i > 0 && above != nullptr) ? above[i - 1] : 0;
      switch (filter) {
        case 0:
          break;
        case 1:
          row[i] = static_cast<unsigned char>(row[i] + a);
          break;
        case 2:
          row[i] = static_cast<unsigned char>(row[i] + b);
          break;
        case 3:
          row[i] = static_cast<unsigned char>(row[i] + ((a + b) >> 1));
          break;
        case 4:
          row[i] = static_cast<unsigned char>(row[i] + Paeth(a, b, c));
          break;
        default:
          throw HostError("is damaged (row filter " + std::to_string(filter) + ")");
      }
    }
    for (std::uint64_t x = 0; x < width; ++x) {
      const std::uint64_t bit = x * header.bit_depth;
      const unsigned shift = 8 - header.bit_depth - static_cast<unsigned>(bit % 8);
      const unsigned index = (row[bit / 8] >> shift) & mask;
      if (index >= palette_size)
        throw HostError("has a pixel of palette index " + std::to_string(index) +
                        " but a palette of " + std::to_string(palette_size) + " entries");
      const std::uint64_t px = pass.x0 + x * pass.dx;
      const std::uint64_t py = pass.y0 + y * pass.dy;
      picture.pixels[static_cast<std::size_t>(py * header.width + px)] =
          static_cast<std::uint8_t>(index);
    }
    above = row;
    at += 1 + row_bytes;
  }
  return at;
}

}  // namespace

bool IsPng(std::span<const unsigned char> bytes) {
  return bytes.size() >= kSignature.size() &&
         std::equal(kSignature.begin(), kSignature.end(), bytes.begin());
}

std::optional<IndexedPicture> DecodeIndexedPng(std::span<const unsigned char> bytes,
                                               bool& transparent) {
  transparent = false;
  if (!IsPng(bytes)) throw HostError("is not a PNG file");
  Header header;
  bool have_header = false;
  bool ended = false;
  IndexedPicture picture;
  Bytes compressed;
  std::size_t at = kSignature.size();
  while (!ended) {
    if (kChunkOverhead > bytes.size() - at) throw HostError("is truncated (no IEND chunk)");
    const std::uint32_t length = ReadBe32(bytes.data() + at);
    if (length > bytes.size() - at - kChunkOverhead) throw HostError("is truncated");
    const unsigned char* type = bytes.data() + at + 4;
    const unsigned char* data = type + 4;
    if (Crc32(type, 4 + std::size_t{length}) != ReadBe32(data + length))
      throw HostError("is damaged (CRC of chunk " + std::string(type, type + 4) + ")");
    const std::string name(type, type + 4);
    if (!have_header && name != "IHDR") throw HostError("is damaged (does not begin with IHDR)");
    if (name == "IHDR") {
      if (have_header || length != kHeaderLength) throw HostError("is damaged (IHDR)");
      header.width = ReadBe32(data);
      header.height = ReadBe32(data + 4);
      header.bit_depth = data[8];
      header.colour_type = data[9];
      header.interlaced = data[12] == 1;
      if (header.width == 0 || header.height == 0 || header.width > kMaxDimension ||
          header.height > kMaxDimension || data[10] != 0 || data[11] != 0 || data[12] > 1)
        throw HostError("is damaged (IHDR)");
      if (header.colour_type != kPaletteColourType) return std::nullopt;
      if (header.bit_depth != 1 && header.bit_depth != 2 && header.bit_depth != 4 &&
          header.bit_depth != 8)
        throw HostError("is damaged (bit depth " + std::to_string(header.bit_depth) + ")");
      have_header = true;
    } else if (name == "PLTE") {
      if (length % 3 != 0 || length == 0 || length / 3 > kMaxPaletteSize ||
          !picture.palette.empty())
        throw HostError("is damaged (PLTE)");
      for (std::uint32_t i = 0; i < length; i += 3)
        picture.palette.push_back({data[i], data[i + 1], data[i + 2]});
    } else if (name == "tRNS") {
      for (std::uint32_t i = 0; i < length; ++i) transparent = transparent || data[i] != 0xFF;
    } else if (name == "IDAT") {
      compressed.insert(compressed.end(), data, data + length);
    } else if (name == "IEND") {
      ended = true;
    } else if ((type[0] & 0x20) == 0) {
      throw HostError("holds chunk " + name + ", which this reader does not know and may not skip");
    }
    at += kChunkOverhead + length;
  }
  if (picture.palette.empty()) throw HostError("is damaged (no PLTE chunk)");

  std::uint64_t raw_size = 0;
  if (header.interlaced) {
    for (const Pass& pass : kAdam7) {
      const std::uint64_t w = PassWidth(header, pass);
      if (w != 0) raw_size += PassHeight(header, pass) * (1 + RowBytes(header, w));
    }
  } else {
    raw_size = std::uint64_t{header.height} * (1 + RowBytes(header, header.width));
  }
  const std::uint64_t pixel_count = std::uint64_t{header.width} * header.height;
  if (raw_size > SIZE_MAX / 2 || pixel_count > SIZE_MAX / 2)
    throw HostError("is too large to read");
  std::optional<Bytes> raw = ZlibDecompress(compressed, static_cast<std::size_t>(raw_size));
  if (!raw) throw HostError("is damaged (its compressed pixel data)");
  if (raw->size() < raw_size) throw HostError("is truncated (pixel data)");

  picture.width = header.width;
  picture.height = header.height;
  picture.pixels.assign(static_cast<std::size_t>(pixel_count), 0);
  std::size_t consumed = 0;
  if (header.interlaced) {
    for (const Pass& pass : kAdam7)
      consumed = ExpandPass(header, pass, *raw, consumed, picture.palette.size(), picture);
  } else {
    ExpandPass(header, kWholePicture, *raw, consumed, picture.palette.size(), picture);
  }
  return picture;
}

Bytes EncodeIndexedPng(const IndexedPicture& picture) {
  if (picture.width == 0 || picture.height == 0 || picture.width > kMaxDimension ||
      picture.height > kMaxDimension)
    throw HostError("a PNG cannot hold a picture of " + std::to_string(picture.width) + "x" +
                    std::to_string(picture.height));
  Bytes out(kSignature.begin(), kSignature.end());

  Bytes header;
  AppendBe32(header, picture.width);
  AppendBe32(header, picture.height);
  header.insert(header.end(), {8, kPaletteColourType, 0, 0, 0});
  AppendChunk(out, "IHDR", header);

  Bytes palette;
  for (const Rgb& colour : picture.palette)
    palette.insert(palette.end(), {colour.red, colour.green, colour.blue});
  AppendChunk(out, "PLTE", palette);

  Bytes rows;
  rows.reserve((std::size_t{picture.width} + 1) * picture.height);
  for (std::uint32_t y = 0; y < picture.height; ++y) {
    rows.push_back(kFilterNone);
    const auto row =
        picture.pixels.begin() + static_cast<std::ptrdiff_t>(std::size_t{y} * picture.width);
    rows.insert(rows.end(), row, row + picture.width);
  }
  AppendChunk(out, "IDAT", ZlibCompress(rows));
  AppendChunk(out, "IEND", {});
  return out;
}
