#include "host/formats/palette_mapping.h"

#include <algorithm>
#include <array>
#include <string>

#include "host/formats/perceptual_colour.h"
#include "host/host_error.h"

namespace {

// The palette, searched by exact colour and by nearness.
class PaletteSearch {
 public:
  explicit PaletteSearch(const std::vector<Rgb>& palette) : palette_(palette) {
    if (palette.empty() || palette.size() > kMaxPaletteSize)
      throw HostError("a palette of " + std::to_string(palette.size()) +
                      " entries cannot be mapped to; it needs 1 to 256");
    exact_keys_.fill(kNoKey);
    for (std::size_t i = 0; i < palette.size(); ++i) {
      points_.push_back(ToOkLab(palette[i]));
      const std::uint32_t key = ColourKey(palette[i]);
      std::size_t at = ExactSlot(key);
      while (exact_keys_[at] != kNoKey && exact_keys_[at] != key) at = (at + 1) % kExactSlots;
      if (exact_keys_[at] == kNoKey) {  // a later entry of the colour is never chosen by it
        exact_keys_[at] = key;
        exact_indexes_[at] = static_cast<std::uint8_t>(i);
      }
    }
  }

  // The first entry of the colour, if the palette has one.
  bool Exact(Rgb colour, std::uint8_t& index) const {
    const std::uint32_t key = ColourKey(colour);
    for (std::size_t at = ExactSlot(key); exact_keys_[at] != kNoKey; at = (at + 1) % kExactSlots) {
      if (exact_keys_[at] == key) {
        index = exact_indexes_[at];
        return true;
      }
    }
    return false;
  }

  // The first of the entries nearest the colour. Remembered for the colours
  // last asked about: a picture repeats its colours, and dithering repeats
  // the ones it makes.
  std::uint8_t Nearest(Rgb colour) {
    const std::uint32_t key = ColourKey(colour);
    const std::size_t slot = (key * 0x9E3779B1u) >> (32 - kCacheBits);
    if (cache_keys_[slot] == key) return cache_indexes_[slot];
    const OkLab point = ToOkLab(colour);
    std::size_t best = 0;
    std::int64_t best_distance = Distance2(point, points_[0]);
    for (std::size_t i = 1; i < points_.size() && best_distance > 0; ++i) {
      const std::int64_t distance = Distance2(point, points_[i]);
      if (distance < best_distance) {
        best = i;
        best_distance = distance;
      }
    }
    cache_keys_[slot] = key;
    cache_indexes_[slot] = static_cast<std::uint8_t>(best);
    return cache_indexes_[slot];
  }

  const Rgb& operator[](std::uint8_t index) const { return palette_[index]; }

 private:
  static constexpr std::size_t kExactSlots = 1024;  // never more than a quarter full
  static constexpr unsigned kCacheBits = 16;
  static constexpr std::uint32_t kNoKey = 0xFFFFFFFFu;
  static std::size_t ExactSlot(std::uint32_t key) { return (key * 0x9E3779B1u) >> 22; }

