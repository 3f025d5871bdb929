// JPEG coding on libjpeg (library interface 6.2, as libjpeg-turbo builds
// it), with our own source manager (the whole file in memory), destination
// manager (a growing byte vector) and error manager. The error exit ends
// the operation and reports the library's message code; the caller turns
// it into "JPEG error #<code>: <the library's text>". Nothing here depends
// on Qt.
//
// Pixel layout in and out: 4 bytes a pixel in the order blue, green, red,
// unused (0xFF on decoding), rows top to bottom without padding; this is a
// QImage::Format_RGB32 row on a little-endian machine.
//
// Input is untrusted: dimensions are checked against the caller's limits
// before anything is allocated, a progressive file may have at most
// max_scans scans, and running out of data is an error (not the library's
// warning that fills the rest of the picture with grey).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fw::jpeg {

struct DecodeLimits {
  int max_side = 0xFFFF;
  std::int64_t max_pixels = std::int64_t{1} << 28;
  int max_scans = 1000;
};

struct DecodedImage {
  int width = 0;
  int height = 0;
  bool grayscale = false;        // the file has one component
  std::vector<std::uint8_t> bgrx;  // width * height * 4 bytes
};

struct EncodeOptions {
  int quality = 90;  // 1..100
  bool progressive = false;
  bool grayscale = false;
};

// Outcome of one operation. code is the library's message code of the
// error that ended it (0: done), text the library's message for it; limit
// names a limit of ours that the file broke ("" when none).
struct Status {
  int code = 0;
  std::string limit;
  std::string text;
  bool ok() const { return code == 0 && limit.empty(); }
  // "JPEG error #<code>: <text>" ("JPEG error #<code>" without a text), or
  // the broken limit.
  std::string Message() const;
};

// Reads only the frame header: the picture's size.
Status ReadSize(const std::uint8_t* data, std::size_t size, int& width, int& height);
Status Decode(const std::uint8_t* data, std::size_t size, const DecodeLimits& limits, DecodedImage& out);
// bgrx holds width * height * 4 bytes in the layout above.
Status Encode(const std::uint8_t* bgrx, int width, int height, const EncodeOptions& options,
              std::vector<std::uint8_t>& out);

}  // namespace fw::jpeg
