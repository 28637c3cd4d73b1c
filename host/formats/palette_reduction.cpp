// The colour reduction is the host's own, on purpose. The ready-made
// quantizer Debian packages, libimagequant, is under the GPL version 3:
// linking it into vyn would put the vyn programs under the GPL as well, while
// the project is MIT-licensed. What GP8 pictures need is small enough to
// write here: a median cut in OKLab, refined by a few rounds of k-means.
//
// 1. The distinct colours are counted (a histogram: each colour and how many
//    pixels have it) and placed in OKLab.
// 2. Median cut: all colours start in one box; the box whose colours lie
//    farthest from their mean (the largest sum over its pixels of squared
//    distances) is cut in two across its widest axis, where the two halves'
//    spread along that axis is least; until there are as many boxes as
//    colours wanted, or no box holds two colours.
// 3. k-means: each box's mean is a palette colour; every colour of the
//    picture goes to its nearest palette colour, each palette colour moves to
//    the mean of those it was given, and again, until nothing moves or the
//    rounds' work reaches a bound (large pictures of very many colours get
//    fewer rounds, never none when it is within reach).
#include "host/formats/palette_reduction.h"

#include <algorithm>
#include <cstdint>

#include "host/formats/perceptual_colour.h"

namespace {

struct Bin {
  Rgb colour;
  OkLab point;
  std::uint64_t weight = 0;  // pixels of the colour
};

std::int32_t Axis(const OkLab& point, int axis) {
  return axis == 0 ? point.lightness : axis == 1 ? point.a : point.b;
}

std::vector<std::uint32_t> SortedKeys(std::span<const Rgb> pixels) {
  std::vector<std::uint32_t> keys;
  keys.reserve(pixels.size());
  for (const Rgb& colour : pixels) keys.push_back(ColourKey(colour));
  std::sort(keys.begin(), keys.end());
  return keys;
}

std::vector<Bin> Histogram(std::span<const Rgb> pixels) {
  const std::vector<std::uint32_t> keys = SortedKeys(pixels);
  std::vector<Bin> bins;
  for (std::size_t i = 0; i < keys.size();) {
    std::size_t end = i + 1;
    while (end < keys.size() && keys[end] == keys[i]) ++end;
    const Rgb colour{static_cast<std::uint8_t>(keys[i]), static_cast<std::uint8_t>(keys[i] >> 8),
                     static_cast<std::uint8_t>(keys[i] >> 16)};
    bins.push_back({colour, ToOkLab(colour), end - i});
    i = end;
  }
  return bins;
}

// Weighted sums of a run of bins along one axis, for the spread about the mean.
struct Spread {
  double weight = 0;
  double sum = 0;
  double squares = 0;
  void Add(const Bin& bin, int axis) {
    const double w = static_cast<double>(bin.weight);
    const double x = Axis(bin.point, axis);
    weight += w;
    sum += w * x;
    squares += w * x * x;
  }
  // The sum over the pixels of squared distances to their mean.
  double Error() const { return weight > 0 ? squares - sum * sum / weight : 0; }
};

struct Box {
  std::size_t begin = 0;
  std::size_t end = 0;
  double error[3] = {0, 0, 0};  // along each axis
  double Error() const { return error[0] + error[1] + error[2]; }
};

Box MakeBox(const std::vector<Bin>& bins, std::size_t begin, std::size_t end) {
  Box box{begin, end, {}};
  for (int axis = 0; axis < 3; ++axis) {
    Spread spread;
    for (std::size_t i = begin; i < end; ++i) spread.Add(bins[i], axis);
    box.error[axis] = spread.Error();
  }
  return box;
}

// Cuts the box across its widest axis where the halves spread least.
std::pair<Box, Box> Cut(std::vector<Bin>& bins, const Box& box) {
  const int axis = static_cast<int>(std::max_element(box.error, box.error + 3) - box.error);
  const auto first = bins.begin() + static_cast<std::ptrdiff_t>(box.begin);
  const auto last = bins.begin() + static_cast<std::ptrdiff_t>(box.end);
  std::sort(first, last, [axis](const Bin& x, const Bin& y) {
    const std::int32_t px = Axis(x.point, axis);
    const std::int32_t py = Axis(y.point, axis);
    return px != py ? px < py : ColourKey(x.colour) < ColourKey(y.colour);
  });
  Spread total;
  for (std::size_t i = box.begin; i < box.end; ++i) total.Add(bins[i], axis);
  Spread before;
  std::size_t best_cut = box.begin + 1;
  double best_error = -1;
  for (std::size_t cut = box.begin + 1; cut < box.end; ++cut) {
    before.Add(bins[cut - 1], axis);
    const Spread after{total.weight - before.weight, total.sum - before.sum,
                       total.squares - before.squares};
    const double error = before.Error() + after.Error();
    if (best_error < 0 || error < best_error) {
      best_error = error;
      best_cut = cut;
    }
  }
  return {MakeBox(bins, box.begin, best_cut), MakeBox(bins, best_cut, box.end)};
}

// Rounded to the nearest whole unit, halves away from zero.
std::int32_t Mean(std::int64_t sum, std::int64_t weight) {
  const std::int64_t mean =
      sum >= 0 ? (sum + weight / 2) / weight : -((-sum + weight / 2) / weight);
  return static_cast<std::int32_t>(mean);
}

struct Centre {
  std::int64_t weight = 0;
  std::int64_t sums[3] = {0, 0, 0};
  void Add(const Bin& bin) {
    const auto w = static_cast<std::int64_t>(bin.weight);
    weight += w;
    for (int axis = 0; axis < 3; ++axis) sums[axis] += w * Axis(bin.point, axis);
  }
  OkLab Point() const {
    return {Mean(sums[0], weight), Mean(sums[1], weight), Mean(sums[2], weight)};
  }
};

// The work the k-means rounds may do, in distances computed.
constexpr std::uint64_t kRefinementBudget = 400'000'000;
constexpr unsigned kMaxRounds = 16;

std::vector<Rgb> Refined(const std::vector<Bin>& bins, const std::vector<Box>& boxes) {
  std::vector<OkLab> points;
  for (const Box& box : boxes) {
    Centre centre;
    for (std::size_t i = box.begin; i < box.end; ++i) centre.Add(bins[i]);
    points.push_back(centre.Point());
  }
  const std::uint64_t round_work = std::uint64_t{bins.size()} * points.size();
  const auto rounds =
      static_cast<unsigned>(std::min<std::uint64_t>(kMaxRounds, kRefinementBudget / round_work));
  std::vector<std::uint16_t> nearest(bins.size(), 0xFFFF);
  std::vector<Centre> centres(points.size());
  for (unsigned round = 0; round <= rounds; ++round) {
    bool moved = false;
    std::fill(centres.begin(), centres.end(), Centre{});
    for (std::size_t i = 0; i < bins.size(); ++i) {
      std::size_t best = 0;
      std::int64_t best_distance = Distance2(bins[i].point, points[0]);
      for (std::size_t c = 1; c < points.size(); ++c) {
        const std::int64_t distance = Distance2(bins[i].point, points[c]);
        if (distance < best_distance) {
          best = c;
          best_distance = distance;
        }
      }
      moved = moved || nearest[i] != best;
      nearest[i] = static_cast<std::uint16_t>(best);
      centres[best].Add(bins[i]);
    }
    if (!moved) break;
    // The last round only settles which colours each centre stands for.
    if (round < rounds) {
      for (std::size_t c = 0; c < points.size(); ++c)
        if (centres[c].weight > 0) points[c] = centres[c].Point();
    }
  }
  std::vector<Rgb> palette;
  for (std::size_t c = 0; c < points.size(); ++c)
    if (centres[c].weight > 0) palette.push_back(FromOkLab(centres[c].Point()));
  return palette;
}

}  // namespace

