#include "gp8_encoder.h"

#include <algorithm>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "byte_order.h"
#include "host_error.h"

namespace {

constexpr std::uint32_t kNoPosition = std::numeric_limits<std::uint32_t>::max();

// The encoder sees the window as one sequence: 4096 zeros that stand for the
// window's never-written positions, then the data. A byte of the data at
// sequence index e may be copied from any index q in [e - 4096, e - 1];
// bytes at or beyond e that a match copies are the ones it has just
// produced, which the decoder has just stored. Sequence index q lies at
// window position (q + 4078) mod 4096.
constexpr std::uint32_t kZeroPrefix = kLzssWindowSize;

struct Match {
  std::uint32_t length = 0;  // 0 when no match of kLzssMinMatch bytes exists
  std::uint32_t source = 0;  // sequence index of its first byte
};

// A substring of up to 18 bytes as an exact key: its bytes packed into
// three words, those beyond its length zero. Each length has a table of its
// own, so the length need not be part of the key.
struct SubstringKey {
  std::uint64_t low = 0;     // bytes 0 to 7
  std::uint64_t middle = 0;  // bytes 8 to 15
  std::uint32_t high = 0;    // bytes 16 and 17
};

// kKeepBytes[n]: the mask of the low n bytes of a word.
constexpr std::uint64_t kKeepBytes[9] = {0,
                                         0xFF,
                                         0xFFFF,
                                         0xFFFFFF,
                                         0xFFFFFFFF,
                                         0xFFFFFFFFFF,
                                         0xFFFFFFFFFFFF,
                                         0xFFFFFFFFFFFFFF,
                                         0xFFFFFFFFFFFFFFFF};

// For one substring length: the last sequence index at which each substring
// was seen. Only the last 4096 indexes can be match sources, so older entries
// are dropped whenever the table fills up: it stays small whatever the
// picture's size.
class RecentPositions {
 public:
  RecentPositions() : slots_(kCapacity, Slot{0, 0, 0, kNoPosition}) {}

  // Records q for the substring and returns the index recorded before it, or
  // kNoPosition. Entries older than `oldest` may be forgotten.
  std::uint32_t Exchange(const SubstringKey& key, std::uint32_t q, std::uint32_t oldest) {
    if (used_ >= kCapacity / 2) Purge(oldest);
    for (std::size_t at = Home(key);; at = (at + 1) & (kCapacity - 1)) {
      Slot& slot = slots_[at];
      if (slot.last == kNoPosition) {
        slot = {key.low, key.middle, key.high, q};
        ++used_;
        return kNoPosition;
      }
      if (slot.Holds(key)) return std::exchange(slot.last, q);
    }
  }

 private:
  // A purge leaves at most one window's sources, an eighth of the slots;
  // probes stay short until the table is half full again.
  static constexpr std::size_t kCapacity = 8 * kLzssWindowSize;

  struct Slot {
    std::uint64_t low;
    std::uint64_t middle;
    std::uint32_t high;
    std::uint32_t last;
    bool Holds(const SubstringKey& key) const {
      return low == key.low && middle == key.middle && high == key.high;
    }
  };
  static_assert(sizeof(Slot) == 24);

  static std::size_t Home(const SubstringKey& key) {
    const std::uint64_t mixed = (key.low * 0x9E3779B97F4A7C15ull) ^
                                (key.middle * 0xC2B2AE3D27D4EB4Full) ^
                                (std::uint64_t{key.high} * 0x165667B19E3779F9ull);
    return static_cast<std::size_t>((mixed ^ (mixed >> 29)) >> 16) & (kCapacity - 1);
  }

  void Purge(std::uint32_t oldest) {
    std::vector<Slot> live;
    for (const Slot& slot : slots_) {
      if (slot.last != kNoPosition && slot.last >= oldest) live.push_back(slot);
    }
    std::fill(slots_.begin(), slots_.end(), Slot{0, 0, 0, kNoPosition});
    used_ = 0;
    for (const Slot& slot : live) {
      std::size_t at = Home({slot.low, slot.middle, slot.high});
      while (slots_[at].last != kNoPosition) at = (at + 1) & (kCapacity - 1);
      slots_[at] = slot;
      ++used_;
    }
  }

  std::vector<Slot> slots_;
  std::size_t used_ = 0;
};

// Longest match at every position of the data, capped at kLzssMaxMatch and
// at the bytes left, with the index of a source that gives it. For every
// length from 3 to 18 a table keeps the last index of each substring of that
// length; a match of a length exists exactly when the last earlier
// occurrence of the substring lies within the window, and the longest such
// length is the longest match. Each position costs the same fixed work,
// however alike the picture's bytes are.
std::vector<Match> LongestMatches(std::span<const unsigned char> data) {
  const std::size_t n = data.size();
  std::vector<unsigned char> sequence(kZeroPrefix + n, 0);
  std::copy(data.begin(), data.end(), sequence.begin() + kZeroPrefix);

  std::vector<RecentPositions> recent(kLzssMaxMatch - kLzssMinMatch + 1);
  std::vector<Match> matches(n);
  for (std::size_t q = 0; q < sequence.size(); ++q) {
    const std::size_t lengths = std::min<std::size_t>(kLzssMaxMatch, sequence.size() - q);
    std::uint64_t words[3] = {};
    for (std::size_t i = 0; i < lengths; ++i)
      words[i / 8] |= std::uint64_t{sequence[q + i]} << (8 * (i % 8));

    const bool in_data = q >= kZeroPrefix;
    const std::size_t cap = in_data ? lengths : 0;  // the data ends with the sequence
    const auto oldest = static_cast<std::uint32_t>(q >= kLzssWindowSize ? q - kLzssWindowSize : 0);
    Match found;
    for (std::size_t length = lengths; length >= kLzssMinMatch; --length) {
      // The first `length` bytes of the packed words.
      const SubstringKey key = {words[0] & kKeepBytes[std::min<std::size_t>(length, 8)],
                                words[1] & kKeepBytes[std::clamp<std::size_t>(length, 8, 16) - 8],
                                static_cast<std::uint32_t>(
                                    words[2] & kKeepBytes[std::max<std::size_t>(length, 16) - 16])};
      const std::uint32_t last =
          recent[length - kLzssMinMatch].Exchange(key, static_cast<std::uint32_t>(q), oldest);
      if (found.length == 0 && length <= cap && last != kNoPosition && last >= oldest)
        found = {static_cast<std::uint32_t>(length), last};
    }
    if (found.length >= kLzssMinMatch) matches[q - kZeroPrefix] = found;
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
