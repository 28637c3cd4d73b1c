// Pictures that stand for real 256-colour art, in four kinds, made from a
// seed so that every run and every machine gets the same pixels:
//   flat      cel art: a background and large shapes of one colour each;
//   gradient  smooth ramps of 64 palette entries, horizontal, vertical,
//             diagonal and radial;
//   dithered  a smooth field shaded in 16 levels with a 4x4 ordered dither,
//             in hues that change across the picture;
//   noise     every pixel drawn at random: nothing to compress;
//   photo     a photograph reduced to a 6x6x6 colour cube and 40 greys by
//             error diffusion: smooth light and shade under a fine, irregular
//             grain of indexes, with short matches among many literals;
//   text      a page of lines in a 6x9 typeface of 64 glyphs, dark on a
//             light ground, with grey edges: the same short row pieces again
//             and again at irregular distances.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

enum class CorpusKind { kFlat, kGradient, kDithered, kNoise, kPhoto, kText };

inline constexpr std::array<CorpusKind, 6> kCorpusKinds = {
    CorpusKind::kFlat,  CorpusKind::kGradient, CorpusKind::kDithered,
    CorpusKind::kNoise, CorpusKind::kPhoto,    CorpusKind::kText};

inline constexpr std::uint32_t kCorpusSeed = 20260;

inline const char* CorpusKindName(CorpusKind kind) {
  switch (kind) {
    case CorpusKind::kFlat:
      return "flat";
    case CorpusKind::kGradient:
      return "gradient";
    case CorpusKind::kDithered:
      return "dithered";
    case CorpusKind::kNoise:
      return "noise";
    case CorpusKind::kPhoto:
      return "photo";
    case CorpusKind::kText:
      return "text";
  }
  return "?";
}

struct CorpusPicture {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> pixels;                        // palette indexes, top row first
  std::array<std::array<std::uint8_t, 3>, 256> palette{};  // red, green, blue
};

