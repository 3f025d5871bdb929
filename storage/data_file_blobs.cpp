// TDataFile: BLOB fields. An open field holds its value's handle negated in
// the record buffer; the value reaches the BLOB file only when its record
// is inserted or modified (WriteRecordBlobs).
#include <algorithm>
#include <cstring>

#include "storage/blob_file.h"
#include "storage/blob_format.h"
#include "storage/data_file.h"
#include "storage/lock_guards.h"

namespace storage {
namespace {

constexpr std::uint16_t kBadHandle = 10030;
constexpr std::uint16_t kNotBlob = 10753;

std::int32_t StoredValue(std::span<const std::byte> record, const TFieldDescriptor& f) {
  return LoadLittle<std::int32_t>(record.data() + f.Offset + 1);
}

}  // namespace

std::uint16_t TDataFile::OpenBlobFieldUnlocked(bool working, int field_no,
                                               std::span<std::byte> record) {
  CheckRecordSpan(record);
  const TFieldDescriptor& f = GetFieldDescriptor(working, field_no);
  if (f.Type() != FieldType::kBlob) return kNotBlob;
  if (header_.BlobCount() == 0 || !BlobFileOpen()) return kNotBlob;
  const std::int32_t v = StoredValue(record, f);
  // A negative value is a handle. One whose value was closed (by
  // CloseBlobField elsewhere or FreeBlobBuffers) no longer says where the
  // value is: opening it as an empty value would let the next post store
  // "no value" over the record's chain.
  if (v < 0) return blob_file_->IsOpenBlob(Negate(v)) ? 0 : kBadHandle;
  const auto first = static_cast<std::uint32_t>(v);
  std::int32_t handle = 0;
  const std::uint16_t rc =
      blob_file_->OpenBlob(first, static_cast<std::uint16_t>(f.FieldNumber), handle, 0);
  if (rc != 0) return rc;
  const std::int32_t stored = Negate(handle);
  SetFieldValue(working, field_no, false, &stored, record);
  return 0;
}

std::uint16_t TDataFile::OpenBlobField(bool working, int field_no, std::span<std::byte> record) {
  BlobReadSectionGuard section(*this);
  const std::uint16_t rc = OpenBlobFieldUnlocked(working, field_no, record);
  section.Release();
  return rc;
}

std::uint16_t TDataFile::CloseBlobField(bool working, int field_no, std::span<std::byte> record) {
  CheckRecordSpan(record);
  const TFieldDescriptor& f = GetFieldDescriptor(working, field_no);
  if (f.Type() != FieldType::kBlob) return kNotBlob;
  const std::int32_t v = StoredValue(record, f);
  if (v >= 0 || header_.BlobCount() == 0 || !BlobFileOpen()) return kBadHandle;
  std::uint32_t first = 0;
  const std::uint16_t rc = blob_file_->CloseBlob(Negate(v), &first);
  if (rc != 0) return rc;
  SetFieldValue(working, field_no, false, &first, record);
  return 0;
}

std::uint16_t TDataFile::ReadBlobField(bool working, int field_no, std::int32_t& bytes_read,
                                       std::int32_t offset, void* buffer, std::int32_t length,
                                       std::span<std::byte> record) {
  bytes_read = 0;
  CheckRecordSpan(record);
  const TFieldDescriptor& f = GetFieldDescriptor(working, field_no);
  if (f.Type() != FieldType::kBlob) return kNotBlob;
  const std::int32_t v = StoredValue(record, f);
  if (v >= 0 || header_.BlobCount() == 0 || !BlobFileOpen()) return kBadHandle;
  return blob_file_->ReadBlob(Negate(v), offset, bytes_read, length, buffer);
}

std::uint16_t TDataFile::WriteBlobField(bool working, int field_no, const void* buffer,
                                        std::int32_t offset, std::int32_t length,
                                        std::span<std::byte> record) {
  CheckRecordSpan(record);
  const TFieldDescriptor& f = GetFieldDescriptor(working, field_no);
  if (f.Type() != FieldType::kBlob) return kNotBlob;
  const std::int32_t v = StoredValue(record, f);
  if (v >= 0 || header_.BlobCount() == 0 || !BlobFileOpen()) return kBadHandle;
  const std::uint16_t rc = blob_file_->WriteBlob(Negate(v), offset, length, buffer);
  if (rc == 0) SetFieldValue(working, field_no, false, &v, record);  // the null flag follows
  return rc;
}

std::uint16_t TDataFile::TruncateBlobField(bool working, int field_no, std::int32_t new_size,
                                           std::span<std::byte> record) {
  CheckRecordSpan(record);
  const TFieldDescriptor& f = GetFieldDescriptor(working, field_no);
  if (f.Type() != FieldType::kBlob) return kNotBlob;
  const std::int32_t v = StoredValue(record, f);
  if (v >= 0 || header_.BlobCount() == 0 || !BlobFileOpen()) return kBadHandle;
  const std::uint16_t rc = blob_file_->TruncateBlob(Negate(v), new_size);
  if (rc == 0) SetFieldValue(working, field_no, false, &v, record);
  return rc;
}

std::uint16_t TDataFile::GetBlobFieldSize(bool working, int field_no, std::int32_t& size,
                                          std::span<std::byte> record) {
  size = 0;
  CheckRecordSpan(record);
  const TFieldDescriptor& f = GetFieldDescriptor(working, field_no);
  if (f.Type() != FieldType::kBlob) return kNotBlob;
  const std::int32_t v = StoredValue(record, f);
  if (v >= 0 || header_.BlobCount() == 0 || !BlobFileOpen()) return kBadHandle;
  return blob_file_->GetBlobSize(Negate(v), size);
}

bool TDataFile::IsBlobFieldOpen(bool working, int field_no,
                                std::span<const std::byte> record) const {
  CheckRecordSpan(record);
  const TFieldDescriptor& f = GetFieldDescriptor(working, field_no);
  if (f.Type() != FieldType::kBlob || header_.BlobCount() == 0 || !BlobFileOpen()) return false;
  const std::int32_t v = StoredValue(record, f);
  return v < 0 && blob_file_->IsOpenBlob(Negate(v));
}

void TDataFile::FreeBlobBuffers() {
  if (header_.BlobCount() > 0 && BlobFileOpen()) blob_file_->CloseAllBlobs();
}

void TDataFile::CheckBlobOffsets(std::span<const std::byte> caller,
                                 std::span<const std::byte> old) const {
  for (const TFieldDescriptor& f : stored_) {
    if (f.Type() != FieldType::kBlob) continue;
    const std::int32_t v = StoredValue(caller, f);
    if (v <= 0) continue;  // a handle, or no value
    const std::int32_t own = old.empty() ? 0 : StoredValue(old, f);
    if (v != own) Fail(ErrorCode::kInvalidBlobOffset, f.Name.View());
  }
}

// For each stored BLOB field of the caller's record:
//  - an open value (its handle names an open buffer) is saved for the
//    slot's record (written when modified, or to a new chain when its chain
//    is another record's) and its first-block offset stored; values open in
//    other record buffers are not touched;
//  - a handle whose value was closed is never taken for an offset: the
//    field keeps the offset it had in the stored record (none on insert);
//  - an offset is the stored record's own (CheckBlobOffsets) or 0, which
//    empties the value.
// When the record's value moves off the chain the stored record had (an
// open value saved to a chain of its own, a value emptied elsewhere, or
// the offset 0), that old chain is freed: every block stays in exactly one
// chain or on the free list.
void TDataFile::WriteRecordBlobs(TRecord* slot, std::span<const std::byte> caller,
                                 std::span<const std::byte> old) {
  const std::uint32_t n = slot->RecordNumber();
  for (int i = 1; i <= FieldCount(); ++i) {
    const TFieldDescriptor& f = stored_[i - 1];
    if (f.Type() != FieldType::kBlob) continue;
    const std::int32_t v = StoredValue(caller, f);
    const auto old_offset =
        old.empty() ? 0u : static_cast<std::uint32_t>(std::max(StoredValue(old, f), 0));
    std::uint32_t offset;
    if (v < 0) {
      const std::int32_t handle = Negate(v);
      if (BlobFileOpen() && blob_file_->IsOpenBlob(handle)) {
        const std::uint32_t before = blob_file_->FirstBlockOf(handle);
        offset = blob_file_->SaveForRecord(handle, n);
        if (old_offset != 0 && old_offset != before && old_offset != offset)
          blob_file_->FreeReplacedChain(old_offset, n);
      } else {
        offset = old_offset;
      }
    } else {
      offset = static_cast<std::uint32_t>(v);
      if (offset == 0 && old_offset != 0) blob_file_->FreeReplacedChain(old_offset, n);
    }
    std::byte* p = slot->Data().data() + f.Offset;
    p[0] = std::byte{static_cast<std::uint8_t>(offset != 0 ? 1 : 0)};
    StoreLittle<std::uint32_t>(p + 1, offset);
  }
  slot->modified = true;
}

}  // namespace storage
