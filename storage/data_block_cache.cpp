#include "storage/data_block_cache.h"

#include <algorithm>
#include <cstring>

namespace storage {

bool DataBlockCache::Copy(std::uint64_t offset, std::uint8_t* out, std::size_t n) {
  if (capacity_ == 0) return false;
  const std::uint64_t end = offset + n;
  // Every block first, then the copy: a miss leaves the order alone.
  for (std::uint64_t b = offset / kBlockSize; b * kBlockSize < end; ++b) {
    const auto it = map_.find(b);
    if (it == map_.end()) return false;
    const std::uint64_t need = std::min<std::uint64_t>(end - b * kBlockSize, kBlockSize);
    if (it->second->valid < need) return false;
  }
  for (std::uint64_t b = offset / kBlockSize; b * kBlockSize < end; ++b) {
    const auto it = map_.find(b);
    const std::uint64_t start = std::max(offset, b * kBlockSize);
    const std::uint64_t stop = std::min(end, (b + 1) * kBlockSize);
    std::memcpy(out + (start - offset), it->second->bytes.get() + (start - b * kBlockSize),
                static_cast<std::size_t>(stop - start));
    if (it->second != lru_.begin()) lru_.splice(lru_.begin(), lru_, it->second);
  }
  return true;
}

void DataBlockCache::Store(std::uint64_t offset, const std::uint8_t* bytes, std::size_t got) {
  if (capacity_ == 0 || offset % kBlockSize != 0) return;
  for (std::size_t done = 0; done < got; done += kBlockSize) {
    const std::uint64_t number = (offset + done) / kBlockSize;
    const auto valid = static_cast<std::uint32_t>(std::min<std::size_t>(got - done, kBlockSize));
    auto it = map_.find(number);
    if (it == map_.end()) {
      if (map_.size() >= capacity_) {
        // The least recently used block's buffer is reused.
        lru_.splice(lru_.begin(), lru_, std::prev(lru_.end()));
        map_.erase(lru_.front().number);
      } else {
        lru_.emplace_front();
        lru_.front().bytes.reset(new std::uint8_t[kBlockSize]);
      }
      lru_.front().number = number;
      it = map_.emplace(number, lru_.begin()).first;
    } else if (it->second != lru_.begin()) {
      lru_.splice(lru_.begin(), lru_, it->second);
    }
    std::memcpy(it->second->bytes.get(), bytes + done, valid);
    it->second->valid = valid;
  }
}

void DataBlockCache::Drop(std::uint64_t offset, std::uint64_t n) {
  if (map_.empty()) return;
  const std::uint64_t first = offset / kBlockSize;
  const std::uint64_t last = (offset + std::max<std::uint64_t>(n, 1) - 1) / kBlockSize;
  if (last - first >= map_.size()) {
    for (auto it = lru_.begin(); it != lru_.end();) {
      if (it->number >= first && it->number <= last) {
        map_.erase(it->number);
        it = lru_.erase(it);
      } else {
        ++it;
      }
    }
    return;
  }
  for (std::uint64_t b = first; b <= last; ++b) {
    const auto it = map_.find(b);
    if (it == map_.end()) continue;
    lru_.erase(it->second);
    map_.erase(it);
  }
}

void DataBlockCache::Clear() {
  map_.clear();
  lru_.clear();
}

}  // namespace storage
