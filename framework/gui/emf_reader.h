// EMF pictures: the file's layout checked here, the records turned into
// SVG by libemf2svg and the SVG drawn by Qt SVG.
//
// File layout (little-endian), as far as this code relies on it:
//
//   EMR_HEADER, the first record, at least 88 bytes:
//     OFFSET SIZE
//        0     4   type (1)
//        4     4   record size in bytes
//        8    16   bounds: left, top, right, bottom (int32, reference
//                  device pixels, inclusive)
//       24    16   frame: left, top, right, bottom (int32, 0.01 mm,
//                  inclusive)
//       40     4   signature " EMF" (0x464D4520)
//       44     4   version
//       48     4   file size in bytes
//       52     4   number of records
//       56     2   number of handles
//       58     2   reserved
//       60    12   description length and offset, palette entries
//       72     8   reference device size in pixels (cx, cy)
//       80     8   reference device size in millimetres (cx, cy)
//   records, each:
//        0     4   type
//        4     4   record size in bytes, a multiple of 4, at least 8
//        8    ..   parameters
//   the last record is EMR_EOF (type 14).
//
// Invariants a file must hold before libemf2svg sees it: (1) the header
// is there with its signature; (2) every record lies wholly inside the
// bytes; (3) an EMR_EOF record ends the records.
//
// The picture is the frame; its size at 96 pixels per inch. libemf2svg
// draws the bounds, so the SVG is placed where the bounds lie in the
// frame (through the reference device's pixels per millimetre). A file
// without a frame is its bounds, one reference pixel a pixel.
//
// Qt SVG draws text through the application's fonts: Play needs a
// QGuiApplication.
#pragma once

#include <cstdint>
#include <span>
#include <string>

class QImage;

namespace fw::emf {

inline constexpr std::uint32_t kSignature = 0x464D4520;

// True when the bytes start with an EMR_HEADER record and its signature.
bool LooksLikeEmf(std::span<const std::uint8_t> bytes);

// The picture's size in pixels at 96 per inch. "" when the file's layout
// holds, else what is wrong with it.
[[nodiscard]] std::string ReadSize(std::span<const std::uint8_t> bytes, int& width, int& height);

// Plays the file into out, a width x height picture (ARGB, transparent
// where the records draw nothing). "" when done, else what is wrong.
[[nodiscard]] std::string Play(std::span<const std::uint8_t> bytes, int width, int height, QImage& out);

}  // namespace fw::emf
