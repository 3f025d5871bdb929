#include "dataset/tolmid_dataset.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "dataset/component_errors.h"
#include "dataset/field_type_map.h"
#include "dataset/tolmid_blob_stream.h"
#include "storage/data_file.h"
#include "storage/engine_error.h"
#include "storage/index_format.h"
#include "storage/record_cache.h"
#include "storage/value_text.h"

namespace dataset {

using fw::TDataSetState;
using fw::TFieldType;

namespace {

constexpr std::uint16_t kBeforeFirst = 8705;
constexpr std::uint16_t kAfterLast = 8706;
constexpr std::uint16_t kBadBlobHandle = 10030;
constexpr std::int32_t kRecordNotFound = 8710;
// A stored value is at most 255 bytes (the descriptor's size byte).
constexpr std::size_t kValueScratch = 256;

std::uint32_t LoadU32(const char* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

void StoreU32(char* p, std::uint32_t v) { std::memcpy(p, &v, 4); }

}  // namespace

TTolmidDataSet::TTolmidDataSet(fw::TComponent* owner) : fw::TDataSet(owner) {}

TTolmidDataSet::~TTolmidDataSet() = default;

// ---------------------------------------------------------------------------
// Opening and closing

void TTolmidDataSet::OpenCursor(bool info_query) {
  cursor_ = CreateHandle();
  if (cursor_ == nullptr) RaiseComponentError(ComponentMessage::kHandleError);
  fw::TDataSet::OpenCursor(info_query);
}

void TTolmidDataSet::CloseCursor() {
  fw::TDataSet::CloseCursor();
  DestroyHandle();
  cursor_ = nullptr;
}

void TTolmidDataSet::InternalOpen() {
  record_size_ = cursor_->GetRecordBufferSize();
  SetBookmarkSizeFromCursor();
  can_modify_ = true;
  InternalInitFieldDefs();
  FieldDefs().SetUpdated(true);
  GetIndexInfo();
  if (DefaultFields()) CreateFields();
  BindFields(true);
  info_offset_ = record_size_ + static_cast<std::size_t>(CalcFieldsSize());
  bookmark_offset_ = info_offset_ + kInfoSize;
  buffer_size_ = bookmark_offset_ + kBookmarkRoom;
  AllocKeyBuffers();
  storage::CheckEngineResult(cursor_->MoveToBegin());
  PrepareCursor();
  if (!Filter().empty()) expr_filter_ = MakeExpressionFilter(Filter(), FilterOptions());
  if (OnFilterRecord()) func_filter_ = MakeCallbackFilter();
  if (Filtered()) ActivateFilters();
}

void TTolmidDataSet::InternalClose() {
  // The cursor may outlive this dataset (a live query result belongs to
  // the SQL statement): its filters and record locks go with the dataset.
  try {
    cursor_->UnlockAllRecords();
  } catch (...) {
    // Locks of a handle that is closing go with the handle.
  }
  DropFilterQuietly(func_filter_);
  DropFilterQuietly(expr_filter_);
  DestroyLookupCursor();
  FreeKeyBuffers();
  for (int i = 0; i < FieldCount(); ++i)
    if (auto* blob = dynamic_cast<fw::TBlobField*>(Fields(i))) blob->SetModified(false);
  BindFields(false);
  if (DefaultFields()) DestroyFields();
  SetDefaultFields(false);
  ClearIndexInfo();
  can_modify_ = false;
}

void TTolmidDataSet::InternalInitFieldDefs() { InitFieldDefsFrom(*cursor_); }

void TTolmidDataSet::InitFieldDefsFrom(storage::TDataFile& cursor) {
  fw::TFieldDefs& defs = FieldDefs();
  defs.Clear();
  const int n = cursor.WorkingFieldCount();
  for (int i = 1; i <= n; ++i) {
    const storage::TFieldDescriptor& d = cursor.GetFieldDescriptor(true, i);
    const std::optional<FrameworkFieldType> t = FrameworkType(d);
    if (!t) continue;
    const std::string base(d.Name.View());
    std::string name = base;
    for (int k = 1; defs.IndexOf(name) >= 0; ++k) name = base + "_" + std::to_string(k);
    // Field numbers are positions: every engine field access is by position.
    fw::TFieldDef* def = defs.Add(name, t->type, t->size, d.Required != 0, i);
    if (t->precision != 0) def->SetPrecision(t->precision);
  }
}

// ---------------------------------------------------------------------------
// Record buffers

char* TTolmidDataSet::AllocRecordBuffer() { return new char[buffer_size_](); }

void TTolmidDataSet::FreeRecordBuffer(char*& buffer) {
  delete[] buffer;
  buffer = nullptr;
}

std::uint32_t TTolmidDataSet::InfoRecordNumber(const char* buffer) const {
  return LoadU32(buffer + info_offset_);
}

void TTolmidDataSet::SetInfoRecordNumber(char* buffer, std::uint32_t n) const {
  StoreU32(buffer + info_offset_, n);
}

void TTolmidDataSet::GetBookmarkData(const char* buffer, void* data) const {
  std::memcpy(data, buffer + bookmark_offset_, static_cast<std::size_t>(BookmarkSize()));
}

void TTolmidDataSet::SetBookmarkData(char* buffer, const void* data) {
  std::memcpy(buffer + bookmark_offset_, data, static_cast<std::size_t>(BookmarkSize()));
}

fw::TBookmarkFlag TTolmidDataSet::GetBookmarkFlag(const char* buffer) const {
  const auto v = static_cast<std::uint8_t>(buffer[info_offset_ + 4]);
  return v <= 3 ? static_cast<fw::TBookmarkFlag>(v) : fw::TBookmarkFlag::bfCurrent;
}

void TTolmidDataSet::SetBookmarkFlag(char* buffer, fw::TBookmarkFlag flag) {
  buffer[info_offset_ + 4] = static_cast<char>(flag);
}

void TTolmidDataSet::InitRecord(char* buffer) {
  fw::TDataSet::InitRecord(buffer);
  SetBookmarkFlag(buffer, fw::TBookmarkFlag::bfInserted);
  SetInfoRecordNumber(buffer, kNewRecordNumber);
}

void TTolmidDataSet::InternalInitRecord(char* buffer) {
  cursor_->ApplyDefaultValues(EngineRecord(buffer));
}

void TTolmidDataSet::ClearCalcFields(char* buffer) {
  std::memset(buffer + record_size_, 0, static_cast<std::size_t>(CalcFieldsSize()));
}

char* TTolmidDataSet::StateRecordBuffer() const {
  switch (State()) {
    case TDataSetState::dsBrowse:
      return IsEmpty() ? nullptr : ActiveBuffer();
    case TDataSetState::dsEdit:
    case TDataSetState::dsInsert:
    case TDataSetState::dsNewValue:
    case TDataSetState::dsOldValue:
      return ActiveBuffer();
    case TDataSetState::dsSetKey:
      return current_key_ != nullptr ? reinterpret_cast<char*>(current_key_->data() + 8) : nullptr;
    case TDataSetState::dsCalcFields:
    case TDataSetState::dsInternalCalc:
      return CalcBuffer();
    case TDataSetState::dsFilter:
      return filter_buffer_;
    default:
      return nullptr;
  }
}

fw::TGetResult TTolmidDataSet::GetRecord(char* buffer, fw::TGetMode mode, bool do_check) {
  const std::span<std::byte> rec = EngineRecord(buffer);
  std::uint16_t rc = 0;
  switch (mode) {
    case fw::TGetMode::gmCurrent: rc = cursor_->ReadCurrentRecord(rec, false); break;
    case fw::TGetMode::gmNext: rc = cursor_->ReadNextRecord(rec); break;
    case fw::TGetMode::gmPrior: rc = cursor_->ReadPriorRecord(rec); break;
  }
  if (rc == 0) {
    SetBookmarkFlag(buffer, fw::TBookmarkFlag::bfCurrent);
    SetInfoRecordNumber(buffer, cursor_->GetRecordPosition());
    GetCalcFields(buffer);
    char* bookmark = buffer + bookmark_offset_;
    cursor_->GetBookmark({reinterpret_cast<std::uint8_t*>(bookmark), EngineBookmarkSize()});
    const storage::TRecord* r = cursor_->CurrentRecord();
    StoreU32(bookmark + EngineBookmarkSize(), r != nullptr ? r->RecordNumber() : 0);
    StoreU32(bookmark + EngineBookmarkSize() + 4, r != nullptr ? r->RecordId() : 0);
    return fw::TGetResult::grOK;
  }
  if (rc == kBeforeFirst) return fw::TGetResult::grBOF;
  if (rc == kAfterLast) return fw::TGetResult::grEOF;
  if (do_check) storage::CheckEngineResult(rc);
  return fw::TGetResult::grError;
}

bool TTolmidDataSet::GetCurrentRecord(char* buffer) {
  if (IsEmpty() || GetBookmarkFlag(ActiveBuffer()) != fw::TBookmarkFlag::bfCurrent) return false;
  UpdateCursorPos();
  return cursor_->ReadCurrentRecord(EngineRecord(buffer), false) == 0;
}

// ---------------------------------------------------------------------------
// Navigation and bookmarks

void TTolmidDataSet::InternalFirst() { storage::CheckEngineResult(cursor_->MoveToBegin()); }

void TTolmidDataSet::InternalLast() { storage::CheckEngineResult(cursor_->MoveToEnd()); }

void TTolmidDataSet::SetBookmarkSizeFromCursor() {
  SetBookmarkSize(static_cast<int>(cursor_->GetBookmarkSize() + kRecordTagSize));
}

bool TTolmidDataSet::GotoBookmarkData(const void* bookmark) {
  const auto* b = static_cast<const std::uint8_t*>(bookmark);
  const std::size_t key_size = EngineBookmarkSize();
  const char* tag = reinterpret_cast<const char*>(b + key_size);
  return cursor_->GotoBookmarkedRecord({b, key_size}, LoadU32(tag), LoadU32(tag + 4));
}

void TTolmidDataSet::InternalGotoBookmark(const void* bookmark) { GotoBookmarkData(bookmark); }

void TTolmidDataSet::InternalSetToRecord(char* buffer) {
  InternalGotoBookmark(buffer + bookmark_offset_);
}

bool TTolmidDataSet::BookmarkValid(const fw::TBookmark& bookmark) {
  if (cursor_ == nullptr || bookmark.size() != static_cast<std::size_t>(BookmarkSize()))
    return false;
  CursorPosChanged();
  // The engine goes to the nearest key: the bookmark is valid only when
  // the record found is the record it names.
  return GotoBookmarkData(bookmark.data());
}

int TTolmidDataSet::CompareBookmarks(const fw::TBookmark& a, const fw::TBookmark& b) {
  if (a.empty() && b.empty()) return 0;
  if (a.empty()) return 1;
  if (b.empty()) return -1;
  if (cursor_ == nullptr) return fw::TDataSet::CompareBookmarks(a, b);
  CheckBookmarkSize(a);
  CheckBookmarkSize(b);
  const std::size_t n = EngineBookmarkSize();
  const int c = cursor_->CompareBookmarks({reinterpret_cast<const std::uint8_t*>(a.data()), n},
                                          {reinterpret_cast<const std::uint8_t*>(b.data()), n});
  if (c != 0) return c;
  for (std::size_t at = n; at < n + kRecordTagSize; at += 4) {
    const std::uint32_t x = LoadU32(a.data() + at), y = LoadU32(b.data() + at);
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

int TTolmidDataSet::GetRecordCount() const {
  CheckActive();
  return static_cast<int>(cursor_->RecordCount());
}

bool TTolmidDataSet::IsSequenced() const {
  if (cursor_ == nullptr) return true;
  if (Filtered() && (expr_filter_ != 0 || func_filter_ != 0)) return false;
  // Natural order numbers records by their slots: they are the view's
  // positions only while no slot has been given up.
  if (cursor_->InNaturalOrder()) return cursor_->RecordCount() == cursor_->PhysicalRecordCount();
  return true;
}

int TTolmidDataSet::GetRecNo() const {
  const char* b = State() == TDataSetState::dsCalcFields ? CalcBuffer() : ActiveBuffer();
  if (b == nullptr || (State() == TDataSetState::dsBrowse && IsEmpty())) return -1;
  if (GetBookmarkFlag(b) != fw::TBookmarkFlag::bfCurrent) return -1;
  if (IsSequenced()) {
    const std::uint32_t n = InfoRecordNumber(b);
    return n == kNewRecordNumber || n == 0 ? -1 : static_cast<int>(n);
  }
  return const_cast<TTolmidDataSet*>(this)->CountViewPosition(b);
}

int TTolmidDataSet::CountViewPosition(const char* buffer) {
  // The engine's positions count the index (or the slots); the place in
  // the view that a filter leaves comes from the filter bitmap's rank
  // where the engine keeps one, else from walking the view up to the
  // record.
  const char* tag = buffer + bookmark_offset_ + EngineBookmarkSize();
  const std::uint32_t wanted = LoadU32(tag), wanted_id = LoadU32(tag + 4);
  CursorPosChanged();
  const bool on_record = GotoBookmarkData(buffer + bookmark_offset_);
  if (const std::optional<std::uint32_t> place = cursor_->ViewPlace()) {
    return on_record && *place > 0 ? static_cast<int>(*place) : -1;
  }
  storage::CheckEngineResult(cursor_->MoveToBegin());
  int n = 0;
  int found = -1;
  while (cursor_->ReadNextRecord({}) == 0) {
    ++n;
    const storage::TRecord* r = cursor_->CurrentRecord();
    if (r != nullptr && r->RecordNumber() == wanted && r->RecordId() == wanted_id) {
      found = n;
      break;
    }
  }
  InternalGotoBookmark(buffer + bookmark_offset_);
  return found;
}

void TTolmidDataSet::SetRecNo(int value) {
  CheckBrowseMode();
  if (value == RecNo()) return;
  const bool sequenced = IsSequenced();
  DoBeforeScroll();
  CursorPosChanged();
  const auto n = static_cast<std::uint32_t>(std::max(value, 1));
  if (sequenced) {
    cursor_->SetRecordPosition(n);
  } else if (!cursor_->SetViewPlace(n)) {
    storage::CheckEngineResult(cursor_->MoveToBegin());
    for (std::uint32_t i = 0; i < n; ++i)
      if (cursor_->ReadNextRecord({}) != 0) break;
  }
  Resync(false, true);
  DoAfterScroll();
}

bool TTolmidDataSet::FindRecord(bool restart, bool go_forward) {
  CheckBrowseMode();
  DoBeforeScroll();
  SetFound(false);
  UpdateCursorPos();
  CursorPosChanged();
  const bool search_filters = !Filtered() && (expr_filter_ != 0 || func_filter_ != 0);
  if (search_filters) ActivateFilters();
  std::uint16_t rc;
  try {
    if (go_forward) {
      if (restart) storage::CheckEngineResult(cursor_->MoveToBegin());
      rc = cursor_->ReadNextRecord({});
    } else {
      if (restart) storage::CheckEngineResult(cursor_->MoveToEnd());
      rc = cursor_->ReadPriorRecord({});
    }
  } catch (...) {
    if (search_filters) DeactivateFilters();
    throw;
  }
  if (search_filters) DeactivateFilters();
  if (rc == 0) {
    Resync(true, true);
    SetFound(true);
    DoAfterScroll();
  }
  return Found();
}

// ---------------------------------------------------------------------------
// Editing

void TTolmidDataSet::InternalAddRecord(const char* buffer, bool append) {
  (void)append;
  std::vector<char> copy(buffer, buffer + record_size_);
  cursor_->InsertRecord(EngineRecord(copy.data()));
}

void TTolmidDataSet::InternalDelete() {
  try {
    cursor_->DeleteRecord();
  } catch (const storage::ETolmidEngineError& e) {
    ShowRecordsAfterLoss(e);
    throw;
  }
}

void TTolmidDataSet::InternalEdit() {
  try {
    storage::CheckEngineResult(cursor_->ReadCurrentRecord(EngineRecord(ActiveBuffer()), true));
  } catch (const storage::ETolmidEngineError& e) {
    ShowRecordsAfterLoss(e);
    throw;
  }
}

void TTolmidDataSet::ShowRecordsAfterLoss(const storage::ETolmidEngineError& e) {
  // 8710: another user deleted the record shown (the engine changed
  // nothing). The rows are read again around where the cursor stands, so
  // that the dataset shows records that exist when the error reaches the
  // user; a failure of that read leaves the first error to report.
  if (e.ErrorCode() != kRecordNotFound) return;
  try {
    Resync(false, false);
  } catch (const fw::Exception&) {
  }
}

void TTolmidDataSet::InternalCancel() {
  if (State() == TDataSetState::dsEdit) cursor_->UnlockRecord(0);
}

void TTolmidDataSet::InternalPost() {
  if (State() == TDataSetState::dsEdit)
    cursor_->ModifyRecord(EngineRecord(ActiveBuffer()), true);
  else
    cursor_->InsertRecord(EngineRecord(ActiveBuffer()));
}

void TTolmidDataSet::InternalRefresh() { cursor_->RefreshCurrentRecord(); }

void TTolmidDataSet::CloseBlob(fw::TField* field) {
  char* b = ActiveBuffer();
  if (b == nullptr || field->FieldNo() < 1) return;
  const std::uint16_t rc = cursor_->CloseBlobField(true, field->FieldNo(), EngineRecord(b));
  // A field whose handle is already gone (the buffer was read again) has
  // nothing left to close.
  if (rc != kBadBlobHandle) storage::CheckEngineResult(rc);
}

std::unique_ptr<fw::TStream> TTolmidDataSet::CreateBlobStream(fw::TField* field,
                                                              fw::TBlobStreamMode mode) {
  return std::make_unique<TTolmidBlobStream>(field, mode);
}

void TTolmidDataSet::Post() {
  if (State() != TDataSetState::dsSetKey) {
    fw::TDataSet::Post();
    return;
  }
  UpdateRecord();
  DataEvent(fw::TDataEvent::deCheckBrowseMode);
  if (Modified() && current_key_ != nullptr) (*current_key_)[0] = std::byte{1};
  SetState(TDataSetState::dsBrowse);
  DataEvent(fw::TDataEvent::deDataSetChange);
}

void TTolmidDataSet::Cancel() {
  if (State() != TDataSetState::dsSetKey) {
    fw::TDataSet::Cancel();
    return;
  }
  DataEvent(fw::TDataEvent::deCheckBrowseMode);
  if (current_key_ != nullptr) *current_key_ = Key(kSavedKey);
  SetState(TDataSetState::dsBrowse);
  DataEvent(fw::TDataEvent::deDataSetChange);
}

// ---------------------------------------------------------------------------
// Field values

void TTolmidDataSet::ReadEngineValue(const fw::TField* field, const char* record, void* out,
                                     bool& blank) const {
  std::array<std::uint8_t, kValueScratch> scratch{};
  cursor_->GetFieldValue(true, field->FieldNo(), blank, out != nullptr ? scratch.data() : nullptr,
                         {reinterpret_cast<const std::byte*>(record), record_size_});
  if (out == nullptr) return;
  const auto size = static_cast<std::size_t>(field->DataSize());
  auto* dst = static_cast<std::uint8_t*>(out);
  switch (field->DataType()) {
    case TFieldType::ftString:
    case TFieldType::ftFixedChar:
    case TFieldType::ftWideString: {
      // The engine's value is zero-terminated inside its physical size; the
      // field may be declared shorter than the table's column.
      const std::size_t len = std::min(
          std::strlen(reinterpret_cast<const char*>(scratch.data())), size == 0 ? 0 : size - 1);
      std::memcpy(dst, scratch.data(), len);
      if (size > 0) dst[len] = 0;
      break;
    }
    case TFieldType::ftVarBytes: {
      const std::size_t n = std::min<std::size_t>(size >= 2 ? size - 2 : 0,
                                                  cursor_->GetFieldDescriptor(true, field->FieldNo()).PhysicalSize);
      const auto len = static_cast<std::uint16_t>(n);
      std::memcpy(dst, &len, std::min<std::size_t>(size, 2));
      if (size >= 2) std::memcpy(dst + 2, scratch.data(), n);
      break;
    }
    default:
      std::memcpy(dst, scratch.data(), std::min(size, scratch.size()));
      break;
  }
}

void TTolmidDataSet::WriteEngineValue(const fw::TField* field, char* record, const void* value) {
  const std::span<std::byte> rec = EngineRecord(record);
  if (value == nullptr) {
    cursor_->SetFieldValue(true, field->FieldNo(), false, nullptr, rec);
    return;
  }
  std::array<std::uint8_t, kValueScratch> scratch{};
  const auto size = static_cast<std::size_t>(field->DataSize());
  const auto* src = static_cast<const std::uint8_t*>(value);
  switch (field->DataType()) {
    case TFieldType::ftString:
    case TFieldType::ftFixedChar:
    case TFieldType::ftWideString: {
      const std::size_t len =
          strnlen(reinterpret_cast<const char*>(src), std::min(size, scratch.size() - 1));
      std::memcpy(scratch.data(), src, len);
      break;
    }
    case TFieldType::ftVarBytes: {
      std::uint16_t len = 0;
      if (size >= 2) std::memcpy(&len, src, 2);
      const std::size_t n = std::min<std::size_t>({len, size >= 2 ? size - 2 : 0, scratch.size()});
      std::memcpy(scratch.data(), src + 2, n);
      break;
    }
    default:
      std::memcpy(scratch.data(), src, std::min(size, scratch.size()));
      break;
  }
  cursor_->SetFieldValue(true, field->FieldNo(), false, scratch.data(), rec);
}

bool TTolmidDataSet::GetFieldData(const fw::TField* field, void* buffer) const {
  const char* record = StateRecordBuffer();
  if (record == nullptr || cursor_ == nullptr) return false;
  if (field->FieldNo() < 1) {
    switch (State()) {
      case TDataSetState::dsBrowse:
      case TDataSetState::dsEdit:
      case TDataSetState::dsInsert:
      case TDataSetState::dsCalcFields:
        break;
      default:
        return false;
    }
    const char* p = record + record_size_ + field->Offset();
    if (buffer != nullptr && p[0] != 0)
      std::memcpy(buffer, p + 1, static_cast<std::size_t>(field->DataSize()));
    return p[0] != 0;
  }
  bool blank = true;
  ReadEngineValue(field, record, buffer, blank);
  return !blank;
}

void TTolmidDataSet::SetFieldData(fw::TField* field, const void* buffer) {
  const TDataSetState state = State();
  switch (state) {
    case TDataSetState::dsEdit:
    case TDataSetState::dsInsert:
    case TDataSetState::dsSetKey:
    case TDataSetState::dsCalcFields:
    case TDataSetState::dsFilter:
    case TDataSetState::dsNewValue:
    case TDataSetState::dsInternalCalc:
      break;
    default:
      fw::DatabaseError(fw::db_msg::kNotEditing, this);
  }
  if (state == TDataSetState::dsSetKey &&
      (field->FieldNo() < 0 || (index_field_count_ > 0 && !GetIsIndexField(field))))
    fw::DatabaseErrorFmt(fw::db_msg::kNotIndexField, {field->DisplayName()}, this);
  char* record = StateRecordBuffer();
  if (record == nullptr) fw::DatabaseError(fw::db_msg::kNotEditing, this);
  if (field->FieldNo() < 1) {
    char* p = record + record_size_ + field->Offset();
    p[0] = buffer != nullptr ? 1 : 0;
    const auto n = static_cast<std::size_t>(field->DataSize());
    if (buffer != nullptr)
      std::memcpy(p + 1, buffer, n);
    else
      std::memset(p + 1, 0, n);
  } else {
    if (state == TDataSetState::dsCalcFields) fw::DatabaseError(fw::db_msg::kNotEditing, this);
    if (field->ReadOnly() && state != TDataSetState::dsSetKey && state != TDataSetState::dsFilter)
      fw::DatabaseErrorFmt(fw::db_msg::kFieldReadOnly, {field->DisplayName()}, this);
    field->Validate(buffer);
    if (field->FieldKind() != fw::TFieldKind::fkInternalCalc) WriteEngineValue(field, record, buffer);
  }
  if (state != TDataSetState::dsCalcFields && state != TDataSetState::dsFilter &&
      state != TDataSetState::dsNewValue)
    DataEvent(fw::TDataEvent::deFieldChange, reinterpret_cast<std::intptr_t>(field));
}

bool TTolmidDataSet::BCDToCurr(const void* bcd, fw::Currency& value) const {
  std::memcpy(&value.value, bcd, 8);
  return true;
}

bool TTolmidDataSet::CurrToBCD(fw::Currency value, void* bcd, int precision,
                               int decimals) const {
  (void)precision;
  // Rounded to the field's decimals as the engine rounds, kept as
  // ten-thousandths.
  const std::int64_t c = storage::FormatCurrencyDigits(value.value, std::clamp(decimals, 0, 4));
  std::memcpy(bcd, &c, 8);
  return true;
}

// ---------------------------------------------------------------------------
// The current index

void TTolmidDataSet::ClearIndexInfo() {
  index_field_count_ = 0;
  index_field_map_.fill(0);
  case_insensitive_index_ = false;
  key_size_ = 0;
}

void TTolmidDataSet::GetIndexInfo() {
  ClearIndexInfo();
  if (cursor_ == nullptr || cursor_->InNaturalOrder()) return;
  const storage::TIndexDescriptor d = cursor_->GetIndexDescriptor(cursor_->CurrentIndexNumber());
  const int count = std::min<int>(d.FieldCount, storage::kMaxKeyFields);
  // Index descriptors name stored fields; the dataset sees working fields
  // (the same ones for a table, a live query's result columns otherwise):
  // they are matched by name.
  const int stored = cursor_->FieldCount();
  const int working = cursor_->WorkingFieldCount();
  for (int i = 0; i < count; ++i) {
    const int n = d.FieldNumbers[i];
    std::uint16_t pos = 0;
    if (n >= 1 && n <= stored) {
      const std::string_view name = cursor_->GetFieldDescriptor(false, n).Name.View();
      for (int w = 1; w <= working && pos == 0; ++w)
        if (fw::SameText(std::string(cursor_->GetFieldDescriptor(true, w).Name.View()),
                         std::string(name)))
          pos = static_cast<std::uint16_t>(w);
    }
    index_field_map_[static_cast<std::size_t>(i)] = pos;
  }
  index_field_count_ = count;
  case_insensitive_index_ = d.CaseInsensitive != 0;
  key_size_ = cursor_->CurrentKeySize();
}

bool TTolmidDataSet::GetIsIndexField(const fw::TField* field) const {
  const int n = field->FieldNo();
  if (n < 1) return false;
  for (int i = 0; i < index_field_count_; ++i)
    if (index_field_map_[static_cast<std::size_t>(i)] == n) return true;
  return false;
}

fw::TField* TTolmidDataSet::GetIndexField(int index) const {
  if (index < 0 || index >= index_field_count_) fw::DatabaseError(fw::db_msg::kFieldIndexError, this);
  const int n = index_field_map_[static_cast<std::size_t>(index)];
  fw::TField* f = n > 0 ? FieldByNumber(n) : nullptr;
  if (f == nullptr) {
    std::string name;
    for (int i = 0; i < FieldDefs().Count(); ++i)
      if (FieldDefs().Items(i)->FieldNo() == n) name = FieldDefs().Items(i)->Name();
    fw::DatabaseErrorFmt(fw::db_msg::kIndexFieldMissing, {name}, this);
  }
  return f;
}

void TTolmidDataSet::SwitchToIndex(const std::string& index_name) {
  const std::string old_index = cursor_->GetCurrentIndexName();
  const std::vector<std::byte> range_start = Key(kCurRangeStart);
  const std::vector<std::byte> range_end = Key(kCurRangeEnd);
  ResetCursorRange();
  UpdateCursorPos();
  try {
    cursor_->SwitchToIndexByName(std::string_view(index_name).substr(0, 255));
  } catch (...) {
    // The engine refuses an unknown name once it has fallen back to its
    // primary index (without a range): it goes back to the index, and the
    // range, that this dataset still describes.
    cursor_->SwitchToIndexByName(old_index);
    SetCursorRange(range_start, range_end);
    CursorPosChanged();
    throw;
  }
  ClearIndexInfo();
  SetBookmarkSizeFromCursor();
  GetIndexInfo();
}

std::optional<FilterFieldInfo> TTolmidDataSet::FindFilterField(std::string_view name) const {
  const fw::TField* f = FindField(std::string(name));
  if (f == nullptr) return std::nullopt;
  FilterFieldInfo info;
  info.field_no = static_cast<std::uint16_t>(std::max(f->FieldNo(), 0));
  info.data_type = f->DataType();
  info.size = f->Size();
  info.kind = f->FieldKind();
  return info;
}

}  // namespace dataset
