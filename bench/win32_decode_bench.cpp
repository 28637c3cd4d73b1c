// The 32-bit DLL's decoding measured as the native benchmark measures it:
// GetPicture of wennel.dll (memory input), loaded with LoadLibrary, against
// the classic ring-window decoder compiled into this program for i686, and
// memcpy of the same size, on the same corpus files, in one process.
//
// vyn_bench_win32 CORPUS_DIR OUT_FILE
// Writes one line per picture:
// "<name> <DLL MB/s> <classic MB/s> <memcpy MB/s> <classic into a new block MB/s>
//  <the DLL's decoder alone MB/s>".
// The last figure is the classic decoder writing into a fresh moveable block
// of the pixel block's size each time, as GetPicture must: under Wine, as on
// Windows, a large block comes as fresh pages from the system on every call.
// (Google Benchmark has no Windows build here, so a plain timing loop stands
// in: each figure is the best of five rounds of at least 0.2 s.)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "bench_support.h"
#include "classic_lzss.h"
#include "decoder.h"
#include "plugin_abi.h"

namespace {

constexpr std::size_t kStreamOffset = 1032;
constexpr double kRoundSeconds = 0.2;
constexpr int kRounds = 5;

double Now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Bytes per second of `step`, which puts out `bytes` each call: the best of
// a few rounds, each repeating the step for at least kRoundSeconds.
template <class Step>
double Rate(std::size_t bytes, Step step) {
  double best = 0;
  for (int round = 0; round < kRounds; ++round) {
    long calls = 0;
    const double start = Now();
    double elapsed = 0;
    do {
      if (!step()) return 0;
      ++calls;
      elapsed = Now() - start;
    } while (elapsed < kRoundSeconds);
    best = std::max(best, static_cast<double>(bytes) * static_cast<double>(calls) / elapsed);
  }
  return best;
}

volatile unsigned char sink;

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR OUT_FILE\n", argv[0]);
    return 2;
  }
  const std::string directory = argv[1];
  PluginLibrary wennel("wennel");
  const auto get_picture = wennel.Export<GetPictureFn>("GetPicture");
  if (get_picture == nullptr) {
    std::fprintf(stderr, "wennel.dll cannot be loaded from %s\n", ProgramDirectory().c_str());
    return 1;
  }
  std::FILE* out = std::fopen(argv[2], "w");
  if (out == nullptr) return 1;

  for (CorpusKind kind : kCorpusKinds) {
    for (CorpusSize size : kCorpusSizes) {
      const std::string name = CorpusName(kind, size);
      Bytes file;
      if (!ReadFileBytes(directory + "/" + name + ".gp8", file) || file.size() < kStreamOffset) {
        std::fprintf(stderr, "no corpus picture %s in %s\n", name.c_str(), directory.c_str());
        return 1;
      }
      const std::size_t count = std::size_t{size.width} * size.height;
      Bytes classic(count);
      Bytes copy(count);

      // Both decoders must give the same pixels before their speeds count.
      HLOCAL header = nullptr;
      HLOCAL pixels = nullptr;
      if (get_picture(reinterpret_cast<const char*>(file.data()),
                      static_cast<std::int32_t>(file.size()), 1, &header, &pixels, 0, 0) != 0) {
        std::fprintf(stderr, "GetPicture failed on %s\n", name.c_str());
        return 1;
      }
      ClassicLzssDecode(file.data() + kStreamOffset, file.size() - kStreamOffset, classic.data(),
                        count);
      const auto* block = static_cast<const unsigned char*>(LocalLock(pixels));
      const bool same = block != nullptr && std::equal(classic.begin(), classic.end(), block);
      LocalUnlock(pixels);
      LocalFree(pixels);
      LocalFree(header);
      if (!same) {
        std::fprintf(stderr, "the decoders disagree on %s\n", name.c_str());
        return 1;
      }

      const double dll = Rate(count, [&] {
        HLOCAL h = nullptr;
        HLOCAL p = nullptr;
        if (get_picture(reinterpret_cast<const char*>(file.data()),
                        static_cast<std::int32_t>(file.size()), 1, &h, &p, 0, 0) != 0)
          return false;
        LocalFree(p);
        LocalFree(h);
        return true;
      });
      const double baseline = Rate(count, [&] {
        ClassicLzssDecode(file.data() + kStreamOffset, file.size() - kStreamOffset, classic.data(),
                          count);
        sink = classic[count / 2];
        return true;
      });
      const double memcpy_rate = Rate(count, [&] {
        std::memcpy(copy.data(), classic.data(), count);
        sink = copy[count / 2];
        return true;
      });
      const SIZE_T block_size = (SIZE_T{size.width} + 3) * size.height;
      const double baseline_in_block = Rate(count, [&] {
        HLOCAL fresh = LocalAlloc(LMEM_MOVEABLE, block_size);
        auto* to = static_cast<unsigned char*>(LocalLock(fresh));
        if (to == nullptr) return false;
        ClassicLzssDecode(file.data() + kStreamOffset, file.size() - kStreamOffset, to, count);
        sink = to[count / 2];
        LocalUnlock(fresh);
        LocalFree(fresh);
        return true;
      });
      // The plug-in's decoder itself, compiled into this program, into a
      // block kept from call to call as the classic one gets.
      Bytes area(block_size);
      const std::span<const unsigned char> stream(file.data() + kStreamOffset,
                                                  file.size() - kStreamOffset);
      const double decoder_alone = Rate(count, [&] {
        const bool done = DecodeGp8Pixels(stream, area, size.width, size.height);
        sink = area[count / 2];
        return done;
      });
      std::fprintf(out, "%s %.1f %.1f %.1f %.1f %.1f\n", name.c_str(), dll / 1e6, baseline / 1e6,
                   memcpy_rate / 1e6, baseline_in_block / 1e6, decoder_alone / 1e6);
      std::fprintf(stderr, "  win32 %-20s DLL %8.1f MB/s  classic %8.1f MB/s\n", name.c_str(),
                   dll / 1e6, baseline / 1e6);
    }
  }
  return std::fclose(out) == 0 ? 0 : 1;
}
