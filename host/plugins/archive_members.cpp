#include "host/plugins/archive_members.h"

#include <algorithm>
#include <cstdlib>
#include <new>
#include <unordered_set>

#include "host/host_error.h"
#include "host/plugins/refusal_reasons.h"

std::vector<bool> FoundByPosition(const std::vector<ArchiveMember>& members) {
  std::vector<bool> found(members.size());
  std::unordered_set<std::uint32_t> taken;
  for (std::size_t i = 0; i < members.size(); ++i)
    found[i] = taken.insert(members[i].position).second;
  return found;
}

namespace {

// Whether this process could hold a member's bytes twice at once, as the
// plug-in does while it delivers them (the bytes read and the block handed
// over). A 32-bit process runs out of address space long before memory.
bool CanHoldTwice(std::size_t size) {
  void* first = std::malloc(size);
  void* second = first != nullptr ? std::malloc(size) : nullptr;
  std::free(second);
  std::free(first);
  return second != nullptr;
}

}  // namespace

std::unique_ptr<ReceivedBlock> TakeMember(const Plugin& plugin, const std::string& archive,
                                          const ArchiveMember& member, bool found_by_position,
                                          const std::string& shown) {
  if (member.size == 0) return std::make_unique<ReceivedBlock>(nullptr);
  std::unique_ptr<ReceivedBlock> block;
  try {
    // File input needs a name the plug-in can open; any other archive is
    // read by the host and handed over in memory.
    if (found_by_position && PathForPlugins(archive)) {
      block = plugin.ExtractAt(archive, member.position);
    } else {
      const Bytes image = ReadFileRange(archive, member.position, member.size);
      block = plugin.ExtractFromImage(image);
    }
  } catch (const std::bad_alloc&) {
    throw HostError(FileMessage(archive, NotEnoughMemory(shown, member.size)));
  }
  if (block == nullptr) {
    if (!CanHoldTwice(member.size))
      throw HostError(FileMessage(archive, NotEnoughMemory(shown, member.size)));
    const std::string why = WhyMemberNotExtracted(archive, member.position, member.size);
    throw HostError(FileMessage(archive, "the archive plug-in could not extract " + shown +
                                             (why.empty() ? "" : ": " + why)));
  }
  if (block->size() != member.size)
    throw HostError(FileMessage(archive, "the archive plug-in delivered " +
                                             std::to_string(block->size()) + " bytes for " + shown +
                                             ", which has " + std::to_string(member.size)));
  return block;
}

Bytes ContentHead(std::span<const unsigned char> bytes) {
  Bytes head(kHeadSize, 0);
  std::copy_n(bytes.begin(), std::min(bytes.size(), head.size()), head.begin());
  return head;
}

std::unique_ptr<ReceivedBlock> TakeMemberHead(const Plugin& plugin, const std::string& archive,
                                              const ArchiveMember& member, std::size_t limit) {
  const std::size_t size = std::min<std::size_t>(member.size, limit);
  if (size == 0) return std::make_unique<ReceivedBlock>(nullptr);
  try {
    const Bytes head = ReadFileRange(archive, member.position, size);
    return plugin.ExtractFromImage(head);
  } catch (const HostError&) {
    return nullptr;
  }
}
