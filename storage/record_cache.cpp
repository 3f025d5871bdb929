#include "storage/record_cache.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "storage/data_file.h"
#include "storage/data_file_format.h"
#include "storage/engine_error.h"

namespace storage {

TRecord::TRecord(TDataFile* owner, std::byte* buffer, std::size_t size)
    : owner_(owner), size_(size), buffer_(buffer) {
  assert(size >= kRecordPrefixSize);
}

std::uint8_t TRecord::Status() const { return std::to_integer<std::uint8_t>(buffer_[0]); }

void TRecord::SetStatus(std::uint8_t status) {
  buffer_[0] = std::byte{status};
  modified = true;
}

std::uint32_t TRecord::FreeLink() const {
  return LoadLittle<std::uint32_t>(&buffer_[offsetof(PhysicalRecord, FreeLink)]);
}

void TRecord::SetFreeLink(std::uint32_t link) {
  StoreLittle<std::uint32_t>(&buffer_[offsetof(PhysicalRecord, FreeLink)], link);
  modified = true;
}

std::uint32_t TRecord::RecordId() const {
  return LoadLittle<std::uint32_t>(&buffer_[kRecordIdOffset]);
}

void TRecord::SetRecordId(std::uint32_t id) {
  StoreLittle<std::uint32_t>(&buffer_[kRecordIdOffset], id);
  modified = true;
}

void TRecord::CopyRecordData(std::span<const std::byte> other) {
  if (other.size() > kRecordPrefixSize) {
    const std::size_t n = std::min(other.size(), size_) - kRecordPrefixSize;
    std::memcpy(&buffer_[kRecordPrefixSize], other.data() + kRecordPrefixSize, n);
  }
  modified = true;
  computed = false;
}

void TRecord::AddUse() {
  if (uses_ >= kMaxUses) {
    EngineError(ErrorCode::kCorruptRecords, owner_ != nullptr ? owner_->FileName() : "");
  }
  ++uses_;
}

// ------------------------------------------------------------------ cache

namespace {
// Bytes of one block of buffers: a run of records read ahead fits a few
// blocks, and a small table's cache one.
constexpr std::size_t kBlockBytes = 64 * 1024;
}  // namespace

TRecord* RecordCache::Find(std::uint32_t number) const { return by_number_.Find(number); }

void RecordCache::Unlink(TRecord* r) {
  (r->prev_ != nullptr ? r->prev_->next_ : head_) = r->next_;
  (r->next_ != nullptr ? r->next_->prev_ : tail_) = r->prev_;
  r->prev_ = r->next_ = nullptr;
}

void RecordCache::PushFront(TRecord* r) {
  r->prev_ = nullptr;
  r->next_ = head_;
  (head_ != nullptr ? head_->prev_ : tail_) = r;
  head_ = r;
}

TRecord* RecordCache::AddFront(std::size_t size) {
  TRecord* r;
  if (free_ != nullptr && free_->size_ == size) {
    r = free_;
    free_ = r->next_;
    std::memset(r->buffer_, 0, size);
    r->uses_ = 0;
    r->modified = false;
    r->computed = false;
  } else {
    const std::size_t room = (size + 7) & ~std::size_t{7};
    if (block_left_ < room) {
      block_size_ = std::max(kBlockBytes, room);
      blocks_.push_back(std::make_unique<std::byte[]>(block_size_));  // zero-filled
      block_left_ = block_size_;
    }
    std::byte* bytes = blocks_.back().get() + (block_size_ - block_left_);
    block_left_ -= room;
    r = &records_.emplace_back(owner_, bytes, size);
  }
  PushFront(r);
  ++count_;
  return r;
}

void RecordCache::MoveToFront(TRecord* r) {
  if (r == head_) return;
  Unlink(r);
  PushFront(r);
}

void RecordCache::SetNumber(TRecord* r, std::uint32_t number) {
  if (r->number_ == number) return;
  if (r->number_ != 0) by_number_.Erase(r->number_);
  r->number_ = number;
  if (number == 0) return;
  // Invariant (1): whoever held the number before gives it up.
  TRecord* before = by_number_.Assign(number, r);
  if (before != nullptr && before != r) before->number_ = 0;
}

TRecord* RecordCache::FindRecyclable() {
  for (std::size_t left = count_; left > 0; --left) {
    TRecord* r = tail_;
    if (!r->InUse() && !r->modified) return r;
    MoveToFront(r);
  }
  return nullptr;
}

std::vector<TRecord*> RecordCache::All() const {
  std::vector<TRecord*> out;
  out.reserve(count_);
  for (TRecord* r = head_; r != nullptr; r = r->next_) out.push_back(r);
  return out;
}

void RecordCache::Clear() {
  by_number_.Clear();
  head_ = tail_ = free_ = nullptr;
  count_ = 0;
  records_.clear();
  blocks_.clear();
  block_size_ = block_left_ = 0;
}

void RecordCache::TrimTo(std::size_t capacity) {
  for (TRecord* r = tail_; r != nullptr && count_ > capacity;) {
    TRecord* before = r->prev_;
    if (!r->InUse() && !r->modified) {
      if (r->number_ != 0) by_number_.Erase(r->number_);
      r->number_ = 0;
      Unlink(r);
      --count_;
      r->next_ = free_;
      free_ = r;
    }
    r = before;
  }
}

}  // namespace storage
