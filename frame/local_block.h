// A moveable local-memory block held locked for the length of one export.
// The destructor unlocks and frees it, so every early return releases the
// working blocks; Release() unlocks it and hands its handle to the host.
#pragma once

#include <cstdint>
#include <utility>

#include "platform.h"

class LockedBlock {
 public:
  LockedBlock() = default;
  LockedBlock(const LockedBlock&) = delete;
  LockedBlock& operator=(const LockedBlock&) = delete;
  LockedBlock(LockedBlock&& other) noexcept
      : handle_(std::exchange(other.handle_, nullptr)),
        data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)) {}
  ~LockedBlock() { Free(); }

  // Allocates and locks a block. Blocks are 32-bit sized: anything larger
  // fails as an allocation would. A block of 0 bytes is valid and has no
  // address.
  bool Allocate(UINT flags, std::uint64_t bytes) {
    Free();
    if (bytes > 0xFFFFFFFFu) return false;
    handle_ = LocalAlloc(flags, static_cast<SIZE_T>(bytes));
    if (handle_ == nullptr) return false;
    size_ = static_cast<std::uint32_t>(bytes);
    if (bytes != 0) {
      data_ = static_cast<unsigned char*>(LocalLock(handle_));
      if (data_ == nullptr) {
        Free();
        return false;
      }
    }
    return true;
  }

  unsigned char* data() const { return data_; }
  std::uint32_t size() const { return size_; }

  // Unlocks the block and gives up its ownership.
  HLOCAL Release() {
    if (data_ != nullptr) LocalUnlock(handle_);
    data_ = nullptr;
    size_ = 0;
    return std::exchange(handle_, nullptr);
  }

  void Free() {
    if (handle_ == nullptr) return;
    if (data_ != nullptr) LocalUnlock(handle_);
    LocalFree(handle_);
    handle_ = nullptr;
    data_ = nullptr;
    size_ = 0;
  }

 private:
  HLOCAL handle_ = nullptr;
  unsigned char* data_ = nullptr;
  std::uint32_t size_ = 0;
};

// A file opened by name, closed when it goes out of scope.
class OpenFile {
 public:
  explicit OpenFile(HFILE file) : file_(file) {}
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  ~OpenFile() { Close(); }

  bool ok() const { return file_ != HFILE_ERROR; }
  HFILE get() const { return file_; }
  // Closes now; false when closing reported an error.
  bool Close() {
    if (file_ == HFILE_ERROR) return true;
    const bool closed = _lclose(std::exchange(file_, HFILE_ERROR)) != HFILE_ERROR;
    return closed;
  }

 private:
  HFILE file_;
};
