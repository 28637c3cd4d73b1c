// Writing ARC archives: a member count, a directory of 20-byte entries
// (plain, or scrambled with the format's byte mask), then the members'
// bytes as they are, in the order given.
//
// The writer refuses anything the archive plug-in would not recognise or
// could not list, before a byte is written: fewer than 2 or more than 10240
// members, a name over 12 bytes, a name without a "." or with a byte after
// it that recognition rejects, or an archive beyond the 32-bit positions.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/files/file_io.h"

// Archive layout.
constexpr std::uint32_t kArcCountSize = 4;
constexpr std::uint32_t kArcEntrySize = 20;
constexpr std::uint32_t kArcNameSize = 12;
constexpr std::uint32_t kArcSizeOffset = 12;      // within an entry
constexpr std::uint32_t kArcPositionOffset = 16;  // within an entry
constexpr std::size_t kArcMinMembers = 2;         // one member is never recognised
constexpr std::size_t kArcMaxMembers = 10240;
// Every position and size is 32 bits: no byte of an archive may lie at or
// beyond 4 GiB.
constexpr std::uint64_t kArcMaxSize = 0xFFFFFFFFu;
// Bytes after the "." that recognition examines, and the range each must
// fall in once "A"-"Z" are folded to lower case.
constexpr std::uint32_t kArcExtensionExamined = 3;
constexpr unsigned char kArcExtensionLowest = 0x21;   // "!"
constexpr unsigned char kArcExtensionHighest = 0x7A;  // "z"

// Combined byte by byte with each entry of a scrambled directory.
inline constexpr std::array<unsigned char, kArcEntrySize> kArcDirectoryMask = {
    0xB5, 0xB2, 0x8A, 0xC6, 0xED, 0xD2, 0x97, 0xD6, 0xF6, 0xF2,
    0xFD, 0xE7, 0x2C, 0x35, 0x07, 0x8D, 0x7F, 0x4E, 0x42, 0xD9};

// A file to be packed: where its bytes come from, the member name it takes
// (the bytes stored, in the archive's code page) and its size.
struct ArcSource {
  std::string path;
  std::string name;
  std::uint64_t size = 0;
  std::string shown;  // the name as its user knows it (UTF-8); empty: the stored bytes
};

// One directory entry as it will be written.
struct ArcPlanEntry {
  std::string name;
  std::uint32_t size = 0;
  std::uint32_t position = 0;
};

struct ArcPlan {
  std::vector<ArcPlanEntry> entries;
  std::uint64_t total_size = 0;  // of the whole archive
};

// Why a member cannot be stored under its name with its size, or empty when
// it can: the 12-byte name field, the "." and the bytes recognition examines
// after it, including size bytes when a late "." makes it read on, all
// counted in stored bytes; a path separator in the name as shown.
std::string ArcNameProblem(const std::string& name, std::uint64_t size, const std::string& shown);

// Checks every rule and lays the archive out: the directory, then each
// member in order. Members of 0 bytes are given the archive's end as their
// position, so that no member shares its position with another that has
// bytes (extraction finds a member by its position). Throws HostError naming
// the file (or, for the member count, the archive) and the rule.
ArcPlan PlanArchive(const std::string& archive, const std::vector<ArcSource>& sources);

// The member count and the directory, plain or scrambled.
Bytes ArcDirectoryBytes(const ArcPlan& plan, bool scrambled);

// Told, as the members' bytes go out, how many have been written and how
// many members are done.
using PackProgress = std::function<void(std::uint64_t bytes_done, std::size_t members_done)>;

// Writes the archive: the directory, then every source file's bytes. Throws
// HostError when a source cannot be read or no longer has its planned size.
void WriteArchive(const ArcPlan& plan, const std::vector<ArcSource>& sources, bool scrambled,
                  PendingFile& out, const PackProgress& progress = {});
