// Pack, then list and extract: members shaped from the input are written by
// the host's ARC writer, plain or scrambled, and must come back through the
// archive plug-in byte for byte, under their names and at their positions.
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "exports.h"
#include "fuzz_harness.h"
#include "fuzz_inputs.h"
#include "host/host_error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const bool scrambled = (data[0] & 0x80) != 0;
  const std::size_t count = 2 + data[0] % 30;
  std::size_t at = 1;
  std::vector<std::pair<std::string, Bytes>> members;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t length = at < size ? data[at++] % 48 : 0;
    const std::size_t take = std::min(length, size - at);
    // Names of up to 12 bytes with an extension of letters and digits.
    std::string name = "M" + std::to_string(i) + ".";
    for (std::size_t k = 0; k < take && k < 3; ++k) name.push_back("ABCxyz019"[data[at + k] % 9]);
    members.push_back({name, Bytes(data + at, data + at + take)});
    at += take;
  }
  Bytes image;
  try {
    image = PackArchive(members, scrambled);
  } catch (const HostError&) {
    return 0;
  }
  const long live = PlatformLiveBlocks();
  std::vector<unsigned char> head(kHeadSize, 0);
  std::memcpy(head.data(), image.data(), std::min(image.size(), kHeadSize));
  FUZZ_CHECK(IsSupported("fuzz.arc", reinterpret_cast<HandleOrHead>(head.data())) == -1);

  HLOCAL listing = nullptr;
  FUZZ_CHECK(GetArchiveInfo(reinterpret_cast<const char*>(image.data()), static_cast<std::int32_t>(image.size()),
                            1, &listing) == 0);
  const auto* records = static_cast<const FileInfoRecord*>(LocalLock(listing));
  const auto path = std::filesystem::temp_directory_path() / ("arc-roundtrip-" + std::to_string(::getpid()));
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  }
  for (std::size_t i = 0; i < members.size(); ++i) {
    FUZZ_CHECK(members[i].first == records[i].name);
    FUZZ_CHECK(records[i].extracted_size == members[i].second.size());
    HLOCAL member = nullptr;
    const auto rc = GetFile(path.string().c_str(), static_cast<std::int32_t>(records[i].position),
                            reinterpret_cast<char*>(&member), 0x100, 0, 0);
    if (members[i].second.empty()) {
      FUZZ_CHECK(rc == -1);  // an empty member is never extracted from a file
      continue;
    }
    FUZZ_CHECK(rc == 0);
    FUZZ_CHECK(LocalSize(member) == members[i].second.size());
    FUZZ_CHECK(std::memcmp(LocalLock(member), members[i].second.data(), members[i].second.size()) == 0);
    LocalUnlock(member);
    LocalFree(member);
  }
  FUZZ_CHECK(records[members.size()].method[0] == 0);
  LocalUnlock(listing);
  LocalFree(listing);
  std::filesystem::remove(path);
  FUZZ_CHECK(PlatformLiveBlocks() == live);
  return 0;
}
