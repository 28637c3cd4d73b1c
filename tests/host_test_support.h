// What the host's suites share: a plain LZSS decoder and a greedy encoder
// written straight from the format's rules (to check the host's encoder
// against), sample pictures of several kinds, and a way to run vyn itself.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "host/formats/indexed_picture.h"
#include "plugin_loader.h"
#include "test_files.h"

#if !defined(_WIN32)
#include <sys/wait.h>
#endif

namespace host_test {

inline bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

constexpr std::size_t kWindow = 4096;
constexpr std::size_t kStart = 4078;

// What a decoder that follows the rules step by step makes of a stream: it
// reads a flag byte while fewer than `count` bytes are out and decodes all
// eight items of its group, stopping only when the input runs out.
struct Decoded {
  Bytes output;
  std::size_t consumed = 0;
  bool input_ran_out_early = false;  // before `count` bytes were out
  std::size_t literals = 0;
  std::size_t matches = 0;
};

inline Decoded ReferenceDecode(std::span<const unsigned char> stream, std::size_t count) {
  std::array<unsigned char, kWindow> window{};
  std::size_t r = kStart;
  Decoded d;
  std::size_t at = 0;
  auto put = [&](unsigned char x) {
    d.output.push_back(x);
    window[r] = x;
    r = (r + 1) % kWindow;
  };
  while (d.output.size() < count) {
    if (at >= stream.size()) {
      d.input_ran_out_early = true;
      break;
    }
    const unsigned flags = stream[at++];
    for (int bit = 0; bit < 8; ++bit) {
      if ((flags >> bit) & 1) {
        if (at >= stream.size()) break;
        put(stream[at++]);
        ++d.literals;
      } else {
        if (stream.size() - at < 2) break;
        const unsigned b0 = stream[at];
        const unsigned b1 = stream[at + 1];
        at += 2;
        const std::size_t p = b0 + 256 * (b1 >> 4);
        const std::size_t n = (b1 & 0x0F) + 3;
        for (std::size_t k = 0; k < n; ++k) put(window[(p + k) % kWindow]);
        ++d.matches;
      }
    }
  }
  d.consumed = at;
  return d;
}

// The longest match (up to 18 bytes, at most the bytes left) at data[i] and
// a window position that gives it, found by trying all 4096 positions of the
// decoder's window as it stands once data[0..i) is out.
struct WindowMatch {
  std::size_t length = 0;
  std::size_t position = 0;
};

inline WindowMatch LongestAt(const std::array<unsigned char, kWindow>& window, std::size_t r,
                             std::span<const unsigned char> data, std::size_t i) {
  const std::size_t cap = std::min<std::size_t>(18, data.size() - i);
  WindowMatch best;
  for (std::size_t p = 0; p < kWindow && best.length < cap; ++p) {
    std::size_t n = 0;
    while (n < cap) {
      // A position this match has written already holds what it wrote.
      const std::size_t q = (p + n) % kWindow;
      const std::size_t written_at = (q + kWindow - r) % kWindow;
      const unsigned char x = written_at < n ? data[i + written_at] : window[q];
      if (x != data[i + n]) break;
      ++n;
    }
    if (n > best.length) best = {n, p};
  }
  return best;
}

// The fewest bits (9 a literal, 17 a match) any stream for the data needs,
// by brute force: the window after data[0..i) is out is the same whatever
// items produced it, so the longest match at each i is found once.
inline std::uint64_t FewestBits(std::span<const unsigned char> data) {
  std::array<unsigned char, kWindow> window{};
  std::size_t r = kStart;
  std::vector<std::size_t> longest(data.size());
  for (std::size_t i = 0; i < data.size(); ++i) {
    longest[i] = LongestAt(window, r, data, i).length;
    window[r] = data[i];
    r = (r + 1) % kWindow;
  }
  std::vector<std::uint64_t> bits(data.size() + 1, 0);
  for (std::size_t i = data.size(); i-- > 0;) {
    bits[i] = 9 + bits[i + 1];
    for (std::size_t length = 3; length <= longest[i]; ++length)
      bits[i] = std::min<std::uint64_t>(bits[i], 17 + bits[i + length]);
  }
  return bits[0];
}

// A small deterministic generator, the same on every system.
class Lcg {
 public:
  explicit Lcg(std::uint32_t seed) : state_(seed) {}
  std::uint32_t Next() {
    state_ = state_ * 1664525u + 1013904223u;
    return state_ >> 8;
  }

