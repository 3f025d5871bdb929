// TDataFile::RecordAppender: filling an empty table no one else sees.
//
// Each Append does what InsertRecord does to the files, in the same order:
// the record ID previewed into the caller's record, the checks, one key per
// index (the primary index when the table has one, the secondary indexes,
// then "Sys Deleted"), the index header's record count, and the record at
// the append position (status 0, free link 0, the ID, the caller's fields).
// The index pages therefore come out as the same inserts one by one make
// them. What is left out needs no counterpart in a table that is
// exclusive and was empty: no write section (an exclusive table locks
// nothing), no undo (a failed fill empties the table instead), no record
// cache (the images are gathered in a block and written when it is full:
// ~64 KB), no cursor repositioning and no filter update after each
// record.
#include <algorithm>
#include <array>
#include <cstring>

#include "storage/data_file.h"
#include "storage/engine_error.h"
#include "storage/index_file.h"
#include "storage/index_store.h"

namespace storage {

struct TDataFile::RecordAppender::Index {
  int number;
  IndexStore::AppendPath path;
  // The record's key, built once for the duplicate test and the insert.
  std::array<std::uint8_t, kKeyBufferSize> key;
};

TDataFile::RecordAppender::RecordAppender(TDataFile& file) : file_(&file) {
  if (!file.IsOpen()) file.Fail(ErrorCode::kInvalidFileHandle);
  file.CheckNotFailed();
  if (!file.Exclusive()) file.Fail(ErrorCode::kMustBeExclusive);
  if (file.ReadOnly()) file.Fail(ErrorCode::kAccessDenied);
  if (file.header_.BlobCount() > 0 || file.keep_record_ids_ || file.header_.NextRecord() != 1)
    file.Fail(ErrorCode::kInUse);
  TIndexFile& ix = *file.index_file_;
  saved_index_ = ix.CurrentIndex();
  if (file.TableHasPrimaryKey()) indexes_.push_back({0, {}, {}});
  for (int i = 1; i <= ix.SecondaryIndexCount(); ++i) indexes_.push_back({i, {}, {}});
  if (file.TableHasPrimaryKey()) indexes_.push_back({kSysDeletedSlot, {}, {}});
  block_capacity_ = static_cast<std::uint32_t>(
      std::max<std::size_t>(1, kScanBlockBytes / std::max<std::size_t>(file.record_size_, 1)));
  block_.resize(std::size_t{block_capacity_} * file.record_size_);
  block_first_ = 1;
  // Nothing of the table's cursor stays: it is put before the first
  // record at the end.
  file.SetCurrentRecord(nullptr);
}

TDataFile::RecordAppender::~RecordAppender() {
  // The kept descents let go of their pages before anything may drop them.
  for (Index& i : indexes_) i.path.Clear();
  if (!finished_) Abandon();
}

void TDataFile::RecordAppender::Append(std::span<std::byte> record) {
  TDataFile& t = *file_;
  if (finished_ || broken_) t.Fail(ErrorCode::kInUse);
  t.CheckRecordSpan(record);
  t.ValidateRecord(record);
  TIndexFile& ix = *t.index_file_;
  const std::uint32_t n = t.header_.NextRecord();
  if (n == 0xFFFFFFFFu || t.RecordPosition(n) + 2u * t.record_size_ > 0x7FFFFFFFu)
    t.Fail(ErrorCode::kWriteError);
  const std::uint32_t id = t.header_.LastRecordId() + 1;
  SetRecordID(id, record);
  auto select = [&ix](int i) {
    if (ix.CurrentIndex() != i) ix.SelectIndex(i);
  };
  // Each key builder zeroes the key up to its size.
  for (Index& i : indexes_) {
    select(i.number);
    if (i.number == kSysDeletedSlot) {
      t.BuildDeletedKey(0, i.key.data(), record);
    } else {
      t.BuildIndexKey(record, i.key.data());
      if (!t.no_unique_checks_) ix.CheckUniqueKey(i.key.data());
    }
  }
  broken_ = true;
  for (Index& i : indexes_) {
    select(i.number);
    ix.AppendKey(i.key.data(), n, i.path);
  }
  ix.IncrementRecordCount();
  t.header_.SetNextRecord(n + 1);
  t.header_.SetLastRecordId(id);
  std::uint8_t* image = block_.data() + std::size_t{block_count_} * t.record_size_;
  std::memcpy(image, record.data(), t.record_size_);
  std::memset(image, 0, kRecordIdOffset);  // status 0, free link 0
  if (t.header_.Encrypted()) ScrambleTableContents(image, t.record_size_);
  if (++block_count_ == block_capacity_) WriteBlock();
  broken_ = false;
}

void TDataFile::RecordAppender::WriteBlock() {
  if (block_count_ == 0) return;
  TDataFile& t = *file_;
  t.WriteAt(static_cast<std::int64_t>(t.RecordPosition(block_first_)), block_.data(),
            static_cast<std::int32_t>(std::size_t{block_count_} * t.record_size_));
  block_first_ += block_count_;
  block_count_ = 0;
}

void TDataFile::RecordAppender::Finish() {
  TDataFile& t = *file_;
  if (finished_) return;
  if (broken_) t.Fail(ErrorCode::kInUse);
  for (Index& i : indexes_) i.path.Clear();
  WriteBlock();
  t.WriteHeader();
  finished_ = true;
  t.index_file_->SelectIndex(saved_index_);
  // Filters learn of the records all at once: their bitmaps are rebuilt
  // from the file (one record at a time they would read each record back).
  t.table_changed_ = true;
  t.RefreshRangeAndFilters();
  (void)t.MoveToBegin();
}

void TDataFile::RecordAppender::Abandon() noexcept {
  TDataFile& t = *file_;
  finished_ = true;
  try {
    t.index_file_->SelectIndex(saved_index_);
    t.EmptyDataTable();
  } catch (const ETolmidEngineError& e) {
    t.failed_code_ = e.ErrorCode() > 0 ? static_cast<std::uint16_t>(e.ErrorCode())
                                       : Code(ErrorCode::kWriteError);
  } catch (...) {
    t.failed_code_ = Code(ErrorCode::kWriteError);
  }
}

}  // namespace storage
