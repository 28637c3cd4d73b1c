#include "decoder.h"

#include <bit>
#include <cstddef>
#include <cstring>

// Two ways to move 8 bytes and to spread a short pattern: through SSE2
// registers, which the 32-bit build takes because it has no 64-bit general
// registers, or through 64-bit words, which every other build takes. Both
// compile on any x86 processor, so the tests run the 32-bit build's way on a
// 64-bit machine too (VYN_DECODER_SSE2_MOVES=1 picks it).
#if !defined(VYN_DECODER_SSE2_MOVES)
#if defined(__i386__)
#define VYN_DECODER_SSE2_MOVES 1
#else
#define VYN_DECODER_SSE2_MOVES 0
#endif
#endif

#if VYN_DECODER_SSE2_MOVES
#include <emmintrin.h>
#endif

// The 32-bit Windows build may count on SSE2 (every Windows that runs the
// viewer has it): the fixed-size copies below become single 16-byte moves.
#if defined(__GNUC__) && defined(__i386__)
#pragma GCC target("sse2")
// Hosts call in with the stack aligned to 4 bytes only.
#define VYN_ALIGN_INCOMING_STACK __attribute__((force_align_arg_pointer))
#else
#define VYN_ALIGN_INCOMING_STACK
#endif

namespace {

constexpr std::size_t kWindowMask = kWindowSize - 1;
constexpr unsigned kMatchLengthMask = 0x0F;
constexpr unsigned kMatchPositionHighMask = 0xF0;
constexpr unsigned kAllLiterals = 0xFF;
constexpr unsigned kAllMatches = 0x00;
// Set above a flag byte's eight bits: once the items have shifted out, only
// this bit is left, so a group needs no item counter.
constexpr unsigned kFlagGroupEnd = 0x100;

// Every item stores 32 bytes from its start, and a literal reads 32 bytes of
// stream from its start.
constexpr std::size_t kWideStore = 32;
// So a whole flag group reads at most a flag byte, seven two-byte matches and
// the 32 bytes from the last item on...
constexpr std::size_t kGroupMaxInput = 1 + (kItemsPerFlagByte - 1) * 2 + kWideStore;  // 47
// ...and puts out at most eight matches of 18 bytes, the last of which stores
// 32 bytes from its start.
constexpr std::size_t kGroupMaxOutput =
    (kItemsPerFlagByte - 1) * kMaxMatchLength + kWideStore;  // 158

// Fixed-size moves: the compiler turns each into one load and one store.
#if VYN_DECODER_SSE2_MOVES
// A 32-bit build would move 8 bytes as two pairs of 4-byte moves, taking two
// general registers; an XMM register does it in one.
inline void Copy8(unsigned char* to, const unsigned char* from) {
  _mm_storel_epi64(reinterpret_cast<__m128i*>(to),
                   _mm_loadl_epi64(reinterpret_cast<const __m128i*>(from)));
}
#else
inline void Copy8(unsigned char* to, const unsigned char* from) { std::memcpy(to, from, 8); }
#endif
inline void Copy16(unsigned char* to, const unsigned char* from) { std::memcpy(to, from, 16); }
inline std::uint64_t Load8(const unsigned char* from) {
  std::uint64_t v;
  std::memcpy(&v, from, sizeof v);
  return v;
}
inline void Store8(unsigned char* to, std::uint64_t v) { std::memcpy(to, &v, sizeof v); }
// Patterns are spread in a 64-bit word whose lowest byte is stored first.
static_assert(std::endian::native == std::endian::little);

// How far back a match reads. Output byte i went to window position
// (kWindowStart + i) mod 4096, so a match at window position `position`,
// made when `written` bytes are out, reads the byte `distance` back, distance
// being 1 to 4096; it keeps that distance for all its bytes, since the write
// position and the match position move on together.
inline std::size_t MatchDistance(std::size_t position, std::size_t written) {
  return ((kWindowStart + written - position - 1) & kWindowMask) + 1;
}

// A match whose distance reaches before the first byte out: the window
// positions never written read as 0. Only the first 4096 bytes of a picture
// can have such matches. Byte by byte, so that a run repeats what it has
// just made.
void CopyEarlyMatch(unsigned char* out, std::size_t written, std::size_t distance,
                    std::size_t length) {
  for (std::size_t k = 0; k < length; ++k, ++written) {
    out[written] = written >= distance ? out[written - distance] : 0;
  }
}

// For a pattern of d bytes (2 to 7): the most whole periods within 8 bytes.
// Four stores of 8 bytes that far apart cover at least 23 bytes.
constexpr unsigned char kPatternStep[8] = {0, 0, 8, 6, 8, 5, 6, 7};
// For a pattern of d bytes: the mask of the d lowest bytes of 8.
constexpr std::uint64_t kPatternMask[8] = {
    0, 0, 0xFFFF, 0xFFFFFF, 0xFFFFFFFF, 0xFFFFFFFFFF, 0xFFFFFFFFFFFF, 0xFFFFFFFFFFFFFF};
static_assert(3 * 5 + 8 >= kMaxMatchLength && 3 * 8 + 8 <= 32);

// Moves kWideStore bytes from `from` to `to`: a literal from the stream, or a
// match of 3 to 18 bytes from 16 or more bytes back, where both loads read
// bytes already final. Whatever the length, the same amount: what lies past
// the item is scratch that the next items overwrite, and a fixed amount
// spares a branch on the length.
inline void CopyWide(unsigned char* to, const unsigned char* from) {
  Copy16(to, from);
  Copy16(to + 16, from + 16);
}

// Copies a match of 3 to 18 bytes from `distance` bytes back to `to`, the
// distance being 1 to 15, where at least `distance` bytes are out. It stores
// kWideStore bytes from `to` whatever the length, as CopyWide does. Each move
// only reads bytes already final, so runs (a distance shorter than the
// length) come out as the byte-by-byte rule has them.
inline void CopyNearMatch(unsigned char* to, std::size_t distance) {
  const unsigned char* from = to - distance;
  if (distance == 1) {
    // A run of one byte, the commonest match of flat areas: read that byte
    // alone (a wider read would straddle the stores just made and wait for
    // them) and broadcast it.
    std::memset(to, *from, kWideStore);
  } else if (distance >= 8) {
    Copy8(to, from);
    Copy8(to + 8, from + 8);
    Copy8(to + 16, from + 16);
    Copy8(to + 24, from + 24);
  } else {
    // A pattern of 2 to 7 bytes: spread it over 8 bytes, then store those
    // same 8 bytes again a whole number of periods on, four times in all.
    // Every store comes from the register: none waits on a load of bytes
    // just stored.
    const std::size_t step = kPatternStep[distance];
#if VYN_DECODER_SSE2_MOVES
    // A 32-bit build has no 64-bit general registers: its 64-bit shifts take
    // several instructions and registers. SSE2 shifts 64 bits in one.
    const __m128i shift = _mm_cvtsi32_si128(static_cast<int>(distance * 8));
    __m128i pattern =
        _mm_and_si128(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(from)),
                      _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&kPatternMask[distance])));
    pattern = _mm_or_si128(pattern, _mm_sll_epi64(pattern, shift));
    if (distance < 4)
      pattern = _mm_or_si128(pattern, _mm_sll_epi64(pattern, _mm_add_epi64(shift, shift)));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(to), pattern);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(to + step), pattern);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(to + 2 * step), pattern);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(to + 3 * step), pattern);
