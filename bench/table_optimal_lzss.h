// The host's encoder as it was before its match finder became a binary tree:
// an optimal parse over the longest match at every byte, found in one hash
// table per match length (3 to 18) that keeps each substring's last index.
// Kept, frozen, as the yardstick `vyn encode --best` is timed and sized
// against.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <span>
#include <utility>
#include <vector>

namespace table_optimal_detail {

using Bytes = std::vector<unsigned char>;
constexpr std::uint32_t kLzssWindowSize = 4096;
constexpr std::uint32_t kLzssMinMatch = 3;
constexpr std::uint32_t kLzssMaxMatch = 18;
constexpr std::uint32_t kLzssWindowStart = kLzssWindowSize - kLzssMaxMatch;
constexpr unsigned kLzssItemsPerFlag = 8;
constexpr std::uint64_t kLzssLiteralBits = 9;
constexpr std::uint64_t kLzssMatchBits = 17;

constexpr std::uint32_t kNoPosition = std::numeric_limits<std::uint32_t>::max();

// The encoder sees the window as one sequence: 4096 zeros that stand for the
// window's never-written positions, then the data. A byte of the data at
// sequence index e may be copied from any index q in [e - 4096, e - 1];
// bytes at or beyond e that a match copies are the ones it has just
// produced, which the decoder has just stored. Sequence index q lies at
// window position (q + 4078) mod 4096.
constexpr std::size_t kZeroPrefix = kLzssWindowSize;
// Zeros after the data, so that a substring's bytes can be read as whole
// words wherever it starts.
constexpr std::size_t kZeroSuffix = 24;

// A sequence ready to encode: the zero prefix, the data, the zero suffix.
class Sequence {
 public:
  explicit Sequence(std::size_t data_size)
      : bytes_(kZeroPrefix + data_size + kZeroSuffix, 0), data_size_(data_size) {}
  unsigned char* data() { return bytes_.data() + kZeroPrefix; }
  std::size_t data_size() const { return data_size_; }
  std::size_t size() const { return kZeroPrefix + data_size_; }  // without the suffix
  const unsigned char* at(std::size_t q) const { return bytes_.data() + q; }

 private:
  std::vector<unsigned char> bytes_;
  std::size_t data_size_;
};

// Eight bytes as a word, the first in its low byte.
inline std::uint64_t LoadLe64(const unsigned char* at) {
  std::uint64_t word = 0;
  std::memcpy(&word, at, sizeof word);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  return word;
}

// A substring of up to 18 bytes as an exact key: its bytes packed into
// three words, those beyond its length zero. Each length has a table of its
// own, so the length need not be part of the key.
struct SubstringKey {
  std::uint64_t low = 0;     // bytes 0 to 7
  std::uint64_t middle = 0;  // bytes 8 to 15
  std::uint64_t high = 0;    // bytes 16 and 17
  friend bool operator==(const SubstringKey&, const SubstringKey&) = default;
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

// The key of the first `length` bytes from `at`.
inline SubstringKey KeyOf(const unsigned char* at, std::size_t length) {
  return {LoadLe64(at) & kKeepBytes[std::min<std::size_t>(length, 8)],
          LoadLe64(at + 8) & kKeepBytes[std::clamp<std::size_t>(length, 8, 16) - 8],
          LoadLe64(at + 16) & kKeepBytes[std::max<std::size_t>(length, 16) - 16]};
}

// For one substring length: the last sequence index at which each substring
// was seen. A slot holds that index and 32 bits of the substring's hash; the
// substring itself is read back from the sequence only when the hash bits
// agree, which for another substring is rare. Only the last 4096 indexes can
// be match sources, so older entries are dropped whenever the table fills
// up: it stays small (256 KB) whatever the picture's size.
class RecentPositions {
 public:
  RecentPositions(const Sequence& sequence, std::size_t length)
      : sequence_(&sequence), length_(length), slots_(kCapacity, Slot{0, kNoPosition}) {
    live_.reserve(kCapacity / 2);
  }

