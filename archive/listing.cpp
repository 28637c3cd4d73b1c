// GetArchiveInfo and GetFileInfo: the archive's contents as the host sees them.
#include "listing.h"

#include <cstring>

#include "arc_format.h"
#include "byte_order.h"
#include "exports.h"

FileInfoRecord LastFileInfo{};

namespace {

constexpr std::uint32_t kNameFieldSize = sizeof(FileInfoRecord::name);  // 200

bool ReadDirectoryFromFile(const char* path, ArchiveDirectory& directory) {
  unsigned char count_bytes[4];
  {
    OpenFile file(_lopen(path, OF_READ));
    if (!file.ok()) return false;
    if (_lread(file.get(), count_bytes, sizeof count_bytes) != sizeof count_bytes) return false;
  }
  const std::uint32_t count = ReadLe16(count_bytes + kCountOffset);
  const std::uint32_t bytes = count * kEntrySize;
  if (!directory.block.Allocate(LMEM_MOVEABLE, bytes)) return false;
  if (bytes != 0) {
    OpenFile file(_lopen(path, OF_READ));
    if (!file.ok()) return false;
    if (_llseek(file.get(), static_cast<LONG>(kDirectoryOffset), FILE_BEGIN) !=
        static_cast<LONG>(kDirectoryOffset))
      return false;
    if (_lread(file.get(), directory.block.data(), bytes) != bytes) return false;
  }
  directory.entries = directory.block.data();
  directory.count = count;
  return true;
}

bool DirectoryFromImage(const unsigned char* image, std::uint32_t length,
                        ArchiveDirectory& directory) {
  if (image == nullptr || length < kDirectoryOffset) return false;
  const std::uint32_t count = ReadLe16(image + kCountOffset);
  // The whole directory must lie within the image the host handed over.
  if (count * kEntrySize > length - kDirectoryOffset) return false;
  directory.entries = image + kDirectoryOffset;
  directory.count = count;
  return true;
}

// Entries handled at a time while the listing is built: descrambled together
// into a private buffer, one pass of the mask instead of a call per entry;
// their records (27 KB) zeroed with one fill, which still lies in the cache
// when the fields are set.
constexpr std::uint32_t kEntriesPerBatch = 64;

static_assert(sizeof kMethodTag <= sizeof(FileInfoRecord::method));

// Fills a zeroed record from a plain (descrambled) entry.
void FillFromPlainEntry(const unsigned char* entry, FileInfoRecord& record) {
  std::memcpy(record.method, kMethodTag, sizeof kMethodTag);  // with its NUL
  std::uint32_t n = 0;
  while (n < kEntryNameSize && entry[kEntryNameOffset + n] != '\0') {
    record.name[n] = static_cast<char>(entry[kEntryNameOffset + n]);
    ++n;
  }
  record.name[n] = '\0';
  record.name[kEntryNameSize] = '\0';
  record.position = ReadLe32(entry + kEntryPositionOffset);
  record.extracted_size = ReadLe32(entry + kEntrySizeOffset);
  record.compressed_size = record.extracted_size;
}

// Builds the listing block: one record per entry and an all-zero record.
// Every byte of the block is written here, a batch of records zeroed and then
// filled, so the block comes out as a zero-filled one would with only the
// listed fields set, without a second pass over 4 MB for a full directory.
HLOCAL BuildListing(const ArchiveDirectory& directory) {
  LockedBlock listing;
  const std::uint64_t bytes = (std::uint64_t{directory.count} + 1) * sizeof(FileInfoRecord);
  if (!listing.Allocate(LMEM_MOVEABLE, bytes)) return nullptr;
  auto* records = reinterpret_cast<FileInfoRecord*>(listing.data());
  unsigned char batch[kEntriesPerBatch * kEntrySize];
  for (std::uint32_t first = 0; first < directory.count; first += kEntriesPerBatch) {
    const std::uint32_t n =
        directory.count - first < kEntriesPerBatch ? directory.count - first : kEntriesPerBatch;
    std::memcpy(batch, directory.entries + std::size_t{first} * kEntrySize, n * kEntrySize);
    DescrambleEntries(batch, batch, n);
    std::memset(&records[first], 0, n * sizeof(FileInfoRecord));
    for (std::uint32_t i = 0; i < n; ++i) {
      FillFromPlainEntry(batch + i * kEntrySize, records[first + i]);
    }
  }
  std::memset(&records[directory.count], 0, sizeof(FileInfoRecord));
  return listing.Release();
}

void FoldToUpper(char* name) {
  for (std::uint32_t i = 0; i < kNameFieldSize && name[i] != '\0'; ++i) {
    if (name[i] >= 'a' && name[i] <= 'z') name[i] = static_cast<char>(name[i] - 0x20);
  }
}

}  // namespace

bool ReadArchiveDirectory(const char* source, std::uint32_t length, bool memory_input,
                          ArchiveDirectory& directory) {
  if (source == nullptr) return false;
  if (memory_input) {
    return DirectoryFromImage(reinterpret_cast<const unsigned char*>(source), length, directory);
  }
  return ReadDirectoryFromFile(source, directory);
}

void FillRecord(const unsigned char* raw_entry, FileInfoRecord& record) {
  unsigned char entry[kEntrySize];
  std::memcpy(entry, raw_entry, kEntrySize);
  DescrambleEntries(entry, entry, 1);
  FillFromPlainEntry(entry, record);
}

PLUGIN_EXPORT std::int32_t PLUGIN_CALL GetArchiveInfo(const char* source, std::int32_t length,
                                                      std::uint32_t flags, HLOCAL* listing) {
  if (listing == nullptr) return kPluginFailed;
  ArchiveDirectory directory;
  const bool memory_input = (flags & kInputKindMask) == kMemoryInput;
  if (!ReadArchiveDirectory(source, static_cast<std::uint32_t>(length), memory_input, directory))
    return kPluginFailed;
  HLOCAL block = BuildListing(directory);
  if (block == nullptr) return kPluginFailed;
  *listing = block;
  return kPluginOk;
}

PLUGIN_EXPORT std::int32_t PLUGIN_CALL GetFileInfo(const char* source, std::int32_t length,
                                                   const char* member, std::uint32_t flags,
                                                   FileInfoRecord* record) {
  if (record == nullptr) return kPluginFailed;
  HLOCAL handle = nullptr;
  if (GetArchiveInfo(source, length, flags, &handle) != kPluginOk) return kPluginFailed;
  auto* records = static_cast<const FileInfoRecord*>(LocalLock(handle));

  // A name that does not fit the 200-byte buffer matches no member (no member
  // name is longer than 12 characters); so does a missing name.
  char wanted[kNameFieldSize] = {};
  bool searchable = member != nullptr && lstrlenA(member) < static_cast<int>(kNameFieldSize);
  if (searchable) lstrcpynA(wanted, member, sizeof wanted);
  const bool fold = (flags & 1) != 0;
  if (fold) FoldToUpper(wanted);

  static const FileInfoRecord kEndRecord{};
  const FileInfoRecord* found = &kEndRecord;
  for (const FileInfoRecord* r = records; searchable && r->method[0] != '\0'; ++r) {
    char name[kNameFieldSize];
    std::memcpy(name, r->name, sizeof name);
    name[kNameFieldSize - 1] = '\0';
    if (fold) FoldToUpper(name);
    if (lstrcmpA(name, wanted) == 0) {
      found = r;
      break;
    }
  }
  std::memcpy(record, found, sizeof *record);
  std::memcpy(&LastFileInfo, found, sizeof LastFileInfo);
  LocalUnlock(handle);
  LocalFree(handle);
  return kPluginOk;
}