#else
    const unsigned shift = static_cast<unsigned>(distance) * 8;
    std::uint64_t pattern = Load8(from) & kPatternMask[distance];
    pattern |= pattern << shift;
    if (distance < 4) pattern |= pattern << (2 * shift);
    Store8(to, pattern);
    Store8(to + step, pattern);
    Store8(to + 2 * step, pattern);
    Store8(to + 3 * step, pattern);
#endif
  }
}

// A picture larger than the caches is read from and written to memory whose
// lines must first be fetched; asking for the lines a few groups ahead, once
// a group, keeps the loads and stores from waiting on them (a noise picture of
// 16 MB decodes about 40% faster). Only a hint: an address past the stream or
// the pixels is never dereferenced, so it is formed as a number.
constexpr std::uintptr_t kPrefetchAhead = 1024;
inline void PrefetchAhead(const unsigned char* in, const unsigned char* to) {
#if defined(__GNUC__)
  const auto ahead = [](const unsigned char* at) {
    return reinterpret_cast<const void*>(reinterpret_cast<std::uintptr_t>(at) + kPrefetchAhead);
  };
  __builtin_prefetch(ahead(in), 0);
  __builtin_prefetch(ahead(to), 1);
#else
  (void)in;
  (void)to;
#endif
}

// Decodes one flag group from `in_at` to `out_at`, moving both on past it;
// `out` is the first byte of the pixels. The caller has made sure that the
// whole group fits both the input and the pixels. `kReachesBefore`: whether a
// match may still reach before the first byte, true until 4096 bytes are out;
// past that, the test is spared. Copies of the pointers keep them in registers.
template <bool kReachesBefore>
inline void ExpandGroup(const unsigned char*& in_at, unsigned char*& out_at,
                        unsigned char* const out) {
  const unsigned char* in = in_at;
  unsigned char* to = out_at;
  PrefetchAhead(in, to);
  unsigned flags = *in++;
  if (flags == kAllLiterals) {
    Copy8(to, in);
    in_at = in + kItemsPerFlagByte;
    out_at = to + kItemsPerFlagByte;
    return;
  }
  if (flags == kAllMatches) {
    // Eight matches, the commonest group of every kind but photographs and
    // noise: no literal to tell apart.
    for (unsigned item = 0; item < kItemsPerFlagByte; ++item) {
      const unsigned b0 = in[0];
      const unsigned b1 = in[1];
      in += 2;
      const std::size_t position = b0 | ((b1 & kMatchPositionHighMask) << 4);
      const std::size_t length = (b1 & kMatchLengthMask) + kMinMatchLength;
      const auto written = static_cast<std::size_t>(to - out);
      const std::size_t distance = MatchDistance(position, written);
      if (kReachesBefore && distance > written) {
        CopyEarlyMatch(out, written, distance, length);
      } else if (distance >= 16) {
        CopyWide(to, to - distance);
      } else {
        CopyNearMatch(to, distance);
      }
      to += length;
    }
    in_at = in;
    out_at = to;
    return;
  }
  // Literals and matches take the same road, so that a picture whose items
  // mix them at random (a photograph) costs no mispredicted branch per item:
  // a literal is a copy from the stream itself, one byte long, as if from
  // far back. Only a match from near back, whose copy would read bytes it
  // has not made yet, branches off.
  for (flags |= kFlagGroupEnd; flags != 1; flags >>= 1) {
    const std::size_t literal = flags & 1;
    const std::size_t match = literal - 1;  // all ones for a match, 0 for a literal
    const unsigned b0 = in[0];
    const unsigned b1 = in[1];
    const std::size_t position = b0 | ((b1 & kMatchPositionHighMask) << 4);
    const auto written = static_cast<std::size_t>(to - out);
    const std::size_t distance = MatchDistance(position, written);
    // Chosen by masks rather than by branches, which the compiler would keep.
    const std::size_t reach = distance | (literal * kWindowSize);
    const auto from = reinterpret_cast<const unsigned char*>(
        (reinterpret_cast<std::uintptr_t>(in) & ~match) |
        ((reinterpret_cast<std::uintptr_t>(to) - distance) & match));
    const std::size_t length = (((b1 & kMatchLengthMask) + kMinMatchLength) & match) | literal;
    if (kReachesBefore && reach > written) {
      if (literal != 0) {
        *to = *in;
      } else {
        CopyEarlyMatch(out, written, distance, length);
      }
    } else if (reach >= 16) {
      CopyWide(to, from);
    } else {
      CopyNearMatch(to, distance);
    }
    in += 2 - literal;
    to += length;
  }
  in_at = in;
  out_at = to;
}

