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
// The class is spread over: data_file.cpp (life, header, record cache),
// data_file_create.cpp (creation and emptying), data_file_lock.cpp (locks
// between programs and change checks), data_file_undo.cpp (the undo of a
// failed write), data_file_records.cpp (field values and record writes),
// data_file_cursor.cpp (the cursor), data_file_blobs.cpp (BLOB fields),
// data_file_filter.cpp (filters, flush, passwords), table_repair.cpp and
// table_restructure.cpp.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "storage/blob_owner.h"
#include "storage/data_block_cache.h"
#include "storage/data_file_format.h"
#include "storage/engine_error.h"
#include "storage/expression_node.h"
#include "storage/file_handler.h"
#include "storage/filter_object.h"
#include "storage/index_format.h"
#include "storage/index_owner.h"
#include "storage/record_cache.h"

namespace storage {

class TIndexFile;
class TBlobFile;
class FilterEngine;
class RecordBitmap;

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

// An index definition the caller of a repair imposes (RepairDataTable):
// key fields by name, matched without regard to case against the table's
// own fields. In a list the first is the primary index (its name unused;
// no fields: no primary key), the rest the secondary indexes in order.
struct RepairIndexDefinition {
  std::string name;
  std::vector<std::string> fields;
  bool unique = false;
  bool descending = false;
  bool case_insensitive = false;
};

enum class ReadDirection { kForward, kBackward };

class TDataFile : public TFileHandler, public IndexFileOwner, public BlobFileOwner {
 public:
  static constexpr std::size_t kMaxCacheBuffers = 4096;
  // The file bytes kept below the record buffers (data_block_cache.h).
  static constexpr std::size_t kBlockCacheBytes = 8u << 20;
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
  // Slot 9, dropping the cached file blocks the write touches first.
  void Write(const void* buffer, std::int32_t n) override;
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
  // the session. On disk the files are made under a temporary name and
  // swapped in as a set (table_swap.h), replacing what stood under the
  // table's names: a program killed at any moment leaves either no new
  // table or a whole one (after the next open).
  void CreateDataTable(const DataTableDefinition& def);
  // CreateDataTable, and the table left open as Open opens it (without the
  // close and the open that would follow), delete-on-close set as given:
  // for a table its maker uses at once (the SQL engine's result tables).
  // The files are made in place, not swapped in. A disk table to be
  // deleted on close is marked temporary once it is open (creator value 2,
  // temp_table_sweep.h).
  void CreateAndOpenDataTable(const DataTableDefinition& def, bool delete_on_close);
  // Deletes all records of the open, exclusive, writable table; record IDs
  // restart at 1.
  void EmptyDataTable();
  // Checks and mends the closed, exclusive, writable table's three files
  // (table_repair.h): 10031 when open, 10253 not exclusive, 11013 read
  // only; an in-memory table is left alone. The files are rebuilt under
  // temporary names and swapped in as one step (table_swap.h); what cannot
  // be mended is refused with an error and nothing changed. imposed: the
  // index definitions the table must have, which the repair builds the
  // index file from where the stored ones can't be read or would delete
  // records (a unique index that is not among them); none: such a table
  // is refused.
  void RepairDataTable(const std::vector<RepairIndexDefinition>& imposed = {});
  using RepairProgressEvent =
      std::function<void(TDataFile& sender, int current_record, std::uint16_t percent_done)>;
  using RepairLogEvent = std::function<void(TDataFile& sender, std::string_view message)>;
  void SetOnRepairProgress(RepairProgressEvent e) { on_repair_progress_ = std::move(e); }
  void SetOnRepairLog(RepairLogEvent e) { on_repair_log_ = std::move(e); }
  void DoRepairProgress(int current_record, std::uint16_t percent_done);
  // Deletes / renames the .DAT, the .IDX and, when it exists, the .BLB.
  void DeleteTableFiles();
  void RenameTableFiles(std::string_view new_name);
  // Alters the closed, exclusive, writable table to new definitions
  // (table_restructure.cpp): 10031 when open, 10253 not exclusive, 11013
  // read only. Field numbers in def.fields and in the index descriptors
  // name the existing field a new field takes its values from.
  void AlterDataTable(const DataTableDefinition& def);
  using RestructureProgressEvent =
      std::function<void(TDataFile& sender, int current_record, std::uint16_t percent_done)>;
  // cause: 0 insert failed, 1 duplicate key, 2 a check, 3 field dropped,
  // 4 value not carried over (or carried over only in part).
  using DataLostEvent = std::function<void(TDataFile& sender, std::uint8_t cause,
                                           bool& continue_restructure, bool& stop_asking)>;
  void SetOnRestructureProgress(RestructureProgressEvent e) {
    on_restructure_progress_ = std::move(e);
  }
  void SetOnDataLost(DataLostEvent e) { on_data_lost_ = std::move(e); }
  void DoRestructureProgress(int current_record, std::uint16_t percent_done);
  void DoDataLost(std::uint8_t cause, bool& continue_restructure, bool& stop_asking);

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
  // header); trim shrinks the record cache. Nothing for a read-only or
  // failed table.
  void FlushTable(bool trim);
  void ReleaseAllPins();
  // Drops every cached record, index page and BLOB block (modified ones
  // too) and reads the three headers again: this cursor then sees the
  // files as they are on disk. trim also shrinks the caches.
  void ResetTableCaches(bool trim);

