// TDataSet: the framework's abstract dataset. It keeps the state machine,
// the ring of record buffers behind the visible rows, the field list and
// the events; a concrete dataset supplies the cursor through the virtual
// "internal" operations (GetRecord, InternalFirst, InternalPost, ...).
//
// Record buffers. buffers_ holds buffer_count_ + 1 buffers while open; the
// first record_count_ hold consecutive records of the cursor's order, the
// one at active_record_ is the current row, and buffers_[record_count_] is
// free (the spare: new reads land there before being rotated in).
// Invariants while open and not empty:
//   (1) 0 <= active_record_ < record_count_ <= buffer_count_;
//   (2) current_record_ is -1 or the buffer whose record the concrete
//       cursor stands on (SetCurrentRecord moves the cursor there);
//   (3) buffers 0 .. record_count_-1 hold consecutive records; Bof/Eof
//       mean the cursor could not read before the first / after the last.
// A buffer's bookmark flag tells what it stands for: bfCurrent a record,
// bfInserted a record being inserted (its bookmark is the record it was
// inserted before), bfBOF / bfEOF the positions before the first / after
// the last record (a record being appended).
//
// Data events go to the attached data sources in the order they were
// attached, and from each to its data links (framework/db/data_link.h).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/component.h"
#include "framework/db/db_common.h"
#include "framework/db/field.h"
#include "framework/db/field_defs.h"
#include "framework/db/variant.h"

namespace fw {

class TDataSource;
class TStream;

// Bookmark contents as the concrete dataset makes them; empty = none.
using TBookmark = std::string;

class TDataSet : public TComponent {
 public:
  using TDataSetNotifyEvent = std::function<void(TDataSet&)>;
  using TFilterRecordEvent = std::function<void(TDataSet&, bool& accept)>;
  using TDataSetErrorEvent = std::function<void(TDataSet&, EDatabaseError&, TDataAction&)>;

  explicit TDataSet(TComponent* owner);
  // A concrete dataset closes itself in its own destructor (MarkDestroying
  // first, so that no close events fire): the base cannot reach the
  // concrete cursor any more.
  ~TDataSet() override;

  // --- state
  bool Active() const { return state_ != TDataSetState::dsInactive; }
  void SetActive(bool value);
  // A dataset read from a form (Loading) opens once loading is done.
  void Loaded() override;
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  TDataSetState State() const { return state_; }
  bool Modified() const { return modified_; }
  void SetModified(bool v) { modified_ = v; }
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  bool IsEmpty() const { return record_count_ == 0; }
  // What the active row stands for (a grid places a row being inserted by
  // it: bfEOF appended, bfInserted inserted before the record that was
  // current); bfBOF when there is no row.
  TBookmarkFlag ActiveBookmarkFlag() const {
    return record_count_ > 0 ? GetBookmarkFlag(ActiveBuffer()) : TBookmarkFlag::bfBOF;
  }
  bool CanModify() const { return GetCanModify(); }
  bool Found() const { return found_; }
  bool AutoCalcFields() const { return auto_calc_fields_; }
  // "Cannot perform this operation on a closed dataset" / "... on an open
  // dataset".
  void CheckActive() const;
  void CheckInactive() const;
  void SetAutoCalcFields(bool v) { auto_calc_fields_ = v; }

  // --- navigation
  void First();
  void Last();
  void Next() { MoveBy(1); }
  void Prior() { MoveBy(-1); }
  // Moves over distance records within the buffers or by reading; returns
  // the distance moved (less than asked at either end).
  int MoveBy(int distance);
  int RecordCount() const { return GetRecordCount(); }
  // 1-based record number, -1 when not known.
  int RecNo() const { return GetRecNo(); }
  virtual void SetRecNo(int value) { (void)value; }
  bool FindFirst() { return FindRecord(true, true); }
  bool FindLast() { return FindRecord(true, false); }
  bool FindNext() { return FindRecord(false, true); }
  bool FindPrior() { return FindRecord(false, false); }

