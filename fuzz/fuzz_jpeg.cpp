// libFuzzer target for the JPEG decoder: any bytes are decoded under small
// limits; whatever decodes is encoded again and must decode.
//
// Seed corpus (fuzz/corpus/fuzz_jpeg): baseline, progressive and grey
// pictures written by our encoder, and a cut-off copy of one.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "framework/gui/jpeg_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fw::jpeg::DecodeLimits limits;
  limits.max_side = 4096;
  limits.max_pixels = std::int64_t{1} << 20;  // large pictures cost time, not coverage
  limits.max_scans = 64;
  fw::jpeg::DecodedImage image;
  int width = 0, height = 0;
  (void)fw::jpeg::ReadSize(data, size, width, height);
  if (!fw::jpeg::Decode(data, size, limits, image).ok()) return 0;
  if (image.bgrx.size() != static_cast<std::size_t>(image.width) * image.height * 4) __builtin_trap();
  std::vector<std::uint8_t> again;
  if (!fw::jpeg::Encode(image.bgrx.data(), image.width, image.height, {75, false, image.grayscale}, again).ok())
    __builtin_trap();
  fw::jpeg::DecodedImage back;
  if (!fw::jpeg::Decode(again.data(), again.size(), limits, back).ok() || back.width != image.width ||
      back.height != image.height)
    __builtin_trap();
  return 0;
}
