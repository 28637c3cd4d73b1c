// The loader's view of local memory, which every export-level test relies on
// to see a leak or an unset byte: the count of live blocks must follow blocks
// of the test program and of a plug-in alike, empty ones included, whichever
// module frees them.
#include <cstring>

#include "cobbet_api.h"

namespace {

TEST(LiveBlocks, FollowsEachBlockFromAllocationToRelease) {
  const long start = LiveBlocks();
  HLOCAL empty = LocalAlloc(LMEM_MOVEABLE, 0);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(LiveBlocks(), start + 1);
  HLOCAL zeroed = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, 64);
  ASSERT_NE(zeroed, nullptr);
  EXPECT_EQ(LiveBlocks(), start + 2);
  EXPECT_EQ(LocalFree(empty), nullptr);
  EXPECT_EQ(LiveBlocks(), start + 1);
  EXPECT_EQ(LocalFree(zeroed), nullptr);
  EXPECT_EQ(LiveBlocks(), start);
  // Releasing nothing changes nothing, and no handle is no block.
  EXPECT_EQ(LocalFree(nullptr), nullptr);
  EXPECT_EQ(LiveBlocks(), start);
  EXPECT_EQ(LocalLock(nullptr), nullptr);
  EXPECT_EQ(LocalUnlock(nullptr), 0);
  EXPECT_EQ(LocalSize(nullptr), 0u);
}

TEST(LiveBlocks, NewBlocksCanStartFilled) {
  const long start = LiveBlocks();
  FillNewBlocks(0xCD);
  HLOCAL filled = LocalAlloc(LMEM_MOVEABLE, 8);
  HLOCAL zeroed = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, 8);
  FillNewBlocks(-1);
  ASSERT_NE(filled, nullptr);
  ASSERT_NE(zeroed, nullptr);
  const unsigned char expected_filled[8] = {0xCD, 0xCD, 0xCD, 0xCD, 0xCD, 0xCD, 0xCD, 0xCD};
  const unsigned char expected_zeroed[8] = {};
  EXPECT_EQ(std::memcmp(LocalLock(filled), expected_filled, 8), 0);
  EXPECT_EQ(std::memcmp(LocalLock(zeroed), expected_zeroed, 8), 0);
  // Locks count: LocalUnlock says whether the block stays locked, and an
  // unlock too many leaves the count at zero. TakeBlock's check that a
  // plug-in hands its blocks over unlocked relies on this.
  ASSERT_NE(LocalLock(filled), nullptr);
  EXPECT_NE(LocalUnlock(filled), 0);
  EXPECT_EQ(LocalUnlock(filled), 0);
  EXPECT_EQ(LocalUnlock(filled), 0);
  ASSERT_NE(LocalLock(filled), nullptr);
  ASSERT_NE(LocalLock(filled), nullptr);
  EXPECT_NE(LocalUnlock(filled), 0);
  EXPECT_EQ(LocalUnlock(filled), 0);
  LocalUnlock(zeroed);
  LocalFree(filled);
  LocalFree(zeroed);
  EXPECT_EQ(LiveBlocks(), start);
}

// A block the plug-in allocates counts until the host frees it.
TEST_F(CobbetTest, LiveBlocksSeesABlockThePluginHandsOver) {
  const Bytes image = TextBytes("member bytes");
  HLOCAL block = nullptr;
  ASSERT_EQ(api_.GetFile(reinterpret_cast<const char*>(image.data()),
                         static_cast<std::int32_t>(image.size()), reinterpret_cast<char*>(&block),
                         kMemoryInput | 0x100, 0, 0),
            0);
  EXPECT_EQ(LiveBlocks(), live_at_start_ + 1);
  EXPECT_EQ(TakeBlock(block), image);
}

}  // namespace
