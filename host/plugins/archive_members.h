// Members taken out of an archive through the archive plug-in, each with
// exactly the bytes its listing gives, however the archive's maker laid the
// records out.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "host/plugins/plugin_host.h"

// For each listed member, whether GetFile's lookup by position finds it.
// The lookup takes the first record listed at a position, so a later record
// that shares it is never found that way.
std::vector<bool> FoundByPosition(const std::vector<ArchiveMember>& members);

// The member's bytes. A member its position finds comes through GetFile with
// file input; any other goes as a viewer with the archive in memory sends
// it: the host reads the listed bytes and GetFile takes them as memory
// input. A member of 0 bytes is refused by the plug-in from an archive file,
// and its size alone says what it holds. The archive must have been
// recognised just before. Throws HostError naming the archive, the member
// (as `shown`) and the reason when GetFile fails or delivers another size.
std::unique_ptr<ReceivedBlock> TakeMember(const Plugin& plugin, const std::string& archive,
                                          const ArchiveMember& member, bool found_by_position,
                                          const std::string& shown);

// The first kHeadSize bytes, padded with zeros, as a content test takes a
// file's head.
Bytes ContentHead(std::span<const unsigned char> bytes);

// At most the first `limit` bytes of the member, as a content test needs
// them: the listed bytes read by the host and handed to GetFile as memory
// input, so that classifying a member costs its head only. Null when the
// head cannot be read or GetFile refuses it.
std::unique_ptr<ReceivedBlock> TakeMemberHead(const Plugin& plugin, const std::string& archive,
                                              const ArchiveMember& member, std::size_t limit);
