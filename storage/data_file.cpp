// TDataFile: construction, opening and closing, header and descriptor I/O,
// and the record cache. Table creation and emptying: data_file_create.cpp.
#include "storage/data_file.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>

#include "framework/sysutils.h"
#include "platform/locale.h"
#include "platform/text.h"
#include "storage/blob_file.h"
#include "storage/engine_error.h"
#include "storage/fault_injection.h"
#include "storage/index_file.h"
#include "storage/lock_guards.h"
#include "storage/session.h"
#include "storage/table_locks.h"
#include "storage/table_names.h"
#include "storage/table_swap.h"

namespace storage {
namespace {

// The day-number origin of the header's update-time field.
constexpr double kUpdateTimeBias = 693594.0;

}  // namespace

TDataFile::TDataFile(void* owner)
    : owner_(owner),
      index_file_(std::make_unique<TIndexFile>(this)),
      blob_file_(std::make_unique<TBlobFile>(this)),
      cache_(this) {}

TDataFile::~TDataFile() {
  try {
    Close();
  } catch (...) {
    // A destructor must not throw; the error was the caller's to see by
    // closing explicitly.
  }
}

void TDataFile::Fail(ErrorCode code, std::string_view field, std::string_view index) const {
  EngineError(code, FileName(), field, index);
}

std::string TDataFile::NormaliseFileName(std::string_view name) {
  return TableFileName(name, kDataExtension);
}

// ------------------------------------------------------------------ open, close

void TDataFile::ClearOpenState() {
  blocks_.Clear();
  header_checked_ = false;
  table_locked_ = false;
  ResetLockState();
  batch_held_ = false;
  record_size_ = 0;
  records_per_block_ = 0;
  computed_size_ = 0;
  working_count_ = 0;
  stored_.clear();
  working_.clear();
  current_ = nullptr;
  cache_.Clear();
  cache_.SetCapacity(0);
  has_checks_ = has_defaults_ = has_computed_ = false;
  header_owed_ = false;
  failed_code_ = 0;
  undo_active_ = false;
  undo_flushing_ = false;
  undo_count_ = 0;
  table_changed_ = false;
}

void TDataFile::PrepareIndexFile() {
  index_file_->SetInMemory(InMemory());
  index_file_->SetExclusive(Exclusive());
  index_file_->SetReadOnly(ReadOnly());
  index_file_->SetFileName(FileName());
}

void TDataFile::PrepareBlobFile() {
  TFileHandler& blob = *blob_file_;
  blob.SetInMemory(InMemory());
  blob.SetExclusive(Exclusive());
  blob.SetReadOnly(ReadOnly());
  blob.SetFileName(FileName());
}

void TDataFile::CreateBlobFile() {
  PrepareBlobFile();
  blob_file_->CreateFile();
}

void TDataFile::OpenBlobFile() {
  PrepareBlobFile();
  blob_file_->Open();
}

void TDataFile::CloseBlobFile() { blob_file_->Close(); }

bool TDataFile::BlobFileOpen() const { return blob_file_->IsOpen(); }

void TDataFile::EmptyBlobFile() {
  blob_file_->TruncateBlobFile();
  blob_file_->WriteBlobHeader();
}

void TDataFile::FlushBlobFile(bool trim) {
  if (!blob_file_->IsOpen()) return;
  blob_file_->FlushBlob();
  if (trim) blob_file_->ResetBlockCacheSize();
}

namespace {

// A shared open reads the headers of the .DAT, the .IDX and the .BLB
// without a lock, and a program writing the table at that moment may have
// written one file's header and not yet the other's data or header. The
// index file's read lock cannot cover this: it lives in the index file,
// which is opened only after the data header has been read and checked,
// and the semaphore is not taken by a writer holding the table lock. So
// a shared open that finds the headers inconsistent tries again a bounded
// number of times (a session setting) before it gives up with the error
// found.

bool MayBeHalfWritten(std::int32_t code) {
  return code == static_cast<std::int32_t>(ErrorCode::kCorruptRecords) ||
         code == static_cast<std::int32_t>(ErrorCode::kCorruptBlob) ||
         code == static_cast<std::int32_t>(ErrorCode::kCorruptIndex) ||
         code == static_cast<std::int32_t>(ErrorCode::kHeaderError);
}

}  // namespace

void TDataFile::LoadOpenState() {
  ReadHeader();
  record_size_ = header_.RecordSize();
  computed_size_ = header_.ComputedSize();
  records_per_block_ = static_cast<std::uint16_t>(
      record_size_ < 32767 ? 32767 / record_size_ : 65535 / record_size_);
  header_checked_ = Exclusive() || ForcedReadOnly();
  if (header_.Language() != 0 && !platform::IsValidLocale(LocaleId()))
    Fail(ErrorCode::kLocaleNotAvailable);
  if (header_.Encrypted()) {
    const std::string password = GetTablePassword();
    RequestTablePassword(password);
  }
  ReadFieldDefs();
  working_ = stored_;
  working_count_ = static_cast<int>(working_.size());
  ResetCacheCapacity();
}

void TDataFile::Open() {
  if (IsOpen()) return;
  // A swap of the table's files that a killed program left half done is
  // finished before anything is read (table_swap.h).
  if (!InMemory()) RecoverTableSwap(FileName());
  // A file carrying the read-only attribute opens read only by force; an
  // open that fails leaves the read-only flag as the caller set it.
  const bool asked_read_only = ReadOnly();
  auto undo = [this, asked_read_only] {
    CloseBlobFile();
    index_file_->Close();
    ClearOpenState();
    TFileHandler::Close();
    SetReadOnly(asked_read_only);
  };
  const TFileSession* session = CurrentSessionOrNull();
  const int retries = session != nullptr ? session->SharedOpenRetries()
                                         : TFileSession::kDefaultOpenRetries;
  const std::uint32_t delay_ms = session != nullptr ? session->SharedOpenRetryDelayMs()
                                                    : TFileSession::kDefaultOpenRetryDelayMs;
  for (int attempt = 0;; ++attempt) {
    ClearOpenState();
    TFileHandler::Open();
    try {
      LoadOpenState();
      PrepareIndexFile();
      index_file_->Open();
      if (header_.BlobCount() > 0) OpenBlobFile();
      return;
    } catch (const ETolmidEngineError& e) {
      undo();
      if (Exclusive() || attempt >= retries || !MayBeHalfWritten(e.ErrorCode())) throw;
    } catch (...) {
      undo();
      throw;
    }
    Delay(delay_ms);
  }
}

void TDataFile::Close() {
  if (!IsOpen()) return;
  std::exception_ptr error;
  if (Failed()) {
    // Nothing of a failed table is written, not even by the index and BLOB
    // files' own close.
    index_file_->DiscardChanges();
    if (header_.BlobCount() > 0) blob_file_->DiscardChanges();
  }
  KeepFirstError(error, [&] {
    if (batch_held_) {
      EndBatchLock();
    } else if (Exclusive() && !ReadOnly()) {
      ReleaseAllPins();
      FlushTable(true);
    }
  });
  KeepFirstError(error, [&] {
    if (table_locked_) {
      UnlockTable();
    } else {
      UnlockAllRecords();
    }
  });
  KeepFirstError(error, [&] {
    if (header_.BlobCount() > 0) CloseBlobFile();
  });
  index_file_->Close();
  ResetFilters();  // the filters go with the index file
  ClearOpenState();
  TFileHandler::Close();
  if (delete_on_close_) KeepFirstError(error, [&] { DeleteRemainingTableFiles(); });
  password_callback_ = nullptr;
  if (error) std::rethrow_exception(error);
}

void TDataFile::CreateFile() {
  TFileHandler::CreateFile();
  created_files_ |= 1;
  WriteHeader();
  PrepareIndexFile();
  index_file_->CreateFile();
  created_files_ |= 2;
  if (header_.BlobCount() > 0) {
    CreateBlobFile();
    created_files_ |= 4;
  }
}

void TDataFile::DeleteTableFiles() {
  TFileHandler::DeleteFile();
  PrepareIndexFile();
  index_file_->DeleteFile();
  PrepareBlobFile();
  TFileHandler& blob = *blob_file_;
  if (blob.FileExists()) blob.DeleteFile();
}

void TDataFile::DeleteRemainingTableFiles() {
  // A closed temporary table may be gone in part or whole already: a start
  // in its folder found it closed and took it for a dead program's
  // (temp_table_sweep.h). The .DAT goes last: while it stands, a sweep
  // after a kill here still finds the set.
  PrepareBlobFile();
  TFileHandler& blob = *blob_file_;
  if (blob.FileExists()) blob.DeleteFile();
  PrepareIndexFile();
  if (index_file_->FileExists()) index_file_->DeleteFile();
  if (TFileHandler::FileExists()) TFileHandler::DeleteFile();
}

void TDataFile::RenameTableFiles(std::string_view new_name) {
  const std::string old_name = FileName();
  TFileHandler::RenameFile(new_name);
  index_file_->SetInMemory(InMemory());
  index_file_->SetFileName(old_name);
  index_file_->RenameFile(new_name);
  TFileHandler& blob = *blob_file_;
  blob.SetInMemory(InMemory());
  blob.SetFileName(old_name);
  if (blob.FileExists()) blob.RenameFile(new_name);
}

// ------------------------------------------------------------------ header

void TDataFile::ReadHeader() {
  const std::int64_t size = GetFileSize();
  if (size < static_cast<std::int64_t>(kDataHeaderSize)) Fail(ErrorCode::kHeaderError);
  DataFileHeader h;
  if (ReadAt(0, h.Data(), kDataHeaderSize) != static_cast<std::int32_t>(kDataHeaderSize))
    Fail(ErrorCode::kHeaderError);
  if (const std::uint16_t rc = CheckDataHeader(h, static_cast<std::uint64_t>(size)); rc != 0)
    EngineError(rc, FileName());
  // Re-read under an open table: the layout the caches rely on must be the
  // one read at open (another program may have restructured the file).
  if (!stored_.empty() &&
      (h.FieldCount() != header_.FieldCount() || h.RecordSize() != header_.RecordSize() ||
       h.ComputedSize() != header_.ComputedSize() || h.BlobCount() != header_.BlobCount() ||
       h.EncryptedByte() != header_.EncryptedByte()))
    Fail(ErrorCode::kHeaderError);
  header_ = h;
}

void TDataFile::WriteHeader() {
  header_.SetCounter(header_.Counter() + 1);
  header_.SetUpdateTime(fw::Now() - kUpdateTimeBias);
  WriteAt(0, header_.Data(), kDataHeaderSize);
  header_owed_ = false;
}

void TDataFile::TruncateTable() {
  Seek(static_cast<std::int64_t>(header_.DataStart()), 0);
  Write(nullptr, 0);
  header_.SetCounter(0);
  header_.SetFreeHead(0);
  header_.SetNextRecord(1);
  header_.SetLastRecordId(0);
  SetCurrentRecord(nullptr);
}

void TDataFile::ReadFieldDefs() {
  const std::size_t count = header_.FieldCount();
  const std::size_t bytes = count * kFieldDescriptorSize;
  std::vector<TFieldDescriptor> defs(count);
  if (ReadAt(kDataHeaderSize, defs.data(), static_cast<std::int32_t>(bytes)) !=
      static_cast<std::int32_t>(bytes))
    Fail(ErrorCode::kHeaderError);
  if (header_.Encrypted()) ScrambleTableContents(defs.data(), bytes);
  for (TFieldDescriptor& f : defs) f.ExpressionRef = 0;
  if (const std::uint16_t rc = CheckFieldDescriptors(defs, header_); rc != 0)
    EngineError(rc, FileName());
  stored_ = std::move(defs);
  has_checks_ = has_defaults_ = has_computed_ = false;
  for (const TFieldDescriptor& f : stored_) {
    has_checks_ = has_checks_ || f.HasChecks();
    has_defaults_ = has_defaults_ || !f.DefaultValue.Empty();
    has_computed_ = has_computed_ || f.IsComputed();
  }
}

void TDataFile::WriteFieldDefs() {
  std::vector<TFieldDescriptor> block = stored_;
  for (TFieldDescriptor& f : block) f.ExpressionRef = 0;  // meaningless on disk
  const std::size_t bytes = block.size() * kFieldDescriptorSize;
  if (header_.Encrypted()) ScrambleTableContents(block.data(), bytes);
  WriteAt(kDataHeaderSize, block.data(), static_cast<std::int32_t>(bytes));
}

void TDataFile::SetFlagsFromWorking() {
  has_checks_ = has_defaults_ = has_computed_ = false;
  for (int i = 0; i < working_count_; ++i) {
    const TFieldDescriptor& f = working_[i];
    has_checks_ = has_checks_ || f.HasChecks();
    has_defaults_ = has_defaults_ || !f.DefaultValue.Empty();
    has_computed_ = has_computed_ || f.IsComputed();
  }
}

void TDataFile::SetWorkingFieldDefs(std::span<const TFieldDescriptor> fields) {
  std::vector<TFieldDescriptor> defs(fields.begin(), fields.end());
  if (defs.empty() || defs.size() > static_cast<std::size_t>(kMaxFields))
    Fail(ErrorCode::kFieldLimits);
  CheckFieldDefinitions(defs, false);
  std::uint32_t computed = computed_size_;
  for (TFieldDescriptor& f : defs) {
    if (f.IsComputed()) {
      const std::uint32_t offset = std::uint32_t{record_size_} + computed;
      computed += f.PhysicalSize + 1u;
      if (record_size_ + computed > kMaxRecordBufferSize) Fail(ErrorCode::kRecordTooLarge);
      f.Offset = static_cast<std::uint16_t>(offset);
    } else if (f.IsAutoIncrement()) {
      f.Offset = kRecordIdOffset;
    } else if (f.Offset < kRecordPrefixSize || f.Offset + 1u + f.PhysicalSize > record_size_) {
      // A working field must lie inside the stored record it reads.
      Fail(ErrorCode::kInvalidFieldDefinition, f.Name.View());
    }
  }
  SetCurrentRecord(nullptr);
  cache_.Clear();
  working_ = std::move(defs);
  working_count_ = static_cast<int>(working_.size());
  computed_size_ = static_cast<std::uint16_t>(computed);
  SetFlagsFromWorking();
  ResetCacheCapacity();
}

void TDataFile::HideLastField() {
  if (working_count_ > 0) --working_count_;
  has_computed_ = false;
}

void TDataFile::ShowLastField() {
  if (working_count_ < static_cast<int>(working_.size())) ++working_count_;
  has_computed_ = true;
}

// ------------------------------------------------------------------ records

std::uint64_t TDataFile::RecordPosition(std::uint32_t n) const {
  return header_.DataStart() + std::uint64_t{n - 1} * record_size_;
}

void TDataFile::ResetCacheCapacity() {
  const std::size_t size = std::max<std::size_t>(GetRecordBufferSize(), 1);
  const std::size_t capacity = std::min(kCacheBytes / size, kMaxCacheBuffers);
  cache_.SetCapacity(capacity);
  cache_.TrimTo(capacity);
}

void TDataFile::ClearBuffer(TRecord* r) {
  std::memset(r->Data().data(), 0, r->Size());
  r->modified = false;
  r->computed = false;
}

void TDataFile::InitRecordBuffer(TRecord* r) {
  ClearBuffer(r);
  std::uint32_t id = 0;
  if (!keep_record_ids_) {
    id = header_.LastRecordId() + 1;
    header_.SetLastRecordId(id);
  }
  StoreLittle<std::uint32_t>(r->Data().data() + kRecordIdOffset, id);
}

void TDataFile::LoadRecordBuffer(TRecord* r, const std::uint8_t* block) {
  std::memcpy(r->Data().data(), block, record_size_);
  if (header_.Encrypted()) ScrambleTableContents(r->Data().data(), record_size_);
  r->modified = false;
  r->computed = false;
}

void TDataFile::SaveRecordBuffer(TRecord* r, std::uint8_t* block) {
  std::memcpy(block, r->Data().data(), record_size_);
  if (header_.Encrypted()) ScrambleTableContents(block, record_size_);
  r->modified = false;
}

void TDataFile::DropAllRecords() {
  // Buffers are cleared without drawing record IDs: an ID drawn for a
  // buffer that never becomes a record would be lost (and after emptying
  // the table the first new record must get ID 1).
  for (TRecord* r : cache_.All()) {
    r->ClearUses();
    ClearBuffer(r);
    cache_.SetNumber(r, 0);
  }
  blocks_.Clear();
  current_ = nullptr;
}

void TDataFile::Write(const void* buffer, std::int32_t n) {
  if (n == 0) {
    blocks_.Clear();  // truncated or extended: every short block is wrong
  } else if (n > 0) {
    blocks_.Drop(static_cast<std::uint64_t>(Position()), static_cast<std::uint64_t>(n));
  }
  TFileHandler::Write(buffer, n);
}

void TDataFile::CountBlockLookup(bool hit) {
  if (++block_lookups_ == kBlockWindow) {
    // A window that hit almost nothing (a walk over far more file than the
    // cache holds): the next one reads only the bytes asked for, but for
    // one miss in kBlockProbe that still fills its block, so that a
    // return to a smaller working set is seen.
    blocks_bypassed_ = block_hits_ * 8 < kBlockWindow;
    block_lookups_ = 0;
    block_hits_ = 0;
  }
  if (hit) ++block_hits_;
}

std::int32_t TDataFile::ReadStored(std::uint64_t position, std::uint8_t* out, std::int32_t n) {
  if (InMemory()) return ReadAtMost(static_cast<std::int64_t>(position), out, n);
  blocks_.FitFile(RecordPosition(header_.NextRecord()));
  const bool hit = blocks_.Copy(position, out, static_cast<std::size_t>(n));
  CountBlockLookup(hit);
  if (hit) return n;
  if (blocks_bypassed_ && ++block_probe_ % kBlockProbe != 0)
    return ReadAtMost(static_cast<std::int64_t>(position), out, n);
  constexpr std::uint64_t kBlock = DataBlockCache::kBlockSize;
  const std::uint64_t start = position / kBlock * kBlock;
  const std::uint64_t end = (position + static_cast<std::uint64_t>(n) + kBlock - 1) / kBlock * kBlock;
  block_io_.resize(static_cast<std::size_t>(end - start));
  const std::int32_t got = ReadAtMost(static_cast<std::int64_t>(start), block_io_.data(),
                                      static_cast<std::int32_t>(end - start));
  if (got <= 0) return 0;
  blocks_.Store(start, block_io_.data(), static_cast<std::size_t>(got));
  const std::uint64_t skip = position - start;
  if (static_cast<std::uint64_t>(got) <= skip) return 0;
  const auto present =
      static_cast<std::int32_t>(std::min<std::uint64_t>(static_cast<std::uint64_t>(got) - skip,
                                                        static_cast<std::uint64_t>(n)));
  std::memcpy(out, block_io_.data() + skip, static_cast<std::size_t>(present));
  return present;
}

std::uint32_t TDataFile::StoredRun(std::uint32_t first, std::uint32_t count, std::uint32_t read_count,
                                   platform::FileView& view, std::vector<std::uint8_t>& block,
                                   const std::uint8_t*& bytes) {
  const auto position = static_cast<std::int64_t>(RecordPosition(first));
  std::size_t got = 0;
  if (MapView(position, static_cast<std::int32_t>(std::size_t{count} * record_size_), view)) {
    bytes = view.Data();
    got = view.Size();
  } else {
    count = std::min(count, read_count);
    block.resize(std::size_t{count} * record_size_);
    const std::int32_t read =
        ReadAtMost(position, block.data(), static_cast<std::int32_t>(block.size()));
    bytes = block.data();
    got = read > 0 ? static_cast<std::size_t>(read) : 0;
  }
  return std::min<std::uint32_t>(count, static_cast<std::uint32_t>(got / record_size_));
}

void TDataFile::SetCurrentRecord(TRecord* r) {
  if (current_ != nullptr && current_ != r) current_->ReleaseUse();
  current_ = r;
}

TRecord* TDataFile::RecycleBuffer() {
  TRecord* r = cache_.FindRecyclable();
  if (r == nullptr && undo_active_) {
    // Inside a write: only buffers of earlier writes may go to the file,
    // and not the header the write has changed (owed to the next flush).
    // When none can go the cache grows until the write is over.
    if (WriteRecordBuffers(true)) header_owed_ = true;
    r = cache_.FindRecyclable();
    if (r == nullptr) return cache_.AddFront(GetRecordBufferSize());
  } else if (r == nullptr) {
    if (FlushRecordBuffers()) WriteHeader();
    r = cache_.FindRecyclable();
  }
  if (r == nullptr) Fail(ErrorCode::kCorruptRecords);
  r->ClearUses();
  ClearBuffer(r);
  cache_.SetNumber(r, 0);
  cache_.MoveToFront(r);
  return r;
}

TRecord* TDataFile::TakeNewBuffer() {
  if (FaultHit(FaultSite::kCacheSlot)) Fail(ErrorCode::kCorruptRecords);
  if (cache_.Count() < cache_.Capacity()) return cache_.AddFront(GetRecordBufferSize());
  if (batch_held_) {
    cache_.SetCapacity(cache_.Capacity() + kBatchCacheGrowth);
    return cache_.AddFront(GetRecordBufferSize());
  }
  return RecycleBuffer();
}

std::uint32_t TDataFile::IndexReadAheadCount(std::uint32_t n, ReadDirection direction) {
  // The run is that of the cursor's entry; when the cursor stands elsewhere
  // it says nothing about n.
  if (InNaturalOrder() || index_file_->GetCurrentRecordNumber() != n) return 1;
  const int run =
      index_file_->RecordsInSequence(records_per_block_, direction == ReadDirection::kForward);
  return run > 1 ? static_cast<std::uint32_t>(run) : 1u;
}

TRecord* TDataFile::GetRecordBuffer(std::uint32_t n, bool read_ahead, ReadDirection direction,
                                    bool by_index) {
  if (n == 0) return nullptr;
  const std::uint32_t next = header_.NextRecord();
  if (n > next) Fail(ErrorCode::kCorruptRecords);
  TRecord* r;
  if (n == next) {
    // The append position: a new slot at the end. Its position must stay
    // addressable (below 2^31) and the counter must not wrap.
    if (next == 0xFFFFFFFFu || RecordPosition(next) + 2u * record_size_ > 0x7FFFFFFFu)
      Fail(ErrorCode::kWriteError);
    r = TakeNewBuffer();
    JournalRecord(r, true);
    cache_.SetNumber(r, n);
    r->AddUse();
    header_.SetNextRecord(next + 1);
    return r;
  }
  r = cache_.Find(n);
  if (r != nullptr) {
    r->AddUse();
    cache_.MoveToFront(r);
  } else {
    std::uint32_t count = 1;
    if (read_ahead) {
      if (by_index) {
        count = std::max<std::uint32_t>(IndexReadAheadCount(n, direction), 1);
      } else if (direction == ReadDirection::kForward) {
        count = next - n;
      } else {
        count = n;  // records 1 .. n at most: never before the first
      }
      count = std::min<std::uint32_t>(count, records_per_block_);
    }
    r = ReadRun(n, count, direction);
  }
  if (has_computed_ && !r->computed) {
    CalculateComputedFields(r);
    r->computed = true;
  }
  return r;
}

// The buffer of n is taken before the run is read from the file: making
// room may flush changed buffers, and bytes read before that flush would
// be older than what it wrote (a record of the run loaded from them would
// lose its change). The rest of the run takes only room that needs no
// flush, and stops where there is none.
TRecord* TDataFile::ReadRun(std::uint32_t n, std::uint32_t count, ReadDirection direction) {
  if (direction != ReadDirection::kForward) count = std::min(count, n);
  if (FaultHit(FaultSite::kCacheSlot)) Fail(ErrorCode::kCorruptRecords);
  TRecord* slot = (cache_.Count() < cache_.Capacity() || batch_held_)
                      ? cache_.AddFront(GetRecordBufferSize())
                      : RecycleBuffer();
  slot->AddUse();
  RecordPin result(slot);  // unnumbered until loaded: dropped again on failure
  // Only records present in the file are read (appended buffers not yet
  // written lie beyond its end): the read's own count says which are, and
  // n must be.
  const std::uint32_t first = direction == ReadDirection::kForward ? n : n - count + 1;
  const std::size_t bytes = std::size_t{count} * record_size_;
  if (scan_block_.size() < bytes) scan_block_.resize(bytes);
  std::uint8_t* const block = scan_block_.data();
  const std::int32_t got =
      ReadStored(RecordPosition(first), block, static_cast<std::int32_t>(bytes));
  const std::uint32_t present = got > 0 ? static_cast<std::uint32_t>(got) / record_size_ : 0;
  if (present == 0 || first + present - 1 < n) Fail(ErrorCode::kCorruptRecords);
  if (direction == ReadDirection::kForward) {
    count = present;
  } else {
    count = std::min(count, present);
  }
  auto image = [&](std::uint32_t k) { return block + std::size_t{k - first} * record_size_; };
  cache_.SetNumber(slot, n);
  LoadRecordBuffer(slot, image(n));
  for (std::uint32_t i = 1; i < count; ++i) {
    const std::uint32_t k = direction == ReadDirection::kForward ? n + i : n - i;
    TRecord* r = cache_.Find(k);
    if (r != nullptr) {
      // A buffer in use or changed is newer than the file.
      if (!r->InUse() && !r->modified) LoadRecordBuffer(r, image(k));
      continue;
    }
    if (FaultHit(FaultSite::kCacheSlot)) Fail(ErrorCode::kCorruptRecords);
    r = TakeCleanBuffer();
    if (r == nullptr) break;
    cache_.SetNumber(r, k);
    LoadRecordBuffer(r, image(k));
  }
  return result.release();
}

TRecord* TDataFile::TakeCleanBuffer() {
  if (cache_.Count() < cache_.Capacity() || batch_held_) return cache_.AddFront(GetRecordBufferSize());
  TRecord* r = cache_.FindRecyclable();
  if (r == nullptr) return nullptr;
  ClearBuffer(r);
  cache_.SetNumber(r, 0);
  cache_.MoveToFront(r);
  return r;
}

void TDataFile::ReleaseRecordBuffer(TRecord* r) {
  if (r != nullptr) r->ReleaseUse();
}

bool TDataFile::FlushRecordBuffers() { return WriteRecordBuffers(false); }

bool TDataFile::Journaled(const TRecord* r) const {
  for (std::size_t i = 0; i < undo_count_; ++i) {
    if (undo_records_[i].record == r) return true;
  }
  return false;
}

bool TDataFile::WriteRecordBuffers(bool untouched_only) {
  std::vector<TRecord*> dirty;
  for (TRecord* r : cache_.All()) {
    if (!r->modified || r->InUse()) continue;
    if (untouched_only && Journaled(r)) continue;
    if (r->RecordNumber() == 0) {
      r->modified = false;  // a free buffer has nothing to write
      continue;
    }
    dirty.push_back(r);
  }
  if (dirty.empty()) return false;
  std::sort(dirty.begin(), dirty.end(),
            [](const TRecord* a, const TRecord* b) { return a->RecordNumber() < b->RecordNumber(); });
  std::vector<std::uint8_t> block;
  std::size_t i = 0;
  while (i < dirty.size()) {
    std::size_t j = i + 1;
    while (j < dirty.size() && dirty[j]->RecordNumber() == dirty[j - 1]->RecordNumber() + 1) ++j;
    block.resize((j - i) * record_size_);
    for (std::size_t k = i; k < j; ++k) SaveRecordBuffer(dirty[k], block.data() + (k - i) * record_size_);
    try {
      WriteAt(static_cast<std::int64_t>(RecordPosition(dirty[i]->RecordNumber())), block.data(),
              static_cast<std::int32_t>(block.size()));
    } catch (...) {
      // The caches stay as they were: these records still need writing.
      for (std::size_t k = i; k < j; ++k) dirty[k]->modified = true;
      throw;
    }
    i = j;
  }
  return true;
}

bool TDataFile::TableHasPrimaryKey() const {
  return index_file_->IsOpen() && !index_file_->NoPrimaryKey();
}

std::uint32_t TDataFile::NextFreeRecordNo() const {
  if (header_.FreeHead() != 0 && TableHasPrimaryKey()) return header_.FreeHead();
  return header_.NextRecord();
}

TRecord* TDataFile::TakeFreeRecord() {
  const std::uint32_t n = NextFreeRecordNo();
  const bool reuse = n != header_.NextRecord();
  RecordPin r(GetRecordBuffer(n, false, ReadDirection::kForward, false));
  if (reuse) {
    JournalRecord(r.get(), false);
    // The chain comes from the file: its head must be a deleted record
    // whose link stays inside the file. A cycle ends here too, at the first
    // slot that was taken back into use.
    const std::uint32_t link = r->FreeLink();
    if (r->Status() != 1 || link >= header_.NextRecord() || link == n)
      Fail(ErrorCode::kCorruptRecords);
    header_.SetFreeHead(link);
  }
  return r.release();
}

void TDataFile::MarkRecordDeleted(TRecord* r) {
  r->SetStatus(1);
  const std::uint32_t next_free = NextFreeRecordNo();
  r->SetFreeLink(next_free == header_.NextRecord() ? 0 : next_free);
  header_.SetFreeHead(r->RecordNumber());
}

void TDataFile::CheckHeaderChanged() {
  if (header_checked_ || table_locked_ || data_checked_) return;
  std::uint8_t raw[4];
  if (ReadAt(kDhCounter, raw, 4) != 4) Fail(ErrorCode::kHeaderError);
  if (LoadLittle<std::uint32_t>(raw) == header_.Counter()) return;
  ReadHeader();
  DropAllRecords();
  NoteChangedByOther();
}

void TDataFile::RefreshCurrentRecord() {
  ReadSectionGuard section(*this);
  LoadCursorRecord(ReadDirection::kForward);
  section.Release();
}

// ------------------------------------------------------------------ flush

void TDataFile::ReleaseAllPins() {
  for (TRecord* r : cache_.All()) r->ClearUses();
  if (index_file_->IsOpen()) index_file_->ClearAllPins();
  if (blob_file_->IsOpen()) blob_file_->ClearAllPins();
}

void TDataFile::ResetTableCaches(bool trim) {
  if (!IsOpen()) return;
  CheckNotFailed();
  // The cursor finds its record again by the key of the record it stood on.
  std::vector<std::byte> image;
  if (current_ != nullptr) {
    image.assign(current_->Data().begin(), current_->Data().end());
  } else if (index_file_->IsOpen() && !InNaturalOrder()) {
    const std::uint32_t n = index_file_->GetCurrentRecordNumber();
    if (n != 0 && n < header_.NextRecord()) {
      const RecordPin r(GetRecordBuffer(n, false, ReadDirection::kForward, true));
      image.assign(r->Data().begin(), r->Data().end());
    }
  }
  DropAllRecords();
  if (trim) ResetCacheCapacity();
  ReadHeader();
  // What the files hold now may differ from what the bitmaps were built on.
  table_changed_ = true;
  if (index_file_->IsOpen()) {
    index_file_->ResetIndexCaches(trim);
    RefreshRangeAndFilters();
    if (!InNaturalOrder()) {
      std::array<std::uint8_t, kKeyBufferSize> key{};
      if (!image.empty()) BuildIndexKey(image, key.data());
      index_file_->FindKey(key.data(), true, false);
    }
  }
  if (header_.BlobCount() > 0) blob_file_->ResetCaches(trim);
}

void TDataFile::FlushTable(bool trim) {
  if (ReadOnly() || Failed()) return;
  if (FlushRecordBuffers() || header_owed_) WriteHeader();
  if (trim) ResetCacheCapacity();
  if (index_file_->IsOpen()) {
    if (index_file_->FlushIndexPages()) index_file_->WriteHeader();
    if (trim) index_file_->ShrinkPageLists();
  }
  if (header_.BlobCount() > 0) FlushBlobFile(trim);
}

// ------------------------------------------------------------------ passwords

bool TDataFile::RequestPassword() { return password_callback_ ? password_callback_() : false; }

std::string TDataFile::GetTablePassword() const {
  if (!IsOpen() || !header_.Encrypted()) return {};
  ShortString<15> pw = header_.Password();
  ScrambleHeaderString(pw);
  return std::string(pw.View());
}

void TDataFile::SetDeleteOnClose(bool flag) {
  if (IsOpen()) Fail(ErrorCode::kInUse);
  delete_on_close_ = flag;
}

// ------------------------------------------------------------------ structure

const TFieldDescriptor& TDataFile::GetFieldDescriptor(bool working, int n) const {
  const std::vector<TFieldDescriptor>& defs = working ? working_ : stored_;
  const int count = working ? working_count_ : static_cast<int>(stored_.size());
  if (keep_record_ids_) {
    for (int i = 0; i < count; ++i) {
      if (defs[i].FieldNumber == n) return defs[i];
    }
  } else if (n >= 1 && n <= count) {
    return defs[n - 1];
  }
  Fail(ErrorCode::kInvalidField, std::to_string(n));
}

std::uint32_t TDataFile::GetBlobBlockSize() const {
  const std::uint32_t size = header_.BlobBlockSize() & 0xFFFF;
  return size == 0 ? kDataDefaultBlobBlockSize : size;
}

std::uint32_t TDataFile::RegisterExpression(ExpressionPtr tree) {
  expressions_.push_back(std::move(tree));
  return static_cast<std::uint32_t>(expressions_.size());
}

const TExpressionNode* TDataFile::Expression(std::uint32_t id) const {
  if (id == 0 || id > expressions_.size()) return nullptr;
  return expressions_[id - 1].get();
}

// ------------------------------------------------------------------ owners

platform::LCID TDataFile::LocaleId() const {
  if (header_.Language() == 0) return 0;
  return MakeLong(header_.Language(), header_.SortId());
}

void TDataFile::ScrambleBlock(std::span<std::uint8_t> block) const {
  ScrambleTableContents(block.data(), block.size());
}

void TDataFile::ScrambleContents(std::span<std::uint8_t> buffer) const {
  ScrambleTableContents(buffer.data(), buffer.size());
}

bool TDataFile::KeyFieldInfo(std::uint16_t field_number, IndexFieldInfo& info) const {
  if (field_number < 1 || field_number > stored_.size()) return false;
  const TFieldDescriptor& f = stored_[field_number - 1];
  info.type = f.Type();
  info.stored_size = f.PhysicalSize;
  return true;
}

}  // namespace storage
