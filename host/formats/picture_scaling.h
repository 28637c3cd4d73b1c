// Smaller copies of a palette picture, for thumbnails: indexes picked by
// nearest neighbour, so that the palette stays the picture's own.
#pragma once

#include <cstdint>

#include "host/formats/indexed_picture.h"

// The picture at most `longest` pixels on its longest side (at least 1 on
// each), aspect kept; the picture itself when it already fits.
IndexedPicture ShrinkPicture(const IndexedPicture& picture, std::uint32_t longest);
