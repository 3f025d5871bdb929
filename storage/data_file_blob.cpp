#include "storage/data_file_blob.h"

#include "storage/blob_file.h"

namespace storage {

void BlobFileDeleter::operator()(TBlobFile* file) const { delete file; }

BlobFilePtr MakeBlobFile(BlobFileOwner* owner) { return BlobFilePtr(new TBlobFile(owner)); }

TFileHandler& BlobHandler(TBlobFile& file) { return file; }

void EmptyBlobFile(TBlobFile& file) {
  file.TruncateBlobFile();
  file.WriteBlobHeader();
}

void FlushBlobFile(TBlobFile& file, bool trim) {
  if (!file.IsOpen()) return;
  if (file.FlushBlobBlocks()) file.WriteBlobHeader();
  if (trim) file.ResetBlockCacheSize();
}

void ClearBlobPins(TBlobFile& file) {
  if (file.IsOpen()) file.ClearAllPins();
}

void ResetBlobCaches(TBlobFile& file, bool trim) {
  if (!file.IsOpen()) return;
  file.ResetBlobBlocks();
  if (trim) file.ResetBlockCacheSize();
  file.ReadBlobHeader();
}

void BlobBeginUndo(TBlobFile& file, bool copy_clean) {
  if (file.IsOpen()) file.BeginUndo(copy_clean);
}

void BlobCommitUndo(TBlobFile& file) { file.CommitUndo(); }

void BlobRollbackUndo(TBlobFile& file, bool rewrite) { file.RollbackUndo(rewrite); }

void BlobDiscardChanges(TBlobFile& file) { file.DiscardChanges(); }

}  // namespace storage
