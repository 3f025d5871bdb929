#include "storage/data_block_cache.h"

#include <cstring>

namespace storage {

bool DataBlockCache::Copy(std::uint64_t offset, std::uint8_t* out, std::size_t n) {
  if (capacity_ == 0 || map_.Size() == 0) return false;
  const std::uint64_t end = offset + n;
  const std::uint64_t first = offset / kBlockSize;
  // Every block first, then the copy: a miss marks nothing used.
  Block* found[2];
  std::size_t count = 0;
  for (std::uint64_t b = first; b * kBlockSize < end; ++b) {
    Block* block = map_.Find(KeyOf(b * kBlockSize));
    if (block == nullptr) return false;
    const std::uint64_t need = std::min<std::uint64_t>(end - b * kBlockSize, kBlockSize);
    if (block->valid < need) return false;
    if (count < 2) found[count] = block;
    ++count;
  }
  for (std::uint64_t b = first, i = 0; b * kBlockSize < end; ++b, ++i) {
    Block* block = i < 2 ? found[i] : map_.Find(KeyOf(b * kBlockSize));
    const std::uint64_t start = std::max(offset, b * kBlockSize);
    const std::uint64_t stop = std::min(end, (b + 1) * kBlockSize);
    std::memcpy(out + (start - offset), block->bytes.get() + (start - b * kBlockSize),
                static_cast<std::size_t>(stop - start));
    block->used = true;
  }
  return true;
}

void DataBlockCache::Forget(Block& b) {
  if (b.key != 0) map_.Erase(b.key);
  b.key = 0;
  b.valid = 0;
  b.used = false;
}

DataBlockCache::Block& DataBlockCache::TakeBlock() {
  if (blocks_.size() < capacity_) {
    blocks_.emplace_back();
    blocks_.back().bytes.reset(new std::uint8_t[kBlockSize]);
    return blocks_.back();
  }
  // At most two rounds: the first clears every flag it passes.
  for (std::size_t step = 0;; ++step) {
    if (hand_ >= blocks_.size()) hand_ = 0;
    Block& b = blocks_[hand_++];
    if (b.key == 0 || !b.used || step >= 2 * blocks_.size()) {
      Forget(b);
      return b;
    }
    b.used = false;
  }
}

void DataBlockCache::Store(std::uint64_t offset, const std::uint8_t* bytes, std::size_t got) {
  if (capacity_ == 0 || offset % kBlockSize != 0) return;
  for (std::size_t done = 0; done < got; done += kBlockSize) {
    const std::uint32_t key = KeyOf(offset + done);
    if (key == 0) return;
    const auto valid = static_cast<std::uint32_t>(std::min<std::size_t>(got - done, kBlockSize));
    Block* block = map_.Find(key);
    if (block == nullptr) {
      block = &TakeBlock();
      block->key = key;
      map_.Assign(key, block);
    }
    std::memcpy(block->bytes.get(), bytes + done, valid);
    block->valid = valid;
    block->used = true;
  }
}

void DataBlockCache::Drop(std::uint64_t offset, std::uint64_t n) {
  if (map_.Size() == 0) return;
  const std::uint64_t first = offset / kBlockSize;
  const std::uint64_t last = (offset + std::max<std::uint64_t>(n, 1) - 1) / kBlockSize;
  if (last - first >= map_.Size()) {
    for (Block& b : blocks_) {
      if (b.key != 0 && b.key - 1 >= first && b.key - 1 <= last) Forget(b);
    }
    return;
  }
  for (std::uint64_t b = first; b <= last; ++b) {
    if (Block* block = map_.Find(KeyOf(b * kBlockSize))) Forget(*block);
  }
}

void DataBlockCache::Clear() {
  map_.Clear();
  blocks_.clear();
  hand_ = 0;
}

}  // namespace storage
