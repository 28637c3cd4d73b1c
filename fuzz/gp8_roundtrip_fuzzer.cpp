// Encode, then decode: a picture shaped from the input is written by the
// host's GP8 encoder and must come back through the image plug-in with every
// palette entry and every pixel, in bottom-up DIB rows.
#include <cstring>

#include "exports.h"
#include "fuzz_harness.h"
#include "fuzz_inputs.h"
#include "host/host_error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  IndexedPicture picture;
  picture.width = 1 + data[0] % 70u;
  picture.height = 1 + data[1] % 40u;
  const std::size_t colours = 1 + data[2];
  for (std::size_t i = 0; i < colours; ++i) {
    const std::uint8_t v = data[(3 + i) % size];
    picture.palette.push_back({v, static_cast<std::uint8_t>(v ^ 0x5A), static_cast<std::uint8_t>(i)});
  }
  // Pixels repeat the input, so that matches near and far come up.
  const std::size_t count = std::size_t{picture.width} * picture.height;
  for (std::size_t i = 0; i < count; ++i) picture.pixels.push_back(static_cast<std::uint8_t>(data[3 + i % (size - 3)] % colours));

  Bytes file;
  try {
    file = EncodeGp8(picture);
  } catch (const HostError&) {
    return 0;
  }
  const long live = PlatformLiveBlocks();
  std::vector<unsigned char> head(kHeadSize, 0);
  std::memcpy(head.data(), file.data(), std::min(file.size(), kHeadSize));
  FUZZ_CHECK(IsSupported("fuzz.gp8", reinterpret_cast<HandleOrHead>(head.data())) == -1);

  HLOCAL header = nullptr, pixels = nullptr;
  FUZZ_CHECK(GetPicture(reinterpret_cast<const char*>(file.data()), static_cast<std::int32_t>(file.size()), 1,
                        &header, &pixels, 0, 0) == 0);
  const auto* info = static_cast<const unsigned char*>(LocalLock(header));
  for (std::size_t i = 0; i < 256; ++i) {
    const Rgb rgb = i < colours ? picture.palette[i] : Rgb{};
    const unsigned char* quad = info + 40 + 4 * i;
    FUZZ_CHECK(quad[0] == rgb.blue && quad[1] == rgb.green && quad[2] == rgb.red && quad[3] == 0);
  }
  LocalUnlock(header);
  LocalFree(header);
  const auto* dib = static_cast<const unsigned char*>(LocalLock(pixels));
  const std::size_t stride = (picture.width + 3) / 4 * 4;
  for (std::uint32_t y = 0; y < picture.height; ++y) {
    const unsigned char* row = dib + (picture.height - 1 - y) * stride;
    FUZZ_CHECK(std::memcmp(row, picture.pixels.data() + std::size_t{y} * picture.width, picture.width) == 0);
  }
  LocalUnlock(pixels);
  LocalFree(pixels);
  FUZZ_CHECK(PlatformLiveBlocks() == live);
  return 0;
}
