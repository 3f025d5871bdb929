// TTolmidDataSet: key buffers and ranges, filters, Locate and Lookup.
#include <algorithm>
#include <cstring>

#include "dataset/tolmid_dataset.h"
#include "framework/sysutils.h"
#include "storage/data_file.h"
#include "storage/engine_error.h"
#include "storage/index_format.h"

namespace dataset {

using fw::TDataSetState;
using fw::TFieldType;

namespace {

constexpr std::size_t kKeyHeader = 8;

bool IsStringField(const fw::TField* f) {
  return f->DataType() == TFieldType::ftString || f->DataType() == TFieldType::ftFixedChar ||
         f->DataType() == TFieldType::ftWideString;
}

std::uint32_t KeyFieldCountOf(const std::vector<std::byte>& kb) {
  std::uint32_t n;
  std::memcpy(&n, kb.data() + 4, 4);
  return n;
}

void SetKeyFieldCountOf(std::vector<std::byte>& kb, std::uint32_t n) {
  std::memcpy(kb.data() + 4, &n, 4);
}

bool KeyModified(const std::vector<std::byte>& kb) { return kb[0] != std::byte{0}; }

// A Locate or Lookup value as the filter compiler takes it.
TExprData ExprValue(const fw::Variant& v) {
  switch (v.GetKind()) {
    case fw::Variant::Kind::Null: return std::monostate{};
    case fw::Variant::Kind::Boolean: return std::int64_t{v.AsBoolean() ? 1 : 0};
    case fw::Variant::Kind::Integer: return v.AsInteger();
    case fw::Variant::Kind::Float: {
      // Enough digits to read back the same double.
      char text[40];
      std::snprintf(text, sizeof text, "%.17g", v.AsFloat());
      return std::string(text);
    }
    default: return v.AsString();
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Key buffers

void TTolmidDataSet::AllocKeyBuffers() {
  key_buffers_.assign(6, std::vector<std::byte>(kKeyHeader + record_size_));
  for (auto& kb : key_buffers_) InitKeyBuffer(kb);
  current_key_ = nullptr;
}

void TTolmidDataSet::InitKeyBuffer(std::vector<std::byte>& kb) const {
  std::fill(kb.begin(), kb.end(), std::byte{0});
  cursor_->ApplyDefaultValues({kb.data() + kKeyHeader, record_size_});
}

void TTolmidDataSet::SetKeyBuffer(KeyIndex index, bool clear) {
  CheckBrowseMode();
  current_key_ = &Key(index);
  Key(kSavedKey) = *current_key_;
  if (clear) InitKeyBuffer(*current_key_);
  SetState(TDataSetState::dsSetKey);
  SetModified(KeyModified(*current_key_));
  DataEvent(fw::TDataEvent::deDataSetChange);
}

int TTolmidDataSet::KeyFieldCount() const {
  if (current_key_ == nullptr) return 0;
  return static_cast<int>(KeyFieldCountOf(*current_key_));
}

void TTolmidDataSet::SetKeyFieldCount(int count) {
  if (current_key_ == nullptr || State() != TDataSetState::dsSetKey)
    fw::DatabaseError(fw::db_msg::kNotEditing, this);
  SetKeyFieldCountOf(*current_key_, static_cast<std::uint32_t>(std::clamp(count, 0, index_field_count_)));
}

bool TTolmidDataSet::GotoCurrentKey(bool nearest) {
  CheckBrowseMode();
  DoBeforeScroll();
  CursorPosChanged();
  std::vector<std::byte>& kb = Key(kLookupKey);
  const bool found = cursor_->GotoKey(false, kb.data() + kKeyHeader,
                                      static_cast<int>(KeyFieldCountOf(kb)), nearest, 0, {});
  if (found)
    Resync(true, true);
  else if (nearest)
    Resync(false, true);
  if (found || nearest) DoAfterScroll();
  return found;
}

// ---------------------------------------------------------------------------
// Ranges

bool TTolmidDataSet::RangeActive() const {
  return !key_buffers_.empty() &&
         (KeyModified(key_buffers_[kCurRangeStart]) || KeyModified(key_buffers_[kCurRangeEnd]));
}

void TTolmidDataSet::SetLinkRanges(const std::vector<fw::TField*>& master_fields) {
  const TDataSetState old = SetTempState(TDataSetState::dsSetKey);
  try {
    std::vector<std::byte>& start = Key(kRangeStart);
    InitKeyBuffer(start);
    current_key_ = &start;
    start[0] = std::byte{1};
    // A master field beyond the index's fields raises "Field index out of
    // range": a range on fewer fields would let rows through that match
    // only some of the link.
    const int n = static_cast<int>(master_fields.size());
    for (int i = 0; i < n; ++i) GetIndexField(i)->Assign(master_fields[static_cast<std::size_t>(i)]);
    SetKeyFieldCountOf(start, static_cast<std::uint32_t>(n));
  } catch (...) {
    RestoreState(old);
    throw;
  }
  RestoreState(old);
  Key(kRangeEnd) = Key(kRangeStart);
}

bool TTolmidDataSet::SetCursorRange() { return SetCursorRange(Key(kRangeStart), Key(kRangeEnd)); }

bool TTolmidDataSet::SetCursorRange(const std::vector<std::byte>& start,
                                    const std::vector<std::byte>& end) {
  if (start == Key(kCurRangeStart) && end == Key(kCurRangeEnd)) return false;
  if (cursor_->InNaturalOrder()) return false;  // ranges need an index
  const std::size_t ks = std::max<std::size_t>(key_size_, 1);
  std::vector<std::uint8_t> low(storage::kKeyBufferSize, 0), high(storage::kKeyBufferSize, 0);
  const bool descending =
      cursor_->GetIndexDescriptor(cursor_->CurrentIndexNumber()).Descending != 0;
  // An end that was not given reaches to that end of the index.
  std::fill(low.begin(), low.begin() + static_cast<std::ptrdiff_t>(ks), descending ? 0xFF : 0x00);
  std::fill(high.begin(), high.begin() + static_cast<std::ptrdiff_t>(ks), descending ? 0x00 : 0xFF);
  int low_count = 0, high_count = 0;
  if (KeyModified(start)) {
    cursor_->BuildIndexKey({start.data() + kKeyHeader, record_size_}, low.data());
    low_count = static_cast<int>(KeyFieldCountOf(start));
  }
  if (KeyModified(end)) {
    cursor_->BuildIndexKey({end.data() + kKeyHeader, record_size_}, high.data());
    high_count = static_cast<int>(KeyFieldCountOf(end));
  }
  cursor_->SetKeyRange(true, low.data(), low_count, high.data(), high_count);
  Key(kCurRangeStart) = start;
  Key(kCurRangeEnd) = end;
  DestroyLookupCursor();
  return true;
}

bool TTolmidDataSet::ResetCursorRange() {
  if (!RangeActive()) return false;
  cursor_->ClearKeyRange();
  InitKeyBuffer(Key(kCurRangeStart));
  InitKeyBuffer(Key(kCurRangeEnd));
  DestroyLookupCursor();
  return true;
}

// ---------------------------------------------------------------------------
// Filters

std::int32_t TTolmidDataSet::MakeExpressionFilter(const std::string& text,
                                                  fw::TFilterOptions options) {
  TExprParser parser(*this, text, options);
  std::int32_t handle = 0;
  const auto& data = parser.FilterData();
  storage::CheckEngineResult(static_cast<std::int32_t>(cursor_->AddFilter(data, false, handle)));
  return handle;
}

std::int32_t TTolmidDataSet::MakeCallbackFilter() {
  std::int32_t handle = 0;
  storage::CheckEngineResult(
      static_cast<std::int32_t>(cursor_->AddCallbackFilter(&RecordFilterRoutine, this, handle)));
  return handle;
}

bool TTolmidDataSet::RecordFilterRoutine(void* client_data, std::span<const std::byte> record,
                                         std::uint32_t record_number) {
  (void)record_number;
  auto* self = static_cast<TTolmidDataSet*>(client_data);
  // The handler reads (and may even set) fields of its own copy.
  self->filter_scratch_.assign(self->record_size_, 0);
  std::memcpy(self->filter_scratch_.data(), record.data(),
              std::min(record.size(), self->record_size_));
  char* saved_buffer = self->filter_buffer_;
  const TDataSetState old = self->SetTempState(TDataSetState::dsFilter);
  self->filter_buffer_ = self->filter_scratch_.data();
  bool accept = true;
  try {
    if (self->OnFilterRecord()) self->OnFilterRecord()(*self, accept);
  } catch (...) {
    self->filter_buffer_ = saved_buffer;
    self->RestoreState(old);
    throw;
  }
  self->filter_buffer_ = saved_buffer;
  self->RestoreState(old);
  return accept;
}

void TTolmidDataSet::ActivateFilters() {
  auto activate = [&](std::int32_t& handle, bool callback) {
    if (handle == 0) return;
    if (cursor_->ActivateFilter(handle) == storage::ErrorCode::kNone) return;
    // The engine no longer knows the handle: make the filter anew.
    (void)cursor_->DropFilter(handle);
    handle = 0;
    if (callback) {
      if (OnFilterRecord()) handle = MakeCallbackFilter();
    } else if (!Filter().empty()) {
      handle = MakeExpressionFilter(Filter(), FilterOptions());
    }
    if (handle != 0)
      storage::CheckEngineResult(static_cast<std::int32_t>(cursor_->ActivateFilter(handle)));
  };
  activate(expr_filter_, false);
  activate(func_filter_, true);
}

void TTolmidDataSet::DeactivateFilters() {
  if (func_filter_ != 0)
    storage::CheckEngineResult(static_cast<std::int32_t>(cursor_->DeactivateFilter(func_filter_)));
  if (expr_filter_ != 0)
    storage::CheckEngineResult(static_cast<std::int32_t>(cursor_->DeactivateFilter(expr_filter_)));
}

void TTolmidDataSet::DropFilterQuietly(std::int32_t& handle) noexcept {
  if (handle == 0 || cursor_ == nullptr) {
    handle = 0;
    return;
  }
  try {
    (void)cursor_->DropFilter(handle);
  } catch (...) {
    // The cursor is going away; a filter it cannot drop goes with it.
  }
  handle = 0;
}

void TTolmidDataSet::ReplaceFilter(std::int32_t& handle, std::int32_t new_handle) {
  if (Filtered()) {
    CursorPosChanged();
    DestroyLookupCursor();
    if (handle != 0) (void)cursor_->DropFilter(handle);
    handle = new_handle;
    if (handle != 0)
      storage::CheckEngineResult(static_cast<std::int32_t>(cursor_->ActivateFilter(handle)));
  } else {
    if (handle != 0) (void)cursor_->DropFilter(handle);
    handle = new_handle;
  }
}

void TTolmidDataSet::ApplyFilterChange(const std::string& text, fw::TFilterOptions options) {
  if (Active()) {
    CheckBrowseMode();
    if (text != Filter() || !(options == FilterOptions())) {
      // The new filter is compiled before the old one goes: bad text leaves
      // the dataset as it was.
      const std::int32_t h = text.empty() ? 0 : MakeExpressionFilter(text, options);
      ReplaceFilter(expr_filter_, h);
    }
  }
  fw::TDataSet::SetFilterText(text);
  fw::TDataSet::SetFilterOptions(options);
  if (Active() && Filtered()) First();
}

void TTolmidDataSet::SetFilterText(const std::string& text) { ApplyFilterChange(text, FilterOptions()); }

void TTolmidDataSet::SetFilterOptions(fw::TFilterOptions options) {
  ApplyFilterChange(Filter(), options);
}

void TTolmidDataSet::SetFiltered(bool value) {
  if (!Active()) {
    fw::TDataSet::SetFiltered(value);
    return;
  }
  CheckBrowseMode();
  if (value != Filtered()) {
    DestroyLookupCursor();
    CursorPosChanged();
    if (value)
      ActivateFilters();
    else
      DeactivateFilters();
    fw::TDataSet::SetFiltered(value);
  }
  First();
}

void TTolmidDataSet::SetOnFilterRecord(TFilterRecordEvent handler) {
  if (!Active()) {
    fw::TDataSet::SetOnFilterRecord(std::move(handler));
    return;
  }
  CheckBrowseMode();
  const bool changes = static_cast<bool>(handler) != static_cast<bool>(OnFilterRecord());
  fw::TDataSet::SetOnFilterRecord(std::move(handler));
  if (changes) ReplaceFilter(func_filter_, OnFilterRecord() ? MakeCallbackFilter() : 0);
  if (Filtered()) First();
}

// ---------------------------------------------------------------------------
// Locate and Lookup

bool TTolmidDataSet::IndexFitsSearch(const std::vector<fw::TField*>& fields,
                                     bool case_insensitive) const {
  if (fields.empty() || static_cast<int>(fields.size()) > index_field_count_) return false;
  bool strings = false;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (index_field_map_[i] == 0 || fields[i]->FieldNo() != index_field_map_[i]) return false;
    strings = strings || IsStringField(fields[i]);
  }
  // A case-sensitive search on a case-insensitive index would find a value
  // that differs in case only; the other way round would miss some.
  return !strings || case_insensitive == case_insensitive_index_;
}

bool TTolmidDataSet::LocateRecord(const std::string& key_fields,
                                  const std::vector<fw::Variant>& key_values,
                                  fw::TLocateOptions options, bool position_own) {
  CheckBrowseMode();
  CursorPosChanged();
  const std::vector<fw::TField*> fields = GetFieldList(key_fields);
  if (fields.empty() || key_values.size() < fields.size())
    fw::DatabaseErrorFmt(fw::db_msg::kFieldNotFound, {key_fields}, this);
  const bool ci = options.Has(fw::TLocateOption::loCaseInsensitive);
  const bool partial = options.Has(fw::TLocateOption::loPartialKey);

  storage::TDataFile* index_cursor = nullptr;
  if (IndexFitsSearch(fields, ci))
    index_cursor = cursor_;
  else
    index_cursor = GetLookupCursor(key_fields, ci);
  return index_cursor == nullptr
             ? LocateByFilter(fields, key_values, ci, partial)
             : LocateByIndex(index_cursor, fields, key_values, ci, partial, position_own);
}

bool TTolmidDataSet::LocateByFilter(const std::vector<fw::TField*>& fields,
                                    const std::vector<fw::Variant>& key_values, bool ci,
                                    bool partial) {
  char* temp = TempBuffer();
  {
    TFilterExpr expr(*this, ci ? fw::TFilterOptions{fw::TFilterOption::foCaseInsensitive,
                                                    fw::TFilterOption::foNoPartialCompare}
                               : fw::TFilterOptions{fw::TFilterOption::foNoPartialCompare});
    TExprNode* root = nullptr;
    for (std::size_t i = 0; i < fields.size(); ++i) {
      TExprNode* node = expr.NewCompareNode(fields[i]->FieldName(), TExprOperator::toEQ,
                                            ExprValue(key_values[i]));
      if (partial && i + 1 == fields.size()) node->FPartial = true;
      root = root == nullptr ? node
                             : expr.NewNode(TExprNodeKind::enOperator, TExprOperator::toAND, {},
                                            root, node);
    }
    const std::vector<std::byte> data = expr.GetFilterData(root);
    std::int32_t handle = 0;
    storage::CheckEngineResult(static_cast<std::int32_t>(cursor_->AddFilter(data, false, handle)));
    bool found = false;
    try {
      storage::CheckEngineResult(static_cast<std::int32_t>(cursor_->ActivateFilter(handle)));
      storage::CheckEngineResult(cursor_->MoveToBegin());
      found = cursor_->ReadNextRecord(EngineRecord(temp)) == 0;
    } catch (...) {
      (void)cursor_->DropFilter(handle);
      throw;
    }
    storage::CheckEngineResult(static_cast<std::int32_t>(cursor_->DropFilter(handle)));
    return found;
  }
}

bool TTolmidDataSet::LocateByIndex(storage::TDataFile* index_cursor,
                                   const std::vector<fw::TField*>& fields,
                                   const std::vector<fw::Variant>& key_values, bool ci,
                                   bool partial, bool position_own) {
  char* temp = TempBuffer();
  // The key fields' values in a blank record.
  int field_count = static_cast<int>(fields.size());
  std::uint8_t partial_length = 0;
  const TDataSetState old = SetTempState(TDataSetState::dsFilter);
  char* saved = filter_buffer_;
  filter_buffer_ = temp;
  try {
    cursor_->ApplyDefaultValues(EngineRecord(temp));
    for (std::size_t i = 0; i < fields.size(); ++i) fields[i]->SetAsVariant(key_values[i]);
    // An empty partial value is compared whole, as the filter path does.
    if (partial && IsStringField(fields.back()) && !key_values.back().AsString().empty()) {
      --field_count;
      partial_length = static_cast<std::uint8_t>(
          std::min<std::size_t>(key_values.back().AsString().size(), 255));
    }
  } catch (...) {
    filter_buffer_ = saved;
    RestoreState(old);
    throw;
  }
  filter_buffer_ = saved;
  RestoreState(old);
  const bool found = index_cursor->GotoKey(false, temp, field_count, false, partial_length,
                                           EngineRecord(temp));
  if (found && index_cursor != cursor_ && position_own &&
      cursor_->SyncToCursor(*index_cursor) != 0) {
    // The record is not in this cursor's view after all.
    return LocateByFilter(fields, key_values, ci, partial);
  }
  return found;
}

bool TTolmidDataSet::Locate(const std::string& key_fields,
                            const std::vector<fw::Variant>& key_values,
                            fw::TLocateOptions options) {
  CheckBrowseMode();
  DoBeforeScroll();
  const bool found = LocateRecord(key_fields, key_values, options, true);
  SetFound(found);
  if (found) {
    Resync(true, true);
    DoAfterScroll();
  }
  return found;
}

fw::Variant TTolmidDataSet::Lookup(const std::string& key_fields,
                                   const std::vector<fw::Variant>& key_values,
                                   const std::string& result_fields) {
  if (!LocateRecord(key_fields, key_values, {}, false)) return fw::Variant();
  char* temp = TempBuffer();
  const std::vector<fw::TField*> fields = GetFieldList(result_fields);
  GetCalcFields(temp);
  const TDataSetState old = SetTempState(TDataSetState::dsCalcFields);
  char* saved_calc = CalcBuffer();
  SetCalcBuffer(temp);
  std::vector<fw::Variant> values;
  try {
    for (fw::TField* f : fields) values.push_back(f->AsVariant());
  } catch (...) {
    SetCalcBuffer(saved_calc);
    RestoreState(old);
    throw;
  }
  SetCalcBuffer(saved_calc);
  RestoreState(old);
  if (values.size() == 1) return values.front();
  return fw::Variant::Array(std::move(values));
}

}  // namespace dataset