  // --- editing
  void Edit();
  void Insert();
  void Append();
  virtual void Post();
  virtual void Cancel();
  void Delete();
  void Refresh();
  // Edit/insert: asks controls to store their values (deUpdateRecord).
  void UpdateRecord();
  // Posts or cancels a pending edit, posts a pending key; browse mode after.
  void CheckBrowseMode();
  void InsertRecord(const std::vector<Variant>& values);
  void AppendRecord(const std::vector<Variant>& values);
  void SetFields(const std::vector<Variant>& values);
  void ClearFields();

  // --- bookmarks
  TBookmark GetBookmark() const;
  // A bookmark whose size is not BookmarkSize() raises kBookmarkSize.
  void GotoBookmark(const TBookmark& bookmark);
  void FreeBookmark(TBookmark& bookmark) { bookmark.clear(); }
  virtual bool BookmarkValid(const TBookmark& bookmark) { return !bookmark.empty() && Active(); }
  // Missing (empty) bookmarks: both 0, only a 1, only b -1; otherwise the
  // concrete order (the base: byte order).
  virtual int CompareBookmarks(const TBookmark& a, const TBookmark& b);
  // Raises kBookmarkSize when bookmark is not BookmarkSize() bytes long.
  void CheckBookmarkSize(const TBookmark& bookmark) const;
  // The bookmark of the current row, empty when none; setting goes there.
  TBookmark Bookmark() const { return GetBookmark(); }
  void SetBookmark(const TBookmark& b) { GotoBookmark(b); }

  // --- fields
  int FieldCount() const { return static_cast<int>(fields_.size()); }
  TField* Fields(int index) const;  // "Field index out of range"
  TField* FindField(const std::string& name) const;  // case-insensitive
  TField* FieldByName(const std::string& name) const;  // "Field '%s' not found"
  TField* FieldByNumber(int field_no) const;
  // The fields named in "a;b;c" ("Field '%s' not found").
  std::vector<TField*> GetFieldList(const std::string& names) const;
  TFieldDefs& FieldDefs() { return field_defs_; }
  const TFieldDefs& FieldDefs() const { return field_defs_; }
  // Field definitions brought up to date (InitFieldDefs when not Updated).
  void UpdateFieldDefs();
  bool DefaultFields() const { return default_fields_; }
  int CalcFieldsSize() const { return calc_fields_size_; }
  int RecordSize() const { return GetRecordSize(); }
  // Brings index definitions up to date (tables; the base has none).
  virtual void UpdateIndexDefs() {}
  // Whether field is a key field of the current index.
  virtual bool GetIsIndexField(const TField* field) const { (void)field; return false; }

  // --- filters (the concrete dataset evaluates them)
  const std::string& Filter() const { return filter_text_; }
  void SetFilter(const std::string& text) { SetFilterText(text); }
  virtual void SetFilterText(const std::string& text);
  bool Filtered() const { return filtered_; }
  virtual void SetFiltered(bool value);
  TFilterOptions FilterOptions() const { return filter_options_; }
  virtual void SetFilterOptions(TFilterOptions options);
  const TFilterRecordEvent& OnFilterRecord() const { return on_filter_record_; }
  virtual void SetOnFilterRecord(TFilterRecordEvent handler);

  // --- searches (the concrete dataset implements them)
  virtual bool Locate(const std::string& key_fields, const std::vector<Variant>& key_values,
                      TLocateOptions options);
  virtual Variant Lookup(const std::string& key_fields, const std::vector<Variant>& key_values,
                         const std::string& result_fields);

  // --- controls
  void DisableControls();
  void EnableControls();
  bool ControlsDisabled() const { return disable_count_ != 0; }
  // Whether data_source leads, through master links, back to this dataset.
  bool IsLinkedTo(const TDataSource* data_source) const;
  // The master data source (detail datasets), or none.
  virtual TDataSource* GetDataSource() const { return nullptr; }
  virtual std::unique_ptr<TStream> CreateBlobStream(TField* field, TBlobStreamMode mode);
  virtual bool GetCurrentRecord(char* buffer) { (void)buffer; return false; }
  virtual bool IsSequenced() const { return true; }

