// TBlobFile: the BLOB file (NAME.BLB) of an open table. File layout:
// blob_format.h.
//
// It owns the header image, a cache of TBlock objects (most recently used
// first), the free-block list (through the header), the BLOB byte-range
// locks and the table of open BLOB values (TBlobBuffer). The table's data
// file creates and owns it and is consulted through BlobFileOwner.
//
// Invariants:
//  (1) header_ is always held unscrambled.
//  (2) A cached block with offset 0 is a free slot and is not in index_.
//      Every other cached block is in index_ under its offset, once.
//  (3) A block is marked clean only after the write of its image succeeded.
//  (4) header_dirty_ is set whenever the free-list head or the end offset
//      changes in memory, and cleared by a header write or reload; a flush
//      reports it so the caller writes the header even when no block was
//      dirty.
//  (5) The cache holds at most capacity_ blocks; a batch raises capacity_
//      (by 256 at a time) instead of evicting.
//  (6) Every block offset taken from the file is checked against the block
//      size and the end offset before it is followed (IsValidBlockOffset);
//      chain walks remember the blocks seen, so a loop is refused.
//  (7) While a write's undo is open (BeginUndo to CommitUndo/RollbackUndo)
//      every block the cache hands out has its snapshot in the undo once,
//      and no block the write touched reaches the file except through the
//      write's own final flush. Making room writes only untouched blocks and
//      no header (it stays dirty: owed to the next flush); when nothing can
//      go, the cache grows instead (as in a batch).
//
// Results of the open-value routines are 16-bit engine codes (0 done);
// chain and cache routines raise through EngineError with the data file's
// name as context.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "storage/blob_block.h"
#include "storage/blob_buffer.h"
#include "storage/blob_format.h"
#include "storage/blob_owner.h"
#include "storage/file_handler.h"

namespace storage {

class TBlobFile : public TFileHandler {
 public:
  explicit TBlobFile(BlobFileOwner* owner);
  // Close; never throws.
  ~TBlobFile() override;

  // Trims blanks; any extension other than BLB becomes ".BLB".
  std::string NormaliseFileName(std::string_view name) override;
  // Opens the file and reads the header: 9221 when it is short, 12035 when
  // the version is not 3. A failure leaves the file closed.
  void Open() override;
  // Closes every open value (unsaved changes dropped) and frees the cache.
  // A file opened exclusively for writing first writes its dirty blocks and
  // header, so nothing is lost; a shared file has no lock here and writes
  // nothing. Never throws.
  void Close() override;
  // Creates the file (exclusive access required) with a new header:
  // version 3, no free block, end offset 512.
  void CreateFile() override;

  // ------------------------------------------------------------ blocks

  // The block at offset, pinned. offset = the end offset appends a new,
  // zero, dirty block and moves the end offset on by B. Any other offset
  // must name an existing block, else 8963.
  [[nodiscard]] BlockPin GetBlock(std::uint32_t offset);
  // An existing block only (a chain pointer): never appends.
  [[nodiscard]] BlockPin GetChainBlock(std::uint32_t offset);
  // The free-list head (or a new block at the end), cleared, pinned and
  // dirty. A free-list head that is not a valid block, or that names a block
  // in hand, raises 8963.
  [[nodiscard]] BlockPin AllocateBlock();
  // Puts the block at the head of the free list.
  void FreeBlock(TBlock* block);
  // Frees the chain from block onward. A next pointer that is not a valid
  // block, leads back into the chain or into another record's block raises
  // 9998 (nothing is followed into another record), except while the owner
  // is repairing: then the chain is cut there with a repair-log line.
  void FreeBlobChain(BlockPin block, std::uint32_t record_number);
  // FreeBlobChain of the chain at offset (when not 0); offset := 0.
  void FreeBlobChainAt(std::uint32_t& offset, std::uint32_t record_number);

