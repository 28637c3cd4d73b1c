// The loader's view of local memory, which every export-level test relies on
// to see a leak or an unset byte: the count of live blocks must follow blocks
// of the test program and of a plug-in alike, empty ones included, whichever
// module frees them.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>

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
  // A block freed while still locked is freed, and counted as such.
  const long locked_frees = LockedFrees();
  ASSERT_NE(LocalLock(zeroed), nullptr);
  EXPECT_EQ(LocalFree(zeroed), nullptr);
  EXPECT_EQ(LockedFrees(), locked_frees + 1);
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
  for (int locks = 0; locks < 3; ++locks) ASSERT_NE(LocalLock(filled), nullptr);
  EXPECT_NE(LocalUnlock(filled), 0);
  EXPECT_NE(LocalUnlock(filled), 0);
  EXPECT_EQ(LocalUnlock(filled), 0);
  LocalUnlock(zeroed);
  LocalFree(filled);
  LocalFree(zeroed);
  // A fill of 0 is a fill too: a block made where a freed one lay (as the
  // heap gives it back at once) does not show the bytes that block held.
  FillNewBlocks(0xAB);
  LocalFree(LocalAlloc(LMEM_MOVEABLE, 64));
  FillNewBlocks(0);
  HLOCAL again = LocalAlloc(LMEM_MOVEABLE, 64);
  FillNewBlocks(-1);
  const unsigned char zeros[64] = {};
  EXPECT_EQ(std::memcmp(LocalLock(again), zeros, 64), 0);
  LocalUnlock(again);
  LocalFree(again);
  EXPECT_EQ(LiveBlocks(), start);
}

