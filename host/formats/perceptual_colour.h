// Colours as the eye compares them, for choosing the nearest palette entry
// and for reducing a picture's colours.
//
// The space is OKLab (Björn Ottosson, 2020): lightness L and two opponent
// axes a (green-red) and b (blue-yellow), computed from linear-light sRGB.
// Plain distances in it follow how different two colours look far better
// than distances between sRGB values, which overweight blue and treat dark
// and light steps alike; it is also better behaved in blues and greys than
// CIELAB and needs no white point. Its coordinates are kept as integers
// (1/65536 units), so that comparing and averaging them gives the same
// answer on every system and compiler.
#pragma once

#include <cstdint>

#include "host/formats/indexed_picture.h"

struct OkLab {
  std::int32_t lightness = 0;  // 0 (black) to 65536 (white)
  std::int32_t a = 0;
  std::int32_t b = 0;
  friend bool operator==(const OkLab&, const OkLab&) = default;
};

constexpr double kOkLabUnit = 65536.0;

OkLab ToOkLab(Rgb colour);

// The sRGB colour nearest the point, out-of-gamut points clipped.
Rgb FromOkLab(const OkLab& point);

// The squared distance, which orders colours as the distance does.
inline std::int64_t Distance2(const OkLab& x, const OkLab& y) {
  const std::int64_t dl = x.lightness - y.lightness;
  const std::int64_t da = x.a - y.a;
  const std::int64_t db = x.b - y.b;
  return dl * dl + da * da + db * db;
}