std::size_t CountColours(std::span<const Rgb> pixels) {
  std::vector<std::uint32_t> keys = SortedKeys(pixels);
  return static_cast<std::size_t>(std::unique(keys.begin(), keys.end()) - keys.begin());
}

std::vector<Rgb> ReducedPalette(std::span<const Rgb> pixels, std::size_t colours) {
  colours = std::clamp<std::size_t>(colours, 1, kMaxPaletteSize);
  std::vector<Bin> bins = Histogram(pixels);
  std::vector<Rgb> palette;
  if (bins.size() <= colours) {
    for (const Bin& bin : bins) palette.push_back(bin.colour);
  } else {
    std::vector<Box> boxes = {MakeBox(bins, 0, bins.size())};
    while (boxes.size() < colours) {
      const auto widest =
          std::max_element(boxes.begin(), boxes.end(),
                           [](const Box& x, const Box& y) { return x.Error() < y.Error(); });
      if (widest->end - widest->begin < 2) break;  // every box a single colour
      const auto [low, high] = Cut(bins, *widest);
      *widest = low;
      boxes.push_back(high);
    }
    palette = Refined(bins, boxes);
  }
  // Dark to light, each colour once: rounding may make two centres alike.
  std::sort(palette.begin(), palette.end(), [](const Rgb& x, const Rgb& y) {
    const std::int32_t lx = ToOkLab(x).lightness;
    const std::int32_t ly = ToOkLab(y).lightness;
    return lx != ly ? lx < ly : ColourKey(x) < ColourKey(y);
  });
  palette.erase(std::unique(palette.begin(), palette.end()), palette.end());
  return palette;
}
