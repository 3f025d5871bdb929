// The data file's BLOB-field operations on its BLOB file's open values,
// kept in a translation unit of their own (see data_file_blob.h for why the
// BLOB and index headers never meet in one source file).
//
// Handles are those of TBlobFile::OpenBlob: positive, never reused while
// the process runs. Every routine returns the BLOB file's result code (0
// done, 10030 a handle that names no open value, ...) unless it says
// otherwise.
#pragma once

#include <cstdint>

namespace storage {

class TBlobFile;

[[nodiscard]] std::uint16_t BlobOpen(TBlobFile& file, std::uint32_t first_block,
                                     std::uint16_t field_number, std::int32_t& handle,
                                     std::uint32_t expected_record);
// first_block (when given) receives the value's first-block offset.
[[nodiscard]] std::uint16_t BlobClose(TBlobFile& file, std::int32_t handle,
                                      std::uint32_t* first_block);
[[nodiscard]] std::uint16_t BlobRead(TBlobFile& file, std::int32_t handle, std::int32_t offset,
                                     std::int32_t& bytes_read, std::int32_t count, void* dest);
[[nodiscard]] std::uint16_t BlobWrite(TBlobFile& file, std::int32_t handle, std::int32_t offset,
                                      std::int32_t count, const void* src);
[[nodiscard]] std::uint16_t BlobTruncate(TBlobFile& file, std::int32_t handle,
                                         std::int32_t new_size);
[[nodiscard]] std::uint16_t BlobSize(TBlobFile& file, std::int32_t handle, std::int32_t& size);
[[nodiscard]] bool BlobIsOpen(const TBlobFile& file, std::int32_t handle);
[[nodiscard]] int BlobOpenCount(const TBlobFile& file);
// Gives the open value of handle the owner record_number and, when it was
// modified, writes its chain (or frees it when the value is empty); the
// value stays open. A value whose chain belongs to another record (read
// from it, or saved for it before) is written to a new chain of its own:
// two records never share one. Returns the first-block offset afterwards.
// Raises the BLOB file's errors.
std::uint32_t BlobSaveForRecord(TBlobFile& file, std::int32_t handle, std::uint32_t record_number);
// The chain at first_block was record_number's value and has been replaced
// by another: it is freed when that record owns it (a chain of another
// owner is left alone), and open values on it let go of it. Raises 9998
// for a chain that leads astray.
void BlobFreeReplacedChain(TBlobFile& file, std::uint32_t first_block, std::uint32_t record_number);
// The first-block offset of an open value; 0 when the handle is unknown.
[[nodiscard]] std::uint32_t BlobFirstBlock(const TBlobFile& file, std::int32_t handle);
void BlobCloseAll(TBlobFile& file);

}  // namespace storage
