#include "arc_format.h"

#include "byte_order.h"
#include "plugin_frame.h"

std::int32_t DirectoryScrambled = 0;

const char* const kPluginInformation[kInformationStringCount] = {
    "00AM",
    "Quarvel - ARC extract library ver0.20 (C) 2026 cobbet authors",
    "*.ARC",
    "Vyn Archived File(ARC)",
};

std::int32_t PluginContentTest(const char* file_name, unsigned char* head, std::int32_t length) {
  return IsArcArchive(file_name, head, length);
}

namespace {

enum class NameCheck { kGood, kNoSeparator, kBad };

// A name is good when it has a "." within its 12 bytes and up to three
// printable bytes after it. The bytes after a late "." run on into the size
// field, as the entry holds them.
NameCheck CheckEntryName(const unsigned char* entry) {
  std::uint32_t dot = 0;
  while (dot < kEntryNameSize && entry[dot] != '\0' && entry[dot] != '.') ++dot;
  if (dot == kEntryNameSize || entry[dot] != '.') return NameCheck::kNoSeparator;
  for (std::uint32_t i = dot + 1; i <= dot + 3; ++i) {
    const auto c = static_cast<signed char>(entry[i]);
    if (c == 0) break;
    int folded = c;
    if (folded >= 'A' && folded <= 'Z') folded |= 0x20;
    if (folded < kExtensionLowest || folded > kExtensionHighest) return NameCheck::kBad;  // 0x80 and up are negative
  }
  return NameCheck::kGood;
}

}  // namespace

void DescrambleEntries(unsigned char* to, const unsigned char* from, std::uint32_t count) {
  if (DirectoryScrambled != 1) return;
  for (std::uint32_t e = 0; e < count; ++e) {
    for (std::uint32_t i = 0; i < kEntrySize; ++i) {
      to[e * kEntrySize + i] = static_cast<unsigned char>(from[e * kEntrySize + i] ^ kDirectoryMask[i]);
    }
  }
}

std::int32_t IsArcArchive(const char* /*file_name*/, unsigned char* head, std::int32_t /*length*/) {
  const auto count = static_cast<std::int32_t>(ReadLe32(head + kCountOffset));
  if (count < kMinRecognisedCount || count > kMaxRecognisedCount) return kNotRecognised;

  const std::uint32_t examined =
      static_cast<std::uint32_t>(count) < kEntriesExamined ? static_cast<std::uint32_t>(count) : kEntriesExamined;
  unsigned char* entries = head + kDirectoryOffset;

  bool plain = true;
  for (std::uint32_t e = 0; e < examined && plain; ++e) {
    switch (CheckEntryName(entries + e * kEntrySize)) {
      case NameCheck::kGood: break;
      case NameCheck::kNoSeparator: plain = false; break;
      case NameCheck::kBad: return kNotRecognised;
    }
  }
  if (plain) {
    DirectoryScrambled = 0;
    return kRecognised;
  }

  // A name without a "." means the directory is scrambled: descramble what
  // was examined and check it all again.
  DirectoryScrambled = 1;
  DescrambleEntries(entries, entries, examined);
  for (std::uint32_t e = 0; e < examined; ++e) {
    if (CheckEntryName(entries + e * kEntrySize) != NameCheck::kGood) return kNotRecognised;
  }
  return kRecognised;
}