// Expands the stream into out[0, count), the pixels in stream order.
//
// The output itself is the window: window position p holds the most recent
// byte whose index is congruent to p - kWindowStart, and a position never
// written reads as 0. While a whole flag group can neither run out of input
// nor come near the end of the pixels, it is decoded without a test per item.
// The last groups go item by item and stop at exactly count bytes.
bool ExpandStream(std::span<const unsigned char> stream, unsigned char* out, std::size_t count) {
  const unsigned char* in = stream.data();
  const unsigned char* const in_end = in + stream.size();
  unsigned char* to = out;
  if (count >= kGroupMaxOutput && stream.size() >= kGroupMaxInput) {
    // The last places a whole group may start at.
    const unsigned char* const in_last = in_end - kGroupMaxInput;
    const unsigned char* const out_last = out + (count - kGroupMaxOutput);
    while (in <= in_last && to <= out_last && to - out < static_cast<std::ptrdiff_t>(kWindowSize)) {
      ExpandGroup<true>(in, to, out);
    }
    while (in <= in_last && to <= out_last) ExpandGroup<false>(in, to, out);
  }
  auto written = static_cast<std::size_t>(to - out);

  // The careful tail: every item checked against both ends.
  while (written < count) {
    if (in == in_end) return false;
    unsigned flags = *in++;
    for (unsigned item = 0; item < kItemsPerFlagByte && written < count; ++item, flags >>= 1) {
      if ((flags & 1) != 0) {
        if (in == in_end) return false;
        out[written++] = *in++;
        continue;
      }
      if (in_end - in < 2) return false;
      const unsigned b0 = in[0];
      const unsigned b1 = in[1];
      in += 2;
      const std::size_t position = b0 | ((b1 & kMatchPositionHighMask) << 4);
      std::size_t length = (b1 & kMatchLengthMask) + kMinMatchLength;
      if (length > count - written) length = count - written;
      CopyEarlyMatch(out, written, MatchDistance(position, written), length);
      written += length;
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

VYN_ALIGN_INCOMING_STACK bool DecodeGp8Pixels(std::span<const unsigned char> stream,
                                              std::span<unsigned char> pixels, std::uint32_t width,
                                              std::uint32_t height) {
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