  // ---------------------------------------------------------------- field values
  // Values in a record buffer (data_file_records.cpp). A record span must
  // cover GetRecordBufferSize() bytes (8962 otherwise). value, when given,
  // has room for the field's physical size; a string value is read up to
  // its zero byte or 250 characters, whichever comes first.
  void GetFieldValue(bool working, int field_no, bool& is_blank, void* value,
                     std::span<const std::byte> record) const;
  void SetFieldValue(bool working, int field_no, bool force, const void* value,
                     std::span<std::byte> record) const;
  // SetFieldValue on a field that is not computed ends with this. Only
  // when the table has computed fields: each computed working field with an
  // expression is evaluated on the record (stored field values, the table's
  // locale) and stored into the computed area. Stored fields are never
  // changed, so the evaluation cannot start itself again.
  void CalculateComputedFields(std::span<std::byte> record) const;
  // Blank record (every field null, record ID 0), then the default texts.
  void ApplyDefaultValues(std::span<std::byte> record) const;
  // Required (9732), minimum (9730) and maximum (9731) of every field.
  void ValidateRecord(std::span<const std::byte> record) const;
  [[nodiscard]] bool CheckLimit(std::string_view limit, bool is_maximum,
                                const TFieldDescriptor& field, const std::uint8_t* value) const;
  // The key of the current index in its first key size bytes (key must
  // hold kKeyBufferSize bytes; those past the key size are left alone).
  void BuildIndexKey(std::span<const std::byte> record, std::uint8_t* key);
  // The key of "Sys Deleted": status byte, then the record ID.
  void BuildDeletedKey(std::uint8_t status, std::uint8_t* key,
                       std::span<const std::byte> record) const;
  [[nodiscard]] static std::uint32_t GetRecordID(std::span<const std::byte> record);
  static void SetRecordID(std::uint32_t id, std::span<std::byte> record);
  // The SQL engine's result tables skip the duplicate-key test.
  void SetNoUniqueChecks(bool on) { no_unique_checks_ = on; }

  // ---------------------------------------------------------------- writes
  // Each runs in a write section with a write undo (data_file_undo.cpp): a
  // write that fails, for whatever reason and at whatever step, leaves the
  // caches and the files as they were before it (apart from the record ID
  // previewed in an insert's buffer), or, when even that fails, the table
  // failed (Failed). Modify and delete work on the current record: none,
  // or one lost to another user (cursor section), is 8710 and changes
  // nothing. Delete takes the record's lock before its write section. The
  // cursor ends on the written record (after a delete: on the record that
  // followed it). A BLOB field of the caller's record holds
  // an open value, the stored record's own offset, or 0 (no value; the
  // chain the record had is freed); any other offset is 9998
  // (CheckBlobOffsets).
  void InsertRecord(std::span<std::byte> record);
  void ModifyRecord(std::span<std::byte> record, bool unlock);
  void DeleteRecord();

  // Fills a table that holds no record yet, one record after another,
  // exactly as InsertRecord would insert them in that order: the same
  // record numbers and IDs (previewed into each caller's record), index
  // keys and page layout, and record bytes (data_file_append.cpp). It is
  // for a table no one else can see, as the SQL engine's result tables:
  // open, exclusive and writable (else 11014, 10253, 11013), without BLOB
  // fields or kept record IDs and empty (else 10031). What it leaves out
  // is what such a table does not need per record: the write section and
  // undo, the record cache and the cursor's repositioning; the records go
  // to the file in blocks. A fill that fails, or that ends without Finish,
  // leaves the table empty again (or failed, when even that fails).
  class RecordAppender {
   public:
    explicit RecordAppender(TDataFile& file);
    ~RecordAppender();
    RecordAppender(const RecordAppender&) = delete;
    RecordAppender& operator=(const RecordAppender&) = delete;
    // Checks (9732, 9730, 9731; 9729 unless no-unique-checks) and adds
    // the record. A record refused by a check changes nothing; after any
    // other failure the fill can only be given up (10031).
    void Append(std::span<std::byte> record);
    // Writes what is left and the header; the cursor stands before the
    // first record, the current index as it was.
    void Finish();

   private:
    void WriteBlock();
    void Abandon() noexcept;
    TDataFile* file_;
    int saved_index_;
    // The indexes as InsertRecord keys them, each with its kept descent
    // (IndexStore::AppendKey).
    struct Index;
    std::vector<Index> indexes_;
    std::vector<std::uint8_t> block_;
    std::uint32_t block_first_ = 0;  // record number of the block's first image
    std::uint32_t block_count_ = 0;
    std::uint32_t block_capacity_ = 0;
    bool finished_ = false;
    bool broken_ = false;  // an Append failed after it began to change the table
  };

  // The undo of one write, from just after the write section's locks and
  // checks to the end of the write's own flush. Rolls back when it goes
  // without Commit (an error is on its way out).
  class WriteUndo {
   public:
    explicit WriteUndo(TDataFile& file) : file_(file) { file_.BeginWriteUndo(); }
    ~WriteUndo() {
      if (!committed_) file_.RollbackWriteUndo();
    }
    WriteUndo(const WriteUndo&) = delete;
    WriteUndo& operator=(const WriteUndo&) = delete;
    void Commit() {
      file_.CommitWriteUndo();
      committed_ = true;
    }

   private:
    TDataFile& file_;
    bool committed_ = false;
  };

