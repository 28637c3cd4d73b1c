// GetPicture on a picture in memory, checked against the plain ring-window
// decoder: a delivered picture holds exactly the reference's pixels in DIB
// rows, every other byte 0; a refusal leaves the handles and the allocator
// as they were.
#include <cstring>
#include <optional>
#include <vector>

#include "byte_order.h"
#include "exports.h"
#include "fuzz_harness.h"
#include "ring_window_decoder.h"

namespace {

constexpr std::size_t kPaletteEnd = 1032;
// Pictures whose pixel block would be larger are skipped: the plug-in would
// rightly try to allocate what the header declares, which is no finding.
constexpr std::uint64_t kLargestBlock = 16u << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size >= 8) {
    const std::uint64_t right = ReadLe16(data + 4), bottom = ReadLe16(data + 6);
    if ((right + 3) * bottom > kLargestBlock) return 0;
  }
  std::vector<char> picture(data, data + size);
  const long live = PlatformLiveBlocks();
  HLOCAL header = reinterpret_cast<HLOCAL>(0x11);
  HLOCAL pixels = reinterpret_cast<HLOCAL>(0x22);
  const auto rc = GetPicture(picture.data(), static_cast<std::int32_t>(size), 1, &header, &pixels, 0, 0);

  std::optional<std::vector<unsigned char>> expected;
  std::uint32_t right = 0, bottom = 0;
  if (size >= kPaletteEnd && ReadLe16(data) == 0 && ReadLe16(data + 2) == 0) {
    right = ReadLe16(data + 4);
    bottom = ReadLe16(data + 6);
    expected = RingWindowDecode(std::vector<unsigned char>(data + kPaletteEnd, data + size),
                                std::size_t{right} * bottom);
  }
  if (!expected) {
    FUZZ_CHECK(rc == -1);
    FUZZ_CHECK(header == reinterpret_cast<HLOCAL>(0x11) && pixels == reinterpret_cast<HLOCAL>(0x22));
    FUZZ_CHECK(PlatformLiveBlocks() == live);
    return 0;
  }
  FUZZ_CHECK(rc == 0);
  FUZZ_CHECK(LocalSize(header) == 1078);
  const auto* info = static_cast<const unsigned char*>(LocalLock(header));
  FUZZ_CHECK(ReadLe32(info) == 40 && ReadLe32(info + 4) == right && ReadLe32(info + 8) == bottom);
  FUZZ_CHECK(ReadLe32(info + 20) == (right + 3) * bottom);
  for (std::size_t i = 0; i < 256; ++i) {
    FUZZ_CHECK(std::memcmp(info + 40 + 4 * i, data + 8 + 4 * i, 3) == 0);
    FUZZ_CHECK(info[40 + 4 * i + 3] == 0);
  }
  LocalUnlock(header);
  LocalFree(header);

  const std::size_t block_size = std::size_t{right + 3} * bottom;
  FUZZ_CHECK(LocalSize(pixels) == block_size);
  const std::size_t stride = (right + 3) / 4 * 4;
  std::vector<unsigned char> dib(block_size, 0);
  for (std::size_t row = 0; row < bottom && right != 0; ++row)
    std::memcpy(dib.data() + row * stride, expected->data() + row * right, right);
  if (block_size != 0) {
    FUZZ_CHECK(std::memcmp(LocalLock(pixels), dib.data(), block_size) == 0);
    LocalUnlock(pixels);
  }
  LocalFree(pixels);
  FUZZ_CHECK(PlatformLiveBlocks() == live);
  return 0;
}
