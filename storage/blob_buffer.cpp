// TBlobBuffer, and the open-value table and chain check of TBlobFile.
#include "storage/blob_buffer.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <new>
#include <unordered_set>

#include "storage/blob_file.h"
#include "storage/engine_error.h"

namespace storage {

namespace {

constexpr std::uint16_t kCorrupt = Code(ErrorCode::kCorruptBlob);
constexpr std::uint16_t kBadHandle = Code(ErrorCode::kInvalidBlobHandle);
// Freeing a chain that leads somewhere it must not (outside a repair).
constexpr std::uint16_t kBadOffset = Code(ErrorCode::kInvalidBlobOffset);

// Handle numbers: drawn once, never reused while the process runs. 0 means
// "used up" (after 2^31 - 1 opens).
std::int32_t NextHandle() {
  static std::atomic<std::int32_t> next{1};
  std::int32_t h = next.load();
  do {
    if (h == INT32_MAX) return 0;
  } while (!next.compare_exchange_weak(h, h + 1));
  return h;
}

}  // namespace

TBlobBuffer::TBlobBuffer(TBlobFile* owner, std::uint16_t field_number, std::uint32_t first_block)
    : owner_(owner), handle_(NextHandle()), field_(field_number), first_(first_block) {}

void TBlobBuffer::SetBlobBufferSize(std::int32_t n) {
  const std::int32_t want = std::max(n, 0);
  if (want == Size()) return;
  modified_ = true;
  try {
    if (want == 0) {
      std::vector<std::uint8_t>().swap(data_);
    } else {
      data_.resize(static_cast<std::size_t>(want), 0);
    }
  } catch (const std::bad_alloc&) {
    owner_->BlobError(Code(ErrorCode::kNoMemory));
  }
}

std::uint16_t TBlobBuffer::ReadBlobChain(std::uint32_t expected_record) {
  if (first_ == 0) return 0;
  TBlobFile& f = *owner_;
  BlockPin block = f.GetChainBlock(first_);
  if (expected_record != 0 && block->RecordNumber() != expected_record) f.BlobError(kCorrupt);
  const std::uint32_t owner_record = block->RecordNumber();
  record_ = owner_record;
  const std::uint32_t total = block->TotalLength();
  if (total > static_cast<std::uint32_t>(INT32_MAX)) f.BlobError(kCorrupt);
  const std::int64_t data_size = f.GetBlockDataSize();

  // The stored length is only a claim: memory grows block by block with
  // what the chain really delivers.
  std::vector<std::uint8_t>().swap(data_);
  std::unordered_set<std::uint32_t> seen{first_};
  std::int64_t pos = 0;
  try {
    while (pos < total) {
      const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(data_size, total - pos));
      data_.resize(static_cast<std::size_t>(pos + n));
      const std::int32_t got = block->ReadBlockData(0, n, data_.data() + pos);
      data_.resize(static_cast<std::size_t>(pos + got));
      if (got == 0 || got != n) break;
      pos += got;
      if (pos == total) break;
      const std::uint32_t next = block->NextBlock();
      if (next == 0) break;
      if (!f.IsBlockOffset(next) || !seen.insert(next).second) f.BlobError(kCorrupt);
      BlockPin next_block = f.GetBlock(next);
      if (next_block->RecordNumber() != owner_record) f.BlobError(kCorrupt);
      block = std::move(next_block);
    }
  } catch (const std::bad_alloc&) {
    f.BlobError(Code(ErrorCode::kNoMemory));
  }
  modified_ = false;
  return pos == total ? 0 : Code(ErrorCode::kBlobEnded);
}

