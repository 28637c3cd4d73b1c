// GetFile: one member's bytes, to a new block or to a file under a
// destination, from an archive file or from an image in memory.
#include <cstring>

#include "arc_format.h"
#include "byte_order.h"
#include "exports.h"
#include "listing.h"
#include "member_name.h"
#include "partial_name.h"

#if defined(_WIN32)
constexpr std::size_t kOutputPathCapacity = 260;  // MAX_PATH, with its NUL
#else
constexpr std::size_t kOutputPathCapacity = 4096;  // PATH_MAX, with its NUL
#endif

FileInfoRecord FoundEntry{};
char OutputPath[kOutputPathCapacity] = {};


namespace {

// Finds the member that starts at position by scanning the directory itself,
// first match in directory order, and leaves its record in FoundEntry.
// Scrambling is an exclusive-or, so the position is scrambled once to the
// form the directory stores, and the entries are compared as they stand.
bool FindEntryByPosition(const char* archive, std::uint32_t position) {
  ArchiveDirectory directory;
  if (!ReadArchiveDirectory(archive, 0, false, directory)) return false;
  unsigned char probe[kEntrySize] = {};
  WriteLe32(probe + kEntryPositionOffset, position);
  DescrambleEntries(probe, probe, 1);
  const std::uint32_t stored = ReadLe32(probe + kEntryPositionOffset);
  for (std::uint32_t i = 0; i < directory.count; ++i) {
    const unsigned char* raw = directory.entries + i * kEntrySize;
    if (ReadLe32(raw + kEntryPositionOffset) != stored) continue;
    FoundEntry = FileInfoRecord{};
    FillRecord(raw, FoundEntry);
    return true;
  }
  return false;
}

// Members are stored as they are: decoding is a copy of the extracted size.
// Without an output area (a block of 0 bytes) the source itself is the result.
const unsigned char* DecodeMember(const unsigned char* source, unsigned char* output,
                                  const FileInfoRecord& record) {
  if (output == nullptr) return source;
  std::memcpy(output, source, record.extracted_size);
  return output;
}

#if defined(_WIN32)
// The ANSI code page decides which bytes begin a double-byte character, as
// it decides how the file system reads the name.
bool AnsiLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) != FALSE; }
constexpr LeadBytePredicate kLeadByte = AnsiLeadByte;
constexpr char kPathSeparators[] = "/\\:";
#else
// Names go to the file system as bytes, and only "/" separates.
bool NoLeadByte(unsigned char) { return false; }
constexpr LeadBytePredicate kLeadByte = NoLeadByte;
constexpr char kPathSeparators[] = "/";
#endif

// A member name joined to the destination must name a file inside it.
bool SafeMemberName(const char* name) {
  return NameStaysInDirectory(name, kPathSeparators, kLeadByte);
}

// Builds OutputPath from the destination and the member name; false, with
// OutputPath untouched, when the name is unsafe or the path does not fit.
bool BuildOutputPath(const char* destination, const char* name) {
  if (destination == nullptr || !SafeMemberName(name)) return false;
  const std::size_t prefix = std::strlen(destination);
  const std::size_t member = std::strlen(name);
  if (member >= kOutputPathCapacity || prefix >= kOutputPathCapacity - member) return false;
  std::memcpy(OutputPath, destination, prefix);
  std::memcpy(OutputPath + prefix, name, member + 1);
  return true;
}

// True when a failed exclusive creation found the name taken, so that
// another name is worth a try.
bool NameTaken([[maybe_unused]] const char* path) {
  const DWORD error = GetLastError();
  if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return true;
#if defined(_WIN32)
  // A directory of that name refuses access rather than saying it exists.
  return error == ERROR_ACCESS_DENIED && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
#else
  return false;
#endif
}

