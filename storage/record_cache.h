// TRecord, one cached record buffer of a data file, and RecordCache, the
// data file's most-recently-used list of them.
//
// A buffer is record size + computed-area size bytes: the stored record
// image (data_file_format.h) followed by the computed area.
//
// Invariants of the cache:
//  (1) no two buffers carry the same non-zero record number (the map holds
//      exactly the buffers with a non-zero number);
//  (2) a buffer whose use count is above 0 or whose modified flag is set is
//      never recycled or dropped from the list;
//  (3) the list holds at most its capacity, except in batch mode.
//
// Memory: a read-ahead fills hundreds of buffers at a time, and a cursor
// walking a table takes and gives back buffers all along. The TRecord
// objects and their bytes therefore come from blocks the cache keeps until
// Clear (a buffer given up goes to a free list and is handed out again),
// the most-recently-used list is linked through the TRecords themselves,
// and the map from record number to buffer is one open-addressing table:
// taking, numbering and moving a buffer allocates nothing once the cache
// has grown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <vector>

#include "storage/number_map.h"
#include "storage/pin.h"

namespace storage {

class TDataFile;

class TRecord {
 public:
  // Holders of one buffer; one more is a runaway pin: error 8962.
  static constexpr std::uint16_t kMaxUses = 64;

  // buffer: size bytes, zero-filled, owned by the caller (the cache).
  TRecord(TDataFile* owner, std::byte* buffer, std::size_t size);
  TRecord(const TRecord&) = delete;
  TRecord& operator=(const TRecord&) = delete;

  [[nodiscard]] std::uint8_t Status() const;
  void SetStatus(std::uint8_t status);  // marks modified
  [[nodiscard]] std::uint32_t FreeLink() const;
  void SetFreeLink(std::uint32_t link);  // marks modified
  [[nodiscard]] std::uint32_t RecordId() const;
  void SetRecordId(std::uint32_t id);  // marks modified

  [[nodiscard]] std::span<std::byte> Data() { return {buffer_, size_}; }
  [[nodiscard]] std::span<const std::byte> Data() const { return {buffer_, size_}; }
  [[nodiscard]] std::size_t Size() const { return size_; }
  // Copies everything but the 9-byte prefix from another record image of
  // the same size (shorter images copy what they have); marks modified and
  // clears computed.
  void CopyRecordData(std::span<const std::byte> other);

  // Raises 8962 above kMaxUses.
  void AddUse();
  void ReleaseUse() {
    if (uses_ > 0) --uses_;
  }
  void ClearUses() { uses_ = 0; }
  [[nodiscard]] std::uint16_t UseCount() const { return uses_; }
  [[nodiscard]] bool InUse() const { return uses_ > 0; }

  [[nodiscard]] std::uint32_t RecordNumber() const { return number_; }
  bool modified = false;
  bool computed = false;

 private:
  friend class RecordCache;

  TDataFile* owner_;
  std::uint16_t uses_ = 0;
  std::uint32_t number_ = 0;  // 0 = free buffer; set through RecordCache
  std::size_t size_;
  std::byte* buffer_;  // zero-filled at allocation; owned by the cache
  // The cache's list (more and less recently used); a buffer on the
  // cache's free list is linked by next_ alone.
  TRecord* prev_ = nullptr;
  TRecord* next_ = nullptr;
};

// A use of a record buffer (TRecord::AddUse) held by a guard.
inline void Unpin(TRecord& r) { r.ReleaseUse(); }
using RecordPin = Pin<TRecord>;

class RecordCache {
 public:
  explicit RecordCache(TDataFile* owner) : owner_(owner) {}
  RecordCache(const RecordCache&) = delete;
  RecordCache& operator=(const RecordCache&) = delete;

  [[nodiscard]] TRecord* Find(std::uint32_t number) const;
  // A zero-filled buffer at the front (most recently used), unnumbered.
  TRecord* AddFront(std::size_t size);
  void MoveToFront(TRecord* r);
  // Changes the number under which the map finds r (0: none).
  void SetNumber(TRecord* r, std::uint32_t number);
  // The least recently used buffer that is neither in use nor modified;
  // nullptr when none. The buffers passed over on the way (in use or
  // modified) move to the front: the next search does not walk past them
  // again (reading back an exclusive table of thousands of unwritten rows
  // walked past all of them on every record read). When nothing is found
  // every buffer has moved once and the order is as before.
  [[nodiscard]] TRecord* FindRecyclable();
  // Buffers, most recently used first.
  [[nodiscard]] std::vector<TRecord*> All() const;
  // Frees every buffer.
  void Clear();
  // Drops buffers from the least recently used end until at most capacity
  // remain, skipping those in use or modified.
  void TrimTo(std::size_t capacity);

  [[nodiscard]] std::size_t Count() const { return count_; }
  [[nodiscard]] std::size_t Capacity() const { return capacity_; }
  void SetCapacity(std::size_t n) { capacity_ = n; }

 private:
  void Unlink(TRecord* r);
  void PushFront(TRecord* r);

  TDataFile* owner_;
  std::deque<TRecord> records_;  // every TRecord made (stable addresses)
  std::vector<std::unique_ptr<std::byte[]>> blocks_;  // their bytes
  std::size_t block_size_ = 0;      // of the last block
  std::size_t block_left_ = 0;      // bytes free at its end
  TRecord* free_ = nullptr;         // buffers given up, linked by next_
  TRecord* head_ = nullptr;         // most recently used
  TRecord* tail_ = nullptr;
  std::size_t count_ = 0;           // buffers in the list
  NumberMap<TRecord> by_number_;   // numbered buffers
  std::size_t capacity_ = 0;
};

}  // namespace storage