void TBlobBuffer::WriteBlobChain() {
  if (data_.empty()) return;
  TBlobFile& f = *owner_;
  const std::int64_t data_size = f.GetBlockDataSize();
  const auto size = static_cast<std::int64_t>(data_.size());
  BlockPin block;
  if (first_ != 0) {
    block = f.GetChainBlock(first_);
    if (block->RecordNumber() != record_) f.BlobError(kCorrupt);
  } else {
    block = f.AllocateBlock();
    first_ = block->Offset();
    block->SetRecordNumber(record_);
  }
  // Blocks of this chain: none may be reached twice, whether through an old
  // next pointer or through the free list.
  std::unordered_set<std::uint32_t> seen{block->Offset()};
  block->SetTotalLength(static_cast<std::uint32_t>(size));
  block->SetPrevBlock(0);
  std::int64_t pos = 0;
  while (pos < size) {
    const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(data_size, size - pos));
    const std::int32_t w = block->WriteBlockData(0, n, data_.data() + pos);
    if (w == 0 || w != n) break;
    pos += w;
    if (pos == size) break;
    BlockPin next_block;
    const std::uint32_t next = block->NextBlock();
    if (next != 0) {
      if (!f.IsBlockOffset(next) || seen.count(next) != 0) f.BlobError(kCorrupt);
      next_block = f.GetBlock(next);
      if (next_block->RecordNumber() != record_) f.BlobError(kCorrupt);
    } else {
      next_block = f.AllocateBlock();
      if (seen.count(next_block->Offset()) != 0) f.BlobError(kCorrupt);
    }
    seen.insert(next_block->Offset());
    block->SetNextBlock(next_block->Offset());
    next_block->SetPrevBlock(block->Offset());
    next_block->SetRecordNumber(record_);
    next_block->SetTotalLength(0);
    block = std::move(next_block);
  }
  if (pos != size) f.BlobError(Code(ErrorCode::kBlobEnded));
  if (const std::uint32_t rest = block->NextBlock(); rest != 0) {
    // The old chain was longer: cut it here first, so that a damaged rest
    // leaks at worst, then free the rest without re-entering this chain.
    block->SetNextBlock(0);
    if (!f.IsBlockOffset(rest) || seen.count(rest) != 0) {
      if (!f.Owner()->Repairing()) f.BlobError(kBadOffset);
    } else {
      BlockPin rest_block = f.GetBlock(rest);
      if (rest_block->RecordNumber() != record_) {
        if (!f.Owner()->Repairing()) f.BlobError(kBadOffset);
      } else {
        f.FreeChain(std::move(rest_block), record_, seen, f.Owner()->Repairing());
      }
    }
  }
  modified_ = false;
}

void TBlobBuffer::FreeBlobValue() {
  if (first_ == 0) return;
  const std::uint32_t first = first_;
  owner_->FreeBlobChainAt(first_, record_);
  first_ = 0;
  owner_->ForgetChain(first, this);
}

void TBlobBuffer::DetachChain() {
  first_ = 0;
  record_ = 0;
  modified_ = true;
}

// ---------------------------------------------------------------- open values

TBlobBuffer* TBlobFile::FindBlob(std::int32_t handle) const {
  if (handle <= 0) return nullptr;
  for (const auto& b : open_) {
    if (b->Handle() == handle) return b.get();
  }
  return nullptr;
}

bool TBlobFile::IsOpenBlob(std::int32_t handle) const { return FindBlob(handle) != nullptr; }

std::uint16_t TBlobFile::OpenBlob(std::uint32_t first_block, std::uint16_t field_number,
                                  std::int32_t& handle, std::uint32_t expected_record) {
  if (open_.size() >= static_cast<std::size_t>(kMaxOpenBlobs)) {
    return Code(ErrorCode::kTooManyBlobs);
  }
  auto buffer = std::make_unique<TBlobBuffer>(this, field_number, first_block);
  if (buffer->Handle() == 0) return Code(ErrorCode::kTooManyBlobs);
  // Loaded before it is registered: a chain that fails leaves no buffer.
  if (const std::uint16_t rc = buffer->ReadBlobChain(expected_record); rc != 0) return rc;
  handle = buffer->Handle();
  open_.push_back(std::move(buffer));
  return 0;
}

std::uint16_t TBlobFile::CloseBlob(std::int32_t handle, std::uint32_t* first_block) {
  for (auto it = open_.begin(); it != open_.end(); ++it) {
    if ((*it)->Handle() == handle && handle > 0) {
      if (first_block) *first_block = (*it)->FirstBlock();
      open_.erase(it);
      return 0;
    }
  }
  return kBadHandle;
}

std::uint16_t TBlobFile::ReadBlob(std::int32_t handle, std::int32_t offset,
                                  std::int32_t& bytes_read, std::int32_t count, void* dest) {
  bytes_read = 0;
  TBlobBuffer* b = FindBlob(handle);
  if (!b) return kBadHandle;
  if (offset < 0 || (count > 0 && offset > INT32_MAX - count)) {
    return Code(ErrorCode::kInvalidBlobOffset);
  }
  if (count < 0) return Code(ErrorCode::kInvalidBlobLength);
  const std::int32_t size = b->Size();
  if (offset + count <= size) {
    if (count > 0) std::memcpy(dest, b->GetBlobBufferData() + offset, static_cast<std::size_t>(count));
    bytes_read = count;
    return 0;
  }
  if (offset < size) {
    bytes_read = size - offset;
    std::memcpy(dest, b->GetBlobBufferData() + offset, static_cast<std::size_t>(bytes_read));
  }
  return Code(ErrorCode::kBlobEnded);
}

