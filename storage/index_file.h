// TIndexFile: the index file (NAME.IDX) of an open table.
//
// A TFileHandler whose body is an IndexStore (header, page cache, trees,
// cursor; see index_store.h). Its owner, the data file, creates and owns
// it and is consulted through IndexFileOwner.
#pragma once

#include <string>
#include <string_view>

#include "storage/file_handler.h"
#include "storage/index_store.h"

namespace storage {

class TIndexFile : public TFileHandler, public IndexStore {
 public:
  explicit TIndexFile(IndexFileOwner* owner);
  // Close; never throws.
  ~TIndexFile() override;

  // Trims blanks; any extension other than IDX becomes ".IDX".
  std::string NormaliseFileName(std::string_view name) override;
  // Opens the file and reads and checks its header and free lists (12035
  // wrong version, 9221 short header, 8965 corrupt); a file that fails is
  // closed again. Opened exclusively or read only, no locks are taken.
  void Open() override;
  // Writes pages still dirty and the header, frees every cached page and
  // clears the cursor, then closes the file. Never throws.
  void Close() override;
  // Creates the file (exclusive access required) with a new header.
  void CreateFile() override;
  // After CreateFile: the new file taken up as Open takes up a file (its
  // header read back and checked, index 0 selected; Open's own step). A
  // failure closes it.
  void AttachCreated();

  // Locks between programs (index_lock.cpp): the write lock, which covers
  // every read-lock byte, and a read lock on a byte drawn at random (byte
  // ranges and retries in table_locks.h). Not had after the retries: 10249;
  // unlocks raise 10242. Unlocking clears the section flag (WriteLockHeld).
  void LockIndexFile();
  void UnlockIndexFile();
  void LockIndexFileShared();
  void UnlockIndexFileShared();
  // This handle holds the write lock / a read lock (its byte's r; 0 none).
  [[nodiscard]] bool IndexWriteLocked() const { return write_locked_; }
  [[nodiscard]] std::uint16_t ReadLockOffset() const { return read_lock_offset_; }

 protected:
  std::int32_t ReadBlock(std::uint32_t offset, std::uint8_t* buffer, std::int32_t n) override;
  void WriteBlock(std::uint32_t offset, const std::uint8_t* buffer, std::int32_t n) override;
  bool MapBlocks(std::uint32_t end, platform::FileView& view) override;
  void TruncateTo(std::uint32_t size) override;
  [[nodiscard]] std::uint64_t StorageSize() override;
  [[nodiscard]] bool ExclusiveAccess() const override { return Exclusive(); }

 private:
  bool write_locked_ = false;
  std::uint16_t read_lock_offset_ = 0;
};

}  // namespace storage
