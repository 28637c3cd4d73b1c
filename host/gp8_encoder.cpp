#include "gp8_encoder.h"

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

#include "byte_order.h"
#include "host_error.h"

namespace {

constexpr std::uint32_t kNoPosition = std::numeric_limits<std::uint32_t>::max();
constexpr unsigned kHashBits = 16;

// The encoder sees the window as one sequence: 4096 zeros that stand for the
// window's never-written positions, then the data. A byte of the data at
// sequence index e may be copied from any index q in [e - 4096, e - 1];
// bytes at or beyond e that a match copies are the ones it has just
// produced, which the decoder has just stored. Sequence index q lies at
// window position (q + 4078) mod 4096.
constexpr std::uint32_t kZeroPrefix = kLzssWindowSize;

// Indexes below this one are zero for at least kLzssMaxMatch bytes. Every
// such match source gives the same length, the run of zeros in the data, so
// the finder treats them together and chains only the indexes from here on.
constexpr std::uint32_t kFirstChained = kZeroPrefix - kLzssMaxMatch;

struct Match {
  std::uint32_t length = 0;  // 0 when no match of kLzssMinMatch bytes exists
  std::uint32_t source = 0;  // sequence index of its first byte
};

// Longest match at every position of the data, capped at kLzssMaxMatch and at
// the bytes left. Hash chains over three-byte prefixes visit every source the
// window allows, newest first, until one gives the full length.
std::vector<Match> LongestMatches(std::span<const unsigned char> data) {
  const std::size_t n = data.size();
  std::vector<unsigned char> sequence(kZeroPrefix + n, 0);
  std::copy(data.begin(), data.end(), sequence.begin() + kZeroPrefix);

  auto hash = [&sequence](std::size_t q) {
    const std::uint32_t key = sequence[q] | (sequence[q + 1] << 8) | (sequence[q + 2] << 16);
    return (key * 2654435761u) >> (32 - kHashBits);
  };
  std::vector<std::uint32_t> head(std::size_t{1} << kHashBits, kNoPosition);
  std::vector<std::uint32_t> previous(sequence.size(), kNoPosition);
  std::size_t next_chained = kFirstChained;

  std::vector<Match> matches(n);
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t e = kZeroPrefix + i;
    for (; next_chained < e && next_chained + 2 < sequence.size(); ++next_chained) {
      const auto h = hash(next_chained);
      previous[next_chained] = head[h];
      head[h] = static_cast<std::uint32_t>(next_chained);
    }
    const std::size_t cap = std::min<std::size_t>(kLzssMaxMatch, n - i);
    if (cap < kLzssMinMatch) continue;

    Match best;
    // Sources among the never-written zeros, when the window still reaches them.
    if (e - kLzssWindowSize < kFirstChained) {
      std::size_t run = 0;
      while (run < cap && data[i + run] == 0) ++run;
      best = {static_cast<std::uint32_t>(run), static_cast<std::uint32_t>(e - kLzssWindowSize)};
    }
    const std::size_t oldest = std::max<std::size_t>(e - kLzssWindowSize, kFirstChained);
    for (std::uint32_t q = head[hash(e)]; best.length < cap && q != kNoPosition && q >= oldest;
         q = previous[q]) {
      std::size_t length = 0;
      while (length < cap && sequence[q + length] == sequence[e + length]) ++length;
      if (length > best.length) best = {static_cast<std::uint32_t>(length), q};
    }
    if (best.length >= kLzssMinMatch) matches[i] = best;
  }
  return matches;
}

// Collects items behind their flag bytes.
class StreamWriter {
 public:
  void Literal(unsigned char byte) {
    StartItem(true);
    stream_.push_back(byte);
  }
  void Copy(std::uint32_t window_position, std::uint32_t length) {
    StartItem(false);
    stream_.push_back(static_cast<unsigned char>(window_position & 0xFF));
    stream_.push_back(
        static_cast<unsigned char>(((window_position >> 8) << 4) | (length - kLzssMinMatch)));
  }
  Bytes Take() { return std::move(stream_); }