  // Records q for the substring and returns the index recorded before it, or
  // kNoPosition. Entries older than `oldest` may be forgotten.
  std::uint32_t Exchange(const SubstringKey& key, std::uint32_t q, std::uint32_t oldest) {
    if (used_ >= kCapacity / 2) Purge(oldest);
    const std::uint64_t hash = Hash(key);
    const auto tag = static_cast<std::uint32_t>(hash >> 32);
    for (std::size_t at = Home(hash);; at = (at + 1) & (kCapacity - 1)) {
      Slot& slot = slots_[at];
      if (slot.last == kNoPosition) {
        slot = {tag, q};
        ++used_;
        return kNoPosition;
      }
      if (slot.tag == tag && KeyOf(sequence_->at(slot.last), length_) == key)
        return std::exchange(slot.last, q);
    }
  }

 private:
  // A purge leaves at most one window's sources, an eighth of the slots;
  // probes stay short until the table is half full again.
  static constexpr std::size_t kCapacity = 8 * kLzssWindowSize;

  struct Slot {
    std::uint32_t tag;   // the high half of the substring's hash
    std::uint32_t last;  // kNoPosition: an empty slot
  };

  static std::uint64_t Hash(const SubstringKey& key) {
    const std::uint64_t mixed = (key.low * 0x9E3779B97F4A7C15ull) ^
                                (key.middle * 0xC2B2AE3D27D4EB4Full) ^
                                (key.high * 0x165667B19E3779F9ull);
    return mixed ^ (mixed >> 29);
  }
  // The slot a search begins at: middle bits of the hash, apart from the tag.
  static std::size_t Home(std::uint64_t hash) {
    return static_cast<std::size_t>(hash >> 16) & (kCapacity - 1);
  }

  void Purge(std::uint32_t oldest) {
    live_.clear();
    for (const Slot& slot : slots_) {
      if (slot.last != kNoPosition && slot.last >= oldest) live_.push_back(slot.last);
    }
    std::fill(slots_.begin(), slots_.end(), Slot{0, kNoPosition});
    used_ = 0;
    for (const std::uint32_t q : live_) {
      const std::uint64_t hash = Hash(KeyOf(sequence_->at(q), length_));
      std::size_t at = Home(hash);
      while (slots_[at].last != kNoPosition) at = (at + 1) & (kCapacity - 1);
      slots_[at] = {static_cast<std::uint32_t>(hash >> 32), q};
      ++used_;
    }
  }

  const Sequence* sequence_;
  std::size_t length_;
  std::vector<Slot> slots_;
  std::vector<std::uint32_t> live_;
  std::size_t used_ = 0;
};

struct Match {
  std::uint32_t length = 0;  // 0 when no match of kLzssMinMatch bytes exists
  std::uint32_t source = 0;  // sequence index of its first byte
};

// Calls on_match(i, match) for every position i of the data in turn, with the
// longest match there (capped at kLzssMaxMatch and at the bytes left) and
// the index of a source that gives it. For every length from 3 to 18 a table
// keeps the last index of each substring of that length; a match of a length
// exists exactly when the last earlier occurrence of the substring lies
// within the window, and the longest such length is the longest match. Each
// position costs the same fixed work, however alike the picture's bytes are.
template <class OnMatch>
void ForEachLongestMatch(const Sequence& sequence, OnMatch on_match) {
  std::vector<RecentPositions> recent;
  recent.reserve(kLzssMaxMatch - kLzssMinMatch + 1);
  for (std::size_t length = kLzssMinMatch; length <= kLzssMaxMatch; ++length)
    recent.emplace_back(sequence, length);
  const std::size_t size = sequence.size();
  for (std::size_t q = 0; q < size; ++q) {
    const std::size_t lengths = std::min<std::size_t>(kLzssMaxMatch, size - q);
    const unsigned char* at = sequence.at(q);
    const bool in_data = q >= kZeroPrefix;
    const std::size_t cap = in_data ? lengths : 0;  // the data ends with the sequence
    const auto oldest = static_cast<std::uint32_t>(q >= kLzssWindowSize ? q - kLzssWindowSize : 0);
    Match found;
    for (std::size_t length = lengths; length >= kLzssMinMatch; --length) {
      const std::uint32_t last = recent[length - kLzssMinMatch].Exchange(
          KeyOf(at, length), static_cast<std::uint32_t>(q), oldest);
      if (found.length == 0 && length <= cap && last != kNoPosition && last >= oldest)
        found = {static_cast<std::uint32_t>(length), last};
    }
    if (in_data) on_match(q - kZeroPrefix, found);
  }
}

// Writes items behind their flag bytes into a file that already holds what
// comes before the stream.
class StreamWriter {
 public:
  explicit StreamWriter(Bytes& out) : out_(out) {}
  void Literal(unsigned char byte) {
    StartItem(true);
    out_.push_back(byte);
  }
  void Copy(std::uint32_t window_position, std::uint32_t length) {
    StartItem(false);
    out_.push_back(static_cast<unsigned char>(window_position & 0xFF));
    out_.push_back(
        static_cast<unsigned char>(((window_position >> 8) << 4) | (length - kLzssMinMatch)));
  }

