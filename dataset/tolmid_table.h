// TTolmidTable: one engine table opened by name in its database's
// directory. Beyond the dataset base it chooses the index (by name or by
// key field names), follows a master dataset (MasterSource, MasterFields),
// keeps a second cursor for Locate and Lookup on other indexes, and runs
// the table operations: CreateTable, EmptyTable, RepairTable and
// RestructureTable.
//
// Table path: the database's Directory, a separator, TableName; the engine
// keeps names of at most 255 characters, so a longer path is refused (never
// cut, which could name another table).
//
// Table operations work on a temporary data file of their own (exclusive),
// with connection flag 3 set; a failing operation still frees the file and
// clears the flag.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dataset/restructure_field_defs.h"
#include "dataset/tolmid_db_dataset.h"
#include "dataset/tolmid_master_data_link.h"
#include "framework/db/field_defs.h"

namespace fw {
class TDataSource;
}

namespace storage {
class TDataFile;
struct DataTableDefinition;
struct TIndexDescriptor;
struct RepairIndexDefinition;
}  // namespace storage

namespace dataset {

class TTolmidTable : public TTolmidDBDataSet {
 public:
  static constexpr std::size_t kMaxTablePath = 255;
  static constexpr int kMaxFieldDefs = 1024;
  static constexpr int kMaxIndexDefs = 33;

  using TProgressEvent =
      std::function<void(TTolmidTable& sender, int current_record, std::uint16_t percent_done)>;
  // cause: 0 insert failed, 1 duplicate key, 2 a check, 3 field dropped,
  // 4 value not carried over.
  using TDataLostEvent = std::function<void(TTolmidTable& sender, std::uint8_t cause,
                                            bool& continue_restructure, bool& stop_asking)>;
  using TLogEvent = std::function<void(TTolmidTable& sender, const std::string& message)>;

  explicit TTolmidTable(fw::TComponent* owner);
  ~TTolmidTable() override;

  // --- properties
  [[nodiscard]] bool Exclusive() const { return exclusive_; }
  void SetExclusive(bool v);
  [[nodiscard]] bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool v);
  [[nodiscard]] bool InMemory() const { return in_memory_; }
  void SetInMemory(bool v);
  [[nodiscard]] const std::string& TableName() const { return table_name_; }
  void SetTableName(std::string_view v);
  [[nodiscard]] std::string IndexName() const { return by_fields_ ? std::string() : index_; }
  void SetIndexName(const std::string& v) { SetIndex(v, false); }
  [[nodiscard]] std::string IndexFieldNames() const { return by_fields_ ? index_ : std::string(); }
  void SetIndexFieldNames(const std::string& v) { SetIndex(v, !v.empty()); }
  [[nodiscard]] fw::TIndexDefs& IndexDefs() { return index_defs_; }
  [[nodiscard]] TRestructureFieldDefs& RestructureFieldDefs() { return restructure_defs_; }
  [[nodiscard]] std::uint8_t LockRetryCount() const { return lock_retry_count_; }
  void SetLockRetryCount(std::uint8_t n);
  [[nodiscard]] std::uint16_t LockWaitTime() const { return lock_wait_time_; }
  void SetLockWaitTime(std::uint16_t ms);
  // "Circular datalinks are not allowed" when the master leads back here.
  void SetMasterSource(fw::TDataSource* source);
  [[nodiscard]] fw::TDataSource* MasterSource() const { return master_link_.DataSource(); }
  [[nodiscard]] const std::string& MasterFields() const { return master_link_.FieldNames(); }
  void SetMasterFields(const std::string& names) { master_link_.SetFieldNames(names); }
  [[nodiscard]] fw::TDataSource* GetDataSource() const override { return MasterSource(); }
  // The second cursor kept for Locate and Lookup on another index; nullptr
  // when there is none.
  [[nodiscard]] storage::TDataFile* LookupCursor() const { return lookup_cursor_.get(); }
  // Directory + TableName as the engine gets it; REQUIRES: attached.
  [[nodiscard]] std::string TablePath() const;

  TProgressEvent OnRepairProgress;
  TProgressEvent OnIndexProgress;  // kept; nothing fires it
  TProgressEvent OnRestructureProgress;
  TDataLostEvent OnDataLost;
  TLogEvent OnRepairLog;

