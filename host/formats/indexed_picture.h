// A picture of palette indexes: what GP8 stores and what the host reads from
// and writes to PNG and BMP files.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "host/host_error.h"

struct Rgb {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

constexpr std::size_t kMaxPaletteSize = 256;
// The largest side the host reads: a GP8 picture holds no more.
constexpr std::uint32_t kMaxPictureSide = 65535;

struct IndexedPicture {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<Rgb> palette;          // 1 to 256 entries
  std::vector<std::uint8_t> pixels;  // width x height indexes, top row first

  std::uint8_t At(std::uint32_t x, std::uint32_t y) const {
    return pixels[std::size_t{y} * width + x];
  }
};

// Refuses a picture file's size before its pixels are allocated: no pixels,
// or a side beyond what the host encodes.
inline void CheckPictureSize(std::uint64_t width, std::uint64_t height) {
  if (width == 0 || height == 0)
    throw HostError("is damaged: its size is " + std::to_string(width) + "x" +
                    std::to_string(height) + ", which holds no pixels");
  if (width > kMaxPictureSide || height > kMaxPictureSide)
    throw HostError("is " + std::to_string(width) + "x" + std::to_string(height) +
                    "; GP8 holds at most " + std::to_string(kMaxPictureSide) + " pixels a side");
}

// Each pixel's colour: what a truecolour file holds, before it has a palette.
struct RgbPicture {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<Rgb> pixels;  // width x height colours, top row first
};

// A picture file as it is stored. A palette file has its palette and
// indexes in `indexed` and no `colours`. A truecolour file has every pixel's
// colour in `colours`; when it has at most 256 colours, `indexed` gives it a
// palette of them in the order they first appear, top row first, and
// otherwise is empty, for the caller to reduce the colours or map them to a
// palette of its choice.
struct PictureFile {
  IndexedPicture indexed;
  RgbPicture colours;

  bool IsTruecolour() const { return !colours.pixels.empty(); }
  bool HasIndexes() const { return !indexed.pixels.empty(); }
};

// The colour's key: red, green and blue in the low three bytes.
inline std::uint32_t ColourKey(Rgb colour) {
  return std::uint32_t{colour.red} | (std::uint32_t{colour.green} << 8) |
         (std::uint32_t{colour.blue} << 16);
}

// Gives the colours of a truecolour picture palette indexes in the order they
// first appear, as long as there are at most 256 of them.
class FirstSeenPalette {
 public:
  explicit FirstSeenPalette(std::vector<Rgb>& palette) : palette_(palette) {
    palette_.clear();
    keys_.fill(kNoKey);
  }

  // False, and the palette left as it is, for a 257th colour.
  bool IndexOf(Rgb colour, std::uint8_t& index) {
    const std::uint32_t key = ColourKey(colour);
    if (key == last_key_) {  // pictures run in long spans of a colour
      index = last_index_;
      return true;
    }
    std::size_t at = Slot(key);
    while (keys_[at] != kNoKey && keys_[at] != key) at = (at + 1) % kSlots;
    if (keys_[at] == kNoKey) {
      if (palette_.size() == kMaxPaletteSize) return false;
      keys_[at] = key;
      indexes_[at] = static_cast<std::uint8_t>(palette_.size());
      palette_.push_back(colour);
    }
    last_key_ = key;
    last_index_ = indexes_[at];
    index = last_index_;
    return true;
  }

 private:
  static constexpr std::size_t kSlots = 1024;  // never more than a quarter full
  static constexpr std::uint32_t kNoKey = 0xFFFFFFFFu;
  static std::size_t Slot(std::uint32_t key) { return (key * 0x9E3779B1u) >> 22; }

  std::vector<Rgb>& palette_;
  std::array<std::uint32_t, kSlots> keys_{};
  std::array<std::uint8_t, kSlots> indexes_{};
  std::uint32_t last_key_ = kNoKey;
  std::uint8_t last_index_ = 0;
};

// The truecolour picture with a palette of its colours in the order they
// first appear; an empty picture when it has more than 256 colours.
inline IndexedPicture IndexedByFirstSeen(const RgbPicture& colours) {
  IndexedPicture picture;
  picture.width = colours.width;
  picture.height = colours.height;
  picture.pixels.resize(colours.pixels.size());
  FirstSeenPalette palette(picture.palette);
  for (std::size_t i = 0; i < colours.pixels.size(); ++i) {
    if (!palette.IndexOf(colours.pixels[i], picture.pixels[i])) return {};
  }
  return picture;
}
