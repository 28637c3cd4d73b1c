// Archives and pictures built with the host's own writers, for seeding the
// fuzzers and for the round-trip harnesses.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/formats/arc_writer.h"
#include "host/formats/gp8_encoder.h"

// An archive image of the given members, laid out by the host's writer.
inline Bytes PackArchive(const std::vector<std::pair<std::string, Bytes>>& members, bool scrambled) {
  std::vector<ArcSource> sources;
  for (const auto& [name, data] : members) sources.push_back({name, name, data.size()});
  const ArcPlan plan = PlanArchive("fuzz.arc", sources);
  Bytes image = ArcDirectoryBytes(plan, scrambled);
  image.resize(plan.total_size);
  for (std::size_t i = 0; i < members.size(); ++i) {
    const Bytes& data = members[i].second;
    std::copy(data.begin(), data.end(), image.begin() + plan.entries[i].position);
  }
  return image;
}

// A picture of palette indexes from a seed: regular patterns with some noise,
// so that the encoder makes literals, near and far matches and runs.
inline IndexedPicture SamplePicture(std::uint32_t width, std::uint32_t height, std::uint32_t colours,
                                    std::uint32_t seed) {
  IndexedPicture picture;
  picture.width = width;
  picture.height = height;
  for (std::uint32_t i = 0; i < colours; ++i)
    picture.palette.push_back({static_cast<std::uint8_t>(i * 7), static_cast<std::uint8_t>(i * 13),
                               static_cast<std::uint8_t>(255 - i)});
  std::uint32_t state = seed * 2654435761u + 1;
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      state = state * 1103515245u + 12345u;
      const std::uint32_t noise = (state >> 16) % 8 == 0 ? (state >> 8) : 0;
      picture.pixels.push_back(static_cast<std::uint8_t>(((x / 4 + y / 3) ^ noise) % colours));
    }
  }
  return picture;
}
