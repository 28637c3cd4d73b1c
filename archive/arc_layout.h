// The layout of an ARC archive: a member count, a directory of fixed 20-byte
// entries (possibly scrambled with a byte mask), and the members stored as
// they are. The one description of it: the archive plug-in reads by it, the
// host's writer writes by it, and the host's messages explain refusals by it.
#pragma once

#include <array>
#include <cstdint>

// The count: a 16-bit value at the start; the directory follows at offset 4.
constexpr std::uint32_t kCountOffset = 0;
constexpr std::uint32_t kDirectoryOffset = 4;
constexpr std::uint32_t kEntrySize = 20;
constexpr std::int32_t kMinRecognisedCount = 2;  // one member is never recognised
constexpr std::int32_t kMaxRecognisedCount = 10240;
constexpr std::uint32_t kEntriesExamined = 99;  // recognition never looks further

// ArcDirectoryEntry field offsets.
constexpr std::uint32_t kEntryNameOffset = 0;
constexpr std::uint32_t kEntryNameSize = 12;
constexpr std::uint32_t kEntrySizeOffset = 12;
constexpr std::uint32_t kEntryPositionOffset = 16;

struct ArcDirectoryEntry {
  char name[kEntryNameSize];  // NUL-terminated unless exactly 12 characters
  std::uint32_t size;         // stored and extracted size
  std::uint32_t position;     // absolute offset of the member's first byte
};
static_assert(sizeof(ArcDirectoryEntry) == kEntrySize);

// Every position and size is 32 bits: no byte of an archive lies at or
// beyond 4 GiB.
constexpr std::uint64_t kMaxArchiveSize = 0xFFFFFFFFu;

// A name's extension: the bytes after the "." that recognition examines, and
// the range each must fall in once "A"-"Z" are folded to lower case.
constexpr std::uint32_t kExtensionExamined = 3;
constexpr char kExtensionLowest = '!';
constexpr char kExtensionHighest = 'z';

// The fixed mask a scrambled directory is combined with, byte by byte, the
// same 20 bytes for every entry.
inline constexpr std::array<unsigned char, kEntrySize> kDirectoryMask = {
    0xB5, 0xB2, 0x8A, 0xC6, 0xED, 0xD2, 0x97, 0xD6, 0xF6, 0xF2,
    0xFD, 0xE7, 0x2C, 0x35, 0x07, 0x8D, 0x7F, 0x4E, 0x42, 0xD9};
