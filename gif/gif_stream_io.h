// Byte-level helpers shared by the GIF reader and writer: exact reads,
// little-endian fields and data sub-block chains.
//
// A data sub-block chain is a series of sub-blocks, each a size byte n
// (1..255) followed by n data bytes, ended by a size byte of 0.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "framework/streams.h"

namespace gif {

// Reads exactly count bytes, else GIFException "Premature end of data".
void ReadCheck(fw::TStream& stream, void* buffer, std::int64_t count);
// One byte, or -1 when the stream has ended.
int ReadByteOrEnd(fw::TStream& stream);
void WriteByte(fw::TStream& stream, std::uint8_t value);
void WriteBytes(fw::TStream& stream, const void* data, std::int64_t count);

inline std::uint16_t GetLE16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t GetLE32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline void PutLE16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutLE32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Reads a sub-block chain as lines, one line per sub-block. A chain cut off
// by the end of the stream raises "Premature end of data".
std::vector<std::string> ReadStrings(fw::TStream& stream);
// Writes every line as sub-blocks of at most 255 bytes (an empty line writes
// nothing) and ends the chain with a 0 byte.
void WriteStrings(fw::TStream& stream, const std::vector<std::string>& lines);
// Skips a sub-block chain up to and including its terminator, or to the end
// of the stream.
void SkipBlocks(fw::TStream& stream);

}  // namespace gif
