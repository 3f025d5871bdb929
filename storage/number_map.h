// NumberMap: non-zero 32-bit numbers to pointers, for the engine's caches
// (record numbers of the record cache, page offsets of the index page
// cache), looked up on every record read and every page of a descent.
//
// Open addressing with linear probing in a power-of-two table that is kept
// at most half full; number 0 marks an empty slot, so 0 is never a key.
// Invariant: every entry lies in the probe run that starts at its home
// slot (no empty slot between its home and it). Erase keeps it by moving
// later entries of the run back into the hole, so no slot is ever marked
// deleted. Lookups and updates allocate nothing; only growth does (a
// node-based map freed and allocated a node per renumbered record buffer).
#pragma once

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace storage {

template <class T>
class NumberMap {
 public:
  [[nodiscard]] T* Find(std::uint32_t number) const {
    if (number == 0 || count_ == 0) return nullptr;
    const Slot& s = slots_[Probe(number)];
    return s.number == number ? s.value : nullptr;
  }

  // Maps number (not 0) to value; returns what it mapped to before
  // (nullptr when nothing).
  T* Assign(std::uint32_t number, T* value) {
    assert(number != 0);
    if ((count_ + 1) * 2 > slots_.size()) Grow();
    Slot& s = slots_[Probe(number)];
    T* before = s.number == number ? s.value : nullptr;
    if (s.number != number) ++count_;
    s.number = number;
    s.value = value;
    return before;
  }

  void Erase(std::uint32_t number) {
    if (number == 0 || count_ == 0) return;
    const std::size_t mask = slots_.size() - 1;
    std::size_t hole = Probe(number);
    if (slots_[hole].number != number) return;
    // An entry after the hole whose home is not cyclically in (hole, j]
    // would no longer be reached past the hole: it moves into it.
    for (std::size_t j = (hole + 1) & mask; slots_[j].number != 0; j = (j + 1) & mask) {
      const std::size_t home = Home(slots_[j].number);
      const bool stays = hole < j ? (home > hole && home <= j) : (home > hole || home <= j);
      if (stays) continue;
      slots_[hole] = slots_[j];
      hole = j;
    }
    slots_[hole] = Slot{};
    --count_;
  }

  void Clear() {
    std::fill(slots_.begin(), slots_.end(), Slot{});
    count_ = 0;
  }

  [[nodiscard]] std::size_t Size() const { return count_; }

 private:
  struct Slot {
    std::uint32_t number = 0;
    T* value = nullptr;
  };
  static constexpr unsigned kInitialBits = 6;

  // Fibonacci hashing: consecutive numbers spread over the table.
  [[nodiscard]] std::size_t Home(std::uint32_t number) const {
    return static_cast<std::size_t>((std::uint64_t{number} * 0x9E3779B97F4A7C15ull) >> (64 - bits_));
  }
  // The slot holding number, or the empty slot that ends its probe run.
  [[nodiscard]] std::size_t Probe(std::uint32_t number) const {
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = Home(number);
    while (slots_[i].number != 0 && slots_[i].number != number) i = (i + 1) & mask;
    return i;
  }
  void Grow() {
    std::vector<Slot> old = std::move(slots_);
    bits_ = old.empty() ? kInitialBits : bits_ + 1;
    slots_.assign(std::size_t{1} << bits_, Slot{});
    count_ = 0;
    for (const Slot& s : old) {
      if (s.number == 0) continue;
      slots_[Probe(s.number)] = s;
      ++count_;
    }
  }

  std::vector<Slot> slots_;
  unsigned bits_ = 0;
  std::size_t count_ = 0;
};

}  // namespace storage