  // Writes every dirty unpinned block, sorted, one write per run of
  // adjacent blocks. True when anything was written or the header has
  // changes not yet written: the caller then writes the header.
  bool FlushBlobBlocks();
  // FlushBlobBlocks, then the header when needed.
  void FlushBlob();
  // Every cached block: pins 0, cleared, offset 0 (dirty contents dropped).
  void ResetBlobBlocks();
  void ClearAllPins();
  // Capacity back to normal; surplus clean unpinned blocks are freed from
  // the least recently used end.
  void ResetBlockCacheSize();
  void FreeAllBlocks();

  // ------------------------------------------------------------ undo

  // Undo of one write of the owning data file (invariant 7). Keeps the
  // header and the chain state of every open value (first block, modified,
  // owner); RollbackUndo puts back every saved block, the header and those
  // states, and drops the blocks appended. A block that was clean when the
  // write first used it is saved only with copy_clean: else the file holds
  // it as it was, and a rollback drops it from the cache. With rewrite (the
  // write's own flush had begun; it needs copy_clean) what it puts back,
  // and the header, is marked dirty so that a flush writes it over whatever
  // the failed flush left in the file.
  void BeginUndo(bool copy_clean);
  void CommitUndo() { undo_active_ = false; }
  void RollbackUndo(bool rewrite);
  // Every cached block dropped, dirty or not, and the header taken as
  // written: nothing is left for a close to write (a failed table).
  void DiscardChanges();

  // ------------------------------------------------------------ header

  void ReadBlobHeader();
  void WriteBlobHeader();
  // Nothing when HeaderChecked or closed; else when the counter on disk
  // differs from the one in memory, re-reads the header and drops every
  // cached block.
  void CheckBlobHeaderChanged();
  // Drops every cached block (dirty contents too), shrinks the cache when
  // trim is set and reads the header again. Nothing when closed.
  void ResetCaches(bool trim);
  // Empties the file: cut at 512, version 3, no free block, end 512, cache
  // dropped. The caller writes the header.
  void TruncateBlobFile();
  // First step of a repair: cuts a trailing partial block (with a log
  // line); version 3, free list empty, end offset := the file size, never
  // below 512.
  void AlignBlobFile();

  // ------------------------------------------------------------ locks

  // The file's write lock and read locks (table_locks.h); 10249 when not
  // had after the retries.
  void LockBlobFile();
  // Unless exclusive or forced read only: unlocks (10242 on failure) and
  // clears HeaderChecked.
  void UnlockBlobFile();
  // A read lock on a byte drawn at random, remembered for the unlock (10242
  // on failure), which clears HeaderChecked.
  void LockBlobFileShared();
  void UnlockBlobFileShared();
  // Closed, exclusive or forced read only: the file takes no lock and
  // makes no change check.
  [[nodiscard]] bool LockFree() const { return !IsOpen() || Exclusive() || ForcedReadOnly(); }

  // ------------------------------------------------------------ open values

