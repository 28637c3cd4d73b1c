#include "host/formats/arc_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

#include "byte_order.h"
#include "host/files/file_io.h"
#include "host/host_error.h"

namespace {

constexpr std::size_t kCopyChunk = 1 << 20;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

std::string Hex(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value & 0xFFu);
  return text;
}

// A byte as a reader would like to see it: its hex value, and the
// character when it is a printable one.
std::string ShowByte(unsigned char byte) {
  std::string shown = Hex(byte);
  if (byte >= 0x20 && byte < 0x7F) shown += std::string(" (\"") + static_cast<char>(byte) + "\")";
  return shown;
}

// The 20-byte entry for a member, as the plain directory holds it.
std::array<unsigned char, kEntrySize> EntryBytes(const std::string& name, std::uint32_t size,
                                                    std::uint32_t position) {
  std::array<unsigned char, kEntrySize> entry{};
  std::memcpy(entry.data(), name.data(), name.size() < kEntryNameSize ? name.size() : kEntryNameSize);
  WriteLe32(entry.data() + kEntrySizeOffset, size);
  WriteLe32(entry.data() + kEntryPositionOffset, position);
  return entry;
}

std::string FoldedName(const std::string& name) {
  std::string folded = name;
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c | 0x20);
  }
  return folded;
}

}  // namespace

std::string ArcNameProblem(const std::string& name, std::uint64_t size, const std::string& shown) {
  const std::string quoted = "member name \"" + (shown.empty() ? name : shown) + "\"";
  const bool encoded = !shown.empty() && shown != name;
  if (name.empty()) return "the member name is empty";
  if (name == "." || name == "..") return quoted + " is not a file name";
  if (name.size() > kEntryNameSize)
    return quoted + " is " + std::to_string(name.size()) + " bytes long" +
           (encoded ? " as stored" : "") + "; a member name holds at most " +
           std::to_string(kEntryNameSize);
  if (name.find('\0') != std::string::npos) return quoted + " holds a NUL byte";
  // Extraction puts members under their names in a directory: a name with
  // a separator would land elsewhere on some system. The characters count,
  // not the bytes: a double-byte character may end in 0x5C.
  for (const char c : shown.empty() ? name : shown) {
    if (c == '/' || c == '\\' || c == ':')
      return quoted + " holds \"" + c + "\", a path separator on some systems";
  }
  const std::size_t dot = name.find('.');
  if (dot == std::string::npos)
    return quoted + " has no \".\"; every member name needs one before its extension";

  // Recognition reads up to three bytes after the ".", stopping at a NUL.
  // With a "." late in a full 12-byte name it reads on into the size field.
  const auto entry = EntryBytes(name, static_cast<std::uint32_t>(size), 0);
  for (std::size_t i = dot + 1; i <= dot + kExtensionExamined; ++i) {
    const unsigned char byte = entry[i];
    if (byte == 0) break;
    unsigned char folded = byte;
    if (folded >= 'A' && folded <= 'Z') folded = static_cast<unsigned char>(folded | 0x20);
    if (folded >= kExtensionLowest && folded <= kExtensionHighest) continue;
    if (i < name.size())
      return quoted + " holds byte " + ShowByte(byte) +
             " after its \".\"; the three bytes after it may only be " + Hex(kExtensionLowest) +
             " to " + Hex(kExtensionHighest) + " (\"!\" to \"z\")";
    return quoted + " fills all 12 bytes and ends fewer than 3 bytes after its \".\", so the " +
           "member's size is read as part of its extension, and size byte " + ShowByte(byte) +
           " is not allowed there; use a shorter name";
  }
  return {};
}