 private:
  std::uint32_t state_;
};

enum class PictureKind { kGradient, kNoise, kStripes, kSparse, kFlat, kBlocks, kRuns };

inline const char* KindName(PictureKind kind) {
  switch (kind) {
    case PictureKind::kGradient:
      return "gradient";
    case PictureKind::kNoise:
      return "noise";
    case PictureKind::kStripes:
      return "stripes";
    case PictureKind::kSparse:
      return "sparse";
    case PictureKind::kFlat:
      return "flat";
    case PictureKind::kBlocks:
      return "blocks";
  }
  return "?";
}

// A picture of the kind, with a palette of `colours` distinct entries.
inline IndexedPicture MakePicture(PictureKind kind, std::uint32_t width, std::uint32_t height,
                                  std::uint32_t colours = 256, std::uint32_t seed = 1) {
  IndexedPicture p;
  p.width = width;
  p.height = height;
  for (std::uint32_t i = 0; i < colours; ++i)
    p.palette.push_back({static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i),
                         static_cast<std::uint8_t>(i * 7)});
  Lcg random(seed);
  p.pixels.resize(std::size_t{width} * height);
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      std::uint32_t v = 0;
      switch (kind) {
        case PictureKind::kGradient:
          v = (x + 2 * y);
          break;
        case PictureKind::kNoise:
          v = random.Next() % 4;
          break;
        case PictureKind::kStripes:
          v = (x / 3 + y) % 7 * 11;
          break;
        case PictureKind::kSparse:
          v = random.Next() % 97 == 0 ? 1 + random.Next() % 5 : 0;
          break;
        case PictureKind::kFlat:
          v = 200;
          break;
        case PictureKind::kRuns:
          v = (std::size_t{y} * width + x) % 18 == 17 ? 1 + random.Next() % 200 : 5;
          break;
        case PictureKind::kBlocks:
          v = ((x / 8) * 31 + (y / 8) * 17) ^ (random.Next() % 29 == 0 ? 1 : 0);
          break;
      }
      p.pixels[std::size_t{y} * width + x] = static_cast<std::uint8_t>(v % colours);
    }
  }
  return p;
}

// Rows bottom first: the order of a GP8 stream.
inline Bytes BottomUpRows(const IndexedPicture& p) {
  Bytes rows;
  for (std::uint32_t y = p.height; y-- > 0;) {
    const auto* row = p.pixels.data() + std::size_t{y} * p.width;
    rows.insert(rows.end(), row, row + p.width);
  }
  return rows;
}

// Runs vyn with the arguments, its output captured.
struct VynRun {
  int status = -1;
  std::string out;
  std::string err;
};

inline std::string VynPath() {
#if defined(_WIN32)
  return ProgramDirectory() + "\\vyn.exe";
#else
  return ProgramDirectory() + "/vyn";
#endif
}

inline std::string Quoted(const std::string& arg) { return "\"" + arg + "\""; }

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline VynRun RunVyn(const std::vector<std::string>& args, const ScratchDirectory& scratch) {
  const std::string out = scratch.File("vyn-stdout.txt");
  const std::string err = scratch.File("vyn-stderr.txt");
  std::string command = Quoted(VynPath());
  for (const std::string& arg : args) command += " " + Quoted(arg);
  command += " >" + Quoted(out) + " 2>" + Quoted(err);
#if defined(_WIN32)
  command = "\"" + command + "\"";  // cmd.exe strips one pair of quotes
#endif
  std::fflush(nullptr);
  const int raw = std::system(command.c_str());
  VynRun run;
#if defined(_WIN32)
  run.status = raw;
#else
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
#endif
  run.out = ReadText(out);
  run.err = ReadText(err);
  std::remove(out.c_str());
  std::remove(err.c_str());
  return run;
}

}  // namespace host_test
