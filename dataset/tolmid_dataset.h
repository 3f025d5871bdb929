// TTolmidDataSet: an engine cursor (storage::TDataFile) behind the
// framework's dataset, so that data sources, data-aware controls and code
// browse and edit engine tables and query results. Table and query
// components derive from it (through TTolmidDBDataSet) and supply the
// cursor through CreateHandle.
//
// Record buffer (one per framework row, zero-filled when allocated; every
// size and offset is 32-bit or wider, since an engine record alone may take
// 65,535 bytes):
//
//   OFFSET                    SIZE             DESCRIPTION
//   0                         record size      engine record image (the
//                                              cursor's GetRecordBufferSize)
//   record size               calc size        calculated fields: per field a
//                                              has-value byte, then its value
//   info offset               4                u32 record number (position in
//                                              the cursor's order; 0xFFFFFFFF
//                                              in a new record)
//   info offset + 4           1                bookmark flag (TBookmarkFlag)
//   info offset + 5           3                unused
//   info offset + 8           bookmark size    bookmark (below)
//
// Bookmark: the engine's bookmark (the current index's key, or the u32
// physical record number in natural order), then the u32 physical record
// number and the u32 record ID of the record. The key alone would lead to
// another record once the record's key fields were changed, the record
// number alone to the record a later insert put into the slot of a
// deleted one: the record number and the record ID (which no other record
// of the table takes) name the record itself, wherever its key went
// (TDataFile::GotoBookmarkedRecord). When it has gone the key is the
// fall-back: the cursor stands on the nearest record, which Delete and
// Edit refuse (8710), and a walk goes on from the bookmark's place. The
// bookmark area always has room for the largest key, so switching the
// index never has to re-allocate the framework's buffers. A bookmark of
// another size (taken on another index, or cut) is refused: GotoBookmark
// and CompareBookmarks raise, BookmarkValid answers false.
//
// Key buffer (set-key state, ranges, Locate through an index):
//   0   1  modified        1  1  unused (exclusive keys are not supported)
//   2   2  unused          4  4  u32 key field count (0 = all fields)
//   8   .  engine record image (record size bytes)
//
// Lock rule: every engine call goes through the cursor of this dataset (or
// its lookup cursor); the engine takes its own read and write sections.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dataset/filter_compiler.h"
#include "framework/db/dataset.h"

namespace storage {
class TDataFile;
class ETolmidEngineError;
}

namespace dataset {

class TTolmidBlobStream;

class TTolmidDataSet : public fw::TDataSet, protected FilterFieldSource {
 public:
  // Bytes of the bookmark area of a record buffer: the largest key, the
  // record number and the record ID.
  static constexpr std::size_t kRecordTagSize = 8;
  static constexpr std::size_t kBookmarkRoom = 1034 + kRecordTagSize;
  static constexpr std::size_t kInfoSize = 8;
  static constexpr std::uint32_t kNewRecordNumber = 0xFFFFFFFFu;

  explicit TTolmidDataSet(fw::TComponent* owner);
  ~TTolmidDataSet() override;

  // The engine cursor; nullptr while closed.
  [[nodiscard]] storage::TDataFile* Handle() const { return cursor_; }

  // --- framework operations
  bool BookmarkValid(const fw::TBookmark& bookmark) override;
  int CompareBookmarks(const fw::TBookmark& a, const fw::TBookmark& b) override;
  std::unique_ptr<fw::TStream> CreateBlobStream(fw::TField* field,
                                                fw::TBlobStreamMode mode) override;
  bool GetCurrentRecord(char* buffer) override;
  // True when RecNo comes from the engine's position (index order without
  // an active filter, or natural order without given-up slots); otherwise
  // RecNo and SetRecNo take the place in the view from the engine's filter
  // bitmap rank (TDataFile::ViewPlace), or walk the view from its start
  // where there is none (callback filters).
  bool IsSequenced() const override;
  bool Locate(const std::string& key_fields, const std::vector<fw::Variant>& key_values,
              fw::TLocateOptions options) override;
  fw::Variant Lookup(const std::string& key_fields, const std::vector<fw::Variant>& key_values,
                     const std::string& result_fields) override;
  void Post() override;
  void Cancel() override;
  void SetRecNo(int value) override;
  void SetFiltered(bool value) override;
  void SetFilterText(const std::string& text) override;
  void SetFilterOptions(fw::TFilterOptions options) override;
  void SetOnFilterRecord(TFilterRecordEvent handler) override;
  bool GetFieldData(const fw::TField* field, void* buffer) const override;
  void SetFieldData(fw::TField* field, const void* buffer) override;
  // The engine keeps BCD values as a signed 64-bit count of ten-thousandths,
  // the framework's Currency form: reading is a plain copy.
  bool BCDToCurr(const void* bcd, fw::Currency& value) const override;
  bool CurrToBCD(fw::Currency value, void* bcd, int precision, int decimals) const override;
  bool GetIsIndexField(const fw::TField* field) const override;

