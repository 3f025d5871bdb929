// DataBlockCache: file bytes of a data file in aligned 4,096-byte blocks
// under a byte budget, the least recently used dropped first (a
// second-chance clock).
//
// It sits below the record cache and holds exactly what the file holds:
// the owner drops the blocks a write touches before the write starts (all
// of them when the file is truncated or extended), and drops everything
// whenever it drops its cached records (another program changed the
// file). A block read at the end of the file holds the bytes present; a
// copy that needs more than a block holds is a miss.
//
// A hit costs a lookup in the number map and a flag set: no list is
// relinked (a walk in index order hits blocks at random, and moving each
// to the front of a list touched two more blocks' links per record).
// Eviction sweeps a hand over the blocks: a block used since the hand
// last passed is spared once (its flag cleared), the first one not used
// is taken.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>

#include "storage/number_map.h"

namespace storage {

class DataBlockCache {
 public:
  static constexpr std::uint32_t kBlockSize = 4096;
  // The most the budget grows to with the file (FitFile).
  static constexpr std::size_t kLargestBudgetBytes = std::size_t{128} << 20;

  explicit DataBlockCache(std::size_t budget_bytes)
      : base_(budget_bytes / kBlockSize), capacity_(base_) {}

  // The budget follows the file: the construction budget, raised to the
  // file's size up to kLargestBudgetBytes. A walk in the order of an index
  // reads the file's blocks at random: under a budget smaller than the
  // file nearly every record read went to the file again (1M records of
  // 71 bytes under 8 MB: 11% hits), with the whole file cached each block
  // is read once. A budget of 0 stays 0.
  void FitFile(std::uint64_t file_bytes) {
    if (base_ == 0) return;
    const std::size_t want = static_cast<std::size_t>(
        std::min<std::uint64_t>(file_bytes, kLargestBudgetBytes) / kBlockSize);
    capacity_ = want > base_ ? want : base_;
  }
  [[nodiscard]] std::size_t Capacity() const { return capacity_; }

  // Copies n bytes from offset when every one of them is cached.
  bool Copy(std::uint64_t offset, std::uint8_t* out, std::size_t n);
  // Keeps the got bytes read from the block-aligned offset (whole blocks,
  // the last one possibly short).
  void Store(std::uint64_t offset, const std::uint8_t* bytes, std::size_t got);
  // Drops every block overlapping [offset, offset + n).
  void Drop(std::uint64_t offset, std::uint64_t n);
  void Clear();
  [[nodiscard]] std::size_t Count() const { return map_.Size(); }

 private:
  struct Block {
    std::uint32_t key = 0;  // block number + 1; 0 while the block is free
    std::uint32_t valid = 0;
    bool used = false;  // since the hand last passed
    std::unique_ptr<std::uint8_t[]> bytes;
  };
  // The map's key of the block holding offset; 0 beyond what it can name.
  [[nodiscard]] static std::uint32_t KeyOf(std::uint64_t offset) {
    const std::uint64_t number = offset / kBlockSize;
    return number < 0xFFFFFFFFu ? static_cast<std::uint32_t>(number + 1) : 0;
  }
  // A block for a new key: a new one under the budget, else a free one or
  // the clock's choice (its old key forgotten).
  Block& TakeBlock();
  void Forget(Block& b);

  std::size_t base_;
  std::size_t capacity_;
  std::deque<Block> blocks_;  // a deque: the map's pointers stay valid as it grows
  NumberMap<Block> map_;
  std::size_t hand_ = 0;
};

}  // namespace storage
