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
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "archive/arc_layout.h"
#include "host/files/file_io.h"

// Where a member's bytes go as they come, a piece at a time.
using ArcPieceSink = std::function<void(std::span<const unsigned char>)>;

// A member to be packed: where its bytes come from, the member name it takes
// (the bytes stored, in the archive's code page) and its size.
struct ArcSource {
  std::string path;  // the file the bytes come from; with `take`, how messages name the member
  std::string name;
  std::uint64_t size = 0;
  std::string shown;  // the name as its user knows it (UTF-8); empty: the stored bytes
  // The bytes from elsewhere than the file, asked for only when the writer
  // reaches the member and handed to the sink in order, so that a piece of
  // one member at a time is held (a member of an archive being updated,
  // taken out through the plug-in).
  std::function<void(const ArcPieceSink&)> take;
  // A name kept from an archive that the archive plug-in listed already:
  // written as it was, without the naming rules, and allowed to be shared
  // with other kept names. `field` holds the entry's 12 name bytes as the
  // archive had them, including anything after the NUL; empty: the name
  // padded with NULs.
  bool kept_name = false;
  std::string field;
};

// One directory entry as it will be written.
struct ArcPlanEntry {
  std::string name;
  std::uint32_t size = 0;
  std::uint32_t position = 0;
  std::string field;  // the 12 name bytes as kept; empty: the name padded with NULs
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

// Writes the archive: the directory, then every source's bytes, each member
// directly after the one before in directory order. Throws HostError when a
// source cannot be read or no longer has its planned size.
void WriteArchive(const ArcPlan& plan, const std::vector<ArcSource>& sources, bool scrambled,
                  PendingFile& out, const PackProgress& progress = {});
