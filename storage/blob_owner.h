// What a BLOB file asks of the table that owns it. TDataFile is the owner;
// the BLOB tests stand one in of their own.
//
// The BLOB file takes and releases its own byte-range locks
// (TBlobFile::LockBlobFile and friends); deciding when to hold them, and
// setting HeaderChecked after a change check under a lock, is the data
// file's part. The owner only sees the lock traffic through the two
// notification hooks below.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace storage {

class BlobFileOwner {
 public:
  virtual ~BlobFileOwner() = default;
  // The data file's name: the file context of every error.
  [[nodiscard]] virtual std::string DataFileName() const = 0;
  // The raw BLOB block size field of the data file's header (offset 4);
  // the BLOB file takes its low 16 bits, 0 meaning 512.
  [[nodiscard]] virtual std::uint32_t BlobBlockSizeField() const = 0;
  // Password-protected tables keep BLOB headers and blocks scrambled.
  [[nodiscard]] virtual bool IsEncrypted() const = 0;
  // Scrambles (or unscrambles: the same transformation) one buffer from the
  // start state of the table's contents pair.
  virtual void ScrambleContents(std::span<std::uint8_t> buffer) const = 0;
  // Inside a batch the block cache grows instead of evicting.
  [[nodiscard]] virtual bool InBatch() const = 0;
  // Set while the table is being repaired: bad chains are then cut and
  // logged instead of raising.
  [[nodiscard]] virtual bool Repairing() const = 0;
  // One line of the repair log.
  virtual void DoRepairLog(std::string_view line) = 0;
  // Lock hooks: called after the BLOB file obtained (locked = true) or
  // released (false) its write lock or a read lock. Waiting and retrying
  // is the BLOB file's own; the owner may count or trace.
  virtual void BlobWriteLockChanged(bool /*locked*/) {}
  virtual void BlobReadLockChanged(bool /*locked*/) {}
};

}  // namespace storage
