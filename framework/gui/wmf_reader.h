// WMF pictures: the file's layout checked here, the records played by
// libwmf through our QPainter device (wmf_device.h).
//
// File layout (little-endian), as far as this code relies on it:
//
//   placeable header, optional, 22 bytes:
//     OFFSET SIZE
//        0     4   key 0x9AC6CDD7
//        4     2   handle (0)
//        6     8   box: left, top, right, bottom (int16, logical units)
//       14     2   logical units per inch
//       16     4   reserved
//       20     2   checksum: XOR of the ten 16-bit words before it
//   META_HEADER, 18 bytes:
//        0     2   type (1 memory, 2 disk)
//        2     2   header size in 16-bit words (9)
//        4     2   version (0x0100 or 0x0300)
//        6     4   file size in words
//       10     2   number of objects
//       12     4   largest record in words
//       16     2   members (0)
//   records, each:
//        0     4   record size in 16-bit words, at least 3
//        4     2   function
//        6     ..  parameters
//   the last record is META_EOF (function 0, size 3).
//
// Invariants a file must hold before libwmf sees it: (1) the header is
// there and of the kinds above; (2) every record lies wholly inside the
// bytes; (3) a META_EOF record ends the records. libwmf checks each
// record's parameters as it plays it. Its memory is limited (kMaxMemory)
// so that sizes in a hostile file cannot make it allocate without bound.
//
// The picture: for a placeable file its box, whatever is drawn, sized at
// 96 pixels per inch from the box's units per inch; for another file the
// extent of what the records draw, one device unit a pixel (logical
// units, unless the file maps them otherwise).
// Text is drawn in the DejaVu fonts (packages fonts-dejavu-core and
// fonts-dejavu-extra, in /usr/share/fonts/truetype/dejavu), which stand
// in for the PostScript standard fonts that libwmf maps the file's font
// names to.
#pragma once

#include <cstdint>
#include <span>
#include <string>

class QImage;

namespace fw::wmf {

inline constexpr std::uint32_t kPlaceableKey = 0x9AC6CDD7;
// What libwmf may hold allocated while it plays one file.
inline constexpr std::size_t kMaxMemory = std::size_t{256} << 20;

// True when the bytes start like a WMF file (placeable key, or a
// META_HEADER of a known type, size and version).
bool LooksLikeWmf(std::span<const std::uint8_t> bytes);

// The picture's size in pixels at 96 per inch. "" when the file can be
// read, else what is wrong with it.
[[nodiscard]] std::string ReadSize(std::span<const std::uint8_t> bytes, int& width, int& height);

// Plays the file into out, a width x height picture (ARGB, transparent
// where the records draw nothing). "" when done, else what is wrong.
[[nodiscard]] std::string Play(std::span<const std::uint8_t> bytes, int width, int height, QImage& out);

}  // namespace fw::wmf
