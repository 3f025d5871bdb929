// TDataFile: one open table. Its NAME.DAT (layout in data_file_format.h),
// the TIndexFile it owns, the cached header and field descriptors, and the
// record cache (record_cache.h). It is also the cursor of every dataset and
// every SQL source and result table.
//
// Life: Closed -> Open -> open -> Close -> closed. CreateDataTable runs on a
// closed object and leaves it closed. Name, exclusive, read-only and
// in-memory settings change only while closed (10031).
//
// Every byte read from a file is checked before use (CheckDataHeader,
// CheckFieldDescriptors): a damaged file is refused with 12035, 9221 or
// 8962 and nothing is read outside what the checks proved present.
//
// Pieces that later steps fill are marked "Hook": their bodies here are
// neutral (locks that take nothing, no computed-field evaluation, no
// cursor). They are called where the table's life needs them, so that
// filling them changes no caller.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "storage/blob_owner.h"
#include "storage/data_file_blob.h"
#include "storage/data_file_format.h"
#include "storage/engine_error.h"
#include "storage/expression_node.h"
#include "storage/file_handler.h"
#include "storage/index_format.h"
#include "storage/index_owner.h"
#include "storage/record_cache.h"

namespace storage {

class TIndexFile;

// Everything CreateDataTable takes; fields and indexes are copied, never
// changed. The table component passes creator values 1 and 0, no password,
// no description, block size 512; SQL result tables 0 and 0, the
// description "Query Result Set" and allow_empty_primary.
struct DataTableDefinition {
  std::uint16_t language = 0;
  std::uint16_t sort = 0;
  std::uint16_t creator1 = 0;
  std::uint16_t creator2 = 0;
  bool encrypted = false;
  std::string password;     // string[15]
  std::string description;  // string[50]
  std::uint32_t blob_block_size = kDataDefaultBlobBlockSize;
  std::vector<TFieldDescriptor> fields;
  TIndexDescriptor primary;                 // no fields: natural order
  std::vector<TIndexDescriptor> secondary;  // at most 30
  bool allow_empty_primary = false;         // SQL result tables
};

enum class ReadDirection { kForward, kBackward };

class TDataFile : public TFileHandler, public IndexFileOwner, public BlobFileOwner {
 public:
  static constexpr std::size_t kMaxCacheBuffers = 4096;
  static constexpr std::size_t kCacheBytes = 131070;
  static constexpr std::size_t kBatchCacheGrowth = 1024;

  // owner: the dataset or query that made it; not owned.
  explicit TDataFile(void* owner = nullptr);
  // Close (errors swallowed), then frees everything it owns.
  ~TDataFile() override;

  // ---------------------------------------------------------------- slots
  // Trims blanks; an extension other than DAT (any case) is replaced by
  // ".DAT" (or ".DAT" is appended).
  std::string NormaliseFileName(std::string_view name) override;
  // See the class comment; a failure leaves the object closed.
  void Open() override;
  // Flushes an exclusive writable table, releases locks, closes the index
  // and BLOB files and the .DAT, deletes the files when delete-on-close is
  // set. Everything is closed even when the flush fails; the flush's error
  // is raised afterwards.
  void Close() override;
  // Creates the .DAT with the prepared header, then the index file (and
  // the BLOB file). Used by CreateDataTable.
  void CreateFile() override;

  void OpenDataFile() { Open(); }
  void CloseDataFile() { Close(); }

  // Creates a new table; the object must be closed and exclusive (10253),
  // not read-only (11013). Every definition rule is checked before any file
  // is touched, including those the index file would enforce later (more
  // than 30 secondary indexes, more than 16 key fields, BLOB key fields):
  // a refused definition leaves no file, no open table and no password in
  // the session.
  void CreateDataTable(const DataTableDefinition& def);
  // Deletes all records of the open, exclusive, writable table; record IDs
  // restart at 1.
  void EmptyDataTable();
  // Deletes / renames the .DAT, the .IDX and, when it exists, the .BLB.
  void DeleteTableFiles();
  void RenameTableFiles(std::string_view new_name);

  // ---------------------------------------------------------------- header
  void ReadHeader();
  void WriteHeader();
  void TruncateTable();
  void ReadFieldDefs();
  void WriteFieldDefs();
  [[nodiscard]] const DataFileHeader& Header() const { return header_; }

  // Replaces the working descriptors (SQL result tables, clones): checked
  // like a creation (10000, 10006, 10038) but offsets are kept, except that
  // each computed field is placed at the end of the computed area, which
  // grows by its physical size + 1. Frees every record buffer.
  void SetWorkingFieldDefs(std::span<const TFieldDescriptor> fields);
  void HideLastField();
  void ShowLastField();
  // Whether text converts to a value of the type (defaults and limits).
  [[nodiscard]] static bool IsValidValueText(std::string_view text, std::uint8_t type);

