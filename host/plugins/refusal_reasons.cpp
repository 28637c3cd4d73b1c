#include "host/plugins/refusal_reasons.h"

#include "archive/arc_layout.h"
#include "byte_order.h"
#include "host/files/file_io.h"
#include "host/formats/gp8_encoder.h"
#include "host/host_error.h"

namespace {

std::string Counted(std::uint64_t count, const char* noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

// The pixels a GP8 stream yields before its bytes run out, counted as the
// decoder takes its items (a flag byte, then eight literals or matches),
// up to `wanted`.
std::uint64_t PixelsInStream(const unsigned char* stream, std::uint64_t size,
                             std::uint64_t wanted) {
  std::uint64_t at = 0;
  std::uint64_t pixels = 0;
  while (pixels < wanted && at < size) {
    const unsigned flags = stream[at++];
    for (unsigned bit = 0; bit < kLzssItemsPerFlag && pixels < wanted; ++bit) {
      if ((flags >> bit) & 1) {
        if (at >= size) return pixels;
        ++at;
        ++pixels;
      } else {
        if (size - at < 2) return pixels;
        pixels += (stream[at + 1] & 0x0F) + kLzssMinMatch;
        at += 2;
      }
    }
  }
  return pixels;
}

}  // namespace

std::string WhyArchiveNotListed(const std::string& archive) {
  try {
    const std::uint64_t size = RegularFileSize(archive);
    if (size < kDirectoryOffset)
      return "it holds " + Counted(size, "byte") + ", too few for the member count";
    const Bytes head = ReadHead(archive, kDirectoryOffset);
    const std::uint64_t count = ReadLe16(head.data());
    const std::uint64_t directory = count * kEntrySize;
    if (directory > size - kDirectoryOffset)
      return "its directory of " + std::to_string(count) + (count == 1 ? " entry" : " entries") +
             " needs " + Counted(directory, "byte") +
             " from offset 4, beyond the end of the file (" + Counted(size, "byte") + ")";
  } catch (const HostError&) {
  }
  return "";
}

std::string WhyMemberNotExtracted(const std::string& archive, std::uint32_t position,
                                  std::uint32_t size) {
  try {
    const std::uint64_t archive_size = RegularFileSize(archive);
    if (std::uint64_t{position} + size > archive_size)
      return "its " + Counted(size, "byte") + " from offset " + std::to_string(position) +
             " run past the end of the archive (" + Counted(archive_size, "byte") + ")";
  } catch (const HostError&) {
  }
  return "";
}

std::string WhyPictureNotDecoded(const std::string& picture) {
  try {
    return WhyPictureNotDecoded(ReadWholeFile(picture));
  } catch (const HostError&) {
  }
  return "";
}

std::string WhyPictureNotDecoded(std::span<const unsigned char> file) {
  {
    if (file.size() < kGp8StreamOffset)
      return "it holds " + Counted(file.size(), "byte") + ", fewer than the " +
             std::to_string(kGp8StreamOffset) + " of a GP8 header and palette";
    const std::uint32_t left = ReadLe16(file.data());
    const std::uint32_t top = ReadLe16(file.data() + 2);
    if (left != 0 || top != 0)
      return "its rectangle begins at " + std::to_string(left) + "," + std::to_string(top) +
             " rather than 0,0";
    const std::uint64_t width = ReadLe16(file.data() + kGp8RightOffset);
    const std::uint64_t height = ReadLe16(file.data() + kGp8BottomOffset);
    const std::uint64_t stream = file.size() - kGp8StreamOffset;
    const std::uint64_t yielded =
        PixelsInStream(file.data() + kGp8StreamOffset, stream, width * height);
    if (yielded < width * height)
      return "its pixel stream of " + Counted(stream, "byte") + " is too short for the " +
             std::to_string(width) + "x" + std::to_string(height) +
             " pixels its header declares: it yields " + std::to_string(yielded);
  }
  return "";
}
