// A count of the bytes the process holds on the heap, and their peak, kept by
// taking over malloc, calloc, realloc and free for the whole process (the
// plug-ins' blocks and the platform layer's included). Linux with glibc only.
#pragma once

#include <cstdint>

// Bytes in use now, as malloc_usable_size counts them.
std::int64_t HeapBytesInUse();
// Starts a new peak from the bytes in use now.
void ResetHeapPeak();
// The most bytes in use at once since the last reset.
std::int64_t HeapPeak();