 private:
  void StartItem(bool literal) {
    if (items_ % kLzssItemsPerFlag == 0) {
      flag_at_ = out_.size();
      out_.push_back(0);
    }
    if (literal) out_[flag_at_] |= static_cast<unsigned char>(1u << (items_ % kLzssItemsPerFlag));
    ++items_;
  }

  Bytes& out_;
  std::size_t flag_at_ = 0;
  std::size_t items_ = 0;
};

// Appends the shortest stream for the sequence's data to `out`.
//
// The parse runs forwards with the match finder: once the fewest bits that
// reach position i are known, the literal and every match from i offer their
// ends a way there (any prefix of a match is a match too, so every length
// up to the longest is open at the same cost). Only the next 18 positions'
// costs are open at a time; what stays for the whole data is, per byte, the
// window position of the longest match there (2 bytes) and the length of the
// item that ends there on the best way (1 byte). Walking back from the end
// turns the latter into the lengths of the items that start on the way.
inline void AppendLzss(const Sequence& sequence, Bytes& out) {
  const std::size_t n = sequence.data_size();
  std::vector<std::uint16_t> sources(n);
  std::vector<std::uint8_t> steps(n + 1, 1);  // steps[e]: the item that ends at e

  constexpr std::size_t kOpen = 32;  // a power of 2 beyond kLzssMaxMatch
  constexpr std::uint64_t kUnreached = std::numeric_limits<std::uint64_t>::max();
  std::array<std::uint64_t, kOpen> bits;
  bits.fill(kUnreached);
  bits[0] = 0;
  auto offer = [&](std::size_t end, std::uint64_t cost, std::uint32_t length) {
    std::uint64_t& best = bits[end % kOpen];
    if (cost < best) {
      best = cost;
      steps[end] = static_cast<std::uint8_t>(length);
    }
  };
  ForEachLongestMatch(sequence, [&](std::size_t i, const Match& match) {
    const std::uint64_t here = bits[i % kOpen];
    bits[i % kOpen] = kUnreached;  // the slot of position i + kOpen
    offer(i + 1, here + kLzssLiteralBits, 1);
    for (std::uint32_t length = kLzssMinMatch; length <= match.length; ++length)
      offer(i + length, here + kLzssMatchBits, length);
    sources[i] = static_cast<std::uint16_t>((match.source + kLzssWindowStart) % kLzssWindowSize);
  });

  // steps[s + 1] becomes the length of the item that starts at s: the slots
  // between an item's start and end are not on the way, and the walk reads
  // only slots below the ones it writes.
  std::size_t literals = 0;
  std::size_t matches = 0;
  for (std::size_t end = n; end > 0;) {
    const std::uint8_t length = steps[end];
    const std::size_t start = end - length;
    steps[start + 1] = length;
    ++(length == 1 ? literals : matches);
    end = start;
  }
  const std::size_t items = literals + matches;
  out.reserve(out.size() + (items + kLzssItemsPerFlag - 1) / kLzssItemsPerFlag + literals +
              2 * matches);
  StreamWriter writer(out);
  const unsigned char* data = sequence.at(kZeroPrefix);
  for (std::size_t i = 0; i < n; i += steps[i + 1]) {
    if (steps[i + 1] == 1) {
      writer.Literal(data[i]);
    } else {
      writer.Copy(sources[i], steps[i + 1]);
    }
  }
}

}  // namespace table_optimal_detail

inline std::vector<unsigned char> TableOptimalLzssEncode(std::span<const unsigned char> data) {
  using namespace table_optimal_detail;
  Sequence sequence(data.size());
  std::copy(data.begin(), data.end(), sequence.data());
  Bytes stream;
  AppendLzss(sequence, stream);
  return stream;
}
