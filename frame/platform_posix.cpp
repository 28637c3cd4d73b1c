// Our own implementation of the KERNEL32 calls the plug-ins use, for every
// platform but Windows. Built as a shared library of its own so that the
// plug-ins and the host share one allocator, one live-block count and one set
// of injected faults, as modules on Windows share KERNEL32.
#include "platform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

struct LocalBlock {
  std::uint32_t magic;
  std::atomic<std::uint32_t> locks;
  SIZE_T size;
  unsigned char* data;  // null for a block of 0 bytes: its lock yields no address
};

namespace {

constexpr std::uint32_t kLiveMagic = 0x4B434C42;  // "BLCK"
constexpr std::uint32_t kDeadMagic = 0x44414544;  // "DEAD"

std::atomic<long> live_blocks{0};
std::atomic<long> locked_frees{0};
std::atomic<int> new_block_fill{-1};

constexpr auto kFaultKinds = static_cast<std::size_t>(PlatformFault::kCount);
std::array<std::atomic<long>, kFaultKinds> fault_calls{};
std::array<std::atomic<long>, kFaultKinds> fault_at{};

// Counts one call of the operation and tells whether it is the one to fail.
bool Faulted(PlatformFault fault) {
  const auto k = static_cast<std::size_t>(fault);
  const long call = ++fault_calls[k];
  const long at = fault_at[k].load();
  return at != 0 && call == at;
}

bool ValidBlock(HLOCAL block) { return block != nullptr && block->magic == kLiveMagic; }

}  // namespace

PLATFORM_API HFILE _lopen(LPCSTR path, int mode) {
  if (path == nullptr || Faulted(PlatformFault::kOpen)) return HFILE_ERROR;
  int access = O_RDONLY;
  switch (mode & 3) {
    case OF_WRITE: access = O_WRONLY; break;
    case OF_READWRITE: access = O_RDWR; break;
    default: break;
  }
  int fd;
  do {
    fd = ::open(path, access | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd < 0 ? HFILE_ERROR : fd;
}

PLATFORM_API HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD /*share*/, LPVOID /*security*/,
                                DWORD disposition, DWORD /*flags*/, HANDLE /*model*/) {
  if (path == nullptr) {
    errno = EINVAL;
    return INVALID_HANDLE_VALUE;
  }
  if (Faulted(PlatformFault::kOpen)) {
    errno = EIO;
    return INVALID_HANDLE_VALUE;
  }
  int mode = O_CLOEXEC;
  const bool reads = (access & GENERIC_READ) != 0;
  const bool writes = (access & GENERIC_WRITE) != 0;
  mode |= reads && writes ? O_RDWR : writes ? O_WRONLY : O_RDONLY;
  switch (disposition) {
    // Exclusive: a link at the name counts as taken and is never followed.
    case CREATE_NEW:
      mode |= O_CREAT | O_EXCL | O_NOFOLLOW;
      break;
    case CREATE_ALWAYS:
      mode |= O_CREAT | O_TRUNC;
      break;
    default:
      errno = EINVAL;
      return INVALID_HANDLE_VALUE;
  }
  int fd;
  do {
    fd = ::open(path, mode, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return INVALID_HANDLE_VALUE;
  return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(fd));
}

PLATFORM_API DWORD GetLastError() {
  switch (errno) {
    case 0:
      return 0;
    case EEXIST:
      return ERROR_FILE_EXISTS;
    case ENOENT:
      return 2;  // ERROR_FILE_NOT_FOUND
    case EACCES:
    case EPERM:
      return 5;  // ERROR_ACCESS_DENIED
    case ENAMETOOLONG:
      return 206;  // ERROR_FILENAME_EXCED_RANGE
    case ENOSPC:
      return 112;  // ERROR_DISK_FULL
    default:
      return 31;  // ERROR_GEN_FAILURE
  }
}

PLATFORM_API LONG _llseek(HFILE file, LONG offset, int origin) {
  // As KERNEL32 has it: the offset is a signed 32-bit distance from the
  // start, the current position or the end, and the new position must lie
  // from 0 to 2^32 - 1. A seek that would leave that range fails with -1 and
  // leaves the position where it was; one that succeeds returns the low 32
  // bits of the new position (so positions from 2^31 on come back negative).
  if (Faulted(PlatformFault::kSeek)) return HFILE_ERROR;
  off_t base = 0;
  switch (origin) {
    case FILE_BEGIN: break;
    case FILE_CURRENT: base = ::lseek(file, 0, SEEK_CUR); break;
    case FILE_END: {
      struct stat st {};
      base = ::fstat(file, &st) == 0 ? st.st_size : -1;
      break;
    }
    default: return HFILE_ERROR;
  }
  if (base < 0) return HFILE_ERROR;
  const std::int64_t target = static_cast<std::int64_t>(base) + offset;
  if (target < 0 || target > std::int64_t{0xFFFFFFFF}) {
    errno = EINVAL;
    return HFILE_ERROR;
  }
  if (::lseek(file, static_cast<off_t>(target), SEEK_SET) < 0) return HFILE_ERROR;
  return static_cast<LONG>(static_cast<std::uint32_t>(target));
}

PLATFORM_API UINT _lread(HFILE file, LPVOID buffer, UINT count) {
  if (Faulted(PlatformFault::kRead)) return static_cast<UINT>(HFILE_ERROR);
  if (Faulted(PlatformFault::kShortRead)) count /= 2;
  auto* to = static_cast<unsigned char*>(buffer);
  UINT done = 0;
  while (done < count) {
    const ssize_t got = ::read(file, to + done, count - done);
    if (got < 0) {
      if (errno == EINTR) continue;
      return static_cast<UINT>(HFILE_ERROR);
    }
    if (got == 0) break;  // end of file
    done += static_cast<UINT>(got);
  }
  return done;
}

PLATFORM_API UINT _lwrite(HFILE file, LPCSTR buffer, UINT count) {
  if (Faulted(PlatformFault::kWrite)) return static_cast<UINT>(HFILE_ERROR);
  if (Faulted(PlatformFault::kShortWrite)) count /= 2;
  UINT done = 0;
  while (done < count) {
    const ssize_t put = ::write(file, buffer + done, count - done);
    if (put < 0) {
      if (errno == EINTR) continue;
      return static_cast<UINT>(HFILE_ERROR);
    }
    done += static_cast<UINT>(put);
  }
  return done;
}

PLATFORM_API HFILE _lclose(HFILE file) {
  const bool faulted = Faulted(PlatformFault::kClose);
  // The descriptor is released even when close reports an error; retrying
  // after EINTR could close a descriptor another thread has just opened.
  const int rc = ::close(file);
  return (rc < 0 || faulted) ? HFILE_ERROR : 0;
}

PLATFORM_API DWORD GetFileSize(HANDLE file, DWORD* high) {
  struct stat st {};
  const auto fd = static_cast<int>(reinterpret_cast<std::intptr_t>(file));
  if (::fstat(fd, &st) != 0) return INVALID_FILE_SIZE;
  const auto size = static_cast<std::uint64_t>(st.st_size);
  if (high != nullptr) *high = static_cast<DWORD>(size >> 32);
  return static_cast<DWORD>(size);
}

PLATFORM_API BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags) {
  if (from == nullptr || to == nullptr) return 0;
  if ((flags & MOVEFILE_REPLACE_EXISTING) == 0) {
    // Without the flag the move must not replace anything: link, then unlink.
    if (::link(from, to) != 0) return 0;
    ::unlink(from);
    return 1;
  }
  return ::rename(from, to) == 0 ? 1 : 0;
}

PLATFORM_API BOOL DeleteFileA(LPCSTR path) {
  return path != nullptr && ::unlink(path) == 0 ? 1 : 0;
}

PLATFORM_API HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
  if (Faulted(PlatformFault::kAlloc)) return nullptr;
  auto* block = static_cast<LocalBlock*>(std::malloc(sizeof(LocalBlock)));
  if (block == nullptr) return nullptr;
  block->data = nullptr;
  if (bytes != 0) {
    block->data = static_cast<unsigned char*>((flags & LMEM_ZEROINIT) != 0 ? std::calloc(bytes, 1)
                                                                           : std::malloc(bytes));
    if (block->data == nullptr) {
      std::free(block);
      return nullptr;
    }
    const int fill = new_block_fill.load();
    if ((flags & LMEM_ZEROINIT) == 0 && fill >= 0) std::memset(block->data, fill, bytes);
  }
  block->magic = kLiveMagic;
  new (&block->locks) std::atomic<std::uint32_t>(0);
  block->size = bytes;
  ++live_blocks;
  return block;
}

