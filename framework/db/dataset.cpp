#include "framework/db/dataset.h"

#include <algorithm>
#include <cstring>

#include "framework/db/data_link.h"
#include "framework/streams.h"
#include "framework/sysutils.h"

namespace fw {

namespace {

bool IsEditState(TDataSetState s) {
  return s == TDataSetState::dsEdit || s == TDataSetState::dsInsert;
}

}  // namespace

TDataSet::TDataSet(TComponent* owner) : TComponent(owner), field_defs_(this) {}

TDataSet::~TDataSet() {
  // Fields owned by this dataset are destroyed by the component base after
  // this body; unhook every field first so none reaches back here.
  // The concrete dataset has closed (its buffers and cursor are its own);
  // nothing below may call into it.
  internal_open_complete_ = false;
  MarkDestroying();
  for (TField* f : fields_) f->dataset_ = nullptr;
  fields_.clear();
  while (!data_sources_.empty()) data_sources_.back()->SetDataSet(nullptr);
}

// ---------------------------------------------------------------------------
// Opening and closing

void TDataSet::SetActive(bool value) {
  if (Loading()) {
    streamed_active_ = value;
    return;
  }
  if (value == Active()) return;
  if (value) {
    Fire(BeforeOpen);
    try {
      OpenCursor(false);
    } catch (...) {
      // Nothing of the failed open stays: buffers, cursor, and the default
      // fields it made (else the next open would take them for persistent
      // ones and never free them).
      state_ = TDataSetState::dsInactive;
      try {
        CloseCursor();
      } catch (...) {
      }
      BindFields(false);
      if (default_fields_) DestroyFields();
      default_fields_ = false;
      throw;
    }
    SetState(TDataSetState::dsBrowse);
    Fire(AfterOpen);
    if (!IsEmpty()) DoAfterScroll();
  } else {
    if (!Destroying()) Fire(BeforeClose);
    SetState(TDataSetState::dsInactive);
    CloseCursor();
    if (!Destroying()) Fire(AfterClose);
  }
}

void TDataSet::Loaded() {
  TComponent::Loaded();
  if (!streamed_active_) return;
  streamed_active_ = false;
  try {
    SetActive(true);
  } catch (...) {
    if (!Designing()) throw;
    InternalHandleException();
  }
}

void TDataSet::OpenCursor(bool info_query) {
  if (info_query) {
    InternalInitFieldDefs();
    return;
  }
  default_fields_ = fields_.empty();
  InternalOpen();
  internal_open_complete_ = true;
  UpdateBufferCount();
  ClearBuffers();
  GetNextRecords();
  bof_ = true;
}

void TDataSet::CloseCursor() {
  SetBufferCount(0);
  current_record_ = -1;
  if (internal_open_complete_) {
    internal_open_complete_ = false;
    InternalClose();
  }
}

void TDataSet::InitFieldDefs() {
  if (IsCursorOpen()) {
    InternalInitFieldDefs();
    return;
  }
  try {
    OpenCursor(true);
  } catch (...) {
    CloseCursor();
    throw;
  }
  CloseCursor();
}

void TDataSet::UpdateFieldDefs() {
  if (field_defs_.Updated()) return;
  InitFieldDefs();
  field_defs_.SetUpdated(true);
}

void TDataSet::SetState(TDataSetState state) {
  if (state_ == state) return;
  state_ = state;
  modified_ = false;
  DataEvent(TDataEvent::deUpdateState);
}

TDataSetState TDataSet::SetTempState(TDataSetState state) {
  TDataSetState old = state_;
  state_ = state;
  return old;
}

void TDataSet::RestoreState(TDataSetState state) { state_ = state; }

void TDataSet::CheckActive() const {
  if (!Active()) DatabaseError(db_msg::kDataSetClosed, this);
}

void TDataSet::CheckInactive() const {
  if (Active()) DatabaseError(db_msg::kDataSetOpen, this);
}

void TDataSet::CheckCanModify() const {
  if (!CanModify()) DatabaseError(db_msg::kDataSetReadOnly, this);
}

// ---------------------------------------------------------------------------
// Record buffers

void TDataSet::UpdateBufferCount() {
  if (!internal_open_complete_) return;
  int n = 1;
  for (TDataSource* ds : data_sources_)
    for (TDataLink* link : ds->links_) n = std::max(n, link->buffer_count_);
  SetBufferCount(n);
}

void TDataSet::SetBufferCount(int count) {
  if (count == 0) {
    for (char*& b : buffers_)
      if (b != nullptr) FreeRecordBuffer(b);
    buffers_.clear();
    buffer_count_ = 0;
    record_count_ = 0;
    active_record_ = 0;
    current_record_ = -1;
    return;
  }
  if (count == buffer_count_) return;
  if (buffers_.empty()) {
    buffers_.reserve(static_cast<std::size_t>(count) + 1);
    for (int i = 0; i <= count; ++i) buffers_.push_back(AllocRecordBuffer());
    buffer_count_ = count;
    return;
  }
  if (count > buffer_count_) {
    while (static_cast<int>(buffers_.size()) < count + 1) buffers_.push_back(AllocRecordBuffer());
    buffer_count_ = count;
    if (record_count_ > 0 && !IsEditState(state_)) {
      GetNextRecords();
      GetPriorRecords();
    }
    return;
  }
  // Shrinking: rows before the active one go first, then rows at the end.
  int drop_front = std::max(0, active_record_ - (count - 1));
  if (drop_front > 0) {
    std::rotate(buffers_.begin(), buffers_.begin() + drop_front, buffers_.begin() + record_count_ + 1);
    record_count_ -= drop_front;
    active_record_ -= drop_front;
    current_record_ = current_record_ >= drop_front ? current_record_ - drop_front : -1;
    bof_ = false;
    ShiftLinks(-drop_front);
  }
  if (record_count_ > count) {
    record_count_ = count;
    eof_ = false;
    if (current_record_ >= record_count_) current_record_ = -1;
  }
  // buffers_[record_count_ .. ] are free now; keep count + 1 of them in all.
  while (static_cast<int>(buffers_.size()) > count + 1) {
    char* b = buffers_.back();
    buffers_.pop_back();
    FreeRecordBuffer(b);
  }
  buffer_count_ = count;
  ShiftLinks(0);
}

void TDataSet::ShiftLinks(int shift) {
  for (TDataSource* ds : data_sources_)
    for (TDataLink* link : ds->links_) {
      link->first_record_ += shift;
      if (link->active_) link->ClampWindow();
    }
}

void TDataSet::ClearBuffers() {
  record_count_ = 0;
  active_record_ = 0;
  current_record_ = -1;
  bof_ = true;
  eof_ = true;
}

void TDataSet::ActivateBuffers() {
  record_count_ = 1;
  active_record_ = 0;
  current_record_ = 0;
  bof_ = false;
  eof_ = false;
}

char* TDataSet::ActiveBuffer() const {
  if (buffers_.empty()) return nullptr;
  return buffers_[static_cast<std::size_t>(active_record_)];
}

void TDataSet::SetCurrentRecord(int index) {
  if (current_record_ == index) return;
  char* b = buffers_[static_cast<std::size_t>(index)];
  switch (GetBookmarkFlag(b)) {
    case TBookmarkFlag::bfCurrent:
    case TBookmarkFlag::bfInserted: InternalSetToRecord(b); break;
    case TBookmarkFlag::bfBOF: InternalFirst(); break;
    case TBookmarkFlag::bfEOF: InternalLast(); break;
  }
  current_record_ = index;
}

void TDataSet::UpdateCursorPos() {
  if (record_count_ > 0) SetCurrentRecord(active_record_);
}

bool TDataSet::GetNextRecord() {
  if (record_count_ > 0) SetCurrentRecord(record_count_ - 1);
  char* b = buffers_[static_cast<std::size_t>(record_count_)];
  bool ok;
  try {
    ok = GetRecord(b, TGetMode::gmNext, true) == TGetResult::grOK;
  } catch (...) {
    CursorPosChanged();  // the cursor may have moved anywhere
    throw;
  }
  if (ok) {
    if (record_count_ == 0) {
      ActivateBuffers();
    } else if (record_count_ < buffer_count_) {
      ++record_count_;
    } else {
      // Full: the first row leaves, the spare becomes the last row.
      std::rotate(buffers_.begin(), buffers_.begin() + 1, buffers_.begin() + record_count_ + 1);
      --shift_;
    }
    current_record_ = record_count_ - 1;
  } else {
    CursorPosChanged();
  }
  return ok;
}

bool TDataSet::GetPriorRecord() {
  if (record_count_ > 0) SetCurrentRecord(0);
  char* b = buffers_[static_cast<std::size_t>(record_count_)];
  bool ok;
  try {
    ok = GetRecord(b, TGetMode::gmPrior, true) == TGetResult::grOK;
  } catch (...) {
    CursorPosChanged();  // the cursor may have moved anywhere
    throw;
  }
  if (ok) {
    if (record_count_ == 0) {
      ActivateBuffers();
    } else {
      // The new row goes first; when full the last row drops into the spare.
      std::rotate(buffers_.begin(), buffers_.begin() + record_count_, buffers_.begin() + record_count_ + 1);
      ++shift_;
      if (record_count_ < buffer_count_) ++record_count_;
      if (active_record_ < record_count_ - 1) ++active_record_;
    }
    current_record_ = 0;
  } else {
    CursorPosChanged();
  }
  return ok;
}

void TDataSet::GetNextRecords() {
  while (record_count_ < buffer_count_ && GetNextRecord()) {
  }
}

void TDataSet::GetPriorRecords() {
  while (record_count_ < buffer_count_ && GetPriorRecord()) {
  }
}

void TDataSet::Resync(bool exact, bool center) {
  char* b = buffers_[static_cast<std::size_t>(record_count_)];
  CursorPosChanged();
  if (exact) {
    if (GetRecord(b, TGetMode::gmCurrent, false) != TGetResult::grOK)
      DatabaseError(db_msg::kRecordNotFound, this);
  } else if (GetRecord(b, TGetMode::gmCurrent, false) != TGetResult::grOK &&
             GetRecord(b, TGetMode::gmNext, false) != TGetResult::grOK &&
             GetRecord(b, TGetMode::gmPrior, false) != TGetResult::grOK) {
    ClearBuffers();
    DataEvent(TDataEvent::deDataSetChange);
    return;
  }
  int count = center ? (buffer_count_ - 1) / 2 : std::min(active_record_, buffer_count_ - 1);
  std::rotate(buffers_.begin(), buffers_.begin() + record_count_, buffers_.begin() + record_count_ + 1);
  ActivateBuffers();
  try {
    while (count > 0 && GetPriorRecord()) --count;
    GetNextRecords();
    GetPriorRecords();
  } catch (...) {
    DataEvent(TDataEvent::deDataSetChange);
    throw;
  }
  DataEvent(TDataEvent::deDataSetChange);
}

// ---------------------------------------------------------------------------
// Navigation

void TDataSet::First() {
  CheckBrowseMode();
  DoBeforeScroll();
  ClearBuffers();
  try {
    InternalFirst();
    GetNextRecords();
  } catch (...) {
    bof_ = true;
    DataEvent(TDataEvent::deDataSetChange);
    throw;
  }
  bof_ = true;
  DataEvent(TDataEvent::deDataSetChange);
  DoAfterScroll();
}

void TDataSet::Last() {
  CheckBrowseMode();
  DoBeforeScroll();
  ClearBuffers();
  try {
    InternalLast();
    GetPriorRecords();
  } catch (...) {
    eof_ = true;
    DataEvent(TDataEvent::deDataSetChange);
    throw;
  }
  eof_ = true;
  DataEvent(TDataEvent::deDataSetChange);
  DoAfterScroll();
}

int TDataSet::MoveBy(int distance) {
  CheckBrowseMode();
  int result = 0;
  if ((distance > 0 && !eof_) || (distance < 0 && !bof_)) {
    DoBeforeScroll();
    bof_ = false;
    eof_ = false;
    shift_ = 0;
    try {
      while (distance > 0) {
        if (active_record_ < record_count_ - 1) {
          ++active_record_;
        } else if (GetNextRecord()) {
          active_record_ = record_count_ - 1;
        } else {
          eof_ = true;
          break;
        }
        --distance;
        ++result;
      }
      while (distance < 0) {
        if (active_record_ > 0) {
          --active_record_;
        } else if (GetPriorRecord()) {
          active_record_ = 0;
        } else {
          bof_ = true;
          break;
        }
        ++distance;
        --result;
      }
    } catch (...) {
      DataEvent(TDataEvent::deDataSetChange);
      throw;
    }
    DataEvent(TDataEvent::deDataSetScroll, shift_);
    DoAfterScroll();
  }
  return result;
}

TBookmark TDataSet::GetBookmark() const {
  if ((state_ == TDataSetState::dsBrowse || IsEditState(state_)) && record_count_ > 0 &&
      GetBookmarkFlag(ActiveBuffer()) == TBookmarkFlag::bfCurrent) {
    TBookmark b(static_cast<std::size_t>(bookmark_size_), '\0');
    GetBookmarkData(ActiveBuffer(), b.data());
    return b;
  }
  return TBookmark();
}

void TDataSet::GotoBookmark(const TBookmark& bookmark) {
  if (bookmark.empty()) return;
  CheckBookmarkSize(bookmark);
  CheckBrowseMode();
  DoBeforeScroll();
  InternalGotoBookmark(bookmark.data());
  Resync(true, true);
  DoAfterScroll();
}

void TDataSet::CheckBookmarkSize(const TBookmark& bookmark) const {
  // The concrete dataset reads bookmark_size_ bytes: a bookmark of another
  // size (another index's keys, another dataset) would be read past its end
  // or as something it is not.
  if (bookmark.size() != static_cast<std::size_t>(bookmark_size_))
    DatabaseErrorFmt(db_msg::kBookmarkSize, {std::to_string(bookmark.size()), std::to_string(bookmark_size_)},
                     this);
}

int TDataSet::CompareBookmarks(const TBookmark& a, const TBookmark& b) {
  if (a.empty() && b.empty()) return 0;
  if (a.empty()) return 1;
  if (b.empty()) return -1;
  int c = a.compare(b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

// ---------------------------------------------------------------------------
// Editing

void TDataSet::CheckOperation(void (TDataSet::*op)(), const TDataSetErrorEvent& on_error) {
  for (;;) {
    try {
      (this->*op)();
      return;
    } catch (EDatabaseError& e) {
      if (!on_error) throw;
      TDataAction action = TDataAction::daFail;
      on_error(*this, e, action);
      if (action == TDataAction::daFail) throw;
      if (action == TDataAction::daAbort) throw EAbort("Operation aborted");
    }
  }
}

void TDataSet::CheckBrowseMode() {
  CheckActive();
  DataEvent(TDataEvent::deCheckBrowseMode);
  switch (state_) {
    case TDataSetState::dsEdit:
    case TDataSetState::dsInsert:
      UpdateRecord();
      if (modified_)
        Post();
      else
        Cancel();
      break;
    case TDataSetState::dsSetKey:
      Post();
      break;
    default:
      break;
  }
}

void TDataSet::UpdateRecord() {
  if (!IsEditState(state_) && state_ != TDataSetState::dsSetKey) DatabaseError(db_msg::kNotEditing, this);
  DataEvent(TDataEvent::deUpdateRecord);
}

void TDataSet::Edit() {
  if (IsEditState(state_)) return;
  if (record_count_ == 0) {
    Insert();
    return;
  }
  CheckBrowseMode();
  CheckCanModify();
  Fire(BeforeEdit);
  UpdateCursorPos();
  CheckOperation(&TDataSet::DoInternalEdit, OnEditError);
  GetCalcFields(ActiveBuffer());
  SetState(TDataSetState::dsEdit);
  DataEvent(TDataEvent::deRecordChange);
  Fire(AfterEdit);
}

void TDataSet::BeginInsertAppend() {
  CheckBrowseMode();
  CheckCanModify();
  Fire(BeforeInsert);
  DoBeforeScroll();
}

void TDataSet::EndInsertAppend() {
  SetState(TDataSetState::dsInsert);
  try {
    DoOnNewRecord();
  } catch (...) {
    UpdateCursorPos();
    FreeFieldBuffers();
    SetState(TDataSetState::dsBrowse);
    Resync(false, false);
    throw;
  }
  modified_ = false;
  DataEvent(TDataEvent::deDataSetChange);
  Fire(AfterInsert);
  DoAfterScroll();
}

void TDataSet::DoOnNewRecord() { Fire(OnNewRecord); }

void TDataSet::InitRecord(char* buffer) {
  InternalInitRecord(buffer);
  ClearCalcFields(buffer);
  SetBookmarkFlag(buffer, TBookmarkFlag::bfInserted);
}

void TDataSet::Insert() {
  BeginInsertAppend();
  TBookmark old = GetBookmark();
  // The free buffer moves in at the active row; when full, the last row
  // drops out.
  std::rotate(buffers_.begin() + active_record_, buffers_.begin() + record_count_,
              buffers_.begin() + record_count_ + 1);
  char* b = buffers_[static_cast<std::size_t>(active_record_)];
  InitRecord(b);
  if (record_count_ == 0)
    SetBookmarkFlag(b, TBookmarkFlag::bfBOF);
  else if (!old.empty())
    SetBookmarkData(b, old.data());
  if (record_count_ < buffer_count_) ++record_count_;
  CursorPosChanged();
  InternalInsert();
  EndInsertAppend();
}

void TDataSet::Append() {
  BeginInsertAppend();
  ClearBuffers();
  char* b = buffers_[0];
  InitRecord(b);
  SetBookmarkFlag(b, TBookmarkFlag::bfEOF);
  record_count_ = 1;
  bof_ = false;
  GetPriorRecords();
  InternalInsert();
  EndInsertAppend();
}

void TDataSet::CheckRequiredFields() {
  // An auto-increment field is filled by the table when the record is
  // stored, so its being empty here is no error.
  for (TField* f : fields_) {
    if (f->Required() && !f->ReadOnly() && f->FieldKind() == TFieldKind::fkData &&
        f->DataType() != TFieldType::ftAutoInc && f->IsNull()) {
      f->FocusControl();
      DatabaseErrorFmt(db_msg::kFieldRequired, {f->DisplayName()}, this);
    }
  }
}

void TDataSet::DoInternalPost() {
  CheckRequiredFields();
  UpdateCursorPos();
  InternalPost();
}

void TDataSet::FreeFieldBuffers() {
  for (TField* f : fields_) {
    auto* blob = dynamic_cast<TBlobField*>(f);
    if (blob != nullptr && blob->Modified()) {
      CloseBlob(blob);
      blob->SetModified(false);
    }
  }
}

void TDataSet::Post() {
  UpdateRecord();
  if (!IsEditState(state_)) return;
  DataEvent(TDataEvent::deCheckBrowseMode);
  Fire(BeforePost);
  CheckOperation(&TDataSet::DoInternalPost, OnPostError);
  FreeFieldBuffers();
  SetState(TDataSetState::dsBrowse);
  Resync(false, false);
  Fire(AfterPost);
}

void TDataSet::Cancel() {
  if (!IsEditState(state_)) return;
  DataEvent(TDataEvent::deCheckBrowseMode);
  Fire(BeforeCancel);
  UpdateCursorPos();
  if (state_ == TDataSetState::dsEdit) InternalCancel();
  FreeFieldBuffers();
  SetState(TDataSetState::dsBrowse);
  Resync(false, false);
  Fire(AfterCancel);
}

void TDataSet::Delete() {
  CheckActive();
  if (state_ == TDataSetState::dsInsert || state_ == TDataSetState::dsSetKey) {
    Cancel();
    return;
  }
  if (record_count_ == 0) DatabaseError(db_msg::kDataSetEmpty, this);
  DataEvent(TDataEvent::deCheckBrowseMode);
  Fire(BeforeDelete);
  DoBeforeScroll();
  UpdateCursorPos();
  CheckOperation(&TDataSet::DoInternalDelete, OnDeleteError);
  FreeFieldBuffers();
  SetState(TDataSetState::dsBrowse);
  Resync(false, false);
  Fire(AfterDelete);
  DoAfterScroll();
}

void TDataSet::Refresh() {
  CheckBrowseMode();
  UpdateCursorPos();
  InternalRefresh();
  Resync(false, false);
}

void TDataSet::SetFields(const std::vector<Variant>& values) {
  if (!IsEditState(state_) && state_ != TDataSetState::dsSetKey) DatabaseError(db_msg::kNotEditing, this);
  std::size_t n = std::min(values.size(), fields_.size());
  for (std::size_t i = 0; i < n; ++i) fields_[i]->SetAsVariant(values[i]);
}

void TDataSet::InsertRecord(const std::vector<Variant>& values) {
  Insert();
  SetFields(values);
  Post();
}

void TDataSet::AppendRecord(const std::vector<Variant>& values) {
  Append();
  SetFields(values);
  Post();
}

void TDataSet::ClearFields() {
  if (!IsEditState(state_)) DatabaseError(db_msg::kNotEditing, this);
  DataEvent(TDataEvent::deCheckBrowseMode);
  InternalInitRecord(ActiveBuffer());
  GetCalcFields(ActiveBuffer());
  DataEvent(TDataEvent::deRecordChange);
}

void TDataSet::GetCalcFields(char* buffer) {
  if (calc_field_count_ == 0 || buffer == nullptr) return;
  TDataSetState old = SetTempState(TDataSetState::dsCalcFields);
  calc_buffer_ = buffer;
  try {
    ClearCalcFields(buffer);
    Fire(OnCalcFields);
  } catch (...) {
    RestoreState(old);
    throw;
  }
  RestoreState(old);
}

// ---------------------------------------------------------------------------
// Fields

void TDataSet::AddField(TField* field) {
  fields_.push_back(field);
  field->dataset_ = this;
}

void TDataSet::RemoveField(TField* field) {
  auto it = std::find(fields_.begin(), fields_.end(), field);
  if (it != fields_.end()) fields_.erase(it);
  field->dataset_ = nullptr;
}

TField* TDataSet::Fields(int index) const {
  if (index < 0 || index >= FieldCount()) DatabaseError(db_msg::kFieldIndexError, this);
  return fields_[static_cast<std::size_t>(index)];
}

TField* TDataSet::FindField(const std::string& name) const {
  for (TField* f : fields_)
    if (AnsiSameText(f->FieldName(), name)) return f;
  return nullptr;
}

TField* TDataSet::FieldByName(const std::string& name) const {
  TField* f = FindField(name);
  if (f == nullptr) DatabaseErrorFmt(db_msg::kFieldNotFound, {name}, this);
  return f;
}

TField* TDataSet::FieldByNumber(int field_no) const {
  for (TField* f : fields_)
    if (f->FieldNo() == field_no) return f;
  return nullptr;
}

std::vector<TField*> TDataSet::GetFieldList(const std::string& names) const {
  std::vector<TField*> out;
  std::size_t pos = 0;
  while (pos <= names.size()) {
    std::size_t semi = names.find(';', pos);
    if (semi == std::string::npos) semi = names.size();
    std::string name = Trim(std::string_view(names).substr(pos, semi - pos));
    if (!name.empty()) out.push_back(FieldByName(name));
    pos = semi + 1;
  }
  return out;
}

void TDataSet::CreateFields() {
  for (int i = 0; i < field_defs_.Count(); ++i) {
    TFieldDef* def = field_defs_.Items(i);
    if (def->DataType() != TFieldType::ftUnknown && FindField(def->Name()) == nullptr)
      def->CreateField(this);
  }
}

void TDataSet::DestroyFields() {
  while (!fields_.empty()) delete fields_.back();
}

void TDataSet::BindFields(bool binding) {
  calc_fields_size_ = 0;
  calc_field_count_ = 0;
  for (TField* f : fields_) {
    if (!binding) {
      f->field_no_ = 0;
      f->offset_ = 0;
      continue;
    }
    int def = f->FieldKind() == TFieldKind::fkData || f->FieldKind() == TFieldKind::fkInternalCalc
                  ? field_defs_.IndexOf(f->FieldName())
                  : -1;
    if (def >= 0) {
      f->field_no_ = field_defs_.Items(def)->FieldNo();
    } else if (f->FieldKind() == TFieldKind::fkData) {
      DatabaseErrorFmt(db_msg::kFieldNotFound, {f->DisplayName()}, this);
    } else {
      // Calculated values live after the record: a has-value byte, then
      // the value.
      f->field_no_ = -1;
      f->offset_ = calc_fields_size_;
      calc_fields_size_ += 1 + f->DataSize();
      ++calc_field_count_;
    }
  }
}

// ---------------------------------------------------------------------------
// Filters and searches: stored here, applied by the concrete dataset.

void TDataSet::SetFiltered(bool value) {
  if (Active()) CheckBrowseMode();
  filtered_ = value;
}

void TDataSet::SetFilterText(const std::string& text) {
  if (Active()) CheckBrowseMode();
  filter_text_ = text;
}

void TDataSet::SetFilterOptions(TFilterOptions options) {
  if (Active()) CheckBrowseMode();
  filter_options_ = options;
}

void TDataSet::SetOnFilterRecord(TFilterRecordEvent handler) {
  on_filter_record_ = std::move(handler);
}

bool TDataSet::Locate(const std::string&, const std::vector<Variant>&, TLocateOptions) {
  return false;
}

Variant TDataSet::Lookup(const std::string&, const std::vector<Variant>&, const std::string&) {
  return Variant();
}

std::unique_ptr<TStream> TDataSet::CreateBlobStream(TField*, TBlobStreamMode) { return nullptr; }

bool TDataSet::BCDToCurr(const void* bcd, fw::Currency& value) const {
  std::memcpy(&value.value, bcd, 8);
  return true;
}

bool TDataSet::CurrToBCD(fw::Currency value, void* bcd, int precision, int decimals) const {
  (void)precision;
  std::int64_t v = value.value;
  if (decimals >= 0 && decimals < 4) {
    std::int64_t scale = 1;
    for (int i = decimals; i < 4; ++i) scale *= 10;
    std::int64_t q = v / scale, r = v % scale;
    if (2 * (r < 0 ? -r : r) >= scale) q += v < 0 ? -1 : 1;  // half away from zero
    v = q * scale;
  }
  std::memcpy(bcd, &v, 8);
  return true;
}

// ---------------------------------------------------------------------------
// Data events and controls

void TDataSet::DataEvent(TDataEvent event, std::intptr_t info) {
  switch (event) {
    case TDataEvent::deFieldChange: {
      auto* field = reinterpret_cast<TField*>(info);
      if (field == nullptr) break;
      if (field->FieldKind() == TFieldKind::fkData || field->FieldKind() == TFieldKind::fkInternalCalc)
        modified_ = true;
      if (state_ != TDataSetState::dsSetKey) {
        if (field->FieldKind() == TFieldKind::fkData && auto_calc_fields_)
          GetCalcFields(ActiveBuffer());
        field->Change();
      }
      break;
    }
    case TDataEvent::dePropertyChange:
      field_defs_.SetUpdated(false);
      break;
    default:
      break;
  }
  if (disable_count_ == 0) {
    SendDataEvent(event, info);
  } else if ((event == TDataEvent::deUpdateState && state_ == TDataSetState::dsInactive) ||
             event == TDataEvent::deLayoutChange) {
    pending_layout_ = true;
  }
}

void TDataSet::SendDataEvent(TDataEvent event, std::intptr_t info) {
  std::vector<TDataSource*> sources = data_sources_;
  for (TDataSource* ds : sources)
    if (std::find(data_sources_.begin(), data_sources_.end(), ds) != data_sources_.end())
      ds->DataEvent(event, info);
}

void TDataSet::DisableControls() {
  if (disable_count_ == 0) {
    disable_state_ = state_;
    pending_layout_ = false;
  }
  ++disable_count_;
}

void TDataSet::EnableControls() {
  if (disable_count_ == 0) return;
  if (--disable_count_ != 0) return;
  if (disable_state_ != state_) SendDataEvent(TDataEvent::deUpdateState, 0);
  if (disable_state_ != TDataSetState::dsInactive && state_ != TDataSetState::dsInactive)
    SendDataEvent(pending_layout_ ? TDataEvent::deLayoutChange : TDataEvent::deDataSetChange, 0);
}

bool TDataSet::IsLinkedTo(const TDataSource* data_source) const {
  // Bounded: a cycle that slipped in elsewhere must not hang us.
  for (int guard = 0; data_source != nullptr && guard < 1000; ++guard) {
    TDataSet* ds = data_source->DataSet();
    if (ds == nullptr) break;
    if (ds == this) return true;
    data_source = ds->GetDataSource();
  }
  return false;
}

void TDataSet::AddDataSource(TDataSource* ds) {
  data_sources_.push_back(ds);
  UpdateBufferCount();
}

void TDataSet::RemoveDataSource(TDataSource* ds) {
  auto it = std::find(data_sources_.begin(), data_sources_.end(), ds);
  if (it != data_sources_.end()) data_sources_.erase(it);
  if (!Destroying()) UpdateBufferCount();
}

}  // namespace fw
