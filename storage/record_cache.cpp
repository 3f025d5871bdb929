#include "storage/record_cache.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "storage/data_file.h"
#include "storage/data_file_format.h"
#include "storage/engine_error.h"

namespace storage {

TRecord::TRecord(TDataFile* owner, std::size_t size)
    : owner_(owner), size_(size), buffer_(std::make_unique<std::byte[]>(size)) {
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

TRecord* RecordCache::Find(std::uint32_t number) const { return by_number_.Find(number); }

TRecord* RecordCache::AddFront(std::size_t size) {
  list_.push_front(std::make_unique<TRecord>(owner_, size));
  TRecord* r = list_.front().get();
  r->pos_ = list_.begin();
  return r;
}

void RecordCache::MoveToFront(TRecord* r) {
  if (r->pos_ != list_.begin()) list_.splice(list_.begin(), list_, r->pos_);
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
  for (std::size_t left = list_.size(); left > 0; --left) {
    TRecord* r = list_.back().get();
    if (!r->InUse() && !r->modified) return r;
    list_.splice(list_.begin(), list_, std::prev(list_.end()));
  }
  return nullptr;
}

std::vector<TRecord*> RecordCache::All() const {
  std::vector<TRecord*> out;
  out.reserve(list_.size());
  for (const auto& r : list_) out.push_back(r.get());
  return out;
}

void RecordCache::Clear() {
  by_number_.Clear();
  list_.clear();
}

void RecordCache::TrimTo(std::size_t capacity) {
  auto it = list_.end();
  while (list_.size() > capacity && it != list_.begin()) {
    --it;
    TRecord* r = it->get();
    if (r->InUse() || r->modified) continue;
    if (r->number_ != 0) by_number_.Erase(r->number_);
    it = list_.erase(it);
  }
}

}  // namespace storage