ArcPlan PlanArchive(const std::string& archive, const std::vector<ArcSource>& sources) {
  if (sources.size() < kMinRecognisedCount)
    throw HostError(
        FileMessage(archive, "an archive needs at least " + std::to_string(kMinRecognisedCount) +
                                 " members (one of a single member is never recognised); " +
                                 std::to_string(sources.size()) + " given"));
  if (sources.size() > kMaxRecognisedCount)
    throw HostError(FileMessage(archive, "an archive holds at most " +
                                             std::to_string(kMaxRecognisedCount) + " members; " +
                                             std::to_string(sources.size()) + " given"));

  std::map<std::string, const ArcSource*> taken;  // folded name as shown -> first source
  std::uint64_t position = kDirectoryOffset + kEntrySize * std::uint64_t{sources.size()};
  ArcPlan plan;
  for (const ArcSource& source : sources) {
    if (source.kept_name && source.name.size() > kEntryNameSize)
      throw HostError(FileMessage(source.path, "member name is longer than 12 bytes"));
    const std::string problem =
        source.kept_name ? std::string() : ArcNameProblem(source.name, source.size, source.shown);
    if (!problem.empty()) throw HostError(FileMessage(source.path, problem));
    // Folded as characters: a double-byte character's second byte may be a
    // letter's, and folding it would make another character. Kept names may
    // share a name among themselves, as their archive had them.
    const std::string& shown = source.shown.empty() ? source.name : source.shown;
    const auto [first, inserted] = taken.emplace(FoldedName(shown), &source);
    if (!inserted && !(source.kept_name && first->second->kept_name))
      throw HostError(
          FileMessage(source.path,
                      "member name \"" + shown + "\" is taken already by " + first->second->path +
                          " (names that differ only in case overwrite each other when extracted)"));
    if (source.size > kMaxArchiveSize - position)
      throw HostError(FileMessage(
          source.path, "the archive would grow to " + std::to_string(position + source.size) +
                           " bytes with this member, beyond the 4 GiB that positions reach"));
    plan.entries.push_back({source.name, static_cast<std::uint32_t>(source.size),
                            static_cast<std::uint32_t>(position),
                            source.field.size() == kEntryNameSize ? source.field : std::string()});
    position += source.size;
  }
  plan.total_size = position;
  for (ArcPlanEntry& entry : plan.entries) {
    if (entry.size == 0) entry.position = static_cast<std::uint32_t>(plan.total_size);
  }
  return plan;
}

Bytes ArcDirectoryBytes(const ArcPlan& plan, bool scrambled) {
  Bytes bytes(kDirectoryOffset + kEntrySize * plan.entries.size(), 0);
  WriteLe32(bytes.data(), static_cast<std::uint32_t>(plan.entries.size()));
  unsigned char* at = bytes.data() + kDirectoryOffset;
  for (const ArcPlanEntry& entry : plan.entries) {
    auto raw =
        EntryBytes(entry.field.empty() ? entry.name : entry.field, entry.size, entry.position);
    for (std::uint32_t i = 0; i < kEntrySize; ++i) {
      at[i] = scrambled ? static_cast<unsigned char>(raw[i] ^ kDirectoryMask[i]) : raw[i];
    }
    at += kEntrySize;
  }
  return bytes;
}

void WriteArchive(const ArcPlan& plan, const std::vector<ArcSource>& sources, bool scrambled,
                  PendingFile& out, const PackProgress& progress) {
  out.Write(ArcDirectoryBytes(plan, scrambled));
  Bytes chunk(kCopyChunk);
  std::uint64_t written = 0;
  std::size_t members = 0;
  for (const ArcSource& source : sources) {
    if (source.take) {
      std::uint64_t taken = 0;
      source.take([&](std::span<const unsigned char> piece) {
        taken += piece.size();
        if (taken > source.size)
          throw HostError(FileMessage(source.path, "changed while it was being packed"));
        out.Write(piece);
        written += piece.size();
        if (progress) progress(written, members);
      });
      if (taken != source.size)
        throw HostError(FileMessage(source.path, "changed while it was being packed"));
      if (progress) progress(written, ++members);
      continue;
    }
    if (source.size == 0) {
      if (RegularFileSize(source.path) != 0)
        throw HostError(FileMessage(source.path, "changed while it was being packed"));
      if (progress) progress(written, ++members);
      continue;
    }
    errno = 0;
    const std::unique_ptr<std::FILE, FileCloser> file(OpenForReading(source.path));
    if (file == nullptr)
      throw HostError(FileMessage(source.path, "cannot open: " + SystemReason()));
    std::uint64_t copied = 0;
    for (;;) {
      const std::size_t got = std::fread(chunk.data(), 1, chunk.size(), file.get());
      if (got == 0) break;
      copied += got;
      if (copied > source.size) break;
      out.Write({chunk.data(), got});
      written += got;
      if (progress) progress(written, members);
    }
    if (std::ferror(file.get()) != 0)
      throw HostError(FileMessage(source.path, "cannot read: " + SystemReason()));
    if (copied != source.size)
      throw HostError(FileMessage(source.path, "changed while it was being packed"));
    if (progress) progress(written, ++members);
  }
}
