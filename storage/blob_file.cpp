#include "storage/blob_file.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "platform/text.h"
#include "storage/engine_error.h"
#include "storage/fault_injection.h"
#include "storage/table_locks.h"
#include "storage/table_names.h"

namespace storage {

namespace {

constexpr std::uint16_t kCorrupt = Code(ErrorCode::kCorruptBlob);
// A chain being freed that leads somewhere it must not (outside a repair).
constexpr std::uint16_t kBadOffset = Code(ErrorCode::kInvalidBlobOffset);

}  // namespace

TBlobFile::TBlobFile(BlobFileOwner* owner) : owner_(owner) {}

TBlobFile::~TBlobFile() { Close(); }

void TBlobFile::BlobError(std::uint16_t code) const { EngineError(code, owner_->DataFileName()); }

std::string TBlobFile::NormaliseFileName(std::string_view name) {
  return TableFileName(name, kBlobExtension);
}

void TBlobFile::TakeBlockSize() {
  const std::uint32_t b = EffectiveBlobBlockSize(owner_->BlobBlockSizeField());
  // The data file refuses smaller sizes at creation: a smaller one is a
  // damaged header, and would leave no room for the block header.
  if (b < kBlobMinBlockSize) BlobError(kCorrupt);
  if (b != block_size_) FreeAllBlocks();  // block objects are sized by B
  block_size_ = b;
  capacity_ = NormalCapacity();
}

std::uint32_t TBlobFile::NormalCapacity() const {
  return std::min(kBlockCacheBytes / block_size_, kMaxCachedBlocks);
}

void TBlobFile::Open() {
  if (IsOpen()) return;
  TakeBlockSize();
  TFileHandler::Open();
  try {
    header_checked_ = false;
    ReadBlobHeader();
    if (Exclusive() || ForcedReadOnly()) header_checked_ = true;
    capacity_ = NormalCapacity();
    if (Version() != kBlobVersion) BlobError(Code(ErrorCode::kWrongVersion));
  } catch (...) {
    TFileHandler::Close();
    throw;
  }
}

void TBlobFile::Close() {
  if (!IsOpen()) return;
  CloseAllBlobs();
  if (Exclusive() && !ReadOnly()) {
    try {
      ClearAllPins();
      FlushBlob();
    } catch (...) {
      // Close never fails; a write error was the caller's to see earlier.
    }
  }
  FreeAllBlocks();
  header_checked_ = false;
  header_dirty_ = false;
  TFileHandler::Close();
}

void TBlobFile::CreateFile() {
  TakeBlockSize();
  TFileHandler::CreateFile();
  try {
    header_.fill(0);
    header_[kHeaderVersion] = kBlobVersion;
    StoreLittle<std::uint32_t>(&header_[kHeaderFreeHead], 0);
    StoreLittle<std::uint32_t>(&header_[kHeaderEndOffset], kBlobHeaderSize);
    end_beyond_file_ = false;
    FreeAllBlocks();
    WriteBlobHeader();
    header_checked_ = true;
  } catch (...) {
    TFileHandler::Close();
    throw;
  }
}

// ---------------------------------------------------------------- header

void TBlobFile::Scramble(std::uint8_t* p, std::size_t n) const {
  if (owner_->IsEncrypted()) owner_->ScrambleContents(std::span<std::uint8_t>(p, n));
}

void TBlobFile::ReadBlobHeader() {
  std::array<std::uint8_t, kBlobHeaderSize> image{};
  // A file shorter than its header: the exclusive handler returns the short
  // count, the shared one raises 9217 itself.
  if (ReadAt(0, image.data(), kBlobHeaderSize) != static_cast<std::int32_t>(kBlobHeaderSize)) {
    BlobError(Code(ErrorCode::kHeaderError));
  }
  Scramble(image.data(), image.size());
  header_ = image;
  header_dirty_ = false;
  end_beyond_file_ = GetEndOffset() > GetFileSize();
}

void TBlobFile::WriteBlobHeader() {
  StoreLittle<std::uint32_t>(&header_[kHeaderCounter], ChangeCounter() + 1);
  std::array<std::uint8_t, kBlobHeaderSize> image = header_;
  Scramble(image.data(), image.size());
  WriteAt(0, image.data(), kBlobHeaderSize);
  header_dirty_ = false;
}

void TBlobFile::CheckBlobHeaderChanged() {
  if (header_checked_ || !IsOpen()) return;
  std::uint8_t counter[4] = {};
  const std::int32_t got = ReadAt(0, counter, 4);
  Scramble(counter, 4);
  if (got == 4 && LoadLittle<std::uint32_t>(counter) == ChangeCounter()) return;
  ReadBlobHeader();
  ResetBlobBlocks();
}

void TBlobFile::ResetCaches(bool trim) {
  if (!IsOpen()) return;
  ResetBlobBlocks();
  if (trim) ResetBlockCacheSize();
  ReadBlobHeader();
}

void TBlobFile::SetFreeListHead(std::uint32_t offset) {
  if (GetFreeListHead() != offset) {
    StoreLittle<std::uint32_t>(&header_[kHeaderFreeHead], offset);
    header_dirty_ = true;
  }
}

void TBlobFile::SetEndOffset(std::uint32_t offset) {
  if (GetEndOffset() != offset) {
    StoreLittle<std::uint32_t>(&header_[kHeaderEndOffset], offset);
    header_dirty_ = true;
  }
}

void TBlobFile::TruncateBlobFile() {
  ResetBlobBlocks();
  WriteAt(kBlobHeaderSize, nullptr, 0);
  header_[kHeaderVersion] = kBlobVersion;
  SetEndOffset(kBlobHeaderSize);
  SetFreeListHead(0);
  header_dirty_ = true;
  end_beyond_file_ = false;
}

void TBlobFile::AlignBlobFile() {
  std::int64_t size = GetFileSize();
  if (size > kBlobHeaderSize) {
    const std::int64_t r = (size - kBlobHeaderSize) % block_size_;
    if (r != 0) {
      owner_->DoRepairLog("BLOB blocks not aligned on even block size boundaries, error fixed");
      size -= r;
      WriteAt(size, nullptr, 0);
    }
  }
  // A file cut inside its header still gets its first block at 512: a new
  // block must never land on the header. Offsets are 32-bit.
  const std::int64_t top = 0xFFFFFFFFLL - block_size_ + 1;
  std::int64_t end = std::max<std::int64_t>(size, kBlobHeaderSize);
  if (end > top) end = top - (top - kBlobHeaderSize) % block_size_;
  // Cached blocks at or past the new end no longer exist.
  for (auto& b : cache_) {
    if (b->Offset() != 0 && b->Offset() >= end) {
      Forget(b.get());
      Vacate(b.get());
    }
  }
  header_[kHeaderVersion] = kBlobVersion;
  SetFreeListHead(0);
  SetEndOffset(static_cast<std::uint32_t>(end));
  header_dirty_ = true;
  end_beyond_file_ = false;
}

// ---------------------------------------------------------------- cache

void TBlobFile::Forget(TBlock* block) {
  if (block->Offset() != 0) index_.erase(block->Offset());
}

void TBlobFile::Vacate(TBlock* b) {
  b->ClearPins();
  b->ClearBlock();
  b->SetOffset(0);
  b->undo_stamp = 0;
}

void TBlobFile::MoveToFront(CacheList::iterator it) {
  if (it != cache_.begin()) cache_.splice(cache_.begin(), cache_, it);
}

TBlock* TBlobFile::TakeSlot() {
  if (FaultHit(FaultSite::kCacheSlot)) BlobError(kCorrupt);
  if (cache_.size() >= capacity_ && owner_->InBatch()) capacity_ += kBatchCacheGrowth;
  if (cache_.size() < capacity_) {
    cache_.push_front(std::make_unique<TBlock>(this, block_size_));
    return cache_.front().get();
  }
  return EvictBlock();
}

TBlock* TBlobFile::EvictBlock() {
  for (int attempt = 0; attempt < 2; ++attempt) {
    for (auto it = cache_.end(); it != cache_.begin();) {
      --it;
      TBlock* b = it->get();
      if (!b->Dirty() && b->PinCount() == 0) {
        Forget(b);
        Vacate(b);
        MoveToFront(it);
        return b;
      }
    }
    if (attempt == 0) {
      if (undo_active_) {
        if (!WriteDirtyBlocks(true)) break;
        undo_flushed_ = true;
        header_dirty_ = true;
      } else {
        if (!FlushBlobBlocks()) break;
        WriteBlobHeader();
      }
    }
  }
  if (undo_active_) {
    cache_.push_front(std::make_unique<TBlock>(this, block_size_));
    return cache_.front().get();
  }
  BlobError(kCorrupt);
}

TBlock* TBlobFile::ReadBlock(std::uint32_t offset) {
  TBlock* b = TakeSlot();
  std::vector<std::uint8_t> image(block_size_);
  // A block the header promises but the file does not hold is damage,
  // whatever the sharing mode.
  const std::int64_t size = GetFileSize();
  if (static_cast<std::int64_t>(offset) + block_size_ > size) BlobError(kCorrupt);
  if (ReadAt(offset, image.data(), static_cast<std::int32_t>(block_size_)) !=
          static_cast<std::int32_t>(block_size_) ||
      FaultHit(FaultSite::kDamage)) {
    BlobError(kCorrupt);
  }
  b->LoadBlock(image);
  b->SetOffset(offset);
  index_[offset] = cache_.begin();  // TakeSlot put it at the front
  Journal(b, false);
  return b;
}

BlockPin TBlobFile::GetBlock(std::uint32_t offset) {
  const std::uint32_t end = GetEndOffset();
  if (offset == end && offset != 0) {
    // Append. The end offset itself comes from the file: it must lie on a
    // block boundary past the header, with room for one more 32-bit offset.
    if (end_beyond_file_ || end < kBlobHeaderSize || (end - kBlobHeaderSize) % block_size_ != 0 ||
        static_cast<std::uint64_t>(end) + block_size_ > 0xFFFFFFFFULL) {
      BlobError(kCorrupt);
    }
    TBlock* b = TakeSlot();
    b->ClearBlock();
    b->SetOffset(offset);
    b->MarkDirty();  // the new block must reach the file at the next flush
    index_[offset] = cache_.begin();
    SetEndOffset(end + block_size_);
    Journal(b, true);
    b->PinBlock();
    return BlockPin(b);
  }
  if (!IsBlockOffset(offset)) BlobError(kCorrupt);
  TBlock* b;
  if (auto found = index_.find(offset); found != index_.end()) {
    b = found->second->get();
    MoveToFront(found->second);
    Journal(b, false);
  } else {
    b = ReadBlock(offset);
  }
  b->PinBlock();
  return BlockPin(b);
}

BlockPin TBlobFile::GetChainBlock(std::uint32_t offset) {
  if (!IsBlockOffset(offset)) BlobError(kCorrupt);
  return GetBlock(offset);
}

BlockPin TBlobFile::AllocateBlock() {
  const std::uint32_t head = GetFreeListHead();
  BlockPin pin;
  if (head != 0) {
    pin = GetChainBlock(head);
    // A free block that someone holds is a free list leading into a chain.
    if (pin->PinCount() > 1) BlobError(kCorrupt);
    SetFreeListHead(pin->NextBlock());
  } else {
    pin = GetBlock(GetEndOffset());
  }
  pin->ClearBlock();
  pin->MarkDirty();
  return pin;
}

void TBlobFile::FreeBlock(TBlock* block) {
  block->SetNextBlock(GetFreeListHead());
  SetFreeListHead(block->Offset());
}

void TBlobFile::RepairLog(std::string_view what, std::uint32_t record_number) {
  owner_->DoRepairLog(std::string(what) + std::to_string(record_number) + ", error fixed");
}

void TBlobFile::FreeChain(BlockPin block, std::uint32_t record_number,
                          std::unordered_set<std::uint32_t>& seen, bool repair) {
  seen.insert(block->Offset());
  while (true) {
    const std::uint32_t next = block->NextBlock();
    if (next == 0) {
      FreeBlock(block.get());
      return;
    }
    const char* bad = nullptr;
    BlockPin next_block;
    if (!IsBlockOffset(next)) {
      bad = "Invalid intra-block pointer in BLOB file for physical record # ";
    } else if (seen.count(next) != 0) {
      bad = "Recursive intra-block pointer in BLOB file for physical record # ";
    } else {
      next_block = GetBlock(next);
      if (next_block->PinCount() > 1) {
        bad = "Recursive intra-block pointer in BLOB file for physical record # ";
      } else if (next_block->RecordNumber() != record_number) {
        bad = "Invalid intra-block pointer in BLOB file for physical record # ";
      }
    }
    if (bad != nullptr) {
      if (!repair) BlobError(kBadOffset);
      RepairLog(bad, record_number);
      block->SetNextBlock(0);
      FreeBlock(block.get());
      return;
    }
    FreeBlock(block.get());
    seen.insert(next);
    block = std::move(next_block);
  }
}

void TBlobFile::FreeBlobChain(BlockPin block, std::uint32_t record_number) {
  std::unordered_set<std::uint32_t> seen;
  FreeChain(std::move(block), record_number, seen, owner_->Repairing());
}

void TBlobFile::FreeBlobChainAt(std::uint32_t& offset, std::uint32_t record_number) {
  if (offset == 0) return;
  if (!IsBlockOffset(offset)) BlobError(kBadOffset);
  FreeBlobChain(GetChainBlock(offset), record_number);
  offset = 0;
}

bool TBlobFile::WriteDirtyBlocks(bool untouched_only) {
  std::vector<TBlock*> dirty;
  for (auto& b : cache_) {
    if (!b->Dirty() || b->PinCount() != 0 || b->Offset() == 0) continue;
    if (untouched_only && b->undo_stamp == undo_stamp_) continue;
    dirty.push_back(b.get());
  }
  if (dirty.empty()) return false;
  std::sort(dirty.begin(), dirty.end(),
            [](const TBlock* a, const TBlock* b) { return a->Offset() < b->Offset(); });
  const std::size_t bs = block_size_;
  // Not zeroed: StoreBlock fills every byte of each image.
  const auto image = std::make_unique_for_overwrite<std::uint8_t[]>(dirty.size() * bs);
  for (std::size_t i = 0; i < dirty.size(); ++i) {
    dirty[i]->StoreBlock(std::span<std::uint8_t>(image.get() + i * bs, bs));
  }
  std::size_t start = 0;
  while (start < dirty.size()) {
    std::size_t end = start + 1;
    while (end < dirty.size() && dirty[end]->Offset() == dirty[end - 1]->Offset() + bs) ++end;
    WriteAt(dirty[start]->Offset(), image.get() + start * bs,
            static_cast<std::int32_t>((end - start) * bs));
    // Only now is the run on disk: a failed write keeps every block dirty.
    for (std::size_t i = start; i < end; ++i) dirty[i]->MarkClean();
    start = end;
  }
  return true;
}

bool TBlobFile::FlushBlobBlocks() {
  const bool wrote = WriteDirtyBlocks(false);
  return wrote || header_dirty_;
}

void TBlobFile::FlushBlob() {
  if (FlushBlobBlocks()) WriteBlobHeader();
}

void TBlobFile::ResetBlobBlocks() {
  for (auto& b : cache_) Vacate(b.get());
  index_.clear();
}

void TBlobFile::ClearAllPins() {
  for (auto& b : cache_) b->ClearPins();
}

void TBlobFile::ResetBlockCacheSize() {
  capacity_ = NormalCapacity();
  for (auto it = cache_.end(); it != cache_.begin() && cache_.size() > capacity_;) {
    --it;
    if (!(*it)->Dirty() && (*it)->PinCount() == 0) {
      Forget(it->get());
      it = cache_.erase(it);
    }
  }
}

void TBlobFile::FreeAllBlocks() {
  index_.clear();
  cache_.clear();
}

// ---------------------------------------------------------------- undo

void TBlobFile::BeginUndo(bool copy_clean) {
  undo_copy_clean_ = copy_clean;
  if (++undo_stamp_ == 0) {
    // Wrapped: no block may still carry a stamp from 2^32 writes ago.
    for (auto& b : cache_) b->undo_stamp = 0;
    undo_stamp_ = 1;
  }
  undo_header_ = header_;
  undo_header_dirty_ = header_dirty_;
  undo_end_beyond_file_ = end_beyond_file_;
  undo_flushed_ = false;
  undo_count_ = 0;
  undo_values_.clear();
  for (const auto& v : open_) {
    undo_values_.push_back({v->Handle(), v->FirstBlock(), v->Modified(), v->RecordNumber()});
  }
  undo_active_ = true;
}

void TBlobFile::DiscardChanges() {
  undo_active_ = false;
  ResetBlobBlocks();
  header_dirty_ = false;
}

void TBlobFile::JournalBlock(TBlock* b, bool appended) {
  if (undo_count_ == undo_blocks_.size()) undo_blocks_.emplace_back();
  BlockUndo& u = undo_blocks_[undo_count_];
  u.offset = b->Offset();
  u.appended = appended;
  u.saved = !appended && (b->Dirty() || undo_copy_clean_);
  if (u.saved) b->Save(u.snapshot);
  ++undo_count_;
  b->undo_stamp = undo_stamp_;
}

void TBlobFile::RollbackUndo(bool rewrite) {
  if (!undo_active_) return;
  undo_active_ = false;
  // Newest first: a block saved twice (evicted clean and read again) ends
  // with its first snapshot, the state before the write.
  for (std::size_t i = undo_count_; i-- > 0;) {
    const BlockUndo& u = undo_blocks_[i];
    const auto found = index_.find(u.offset);
    // Not cached: evicted while clean, so the file holds it as it was.
    if (found == index_.end()) continue;
    TBlock* b = found->second->get();
    if (!u.saved) {
      index_.erase(found);
      Vacate(b);
      continue;
    }
    b->Restore(u.snapshot);
    if (rewrite) b->MarkDirty();
  }
  for (const ValueUndo& v : undo_values_) {
    if (TBlobBuffer* b = FindBlob(v.handle)) {
      b->SetFirstBlock(v.first_block);
      b->SetModified(v.modified);
      b->SetRecordNumber(v.record);
    }
  }
  header_ = undo_header_;
  header_dirty_ = undo_header_dirty_ || undo_flushed_ || rewrite;
  end_beyond_file_ = undo_end_beyond_file_;
}

// ---------------------------------------------------------------- locks

void TBlobFile::LockBlobFile() {
  if (!TakeFileWriteLock(*this)) BlobError(Code(ErrorCode::kLockFailure));
  owner_->BlobWriteLockChanged(true);
}

void TBlobFile::UnlockBlobFile() {
  if (Exclusive() || ForcedReadOnly()) return;
  if (!ReleaseFileWriteLock(*this)) BlobError(Code(ErrorCode::kCannotUnlock));
  header_checked_ = false;
  owner_->BlobWriteLockChanged(false);
}

void TBlobFile::LockBlobFileShared() {
  read_lock_offset_ = TakeFileReadLock(*this);
  if (read_lock_offset_ == 0) BlobError(Code(ErrorCode::kLockFailure));
  owner_->BlobReadLockChanged(true);
}

void TBlobFile::UnlockBlobFileShared() {
  if (!ReleaseFileReadLock(*this, read_lock_offset_)) BlobError(Code(ErrorCode::kCannotUnlock));
  header_checked_ = false;
  owner_->BlobReadLockChanged(false);
}

// ---------------------------------------------------------------- record values

std::uint32_t TBlobFile::SaveForRecord(std::int32_t handle, std::uint32_t record_number) {
  TBlobBuffer* b = FindBlob(handle);
  if (b == nullptr) return 0;
  if (b->FirstBlock() != 0 && b->RecordNumber() != record_number) b->DetachChain();
  // The owner first: freeing or rewriting a chain checks every block
  // against it.
  b->SetRecordNumber(record_number);
  if (b->Modified()) {
    if (b->Size() > 0) {
      b->WriteBlobChain();
    } else {
      b->FreeBlobValue();
    }
    b->SetModified(false);
  }
  return b->FirstBlock();
}

void TBlobFile::FreeReplacedChain(std::uint32_t first_block, std::uint32_t record_number) {
  if (first_block == 0 || !IsBlockOffset(first_block)) return;
  if (GetChainBlock(first_block)->RecordNumber() != record_number) return;
  std::uint32_t offset = first_block;
  FreeBlobChainAt(offset, record_number);
  ForgetChain(first_block);
}

std::uint32_t TBlobFile::FirstBlockOf(std::int32_t handle) const {
  const TBlobBuffer* b = FindBlob(handle);
  return b != nullptr ? b->FirstBlock() : 0;
}

}  // namespace storage