#if !defined(_WIN32)
// The rest of what the plug-ins ask of KERNEL32, as the POSIX stand-in
// answers: seeks within 0 to 2^32 - 1 that leave the position alone when
// refused, the error codes a failed creation gives, file removal and
// renaming, and the string functions with their limits and null pointers.
TEST(PlatformLayer, AnswersAsKernel32Does) {
  ScratchDirectory dir;
  const std::string path = dir.File("ten");
  WriteBytes(path, Bytes(10, 7));
  const HFILE file = _lopen(path.c_str(), OF_READ);
  ASSERT_NE(file, HFILE_ERROR);
  struct Seek {
    LONG offset;
    int origin;
    LONG expected;  // HFILE_ERROR: refused, the position kept
  };
  const Seek seeks[] = {{3, FILE_BEGIN, 3},          {2, FILE_CURRENT, 5},
                        {-1, FILE_END, 9},           {-11, FILE_END, HFILE_ERROR},
                        {-1, FILE_BEGIN, HFILE_ERROR}, {0, 7, HFILE_ERROR},
                        {0, FILE_CURRENT, 9},        {0x7FFFFFFF, FILE_BEGIN, 0x7FFFFFFF},
                        {0x7FFFFFFF, FILE_CURRENT, -2}, {2, FILE_CURRENT, HFILE_ERROR},
                        {1, FILE_CURRENT, -1},       {0, FILE_CURRENT, -1},
                        {0, FILE_BEGIN, 0}};
  for (const Seek& seek : seeks)
    EXPECT_EQ(_llseek(file, seek.offset, seek.origin), seek.expected)
        << seek.offset << " from " << seek.origin;
  unsigned char read[16] = {};
  EXPECT_EQ(_lread(file, read, sizeof read), 10u);
  EXPECT_EQ(read[9], 7);
  EXPECT_EQ(_lclose(file), 0);

  // Each way of opening gives the access asked for, no more.
  const std::string opened = dir.File("opened");
  WriteBytes(opened, Bytes(4, 1));
  const auto created = [&](DWORD access) {
    return static_cast<HFILE>(reinterpret_cast<std::intptr_t>(
        CreateFileA(opened.c_str(), access, 0, nullptr, CREATE_ALWAYS, 0, nullptr)));
  };
  const struct {
    const char* how;
    HFILE file;
    bool reads, writes;
  } opens[] = {{"OF_READ", _lopen(opened.c_str(), OF_READ), true, false},
               {"OF_WRITE", _lopen(opened.c_str(), OF_WRITE), false, true},
               {"OF_READWRITE", _lopen(opened.c_str(), OF_READWRITE), true, true},
               {"GENERIC_READ", created(GENERIC_READ), true, false},
               {"GENERIC_WRITE", created(GENERIC_WRITE), false, true},
               {"both", created(GENERIC_READ | GENERIC_WRITE), true, true}};
  for (const auto& open : opens) {
    ASSERT_NE(open.file, HFILE_ERROR) << open.how;
    unsigned char byte = 0;
    EXPECT_EQ(_lread(open.file, &byte, 1) != static_cast<UINT>(HFILE_ERROR), open.reads) << open.how;
    EXPECT_EQ(_lwrite(open.file, "x", 1) == 1, open.writes) << open.how;
    _lclose(open.file);
  }

  const std::pair<int, DWORD> errors[] = {{0, 0},  {EEXIST, 80}, {ENOENT, 2},        {EACCES, 5},
                                          {EPERM, 5}, {ENAMETOOLONG, 206}, {ENOSPC, 112}, {EIO, 31}};
  for (const auto& [number, code] : errors) {
    errno = number;
    EXPECT_EQ(GetLastError(), code) << number;
  }

  const std::string other = dir.File("other");
  WriteBytes(other, Bytes(1, 1));
  EXPECT_EQ(MoveFileExA(path.c_str(), other.c_str(), 0), 0) << "replaces nothing without the flag";
  EXPECT_EQ(MoveFileExA(path.c_str(), other.c_str(), MOVEFILE_REPLACE_EXISTING), 1);
  EXPECT_EQ(ReadBytes(other), Bytes(10, 7));
  EXPECT_EQ(MoveFileExA(path.c_str(), other.c_str(), MOVEFILE_REPLACE_EXISTING), 0);
  const std::string fresh = dir.File("fresh");
  EXPECT_EQ(MoveFileExA(other.c_str(), fresh.c_str(), 0), 1) << "a free name needs no flag";
  EXPECT_EQ(MoveFileExA(fresh.c_str(), other.c_str(), 0), 1);
  EXPECT_FALSE(std::filesystem::exists(fresh));
  EXPECT_EQ(DeleteFileA(other.c_str()), 1);
  EXPECT_EQ(DeleteFileA(other.c_str()), 0);
  EXPECT_EQ(DeleteFileA(nullptr), 0);
  EXPECT_EQ(MoveFileExA(nullptr, other.c_str(), MOVEFILE_REPLACE_EXISTING), 0);
  EXPECT_EQ(MoveFileExA(other.c_str(), nullptr, MOVEFILE_REPLACE_EXISTING), 0);

  struct Copy {
    const char* from;
    int limit;
    std::string expected;
  };
  for (const Copy& c : {Copy{"abcdef", 4, "abc"}, Copy{"ab", 8, "ab"}, Copy{"abc", 1, ""},
                        Copy{"abc", 0, "untouched"}, Copy{nullptr, 8, "untouched"}}) {
    char to[16] = "untouched";
    EXPECT_EQ(lstrcpynA(to, c.from, c.limit), to);
    EXPECT_EQ(std::string(to), c.expected) << c.limit;
  }
  EXPECT_EQ(lstrcpynA(nullptr, "abc", 4), nullptr);
  const char* a = "a";
  const char* b = "b";
  EXPECT_EQ(lstrcmpA(a, b), -1);
  EXPECT_EQ(lstrcmpA(b, a), 1);
  EXPECT_EQ(lstrcmpA(a, "a"), 0);
  EXPECT_EQ(lstrcmpA(nullptr, nullptr), 0);
  EXPECT_EQ(lstrcmpA(nullptr, a), -1);
  EXPECT_EQ(lstrcmpA(a, nullptr), 1);
  EXPECT_EQ(lstrlenA(nullptr), 0);
  EXPECT_EQ(lstrlenA("abc"), 3);
}
#endif

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