PLATFORM_API LPVOID LocalLock(HLOCAL block) {
  if (!ValidBlock(block) || block->data == nullptr) return nullptr;
  ++block->locks;
  return block->data;
}

PLATFORM_API BOOL LocalUnlock(HLOCAL block) {
  if (!ValidBlock(block)) return 0;
  std::uint32_t locks = block->locks.load();
  while (locks != 0 && !block->locks.compare_exchange_weak(locks, locks - 1)) {
  }
  return locks > 1 ? 1 : 0;  // non-zero while the block stays locked
}

PLATFORM_API HLOCAL LocalFree(HLOCAL block) {
  if (block == nullptr) return nullptr;
  if (!ValidBlock(block)) return block;  // not ours, or freed already
  if (block->locks.load() != 0) ++locked_frees;
  block->magic = kDeadMagic;
  std::free(block->data);
  std::free(block);
  --live_blocks;
  return nullptr;
}

PLATFORM_API SIZE_T LocalSize(HLOCAL block) { return ValidBlock(block) ? block->size : 0; }

PLATFORM_API LPSTR lstrcpynA(LPSTR to, LPCSTR from, int limit) {
  if (to == nullptr || from == nullptr || limit <= 0) return to;
  int i = 0;
  for (; i < limit - 1 && from[i] != '\0'; ++i) to[i] = from[i];
  to[i] = '\0';
  return to;
}

PLATFORM_API int lstrlenA(LPCSTR text) {
  return text == nullptr ? 0 : static_cast<int>(std::strlen(text));
}

PLATFORM_API int lstrcmpA(LPCSTR a, LPCSTR b) {
  if (a == nullptr || b == nullptr) return a == b ? 0 : (a == nullptr ? -1 : 1);
  const int rc = std::strcmp(a, b);
  return rc < 0 ? -1 : (rc > 0 ? 1 : 0);
}

PLATFORM_API long PlatformLiveBlocks() { return live_blocks.load(); }

PLATFORM_API long PlatformLockedFrees() { return locked_frees.load(); }

PLATFORM_API void PlatformFailNth(PlatformFault fault, long nth) {
  const auto k = static_cast<std::size_t>(fault);
  fault_calls[k] = 0;
  fault_at[k] = nth;
}

PLATFORM_API void PlatformFillNewBlocks(int byte) { new_block_fill = byte; }

PLATFORM_API long PlatformCalls(PlatformFault fault) {
  return fault_calls[static_cast<std::size_t>(fault)].load();
}

PLATFORM_API void PlatformResetFaults() {
  for (std::size_t k = 0; k < kFaultKinds; ++k) {
    fault_calls[k] = 0;
    fault_at[k] = 0;
  }
}
