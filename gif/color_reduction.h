// Colour reduction: a true-colour picture becomes a palette picture of at
// most 256 colours, with the palette chosen by a reduction method and every
// pixel mapped through a colour lookup and a ditherer.
//
//   method               palette                                         lookup
//   rmNone (0)           none: the picture stays true colour             -
//   rmWindows20 (1)      SystemDefaultPalette (20)                       fast
//   rmWindows256 (2)     HalftonePalette (256)                           fast
//   rmWindowsGray (3)    GrayPalette4                                    fast
//   rmMonochrome (4)     MonochromePalette                               monochrome
//   rmGrayScale (5)      GrayPalette256                                  greyscale
//   rmNetscape (6)       WebSafePalette (216)                            web
//   rmQuantize (7)       octree, 2^bits colours, no system colours       fast
//   rmQuantizeWindows(8) octree, 256 colours with the 20 system colours  fast
//   rmPalette (9)        the caller's palette (first 256 entries)        fast
#pragma once

#include <cstdint>

#include "gif/dither.h"
#include "gif/true_color_image.h"

namespace gif {

enum class TColorReduction : std::uint8_t {
  rmNone = 0,
  rmWindows20 = 1,
  rmWindows256 = 2,
  rmWindowsGray = 3,
  rmMonochrome = 4,
  rmGrayScale = 5,
  rmNetscape = 6,
  rmQuantize = 7,
  rmQuantizeWindows = 8,
  rmPalette = 9,
};

// Reduces source. An empty result for rmNone (the caller keeps the source
// as it is), for a method or dither mode outside the tables, for rmPalette
// without a palette or with an empty one, and for rmQuantize of a picture
// that gives no colours. color_bits (rmQuantize only) is held to 1..8.
// Raises "Invalid image dimensions" for an empty source otherwise.
IndexedImage ReduceColors(const TrueColorImage& source, TColorReduction method, TDitherMode dither_mode,
                          const ColorPalette* palette, int color_bits);

// Maps source through a ditherer in serpentine order into pixels (width x
// height bytes, rows top down). The ditherer should be fresh and made for
// source's width; one made for another width never reads or writes outside
// the rows, but leaves pixels unset.
void DitherImage(const TrueColorImage& source, TDitherEngine& ditherer, std::uint8_t* pixels);

}  // namespace gif
