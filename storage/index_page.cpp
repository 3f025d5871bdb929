#include "storage/index_page.h"

#include <algorithm>
#include <bit>

namespace storage {

namespace {

bool LinkOk(std::uint32_t link, std::uint32_t end_offset) {
  return link == 0 ||
         (link % kIndexBlockSize == 0 && link >= kIndexBlockSize && link < end_offset);
}

}  // namespace

void TPage::Format(std::uint16_t key_size, bool compressed) {
  WholeChanging();
  key_size_ = key_size;
  compressed_ = compressed;
  Clear();
}

void TPage::Clear() {
  WholeChanging();
  type_ = 0;
  count_ = 0;
  prev_ = next_ = 0;
  bytes_used_ = 0;
  dirty_ = false;
  free_page = false;
}

void TPage::Save(Snapshot& s) const {
  s.key_size = key_size_;
  s.compressed = compressed_;
  s.type = type_;
  s.count = count_;
  s.prev = prev_;
  s.next = next_;
  s.bytes_used = bytes_used_;
  s.dirty = dirty_;
  s.free_page = free_page;
  s.entries.assign(entries_.begin(), entries_.begin() + static_cast<std::ptrdiff_t>(Stride() * count_));
}

void TPage::Restore(const Snapshot& s) {
  key_size_ = s.key_size;
  compressed_ = s.compressed;
  type_ = s.type;
  count_ = s.count;
  prev_ = s.prev;
  next_ = s.next;
  bytes_used_ = s.bytes_used;
  dirty_ = s.dirty;
  free_page = s.free_page;
  Reserve(count_);
  std::copy(s.entries.begin(), s.entries.end(), entries_.begin());
  // Bytes past the last entry stay zero (Store packs only the entries, but
  // the unpacked array is kept clean all the same).
  std::fill(entries_.begin() + static_cast<std::ptrdiff_t>(s.entries.size()), entries_.end(), 0);
}

std::uint16_t TPage::SharedPrefix(int i) const {
  if (i == 0) return 0;
  const std::uint8_t* a = Slot(i - 1);
  const std::uint8_t* b = Slot(i);
  std::uint16_t n = 0;
  // Eight bytes at a time (a page load recomputes every prefix): the first
  // differing byte is the lowest set byte of the words' difference when
  // they are read little-endian.
  for (; n + 8 <= key_size_; n = static_cast<std::uint16_t>(n + 8)) {
    std::uint64_t x, y;
    std::memcpy(&x, a + n, 8);
    std::memcpy(&y, b + n, 8);
    if (x == y) continue;
    if constexpr (std::endian::native == std::endian::little) {
      return static_cast<std::uint16_t>(n + std::countr_zero(x ^ y) / 8);
    }
    break;
  }
  while (n < key_size_ && a[n] == b[n]) ++n;
  return n;
}

void TPage::FixPrefix(int i) {
  if (i < 0 || i >= count_) return;
  std::uint16_t old = Prefix(i);
  std::uint16_t now = SharedPrefix(i);
  StoreLittle<std::uint16_t>(Slot(i) + key_size_ + 8, now);
  bytes_used_ = bytes_used_ + old - now;
}

void TPage::RecomputePrefixes() {
  bytes_used_ = 0;
  for (int i = 0; i < count_; ++i) {
    std::uint16_t p = SharedPrefix(i);
    StoreLittle<std::uint16_t>(Slot(i) + key_size_ + 8, p);
    bytes_used_ += 2u + key_size_ - p + 4u;
  }
}

bool TPage::Load(const std::uint8_t* buf, std::uint32_t end_offset) {
  Clear();
  free_page = false;
  std::uint8_t type = buf[kPageType];
  if (type > 3) return false;
  type_ = type;
  int count = LoadLittle<std::uint16_t>(buf + kPageCount);
  prev_ = LoadLittle<std::uint32_t>(buf + kPagePrev);
  next_ = LoadLittle<std::uint32_t>(buf + kPageNext);
  if (!LinkOk(prev_, end_offset) || !LinkOk(next_, end_offset)) return false;
  const std::size_t k = key_size_;
  const std::uint8_t* p = buf + kPageEntries;
  const std::uint8_t* end = buf + kIndexBlockSize;
  if (CompressedLeaf()) {
    if (LoadLittle<std::uint16_t>(buf + kPageBytesUsed) > kPageEntryArea) return false;
    // Smallest entry is 2 + 0 + 4 bytes.
    if (count > static_cast<int>(kPageEntryArea / 6)) return false;
    Reserve(count);
    for (int i = 0; i < count; ++i) {
      if (end - p < 2) return false;
      std::size_t shared = LoadLittle<std::uint16_t>(p);
      if (shared > k || (i == 0 && shared != 0)) return false;
      p += 2;
      std::size_t rest = k - shared;
      if (static_cast<std::size_t>(end - p) < rest + 4) return false;
      std::uint8_t* slot = Slot(i);
      if (shared > 0) std::memcpy(slot, Slot(i - 1), shared);
      std::memcpy(slot + shared, p, rest);
      p += rest;
      std::memcpy(slot + k, p, 4);
      p += 4;
      StoreLittle<std::uint32_t>(slot + k + 4, 0);
      StoreLittle<std::uint16_t>(slot + k + 8, 0);
    }
    count_ = count;
    RecomputePrefixes();
    if (bytes_used_ > kPageEntryArea) return false;
  } else {
    const std::size_t width = IsLeaf() ? k + 4 : k + 8;
    if (count > Capacity()) return false;
    Reserve(count);
    for (int i = 0; i < count; ++i) {
      std::uint8_t* slot = Slot(i);
      std::memcpy(slot, p, width);
      if (IsLeaf()) StoreLittle<std::uint32_t>(slot + k + 4, 0);
      StoreLittle<std::uint16_t>(slot + k + 8, 0);
      if (!IsLeaf()) {
        std::uint32_t child = LoadLittle<std::uint32_t>(slot + k);
        if (child == 0 || !LinkOk(child, end_offset)) return false;
      }
      p += width;
    }
    count_ = count;
  }
  dirty_ = false;
  return true;
}

bool TPage::LoadFreeLink(const std::uint8_t* buf, std::uint32_t end_offset) {
  Clear();
  std::uint32_t next = LoadLittle<std::uint32_t>(buf + kPageNext);
  if (!LinkOk(next, end_offset)) return false;
  next_ = next;
  free_page = true;
  return true;
}

bool TPage::Store(std::uint8_t* buf) const {
  std::memset(buf, 0, kIndexBlockSize);
  buf[kPageType] = type_;
  StoreLittle<std::uint16_t>(buf + kPageCount, static_cast<std::uint16_t>(count_));
  StoreLittle<std::uint32_t>(buf + kPagePrev, prev_);
  StoreLittle<std::uint32_t>(buf + kPageNext, next_);
  const std::size_t k = key_size_;
  std::uint8_t* p = buf + kPageEntries;
  if (CompressedLeaf()) {
    if (bytes_used_ > kPageEntryArea) return false;
    StoreLittle<std::uint16_t>(buf + kPageBytesUsed, static_cast<std::uint16_t>(bytes_used_));
    for (int i = 0; i < count_; ++i) {
      const std::uint8_t* slot = Slot(i);
      std::uint16_t shared = Prefix(i);
      StoreLittle<std::uint16_t>(p, shared);
      p += 2;
      std::memcpy(p, slot + shared, k - shared);
      p += k - shared;
      std::memcpy(p, slot + k, 4);
      p += 4;
    }
  } else {
    if (count_ > Capacity()) return false;
    const std::size_t width = IsLeaf() ? k + 4 : k + 8;
    for (int i = 0; i < count_; ++i) {
      std::memcpy(p, Slot(i), width);
      p += width;
    }
  }
  return true;
}

void TPage::SetKey(int i, const std::uint8_t* key) {
  if (undo_recorder) {
    // A compressed leaf's neighbour changes its prefix too.
    if (CompressedLeaf()) {
      WholeChanging();
    } else {
      undo_recorder->EntryChanging(*this, i);
    }
  }
  std::memcpy(Slot(i), key, key_size_);
  dirty_ = true;
  if (CompressedLeaf()) {
    FixPrefix(i);
    FixPrefix(i + 1);
  }
}

std::uint32_t TPage::Total() const {
  if (IsLeaf()) return static_cast<std::uint32_t>(count_);
  std::uint32_t t = 0;
  for (int i = 0; i < count_; ++i) t += SubCount(i);
  return t;
}

std::uint32_t TPage::CountBefore(int i) const {
  if (IsLeaf()) return static_cast<std::uint32_t>(i);
  std::uint32_t t = 0;
  for (int j = 0; j < i && j < count_; ++j) t += SubCount(j);
  return t;
}

void TPage::InsertAt(int i, const std::uint8_t* key, std::uint32_t link, std::uint32_t sub_count) {
  Reserve(count_ + 1);
  std::uint8_t* slot = Slot(i);
  if (i < count_) std::memmove(Slot(i + 1), slot, Stride() * (count_ - i));
  std::memcpy(slot, key, key_size_);
  StoreLittle<std::uint32_t>(slot + key_size_, link);
  StoreLittle<std::uint32_t>(slot + key_size_ + 4, IsLeaf() ? 0 : sub_count);
  ++count_;
  dirty_ = true;
  if (CompressedLeaf()) {
    // The new entry counts in full first; FixPrefix takes its prefix off.
    StoreLittle<std::uint16_t>(slot + key_size_ + 8, 0);
    bytes_used_ += 2u + key_size_ + 4u;
    FixPrefix(i);
    FixPrefix(i + 1);
  }
  if (undo_recorder) undo_recorder->EntryInserted(*this, i);
}

void TPage::RemoveAt(int i) {
  if (undo_recorder) undo_recorder->EntryRemoving(*this, i);
  if (CompressedLeaf()) bytes_used_ -= 2u + key_size_ - Prefix(i) + 4u;
  if (i + 1 < count_) std::memmove(Slot(i), Slot(i + 1), Stride() * (count_ - i - 1));
  --count_;
  dirty_ = true;
  if (CompressedLeaf()) FixPrefix(i);
}

void TPage::MoveTailTo(TPage& dst, int n) {
  if (n <= 0) return;
  WholeChanging();
  dst.WholeChanging();
  dst.Reserve(dst.count_ + n);
  std::memmove(dst.Slot(n), dst.Slot(0), Stride() * dst.count_);
  std::memcpy(dst.Slot(0), Slot(count_ - n), Stride() * n);
  dst.count_ += n;
  count_ -= n;
  dirty_ = dst.dirty_ = true;
  if (CompressedLeaf()) RecomputePrefixes();
  if (dst.CompressedLeaf()) dst.RecomputePrefixes();
}

void TPage::MoveHeadTo(TPage& dst, int n) {
  if (n <= 0) return;
  WholeChanging();
  dst.WholeChanging();
  dst.Reserve(dst.count_ + n);
  std::memcpy(dst.Slot(dst.count_), Slot(0), Stride() * n);
  dst.count_ += n;
  std::memmove(Slot(0), Slot(n), Stride() * (count_ - n));
  count_ -= n;
  dirty_ = dst.dirty_ = true;
  if (CompressedLeaf()) RecomputePrefixes();
  if (dst.CompressedLeaf()) dst.RecomputePrefixes();
}

}  // namespace storage