  // --- the current index
  [[nodiscard]] int IndexFieldCount() const { return index_field_count_; }
  // Key field i of the current index: "Field index out of range",
  // "Cannot access index field '%s'".
  [[nodiscard]] fw::TField* GetIndexField(int index) const;

  // --- record buffers as the BLOB stream needs them
  // The record the current state works on (engine image first); nullptr
  // when there is none.
  [[nodiscard]] char* StateRecordBuffer() const;
  [[nodiscard]] std::size_t EngineRecordSize() const { return record_size_; }

 protected:
  // --- the cursor (derived components)
  // A new cursor, or nullptr (the base). Ownership stays with the derived
  // component, which frees it in DestroyHandle.
  virtual storage::TDataFile* CreateHandle() { return nullptr; }
  virtual void DestroyHandle() {}
  virtual void DestroyLookupCursor() {}
  // A second cursor on an index whose first key fields are key_fields
  // (with the same case rule), or nullptr.
  virtual storage::TDataFile* GetLookupCursor(const std::string& key_fields, bool case_insensitive) {
    (void)key_fields;
    (void)case_insensitive;
    return nullptr;
  }
  virtual void PrepareCursor() {}

  // --- framework overrides
  char* AllocRecordBuffer() override;
  void FreeRecordBuffer(char*& buffer) override;
  void GetBookmarkData(const char* buffer, void* data) const override;
  void SetBookmarkData(char* buffer, const void* data) override;
  fw::TBookmarkFlag GetBookmarkFlag(const char* buffer) const override;
  void SetBookmarkFlag(char* buffer, fw::TBookmarkFlag flag) override;
  fw::TGetResult GetRecord(char* buffer, fw::TGetMode mode, bool do_check) override;
  int GetRecordSize() const override { return static_cast<int>(record_size_); }
  void InternalAddRecord(const char* buffer, bool append) override;
  void InternalClose() override;
  void InternalDelete() override;
  void InternalFirst() override;
  void InternalLast() override;
  void InternalGotoBookmark(const void* bookmark) override;
  void InternalInitFieldDefs() override;
  void InternalInitRecord(char* buffer) override;
  void InternalOpen() override;
  void InternalPost() override;
  void InternalSetToRecord(char* buffer) override;
  bool IsCursorOpen() const override { return cursor_ != nullptr; }
  void InternalCancel() override;
  void InternalEdit() override;
  void InternalRefresh() override;
  void OpenCursor(bool info_query) override;
  void CloseCursor() override;
  void InitRecord(char* buffer) override;
  void ClearCalcFields(char* buffer) override;
  void CloseBlob(fw::TField* field) override;
  bool GetCanModify() const override { return can_modify_; }
  int GetRecordCount() const override;
  int GetRecNo() const override;
  bool FindRecord(bool restart, bool go_forward) override;

  // --- filter compiler's view of the fields
  std::optional<FilterFieldInfo> FindFilterField(std::string_view name) const override;

  void SetCanModify(bool v) { can_modify_ = v; }
  // Working field definitions of cursor into FieldDefs (duplicate names get
  // "_1", "_2", ...).
  void InitFieldDefsFrom(storage::TDataFile& cursor);