  // ---------------------------------------------------------------- records
  // The buffer of record n with its use count raised; nullptr for n = 0;
  // 8962 for n beyond the append position. n equal to the append position
  // takes a new buffer and moves the append position on.
  TRecord* GetRecordBuffer(std::uint32_t n, bool read_ahead, ReadDirection direction,
                           bool by_index);
  void ReleaseRecordBuffer(TRecord* r);
  // Writes every modified buffer not in use; true when anything was written.
  bool FlushRecordBuffers();
  // The buffer of NextFreeRecordNo; when that is a reused slot the chain
  // head moves to its free link (8962 when the slot is not a deleted record
  // or its link leaves the file).
  TRecord* TakeFreeRecord();
  void MarkRecordDeleted(TRecord* r);
  // The chain head when non-zero and the table has a primary index, else
  // the append position.
  [[nodiscard]] std::uint32_t NextFreeRecordNo() const;
  void CheckHeaderChanged();
  void RefreshCurrentRecord();
  // Zeroes the buffer and gives it the next record ID (0 without drawing
  // one while keep-record-IDs is set).
  void InitRecordBuffer(TRecord* r);
  void LoadRecordBuffer(TRecord* r, const std::uint8_t* block);
  void SaveRecordBuffer(TRecord* r, std::uint8_t* block);
  // Every buffer dropped: use count 0, zeroed, number 0; current record none.
  void DropAllRecords();
  // Capacity := min(131070 div buffer size, 4096); surplus buffers freed.
  void ResetCacheCapacity();
  [[nodiscard]] TRecord* CurrentRecord() const { return current_; }
  void SetCurrentRecord(TRecord* r);
  [[nodiscard]] const RecordCache& Cache() const { return cache_; }

  // ---------------------------------------------------------------- flush
  // Writes modified records (and then the header), index pages (and its
  // header); trim shrinks the record cache. Nothing for a read-only table.
  void FlushTable(bool trim);
  void ReleaseAllPins();

  // ---------------------------------------------------------------- passwords
  using PasswordCallback = std::function<bool()>;
  void SetPasswordCallback(PasswordCallback callback) { password_callback_ = std::move(callback); }
  // The callback's answer; false without one.
  bool RequestPassword();
  // The plain password of an open encrypted table; "" otherwise.
  [[nodiscard]] std::string GetTablePassword() const;
  // 10031 while open.
  void SetDeleteOnClose(bool flag);

  // ---------------------------------------------------------------- structure
  [[nodiscard]] int FieldCount() const { return static_cast<int>(stored_.size()); }
  [[nodiscard]] int WorkingFieldCount() const { return working_count_; }
  // By position 1..count; 9985 for an unknown n.
  [[nodiscard]] const TFieldDescriptor& GetFieldDescriptor(bool working, int n) const;
  [[nodiscard]] std::uint16_t RecordSize() const { return record_size_; }
  [[nodiscard]] std::size_t GetRecordBufferSize() const {
    return std::size_t{record_size_} + computed_size_;
  }
  [[nodiscard]] std::uint16_t ComputedAreaSize() const { return computed_size_; }
  [[nodiscard]] std::uint16_t RecordsPerBlock() const { return records_per_block_; }
  [[nodiscard]] std::uint16_t LocaleLanguage() const { return header_.Language(); }
  [[nodiscard]] std::uint16_t LocaleSortId() const { return header_.SortId(); }
  [[nodiscard]] std::uint32_t GetBlobBlockSize() const;
  [[nodiscard]] bool HasChecks() const { return has_checks_; }
  [[nodiscard]] bool HasDefaults() const { return has_defaults_; }
  [[nodiscard]] bool HasComputedFields() const { return has_computed_; }
  [[nodiscard]] bool HeaderChecked() const { return header_checked_; }
  [[nodiscard]] bool TableHasPrimaryKey() const;
  [[nodiscard]] TIndexFile& IndexFile() { return *index_file_; }
  [[nodiscard]] TBlobFile& BlobFile() { return *blob_file_; }
  [[nodiscard]] bool BlobFileOpen() const;
  void SetKeepRecordIds(bool keep) { keep_record_ids_ = keep; }
  [[nodiscard]] void* Owner() const { return owner_; }
  // Copied from the dataset's LockRetryCount and LockWaitTime (15, 100 ms).
  void SetLockRetryCount(std::uint8_t n) { lock_retry_count_ = n; }
  [[nodiscard]] std::uint8_t LockRetryCount() const { return lock_retry_count_; }
  void SetLockWaitTime(std::uint16_t ms) { lock_wait_time_ = ms; }
  [[nodiscard]] std::uint16_t LockWaitTime() const { return lock_wait_time_; }
  [[nodiscard]] bool KeepRecordIds() const { return keep_record_ids_; }

