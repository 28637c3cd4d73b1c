// Recognition of a picture from a head in memory, and the picture
// information read from the same bytes: the answer is -1 or 0, the head is
// never written, and the record holds exactly the header's rectangle.
#include <cstring>
#include <vector>

#include "byte_order.h"
#include "exports.h"
#include "fuzz_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<unsigned char> head(kHeadSize, 0);
  std::memcpy(head.data(), data, size < kHeadSize ? size : kHeadSize);
  const std::vector<unsigned char> original = head;
  const auto recognised = IsSupported("fuzz.gp8", reinterpret_cast<HandleOrHead>(head.data()));
  FUZZ_CHECK(recognised == 0 || recognised == -1);
  FUZZ_CHECK(head == original);

  // The bytes alone, in a buffer of exactly their size.
  std::vector<char> image(data, data + size);
  PictureInfoRecord record;
  std::memset(&record, 0xEE, sizeof record);
  const auto rc = GetPictureInfo(image.data(), static_cast<std::int32_t>(size), 1, &record);
  if (size < 8) {
    FUZZ_CHECK(rc == -1);
    FUZZ_CHECK(reinterpret_cast<const unsigned char*>(&record)[0] == 0xEE);
    return 0;
  }
  FUZZ_CHECK(rc == 0);
  const int left = ReadLe16(data), top = ReadLe16(data + 2);
  FUZZ_CHECK(record.left == left && record.top == top);
  FUZZ_CHECK(record.width == ReadLe16(data + 4) - left);
  FUZZ_CHECK(record.height == ReadLe16(data + 6) - top);
  FUZZ_CHECK(record.x_density == 1 && record.y_density == 1 && record.bits_per_pixel == 8);
  FUZZ_CHECK(record.reserved == 0 && record.text_handle == 0);
  if (recognised == -1) FUZZ_CHECK(left == 0 && top == 0 && (record.width != 0 || record.height != 0));
  return 0;
}
