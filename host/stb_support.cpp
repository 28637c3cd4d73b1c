// The one translation unit that holds the stb implementations.
#include "stb_support.h"

#include <climits>
#include <cstdlib>
#include <memory>
#include <new>

#include "host_error.h"

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wconversion"
#pragma GCC diagnostic ignored "-Wsign-conversion"
#pragma GCC diagnostic ignored "-Wshadow"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#endif
#define STBI_ONLY_PNG
#define STBI_ONLY_BMP
#define STBI_NO_STDIO
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>
#define STBI_WRITE_NO_STDIO
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace {

struct StbFree {
  void operator()(void* block) const { std::free(block); }
};

constexpr int kCompressionQuality = 8;

int CheckedLength(std::size_t size) {
  if (size > static_cast<std::size_t>(INT_MAX))
    throw HostError("more than 2 GiB to (de)compress at once");
  return static_cast<int>(size);
}

}  // namespace

Bytes ZlibCompress(std::span<const unsigned char> bytes) {
  int length = 0;
  const std::unique_ptr<unsigned char, StbFree> stream(
      stbi_zlib_compress(const_cast<unsigned char*>(bytes.data()), CheckedLength(bytes.size()),
                         &length, kCompressionQuality));
  if (stream == nullptr) throw std::bad_alloc();
  return Bytes(stream.get(), stream.get() + length);
}

std::optional<Bytes> ZlibDecompress(std::span<const unsigned char> stream,
                                    std::size_t expected_size) {
  int length = 0;
  const int hint = expected_size > static_cast<std::size_t>(INT_MAX / 2)
                       ? INT_MAX / 2
                       : static_cast<int>(expected_size) + 1;
  const std::unique_ptr<char, StbFree> bytes(
      stbi_zlib_decode_malloc_guesssize_headerflag(reinterpret_cast<const char*>(stream.data()),
                                                   CheckedLength(stream.size()), hint, &length, 1));
  if (bytes == nullptr) return std::nullopt;
  const auto* begin = reinterpret_cast<const unsigned char*>(bytes.get());
  return Bytes(begin, begin + length);
}

RgbaPixels DecodeRgba(std::span<const unsigned char> bytes) {
  const int length = CheckedLength(bytes.size());
  if (stbi_is_16_bit_from_memory(bytes.data(), length) != 0)
    throw HostError("has 16 bits a channel; only pictures of 8 bits a channel can be encoded");
  int width = 0;
  int height = 0;
  int channels = 0;
  const std::unique_ptr<stbi_uc, StbFree> pixels(
      stbi_load_from_memory(bytes.data(), length, &width, &height, &channels, 4));
  if (pixels == nullptr) {
    const char* reason = stbi_failure_reason();
    throw HostError(std::string("cannot be decoded as a picture (") +
                    (reason != nullptr ? reason : "unknown reason") + ")");
  }
  RgbaPixels result;
  result.width = static_cast<std::uint32_t>(width);
  result.height = static_cast<std::uint32_t>(height);
  result.rgba.assign(pixels.get(), pixels.get() + std::size_t{result.width} * result.height * 4);
  return result;
}
