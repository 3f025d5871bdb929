#include "storage/blob_block.h"

#include <algorithm>
#include <cstring>

#include "storage/blob_file.h"
#include "storage/engine_error.h"

namespace storage {

TBlock::TBlock(TBlobFile* owner, std::uint32_t block_size)
    : owner_(owner),
      data_size_(block_size - kBlockHeaderSize),
      data_(std::make_unique<std::uint8_t[]>(block_size - kBlockHeaderSize)) {}

void TBlock::SetTotalLength(std::uint32_t v) {
  if (total_ != v) {
    total_ = v;
    dirty_ = true;
  }
}

void TBlock::SetRecordNumber(std::uint32_t v) {
  if (record_ != v) {
    record_ = v;
    dirty_ = true;
  }
}

void TBlock::SetPrevBlock(std::uint32_t v) {
  if (prev_ != v) {
    prev_ = v;
    dirty_ = true;
  }
}

void TBlock::SetNextBlock(std::uint32_t v) {
  if (next_ != v) {
    next_ = v;
    dirty_ = true;
  }
}

void TBlock::Save(Snapshot& s) const {
  s.dirty = dirty_;
  s.used = used_;
  s.record = record_;
  s.total = total_;
  s.prev = prev_;
  s.next = next_;
  s.data.assign(data_.get(), data_.get() + data_size_);
}

void TBlock::Restore(const Snapshot& s) {
  dirty_ = s.dirty;
  used_ = s.used;
  record_ = s.record;
  total_ = s.total;
  prev_ = s.prev;
  next_ = s.next;
  std::memcpy(data_.get(), s.data.data(), std::min<std::size_t>(data_size_, s.data.size()));
}

void TBlock::ClearBlock() {
  dirty_ = false;
  std::memset(data_.get(), 0, data_size_);
  used_ = 0;
  record_ = 0;
  total_ = 0;
  prev_ = 0;
  next_ = 0;
}

void TBlock::LoadBlock(std::span<std::uint8_t> image) {
  std::uint8_t* p = image.data();
  if (owner_->Owner()->IsEncrypted()) {
    owner_->Owner()->ScrambleContents(image.first(kBlockHeaderSize));
    owner_->Owner()->ScrambleContents(image.subspan(kBlockHeaderSize, data_size_));
  }
  prev_ = LoadLittle<std::uint32_t>(p + kBlockPrev);
  next_ = LoadLittle<std::uint32_t>(p + kBlockNext);
  used_ = LoadLittle<std::uint16_t>(p + kBlockUsed);
  record_ = LoadLittle<std::uint32_t>(p + kBlockRecord);
  total_ = LoadLittle<std::uint32_t>(p + kBlockTotal);
  std::memcpy(data_.get(), p + kBlockHeaderSize, data_size_);
  dirty_ = false;
}

void TBlock::StoreBlock(std::span<std::uint8_t> image) const {
  std::uint8_t* p = image.data();
  StoreLittle<std::uint32_t>(p + kBlockPrev, prev_);
  StoreLittle<std::uint32_t>(p + kBlockNext, next_);
  StoreLittle<std::uint16_t>(p + kBlockUsed, used_);
  StoreLittle<std::uint32_t>(p + kBlockRecord, record_);
  StoreLittle<std::uint32_t>(p + kBlockTotal, total_);
  std::memcpy(p + kBlockHeaderSize, data_.get(), data_size_);
  if (owner_->Owner()->IsEncrypted()) {
    owner_->Owner()->ScrambleContents(image.first(kBlockHeaderSize));
    owner_->Owner()->ScrambleContents(image.subspan(kBlockHeaderSize, data_size_));
  }
}

std::int32_t TBlock::ReadBlockData(std::int32_t offset, std::int32_t count, void* dest) const {
  const auto size = static_cast<std::int64_t>(data_size_);
  if (count < 0 || offset < 0 || count > size || offset + static_cast<std::int64_t>(count) > size) {
    owner_->BlobError(Code(ErrorCode::kInvalidBlobLength));
  }
  // bytes used comes from the file: never trust it past the data area.
  const std::int64_t used = std::min<std::int64_t>(used_, size);
  const std::int64_t avail = used > offset ? used - offset : 0;
  const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(count, avail));
  if (n > 0) std::memcpy(dest, data_.get() + offset, static_cast<std::size_t>(n));
  return n;
}

std::int32_t TBlock::WriteBlockData(std::int32_t offset, std::int32_t count, const void* src) {
  const auto size = static_cast<std::int64_t>(data_size_);
  if (count < 0 || offset < 0 || count > size || offset + static_cast<std::int64_t>(count) > size) {
    owner_->BlobError(Code(ErrorCode::kInvalidBlobLength));
  }
  if (count > 0) std::memcpy(data_.get() + offset, src, static_cast<std::size_t>(count));
  used_ = static_cast<std::uint16_t>(offset + count);
  dirty_ = true;
  return count;
}

void TBlock::PinBlock() {
  if (pins_ >= kMaxBlockPins) owner_->BlobError(Code(ErrorCode::kCorruptBlob));
  ++pins_;
}

}  // namespace storage
