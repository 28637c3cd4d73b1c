// A small GP8 writer for building test pictures: header, palette and a
// stream, either literal-only from given pixels or raw bytes from hex.
#pragma once

#include <algorithm>  // test_files.h sorts without it
#include <cstdint>
#include <stdexcept>
#include <string>

#include "test_files.h"

inline constexpr std::size_t kGp8StreamOffset = 1032;

// A palette whose entry i is blue i, green 255 - i, red i ^ 0x5A, and 0.
inline Bytes TestPalette() {
  Bytes palette(1024, 0);
  for (int i = 0; i < 256; ++i) {
    palette[4 * i] = static_cast<unsigned char>(i);
    palette[4 * i + 1] = static_cast<unsigned char>(255 - i);
    palette[4 * i + 2] = static_cast<unsigned char>(i ^ 0x5A);
  }
  return palette;
}

// A GP8 file: the rectangle (left, top, right, bottom), the palette, then the
// stream as given.
inline Bytes Gp8File(std::uint16_t left, std::uint16_t top, std::uint16_t right,
                     std::uint16_t bottom, const Bytes& stream,
                     const Bytes& palette = TestPalette()) {
  Bytes file;
  for (std::uint16_t v : {left, top, right, bottom}) {
    file.push_back(static_cast<unsigned char>(v));
    file.push_back(static_cast<unsigned char>(v >> 8));
  }
  file.insert(file.end(), palette.begin(), palette.end());
  file.insert(file.end(), stream.begin(), stream.end());
  return file;
}

// The stream that carries the pixels as literals: a flag byte of FF before
// every eight of them. A last, short group has fewer bits set, and its other
// items would be matches: such a stream ends the picture.
inline Bytes LiteralStream(const Bytes& pixels) {
  Bytes stream;
  for (std::size_t i = 0; i < pixels.size(); i += 8) {
    const std::size_t n = pixels.size() - i < 8 ? pixels.size() - i : 8;
    stream.push_back(static_cast<unsigned char>((1u << n) - 1));
    stream.insert(stream.end(), pixels.begin() + static_cast<std::ptrdiff_t>(i),
                  pixels.begin() + static_cast<std::ptrdiff_t>(i + n));
  }
  return stream;
}

// A picture at the origin, right x bottom, carrying its pixels as literals.
inline Bytes LiteralPicture(std::uint16_t right, std::uint16_t bottom, const Bytes& pixels) {
  return Gp8File(0, 0, right, bottom, LiteralStream(pixels));
}

// Bytes from hex pairs, spaces allowed: "FD 41 EE FF".
inline Bytes HexBytes(const std::string& hex) {
  Bytes bytes;
  std::string pair;
  for (char c : hex) {
    if (c == ' ') continue;
    pair.push_back(c);
    if (pair.size() == 2) {
      bytes.push_back(static_cast<unsigned char>(std::stoul(pair, nullptr, 16)));
      pair.clear();
    }
  }
  if (!pair.empty()) throw std::invalid_argument("odd number of hex digits: " + hex);
  return bytes;
}

// Pixels 0, 1, 2, ... wrapping at 251, so no short period hides a misplaced row.
inline Bytes CountingPixels(std::size_t count) {
  Bytes pixels(count);
  for (std::size_t i = 0; i < count; ++i) pixels[i] = static_cast<unsigned char>(i % 251);
  return pixels;
}
