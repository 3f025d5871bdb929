// LZW decoding of GIF image data.
//
// The image data is a code size byte S followed by a sub-block chain. The
// chain is gathered into one buffer first, so codes read the same however
// the data is split into sub-blocks, and the whole chain up to its
// terminator is consumed whatever the codes say (an early end code leaves
// the stream at the next block).
//
// Codes are packed least significant bit first. clear = 1 << S, end =
// clear + 1, the first free code clear + 2; codes start S + 1 bits wide and
// grow by one bit when the next free code reaches 2^bits, up to 12 bits.
//
// Every string in the table has already been written to the output once:
// a new entry is the previous code's string plus one byte, and that byte is
// the first one the current code writes right behind it. So the table keeps
// for every code only where its string first appears in the output and its
// length, and a code is decoded by copying bytes from earlier output; no
// prefix chain is walked and nothing is allocated per code. The output is
// always in stream order (interlaced rows are moved afterwards).
//
// Invariants (numbered for the asserts below):
//   (1) every code below the next free code is defined since the last clear;
//   (2) for a defined code c >= clear + 2: offset[c] + length[c] <= the
//       output position at which any later code starts, so its copy source
//       lies entirely in final output; only the code equal to the next free
//       code (its string ends with its own first byte) overlaps, at a
//       distance of length - 1 >= 1.
#include "gif/lzw_decoder.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>
#include <vector>

#include "gif/gif_exception.h"
#include "gif/gif_extension.h"
#include "gif/gif_stream_io.h"
#include "gif/gif_sub_image.h"

