// Giving a picture the palette of another: every pixel an index into a
// palette chosen beforehand, kept entry for entry and in its order. A game
// shares palettes between its pictures and animates some of their entries,
// so a picture edited as RGB must come back in exactly the palette it had.
#pragma once

#include <cstdint>
#include <vector>

#include "host/formats/indexed_picture.h"

struct PaletteMapping {
  std::vector<std::uint8_t> indexes;  // one a pixel, top row first
  std::uint64_t inexact = 0;          // pixels whose colour the palette does not hold
};

// Each pixel's colour that the palette holds becomes the index of its first
// entry of that colour; any other colour the index of the entry nearest it
// in OKLab (perceptual_colour.h), the first of equally near ones. With
// `dither`, the difference between such a pixel's colour and its entry's is
// spread to the pixels right of and below it (Floyd-Steinberg, rows in
// alternating directions), so that areas of colours the palette lacks
// average out to them; pixels of colours the palette holds stay exactly
// those and pass no difference on. The palette holds 1 to 256 entries.
PaletteMapping MapToPalette(const RgbPicture& picture, const std::vector<Rgb>& palette,
                            bool dither);

// The same for a palette picture, by its pixels' colours. A picture whose
// palette begins with the very entries of `palette`, in the same places,
// keeps its indexes as they are, even those of an entry that repeats an
// earlier one.
PaletteMapping MapToPalette(const IndexedPicture& picture, const std::vector<Rgb>& palette,
                            bool dither);
