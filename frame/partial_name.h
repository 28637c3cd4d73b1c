// Names for partial files: the file an output is written to before it takes
// its name. The archive plug-in's file output and the host's writers share
// the scheme.
//
// A partial file lies in its target's directory, so that the final rename
// stays within one file system, and it is created exclusively (never over an
// existing file, never through a link) under a name nobody can predict:
//
// - It is never longer than the target's own name, so a path that holds the
//   target holds its partial file too: a target that fits a path buffer or
//   the system's limits is never refused for the sake of its partial name.
// - For a target name of two bytes or more it is a hidden name, a "." and
//   random letters and digits, kMaxNameLength bytes at most (11 random
//   characters, 65 bits). A one-byte target name gets one random letter or
//   digit: there is no shorter hidden name.
// - A name that is taken is retried with fresh randomness. Short target names
//   have few partial names (62 for one or two bytes); only once
//   kShortNameAttempts of them were all taken, as when someone has filled the
//   directory with those names, does a name of kMaxNameLength bytes follow.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform.h"

#if !defined(_WIN32)
#include <sys/random.h>
#include <time.h>
#include <unistd.h>
#endif

namespace partial_name {

constexpr std::size_t kMaxNameLength = 12;
constexpr int kShortNameAttempts = 64;
constexpr int kAttempts = kShortNameAttempts + 16;

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::uint64_t kAlphabetSize = sizeof kAlphabet - 1;

// A bijective scrambling of 64 bits in which every input bit moves every
// output bit (the finaliser of SplitMix64).
inline std::uint64_t Mix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15u;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9u;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBu;
  return x ^ (x >> 31);
}

// 64 fresh bits for one name. From the system's random source where there is
// one; on Windows from the clocks and identifiers KERNEL32 gives, which a
// plug-in can use without importing anything else. Either way mixed with a
// count of the names made in this module and the address of a local, so no
// two calls give the same bits.
inline std::uint64_t Seed() {
  static std::atomic<std::uint32_t> names_made{0};
  std::uint64_t seed = 0;
#if defined(_WIN32)
  LARGE_INTEGER ticks;
  QueryPerformanceCounter(&ticks);
  seed = static_cast<std::uint64_t>(ticks.QuadPart) ^ (std::uint64_t{GetCurrentProcessId()} << 32) ^
         Mix((std::uint64_t{GetCurrentThreadId()} << 32) | GetTickCount());
#else
  if (getrandom(&seed, sizeof seed, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof seed)) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    seed = (static_cast<std::uint64_t>(now.tv_sec) * 1000000000u +
            static_cast<std::uint64_t>(now.tv_nsec)) ^
           (static_cast<std::uint64_t>(getpid()) << 40);
  }
#endif
  const int local = 0;
  seed ^= Mix(++names_made ^ static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&local)));
  return Mix(seed);
}

// Bytes of the partial name for the given attempt (0, 1, ...) at a target
// whose own name has target_name_length bytes.
inline std::size_t NameLength(std::size_t target_name_length, int attempt) {
  if (target_name_length == 0 || attempt >= kShortNameAttempts) return kMaxNameLength;
  return target_name_length < kMaxNameLength ? target_name_length : kMaxNameLength;
}

// Writes a random name of `length` bytes (1 to kMaxNameLength) and its NUL.
inline void WriteName(std::uint64_t random, std::size_t length, char* name) {
  std::size_t at = 0;
  if (length > 1) name[at++] = '.';
  for (std::uint64_t round = 0; at < length; ++at, ++round)
    name[at] = kAlphabet[Mix(random + round) % kAlphabetSize];
  name[at] = '\0';
}

// Where the target's own name starts in its path: after the last separator.
// On Windows a 0x5C that is the second byte of a double-byte character is
// taken for one too; it ends a whole character, so the partial name still
// lands beside the target, only sharing the first bytes of its name.
inline std::size_t NameOffset(const char* path, std::size_t length) {
  std::size_t at = length;
  while (at > 0) {
    const char c = path[at - 1];
#if defined(_WIN32)
    if (c == '\\' || c == '/' || c == ':') break;
#else
    if (c == '/') break;
#endif
    --at;
  }
  return at;
}

}  // namespace partial_name
