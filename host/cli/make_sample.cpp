// vyn-sample DIR: writes the demo's inputs into DIR, made here rather than
// taken from anywhere: sample.png, a 320x200 picture of 256 palette colours,
// and notes.txt, a short text.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "host/files/file_io.h"
#include "host/host_error.h"
#include "host/formats/indexed_picture.h"
#include "host/formats/png_codec.h"

namespace {

constexpr std::uint32_t kWidth = 320;
constexpr std::uint32_t kHeight = 200;

// A sunset: a sky of 192 shades from deep blue to orange with a glowing sun,
// and a sea of 64 shades in ripples, with the sun's reflection. Integer
// arithmetic only, so that every build makes the very same picture.
std::uint8_t Channel(int from, int to, int step, int steps) {
  return static_cast<std::uint8_t>(from + (to - from) * step / (steps - 1));
}

std::uint32_t SquareRoot(std::uint32_t value) {
  std::uint32_t root = 0;
  while ((root + 1) * (root + 1) <= value) ++root;
  return root;
}

// A triangle wave of the phase, 0 to 256 and back over `period`.
int Triangle(int phase, int period) {
  const int at = ((phase % period) + period) % period;
  return std::abs(2 * at - period) * 256 / period;
}

IndexedPicture SunsetPicture() {
  constexpr int kSkyShades = 192;
  constexpr int kSeaShades = 64;
  IndexedPicture picture;
  picture.width = kWidth;
  picture.height = kHeight;
  for (int i = 0; i < kSkyShades; ++i) {
    const int curve = i * i / (kSkyShades - 1);  // green rises late
    picture.palette.push_back({Channel(20, 255, i, kSkyShades), Channel(30, 160, curve, kSkyShades),
                               Channel(110, 20, i, kSkyShades)});
  }
  for (int i = 0; i < kSeaShades; ++i) {
    picture.palette.push_back({Channel(10, 130, i, kSeaShades), Channel(40, 130, i, kSeaShades),
                               Channel(90, 190, i, kSeaShades)});
  }
  constexpr int kHorizon = 130;
  constexpr int kSunX = 200;
  constexpr int kSunY = 105;
  constexpr int kSunRadius = 28;
  picture.pixels.resize(std::size_t{kWidth} * kHeight);
  for (int y = 0; y < static_cast<int>(kHeight); ++y) {
    for (int x = 0; x < static_cast<int>(kWidth); ++x) {
      int index;
      if (y < kHorizon) {
        const auto distance = static_cast<int>(SquareRoot(
            static_cast<std::uint32_t>((x - kSunX) * (x - kSunX) + (y - kSunY) * (y - kSunY))));
        const int beyond = distance - kSunRadius + 40;
        const int glow = distance < kSunRadius ? kSkyShades : 70 * 1600 / (beyond * beyond);
        index = std::min(kSkyShades - 1, y * 150 / kHorizon + glow);
      } else {
        const int depth =
            (y - kHorizon) * 256 / (static_cast<int>(kHeight) - kHorizon);  // 0 to 255
        const int row = y - kHorizon;  // waves crowd towards the horizon
        const int wobble = Triangle(x * 4 + depth, 160) / 12;
        const int ripple = Triangle(1811 * row / (row + 57) + wobble, 64);  // 0 to 256
        const int half_width = kSunRadius * (512 - depth) / 512;
        if (std::abs(x - kSunX) < half_width && ripple > 100) {
          index = 150 + 40 * ripple / 256;
        } else {
          index =
              kSkyShades + std::min(kSeaShades - 1, (256 - depth) * 40 / 256 + ripple * 23 / 256);
        }
      }
      picture.pixels[static_cast<std::size_t>(y) * kWidth + static_cast<std::size_t>(x)] =
          static_cast<std::uint8_t>(index);
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
