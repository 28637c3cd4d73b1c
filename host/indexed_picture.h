// A picture of palette indexes: what GP8 stores and what the host reads from
// and writes to PNG and BMP files.
#pragma once

#include <cstdint>
#include <vector>

struct Rgb {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

constexpr std::size_t kMaxPaletteSize = 256;

struct IndexedPicture {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<Rgb> palette;          // 1 to 256 entries
  std::vector<std::uint8_t> pixels;  // width x height indexes, top row first

  std::uint8_t At(std::uint32_t x, std::uint32_t y) const {
    return pixels[std::size_t{y} * width + x];
  }
};
