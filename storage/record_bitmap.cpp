#include "storage/record_bitmap.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>

namespace storage {

void RecordBitmap::Resize(std::uint32_t slots) {
  slots_ = slots;
  bytes_.resize(BytesFor(slots), 0);
  ClearSpare();
}

// Every operation that changes bits ends here or marks the rank stale
// itself (Set, Clear, ClearAll).
void RecordBitmap::ClearSpare() {
  rank_stale_ = true;
  // Bits at positions slots_ .. 8 * bytes - 1 belong to no record.
  const std::size_t first_byte = slots_ / 8;
  const unsigned used = slots_ % 8;
  bytes_[first_byte] &= static_cast<std::uint8_t>((1u << used) - 1);
  std::fill(bytes_.begin() + static_cast<std::ptrdiff_t>(first_byte) + 1, bytes_.end(), 0);
}

void RecordBitmap::Assign(std::span<const std::uint8_t> bytes) {
  assert(bytes.size() >= bytes_.size());
  std::copy_n(bytes.begin(), bytes_.size(), bytes_.begin());
  ClearSpare();
}

void RecordBitmap::CopyTo(std::span<std::uint8_t> out) const {
  const std::size_t n = std::min(out.size(), bytes_.size());
  std::copy_n(bytes_.begin(), n, out.begin());
  std::fill(out.begin() + static_cast<std::ptrdiff_t>(n), out.end(), 0);
}

void RecordBitmap::Set(std::uint32_t r) {
  assert(r >= 1 && r <= slots_);
  rank_stale_ = true;
  bytes_[(r - 1) / 8] |= static_cast<std::uint8_t>(1u << ((r - 1) % 8));
}

void RecordBitmap::Clear(std::uint32_t r) {
  assert(r >= 1 && r <= slots_);
  rank_stale_ = true;
  bytes_[(r - 1) / 8] &= static_cast<std::uint8_t>(~(1u << ((r - 1) % 8)));
}

bool RecordBitmap::Test(std::uint32_t r) const {
  if (r < 1 || r > slots_) return false;
  return (bytes_[(r - 1) / 8] >> ((r - 1) % 8)) & 1u;
}

void RecordBitmap::SetAll() {
  std::fill(bytes_.begin(), bytes_.end(), 0xFF);
  ClearSpare();
}

void RecordBitmap::ClearAll() {
  rank_stale_ = true;
  std::fill(bytes_.begin(), bytes_.end(), 0);
}

void RecordBitmap::Invert() {
  for (auto& b : bytes_) b = static_cast<std::uint8_t>(~b);
  ClearSpare();
}

// Bits the other bitmap does not cover count as clear (asserted never to
// happen; a release build still stays inside both buffers).
void RecordBitmap::AndWith(const RecordBitmap& other) {
  assert(other.slots_ == slots_);
  const std::size_t n = std::min(bytes_.size(), other.bytes_.size());
  for (std::size_t i = 0; i < n; ++i) bytes_[i] &= other.bytes_[i];
  std::fill(bytes_.begin() + static_cast<std::ptrdiff_t>(n), bytes_.end(), 0);
  ClearSpare();
}

void RecordBitmap::OrWith(const RecordBitmap& other) {
  assert(other.slots_ == slots_);
  const std::size_t n = std::min(bytes_.size(), other.bytes_.size());
  for (std::size_t i = 0; i < n; ++i) bytes_[i] |= other.bytes_[i];
  ClearSpare();
}

std::uint32_t RecordBitmap::CountBytes(std::size_t from, std::size_t to) const {
  std::uint32_t n = 0;
  std::size_t i = from;
  for (; i + 8 <= to; i += 8) {
    std::uint64_t w;
    std::memcpy(&w, bytes_.data() + i, sizeof w);
    n += static_cast<std::uint32_t>(std::popcount(w));
  }
  for (; i < to; ++i) n += static_cast<std::uint32_t>(std::popcount(bytes_[i]));
  return n;
}

void RecordBitmap::BuildRank() const {
  if (!rank_stale_) return;
  const std::size_t blocks = (bytes_.size() + kRankBlockBytes - 1) / kRankBlockBytes;
  rank_.resize(blocks + 1);
  std::uint32_t n = 0;
  for (std::size_t j = 0; j < blocks; ++j) {
    rank_[j] = n;
    n += CountBytes(j * kRankBlockBytes, std::min(bytes_.size(), (j + 1) * kRankBlockBytes));
  }
  rank_[blocks] = n;
  rank_stale_ = false;
}

std::uint32_t RecordBitmap::Count() const {
  BuildRank();
  return rank_.back();
}

std::uint32_t RecordBitmap::CountUpTo(std::uint32_t r) const {
  if (r == 0) return 0;
  if (r >= slots_) return Count();
  BuildRank();
  // Records 1..r are bits 0..r-1: r / 8 whole bytes and r % 8 bits.
  const std::size_t whole = r / 8;
  const std::size_t block = whole / kRankBlockBytes;
  std::uint32_t n = rank_[block] + CountBytes(block * kRankBlockBytes, whole);
  const unsigned rest = r % 8;
  if (rest != 0) {
    n += static_cast<std::uint32_t>(
        std::popcount(static_cast<std::uint8_t>(bytes_[whole] & ((1u << rest) - 1))));
  }
  return n;
}

std::uint32_t RecordBitmap::Select(std::uint32_t k) const {
  if (k == 0 || k > Count()) return 0;  // Count built the directory
  // The last block whose bits before it are fewer than k holds the k-th.
  const std::size_t blocks = rank_.size() - 1;
  std::size_t lo = 0, hi = blocks - 1;
  while (lo < hi) {
    const std::size_t mid = (lo + hi + 1) / 2;
    if (rank_[mid] < k) lo = mid;
    else hi = mid - 1;
  }
  std::uint32_t left = k - rank_[lo];
  for (std::size_t i = lo * kRankBlockBytes; i < bytes_.size(); ++i) {
    std::uint8_t b = bytes_[i];
    const auto c = static_cast<std::uint32_t>(std::popcount(b));
    if (left > c) {
      left -= c;
      continue;
    }
    while (--left > 0) b = static_cast<std::uint8_t>(b & (b - 1));  // drop the lowest set bits
    return static_cast<std::uint32_t>(i * 8 + std::countr_zero(b)) + 1;
  }
  return 0;  // not reached: the directory counted k bits
}

std::uint32_t RecordBitmap::NextSet(std::uint32_t r) const {
  if (r >= slots_) return 0;
  // Bit index (0-based) of record r + 1 is r.
  std::size_t i = r / 8;
  std::uint8_t b = static_cast<std::uint8_t>(bytes_[i] & (0xFFu << (r % 8)));
  while (b == 0) {
    if (++i >= bytes_.size()) return 0;
    b = bytes_[i];
  }
  const std::uint32_t found = static_cast<std::uint32_t>(i * 8 + std::countr_zero(b)) + 1;
  return found <= slots_ ? found : 0;  // spare bits are zero; defensive
}

std::uint32_t RecordBitmap::PrevSet(std::uint32_t r) const {
  if (r <= 1 || slots_ == 0) return 0;
  if (r > slots_ + 1) r = slots_ + 1;
  // Records 1..r-1 are bits 0..r-2.
  const std::uint32_t last_bit = r - 2;
  std::ptrdiff_t i = static_cast<std::ptrdiff_t>(last_bit / 8);
  const unsigned keep = last_bit % 8 + 1;
  std::uint8_t b = static_cast<std::uint8_t>(bytes_[static_cast<std::size_t>(i)] &
                                             ((keep == 8) ? 0xFFu : ((1u << keep) - 1)));
  while (b == 0) {
    if (--i < 0) return 0;
    b = bytes_[static_cast<std::size_t>(i)];
  }
  return static_cast<std::uint32_t>(i * 8 + (7 - std::countl_zero(b))) + 1;
}

}  // namespace storage
