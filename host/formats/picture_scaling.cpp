#include "host/formats/picture_scaling.h"

#include <algorithm>

IndexedPicture ShrinkPicture(const IndexedPicture& picture, std::uint32_t longest) {
  const std::uint32_t side = std::max(picture.width, picture.height);
  if (side <= longest) return picture;
  IndexedPicture small;
  small.palette = picture.palette;
  const auto scaled = [&](std::uint32_t length) {
    return static_cast<std::uint32_t>(
        std::max<std::uint64_t>(1, std::uint64_t{length} * longest / side));
  };
  small.width = scaled(picture.width);
  small.height = scaled(picture.height);
  small.pixels.resize(std::size_t{small.width} * small.height);
  for (std::uint32_t y = 0; y < small.height; ++y) {
    const auto from_y =
        static_cast<std::uint32_t>(std::uint64_t{y} * picture.height / small.height);
    for (std::uint32_t x = 0; x < small.width; ++x) {
      const auto from_x =
          static_cast<std::uint32_t>(std::uint64_t{x} * picture.width / small.width);
      small.pixels[std::size_t{y} * small.width + x] = picture.At(from_x, from_y);
    }
  }
  return small;
}
