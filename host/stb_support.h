// What the host takes from the stb libraries, behind plain C++ calls: zlib
// streams for PNG, and decoding of PNG and BMP pictures of any colour type.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "file_io.h"

// A zlib stream of the bytes; throws HostError when they are too many for
// the compressor (2 GiB).
Bytes ZlibCompress(std::span<const unsigned char> bytes);

// The bytes of a zlib stream, or nothing when it is damaged. expected_size
// is a hint for the first allocation.
std::optional<Bytes> ZlibDecompress(std::span<const unsigned char> stream,
                                    std::size_t expected_size);

// A picture as red, green, blue and alpha bytes, top row first.
struct RgbaPixels {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> rgba;
};

// Decodes a PNG or BMP file of any colour type to 8-bit channels. Throws
// HostError with the reason when it cannot, and for pictures of 16 bits a
// channel, whose colours 8 bits cannot all hold.
RgbaPixels DecodeRgba(std::span<const unsigned char> bytes);
