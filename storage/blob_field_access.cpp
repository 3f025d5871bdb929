#include "storage/blob_field_access.h"

#include "storage/blob_buffer.h"
#include "storage/blob_file.h"

namespace storage {

std::uint16_t BlobOpen(TBlobFile& file, std::uint32_t first_block, std::uint16_t field_number,
                       std::int32_t& handle, std::uint32_t expected_record) {
  return file.OpenBlob(first_block, field_number, handle, expected_record);
}

std::uint16_t BlobClose(TBlobFile& file, std::int32_t handle, std::uint32_t* first_block) {
  return file.CloseBlob(handle, first_block);
}

std::uint16_t BlobRead(TBlobFile& file, std::int32_t handle, std::int32_t offset,
                       std::int32_t& bytes_read, std::int32_t count, void* dest) {
  return file.ReadBlob(handle, offset, bytes_read, count, dest);
}

std::uint16_t BlobWrite(TBlobFile& file, std::int32_t handle, std::int32_t offset,
                        std::int32_t count, const void* src) {
  return file.WriteBlob(handle, offset, count, src);
}

std::uint16_t BlobTruncate(TBlobFile& file, std::int32_t handle, std::int32_t new_size) {
  return file.TruncateBlob(handle, new_size);
}

std::uint16_t BlobSize(TBlobFile& file, std::int32_t handle, std::int32_t& size) {
  return file.GetBlobSize(handle, size);
}

bool BlobIsOpen(const TBlobFile& file, std::int32_t handle) { return file.IsOpenBlob(handle); }

int BlobOpenCount(const TBlobFile& file) { return file.OpenBlobCount(); }

std::uint32_t BlobSaveForRecord(TBlobFile& file, std::int32_t handle,
                                std::uint32_t record_number) {
  TBlobBuffer* b = file.FindBlob(handle);
  if (b == nullptr) return 0;
  if (b->FirstBlock() != 0 && b->RecordNumber() != record_number) b->DetachChain();
  // The owner first: freeing or rewriting a chain checks every block
  // against it.
  b->SetRecordNumber(record_number);
  if (b->Modified()) {
    if (b->Size() > 0) {
      b->WriteBlobChain();
    } else {
      b->FreeBlobValue();
    }
    b->SetModified(false);
  }
  return b->FirstBlock();
}

void BlobFreeReplacedChain(TBlobFile& file, std::uint32_t first_block,
                           std::uint32_t record_number) {
  // An offset that names no block, or a chain of another owner, is not
  // this record's to free: it is left as it is.
  if (first_block == 0 || !file.IsBlockOffset(first_block)) return;
  {
    BlockPin first = file.GetChainBlock(first_block);
    if (first->RecordNumber() != record_number) return;
  }
  std::uint32_t offset = first_block;
  file.FreeBlobChainAt(offset, record_number);
  file.ForgetChain(first_block);
}

std::uint32_t BlobFirstBlock(const TBlobFile& file, std::int32_t handle) {
  const TBlobBuffer* b = file.FindBlob(handle);
  return b != nullptr ? b->FirstBlock() : 0;
}

void BlobCloseAll(TBlobFile& file) { file.CloseAllBlobs(); }

}  // namespace storage