  // 9494 when 64 values are open (or the handle numbers are used up).
  // Otherwise a new buffer with field_number and first_block; its handle
  // goes to handle; the chain is read at once when first_block is not 0.
  // expected_record, when not 0, must own the chain. A damaged chain raises
  // 8963 and one shorter than its stored length returns 8711; neither
  // leaves a buffer behind.
  [[nodiscard]] std::uint16_t OpenBlob(std::uint32_t first_block, std::uint16_t field_number,
                                       std::int32_t& handle, std::uint32_t expected_record = 0);
  // 10030 for a handle that is not open. Otherwise the buffer's first-block
  // offset goes to *first_block (when given) and the buffer is freed with
  // any unsaved changes.
  [[nodiscard]] std::uint16_t CloseBlob(std::int32_t handle, std::uint32_t* first_block = nullptr);
  // bytes_read := bytes copied. 10030 bad handle; 9998 a negative offset or
  // one whose sum with count overflows; 10029 a negative count; 8711 fewer
  // than count bytes were there.
  [[nodiscard]] std::uint16_t ReadBlob(std::int32_t handle, std::int32_t offset,
                                       std::int32_t& bytes_read, std::int32_t count, void* dest);
  // Grows the value as needed (new bytes zero) and copies count bytes in.
  // 10030, 9998 and 10029 as for ReadBlob.
  [[nodiscard]] std::uint16_t WriteBlob(std::int32_t handle, std::int32_t offset,
                                        std::int32_t count, const void* src);
  [[nodiscard]] std::uint16_t TruncateBlob(std::int32_t handle, std::int32_t new_size);
  [[nodiscard]] std::uint16_t GetBlobSize(std::int32_t handle, std::int32_t& size);
  [[nodiscard]] bool IsOpenBlob(std::int32_t handle) const;
  // The open buffer of handle; nullptr when none.
  [[nodiscard]] TBlobBuffer* FindBlob(std::int32_t handle) const;
  void CloseAllBlobs();
  // Every open value other than except whose first block is first_block
  // lets go of that chain (it was freed, or is no longer its record's).
  void ForgetChain(std::uint32_t first_block, const TBlobBuffer* except = nullptr);
  void SetBlobRecordNumbers(std::uint32_t record_number);
  // Writes (or, when empty, frees) every modified value. Modified values of
  // two records raise 8963 before anything is written.
  void SaveModifiedBlobs();
  // Gives the open value of handle the owner record_number and, when it was
  // modified, writes its chain (or frees it when the value is empty); the
  // value stays open. A value whose chain belongs to another record (read
  // from it, or saved for it before) is written to a new chain of its own:
  // two records never share one. Returns the first-block offset afterwards
  // (0 for an unknown handle).
  std::uint32_t SaveForRecord(std::int32_t handle, std::uint32_t record_number);
  // The chain at first_block was record_number's value and has been replaced
  // by another: it is freed when that record owns it (a chain of another
  // owner, or an offset that names no block, is left alone), and open
  // values on it let go of it. Raises 9998 for a chain that leads astray.
  void FreeReplacedChain(std::uint32_t first_block, std::uint32_t record_number);
  // The first-block offset of an open value; 0 when the handle is unknown.
  [[nodiscard]] std::uint32_t FirstBlockOf(std::int32_t handle) const;
  // Calls store(field number, first-block offset) for every open value in
  // slot order (the data file stores them into the record buffer).
  void StoreBlobReferences(const std::function<void(std::uint16_t, std::uint32_t)>& store) const;
  // Repair check of one chain; bad chains are cut or dropped with repair-log
  // lines, never raised. first_block := 0 when the record loses its value.
  void VerifyBlobChain(std::uint32_t& first_block, std::uint32_t record_number);
  [[nodiscard]] int OpenBlobCount() const { return static_cast<int>(open_.size()); }
  [[nodiscard]] TBlobBuffer* OpenBlobAt(int slot) const { return open_[slot].get(); }

  // ------------------------------------------------------------ accessors

  [[nodiscard]] std::uint32_t GetBlockSize() const { return block_size_; }
  [[nodiscard]] std::uint32_t GetBlockDataSize() const { return block_size_ - kBlockHeaderSize; }
  [[nodiscard]] std::uint32_t GetFreeListHead() const { return HeaderU32(kHeaderFreeHead); }
  [[nodiscard]] std::uint32_t GetEndOffset() const { return HeaderU32(kHeaderEndOffset); }
  [[nodiscard]] std::uint32_t GetFreeOrEndOffset() const {
    const std::uint32_t head = GetFreeListHead();
    return head != 0 ? head : GetEndOffset();
  }
  void SetFreeListHead(std::uint32_t offset);
  void SetEndOffset(std::uint32_t offset);
  [[nodiscard]] std::uint32_t ChangeCounter() const { return HeaderU32(kHeaderCounter); }
  [[nodiscard]] std::uint8_t Version() const { return header_[kHeaderVersion]; }
  [[nodiscard]] bool HeaderChecked() const { return header_checked_; }
  void SetHeaderChecked(bool checked) { header_checked_ = checked; }
  [[nodiscard]] bool HeaderDirty() const { return header_dirty_; }
  [[nodiscard]] std::uint16_t ReadLockOffset() const { return read_lock_offset_; }
  [[nodiscard]] std::size_t CachedBlockCount() const { return cache_.size(); }
  [[nodiscard]] std::size_t CacheCapacity() const { return capacity_; }
  // Blocks held by someone (a pin leak shows here after an operation).
  [[nodiscard]] std::size_t PinnedBlockCount() const {
    std::size_t n = 0;
    for (const auto& b : cache_) n += b->PinCount() > 0 ? 1 : 0;
    return n;
  }
  [[nodiscard]] std::size_t DirtyBlockCount() const {
    std::size_t n = 0;
    for (const auto& b : cache_) n += b->Dirty() ? 1 : 0;
    return n;
  }
  [[nodiscard]] BlobFileOwner* Owner() const { return owner_; }
  // True when offset can name an existing block now.
  [[nodiscard]] bool IsBlockOffset(std::uint32_t offset) const {
    return IsValidBlockOffset(offset, block_size_, GetEndOffset());
  }