namespace gif {

namespace {

constexpr int kMaxCodes = 4096;
constexpr int kMaxCodeSizeByte = 11;  // clear code 2048: within the 4096 codes
constexpr std::size_t kPadding = 8;   // zero bytes behind the data for 64-bit loads

struct Table {
  std::uint32_t offset[kMaxCodes];
  std::uint16_t length[kMaxCodes];
};

// Gathers the sub-block chain up to its terminator or the end of the
// stream; a sub-block cut short by the stream's end is used as far as it
// goes, with a warning.
void GatherBlocks(fw::TStream& stream, std::vector<std::uint8_t>& data, TGIFSubImage& frame) {
  std::uint8_t block[256];
  for (;;) {
    if (stream.Read(block, 1) != 1) return;
    const int n = block[0];
    if (n == 0) return;
    const std::int64_t got = stream.Read(block, n);
    if (got > 0) data.insert(data.end(), block, block + got);
    if (got < n) {
      frame.ReportWarning(&frame, 1, kPrematureEOF);
      return;
    }
  }
}

enum class DecodeEnd { kDone, kEndCode, kUnderrun };

// Copies n bytes forward from src to dst = src + distance (the source may
// run into the destination, as in the next-free-code case). With room to
// spare it moves 8 bytes a step and may write up to 7 bytes past dst + n.
inline void CopyForward(std::uint8_t* dst, const std::uint8_t* src, std::size_t n, std::size_t distance,
                        std::size_t room) {
  if ((distance >= 8 || n <= distance) && room >= ((n + 7) & ~std::size_t{7})) {
    // Every byte below n that a step loads was final before that step: it
    // lies before dst (n <= distance) or was stored by an earlier step
    // (distance >= 8).
    for (std::size_t i = 0; i < n; i += 8) {
      std::uint64_t v;
      std::memcpy(&v, src + i, 8);
      std::memcpy(dst + i, &v, 8);
    }
  } else {
    for (std::size_t i = 0; i < n; ++i) dst[i] = src[i];
  }
}

// Decodes into out[0..total) in stream order; pixels the data does not reach
// are set to fill.
DecodeEnd Decode(const std::uint8_t* in, std::size_t in_bytes, int S, std::uint8_t* out, std::size_t total,
                 std::uint8_t fill) {
  Table t;
  const int clear = 1 << S;
  const int end = clear + 1;
  int code_size = S + 1;
  int max_code = 1 << code_size;
  int next_free = clear + 2;
  int prev = -1;  // no previous code: data starts as if behind a clear code
  std::size_t prev_pos = 0;
  std::size_t prev_len = 0;

  const std::uint64_t in_bits = static_cast<std::uint64_t>(in_bytes) * 8;
  std::uint64_t bit_pos = 0;
  std::size_t pos = 0;
  DecodeEnd how = DecodeEnd::kDone;

  while (pos < total) {
    if (bit_pos + static_cast<std::uint64_t>(code_size) > in_bits) {
      how = DecodeEnd::kUnderrun;
      break;
    }
    std::uint64_t word;
    std::memcpy(&word, in + (bit_pos >> 3), sizeof word);
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
    const int c = static_cast<int>((word >> (bit_pos & 7)) & ((1u << code_size) - 1));
    bit_pos += static_cast<std::uint64_t>(code_size);

    if (c == clear) {
      code_size = S + 1;
      max_code = 1 << code_size;
      next_free = clear + 2;
      prev = -1;
      continue;
    }
    if (c == end) {
      how = DecodeEnd::kEndCode;
      break;
    }
    if (prev < 0) {
      // The first code behind a clear must be a single pixel.
      if (c > end) RaiseGIFError(kInvalidData);
      out[pos] = static_cast<std::uint8_t>(c);
      prev = c;
      prev_pos = pos++;
      prev_len = 1;
      continue;
    }
    if (c > next_free) RaiseGIFError(kInvalidData);
    // The new entry: the previous string plus the first byte written now.
    if (next_free < kMaxCodes) {
      t.offset[next_free] = static_cast<std::uint32_t>(prev_pos);
      t.length[next_free] = static_cast<std::uint16_t>(prev_len + 1);
      ++next_free;
      if (next_free >= max_code && max_code < kMaxCodes) {
        max_code <<= 1;
        ++code_size;
      }
    }
    prev = c;
    if (c < clear) {
      out[pos] = static_cast<std::uint8_t>(c);
      prev_pos = pos++;
      prev_len = 1;
      continue;
    }
    // c was defined before this code, or is the entry just made (c was the
    // next free code; codes have at most 12 bits, so there was room).
    const std::size_t src = t.offset[c];
    const std::size_t len = t.length[c];
    assert(src < pos);                                // invariant (2)
    assert(src + len <= pos || c == next_free - 1);  // invariant (2)
    const std::size_t n = std::min(len, total - pos);
    CopyForward(out + pos, out + src, n, pos - src, total - pos);
    prev_pos = pos;
    prev_len = len;
    pos += n;
  }
  if (pos < total) std::memset(out + pos, fill, total - pos);
  return how;
}

}  // namespace

void DecodeImageData(TGIFSubImage& frame, fw::TStream& stream) {
  std::uint8_t fill = 0;
  if (frame.has_transparency_ && frame.gce_) fill = frame.gce_->TransparentColorIndex();
  const int width = frame.width_;
  const int height = frame.height_;
  frame.SetSize(width, height, fill);

  const int S = ReadByteOrEnd(stream);
  if (S < 0) {
    frame.ReportWarning(&frame, 1, kPrematureEOF);
    return;
  }
  std::vector<std::uint8_t> data;
  GatherBlocks(stream, data, frame);
  if (S > kMaxCodeSizeByte) RaiseGIFError(kInvalidData);
  const std::size_t total = frame.data_.size();
  if (total == 0) return;
  const std::size_t in_bytes = data.size();
  data.resize(in_bytes + kPadding, 0);

  DecodeEnd how;
  if (!frame.Interlaced()) {
    how = Decode(data.data(), in_bytes, S, frame.data_.data(), total, fill);
  } else {
    // Decoded in stream order, then the rows go to their places:
    // pass 1 rows 0, 8, 16...; pass 2 rows 4, 12...; pass 3 rows 2, 6...;
    // pass 4 rows 1, 3, 5...
    std::vector<std::uint8_t> rows(total);
    how = Decode(data.data(), in_bytes, S, rows.data(), total, fill);
    const std::uint8_t* src = rows.data();
    static constexpr int kStart[4] = {0, 4, 2, 1};
    static constexpr int kStep[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
      for (int y = kStart[pass]; y < height; y += kStep[pass]) {
        std::memcpy(frame.data_.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width), src,
                    static_cast<std::size_t>(width));
        src += width;
      }
  }
  if (how == DecodeEnd::kUnderrun) frame.ReportWarning(&frame, 1, kBitBufferUnderrun);
}

}  // namespace gif
