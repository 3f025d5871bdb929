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
//      slots (the caller resizes first; asserted).
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
  // Set bits of records 1..r.
  [[nodiscard]] std::uint32_t CountUpTo(std::uint32_t r) const;
  // The first set record after r (r = 0: from the start); 0 when none.
  [[nodiscard]] std::uint32_t NextSet(std::uint32_t r) const;
  // The last set record before r (r > Slots(): from the end); 0 when none.
  [[nodiscard]] std::uint32_t PrevSet(std::uint32_t r) const;

  friend bool operator==(const RecordBitmap&, const RecordBitmap&) = default;

 private:
  void ClearSpare();

  std::uint32_t slots_ = 0;
  std::vector<std::uint8_t> bytes_;
};

}  // namespace storage
