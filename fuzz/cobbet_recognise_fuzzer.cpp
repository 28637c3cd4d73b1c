// Recognition of an archive from a head in memory: the answer is -1 or 0,
// the same each time it is asked, and the host's head is never written.
#include <cstring>
#include <vector>

#include "exports.h"
#include "fuzz_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<unsigned char> head(kHeadSize, 0);
  std::memcpy(head.data(), data, size < kHeadSize ? size : kHeadSize);
  const std::vector<unsigned char> original = head;
  const auto first = IsSupported("fuzz.arc", reinterpret_cast<HandleOrHead>(head.data()));
  FUZZ_CHECK(first == 0 || first == -1);
  FUZZ_CHECK(head == original);
  FUZZ_CHECK(IsSupported(nullptr, reinterpret_cast<HandleOrHead>(head.data())) == first);
  return 0;
}
