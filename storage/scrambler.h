// The rolling byte scrambler of password-protected tables. For each byte
// in order: b ^= low ^ high; ++low; --high (mod 256). Applying it twice
// from the same start pair restores the buffer, so one routine scrambles
// and unscrambles. Where it is applied and with which start pair:
// data_file_format.h.
#pragma once

#include <cstdint>

namespace storage {

// The length is 16-bit: callers pass it modulo 65536, which is how the
// files are written. n = 0 does nothing.
void ScrambleBuffer(void* buffer, std::uint16_t n, std::uint8_t low, std::uint8_t high);

}  // namespace storage
