#include "dataset/tolmid_blob_stream.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "dataset/component_errors.h"
#include "dataset/tolmid_dataset.h"
#include "framework/db/field.h"
#include "storage/data_file.h"
#include "storage/engine_error.h"

namespace dataset {

using fw::TDataSetState;

namespace {

constexpr std::uint16_t kBlobEnded = 8711;
constexpr std::uint16_t kInvalidOffset = 9998;
constexpr std::int64_t kMaxValue = INT32_MAX;

}  // namespace

TTolmidBlobStream::TTolmidBlobStream(fw::TField* field, fw::TBlobStreamMode mode)
    : field_(field), dataset_(dynamic_cast<TTolmidDataSet*>(field->DataSet())) {
  if (dataset_ == nullptr || dataset_->Handle() == nullptr) return;
  field_no_ = field->FieldNo();
  char* record = dataset_->StateRecordBuffer();
  if (record == nullptr || field_no_ < 1) return;
  if (dataset_->State() == TDataSetState::dsFilter)
    RaiseComponentError(ComponentMessage::kCannotAccessField, field->DisplayName());
  auto* blob = dynamic_cast<fw::TBlobField*>(field);
  const bool field_modified = blob != nullptr && blob->Modified();
  storage::TDataFile& cursor = *dataset_->Handle();
  if (field_modified) {
    // Its handle waits in the record buffer for Post or Cancel.
    record_ = record;
  } else if (mode == fw::TBlobStreamMode::bmRead) {
    own_record_.assign(record, record + dataset_->EngineRecordSize());
    record_ = own_record_.data();
  } else {
    if (field->ReadOnly())
      fw::DatabaseErrorFmt(fw::db_msg::kFieldReadOnly, {field->DisplayName()}, dataset_);
    if (dataset_->State() != TDataSetState::dsEdit && dataset_->State() != TDataSetState::dsInsert)
      fw::DatabaseError(fw::db_msg::kNotEditing, dataset_);
    record_ = record;
  }
  if (!field_modified) {
    const bool was_open = cursor.IsBlobFieldOpen(true, field_no_, Record());
    storage::CheckEngineResult(cursor.OpenBlobField(true, field_no_, Record()));
    owns_handle_ = !was_open;
  }
  opened_ = true;
  if (mode == fw::TBlobStreamMode::bmWrite) Truncate();
}

TTolmidBlobStream::~TTolmidBlobStream() {
  if (!opened_) return;
  try {
    auto* blob = dynamic_cast<fw::TBlobField*>(field_);
    if (modified_) {
      if (blob != nullptr) blob->SetModified(true);
    } else if (owns_handle_ && (blob == nullptr || !blob->Modified())) {
      (void)dataset_->Handle()->CloseBlobField(true, field_no_, Record());
    }
    if (modified_)
      dataset_->DataEvent(fw::TDataEvent::deFieldChange, reinterpret_cast<std::intptr_t>(field_));
  } catch (...) {
    // A destructor must not raise; the data event is lost, the value is not.
  }
}

std::span<std::byte> TTolmidBlobStream::Record() {
  return {reinterpret_cast<std::byte*>(record_), dataset_->EngineRecordSize()};
}

std::int64_t TTolmidBlobStream::Read(void* buffer, std::int64_t count) {
  if (!opened_ || count <= 0 || position_ < 0 || position_ >= kMaxValue) return 0;
  const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(count, kMaxValue - position_));
  std::int32_t got = 0;
  const std::uint16_t rc = dataset_->Handle()->ReadBlobField(
      true, field_no_, got, static_cast<std::int32_t>(position_), buffer, n, Record());
  if (rc == 0 || rc == kBlobEnded) {
    position_ += got;
  } else if (rc != kInvalidOffset) {
    storage::CheckEngineResult(rc);
  }
  return got;
}

std::int64_t TTolmidBlobStream::Write(const void* buffer, std::int64_t count) {
  if (!opened_ || count <= 0 || position_ < 0) return 0;
  if (count > kMaxValue - position_) storage::RaiseEngineError(kInvalidOffset);
  storage::CheckEngineResult(dataset_->Handle()->WriteBlobField(
      true, field_no_, buffer, static_cast<std::int32_t>(position_),
      static_cast<std::int32_t>(count), Record()));
  position_ += count;
  modified_ = true;
  return count;
}

std::int64_t TTolmidBlobStream::Seek(std::int64_t offset, fw::TSeekOrigin origin) {
  std::int64_t base = 0;
  switch (origin) {
    case fw::TSeekOrigin::soBeginning: base = 0; break;
    case fw::TSeekOrigin::soCurrent: base = position_; break;
    case fw::TSeekOrigin::soEnd: base = Size(); break;
  }
  if (offset > 0 && base > INT64_MAX - offset) return -1;
  const std::int64_t target = base + offset;
  if (target < 0) return -1;
  position_ = target;
  return position_;
}

std::int64_t TTolmidBlobStream::Size() {
  if (!opened_) return 0;
  std::int32_t size = 0;
  storage::CheckEngineResult(dataset_->Handle()->GetBlobFieldSize(true, field_no_, size, Record()));
  return size;
}

void TTolmidBlobStream::SetSize(std::int64_t new_size) {
  if (!opened_) return;
  if (new_size < 0 || new_size > kMaxValue) storage::RaiseEngineError(kInvalidOffset);
  storage::CheckEngineResult(dataset_->Handle()->TruncateBlobField(
      true, field_no_, static_cast<std::int32_t>(new_size), Record()));
  modified_ = true;
  position_ = std::min(position_, new_size);
}

void TTolmidBlobStream::Truncate() { SetSize(std::min(position_, kMaxValue)); }

}  // namespace dataset
