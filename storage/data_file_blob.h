// The data file's hold on its BLOB file, kept in a translation unit of its
// own: the BLOB file's headers and the index file's headers both define
// little-endian helpers of the same names, so no source file may include
// both. Everything TDataFile does with its TBlobFile goes through here.
#pragma once

#include <cstdint>
#include <memory>

namespace storage {

class BlobFileOwner;
class TBlobFile;
class TFileHandler;

struct BlobFileDeleter {
  void operator()(TBlobFile* file) const;
};
using BlobFilePtr = std::unique_ptr<TBlobFile, BlobFileDeleter>;

BlobFilePtr MakeBlobFile(BlobFileOwner* owner);
// The file as a handler (name, flags, open, close, create, delete, rename).
TFileHandler& BlobHandler(TBlobFile& file);
// Empties the file and writes its header.
void EmptyBlobFile(TBlobFile& file);
// Writes dirty blocks and then the header; trim shrinks the block cache.
void FlushBlobFile(TBlobFile& file, bool trim);
void ClearBlobPins(TBlobFile& file);
// Drops every cached block (dirty contents too), shrinks the block cache
// when trim is set and reads the header again. Nothing when not open.
void ResetBlobCaches(TBlobFile& file, bool trim);
// A write's undo on the BLOB file (TBlobFile::BeginUndo and the others);
// nothing when the file is not open.
void BlobBeginUndo(TBlobFile& file, bool copy_clean);
void BlobCommitUndo(TBlobFile& file);
void BlobRollbackUndo(TBlobFile& file, bool rewrite);
void BlobDiscardChanges(TBlobFile& file);

}  // namespace storage