// Creates the partial file beside OutputPath, exclusively and under a random
// name no longer than the member's (partial_name.h), and leaves its path in
// partial. The path always fits: it is no longer than OutputPath itself.
HFILE CreatePartialFile(char (&partial)[kOutputPathCapacity]) {
  const std::size_t length = std::strlen(OutputPath);
  const std::size_t name_at = partial_name::NameOffset(OutputPath, length);
  std::memcpy(partial, OutputPath, name_at);
  for (int attempt = 0; attempt < partial_name::kAttempts; ++attempt) {
    const std::size_t name_length = partial_name::NameLength(length - name_at, attempt);
    if (name_length >= kOutputPathCapacity - name_at) return HFILE_ERROR;
    partial_name::WriteName(partial_name::Seed(), name_length, partial + name_at);
    const HANDLE file = CreateFileA(partial, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    // _lwrite and _lclose take a file handle as an HFILE.
    if (file != INVALID_HANDLE_VALUE)
      return static_cast<HFILE>(reinterpret_cast<std::intptr_t>(file));
    if (!NameTaken(partial)) return HFILE_ERROR;
  }
  return HFILE_ERROR;
}

// Writes bytes to OutputPath so that nothing is lost and nothing else is
// touched: into a partial file beside it first, renamed over the target only
// once every byte is written and the file closed cleanly. The rename replaces
// whatever has the target's name, a link included, and never writes through
// it. On failure the partial file is removed and an existing target stays as
// it was.
bool WriteOutputFile(const unsigned char* bytes, std::uint32_t count) {
  char partial[kOutputPathCapacity];
  OpenFile file(CreatePartialFile(partial));
  if (!file.ok()) return false;
  bool written = count == 0 ||
                 _lwrite(file.get(), reinterpret_cast<const char*>(bytes), count) == count;
  written = file.Close() && written;
  if (written && MoveFileExA(partial, OutputPath, MOVEFILE_REPLACE_EXISTING)) return true;
  DeleteFileA(partial);
  return false;
}

// Moves the file to an absolute position of up to 2^32 - 1. _llseek takes a
// signed 32-bit distance, so a position of 2^31 or more is reached in steps:
// from the start to 0x7FFFFFFF, then on from there. Each step returns the low
// 32 bits of where it landed, and only that value says whether the position
// was reached: a failed seek would leave the read at some other place, such
// as the start of the archive. The error value -1 is also the position
// 0xFFFFFFFF itself, so that one is reached by going to the byte before it
// and reading that byte.
bool SeekTo(HFILE file, std::uint32_t position) {
  constexpr std::uint32_t kLongestStep = 0x7FFFFFFF;
  const std::uint32_t target = position == 0xFFFFFFFFu ? position - 1 : position;
  std::uint32_t step = target < kLongestStep ? target : kLongestStep;
  std::uint32_t at = static_cast<std::uint32_t>(_llseek(file, static_cast<LONG>(step), FILE_BEGIN));
  if (at != step) return false;
  while (at != target) {
    step = target - at < kLongestStep ? target - at : kLongestStep;
    const std::uint32_t expected = at + step;
    at = static_cast<std::uint32_t>(_llseek(file, static_cast<LONG>(step), FILE_CURRENT));
    if (at != expected) return false;
  }
  if (target == position) return true;
  unsigned char before = 0;
  return _lread(file, &before, 1) == 1;
}

std::int32_t ExtractFromArchiveFile(const char* archive, std::uint32_t position, char* destination,
                                    bool memory_output) {
  if (!FindEntryByPosition(archive, position)) return kPluginFailed;
  if (FoundEntry.compressed_size == 0) return kPluginFailed;
  if (!memory_output && !BuildOutputPath(destination, FoundEntry.name)) return kPluginFailed;
  if (FoundEntry.extracted_size > FoundEntry.compressed_size) return kPluginFailed;

  OpenFile file(_lopen(archive, OF_READ));
  if (!file.ok()) return kPluginFailed;
  // A member that runs past the end of the archive is damaged: deliver
  // nothing rather than bytes that were never read. Checked before any
  // allocation, so a damaged directory cannot ask for gigabytes.
  DWORD high = 0;
  const std::uint64_t archive_size =
      GetFileSize(reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(file.get())), &high) |
      (std::uint64_t{high} << 32);
  if (position > archive_size || FoundEntry.compressed_size > archive_size - position)
    return kPluginFailed;

  LockedBlock raw;
  if (!raw.Allocate(LMEM_MOVEABLE, FoundEntry.compressed_size)) return kPluginFailed;
  LockedBlock output;
  if (!output.Allocate(LMEM_MOVEABLE, FoundEntry.extracted_size)) return kPluginFailed;
  if (!SeekTo(file.get(), position)) return kPluginFailed;
  if (_lread(file.get(), raw.data(), raw.size()) != raw.size()) return kPluginFailed;
  file.Close();  // read-only: nothing of the member depends on how the close went
  const unsigned char* decoded = DecodeMember(raw.data(), output.data(), FoundEntry);

  if (memory_output) {
    *reinterpret_cast<HLOCAL*>(destination) = output.Release();
    return kPluginOk;
  }
  return WriteOutputFile(decoded, FoundEntry.extracted_size) ? kPluginOk : kPluginFailed;
}

std::int32_t CopyImageToBlock(const char* image, std::uint32_t length, char* destination) {
  if (image == nullptr && length != 0) return kPluginFailed;
  LockedBlock copy;
  if (!copy.Allocate(LMEM_MOVEABLE, length)) return kPluginFailed;
  if (length != 0) std::memcpy(copy.data(), image, length);
  *reinterpret_cast<HLOCAL*>(destination) = copy.Release();
  return kPluginOk;
}

// The member is the start of the image; its size and name are those of the
// last GetFileInfo.
std::int32_t WriteImageMember(const char* image, std::uint32_t length, char* destination) {
  const FileInfoRecord& record = LastFileInfo;
  if (record.method[0] == '\0' || record.name[0] == '\0') return kPluginFailed;
  if (image == nullptr || length < record.extracted_size) return kPluginFailed;
  if (record.extracted_size > record.compressed_size) return kPluginFailed;
  char name[sizeof record.name];
  std::memcpy(name, record.name, sizeof name);
  name[sizeof name - 1] = '\0';
  if (!BuildOutputPath(destination, name)) return kPluginFailed;

  LockedBlock output;
  if (!output.Allocate(LMEM_MOVEABLE, record.compressed_size)) return kPluginFailed;
  const unsigned char* decoded =
      DecodeMember(reinterpret_cast<const unsigned char*>(image), output.data(), record);
  return WriteOutputFile(decoded, record.extracted_size) ? kPluginOk : kPluginFailed;
}

}  // namespace

PLUGIN_EXPORT std::int32_t PLUGIN_CALL GetFile(const char* source, std::int32_t position,
                                               char* destination, std::uint32_t flags,
                                               std::int32_t /*unused1*/, std::int32_t /*unused2*/) {
  const bool memory_input = (flags & kInputKindMask) != 0;
  const bool memory_output = (flags & kOutputKindMask) != 0;
  const auto second = static_cast<std::uint32_t>(position);
  if (destination == nullptr) return kPluginFailed;
  if (!memory_input) {
    if (source == nullptr) return kPluginFailed;
    return ExtractFromArchiveFile(source, second, destination, memory_output);
  }
  if (memory_output) return CopyImageToBlock(source, second, destination);
  return WriteImageMember(source, second, destination);
}
