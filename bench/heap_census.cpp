#include "heap_census.h"

#include <malloc.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);
void __libc_free(void* block);
}

namespace {

std::atomic<std::int64_t> in_use{0};
std::atomic<std::int64_t> peak{0};

void Taken(void* block) {
  if (block == nullptr) return;
  const auto bytes = static_cast<std::int64_t>(malloc_usable_size(block));
  const std::int64_t now = in_use.fetch_add(bytes) + bytes;
  std::int64_t highest = peak.load();
  while (now > highest && !peak.compare_exchange_weak(highest, now)) {
  }
}

void Given(void* block) {
  if (block != nullptr) in_use.fetch_sub(static_cast<std::int64_t>(malloc_usable_size(block)));
}

}  // namespace

extern "C" void* malloc(std::size_t size) noexcept {
  void* block = __libc_malloc(size);
  Taken(block);
  return block;
}

extern "C" void* calloc(std::size_t count, std::size_t size) noexcept {
  void* block = __libc_calloc(count, size);
  Taken(block);
  return block;
}

extern "C" void* realloc(void* block, std::size_t size) noexcept {
  Given(block);
  void* moved = __libc_realloc(block, size);
  if (moved != nullptr) {
    Taken(moved);
  } else if (size != 0) {
    Taken(block);  // the old block stays
  }
  return moved;
}

extern "C" void free(void* block) noexcept {
  Given(block);
  __libc_free(block);
}

std::int64_t HeapBytesInUse() { return in_use.load(); }

void ResetHeapPeak() { peak.store(in_use.load()); }

std::int64_t HeapPeak() { return peak.load(); }
