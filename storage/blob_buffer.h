// TBlobBuffer: one open BLOB value, held whole in memory.
//
// A value is read from its block chain when it is opened and written back
// as a chain when the record is posted; in between, reads and writes work
// on memory only. Each buffer carries a handle: a small positive number
// drawn from a process-wide counter, never reused while the process runs,
// so a stale handle can never name a later value. The record buffer holds
// an open value's handle negated.
//
// Ownership: a value whose first block is not 0 belongs to the record
// number it carries (the chain's owner when it was read, the record it was
// saved for since). Saving it for another record never hands that record
// the same chain: it gets a chain of its own (TBlobFile::SaveForRecord), so no two
// records ever share a block.
#pragma once

#include <cstdint>
#include <vector>

namespace storage {

class TBlobFile;

class TBlobBuffer {
 public:
  TBlobBuffer(TBlobFile* owner, std::uint16_t field_number, std::uint32_t first_block);
  TBlobBuffer(const TBlobBuffer&) = delete;
  TBlobBuffer& operator=(const TBlobBuffer&) = delete;

  // When n differs from the size: modified; n >= 1 resizes (new bytes zero),
  // n < 1 frees the data. 11016 when the memory is not there.
  void SetBlobBufferSize(std::int32_t n);
  // Reads the whole value from its chain (nothing when first block is 0)
  // and takes the chain's owner as its record number. expected_record, when
  // not 0, must own the chain. A chain that is damaged (bad offset, foreign
  // block, loop) raises 8963; one shorter than its stored length returns
  // 8711 (the value then holds what the blocks delivered). The stored length
  // never sizes memory beyond what the blocks actually deliver.
  [[nodiscard]] std::uint16_t ReadBlobChain(std::uint32_t expected_record = 0);
  // Writes the whole value to its chain, reusing the existing chain in
  // place; surplus blocks go to the free list, missing ones come from it
  // first. Nothing when the size is 0.
  void WriteBlobChain();
  // Frees the chain (when there is one); first block := 0. Other open
  // values on the same chain let go of it (TBlobFile::ForgetChain).
  void FreeBlobValue();
  // The value no longer names a chain: the next save writes a new one
  // (when the value is not empty) for whichever record it is saved for.
  void DetachChain();
  // The value's bytes; nullptr when the size is 0.
  [[nodiscard]] std::uint8_t* GetBlobBufferData() { return data_.empty() ? nullptr : data_.data(); }
  [[nodiscard]] const std::uint8_t* GetBlobBufferData() const {
    return data_.empty() ? nullptr : data_.data();
  }

  [[nodiscard]] std::int32_t Handle() const { return handle_; }
  [[nodiscard]] bool Modified() const { return modified_; }
  void SetModified(bool m) { modified_ = m; }
  [[nodiscard]] std::uint32_t RecordNumber() const { return record_; }
  void SetRecordNumber(std::uint32_t r) { record_ = r; }
  [[nodiscard]] std::uint16_t FieldNumber() const { return field_; }
  [[nodiscard]] std::uint32_t FirstBlock() const { return first_; }
  // A write's undo puts the offset of the chain back (TBlobFile::RollbackUndo).
  void SetFirstBlock(std::uint32_t offset) { first_ = offset; }
  [[nodiscard]] std::int32_t Size() const { return static_cast<std::int32_t>(data_.size()); }

 private:
  TBlobFile* owner_;
  std::int32_t handle_;
  bool modified_ = false;
  std::uint32_t record_ = 0;
  std::uint16_t field_;
  std::uint32_t first_;
  std::vector<std::uint8_t> data_;
};

}  // namespace storage
