#include "host/formats/picture_io.h"

#include <algorithm>
#include <cctype>

#include "host/formats/bmp_codec.h"
#include "byte_order.h"
#include "host/host_error.h"
#include "host/formats/png_codec.h"

namespace {

// BITMAPINFOHEADER fields, from the start of the header block.
constexpr std::size_t kDibInfoSize = 40;
constexpr std::size_t kDibWidthOffset = 4;
constexpr std::size_t kDibHeightOffset = 8;
constexpr std::size_t kDibBitCountOffset = 14;
constexpr std::size_t kDibCompressionOffset = 16;
constexpr std::size_t kDibColoursUsedOffset = 32;
constexpr std::size_t kDibColourEntrySize = 4;  // RGBQUAD: blue, green, red, 0
constexpr unsigned kDibBitsPerPixel = 8;

}  // namespace

PictureFile DecodePicture(std::span<const unsigned char> bytes, bool& transparency_dropped) {
  transparency_dropped = false;
  PictureFile file;
  if (IsPng(bytes)) {
    file = DecodePng(bytes, transparency_dropped);
  } else if (IsBmp(bytes)) {
    file = DecodeBmp(bytes, transparency_dropped);
  } else {
    throw HostError("is not a PNG or BMP picture");
  }
  if (file.IsTruecolour()) file.indexed = IndexedByFirstSeen(file.colours);
  return file;
}

RgbPicture ColoursOf(const PictureFile& file) {
  if (file.IsTruecolour()) return file.colours;
  RgbPicture colours;
  colours.width = file.indexed.width;
  colours.height = file.indexed.height;
  colours.pixels.reserve(file.indexed.pixels.size());
  for (std::uint8_t index : file.indexed.pixels)
    colours.pixels.push_back(file.indexed.palette[index]);
  return colours;
}

IndexedPicture PictureFromDib(std::span<const unsigned char> header,
                              std::span<const unsigned char> pixels) {
  if (header.size() < kDibInfoSize) throw HostError("the bitmap header is too short");
  const std::uint32_t info_size = ReadLe32(header.data());
  const auto width = static_cast<std::int32_t>(ReadLe32(header.data() + kDibWidthOffset));
  const auto height = static_cast<std::int32_t>(ReadLe32(header.data() + kDibHeightOffset));
  const unsigned bits = ReadLe16(header.data() + kDibBitCountOffset);
  const std::uint32_t compression = ReadLe32(header.data() + kDibCompressionOffset);
  if (bits != kDibBitsPerPixel || compression != 0)
    throw HostError("the bitmap is not an uncompressed one of 8 bits a pixel");
  if (width <= 0 || height == 0 || height == INT32_MIN)
    throw HostError("the picture has no pixels (" + std::to_string(width) + "x" +
                    std::to_string(height) + ")");

  std::uint32_t colours = ReadLe32(header.data() + kDibColoursUsedOffset);
  if (colours == 0) colours = kMaxPaletteSize;
  if (colours > kMaxPaletteSize || info_size < kDibInfoSize || info_size > header.size() ||
      colours * kDibColourEntrySize > header.size() - info_size)
    throw HostError("the bitmap header holds no complete colour table");

  IndexedPicture picture;
  picture.palette = ReadRgbQuads(header.data() + info_size, colours);
  const bool top_down = height < 0;
  picture.width = static_cast<std::uint32_t>(width);
  picture.height = static_cast<std::uint32_t>(top_down ? -std::int64_t{height} : height);
  const std::uint64_t stride = (std::uint64_t{picture.width} + 3) & ~std::uint64_t{3};
  if (stride * picture.height > pixels.size())
    throw HostError("the pixel block holds " + std::to_string(pixels.size()) +
                    " bytes, fewer than " + std::to_string(stride * picture.height) +
                    " for its rows");
  picture.pixels.resize(std::size_t{picture.width} * picture.height);
  for (std::uint32_t row = 0; row < picture.height; ++row) {
    const std::uint32_t y = top_down ? row : picture.height - 1 - row;
    const auto from = pixels.begin() + static_cast<std::ptrdiff_t>(row * stride);
    std::copy(from, from + picture.width,
              picture.pixels.begin() + static_cast<std::ptrdiff_t>(std::size_t{y} * picture.width));
  }
  return picture;
}

PictureFileType PictureFileTypeOf(const std::string& path) {
  const std::string name = BaseName(path);
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos) return PictureFileType::kUnknown;
  std::string extension = name.substr(dot + 1);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (extension == "png") return PictureFileType::kPng;
  if (extension == "bmp") return PictureFileType::kBmp;
  return PictureFileType::kUnknown;
}

Bytes EncodePicture(const IndexedPicture& picture, PictureFileType type,
                    const RowProgress& progress) {
  switch (type) {
    case PictureFileType::kPng:
      return EncodeIndexedPng(picture, progress);
    case PictureFileType::kBmp:
      return EncodeIndexedBmp(picture);
    case PictureFileType::kUnknown:
      break;
  }
  throw HostError("no picture file type to write");
}