  // A table whose files could not be put back after a failed write: its
  // state on disk is unknown. Nothing more is flushed (Close writes
  // nothing) and every read, write, lock or refresh raises the error that
  // broke the write until the table is closed; it then wants a repair.
  [[nodiscard]] bool Failed() const { return failed_code_ != 0; }

  // ---------------------------------------------------------------- cursor
  // data_file_cursor.cpp. Moves and searches run in a read section and end
  // with the current record buffer reloaded. Results: 0, 8705 before the
  // first record, 8706 after the last, 8710 no such record. An empty
  // buffer span means "no copy".
  //
  // The record stood on can be lost: a change check (a read, write or
  // table-lock section) found that another user deleted it, put another
  // record into its slot, or changed it so that the view leaves it out;
  // or GotoBookmark or SyncToCursor did not find the record asked for. The
  // cursor then stands on the nearest record of the view, but
  // DeleteRecord, ModifyRecord and ReadCurrentRecord with the lock raise
  // 8710 ("Record not found") and change nothing: an operation meant for
  // the lost record never lands on the record beside it. A record another
  // user only gave a new key is found again where it went. A move or
  // search, a write of this cursor, or ReadCurrentRecord copying the
  // record out (its caller then knows which record it is) ends the state.
  //
  // The cursor then also stands between records, at the place the record
  // left: the next forward read gives the first record of the view after
  // that place and the previous read the last one before it, so that a
  // walk neither skips nor repeats a record nobody touched (a record whose
  // key another user moved may be met again at its new place). The place
  // is the key the record had in the current index, or in natural order
  // its slot. A record another user only gave a new key is still the one
  // that writes and ReadCurrentRecord act on (the cursor holds it where it
  // went) while the walk goes on from its old place. The same holds after
  // GotoBookmark or SyncToCursor missed their record (the place is then
  // the one asked for), and after GotoBookmarkedRecord followed its record
  // to a new key. A move or search, a write of this cursor, a switch of
  // index, or ReadCurrentRecord copying the record out ends the state.
  void SwitchToIndex(std::uint8_t n);
  void SwitchToIndexByName(std::string_view name);
  [[nodiscard]] int CurrentIndexNumber() const;
  [[nodiscard]] std::string GetCurrentIndexName() const;
  [[nodiscard]] std::uint16_t CurrentKeySize() const;
  [[nodiscard]] int CurrentIndexFieldCount() const;
  [[nodiscard]] bool IsCurrentIndexUnique() const;
  [[nodiscard]] int SecondaryIndexCount() const;
  [[nodiscard]] TIndexDescriptor GetIndexDescriptor(int n) const;
  // Natural order: no index, or index 0 of a table without primary key.
  [[nodiscard]] bool InNaturalOrder() const;
  [[nodiscard]] std::uint16_t MoveToBegin();
  [[nodiscard]] std::uint16_t MoveToEnd();
  // With lock: the record lock of the record stood on is taken before the
  // read section, so that a wait for it holds no index lock (the holder
  // needs the index write lock to post); the section then checks that the
  // cursor still stands on that record (8710 when it was lost, the lock
  // given back). REQUIRES: no section of this cursor open.
  [[nodiscard]] std::uint16_t ReadCurrentRecord(std::span<std::byte> buffer, bool lock);
  [[nodiscard]] std::uint16_t ReadNextRecord(std::span<std::byte> buffer);
  [[nodiscard]] std::uint16_t ReadPriorRecord(std::span<std::byte> buffer);
  // 1-based position in the index or range (0 before the first); in
  // natural order the physical record number.
  std::uint32_t GetRecordPosition();
  void SetRecordPosition(std::uint32_t n);
  std::uint32_t RecordCount();
  [[nodiscard]] std::uint32_t PhysicalRecordCount() const;
  // value: a key (key_given) or a record buffer; nullptr finds nothing.
  bool GotoKey(bool key_given, const void* value, int field_count, bool nearest,
               std::uint8_t partial_length, std::span<std::byte> out);
  bool GotoExactKey(std::span<const std::byte> record, std::span<std::byte> out);
  [[nodiscard]] std::uint16_t SyncToCursor(TDataFile& other);
  void SetKeyRange(bool key_given, const void* start, int start_field_count, const void* end,
                   int end_field_count);
  void ClearKeyRange();
  [[nodiscard]] bool IsRangeActive() const { return key_range_active_; }
  // Bookmarks: the current key, or in natural order the u32 physical
  // record number.
  [[nodiscard]] std::uint16_t GetBookmarkSize() const;
  void GetBookmark(std::span<std::uint8_t> bookmark);
  void GotoBookmark(std::span<const std::uint8_t> bookmark);
  // GotoBookmark for the one record the bookmark was taken on, named by
  // its slot (record_number) and its record ID (record bytes 5 to 8, which
  // no other record of the table ever takes): the record a later insert
  // put into the slot is another record. True when the cursor stands on
  // that record: at the bookmark's key, or where another user moved its
  // key (it is followed there, and the walk goes on from the bookmark's
  // place). Otherwise (the record deleted, or out of the view) the cursor
  // stands as after a GotoBookmark that did not find its key: on the
  // nearest record, the record lost, between records at the bookmark's
  // place.
  bool GotoBookmarkedRecord(std::span<const std::uint8_t> bookmark, std::uint32_t record_number,
                            std::uint32_t record_id);
  int CompareBookmarks(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b,
                       int* result = nullptr);
  // The range bounds of the current index; when a change check found the
  // table changed by another program, also the data header and every
  // active filter's bitmap with the live-record and result bitmaps (a full
  // rebuild, made only then: this cursor's own writes keep the bitmaps
  // current record by record).
  void RefreshRangeAndFilters();
  void ResyncCursor();
  [[nodiscard]] const std::byte* CurrentRecordData() const;
  // A second cursor on the same table (lookups): same index, range,
  // filters (copies, active where active here) and record; 11013 for an
  // exclusive table. Like every cursor it sees the writes of the others,
  // in this program or another, by the files' change counters.
  [[nodiscard]] std::unique_ptr<TDataFile> CloneCursor();