  // --- buffer access for data links and the concrete dataset
  char* ActiveBuffer() const;  // nullptr when closed
  int BufferCount() const { return buffer_count_; }
  int BufferedRecordCount() const { return record_count_; }
  int ActiveRecord() const { return active_record_; }
  char* Buffer(int index) const { return buffers_.at(static_cast<std::size_t>(index)); }
  char* CalcBuffer() const { return calc_buffer_; }
  int BookmarkSize() const { return bookmark_size_; }

  // --- field values in the record buffer of the current state (layout in
  // framework/db/field.h). GetFieldData returns false for null; a null
  // buffer only asks. SetFieldData stores a value (a null buffer: null),
  // runs the field's Validate first and sends deFieldChange after, except
  // in the calculate and filter states; outside the edit states it raises
  // "Dataset not in edit or insert mode".
  virtual bool GetFieldData(const TField* field, void* buffer) const = 0;
  virtual void SetFieldData(TField* field, const void* buffer) = 0;
  // BCD form of the concrete dataset <-> Currency; base: int64 count of 1/10000.
  virtual bool BCDToCurr(const void* bcd, fw::Currency& value) const;
  virtual bool CurrToBCD(fw::Currency value, void* bcd, int precision, int decimals) const;

  // --- events
  TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
  TDataSetNotifyEvent BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
  TDataSetNotifyEvent BeforePost, AfterPost, BeforeCancel, AfterCancel;
  TDataSetNotifyEvent BeforeDelete, AfterDelete, BeforeScroll, AfterScroll;
  TDataSetNotifyEvent OnNewRecord, OnCalcFields;
  TDataSetErrorEvent OnEditError, OnPostError, OnDeleteError;

  // Sends event to every data source (held back while controls are
  // disabled); info carries a TField* for field events, the buffer shift
  // for deDataSetScroll.
  virtual void DataEvent(TDataEvent event, std::intptr_t info = 0);

 protected:
  // --- the concrete dataset's cursor. Before InternalEdit, InternalPost,
  // InternalDelete and InternalRefresh the framework has put the cursor on
  // the active row's record (UpdateCursorPos); before InternalPost it has
  // checked the required fields.
  virtual char* AllocRecordBuffer() = 0;
  virtual void FreeRecordBuffer(char*& buffer) = 0;
  virtual void GetBookmarkData(const char* buffer, void* data) const = 0;
  virtual void SetBookmarkData(char* buffer, const void* data) = 0;
  virtual TBookmarkFlag GetBookmarkFlag(const char* buffer) const = 0;
  virtual void SetBookmarkFlag(char* buffer, TBookmarkFlag flag) = 0;
  // Reads the record at, after or before the cursor into buffer and moves
  // the cursor there. Failures other than Bof/Eof raise when do_check.
  virtual TGetResult GetRecord(char* buffer, TGetMode mode, bool do_check) = 0;
  virtual int GetRecordSize() const = 0;
  virtual void InternalAddRecord(const char* buffer, bool append) = 0;
  virtual void InternalClose() = 0;
  virtual void InternalDelete() = 0;
  virtual void InternalFirst() = 0;  // before the first record
  virtual void InternalLast() = 0;   // after the last record
  virtual void InternalGotoBookmark(const void* bookmark) = 0;
  virtual void InternalHandleException() {}
  virtual void InternalInitFieldDefs() = 0;
  virtual void InternalInitRecord(char* buffer) = 0;
  virtual void InternalOpen() = 0;
  virtual void InternalPost() = 0;
  virtual void InternalSetToRecord(char* buffer) = 0;
  virtual bool IsCursorOpen() const = 0;
  virtual void InternalCancel() {}
  virtual void InternalEdit() {}
  virtual void InternalInsert() {}
  virtual void InternalRefresh() {}

  // --- framework operations a concrete dataset may refine
  virtual void OpenCursor(bool info_query);
  virtual void CloseCursor();
  virtual void InitFieldDefs();
  virtual void InitRecord(char* buffer);
  virtual void ClearCalcFields(char* buffer) { (void)buffer; }
  virtual void CloseBlob(TField* field) { (void)field; }
  virtual bool GetCanModify() const { return true; }
  virtual int GetRecordCount() const { return -1; }
  virtual int GetRecNo() const { return -1; }
  virtual bool FindRecord(bool restart, bool go_forward) { (void)restart; (void)go_forward; return false; }
  virtual void DoOnNewRecord();
  virtual void SetBufferCount(int count);

