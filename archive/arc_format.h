// The ARC archive: a member count, a directory of fixed 20-byte entries
// (possibly scrambled with a byte mask), and the members stored as they are.
#pragma once

#include <array>
#include <cstdint>

#include "plugin_abi.h"

// Archive layout.
constexpr std::uint32_t kCountOffset = 0;
constexpr std::uint32_t kDirectoryOffset = 4;
constexpr std::uint32_t kEntrySize = 20;
constexpr std::int32_t kMinRecognisedCount = 2;
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

// The fixed mask a scrambled directory is combined with, byte by byte, the
// same 20 bytes for every entry.
inline constexpr std::array<unsigned char, kEntrySize> kDirectoryMask = {
    0xB5, 0xB2, 0x8A, 0xC6, 0xED, 0xD2, 0x97, 0xD6, 0xF6, 0xF2,
    0xFD, 0xE7, 0x2C, 0x35, 0x07, 0x8D, 0x7F, 0x4E, 0x42, 0xD9};

constexpr char kMethodTag[] = "DERUVU";

// Set by recognition: 1 when the last archive recognised keeps its directory
// scrambled. Every later listing is read the way it says.
extern std::int32_t DirectoryScrambled;

// The content test of the archive plug-in. Works on the head it is given,
// which IsSupported always passes as a private copy.
std::int32_t IsArcArchive(const char* file_name, unsigned char* head, std::int32_t length);

// Combines count entries with the mask while DirectoryScrambled is 1; does
// nothing otherwise. to and from may be the same.
void DescrambleEntries(unsigned char* to, const unsigned char* from, std::uint32_t count);
