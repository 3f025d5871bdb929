// Whole-image optimiser: makes an animation smaller before it is written.
// Options (TGIFGraphic's ooCrop..ooReduceColors): optimise the colour
// tables, drop transparency and disposal work without effect, turn pixels
// that repeat the previous frame into transparent ones, crop frames to their
// visible area, remove frames that became empty, and drop extensions that
// carry nothing.
//
// Invariant kept by every step: the pictures shown after each frame stay
// the same (checked by the tests against giflib's decoding).
#pragma once

#include <cstdint>

#include "gif/color_reduction.h"
#include "gif/gif_image.h"

namespace gif {

// Progress "Optimizing..." goes to the image. GIFException "Invalid
// reduction method" for ooReduceColors with rmPalette and without
// ooCleanup; reducing colours does nothing more.
void OptimizeImage(TGIFImage& image, std::uint8_t options, TColorReduction method, TDitherMode dither,
                   int color_bits);

}  // namespace gif
