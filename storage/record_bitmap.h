// RecordBitmap: one bit per record slot of a data file.
//
// Layout (kept as the filters have always laid it out): (slots div 8) + 1
// bytes; record r (1-based) is bit (r - 1) mod 8, counted from the least
// significant bit, of byte (r - 1) div 8.
//
// Invariants:
//  (1) the bits past the last slot (the spare bits of the last bytes) are
//      always zero, whatever operation ran: counts and searches never see a
//      record that does not exist;
//  (2) two bitmaps are only combined when they cover the same number of
//      slots (the caller resizes first; asserted);
//  (3) the rank directory, when not stale, holds for block j the set bits
//      of bytes 0 .. 64 j - 1 (512 records a block): every change of a bit
//      marks it stale, and CountUpTo, Count and Select build it again
//      first (one pass of popcounts), so a rank costs one block's bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace storage {

class RecordBitmap {
 public:
  RecordBitmap() { Resize(0); }
  explicit RecordBitmap(std::uint32_t slots) { Resize(slots); }

  // Bytes needed for slots records.
  [[nodiscard]] static constexpr std::size_t BytesFor(std::uint32_t slots) {
    return std::size_t{slots} / 8 + 1;
  }

  // Covers slots records: bits of records that stay keep their value, bits
  // of new records are clear.
  void Resize(std::uint32_t slots);
  [[nodiscard]] std::uint32_t Slots() const { return slots_; }
  [[nodiscard]] std::span<const std::uint8_t> Bytes() const { return bytes_; }
  // Copies raw bytes in (a filter object's bitmap); spare bits are cleared.
  // REQUIRES: bytes.size() >= BytesFor(Slots()).
  void Assign(std::span<const std::uint8_t> bytes);
  // Copies the bitmap into raw bytes (the rest of out is zeroed).
  void CopyTo(std::span<std::uint8_t> out) const;

  // REQUIRES (asserted): 1 <= r <= Slots(); Test answers false outside.
  void Set(std::uint32_t r);
  void Clear(std::uint32_t r);
  [[nodiscard]] bool Test(std::uint32_t r) const;

  void SetAll();
  void ClearAll();
  void Invert();
  void AndWith(const RecordBitmap& other);
  void OrWith(const RecordBitmap& other);

  [[nodiscard]] std::uint32_t Count() const;
  // Set bits of records 1..r: the rank of r when its bit is set.
  [[nodiscard]] std::uint32_t CountUpTo(std::uint32_t r) const;
  // The record whose bit is the k-th set one (k from 1); 0 when k is 0 or
  // above Count().
  [[nodiscard]] std::uint32_t Select(std::uint32_t k) const;
  // The first set record after r (r = 0: from the start); 0 when none.
  [[nodiscard]] std::uint32_t NextSet(std::uint32_t r) const;
  // The last set record before r (r > Slots(): from the end); 0 when none.
  [[nodiscard]] std::uint32_t PrevSet(std::uint32_t r) const;

  friend bool operator==(const RecordBitmap& a, const RecordBitmap& b) {
    return a.slots_ == b.slots_ && a.bytes_ == b.bytes_;
  }

 private:
  static constexpr std::size_t kRankBlockBytes = 64;

  void ClearSpare();
  void BuildRank() const;
  // Set bits of bytes [from, to).
  [[nodiscard]] std::uint32_t CountBytes(std::size_t from, std::size_t to) const;

  std::uint32_t slots_ = 0;
  std::vector<std::uint8_t> bytes_;
  // Invariant (3): rank_[j] for blocks 0 .. blocks, the last the total.
  mutable std::vector<std::uint32_t> rank_;
  mutable bool rank_stale_ = true;
};

}  // namespace storage
