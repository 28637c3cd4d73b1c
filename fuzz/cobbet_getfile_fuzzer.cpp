// GetFile on all four paths over an archive built from the input: written to
// a file for file input, handed over whole for memory input. A delivered
// member must be exactly the bytes its record describes; a failure must
// leave no block and no file.
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "exports.h"
#include "fuzz_harness.h"

namespace {

std::filesystem::path WorkDirectory() {
  static const std::filesystem::path dir = [] {
    auto d = std::filesystem::temp_directory_path() / ("cobbet-fuzz-" + std::to_string(::getpid()));
    std::filesystem::create_directories(d);
    return d;
  }();
  return dir;
}

bool Empty(const std::filesystem::path& dir) { return std::filesystem::is_empty(dir); }

void Clear(const std::filesystem::path& dir) {
  for (const auto& e : std::filesystem::directory_iterator(dir)) std::filesystem::remove_all(e.path());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto work = WorkDirectory();
  const std::string archive = (work / "in.arc").string();
  const auto out = work / "out";
  std::filesystem::create_directories(out);
  Clear(out);
  {
    std::ofstream f(archive, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  const long live = PlatformLiveBlocks();
  std::vector<unsigned char> head(kHeadSize, 0);
  std::memcpy(head.data(), data, size < kHeadSize ? size : kHeadSize);
  IsSupported("in.arc", reinterpret_cast<HandleOrHead>(head.data()));

  HLOCAL listing = nullptr;
  if (GetArchiveInfo(archive.c_str(), 0, 0, &listing) == 0) {
    const auto* records = static_cast<const FileInfoRecord*>(LocalLock(listing));
    for (std::size_t i = 0; records[i].method[0] != 0 && i < 6; ++i) {
      const FileInfoRecord& r = records[i];
      const auto position = static_cast<std::int32_t>(r.position);
      HLOCAL member = nullptr;
      if (GetFile(archive.c_str(), position, reinterpret_cast<char*>(&member), 0x100, 0, 0) == 0) {
        // The first record with this position is the one delivered.
        std::size_t first = 0;
        while (records[first].position != r.position) ++first;
        const FileInfoRecord& f = records[first];
        FUZZ_CHECK(f.extracted_size != 0);
        FUZZ_CHECK(std::uint64_t{f.position} + f.extracted_size <= size);
        FUZZ_CHECK(LocalSize(member) == f.extracted_size);
        const void* bytes = LocalLock(member);
        FUZZ_CHECK(std::memcmp(bytes, data + f.position, f.extracted_size) == 0);
        LocalUnlock(member);
        LocalFree(member);
      } else {
        FUZZ_CHECK(member == nullptr);
      }
      std::string prefix = (out / "").string();
      if (GetFile(archive.c_str(), position, prefix.data(), 0, 0, 0) != 0) FUZZ_CHECK(Empty(out));
      Clear(out);

      // Memory input with file output takes the member found by name.
      FileInfoRecord found{};
      if (GetFileInfo(archive.c_str(), 0, r.name, 0, &found) == 0) {
        const auto rc = GetFile(reinterpret_cast<const char*>(data), static_cast<std::int32_t>(size),
                                prefix.data(), 0x001, 0, 0);
        if (rc != 0) FUZZ_CHECK(Empty(out));
        Clear(out);
      }
    }
    LocalUnlock(listing);
    LocalFree(listing);
  }

  HLOCAL copy = nullptr;
  FUZZ_CHECK(GetFile(reinterpret_cast<const char*>(data), static_cast<std::int32_t>(size),
                     reinterpret_cast<char*>(&copy), 0x101, 0, 0) == 0);
  FUZZ_CHECK(LocalSize(copy) == size);
  if (size != 0) FUZZ_CHECK(std::memcmp(LocalLock(copy), data, size) == 0);
  LocalUnlock(copy);
  LocalFree(copy);

  FUZZ_CHECK(PlatformLiveBlocks() == live);
  return 0;
}