  // Raises code with the data file's name as context.
  [[noreturn]] void BlobError(std::uint16_t code) const;

 private:
  using CacheList = std::list<std::unique_ptr<TBlock>>;

  [[nodiscard]] std::uint32_t HeaderU32(std::size_t offset) const {
    return LoadLittle<std::uint32_t>(&header_[offset]);
  }

  struct BlockUndo {
    std::uint32_t offset = 0;
    bool appended = false;  // new at the end of the file in this write
    bool saved = false;     // snapshot holds it; else the file does
    TBlock::Snapshot snapshot;
  };
  struct ValueUndo {
    std::int32_t handle;
    std::uint32_t first_block;
    bool modified;
    std::uint32_t record;
  };
  void Journal(TBlock* b, bool appended) {
    if (undo_active_ && b->undo_stamp != undo_stamp_) JournalBlock(b, appended);
  }
  void JournalBlock(TBlock* b, bool appended);
  // Writes the dirty unpinned blocks (untouched_only: those outside the
  // write's undo), sorted, one write per run; true when any was written.
  bool WriteDirtyBlocks(bool untouched_only);
  // A block object taken for another offset (or none).
  static void Vacate(TBlock* b);

  void TakeBlockSize();
  std::uint32_t NormalCapacity() const;
  // A block object at the front of the cache with offset 0 and no pins: a
  // new one while there is room (or in a batch), else an evicted one.
  TBlock* TakeSlot();
  TBlock* EvictBlock();
  TBlock* ReadBlock(std::uint32_t offset);
  void MoveToFront(CacheList::iterator it);
  void Forget(TBlock* block);
  // The chain walk of FreeBlobChain; seen holds blocks that must not be
  // reached again (the chain so far, and any live blocks of the caller).
  void FreeChain(BlockPin block, std::uint32_t record_number,
                 std::unordered_set<std::uint32_t>& seen, bool repair);
  void RepairLog(std::string_view what, std::uint32_t record_number);
  void Scramble(std::uint8_t* p, std::size_t n) const;

  friend class TBlobBuffer;

  BlobFileOwner* owner_;
  std::array<std::uint8_t, kBlobHeaderSize> header_{};
  bool header_checked_ = false;
  bool header_dirty_ = false;
  // The header read last promised blocks beyond the end of the file: the
  // file was cut or the header is damaged. Appending there would leave a
  // hole (or, in memory, allocate it), so it is refused until a repair
  // aligns the file.
  bool end_beyond_file_ = false;
  std::uint16_t read_lock_offset_ = 0;
  std::vector<std::unique_ptr<TBlobBuffer>> open_;
  std::uint32_t block_size_ = kBlobDefaultBlockSize;
  std::size_t capacity_ = 0;
  CacheList cache_;  // most recently used first
  std::unordered_map<std::uint32_t, CacheList::iterator> index_;

  // Undo of the write in progress (invariant 7).
  bool undo_active_ = false;
  bool undo_copy_clean_ = false;
  std::uint32_t undo_stamp_ = 0;
  std::array<std::uint8_t, kBlobHeaderSize> undo_header_{};
  bool undo_header_dirty_ = false;
  bool undo_end_beyond_file_ = false;
  bool undo_flushed_ = false;  // making room wrote blocks: the header is owed
  std::vector<BlockUndo> undo_blocks_;  // the first undo_count_ are this write's
  std::size_t undo_count_ = 0;
  std::vector<ValueUndo> undo_values_;
};

}  // namespace storage
