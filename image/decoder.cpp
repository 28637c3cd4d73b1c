#include "decoder.h"

#include <cstddef>
#include <cstring>

namespace {

constexpr std::size_t kWindowMask = kWindowSize - 1;
constexpr unsigned kMatchLengthMask = 0x0F;
constexpr unsigned kMatchPositionHighMask = 0xF0;

// Expands the stream into out[0, count), the pixels in stream order.
//
// The output itself is the window. Output byte i is stored at window position
// (kWindowStart + i) mod 4096, so while `written` bytes are out, window
// position p holds the most recent byte whose index is congruent to
// p - kWindowStart: the one `distance` bytes back, distance being 1 to 4096.
// When fewer bytes than that are out, the position was never written and
// reads as 0. Within a match the write position and the match position move
// together, so the distance holds for the whole match.
bool ExpandStream(std::span<const unsigned char> stream, unsigned char* out, std::size_t count) {
  std::size_t in = 0;
  std::size_t written = 0;
  while (written < count) {
    if (in == stream.size()) return false;
    unsigned flags = stream[in++];
    for (unsigned item = 0; item < kItemsPerFlagByte && written < count; ++item, flags >>= 1) {
      if ((flags & 1) != 0) {
        if (in == stream.size()) return false;
        out[written++] = stream[in++];
        continue;
      }
      if (stream.size() - in < 2) return false;
      const unsigned b0 = stream[in];
      const unsigned b1 = stream[in + 1];
      in += 2;
      const std::size_t position = b0 | ((b1 & kMatchPositionHighMask) << 4);
      const std::size_t length = (b1 & kMatchLengthMask) + kMinMatchLength;
      const std::size_t write_position = (kWindowStart + written) & kWindowMask;
      const std::size_t distance = ((write_position - position - 1) & kWindowMask) + 1;
      for (std::size_t k = 0; k < length && written < count; ++k, ++written) {
        out[written] = written >= distance ? out[written - distance] : 0;
      }
    }
  }
  return true;
}

// Moves rows of `width` bytes, packed one after another from the start of
// the area, to their places `stride` bytes apart, and clears each row's fill.
// Working from the last row back, a row only ever moves onto bytes that no
// row still to be moved occupies.
void SpreadRows(unsigned char* area, std::size_t width, std::size_t stride, std::size_t height) {
  for (std::size_t row = height; row-- > 0;) {
    unsigned char* to = area + row * stride;
    std::memmove(to, area + row * width, width);
    std::memset(to + width, 0, stride - width);
  }
}

}  // namespace

bool DecodeGp8Pixels(std::span<const unsigned char> stream, std::span<unsigned char> pixels,
                     std::uint32_t width, std::uint32_t height) {
  const std::uint64_t stride = Gp8RowStride(width);
  const std::uint64_t rows_size = stride * height;
  if (rows_size > pixels.size()) return false;
  // Both fit the area, so they fit a size_t.
  const auto count = static_cast<std::size_t>(std::uint64_t{width} * height);
  const auto used = static_cast<std::size_t>(rows_size);

  if (!ExpandStream(stream, pixels.data(), count)) return false;
  if (stride != width) SpreadRows(pixels.data(), width, static_cast<std::size_t>(stride), height);
  if (pixels.size() > used) std::memset(pixels.data() + used, 0, pixels.size() - used);
  return true;
}