  // ---------------------------------------------------------------- BLOB fields
  // data_file_blobs.cpp. Results: 0, 10753 not a BLOB field, 10030 not
  // open, 9494 too many open values, 8711 a short read.
  [[nodiscard]] std::uint16_t OpenBlobField(bool working, int field_no,
                                            std::span<std::byte> record);
  [[nodiscard]] std::uint16_t CloseBlobField(bool working, int field_no,
                                             std::span<std::byte> record);
  [[nodiscard]] std::uint16_t ReadBlobField(bool working, int field_no, std::int32_t& bytes_read,
                                            std::int32_t offset, void* buffer, std::int32_t length,
                                            std::span<std::byte> record);
  [[nodiscard]] std::uint16_t WriteBlobField(bool working, int field_no, const void* buffer,
                                             std::int32_t offset, std::int32_t length,
                                             std::span<std::byte> record);
  [[nodiscard]] std::uint16_t TruncateBlobField(bool working, int field_no, std::int32_t new_size,
                                                std::span<std::byte> record);
  [[nodiscard]] std::uint16_t GetBlobFieldSize(bool working, int field_no, std::int32_t& size,
                                               std::span<std::byte> record);
  [[nodiscard]] bool IsBlobFieldOpen(bool working, int field_no,
                                     std::span<const std::byte> record) const;
  void FreeBlobBuffers();

  // ---------------------------------------------------------------- passwords
  using PasswordCallback = std::function<bool()>;
  void SetPasswordCallback(PasswordCallback callback) { password_callback_ = std::move(callback); }
  // The callback's answer; false without one.
  bool RequestPassword();
  // The plain password of an open encrypted table; "" otherwise.
  [[nodiscard]] std::string GetTablePassword() const;
  // 10031 while open.
  void SetDeleteOnClose(bool flag);
  // Open asks until the table's password is in the session: 10498 when the
  // callback gives up, answers "again" without adding a password, or has
  // been asked kMaxPasswordRequests times (data_file_filter.cpp).
  static constexpr int kMaxPasswordRequests = 16;
  void RequestTablePassword(std::string_view password);

  // ---------------------------------------------------------------- filters
  // data_file_filter.cpp; handles as in filter_registry.h. Results 0, 10050
  // (unknown handle) and 10051 (no expression or routine) are returned; a
  // 129th expression filter raises 9482. Activate, deactivate, drop and
  // update rebuild the bitmaps and find the current record again.
  [[nodiscard]] ErrorCode AddFilter(std::span<const std::byte> buffer, bool option,
                                    std::int32_t& handle);
  [[nodiscard]] ErrorCode AddFilter(ExpressionPtr tree, bool option, std::int32_t& handle);
  [[nodiscard]] ErrorCode AddFilter(TExpressionNode* lent_tree, bool option, std::int32_t& handle);
  [[nodiscard]] ErrorCode AddCallbackFilter(FilterRoutine routine, void* client_data,
                                            std::int32_t& handle);
  [[nodiscard]] ErrorCode DropFilter(std::int32_t handle);
  [[nodiscard]] ErrorCode ActivateFilter(std::int32_t handle);
  [[nodiscard]] ErrorCode DeactivateFilter(std::int32_t handle);
  [[nodiscard]] ErrorCode UpdateFilter(std::span<const std::byte> buffer, std::int32_t handle);
  [[nodiscard]] ErrorCode UpdateFilter(ExpressionPtr tree, std::int32_t handle);
  [[nodiscard]] ErrorCode UpdateFilter(TExpressionNode* lent_tree, std::int32_t handle);
  // The table's filters and bitmaps (made on first use; also the index
  // cursor's record test).
  FilterEngine& Filters();
  // Places in the filtered view (the records the cursor visits) answered
  // from bitmaps instead of a walk: in natural order the rank of the
  // result bitmap, in index order the rank of the index cursor's passing
  // bitmap (index_store.h). Only while active expression filters narrow
  // the view and no callback filter is active: otherwise nullopt and
  // false, and the caller walks the view. Both run in a read section,
  // whose change check first rebuilds the bitmaps after another program's
  // (or cursor's) writes.
  // The 1-based place of the record the cursor stands on; 0 before the
  // first record or on a record the view leaves out.
  [[nodiscard]] std::optional<std::uint32_t> ViewPlace();
  // The cursor on the view's n-th record, n clamped to 1 .. the view's
  // size, and the current record reloaded; an empty view leaves the empty
  // cursor.
  [[nodiscard]] bool SetViewPlace(std::uint32_t n);
  // True when record n is in the filtered view (no filters: always). The
  // natural-order walk asks it for each record.
  [[nodiscard]] bool FilterAccepts(std::uint32_t record_number);
  // The filter bitmap in use leaves the record out (FilterAccepts would be
  // false whatever the record holds); false without filters.
  [[nodiscard]] bool FilterBitClear(std::uint32_t record_number) const;
  // Drops every filter (the index file closes).
  void ResetFilters();
  // Record writes tell the filters (bitmaps follow added, changed and
  // deleted records without a rebuild).
  void NoteRecordChanged(std::uint32_t record_number);
  void NoteRecordDeleted(std::uint32_t record_number);
  // The operating system's flush of the .DAT, .IDX and .BLB of a writable
  // table.
  void FlushToDisk();

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
  // Calls visit with the stored image of every live record of 1..slots (of
  // only's set bits, when given), past the record cache: from mapped views
  // of up to kScanViewBytes of the file, or read in blocks of
  // kScanBlockBytes where it cannot be mapped; a record the cache holds is
  // taken from there (it may be newer than the file). Liveness is the
  // image's status byte. The scan ends early when visit answers false.
  // False, with nothing visited, for a table with computed fields (their
  // values exist only in cached buffers).
  static constexpr std::size_t kScanBlockBytes = 65536;
  // The most of the file a scan maps at once.
  static constexpr std::size_t kScanViewBytes = std::size_t{8} << 20;
  // visit(record number, image) -> bool; defined in data_file_scan.h.
  template <class Visit>
  bool ScanStoredRecords(const RecordBitmap* only, std::uint32_t slots, Visit&& visit);
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
  // Drops cached records and finds the current record again by its key
  // (data_file_cursor.cpp).
  void IndexChangedByOther() override;
  [[nodiscard]] std::uint32_t BlobBlockSizeField() const override { return header_.BlobBlockSize(); }
  // The header's encrypted flag while open; false when closed.
  [[nodiscard]] bool IsEncrypted() const override { return IsOpen() && header_.Encrypted(); }
  void ScrambleContents(std::span<std::uint8_t> buffer) const override;
  [[nodiscard]] bool Repairing() const override { return repairing_; }
  // Fires the repair-log event when assigned (table_repair.cpp); a line
  // longer than 255 characters is cut there.
  void DoRepairLog(std::string_view line) override;