 private:
  void StartItem(bool literal) {
    if (items_ % kLzssItemsPerFlag == 0) {
      flag_at_ = stream_.size();
      stream_.push_back(0);
    }
    if (literal)
      stream_[flag_at_] |= static_cast<unsigned char>(1u << (items_ % kLzssItemsPerFlag));
    ++items_;
  }

  Bytes stream_;
  std::size_t flag_at_ = 0;
  std::size_t items_ = 0;
};

}  // namespace

Bytes EncodeLzss(std::span<const unsigned char> data) {
  const std::size_t n = data.size();
  const std::vector<Match> matches = LongestMatches(data);

  // bits[i]: the fewest bits that encode data from i to the end; step[i]: the
  // length of the item that starts such an encoding (1 for a literal). Any
  // prefix of a match is a match too, so every length up to the longest is
  // open at the same cost.
  std::vector<std::uint64_t> bits(n + 1, 0);
  std::vector<std::uint8_t> step(n, 1);
  for (std::size_t i = n; i-- > 0;) {
    bits[i] = kLzssLiteralBits + bits[i + 1];
    for (std::uint32_t length = kLzssMinMatch; length <= matches[i].length; ++length) {
      const std::uint64_t candidate = kLzssMatchBits + bits[i + length];
      if (candidate < bits[i]) {
        bits[i] = candidate;
        step[i] = static_cast<std::uint8_t>(length);
      }
    }
  }

  StreamWriter writer;
  for (std::size_t i = 0; i < n; i += step[i]) {
    if (step[i] == 1) {
      writer.Literal(data[i]);
    } else {
      writer.Copy((matches[i].source + kLzssWindowStart) % kLzssWindowSize, step[i]);
    }
  }
  return writer.Take();
}

Bytes EncodeGp8(const IndexedPicture& picture) {
  const std::uint32_t width = picture.width;
  const std::uint32_t height = picture.height;
  if (width == 0 || height == 0) throw HostError("the picture has no pixels");
  if (width > kGp8MaxSide || height > kGp8MaxSide)
    throw HostError("the picture is " + std::to_string(width) + "x" + std::to_string(height) +
                    "; GP8 holds at most " + std::to_string(kGp8MaxSide) + " pixels a side");
  // The image plug-in delivers the pixels in a block of (width + 3) x height bytes.
  if ((std::uint64_t{width} + 3) * height > 0xFFFFFFFFu)
    throw HostError("the picture is " + std::to_string(width) + "x" + std::to_string(height) +
                    ", too large for the 32-bit pixel block of a GP8 picture");
  if (picture.palette.empty() || picture.palette.size() > kGp8PaletteEntries)
    throw HostError("the picture has " + std::to_string(picture.palette.size()) +
                    " palette entries; GP8 holds 1 to 256");
  if (picture.pixels.size() != std::size_t{width} * height)
    throw HostError("the picture's pixels do not match its size");

  Bytes file(kGp8StreamOffset, 0);
  WriteLe16(file.data() + kGp8RightOffset, static_cast<std::uint16_t>(width));
  WriteLe16(file.data() + kGp8BottomOffset, static_cast<std::uint16_t>(height));
  for (std::size_t i = 0; i < picture.palette.size(); ++i) {
    unsigned char* entry = file.data() + kGp8PaletteOffset + i * kGp8PaletteEntrySize;
    entry[0] = picture.palette[i].blue;
    entry[1] = picture.palette[i].green;
    entry[2] = picture.palette[i].red;
  }

  // Bottom row first, as the DIB the image plug-in builds holds its rows.
  Bytes rows;
  rows.reserve(picture.pixels.size());
  for (std::uint32_t y = height; y-- > 0;) {
    const auto row = picture.pixels.begin() + static_cast<std::ptrdiff_t>(std::size_t{y} * width);
    rows.insert(rows.end(), row, row + width);
  }
  const Bytes stream = EncodeLzss(rows);
  file.insert(file.end(), stream.begin(), stream.end());
  return file;
}
