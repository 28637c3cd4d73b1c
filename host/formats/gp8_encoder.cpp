#include "host/formats/gp8_encoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "byte_order.h"
#include "host/host_error.h"

namespace {

constexpr std::uint32_t kNoPosition = std::numeric_limits<std::uint32_t>::max();

// The encoder sees the window as one sequence: 4096 zeros that stand for the
// window's never-written positions, then the data. A byte of the data at
// sequence index e may be copied from any index q in [e - 4096, e - 1];
// bytes at or beyond e that a match copies are the ones it has just
// produced, which the decoder has just stored. Sequence index q lies at
// window position (q + 4078) mod 4096.
constexpr std::size_t kZeroPrefix = kLzssWindowSize;
// Zeros after the data, so that the strings that start in its last 18 bytes
// can be compared in full, 8 bytes at a time.
constexpr std::size_t kZeroSuffix = kLzssMaxMatch + 16;

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
std::uint64_t LoadLe64(const unsigned char* at) {
  std::uint64_t word = 0;
  std::memcpy(&word, at, sizeof word);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  return word;
}

// How many of the first 18 bytes of a and b agree, given that the first
// `shared` do; 8 bytes at a time.
std::uint32_t SharedPrefix(const unsigned char* a, const unsigned char* b, std::uint32_t shared) {
  while (shared < kLzssMaxMatch) {
    const std::uint64_t differ = LoadLe64(a + shared) ^ LoadLe64(b + shared);
    if (differ != 0) {
      shared += static_cast<std::uint32_t>(std::countr_zero(differ)) / 8;
      break;
    }
    shared += 8;
  }
  return std::min(shared, kLzssMaxMatch);
}

struct Match {
  std::uint32_t length = 0;  // 0 when no match of kLzssMinMatch bytes exists
  std::uint32_t source = 0;  // sequence index of its first byte
};

// The first sequence index worth keeping as a source: the zeros before it
// are followed by at least 18 more, so the string at this index stands for
// them all, and it stays in reach at least as long as any of them.
constexpr std::uint32_t kFirstSource = kZeroPrefix - kLzssMaxMatch;

// Calls on_match(i, match) for every position i of the data in turn, with the
// longest match there (capped at kLzssMaxMatch and at the bytes left) and
// the index of a source that gives it.
//
// The strings of up to 18 bytes that start at the last 4096 indexes are kept
// in binary search trees, one per first two bytes. Inserting the string at q
// walks from the root down to where it belongs; the strings nearest it in
// order, among them the one sharing the longest prefix with it, all lie on
// that walk, so the search and the insertion are one. The walk re-hangs the
// nodes it passes under the new string, which becomes the root: every node's
// subtree then holds only older strings, and the first one found out of
// reach cuts off all that lie below it. A string equal to the new one in all
// 18 bytes is replaced by it, so runs keep the trees shallow. Bytes beyond
// the data are compared as the zero suffix has them, which keeps the order
// of the trees fixed; the match found is then capped at the bytes left.
template <class OnMatch>
void ForEachLongestMatch(const Sequence& sequence, OnMatch on_match) {
  // Children of each index, kept for twice the window so that the index that
  // leaves reach never shares its pair with the one that enters.
  constexpr std::uint32_t kCycleMask = 2 * kLzssWindowSize - 1;
  std::vector<std::uint32_t> roots(std::size_t{1} << 16, kNoPosition);
  std::vector<std::array<std::uint32_t, 2>> children(kCycleMask + 1);  // smaller, larger

  const std::size_t size = sequence.size();
  for (std::size_t index = kFirstSource; index < size; ++index) {
    const auto q = static_cast<std::uint32_t>(index);
    const unsigned char* key = sequence.at(q);
    std::uint32_t& root = roots[key[0] | (key[1] << 8)];
    std::uint32_t candidate = std::exchange(root, q);
    std::uint32_t* smaller = &children[q & kCycleMask][0];
    std::uint32_t* larger = &children[q & kCycleMask][1];
    // What the key shares with every string still to be met on the walk:
    // at least as much as with the nearest smaller and larger ones passed.
    std::uint32_t smaller_shared = 0;
    std::uint32_t larger_shared = 0;
    Match found;
    for (;;) {
      if (candidate == kNoPosition || q - candidate > kLzssWindowSize) {
        *smaller = kNoPosition;
        *larger = kNoPosition;
        break;
      }
      std::array<std::uint32_t, 2>& pair = children[candidate & kCycleMask];
      const unsigned char* other = sequence.at(candidate);
      const std::uint32_t shared =
          SharedPrefix(other, key, std::min(smaller_shared, larger_shared));
      if (shared > found.length) found = {shared, candidate};
      if (shared == kLzssMaxMatch) {
        *smaller = pair[0];
        *larger = pair[1];
        break;
      }
      if (other[shared] < key[shared]) {
        *smaller = candidate;
        smaller = &pair[1];
        candidate = pair[1];
        smaller_shared = shared;
      } else {
        *larger = candidate;
        larger = &pair[0];
        candidate = pair[0];
        larger_shared = shared;
      }
    }
    if (index < kZeroPrefix) continue;
    const auto left = static_cast<std::uint32_t>(size - index);
    if (found.length > left) found.length = left;
    if (found.length < kLzssMinMatch) found = {};
    on_match(index - kZeroPrefix, found);
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

constexpr std::size_t kProgressStep = std::size_t{1} << 18;

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
void AppendLzss(const Sequence& sequence, Bytes& out, const EncodeProgress& progress) {
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
  // The ends the last match offered, up to `covered`, from a position whose
  // cost was `covered_from`: a match from a position of no lower cost cannot
  // better them, so its offers start beyond. In runs, where every position
  // has a match of 18, that leaves one offer a position instead of 16.
  std::size_t covered = 0;
  std::uint64_t covered_from = 0;
  ForEachLongestMatch(sequence, [&](std::size_t i, const Match& match) {
    const std::uint64_t here = bits[i % kOpen];
    bits[i % kOpen] = kUnreached;  // the slot of position i + kOpen
    offer(i + 1, here + kLzssLiteralBits, 1);
    std::uint32_t shortest = kLzssMinMatch;
    if (covered_from <= here && covered >= i + shortest)
      shortest = static_cast<std::uint32_t>(covered - i + 1);
    for (std::uint32_t length = shortest; length <= match.length; ++length)
      offer(i + length, here + kLzssMatchBits, length);
    if (match.length != 0 && i + match.length >= covered) {
      covered = i + match.length;
      covered_from = here;
    }
    sources[i] = static_cast<std::uint16_t>((match.source + kLzssWindowStart) % kLzssWindowSize);
    if (progress && (i + 1) % kProgressStep == 0) progress(i + 1, n);
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
  if (progress) progress(n, n);
}

}  // namespace

Bytes EncodeLzss(std::span<const unsigned char> data, const EncodeProgress& progress) {
  Sequence sequence(data.size());
  std::copy(data.begin(), data.end(), sequence.data());
  Bytes stream;
  AppendLzss(sequence, stream, progress);
  return stream;
}

Bytes EncodeGp8(const IndexedPicture& picture, const EncodeProgress& progress) {
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
  Sequence sequence(picture.pixels.size());
  unsigned char* rows = sequence.data();
  for (std::uint32_t y = height; y-- > 0; rows += width) {
    const auto row = picture.pixels.begin() + static_cast<std::ptrdiff_t>(std::size_t{y} * width);
    std::copy(row, row + width, rows);
  }
  AppendLzss(sequence, file, progress);
  return file;
}