  // ---------------------------------------------------------------- locks
  // Sharing a table between programs (data_file_lock.cpp): the semaphore,
  // record locks and the table lock on the .DAT (byte ranges and retries
  // in table_locks.h). Exclusive and forced read-only tables lock nothing.
  // Each step that fails leaves nothing locked by that step; write sections
  // (WriteSectionGuard, lock_guards.h) release everything they took, in
  // reverse order, on every path.
  //
  // True when taken; retried every 10 ms (busy wait), 10249 after 8192.
  virtual bool LockSemaphore();
  // Releases the semaphore byte (10242) and clears the semaphore-held flag.
  virtual void UnlockSemaphore();
  // 0 means the current record; with no current record 0 is locked as it
  // is (the byte of "record 0", between the table-lock range and the
  // semaphore: it guards no record and meets only another cursor's lock of
  // record 0). Retried lock-retry-count times, lock-wait-time apart (and
  // tried every millisecond within each wait, WaitForLock), then 10258.
  // Nothing while table-locked or when this cursor holds the record
  // already. Waited for outside every index lock: ReadCurrentRecord and
  // DeleteRecord take the lock of the record stood on before their
  // section; InsertRecord, whose slot is known only inside its section,
  // tries the slot's lock there (TryLockRecord) and, when another user
  // holds it, leaves the section to wait for it.
  virtual void LockRecord(std::uint32_t record_no);
  // LockRecord's first attempt alone, without a wait: true when the lock
  // is held now (also when this cursor held it already, or takes no
  // locks), false when another user holds it.
  bool TryLockRecord(std::uint32_t record_no);
  // 0 means the current record; with none, the lock of record 0 when this
  // cursor holds one, else nothing. 10242 when the byte was not locked by
  // this cursor.
  void UnlockRecord(std::uint32_t record_no);
  // Every record lock of this cursor, last first; the first failure is
  // raised after all were tried, and the list ends empty.
  void UnlockAllRecords();
  // Retried like a record lock, then 10241; re-checks the three headers
  // under the lock. A failed check releases the lock again.
  void LockTable();
  void UnlockTable();
  [[nodiscard]] bool TableLocked() const { return table_locked_; }
  // The BLOB file reports its write lock here; the write frame releases
  // what it took by these states, not by the section flags.
  void BlobWriteLockChanged(bool locked) override { blob_write_locked_ = locked; }
  [[nodiscard]] const std::vector<std::uint32_t>& LockedRecords() const { return locked_records_; }
  // Index read lock and the index and data change checks around a read
  // operation. When another program changed the table, the range bounds and
  // filter bitmaps are rebuilt and the cursor finds its place again (before
  // the first or after the last record stays so) before the operation
  // reads, counts or positions. Nested sections (and sections inside a
  // write section) take nothing more. The one read without a section: a
  // shared natural walk's next record that this cursor already holds, while
  // both change counters show no write ended since its last check
  // (ReadNextCached, data_file_cached_read.cpp).
  void BeginReadSection();
  void EndReadSection();
  // The same on the BLOB file, around opening a BLOB field.
  void BeginBlobReadSection();
  void EndBlobReadSection();

