// The archive plug-in on an image in memory: recognition of its head, the
// listing and lookups by name. The host's bytes must come back unchanged,
// every listing must end in its zero record, and nothing may stay allocated.
#include <strings.h>

#include <cstring>
#include <vector>

#include "exports.h"
#include "fuzz_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The image in a buffer of exactly its size, so a read past it is caught.
  std::vector<char> image(data, data + size);
  const std::vector<char> original = image;
  const long live = PlatformLiveBlocks();

  std::vector<unsigned char> head(kHeadSize, 0);
  std::memcpy(head.data(), data, size < kHeadSize ? size : kHeadSize);
  const auto recognised = IsSupported("fuzz.arc", reinterpret_cast<HandleOrHead>(head.data()));
  FUZZ_CHECK(recognised == 0 || recognised == -1);

  HLOCAL listing = nullptr;
  const auto length = static_cast<std::int32_t>(size);
  if (GetArchiveInfo(image.data(), length, 1, &listing) == 0) {
    const auto count = size >= 2 ? static_cast<std::size_t>(data[0] | (data[1] << 8)) : 0;
    FUZZ_CHECK(LocalSize(listing) == (count + 1) * sizeof(FileInfoRecord));
    const auto* records = static_cast<const FileInfoRecord*>(LocalLock(listing));
    FUZZ_CHECK(records[count].method[0] == 0);
    // Look up the first few members by name, folded and exact.
    for (std::size_t i = 0; i < count && i < 4; ++i) {
      FUZZ_CHECK(std::memchr(records[i].name, 0, 13) != nullptr);
      FileInfoRecord found{};
      FUZZ_CHECK(GetFileInfo(image.data(), length, records[i].name, 1, &found) == 0);
      FUZZ_CHECK(found.method[0] != 0);
    }
    LocalUnlock(listing);
    LocalFree(listing);
  } else {
    FUZZ_CHECK(listing == nullptr);
  }
  FileInfoRecord missing;
  std::memset(&missing, 0xAB, sizeof missing);
  const auto rc = GetFileInfo(image.data(), length, "NO SUCH.NAME", 1, &missing);
  FUZZ_CHECK(rc == 0 || rc == -1);
  // Found only when a member bears that name, letters in either case.
  if (rc == 0) FUZZ_CHECK(missing.method[0] == 0 || strcasecmp(missing.name, "NO SUCH.NAME") == 0);

  FUZZ_CHECK(image == original);
  FUZZ_CHECK(PlatformLiveBlocks() == live);
  return 0;
}