  // Computed-field expressions: a descriptor's ExpressionRef is an id into
  // this registry (1-based; 0 = none), never an address.
  std::uint32_t RegisterExpression(ExpressionPtr tree);
  [[nodiscard]] const TExpressionNode* Expression(std::uint32_t id) const;

  // ---------------------------------------------------------------- owners
  [[nodiscard]] std::string DataFileName() const override { return FileName(); }
  [[nodiscard]] platform::LCID LocaleId() const override;
  [[nodiscard]] bool Scrambled() const override { return IsEncrypted(); }
  void ScrambleBlock(std::span<std::uint8_t> block) const override;
  [[nodiscard]] bool InBatch() const override { return batch_held_; }
  [[nodiscard]] bool SuppressFirstKeyAtOpen() const override { return suppress_first_key_; }
  [[nodiscard]] bool KeyFieldInfo(std::uint16_t field_number, IndexFieldInfo& info) const override;
  void IndexChangedByOther() override { DropAllRecords(); }
  [[nodiscard]] std::uint32_t BlobBlockSizeField() const override { return header_.BlobBlockSize(); }
  // The header's encrypted flag while open; false when closed.
  [[nodiscard]] bool IsEncrypted() const override { return IsOpen() && header_.Encrypted(); }
  void ScrambleContents(std::span<std::uint8_t> buffer) const override;
  [[nodiscard]] bool Repairing() const override { return repairing_; }
  void DoRepairLog(std::string_view /*line*/) override {}  // Hook: repair events

 protected:
  // ---------------------------------------------------------------- hooks
  // Locks (the locking step): nothing is locked yet, so nothing is
  // released. Close calls them in the order the protocol needs.
  virtual void UnlockTable() {}
  virtual void UnlockAllRecords() {}
  virtual void EndBatchLock() { batch_held_ = false; }
  virtual void BeginReadSection() {}
  virtual void EndReadSection() {}
  // Computed fields (the record step): evaluates them into r.
  virtual void CalculateComputedFields(TRecord* /*r*/) {}
  // The cursor (the cursor step): back to before the first record.
  virtual void ResetCursor() {}
  // How many records follow the index cursor's record in physical order
  // (the cursor step); 1 reads only the record asked for.
  virtual std::uint32_t IndexReadAheadCount() { return 1; }

 private:
  struct Validated;
  [[noreturn]] void Fail(ErrorCode code, std::string_view field = {},
                         std::string_view index = {}) const;
  void ClearOpenState();
  void PrepareIndexFile();
  // The BLOB file goes with the table when the table has BLOB fields.
  void PrepareBlobFile();
  void CreateBlobFile();
  void OpenBlobFile();
  void CloseBlobFile();
  void EmptyBlobFile();
  void FlushBlobFile(bool trim);
  void SetFlagsFromWorking();
  TRecord* TakeNewBuffer();
  TRecord* RecycleBuffer();
  TRecord* ReadRun(std::uint32_t n, std::uint32_t count, ReadDirection direction);
  [[nodiscard]] std::uint64_t RecordPosition(std::uint32_t n) const;
  void ClearBuffer(TRecord* r);
  void CheckFieldDefinitions(std::vector<TFieldDescriptor>& fields, bool assign_offsets) const;
  void CheckIndexDefinitions(const std::vector<TFieldDescriptor>& fields,
                             TIndexDescriptor& primary, std::vector<TIndexDescriptor>& secondary,
                             bool allow_empty_primary, int& primary_field_count) const;
  void CreateIndexes(const TIndexDescriptor& primary, int primary_field_count,
                     const std::vector<TIndexDescriptor>& secondary);

  void* owner_;
  std::unique_ptr<TIndexFile> index_file_;
  BlobFilePtr blob_file_;
  DataFileHeader header_;
  std::uint16_t record_size_ = 0;
  std::uint16_t records_per_block_ = 0;
  std::uint16_t computed_size_ = 0;
  int working_count_ = 0;
  std::vector<TFieldDescriptor> stored_;
  std::vector<TFieldDescriptor> working_;
  bool header_checked_ = false;
  bool table_locked_ = false;
  bool batch_held_ = false;
  std::uint8_t lock_retry_count_ = 15;
  std::uint16_t lock_wait_time_ = 100;
  RecordCache cache_;
  TRecord* current_ = nullptr;
  bool has_checks_ = false;
  bool has_defaults_ = false;
  bool has_computed_ = false;
  bool keep_record_ids_ = false;
  bool delete_on_close_ = false;
  bool suppress_first_key_ = false;
  bool repairing_ = false;
  PasswordCallback password_callback_;
  std::vector<ExpressionPtr> expressions_;
  // Files CreateFile brought into being (1 .DAT, 2 .IDX, 4 .BLB): what a
  // failed creation removes again, and nothing else.
  std::uint8_t created_files_ = 0;
};

}  // namespace storage
