// LZW decoding of a frame's image data into its pixel buffer.
#pragma once

#include "framework/streams.h"

namespace gif {

class TGIFSubImage;

// Reads the code size byte and the data sub-block chain up to and including
// its terminator, and fills the frame's pixels (allocated here, filled first
// with the transparent index or 0). Warnings go to the frame.
void DecodeImageData(TGIFSubImage& frame, fw::TStream& stream);

}  // namespace gif
