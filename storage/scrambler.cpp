#include "storage/scrambler.h"

namespace storage {

void ScrambleBuffer(void* buffer, std::uint16_t n, std::uint8_t low, std::uint8_t high) {
  auto* p = static_cast<std::uint8_t*>(buffer);
  for (std::uint32_t i = 0; i < n; ++i) {
    p[i] = static_cast<std::uint8_t>(p[i] ^ low ^ high);
    ++low;
    --high;
  }
}

}  // namespace storage
