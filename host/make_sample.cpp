// vyn-sample DIR: writes the demo's inputs into DIR, made here rather than
// taken from anywhere: sample.png, a 320x200 picture of 256 palette colours,
// and notes.txt, a short text.
#include <cmath>
#include <cstdio>
#include <string>

#include "file_io.h"
#include "host_error.h"
#include "indexed_picture.h"
#include "png_codec.h"

namespace {

constexpr std::uint32_t kWidth = 320;
constexpr std::uint32_t kHeight = 200;

// A sunset: a sky of 192 shades from deep blue to orange, a sun, and a sea of
// 64 shades that mirrors the sky in ripples.
IndexedPicture SunsetPicture() {
  IndexedPicture picture;
  picture.width = kWidth;
  picture.height = kHeight;
  for (int i = 0; i < 192; ++i) {
    const double t = i / 191.0;
    picture.palette.push_back({static_cast<std::uint8_t>(20 + 235 * t),
                               static_cast<std::uint8_t>(30 + 130 * t * t),
                               static_cast<std::uint8_t>(110 - 90 * t)});
  }
  for (int i = 0; i < 64; ++i) {
    const double t = i / 63.0;
    picture.palette.push_back({static_cast<std::uint8_t>(10 + 120 * t),
                               static_cast<std::uint8_t>(40 + 90 * t),
                               static_cast<std::uint8_t>(90 + 100 * t)});
  }
  constexpr std::uint32_t kHorizon = 130;
  constexpr double kSunX = 200;
  constexpr double kSunY = 105;
  constexpr double kSunRadius = 28;
  picture.pixels.resize(std::size_t{kWidth} * kHeight);
  for (std::uint32_t y = 0; y < kHeight; ++y) {
    for (std::uint32_t x = 0; x < kWidth; ++x) {
      std::uint8_t index;
      if (y < kHorizon) {
        const double sun = std::hypot(x - kSunX, y - kSunY);
        const double glow = sun < kSunRadius ? 1.0 : std::exp(-(sun - kSunRadius) / 40.0) * 0.35;
        const double level = std::min(1.0, static_cast<double>(y) / kHorizon * 0.8 + glow);
        index = static_cast<std::uint8_t>(level * 191);
      } else {
        const double depth = static_cast<double>(y - kHorizon) / (kHeight - kHorizon);
        const double ripple = std::sin(x * 0.15 + depth * 40.0) * 0.5 + 0.5;
        const bool reflection =
            std::abs(x - kSunX) < kSunRadius * (1.0 - depth * 0.5) && ripple > 0.4;
        index =
            reflection
                ? static_cast<std::uint8_t>(150 + 40 * ripple)
                : static_cast<std::uint8_t>(192 + std::min(63.0, (1.0 - depth) * 40 + ripple * 23));
      }
      picture.pixels[std::size_t{y} * kWidth + x] = index;
    }
  }
  return picture;
}

constexpr char kNotes[] =
    "Sunset over the sea, 320x200, 256 colours.\n"
    "Made by vyn-sample for the vyn demo: encoded to GP8, packed into a scrambled ARC archive,\n"
    "listed, extracted and converted back to PNG.\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: vyn-sample DIR\n");
    return 2;
  }
  try {
    const std::string directory = argv[1];
    MakeDirectories(directory);
    WriteFileAtomically(JoinPath(directory, "sample.png"), EncodeIndexedPng(SunsetPicture()));
    const std::string notes = kNotes;
    WriteFileAtomically(JoinPath(directory, "notes.txt"), Bytes(notes.begin(), notes.end()));
  } catch (const HostError& error) {
    std::fprintf(stderr, "vyn-sample: %s\n", error.what());
    return 1;
  }
  return 0;
}
