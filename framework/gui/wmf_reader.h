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
// The picture's size at 96 pixels per inch: for a placeable file the box
// at its units per inch (the box is the picture, whatever is drawn); for
// another file libwmf's own rule, the extent of what the records draw.
// Text needs the Type 1 fonts that libwmf's font map names (package
// fonts-urw-base35, in /usr/share/fonts/type1/urw-base35).
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
