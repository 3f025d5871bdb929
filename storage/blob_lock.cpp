#include "storage/blob_lock.h"

#include "storage/blob_file.h"

namespace storage {

bool BlobLockFree(const TBlobFile& file) {
  return !file.IsOpen() || file.Exclusive() || file.ForcedReadOnly();
}

bool LockBlobWrite(TBlobFile& file) {
  if (BlobLockFree(file)) return false;
  file.LockBlobFile();
  return true;
}

void UnlockBlobWrite(TBlobFile& file) {
  if (BlobLockFree(file)) return;
  file.UnlockBlobFile();
}

bool LockBlobRead(TBlobFile& file) {
  if (BlobLockFree(file)) return false;
  file.LockBlobFileShared();
  return true;
}

void UnlockBlobRead(TBlobFile& file) {
  if (BlobLockFree(file)) return;
  file.UnlockBlobFileShared();
}

void CheckBlobChanged(TBlobFile& file) {
  if (file.IsOpen()) file.CheckBlobHeaderChanged();
}

bool BlobSectionFlag(const TBlobFile& file) { return file.HeaderChecked(); }

void SetBlobSectionFlag(TBlobFile& file, bool set) { file.SetHeaderChecked(set); }

}  // namespace storage