  const std::vector<Rgb>& palette_;
  std::vector<OkLab> points_;
  std::array<std::uint32_t, kExactSlots> exact_keys_{};
  std::array<std::uint8_t, kExactSlots> exact_indexes_{};
  std::vector<std::uint32_t> cache_keys_ =
      std::vector<std::uint32_t>(std::size_t{1} << kCacheBits, kNoKey);
  std::vector<std::uint8_t> cache_indexes_ =
      std::vector<std::uint8_t>(std::size_t{1} << kCacheBits);
};

PaletteMapping MapPlainly(const RgbPicture& picture, PaletteSearch& search) {
  PaletteMapping mapping;
  mapping.indexes.resize(picture.pixels.size());
  for (std::size_t i = 0; i < picture.pixels.size(); ++i) {
    const Rgb colour = picture.pixels[i];
    if (i > 0 && colour == picture.pixels[i - 1]) {  // long spans of a colour
      mapping.indexes[i] = mapping.indexes[i - 1];
      mapping.inexact += search[mapping.indexes[i]] == colour ? 0 : 1;
      continue;
    }
    if (!search.Exact(colour, mapping.indexes[i])) {
      mapping.indexes[i] = search.Nearest(colour);
      ++mapping.inexact;
    }
  }
  return mapping;
}

// Floyd-Steinberg: of the difference a pixel leaves, 7/16 go to the next
// pixel of its row, 3/16, 5/16 and 1/16 to the three below it, in the
// direction the row is walked. Differences are kept in sixteenths, in
// integers, so that every system dithers alike.
PaletteMapping MapDithered(const RgbPicture& picture, PaletteSearch& search) {
  PaletteMapping mapping;
  mapping.indexes.resize(picture.pixels.size());
  const std::size_t width = picture.width;
  // Per channel, a row of what this row receives and one of what the next
  // receives, with a pixel of margin at each end.
  std::vector<std::array<std::int32_t, 3>> current(width + 2), next(width + 2);
  for (std::uint32_t y = 0; y < picture.height; ++y) {
    std::fill(next.begin(), next.end(), std::array<std::int32_t, 3>{});
    const bool leftwards = y % 2 == 1;
    const std::ptrdiff_t step = leftwards ? -1 : 1;
    for (std::size_t k = 0; k < width; ++k) {
      const std::size_t x = leftwards ? width - 1 - k : k;
      const std::size_t at = std::size_t{y} * width + x;
      const Rgb colour = picture.pixels[at];
      if (search.Exact(colour, mapping.indexes[at])) continue;
      ++mapping.inexact;
      const std::uint8_t original[3] = {colour.red, colour.green, colour.blue};
      std::uint8_t wanted[3];
      for (std::size_t c = 0; c < 3; ++c) {
        const std::int32_t received = current[x + 1][c];
        // Rounded to the nearest whole value, halves away from zero.
        const std::int32_t shift = received >= 0 ? (received + 8) / 16 : -((8 - received) / 16);
        wanted[c] = static_cast<std::uint8_t>(std::clamp(original[c] + shift, 0, 255));
      }
      const std::uint8_t index = search.Nearest({wanted[0], wanted[1], wanted[2]});
      mapping.indexes[at] = index;
      const std::uint8_t got[3] = {search[index].red, search[index].green, search[index].blue};
      const auto ahead = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(x + 1) + step);
      const auto behind = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(x + 1) - step);
      for (std::size_t c = 0; c < 3; ++c) {
        const std::int32_t left = wanted[c] - got[c];
        current[ahead][c] += 7 * left;
        next[behind][c] += 3 * left;
        next[x + 1][c] += 5 * left;
        next[ahead][c] += left;
      }
    }
    std::swap(current, next);
  }
  return mapping;
}

}  // namespace

PaletteMapping MapToPalette(const RgbPicture& picture, const std::vector<Rgb>& palette,
                            bool dither) {
  PaletteSearch search(palette);
  return dither ? MapDithered(picture, search) : MapPlainly(picture, search);
}

PaletteMapping MapToPalette(const IndexedPicture& picture, const std::vector<Rgb>& palette,
                            bool dither) {
  PaletteMapping mapping;
  if (picture.palette.size() <= palette.size() &&
      std::equal(picture.palette.begin(), picture.palette.end(), palette.begin())) {
    mapping.indexes = picture.pixels;
    return mapping;
  }
  if (dither) {
    RgbPicture colours;
    colours.width = picture.width;
    colours.height = picture.height;
    colours.pixels.reserve(picture.pixels.size());
    for (std::uint8_t index : picture.pixels) colours.pixels.push_back(picture.palette.at(index));
    return MapToPalette(colours, palette, true);
  }
  // Without dithering a pixel's index follows from its entry alone.
  PaletteSearch search(palette);
  std::vector<std::uint8_t> to(picture.palette.size());
  std::vector<bool> exact(picture.palette.size());
  for (std::size_t i = 0; i < picture.palette.size(); ++i) {
    std::uint8_t index = 0;
    exact[i] = search.Exact(picture.palette[i], index);
    to[i] = exact[i] ? index : search.Nearest(picture.palette[i]);
  }
  mapping.indexes.reserve(picture.pixels.size());
  for (std::uint8_t index : picture.pixels) {
    mapping.indexes.push_back(to.at(index));
    mapping.inexact += exact[index] ? 0 : 1;
  }
  return mapping;
}