  // --- keys and ranges
  enum KeyIndex { kLookupKey, kRangeStart, kRangeEnd, kCurRangeStart, kCurRangeEnd, kSavedKey };
  void SetKeyBuffer(KeyIndex index, bool clear);
  // The key buffers while in the set-key state or ranges are edited.
  [[nodiscard]] int KeyFieldCount() const;
  void SetKeyFieldCount(int count);
  bool GotoCurrentKey(bool nearest);
  // Range from the master fields' values (master/detail).
  void SetLinkRanges(const std::vector<fw::TField*>& master_fields);
  // True when the cursor's range changed.
  bool SetCursorRange();
  bool ResetCursorRange();
  void SwitchToIndex(const std::string& index_name);
  [[nodiscard]] bool RangeActive() const;

  // --- the current index's information
  void GetIndexInfo();

 private:
  friend class TTolmidBlobStream;

  [[nodiscard]] std::span<std::byte> EngineRecord(char* buffer) const {
    return {reinterpret_cast<std::byte*>(buffer), record_size_};
  }
  [[nodiscard]] std::uint32_t InfoRecordNumber(const char* buffer) const;
  void SetInfoRecordNumber(char* buffer, std::uint32_t n) const;
  void ClearIndexInfo();
  [[nodiscard]] std::size_t EngineBookmarkSize() const {
    return static_cast<std::size_t>(BookmarkSize()) - kRecordTagSize;
  }
  void SetBookmarkSizeFromCursor();
  // InternalGotoBookmark; true when the cursor stands on the bookmark's
  // record.
  bool GotoBookmarkData(const void* bookmark);
  int CountViewPosition(const char* buffer);
  void ShowRecordsAfterLoss(const storage::ETolmidEngineError& e);
  void AllocKeyBuffers();
  void FreeKeyBuffers() { key_buffers_.clear(); current_key_ = nullptr; }
  void InitKeyBuffer(std::vector<std::byte>& kb) const;
  // The range from the key buffers start and end (SetCursorRange).
  bool SetCursorRange(const std::vector<std::byte>& start, const std::vector<std::byte>& end);
  [[nodiscard]] std::vector<std::byte>& Key(KeyIndex index) { return key_buffers_.at(index); }
  // Field values between the framework's layout and the engine's.
  void ReadEngineValue(const fw::TField* field, const char* record, void* out, bool& blank) const;
  void WriteEngineValue(const fw::TField* field, char* record, const void* value);

  // Filters.
  std::int32_t MakeExpressionFilter(const std::string& text, fw::TFilterOptions options);
  std::int32_t MakeCallbackFilter();
  void ActivateFilters();
  void DeactivateFilters();
  void ReplaceFilter(std::int32_t& handle, std::int32_t new_handle);
  void ApplyFilterChange(const std::string& text, fw::TFilterOptions options);
  void DropFilterQuietly(std::int32_t& handle) noexcept;
  static bool RecordFilterRoutine(void* client_data, std::span<const std::byte> record,
                                  std::uint32_t record_number);

  // Locate and Lookup: true when a record was found; it is then in the
  // temporary buffer (and, with position_own, the dataset's cursor is on
  // it).
  bool LocateRecord(const std::string& key_fields, const std::vector<fw::Variant>& key_values,
                    fw::TLocateOptions options, bool position_own);
  bool LocateByFilter(const std::vector<fw::TField*>& fields,
                      const std::vector<fw::Variant>& key_values, bool case_insensitive,
                      bool partial);
  bool LocateByIndex(storage::TDataFile* index_cursor, const std::vector<fw::TField*>& fields,
                     const std::vector<fw::Variant>& key_values, bool case_insensitive,
                     bool partial, bool position_own);
  [[nodiscard]] bool IndexFitsSearch(const std::vector<fw::TField*>& fields,
                                     bool case_insensitive) const;

  storage::TDataFile* cursor_ = nullptr;
  std::int32_t expr_filter_ = 0;
  std::int32_t func_filter_ = 0;
  char* filter_buffer_ = nullptr;
  std::vector<char> filter_scratch_;
  std::array<std::uint16_t, 16> index_field_map_{};
  bool case_insensitive_index_ = false;
  bool can_modify_ = false;
  std::uint16_t key_size_ = 0;
  std::vector<std::vector<std::byte>> key_buffers_;
  std::vector<std::byte>* current_key_ = nullptr;
  int index_field_count_ = 0;
  std::size_t record_size_ = 0;
  std::size_t info_offset_ = 0;
  std::size_t bookmark_offset_ = 0;
  std::size_t buffer_size_ = 0;
};

}  // namespace dataset