namespace corpus_detail {

// Raw draws of the engine only: its sequence is fixed by the standard, while
// the standard distributions may differ between libraries.
inline std::uint32_t Draw(std::mt19937& random, std::uint32_t bound) {
  return static_cast<std::uint32_t>(random() % bound);
}

inline void Flat(CorpusPicture& p, std::mt19937& random) {
  std::fill(p.pixels.begin(), p.pixels.end(), static_cast<std::uint8_t>(Draw(random, 256)));
  const std::uint32_t side = std::max<std::uint32_t>(8, std::min(p.width, p.height));
  for (int shape = 0; shape < 48; ++shape) {
    const auto cx = static_cast<std::int64_t>(Draw(random, p.width));
    const auto cy = static_cast<std::int64_t>(Draw(random, p.height));
    const auto rx = static_cast<std::int64_t>(side / 40 + Draw(random, side / 6));
    const auto ry = static_cast<std::int64_t>(side / 40 + Draw(random, side / 6));
    const bool ellipse = Draw(random, 2) != 0;
    const auto colour = static_cast<std::uint8_t>(Draw(random, 256));
    const std::int64_t y0 = std::max<std::int64_t>(0, cy - ry);
    const std::int64_t y1 = std::min<std::int64_t>(p.height, cy + ry + 1);
    const std::int64_t x0 = std::max<std::int64_t>(0, cx - rx);
    const std::int64_t x1 = std::min<std::int64_t>(p.width, cx + rx + 1);
    for (std::int64_t y = y0; y < y1; ++y) {
      for (std::int64_t x = x0; x < x1; ++x) {
        const std::int64_t dx = x - cx;
        const std::int64_t dy = y - cy;
        if (ellipse && dx * dx * ry * ry + dy * dy * rx * rx > rx * rx * ry * ry) continue;
        p.pixels[static_cast<std::size_t>(y) * p.width + static_cast<std::size_t>(x)] = colour;
      }
    }
  }
}

inline void Gradient(CorpusPicture& p) {
  constexpr std::uint32_t kLevels = 64;
  const std::uint32_t half_w = std::max<std::uint32_t>(1, p.width / 2);
  const std::uint32_t half_h = std::max<std::uint32_t>(1, p.height / 2);
  for (std::uint32_t y = 0; y < p.height; ++y) {
    for (std::uint32_t x = 0; x < p.width; ++x) {
      const std::uint32_t rx = x % half_w;
      const std::uint32_t ry = y % half_h;
      const std::uint32_t region = (y >= half_h ? 2u : 0u) + (x >= half_w ? 1u : 0u);
      std::uint64_t level = 0;
      switch (region) {
        case 0:
          level = std::uint64_t{rx} * kLevels / half_w;
          break;
        case 1:
          level = std::uint64_t{ry} * kLevels / half_h;
          break;
        case 2:
          level = (std::uint64_t{rx} + ry) * kLevels / (half_w + half_h);
          break;
        default: {
          const double dx = double(rx) - half_w / 2.0;
          const double dy = double(ry) - half_h / 2.0;
          const double reach = std::sqrt(double(half_w) * half_w + double(half_h) * half_h) / 2;
          level = static_cast<std::uint64_t>(std::sqrt(dx * dx + dy * dy) / reach * kLevels);
        }
      }
      level = std::min<std::uint64_t>(level, kLevels - 1);
      p.pixels[std::size_t{y} * p.width + x] = static_cast<std::uint8_t>(region * kLevels + level);
    }
  }
}

inline void Dithered(CorpusPicture& p, std::mt19937& random) {
  static constexpr std::uint8_t kBayer[4][4] = {
      {0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
  constexpr double kTau = 6.283185307179586;
  const double phase_x = Draw(random, 1000) / 1000.0 * kTau;
  const double phase_y = Draw(random, 1000) / 1000.0 * kTau;
  const double period_x = std::max<std::uint32_t>(4, p.width / 3);
  const double period_y = std::max<std::uint32_t>(4, p.height / 2);
  const std::uint32_t hue_w = std::max<std::uint32_t>(1, p.width / 4);
  const std::uint32_t hue_h = std::max<std::uint32_t>(1, p.height / 3);
  std::vector<double> column(p.width);
  for (std::uint32_t x = 0; x < p.width; ++x)
    column[x] = 0.25 * std::sin(x * kTau / period_x + phase_x);
  for (std::uint32_t y = 0; y < p.height; ++y) {
    const double row = 0.5 + 0.24 * std::sin(y * kTau / period_y + phase_y);
    for (std::uint32_t x = 0; x < p.width; ++x) {
      const double shade = std::clamp(row + column[x], 0.0, 0.999) * 15;
      auto level = static_cast<std::uint32_t>(shade + (kBayer[y & 3][x & 3] + 0.5) / 16);
      level = std::min<std::uint32_t>(level, 15);
      const std::uint32_t hue = (x / hue_w + y / hue_h * 5) % 16;
      p.pixels[std::size_t{y} * p.width + x] = static_cast<std::uint8_t>(hue * 16 + level);
    }
  }
}

inline void Noise(CorpusPicture& p, std::mt19937& random) {
  for (std::uint8_t& pixel : p.pixels) pixel = static_cast<std::uint8_t>(random() & 0xFF);
}

// The photo's palette: a 6x6x6 cube (index 36 r + 6 g + b) and 40 greys.
inline void PhotoPalette(CorpusPicture& p) {
  for (std::uint32_t i = 0; i < 216; ++i) {
    p.palette[i] = {static_cast<std::uint8_t>(i / 36 * 51),
                    static_cast<std::uint8_t>(i / 6 % 6 * 51),
                    static_cast<std::uint8_t>(i % 6 * 51)};
  }
  for (std::uint32_t i = 216; i < 256; ++i) {
    const auto grey = static_cast<std::uint8_t>((i - 216) * 255 / 39);
    p.palette[i] = {grey, grey, grey};
  }
}

inline void Photo(CorpusPicture& p, std::mt19937& random) {
  // Light: a few broad waves and soft blobs per channel, plus a little
  // sensor noise; then Floyd-Steinberg onto the palette.
  constexpr double kTau = 6.283185307179586;
  struct Wave {
    double fx, fy, phase, weight;
  };
  std::array<std::array<Wave, 5>, 3> waves{};
  for (auto& channel : waves) {
    for (Wave& w : channel) {
      w = {(1 + Draw(random, 60)) / 10.0, (1 + Draw(random, 60)) / 10.0,
           Draw(random, 1000) / 1000.0 * kTau, (20 + Draw(random, 40)) / 1.0};
    }
  }
  PhotoPalette(p);
  const std::size_t w = p.width;
  std::vector<std::array<double, 3>> error(2 * (w + 2), {0, 0, 0});
  for (std::uint32_t y = 0; y < p.height; ++y) {
    auto* here = &error[(y % 2) * (w + 2) + 1];
    auto* below = &error[((y + 1) % 2) * (w + 2) + 1];
    std::fill(below - 1, below + w + 1, std::array<double, 3>{0, 0, 0});
    for (std::uint32_t x = 0; x < p.width; ++x) {
      const double u = double(x) / p.width;
      const double v = double(y) / std::max<std::uint32_t>(1, p.height);
      std::array<double, 3> colour{};
      for (int c = 0; c < 3; ++c) {
        double value = 110 + 25 * c;
        for (const Wave& wave : waves[c])
          value += wave.weight * std::sin(kTau * (wave.fx * u + wave.fy * v) + wave.phase);
        value += static_cast<double>(Draw(random, 17)) - 8;  // grain
        colour[c] = std::clamp(value + here[x][c], 0.0, 255.0);
      }
      // The nearest of the cube's colour and the grey of the same light.
      const auto step = [](double value) {
        return std::min(5, static_cast<int>(value / 51 + 0.5));
      };
      const int r = step(colour[0]), g = step(colour[1]), b = step(colour[2]);
      const double light = (colour[0] + colour[1] + colour[2]) / 3;
      const int grey = std::min(39, static_cast<int>(light * 39 / 255 + 0.5));
      const double grey_value = grey * 255.0 / 39;
      double cube_distance = 0, grey_distance = 0;
      const int cube[3] = {r, g, b};
      for (int c = 0; c < 3; ++c) {
        cube_distance += (colour[c] - cube[c] * 51) * (colour[c] - cube[c] * 51);
        grey_distance += (colour[c] - grey_value) * (colour[c] - grey_value);
      }
      const bool take_grey = grey_distance < cube_distance;
      const std::uint32_t index = take_grey ? 216u + static_cast<std::uint32_t>(grey)
                                            : static_cast<std::uint32_t>(36 * r + 6 * g + b);
      p.pixels[std::size_t{y} * p.width + x] = static_cast<std::uint8_t>(index);
      for (int c = 0; c < 3; ++c) {
        const double diff = colour[c] - (take_grey ? grey_value : cube[c] * 51);
        if (x + 1 < p.width) here[x + 1][c] += diff * 7 / 16;
        below[static_cast<std::ptrdiff_t>(x) - 1][c] += diff * 3 / 16;
        below[x][c] += diff * 5 / 16;
        below[x + 1][c] += diff * 1 / 16;
      }
    }
  }
}

inline void Text(CorpusPicture& p, std::mt19937& random) {
  constexpr std::uint32_t kGlyphW = 6, kGlyphH = 9, kLineH = 12, kGlyphs = 64;
  constexpr std::uint8_t kGround = 250, kInk = 4, kEdge = 128;
  // Each glyph: strokes drawn at random in a 5x7 box, the sixth column and
  // the rows below kept free as spacing.
  std::array<std::array<std::uint8_t, kGlyphW * kGlyphH>, kGlyphs> glyphs{};
  for (auto& glyph : glyphs) {
    glyph.fill(kGround);
    for (int stroke = 0; stroke < 3; ++stroke) {
      std::uint32_t x = Draw(random, 5), y = 1 + Draw(random, 7);
      const bool across = Draw(random, 2) != 0;
      for (std::uint32_t k = 0, n = 2 + Draw(random, 5); k < n && x < 5 && y < 8; ++k) {
        glyph[y * kGlyphW + x] = kInk;
        if (across)
          ++x;
        else
          ++y;
      }
    }
    // Grey where ink meets ground on the right: a trace of smoothing.
    for (std::uint32_t y = 0; y < kGlyphH; ++y)
      for (std::uint32_t x = 1; x < 5; ++x)
        if (glyph[y * kGlyphW + x] == kGround && glyph[y * kGlyphW + x - 1] == kInk)
          glyph[y * kGlyphW + x] = kEdge;
  }
  std::fill(p.pixels.begin(), p.pixels.end(), kGround);
  const std::uint32_t margin = std::min<std::uint32_t>(16, p.width / 8);
  for (std::uint32_t top = margin; top + kGlyphH <= p.height; top += kLineH) {
    std::uint32_t x = margin;
    // A paragraph's last line ends early now and then.
    const std::uint32_t end = Draw(random, 8) == 0 ? p.width / 2 : p.width - margin;
    while (x + kGlyphW <= end) {
      const std::uint32_t word = 1 + Draw(random, 9);
      for (std::uint32_t k = 0; k < word && x + kGlyphW <= end; ++k, x += kGlyphW) {
        const auto& glyph = glyphs[Draw(random, kGlyphs)];
        for (std::uint32_t gy = 0; gy < kGlyphH; ++gy)
          for (std::uint32_t gx = 0; gx < kGlyphW; ++gx)
            p.pixels[std::size_t{top + gy} * p.width + x + gx] = glyph[gy * kGlyphW + gx];
      }
      x += kGlyphW;  // a space
    }
  }
}

}  // namespace corpus_detail

inline CorpusPicture MakeCorpusPicture(CorpusKind kind, std::uint32_t width, std::uint32_t height,
                                       std::uint32_t seed = kCorpusSeed) {
  CorpusPicture p;
  p.width = width;
  p.height = height;
  p.pixels.assign(std::size_t{width} * height, 0);
  std::mt19937 random(seed + static_cast<std::uint32_t>(kind));
  for (std::uint32_t i = 0; i < 256; ++i) {
    p.palette[i] = {static_cast<std::uint8_t>(i * 37 + 11), static_cast<std::uint8_t>(i * 91 + 3),
                    static_cast<std::uint8_t>(i * 13 + 200)};
  }
  switch (kind) {
    case CorpusKind::kFlat:
      corpus_detail::Flat(p, random);
      break;
    case CorpusKind::kGradient:
      corpus_detail::Gradient(p);
      break;
    case CorpusKind::kDithered:
      corpus_detail::Dithered(p, random);
      break;
    case CorpusKind::kNoise:
      corpus_detail::Noise(p, random);
      break;
    case CorpusKind::kPhoto:
      corpus_detail::Photo(p, random);
      break;
    case CorpusKind::kText:
      corpus_detail::Text(p, random);
      break;
  }
  return p;
}
