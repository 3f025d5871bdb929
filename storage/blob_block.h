// TBlock: one cached block of a BLOB file, and BlockPin, the guard that
// holds one pin on it (pin.h).
//
// The block header fields are kept apart from the data area; StoreBlock
// builds the on-disk image (blob_format.h) and LoadBlock takes one apart.
// A block object with offset 0 is a free cache slot.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "storage/pin.h"

namespace storage {

class TBlobFile;

class TBlock {
 public:
  TBlock(TBlobFile* owner, std::uint32_t block_size);
  TBlock(const TBlock&) = delete;
  TBlock& operator=(const TBlock&) = delete;

  // Each stores the field and sets dirty only when the value changes.
  void SetTotalLength(std::uint32_t v);
  void SetRecordNumber(std::uint32_t v);
  void SetPrevBlock(std::uint32_t v);
  void SetNextBlock(std::uint32_t v);

  // Dirty false, header fields and data area zero. The offset stays.
  void ClearBlock();
  // Takes a B-byte image read from the file (unscrambled in place when the
  // table is encrypted); dirty false.
  void LoadBlock(std::span<std::uint8_t> image);
  // Builds the B-byte image to write (scrambled when encrypted). Leaves the
  // dirty flag alone: the caller clears it once the write succeeded.
  void StoreBlock(std::span<std::uint8_t> image) const;

  // count above B - 18 (or a range outside the data area) raises 10029.
  // Copies min(count, bytes used - offset) bytes; returns that number.
  std::int32_t ReadBlockData(std::int32_t offset, std::int32_t count, void* dest) const;
  // count above B - 18 (or outside the data area) raises 10029. Copies
  // count bytes; bytes used := offset + count; dirty. Returns count.
  std::int32_t WriteBlockData(std::int32_t offset, std::int32_t count, const void* src);

  // More than 64 pins raises 8963 (the count is left unchanged).
  void PinBlock();
  void UnpinBlock() {
    if (pins_ > 0) --pins_;
  }
  void ClearPins() { pins_ = 0; }

  void MarkDirty() { dirty_ = true; }
  void MarkClean() { dirty_ = false; }

  [[nodiscard]] bool Dirty() const { return dirty_; }
  [[nodiscard]] std::uint32_t Offset() const { return offset_; }
  void SetOffset(std::uint32_t offset) { offset_ = offset; }
  [[nodiscard]] std::uint16_t BytesUsed() const { return used_; }
  [[nodiscard]] std::uint32_t RecordNumber() const { return record_; }
  [[nodiscard]] std::uint32_t TotalLength() const { return total_; }
  [[nodiscard]] std::uint32_t PrevBlock() const { return prev_; }
  [[nodiscard]] std::uint32_t NextBlock() const { return next_; }
  [[nodiscard]] std::uint16_t PinCount() const { return pins_; }
  [[nodiscard]] std::int32_t DataSize() const { return static_cast<std::int32_t>(data_size_); }

  // What a write's undo keeps of a block: its header fields, data area and
  // dirty state, not its pins, offset or place in the cache.
  struct Snapshot {
    bool dirty = false;
    std::uint16_t used = 0;
    std::uint32_t record = 0;
    std::uint32_t total = 0;
    std::uint32_t prev = 0;
    std::uint32_t next = 0;
    std::vector<std::uint8_t> data;  // capacity reused
  };
  void Save(Snapshot& s) const;
  void Restore(const Snapshot& s);
  // The write whose undo holds this block's snapshot (TBlobFile's stamp);
  // 0 when none. Cleared whenever the block object takes another offset.
  std::uint32_t undo_stamp = 0;

 private:
  TBlobFile* owner_;
  bool dirty_ = false;
  std::uint32_t offset_ = 0;
  std::uint32_t data_size_;  // B - 18
  std::unique_ptr<std::uint8_t[]> data_;
  std::uint16_t used_ = 0;
  std::uint32_t record_ = 0;
  std::uint32_t total_ = 0;
  std::uint32_t prev_ = 0;
  std::uint32_t next_ = 0;
  std::uint16_t pins_ = 0;
};

// A pin of a block (TBlock::PinBlock) held by a guard.
inline void Unpin(TBlock& b) { b.UnpinBlock(); }
using BlockPin = Pin<TBlock>;

}  // namespace storage
