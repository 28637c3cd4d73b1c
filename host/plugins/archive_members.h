// Members taken out of an archive through the archive plug-in, each with
// exactly the bytes its listing gives, however the archive's maker laid the
// records out.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "host/files/file_io.h"
#include "host/plugins/plugin_host.h"

// Members larger than this come through GetFile a piece at a time, so that
// what is held stays bounded whatever a member's size.
inline constexpr std::size_t kMemberPieceSize = std::size_t{16} << 20;

// Takes members out of one archive that the archive plug-in recognised just
// before. Each comes as a viewer with the archive in memory sends it: the
// host reads the listed bytes, in pieces of at most kMemberPieceSize, and
// GetFile takes each piece as memory input. That reads every byte of the
// archive once, where GetFile with file input would read the directory again
// for every member, and it gives every listed member its own bytes, also
// those that share a position. Errors are HostErrors naming the archive, the
// member (as `shown`) and the reason: GetFile failing or delivering another
// size, or bytes that cannot be read.
class MemberReader {
 public:
  MemberReader(const Plugin& plugin, const std::string& archive);

  // The member's bytes handed to `deliver` piece by piece, in order; a
  // member of 0 bytes delivers nothing. Returns the bytes delivered.
  std::uint64_t Take(const ArchiveMember& member, const std::string& shown,
                     const std::function<void(std::span<const unsigned char>)>& deliver);
  // The whole member in one block, for those that are read as a whole (a
  // picture to decode).
  std::unique_ptr<ReceivedBlock> TakeWhole(const ArchiveMember& member, const std::string& shown);

 private:
  std::unique_ptr<ReceivedBlock> Piece(const ArchiveMember& member, std::uint64_t offset,
                                       std::size_t size, const std::string& shown);

  const Plugin& plugin_;
  FileRangeReader file_;
  Bytes buffer_;
};

// One member in one block, through a MemberReader of its own.
std::unique_ptr<ReceivedBlock> TakeMember(const Plugin& plugin, const std::string& archive,
                                          const ArchiveMember& member, const std::string& shown);

// The first kHeadSize bytes, padded with zeros, as a content test takes a
// file's head.
Bytes ContentHead(std::span<const unsigned char> bytes);

// At most the first `limit` bytes of the member, as a content test needs
// them: the listed bytes read by the host and handed to GetFile as memory
// input, so that classifying a member costs its head only. Null when the
// head cannot be read or GetFile refuses it.
std::unique_ptr<ReceivedBlock> TakeMemberHead(const Plugin& plugin, const std::string& archive,
                                              const ArchiveMember& member, std::size_t limit);
