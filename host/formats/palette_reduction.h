// Reducing a picture's colours to a palette of at most 256, for pictures of
// more colours than GP8 holds (antialiased text, gradients, photographs).
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "host/formats/indexed_picture.h"

// How many distinct colours the pixels have.
std::size_t CountColours(std::span<const Rgb> pixels);

// A palette of at most `colours` entries (1 to 256) that stands for the
// pixels' colours: each of their colours when they have no more, otherwise
// colours chosen to be near as many pixels as possible, in OKLab. Ordered
// dark to light. Map the pixels to it with MapToPalette.
std::vector<Rgb> ReducedPalette(std::span<const Rgb> pixels, std::size_t colours);