  // The write frame's steps 1 to 5: 11013 on a read-only table; then the
  // semaphore, the index write lock, the BLOB write lock (BLOB fields) and
  // the change checks. On a failure everything taken is released again
  // before the error goes on. held tells EndWriteSection what to release.
  struct WriteLocks {
    bool semaphore = false;
    bool index = false;
    bool blob = false;
  };
  void BeginWriteSection(WriteLocks& held);
  // Releases in reverse (BLOB, index, semaphore) what held names, clears
  // the section flags; every release is tried, the first failure raised.
  void EndWriteSection(WriteLocks& held);

 protected:
  // Single steps of BeginWriteSection (data_file_lock.cpp).
  virtual void LockIndexForWrite();
  virtual void LockBlobForWrite();
  virtual void CheckHeadersForWrite();
  virtual void UnlockIndexForWrite();
  virtual void UnlockBlobForWrite();

 private:
  // Ends a batch: the caches stop growing past their capacity.
  void EndBatchLock() { batch_held_ = false; }
  // Computed fields of a record read from the file (data_file_records.cpp).
  void CalculateComputedFields(TRecord* r);
  // Back to before the first record (data_file_cursor.cpp).
  void ResetCursor();
  // ReadNextRecord of a shared table's natural walk from what this cursor
  // holds, without a read section, when the counters show no write since
  // its last check (data_file_cached_read.cpp); false: nothing done.
  bool ReadNextCached(std::span<std::byte> buffer);
  // Inside a read section, before record n of a natural walk under a
  // filter bitmap is read on its own: n and the records the bitmap keeps
  // within kPrefetchViewBytes after it are taken from a mapped view of the
  // file (within kPrefetchBytes with one read where it cannot be mapped)
  // into the record cache, for the reads of the walk that follow.
  void PrefetchFiltered(std::uint32_t n);
  static constexpr std::uint32_t kPrefetchBytes = 65536;
  // The same reach where the file can be mapped (data_file_cached_read.cpp).
  static constexpr std::uint32_t kPrefetchViewBytes = 1u << 20;
  // Records first .. first + count - 1 as the file stores them (fewer
  // where the file ends), for scans that read each record once: mapped
  // into view where the file can be mapped (no copy), else at most
  // read_count of them read into block. Sets bytes to first's image and
  // returns how many records are there.
  std::uint32_t StoredRun(std::uint32_t first, std::uint32_t count, std::uint32_t read_count,
                          platform::FileView& view, std::vector<std::uint8_t>& block,
                          const std::uint8_t*& bytes);
  // ReadStored's hit-rate window: one lookup of the block cache, hit or not.
  void CountBlockLookup(bool hit);
  // How many records, record n included, lie physically in sequence from
  // the index cursor's entry in the direction of reading (data_file.cpp);
  // 1 reads only record n.
  std::uint32_t IndexReadAheadCount(std::uint32_t n, ReadDirection direction);

  struct Validated;
  [[noreturn]] void Fail(ErrorCode code, std::string_view field = {},
                         std::string_view index = {}) const;
  void ClearOpenState();
  // Write undo (data_file_undo.cpp).
  void BeginWriteUndo();
  void CommitWriteUndo();
  // Never throws: what cannot be put back marks the table failed.
  void RollbackWriteUndo() noexcept;
  // Saves a record buffer into the open undo before the write changes it;
  // appended: the buffer is a new slot at the append position.
  void JournalRecord(TRecord* r, bool appended);
  // The write's own flush of a shared table (FlushAfterWrite) failed: the
  // files get the state before the write written back over it.
  void RewriteAfterFailedFlush();
  // Raises the error of a failed table.
  void CheckNotFailed() const {
    if (failed_code_ != 0) FailedTable();
  }
  [[noreturn]] void FailedTable() const;
  void ResetLockState();  // data_file_lock.cpp
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
  // A free or recyclable buffer without flushing anything; nullptr when
  // every buffer is in use or changed.
  TRecord* TakeCleanBuffer();
  // FlushRecordBuffers; untouched_only leaves the buffers saved in the
  // write undo alone.
  bool WriteRecordBuffers(bool untouched_only);
  [[nodiscard]] bool Journaled(const TRecord* r) const;
  TRecord* ReadRun(std::uint32_t n, std::uint32_t count, ReadDirection direction);
  // n bytes of the file from position through the block cache; the count
  // present (short at the end of the file).
  std::int32_t ReadStored(std::uint64_t position, std::uint8_t* out, std::int32_t n);
  [[nodiscard]] std::uint64_t RecordPosition(std::uint32_t n) const;
  void ClearBuffer(TRecord* r);
  void CheckFieldDefinitions(std::vector<TFieldDescriptor>& fields, bool assign_offsets) const;
  void CheckIndexDefinitions(const std::vector<TFieldDescriptor>& fields,
                             TIndexDescriptor& primary, std::vector<TIndexDescriptor>& secondary,
                             bool allow_empty_primary, int& primary_field_count) const;
  void CreateIndexes(const TIndexDescriptor& primary, int primary_field_count,
                     const std::vector<TIndexDescriptor>& secondary);
  // A checked definition (data_file_create.cpp).
  struct NewTable;
  // Every creation rule and the state checks (10031, 10253, 11013), raised
  // naming this file; nothing is touched.
  [[nodiscard]] NewTable CheckNewTable(const DataTableDefinition& def) const;
  // Makes the table's files under this object's name, as they stand (no
  // swap); a failure removes what it made.
  void MakeTableFiles(const NewTable& t, bool stay_open, bool delete_on_close);
  // CheckNewTable and MakeTableFiles: the files made in place (a result
  // table, a restructure's new set, an in-memory table).
  void CreateTable(const DataTableDefinition& def, bool stay_open, bool delete_on_close);
  // DeleteTableFiles of the files that still exist, the .DAT last (delete
  // on close).
  void DeleteRemainingTableFiles();
  // Open's reading of the .DAT once it is open: header, checks, field
  // definitions, cache size.
  void LoadOpenState();

