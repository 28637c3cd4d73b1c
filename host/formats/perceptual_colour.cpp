#include "host/formats/perceptual_colour.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

// sRGB's transfer curve: an 8-bit value's linear light, 0 to 1.
const std::array<double, 256>& LinearLight() {
  static const std::array<double, 256> table = [] {
    std::array<double, 256> linear{};
    for (int v = 0; v < 256; ++v) {
      const double c = v / 255.0;
      linear[static_cast<std::size_t>(v)] =
          c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    }
    return linear;
  }();
  return table;
}

// The 8-bit value whose linear light is nearest.
std::uint8_t FromLinear(double light) {
  const std::array<double, 256>& linear = LinearLight();
  const auto above = std::lower_bound(linear.begin(), linear.end(), light);
  if (above == linear.begin()) return 0;
  if (above == linear.end()) return 255;
  const auto below = above - 1;
  const auto nearer = light - *below <= *above - light ? below : above;
  return static_cast<std::uint8_t>(nearer - linear.begin());
}

std::int32_t Units(double value) {
  return static_cast<std::int32_t>(std::lround(value * kOkLabUnit));
}

}  // namespace

OkLab ToOkLab(Rgb colour) {
  const std::array<double, 256>& linear = LinearLight();
  const double r = linear[colour.red];
  const double g = linear[colour.green];
  const double b = linear[colour.blue];
  // Linear sRGB to the cone responses, then their cube roots to the space.
  const double l = std::cbrt(0.4122214708 * r + 0.5363325363 * g + 0.0514459929 * b);
  const double m = std::cbrt(0.2119034982 * r + 0.6806995451 * g + 0.1073969566 * b);
  const double s = std::cbrt(0.0883024619 * r + 0.2817188376 * g + 0.6299787005 * b);
  return {Units(0.2104542553 * l + 0.7936177850 * m - 0.0040720468 * s),
          Units(1.9779984951 * l - 2.4285922050 * m + 0.4505937099 * s),
          Units(0.0259040371 * l + 0.7827717662 * m - 0.8086757660 * s)};
}

Rgb FromOkLab(const OkLab& point) {
  const double lightness = point.lightness / kOkLabUnit;
  const double a = point.a / kOkLabUnit;
  const double b = point.b / kOkLabUnit;
  const double l = std::pow(lightness + 0.3963377774 * a + 0.2158037573 * b, 3);
  const double m = std::pow(lightness - 0.1055613458 * a - 0.0638541728 * b, 3);
  const double s = std::pow(lightness - 0.0894841775 * a - 1.2914855480 * b, 3);
  return {FromLinear(4.0767416621 * l - 3.3077115913 * m + 0.2309699292 * s),
          FromLinear(-1.2684380046 * l + 2.6097574011 * m - 0.3413193965 * s),
          FromLinear(-0.0041960863 * l - 0.7034186147 * m + 1.7076147010 * s)};
}
