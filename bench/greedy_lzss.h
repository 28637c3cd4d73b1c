// A greedy LZSS encoder of GP8 pixel streams: at each byte it takes the
// longest match the window allows (3 to 18 bytes), else a literal. The same
// matches as an optimal parse can use, without looking ahead; the yardstick
// for the host's encoder, and a quick source of realistic streams for tests.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

inline std::vector<unsigned char> GreedyLzssEncode(std::span<const unsigned char> data) {
  constexpr std::size_t kWindow = 4096;
  constexpr std::size_t kMaxMatch = 18;
  constexpr std::size_t kMinMatch = 3;
  constexpr std::size_t kStart = kWindow - kMaxMatch;  // where the first byte goes
  constexpr std::uint32_t kNone = 0xFFFFFFFFu;
  constexpr unsigned kHashBits = 16;

  // The window seen as one sequence: 4096 zeros, the positions never written,
  // then the data. Sequence index q sits at window position (q + 4078) mod
  // 4096; a byte at index e may copy from [e - 4096, e - 1], and a match may
  // run on into bytes it has itself just produced.
  const std::size_t n = data.size();
  std::vector<unsigned char> seq(kWindow + n + 2, 0);
  std::copy(data.begin(), data.end(), seq.begin() + kWindow);
  auto hash = [&seq](std::size_t q) {
    const std::uint32_t key = std::uint32_t{seq[q]} | (std::uint32_t{seq[q + 1]} << 8) |
                              (std::uint32_t{seq[q + 2]} << 16);
    return (key * 2654435761u) >> (32 - kHashBits);
  };
  std::vector<std::uint32_t> head(std::size_t{1} << kHashBits, kNone);
  std::vector<std::uint32_t> previous(seq.size(), kNone);
  // Zeros that lie before this index are followed by at least 18 zeros: all
  // give the same match, so they are tried as one and not chained.
  constexpr std::size_t kFirstChained = kWindow - kMaxMatch;
  std::size_t next_chained = kFirstChained;

  std::vector<unsigned char> stream;
  std::size_t flag_at = 0;
  unsigned items = 0;
  auto item = [&](bool literal) {
    if (items % 8 == 0) {
      flag_at = stream.size();
      stream.push_back(0);
    }
    if (literal)
      stream[flag_at] = static_cast<unsigned char>(stream[flag_at] | (1u << (items % 8)));
    ++items;
  };

  std::size_t i = 0;
  while (i < n) {
    const std::size_t e = kWindow + i;
    for (; next_chained < e; ++next_chained) {
      const auto h = hash(next_chained);
      previous[next_chained] = head[h];
      head[h] = static_cast<std::uint32_t>(next_chained);
    }
    const std::size_t cap = std::min(kMaxMatch, n - i);
    std::size_t best = 0;
    std::size_t best_source = 0;
    if (cap >= kMinMatch) {
      if (e - kWindow < kFirstChained) {
        while (best < cap && data[i + best] == 0) ++best;
        best_source = e - kWindow;
      }
      const std::size_t oldest = std::max(e - kWindow, kFirstChained);
      for (std::uint32_t q = head[hash(e)]; best < cap && q != kNone && q >= oldest;
           q = previous[q]) {
        std::size_t length = 0;
        while (length < cap && seq[q + length] == seq[e + length]) ++length;
        if (length > best) {
          best = length;
          best_source = q;
        }
      }
    }
    if (best >= kMinMatch) {
      item(false);
      const std::size_t position = (best_source + kStart) % kWindow;
      stream.push_back(static_cast<unsigned char>(position & 0xFF));
      stream.push_back(static_cast<unsigned char>(((position >> 8) << 4) | (best - kMinMatch)));
      i += best;
    } else {
      item(true);
      stream.push_back(data[i]);
      ++i;
    }
  }
  return stream;
}