std::uint16_t TBlobFile::WriteBlob(std::int32_t handle, std::int32_t offset, std::int32_t count,
                                   const void* src) {
  TBlobBuffer* b = FindBlob(handle);
  if (!b) return kBadHandle;
  if (offset < 0 || (count > 0 && offset > INT32_MAX - count)) {
    return Code(ErrorCode::kInvalidBlobOffset);
  }
  if (count < 0) return Code(ErrorCode::kInvalidBlobLength);
  if (offset + count > b->Size()) b->SetBlobBufferSize(offset + count);
  if (count > 0) std::memcpy(b->GetBlobBufferData() + offset, src, static_cast<std::size_t>(count));
  b->SetModified(true);
  return 0;
}

std::uint16_t TBlobFile::TruncateBlob(std::int32_t handle, std::int32_t new_size) {
  TBlobBuffer* b = FindBlob(handle);
  if (!b) return kBadHandle;
  b->SetBlobBufferSize(new_size);
  return 0;
}

std::uint16_t TBlobFile::GetBlobSize(std::int32_t handle, std::int32_t& size) {
  size = 0;
  TBlobBuffer* b = FindBlob(handle);
  if (!b) return kBadHandle;
  size = b->Size();
  return 0;
}

void TBlobFile::CloseAllBlobs() { open_.clear(); }

void TBlobFile::ForgetChain(std::uint32_t first_block, const TBlobBuffer* except) {
  if (first_block == 0) return;
  for (auto& b : open_) {
    if (b.get() != except && b->FirstBlock() == first_block) b->DetachChain();
  }
}

void TBlobFile::SetBlobRecordNumbers(std::uint32_t record_number) {
  for (auto& b : open_) b->SetRecordNumber(record_number);
}

void TBlobFile::SaveModifiedBlobs() {
  bool any = false;
  std::uint32_t record = 0;
  for (auto& b : open_) {
    if (!b->Modified()) continue;
    if (any && b->RecordNumber() != record) BlobError(kCorrupt);
    any = true;
    record = b->RecordNumber();
  }
  for (auto& b : open_) {
    if (!b->Modified()) continue;
    if (b->Size() > 0) {
      b->WriteBlobChain();
    } else {
      b->FreeBlobValue();
      b->SetModified(false);
    }
  }
}

void TBlobFile::StoreBlobReferences(
    const std::function<void(std::uint16_t, std::uint32_t)>& store) const {
  for (const auto& b : open_) store(b->FieldNumber(), b->FirstBlock());
}

// ---------------------------------------------------------------- repair

void TBlobFile::VerifyBlobChain(std::uint32_t& first_block, std::uint32_t record_number) {
  if (first_block == 0) return;
  static constexpr const char* kInvalidOffset =
      "Invalid BLOB offset into BLOB file for physical record # ";
  static constexpr const char* kInvalidPointer =
      "Invalid intra-block pointer in BLOB file for physical record # ";
  static constexpr const char* kRecursive =
      "Recursive intra-block pointer in BLOB file for physical record # ";
  if (!IsBlockOffset(first_block)) {
    RepairLog(kInvalidOffset, record_number);
    first_block = 0;
    return;
  }
  BlockPin block = GetBlock(first_block);
  if (block->RecordNumber() != record_number) {
    RepairLog(kInvalidOffset, record_number);
    first_block = 0;
    return;
  }
  const std::uint32_t total = block->TotalLength();
  block->SetPrevBlock(0);
  std::unordered_set<std::uint32_t> seen{first_block};
  if (total < 1) {
    FreeChain(std::move(block), record_number, seen, true);
    first_block = 0;
    return;
  }
  const std::uint32_t data_size = GetBlockDataSize();
  auto used = [&](const TBlock* b) { return std::min<std::uint32_t>(b->BytesUsed(), data_size); };
  std::uint64_t sum = 0;
  while (block->NextBlock() != 0) {
    const std::uint32_t next = block->NextBlock();
    const char* bad = nullptr;
    BlockPin next_block;
    if (static_cast<std::int32_t>(next) < 0 || !IsBlockOffset(next)) {
      bad = kInvalidPointer;
    } else if (seen.count(next) != 0) {
      bad = kRecursive;  // any cycle, not only a block pointing at itself
    } else {
      next_block = GetBlock(next);
      if (next_block->PinCount() > 1) {
        bad = kRecursive;
      } else if (next_block->RecordNumber() != record_number) {
        bad = kInvalidPointer;
      }
    }
    if (bad != nullptr) {
      RepairLog(bad, record_number);
      block->SetNextBlock(0);
      break;
    }
    sum += used(block.get());
    next_block->SetPrevBlock(block->Offset());
    seen.insert(next);
    block = std::move(next_block);
  }
  sum += used(block.get());
  block.reset();
  if (sum != total) {
    BlockPin first = GetBlock(first_block);
    first->SetTotalLength(static_cast<std::uint32_t>(std::min<std::uint64_t>(sum, UINT32_MAX)));
    RepairLog("BLOB size mismatch in BLOB file for physical record # ", record_number);
  }
}

}  // namespace storage