  // --- keys and ranges on the current index
  void SetKey() { SetKeyBuffer(kLookupKey, true); }
  void EditKey() { SetKeyBuffer(kLookupKey, false); }
  bool GotoKey() { return GotoCurrentKey(false); }
  void GotoNearest() { GotoCurrentKey(true); }
  // SetKey, the values into the first index fields, GotoKey / GotoNearest.
  bool FindKey(const std::vector<fw::Variant>& values);
  void FindNearest(const std::vector<fw::Variant>& values);
  void SetRangeStart() { SetKeyBuffer(kRangeStart, true); }
  void SetRangeEnd() { SetKeyBuffer(kRangeEnd, true); }
  void EditRangeStart() { SetKeyBuffer(kRangeStart, false); }
  void EditRangeEnd() { SetKeyBuffer(kRangeEnd, false); }
  // Applies the edited range; the table moves to its first record.
  void ApplyRange();
  void CancelRange();
  // Both ends from values for the first index fields, then ApplyRange.
  void SetRange(const std::vector<fw::Variant>& start, const std::vector<fw::Variant>& end);
  // Key fields of the key being edited that count (0 = all).
  [[nodiscard]] int KeyFieldCount() const { return TTolmidDataSet::KeyFieldCount(); }
  void SetKeyFieldCount(int n) { TTolmidDataSet::SetKeyFieldCount(n); }

  // --- table operations
  void CreateTable();
  void EmptyTable();
  void RepairTable();
  // The same with the index definitions the table must have imposed
  // (definition 0 the primary index): where the stored ones can't be read,
  // or hold a unique index that is not among them, the repair builds the
  // index file from these (storage/table_repair.h).
  void RepairTable(const fw::TIndexDefs& imposed);
  // The engine's definition call gets the same slots as CreateTable:
  // locale language and sort ids, BLOB block size (512 from the catalogue),
  // description and password (cut to 255 characters; the engine keeps 50
  // and 15), encrypted, and the header's creator values 2 and 1.
  void RestructureTable(std::uint16_t language_id, std::uint16_t sort_id,
                        std::uint16_t blob_block_size, const std::string& description,
                        const std::string& password, bool encrypted, std::uint16_t creator2,
                        std::uint16_t creator1);

  void UpdateIndexDefs() override;
  void DataEvent(fw::TDataEvent event, std::intptr_t info = 0) override;

 protected:
  storage::TDataFile* CreateHandle() override;
  void DestroyHandle() override;
  void DestroyLookupCursor() override;
  storage::TDataFile* GetLookupCursor(const std::string& key_fields, bool case_insensitive) override;
  void PrepareCursor() override;
  void InitFieldDefs() override;
  bool GetCanModify() const override;
  void DoOnNewRecord() override;

 private:
  void SetIndex(const std::string& value, bool by_fields);
  [[nodiscard]] std::string ResolveIndexName(const std::string& value, bool by_fields);
  // A new data file named like the table (not open), with the password
  // callback of the table's session while it lives.
  std::unique_ptr<storage::TDataFile> NewDataFile(bool exclusive);
  // REQUIRES: attached. The open cursor, or a shared data file opened for
  // reading the definitions (held in temp).
  storage::TDataFile& DefinitionFile(std::unique_ptr<storage::TDataFile>& temp);
  void ApplyMasterRange();
  void MasterChanged();
  void MasterDisabled();
  void CheckDefinitionCounts(int fields) const;
  void Repair(const std::vector<storage::RepairIndexDefinition>& imposed);
  storage::TIndexDescriptor MakeIndexDescriptor(const fw::TIndexDef& def,
                                                const std::function<int(const std::string&)>& field_no) const;
  void RunWithSession(const std::function<void()>& op);

  fw::TIndexDefs index_defs_;
  TTolmidMasterDataLink master_link_;
  bool exclusive_ = false;
  bool read_only_ = false;
  bool in_memory_ = false;
  bool by_fields_ = false;
  std::string table_name_;
  std::string index_;
  std::unique_ptr<storage::TDataFile> table_file_;
  std::unique_ptr<storage::TDataFile> lookup_cursor_;
  std::string lookup_fields_;
  bool lookup_case_insensitive_ = false;
  bool lookup_made_ = false;
  TRestructureFieldDefs restructure_defs_;
  std::uint8_t lock_retry_count_ = 15;
  std::uint16_t lock_wait_time_ = 100;
};

}  // namespace dataset