  // The free buffer after the buffered rows: scratch space for searches
  // (valid until the next move).
  char* TempBuffer() const { return buffers_.at(static_cast<std::size_t>(record_count_)); }
  void DoBeforeScroll() { Fire(BeforeScroll); }
  void DoAfterScroll() { Fire(AfterScroll); }
  void SetFound(bool v) { found_ = v; }
  void SetBookmarkSize(int n) { bookmark_size_ = n; }
  // Temporary states (calculating, filtering): the previous state back
  // through RestoreState; no data events.
  TDataSetState SetTempState(TDataSetState state);
  void RestoreState(TDataSetState state);
  void SetState(TDataSetState state);
  // Computes the calculated fields of buffer (state dsCalcFields).
  void GetCalcFields(char* buffer);
  // The buffer that the calculate state reads (a lookup's scratch record).
  void SetCalcBuffer(char* buffer) { calc_buffer_ = buffer; }
  // Re-reads the buffers around the cursor's record; exact: the record must
  // still exist ("Record not found"); center: it becomes the middle row.
  void Resync(bool exact, bool center);
  void ClearBuffers();
  // Puts the concrete cursor on the active row's record.
  void UpdateCursorPos();
  void CursorPosChanged() { current_record_ = -1; }
  void SetCurrentRecord(int index);
  void CheckCanModify() const;
  // Default fields from the field definitions; binding sets field numbers
  // and calculated offsets.
  void CreateFields();
  void DestroyFields();
  void BindFields(bool binding);
  void SetDefaultFields(bool v) { default_fields_ = v; }

 private:
  friend class TField;
  friend class TDataSource;
  friend class TDataLink;

  void Fire(const TDataSetNotifyEvent& e) { if (e) e(*this); }
  void CheckOperation(void (TDataSet::*op)(), const TDataSetErrorEvent& on_error);
  void DoInternalEdit() { InternalEdit(); }
  void DoInternalPost();
  void DoInternalDelete() { InternalDelete(); }
  bool GetNextRecord();
  bool GetPriorRecord();
  void GetNextRecords();
  void GetPriorRecords();
  void ActivateBuffers();
  void BeginInsertAppend();
  void EndInsertAppend();
  void CheckRequiredFields();
  void FreeFieldBuffers();
  void UpdateBufferCount();
  void AddField(TField* field);
  void RemoveField(TField* field);
  void AddDataSource(TDataSource* ds);
  void RemoveDataSource(TDataSource* ds);
  void SendDataEvent(TDataEvent event, std::intptr_t info);
  void SetActiveRecordIndex(int index) { active_record_ = index; }
  // Tells every data link that buffer indexes moved by shift.
  void ShiftLinks(int shift);

  TDataSetState state_ = TDataSetState::dsInactive;
  std::vector<char*> buffers_;
  int buffer_count_ = 0;
  int record_count_ = 0;
  int active_record_ = 0;
  int current_record_ = -1;
  char* calc_buffer_ = nullptr;
  int bookmark_size_ = 0;
  bool bof_ = true;
  bool eof_ = true;
  bool modified_ = false;
  bool found_ = false;
  bool auto_calc_fields_ = true;
  bool default_fields_ = false;
  int calc_fields_size_ = 0;
  int calc_field_count_ = 0;
  std::vector<TField*> fields_;
  TFieldDefs field_defs_;
  std::vector<TDataSource*> data_sources_;
  std::string filter_text_;
  bool filtered_ = false;
  TFilterOptions filter_options_;
  TFilterRecordEvent on_filter_record_;
  int disable_count_ = 0;
  TDataSetState disable_state_ = TDataSetState::dsInactive;
  bool pending_layout_ = false;
  bool internal_open_complete_ = false;
  bool streamed_active_ = false;
  int shift_ = 0;  // buffer index shift of the current move (data links follow it)
};

}  // namespace fw
