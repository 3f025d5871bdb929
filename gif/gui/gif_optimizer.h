// Whole-image optimiser: makes an animation smaller before it is written.
// Options (TGIFGraphic's ooCrop..ooReduceColors): optimise the colour
// tables, drop transparency and disposal work without effect, turn pixels
// that repeat the previous frame into transparent ones, crop frames to their
// visible area, remove frames that became empty, and drop extensions that
// carry nothing.
//
// Invariants:
//   (1) Every step keeps what a viewer shows: the same pictures for the same
//       time (a frame removed gives its delay to the one before).
//   (2) The image never grows as written: the steps run on a copy; when the
//       result is not smaller than the image, the same steps without
//       widening a colour table (a transparent colour added to a table of
//       2^n entries doubles it and widens every code of the frames using
//       it), then without merging, are tried, and the smallest of these
//       replaces the image only when it is smaller; else the image stays as
//       it was.
#pragma once

#include <cstdint>

#include "gif/color_reduction.h"
#include "gif/gif_image.h"

namespace gif {

// Progress "Optimizing..." goes to the image, one step a frame for each of
// the six parts (colour tables, unused transparency, covered disposal,
// merge, crop, extensions); a part switched off counts at once.
// GIFException "Invalid reduction method" for ooReduceColors with rmPalette
// and without ooCleanup, before anything changes; reducing colours does
// nothing more.
void OptimizeImage(TGIFImage& image, std::uint8_t options, TColorReduction method, TDitherMode dither,
                   int color_bits);

}  // namespace gif
