// The data file's use of its BLOB file's locks and change check, kept in a
// translation unit of its own (see data_file_blob.h for why the BLOB and
// index headers never meet in one source file).
#pragma once

namespace storage {

class TBlobFile;

// The write lock (65535 bytes from 0x7FFF0000); true when this call took
// an operating-system lock (false on an exclusive or forced read-only file).
bool LockBlobWrite(TBlobFile& file);
void UnlockBlobWrite(TBlobFile& file);
// A read lock on one random byte inside the write-lock range.
bool LockBlobRead(TBlobFile& file);
void UnlockBlobRead(TBlobFile& file);
// Re-reads the header and drops every cached block when another user wrote
// the file; nothing while the section flag (HeaderChecked) is set.
void CheckBlobChanged(TBlobFile& file);
[[nodiscard]] bool BlobSectionFlag(const TBlobFile& file);
void SetBlobSectionFlag(TBlobFile& file, bool set);
[[nodiscard]] bool BlobLockFree(const TBlobFile& file);

}  // namespace storage
