// A small ARC writer for building test archives, plain or scrambled, with
// members placed wherever a test wants them. It keeps its own copy of the
// layout and the mask on purpose, written independently of
// archive/arc_layout.h, so that a mistake there cannot hide in both.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "test_files.h"

struct ArcMember {
  std::string name;  // up to 12 bytes stored; longer names are cut
  Bytes data;
};

inline constexpr unsigned char kTestMask[20] = {0xB5, 0xB2, 0x8A, 0xC6, 0xED, 0xD2, 0x97,
                                                0xD6, 0xF6, 0xF2, 0xFD, 0xE7, 0x2C, 0x35,
                                                0x07, 0x8D, 0x7F, 0x4E, 0x42, 0xD9};

// One raw 20-byte directory entry.
inline Bytes ArcEntry(const std::string& name, std::uint32_t size, std::uint32_t position) {
  Bytes e(20, 0);
  std::memcpy(e.data(), name.data(), name.size() < 12 ? name.size() : 12);
  for (int i = 0; i < 4; ++i) {
    e[12 + i] = static_cast<unsigned char>(size >> (8 * i));
    e[16 + i] = static_cast<unsigned char>(position >> (8 * i));
  }
  return e;
}

inline void ScrambleEntry(unsigned char* entry) {
  for (int i = 0; i < 20; ++i) entry[i] ^= kTestMask[i];
}

// An archive of raw entries and trailing data, count written as 32 bits.
inline Bytes ArcImage(std::int32_t count, const std::vector<Bytes>& entries, bool scrambled,
                      const Bytes& tail = {}) {
  Bytes image(4, 0);
  for (int i = 0; i < 4; ++i) image[i] = static_cast<unsigned char>(static_cast<std::uint32_t>(count) >> (8 * i));
  for (Bytes e : entries) {
    if (scrambled) ScrambleEntry(e.data());
    image.insert(image.end(), e.begin(), e.end());
  }
  image.insert(image.end(), tail.begin(), tail.end());
  return image;
}

// A well-formed archive: the directory, then the members in order. A member
// of 0 bytes lies where the next would start or, with empty_at_end (as
// vyn's writer places them), at the end of the archive.
inline Bytes BuildArchive(const std::vector<ArcMember>& members, bool scrambled = false,
                          bool empty_at_end = false) {
  const std::uint32_t directory_end = 4 + 20 * static_cast<std::uint32_t>(members.size());
  std::uint32_t end = directory_end;
  for (const auto& m : members) end += static_cast<std::uint32_t>(m.data.size());
  std::uint32_t position = directory_end;
  std::vector<Bytes> entries;
  Bytes data;
  for (const auto& m : members) {
    const bool at_end = empty_at_end && m.data.empty();
    entries.push_back(
        ArcEntry(m.name, static_cast<std::uint32_t>(m.data.size()), at_end ? end : position));
    data.insert(data.end(), m.data.begin(), m.data.end());
    position += static_cast<std::uint32_t>(m.data.size());
  }
  return ArcImage(static_cast<std::int32_t>(members.size()), entries, scrambled, data);
}

// The head a host hands IsSupported: the first 2048 bytes, zero past the end.
inline Bytes HeadOf(const Bytes& file) {
  Bytes head(2048, 0);
  if (!file.empty()) std::memcpy(head.data(), file.data(), file.size() < head.size() ? file.size() : head.size());
  return head;
}