  void* owner_;
  std::unique_ptr<TIndexFile> index_file_;
  std::unique_ptr<TBlobFile> blob_file_;
  DataFileHeader header_;
  std::uint16_t record_size_ = 0;
  std::uint16_t records_per_block_ = 0;
  std::uint16_t computed_size_ = 0;
  // ReadRun's buffer for the file image of a run, kept between reads.
  std::vector<std::uint8_t> scan_block_;
  std::vector<std::uint8_t> prefetch_;  // PrefetchFiltered's read
  std::vector<std::uint8_t> block_io_;
  // InsertRecord's keys, kKeyBufferSize bytes per keyed index.
  std::vector<std::uint8_t> insert_keys_;
  DataBlockCache blocks_{kBlockCacheBytes};
  // The block cache's hit rate per window of kBlockWindow reads (ReadStored).
  static constexpr std::uint32_t kBlockWindow = 4096;
  static constexpr std::uint32_t kBlockProbe = 16;
  std::uint32_t block_lookups_ = 0;
  std::uint32_t block_hits_ = 0;
  std::uint32_t block_probe_ = 0;
  bool blocks_bypassed_ = false;
  int working_count_ = 0;
  std::vector<TFieldDescriptor> stored_;
  std::vector<TFieldDescriptor> working_;
  bool header_checked_ = false;
  bool table_locked_ = false;
  bool batch_held_ = false;
  std::uint8_t lock_retry_count_ = 15;
  std::uint16_t lock_wait_time_ = 100;
  std::vector<std::uint32_t> locked_records_;
  std::uint16_t read_depth_ = 0;        // open read sections
  bool read_lock_taken_ = false;        // the outermost took the index read lock
  std::uint16_t blob_read_depth_ = 0;
  bool blob_read_lock_taken_ = false;
  bool semaphore_locked_ = false;
  // The .DAT counter was checked in the read section open now: writers
  // change the .DAT only under the index write lock, which the section's
  // read lock excludes, so the check holds until the section ends.
  bool data_checked_ = false;
  // A change check found the table changed by another program and the
  // filters' bitmaps are not rebuilt yet; changes_seen_ counts such finds.
  bool table_changed_ = false;
  std::uint32_t changes_seen_ = 0;
  void NoteChangedByOther() {
    table_changed_ = true;
    ++changes_seen_;
  }
  // Where the cursor stands, kept across a rebuild of the filter bitmaps
  // (which may move the index cursor while it walks keys): the flags and,
  // in index order, the key stood on; in natural order the record number.
  struct CursorPlace {
    bool bof = false;
    bool eof = false;
    bool on_record = false;
    std::uint32_t natural_record = 0;
    std::array<std::uint8_t, kKeyBufferSize> key{};
  };
  [[nodiscard]] CursorPlace SaveCursorPlace();
  // After another program's change or a filter operation: back before the
  // first record (bof), after the last (eof), or on the record stood on
  // (else the nearest one the view shows after its key); a cursor that
  // stood nowhere stays so. The current record is reloaded.
  void RepositionInView(const CursorPlace& place);
  // The record the cursor stands on, as it last loaded it: slot and record
  // ID; none (number 0) without a current record or before the first or
  // after the last record.
  struct RecordIdentity {
    std::uint32_t number = 0;
    std::uint32_t id = 0;
  };
  [[nodiscard]] RecordIdentity StoodOn() const;
  // After a change check that found another user's change and put the
  // cursor back in place: the record lost (see the cursor section) when
  // the cursor stood on before and stands on anything else now, or on its
  // slot holding another record or none; and the cursor between records
  // at the record's old place (old_key in index order) when the record
  // is lost or was followed to a new key. A cursor already between
  // records keeps the place it had: that is where its walk stopped.
  void NoteRecordLeft(const RecordIdentity& before, const std::uint8_t* old_key);
  // Around a change check (read, write and table-lock sections): where the
  // cursor stood, and, after the check, the view rebuilt and the cursor put
  // back in place when another program's change was seen.
  struct PlaceBeforeCheck {
    bool bof = false;
    bool eof = false;
    std::uint32_t seen = 0;  // changes_seen_
    RecordIdentity record;
  };
  [[nodiscard]] PlaceBeforeCheck BeforeChangeCheck();
  void AfterChangeCheck(const PlaceBeforeCheck& before);
  bool record_lost_ = false;
  // What the index change check (IndexChangedByOther) saw, for the
  // AfterChangeCheck that follows it: the key the record stood on had
  // (check_key_valid_), and whether the record was followed to a new key.
  std::array<std::uint8_t, kKeyBufferSize> check_key_{};
  bool check_key_valid_ = false;
  bool check_followed_ = false;
  // Between records (see the cursor section): the place a forward read
  // goes on from. In index order between_key_, a key of the current index
  // (key size bytes); in natural order between_record_, a slot.
  bool between_ = false;
  std::uint32_t between_record_ = 0;
  std::array<std::uint8_t, kKeyBufferSize> between_key_{};
  // Between records at the place of key (index order) or of slot record
  // (natural order).
  void StandBetween(const std::uint8_t* key, std::uint32_t record);
  // A read from between records: forward, the first record of the view at
  // or after the place, else after the last record; backward, the last
  // one before it, else before the first. True when a record was reached
  // (the cursor's flags as a move's). Ends nothing: the caller does.
  bool StepFromBetween(bool forward);
  // The record and table lock rule: one attempt, then lock-retry-count
  // waits of lock-wait-time (WaitForLock); false when all failed.
  bool LockRangeRetried(std::int64_t offset, std::int64_t length);
  // LockRecord (wait) and TryLockRecord: false when the lock was not had.
  bool TakeRecordLock(std::uint32_t record_no, bool wait);
  [[nodiscard]] bool CursorBof() const;
  [[nodiscard]] bool CursorEof() const;
  bool blob_write_locked_ = false;
  RecordCache cache_;
  TRecord* current_ = nullptr;
  // The header holds changes that no header write has put in the file yet
  // although records were written (a cache flush inside a write): the next
  // flush writes it.
  bool header_owed_ = false;
  std::uint16_t failed_code_ = 0;  // Failed(): the code that broke the table
  // The write undo in progress: the data header as it was, and the record
  // buffers saved (at most a few per write).
  struct RecordUndo {
    TRecord* record = nullptr;
    bool appended = false;
    bool modified = false;
    bool computed = false;
    std::vector<std::byte> image;  // capacity reused
  };
  bool undo_active_ = false;
  bool undo_flushing_ = false;  // the write's own flush has begun
  DataFileHeader undo_header_;
  std::vector<RecordUndo> undo_records_;  // the first undo_count_ are this write's
  std::size_t undo_count_ = 0;
  // File sizes (.DAT, .IDX, .BLB) when the write's own flush began.
  std::array<std::int64_t, 3> undo_sizes_{};
  // Record operations and cursor (data_file_records.cpp,
  // data_file_cursor.cpp, data_file_blobs.cpp).
  bool no_unique_checks_ = false;
  bool key_range_active_ = false;
  std::vector<std::uint8_t> range_low_, range_high_;  // the keys given (clones)
  std::uint32_t natural_record_ = 0;  // natural order: the record stood on
  bool natural_bof_ = true;
  bool natural_eof_ = true;
  void CheckRecordSpan(std::span<const std::byte> record) const;
  std::uint16_t OpenBlobFieldUnlocked(bool working, int field_no, std::span<std::byte> record);
  // A record keeps only the chain it owns: every plain (not open) BLOB
  // offset in the caller's record must be the stored record's own (old;
  // empty for a new record) or 0. Another record's offset, copied from its
  // buffer, or one the record held before its value was replaced (by
  // another program, say) would let two records share a chain, and
  // deleting either would free the other's value: 9998 with the field's
  // name, before the write changes anything. The offset alone cannot tell
  // a live chain from one freed and reused since, so its value is not
  // copied instead.
  void CheckBlobOffsets(std::span<const std::byte> caller, std::span<const std::byte> old) const;
  // The record's own open BLOB values written for record n and their
  // offsets stored into slot (the stored record never holds a handle).
  void WriteRecordBlobs(TRecord* slot, std::span<const std::byte> caller,
                        std::span<const std::byte> old);
  void FlushAfterWrite(TRecord* keep);
  // After the write section's checks (which mark the record lost when it
  // is not the one the caller stood on): the current record is there and
  // live, else 8710.
  void CheckWriteTarget() const;
  void RepositionAfterWrite(int saved_index);
  void LoadCursorRecord(ReadDirection direction);
  void CopyOut(std::span<std::byte> buffer) const;
  [[nodiscard]] bool NaturalVisible(std::uint32_t n);
  bool NaturalSeek(std::uint32_t from, bool forward);
  void SetNaturalPosition(std::uint32_t n);
  bool has_checks_ = false;
  bool has_defaults_ = false;
  bool has_computed_ = false;
  bool keep_record_ids_ = false;
  bool delete_on_close_ = false;
  bool suppress_first_key_ = false;
  bool repairing_ = false;
  RepairProgressEvent on_repair_progress_;
  RepairLogEvent on_repair_log_;
  friend class TableRepair;  // table_repair.cpp
  RestructureProgressEvent on_restructure_progress_;
  DataLostEvent on_data_lost_;
  friend class TableRestructure;  // table_restructure.cpp
  PasswordCallback password_callback_;
  std::vector<ExpressionPtr> expressions_;
  // Files CreateFile brought into being (1 .DAT, 2 .IDX, 4 .BLB): what a
  // failed creation removes again, and nothing else.
  std::uint8_t created_files_ = 0;
  // Filters (data_file_filter.cpp): made on first use.
  struct FilterState;
  struct FilterStateDeleter {
    void operator()(FilterState* s) const;
  };
  std::unique_ptr<FilterState, FilterStateDeleter> filters_;
  ErrorCode RunFilterOperation(const std::function<ErrorCode(FilterEngine&)>& op, bool build,
                               std::int32_t handle);
  void CheckFilterLimit();
  // The records of the view (range and filters): the filter engine's count
  // when only expression filters narrow it, else by walking the view.
  std::uint32_t FilteredRecordCount();
  // Gives clone a copy of each expression filter (its own tree) and each
  // callback filter (same routine and client data), active where active
  // here (CloneCursor).
  void CopyFiltersTo(TDataFile& clone);
};

}  // namespace storage
