// DataBlockCache: file bytes of a data file in aligned 4,096-byte blocks,
// least recently used dropped first, under a byte budget.
//
// It sits below the record cache and holds exactly what the file holds:
// the owner drops the blocks a write touches before the write starts (all
// of them when the file is truncated or extended), and drops everything
// whenever it drops its cached records (another program changed the
// file). A block read at the end of the file holds the bytes present; a
// copy that needs more than a block holds is a miss.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <unordered_map>

namespace storage {

class DataBlockCache {
 public:
  static constexpr std::uint32_t kBlockSize = 4096;

  explicit DataBlockCache(std::size_t budget_bytes) : capacity_(budget_bytes / kBlockSize) {}

  // Copies n bytes from offset when every one of them is cached.
  bool Copy(std::uint64_t offset, std::uint8_t* out, std::size_t n);
  // Keeps the got bytes read from the block-aligned offset (whole blocks,
  // the last one possibly short).
  void Store(std::uint64_t offset, const std::uint8_t* bytes, std::size_t got);
  // Drops every block overlapping [offset, offset + n).
  void Drop(std::uint64_t offset, std::uint64_t n);
  void Clear();
  [[nodiscard]] std::size_t Count() const { return map_.size(); }

 private:
  struct Block {
    std::uint64_t number = 0;
    std::uint32_t valid = 0;
    std::unique_ptr<std::uint8_t[]> bytes;
  };
  std::size_t capacity_;
  std::list<Block> lru_;  // most recently used first
  std::unordered_map<std::uint64_t, std::list<Block>::iterator> map_;
};

}  // namespace storage
