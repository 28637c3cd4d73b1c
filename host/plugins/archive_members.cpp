#include "host/plugins/archive_members.h"

#include <algorithm>
#include <cstdlib>
#include <new>

#include "host/host_error.h"
#include "host/plugins/refusal_reasons.h"

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

MemberReader::MemberReader(const Plugin& plugin, const std::string& archive)
    : plugin_(plugin), file_(archive) {}

std::unique_ptr<ReceivedBlock> MemberReader::Piece(const ArchiveMember& member,
                                                   std::uint64_t offset, std::size_t size,
                                                   const std::string& shown) {
  const std::string& archive = file_.path();
  std::unique_ptr<ReceivedBlock> block;
  try {
    if (buffer_.size() < size) {
      buffer_.clear();
      buffer_.shrink_to_fit();
      buffer_.resize(size);
    }
    file_.Read(member.position + offset, {buffer_.data(), size});
    block = plugin_.ExtractFromImage({buffer_.data(), size});
  } catch (const std::bad_alloc&) {
    throw HostError(FileMessage(archive, NotEnoughMemory(shown, member.size)));
  }
  if (block == nullptr) {
    if (!CanHoldTwice(size))
      throw HostError(FileMessage(archive, NotEnoughMemory(shown, member.size)));
    const std::string why = WhyMemberNotExtracted(archive, member.position, member.size);
    throw HostError(FileMessage(archive, "the archive plug-in could not extract " + shown +
                                             (why.empty() ? "" : ": " + why)));
  }
  if (block->size() != size)
    throw HostError(FileMessage(archive, "the archive plug-in delivered " +
                                             std::to_string(block->size()) + " bytes for " + shown +
                                             (size == member.size
                                                  ? ", which has " + std::to_string(member.size)
                                                  : " in a piece of " + std::to_string(size))));
  return block;
}

std::uint64_t MemberReader::Take(
    const ArchiveMember& member, const std::string& shown,
    const std::function<void(std::span<const unsigned char>)>& deliver) {
  std::uint64_t offset = 0;
  while (offset < member.size) {
    const auto size =
        static_cast<std::size_t>(std::min<std::uint64_t>(kMemberPieceSize, member.size - offset));
    const std::unique_ptr<ReceivedBlock> block = Piece(member, offset, size, shown);
    deliver(block->bytes());
    offset += size;
  }
  return offset;
}

std::unique_ptr<ReceivedBlock> MemberReader::TakeWhole(const ArchiveMember& member,
                                                       const std::string& shown) {
  if (member.size == 0) return std::make_unique<ReceivedBlock>(nullptr);
  std::unique_ptr<ReceivedBlock> block = Piece(member, 0, member.size, shown);
  if (buffer_.size() > kMemberPieceSize) Bytes().swap(buffer_);  // held no longer than needed
  return block;
}

std::unique_ptr<ReceivedBlock> TakeMember(const Plugin& plugin, const std::string& archive,
                                          const ArchiveMember& member, const std::string& shown) {
  if (member.size == 0) return std::make_unique<ReceivedBlock>(nullptr);
  return MemberReader(plugin, archive).TakeWhole(member, shown);
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
