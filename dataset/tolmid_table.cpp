#include "dataset/tolmid_table.h"

#include <algorithm>

#include "dataset/component_errors.h"
#include "dataset/field_type_map.h"
#include "dataset/tolmid_session.h"
#include "framework/db/data_link.h"
#include "framework/sysutils.h"
#include "storage/data_file.h"
#include "storage/engine_error.h"
#include "storage/index_format.h"

namespace dataset {

using fw::TDataSetState;

TTolmidTable::TTolmidTable(fw::TComponent* owner)
    : TTolmidDBDataSet(owner), master_link_(this), restructure_defs_(this) {
  index_defs_.SetUpdater([this] { UpdateIndexDefs(); });
  master_link_.OnMasterChange = [this] { MasterChanged(); };
  master_link_.OnMasterDisable = [this] { MasterDisabled(); };
}

TTolmidTable::~TTolmidTable() {
  MarkDestroying();
  try {
    Close();
  } catch (...) {
    // A destructor must not raise; the data file is freed all the same.
  }
  master_link_.SetDataSource(nullptr);
}

// ---------------------------------------------------------------------------
// Properties

void TTolmidTable::SetExclusive(bool v) {
  CheckInactive();
  exclusive_ = v;
}

void TTolmidTable::SetReadOnly(bool v) {
  CheckInactive();
  read_only_ = v;
}

void TTolmidTable::SetInMemory(bool v) {
  CheckInactive();
  in_memory_ = v;
}

void TTolmidTable::SetTableName(std::string_view v) {
  CheckInactive();
  table_name_ = std::string(v);
  DataEvent(fw::TDataEvent::dePropertyChange);
}

void TTolmidTable::SetLockRetryCount(std::uint8_t n) {
  lock_retry_count_ = n;
  if (table_file_) table_file_->SetLockRetryCount(n);
}

void TTolmidTable::SetLockWaitTime(std::uint16_t ms) {
  lock_wait_time_ = ms;
  if (table_file_) table_file_->SetLockWaitTime(ms);
}

void TTolmidTable::SetMasterSource(fw::TDataSource* source) {
  if (source != nullptr && IsLinkedTo(source))
    fw::DatabaseError(fw::db_msg::kCircularDataLink, this);
  master_link_.SetDataSource(source);
}

bool TTolmidTable::GetCanModify() const { return TTolmidDBDataSet::GetCanModify() && !read_only_; }

void TTolmidTable::DataEvent(fw::TDataEvent event, std::intptr_t info) {
  if (event == fw::TDataEvent::dePropertyChange) index_defs_.SetUpdated(false);
  TTolmidDBDataSet::DataEvent(event, info);
}

std::string TTolmidTable::TablePath() const {
  const std::string path = DirectoryPrefix() + table_name_;
  if (path.size() > kMaxTablePath)
    fw::DatabaseError("Table path is longer than 255 characters: " + path, this);
  return path;
}

// ---------------------------------------------------------------------------
// Opening

void TTolmidTable::RunWithSession(const std::function<void()>& op) {
  TTolmidSession* session = Database() != nullptr ? Database()->Session() : nullptr;
  if (session == nullptr) {
    op();
    return;
  }
  SessionLock lock(*session);
  op();
}

std::unique_ptr<storage::TDataFile> TTolmidTable::NewDataFile(bool exclusive) {
  auto f = std::make_unique<storage::TDataFile>(this);
  f->SetFileName(TablePath());
  f->SetInMemory(in_memory_);
  f->SetExclusive(exclusive);
  f->SetLockRetryCount(lock_retry_count_);
  f->SetLockWaitTime(lock_wait_time_);
  TTolmidSession* session = Database() != nullptr ? Database()->Session() : nullptr;
  if (session != nullptr) f->SetPasswordCallback([session] { return session->PasswordRequest(); });
  return f;
}

storage::TDataFile* TTolmidTable::CreateHandle() {
  if (table_name_.empty()) RaiseComponentError(ComponentMessage::kNoTableName);
  index_defs_.SetUpdated(false);
  const std::string index = ResolveIndexName(index_, by_fields_);
  std::unique_ptr<storage::TDataFile> f = NewDataFile(exclusive_);
  f->SetReadOnly(read_only_);
  RunWithSession([&] { f->Open(); });
  f->SetPasswordCallback(nullptr);
  read_only_ = f->ReadOnly();
  f->SwitchToIndexByName(std::string_view(index).substr(0, 255));
  table_file_ = std::move(f);
  return table_file_.get();
}

void TTolmidTable::DestroyHandle() {
  DestroyLookupCursor();
  std::unique_ptr<storage::TDataFile> f = std::move(table_file_);
  if (f) f->Close();
}

void TTolmidTable::PrepareCursor() { ApplyMasterRange(); }

storage::TDataFile& TTolmidTable::DefinitionFile(std::unique_ptr<storage::TDataFile>& temp) {
  if (table_file_) return *table_file_;
  temp = NewDataFile(false);
  RunWithSession([&] { temp->Open(); });
  temp->SetPasswordCallback(nullptr);
  return *temp;
}

void TTolmidTable::InitFieldDefs() {
  DBFlagGuard flag(*this, kFieldDefsFlag);
  if (table_name_.empty()) RaiseComponentError(ComponentMessage::kNoTableName);
  std::unique_ptr<storage::TDataFile> temp;
  InitFieldDefsFrom(DefinitionFile(temp));
}

void TTolmidTable::UpdateIndexDefs() {
  if (index_defs_.Updated()) return;
  DBFlagGuard flag(*this, kIndexDefsFlag);
  UpdateFieldDefs();
  std::unique_ptr<storage::TDataFile> temp;
  storage::TDataFile& f = DefinitionFile(temp);
  index_defs_.Clear();
  const int secondary = f.SecondaryIndexCount();
  for (int n = 0; n <= secondary; ++n) {
    const storage::TIndexDescriptor d = f.GetIndexDescriptor(n);
    fw::TIndexOptions options;
    if (n == 0) options.Include(fw::TIndexOption::ixPrimary);
    if (d.Descending != 0) options.Include(fw::TIndexOption::ixDescending);
    if (d.CaseInsensitive != 0) options.Include(fw::TIndexOption::ixCaseInsensitive);
    if (d.Unique != 0) options.Include(fw::TIndexOption::ixUnique);
    std::string fields;
    for (int i = 0; i < d.FieldCount && i < storage::kMaxKeyFields; ++i) {
      for (int k = 0; k < FieldDefs().Count(); ++k) {
        if (FieldDefs().Items(k)->FieldNo() != d.FieldNumbers[i]) continue;
        if (!fields.empty()) fields += ';';
        fields += FieldDefs().Items(k)->Name();
      }
    }
    index_defs_.Add(d.NameText(), fields, options);
  }
  index_defs_.SetUpdated(true);
}

// ---------------------------------------------------------------------------
// Indexes

std::string TTolmidTable::ResolveIndexName(const std::string& value, bool by_fields) {
  if (value.empty()) return {};
  if (!by_fields) return value;
  UpdateIndexDefs();
  return index_defs_.FindIndexForFields(value)->Name();
}

void TTolmidTable::SetIndex(const std::string& value, bool by_fields) {
  if (Active()) CheckBrowseMode();
  if (value == index_ && by_fields == by_fields_) return;
  if (Active()) {
    SwitchToIndex(ResolveIndexName(value, by_fields));
    ApplyMasterRange();
  }
  index_ = value;
  by_fields_ = by_fields;
  if (Active()) Resync(false, false);
}

void TTolmidTable::DestroyLookupCursor() {
  lookup_cursor_.reset();
  lookup_fields_.clear();
  lookup_made_ = false;
}

storage::TDataFile* TTolmidTable::GetLookupCursor(const std::string& key_fields,
                                                  bool case_insensitive) {
  if (lookup_made_ && fw::SameText(key_fields, lookup_fields_) &&
      case_insensitive == lookup_case_insensitive_)
    return lookup_cursor_.get();
  DestroyLookupCursor();
  UpdateIndexDefs();
  const std::vector<fw::TField*> wanted = GetFieldList(key_fields);
  bool strings = false;
  for (const fw::TField* f : wanted)
    strings = strings || f->DataType() == fw::TFieldType::ftString;
  const fw::TIndexDef* def = nullptr;
  for (int i = 0; i < index_defs_.Count() && def == nullptr; ++i) {
    const fw::TIndexDef* d = index_defs_.Items(i);
    const bool ci = d->Options().Has(fw::TIndexOption::ixCaseInsensitive);
    if (strings && ci != case_insensitive) continue;
    std::vector<std::string> names;
    std::size_t pos = 0;
    const std::string& list = d->Fields();
    while (pos <= list.size() && !list.empty()) {
      std::size_t semi = list.find(';', pos);
      if (semi == std::string::npos) semi = list.size();
      names.push_back(fw::Trim(std::string_view(list).substr(pos, semi - pos)));
      pos = semi + 1;
    }
    if (names.size() < wanted.size()) continue;
    bool fits = true;
    for (std::size_t k = 0; k < wanted.size() && fits; ++k)
      fits = fw::AnsiSameText(names[k], wanted[k]->FieldName());
    if (fits) def = d;
  }
  storage::TDataFile* cursor = Handle();
  // A second cursor cannot share an exclusive table, and would not see the
  // range of this one.
  if (def != nullptr && cursor != nullptr && !cursor->IsRangeActive() && !cursor->Exclusive()) {
    lookup_cursor_ = cursor->CloneCursor();
    lookup_cursor_->SwitchToIndexByName(def->Name());
  }
  lookup_fields_ = key_fields;
  lookup_case_insensitive_ = case_insensitive;
  lookup_made_ = true;
  return lookup_cursor_.get();
}

// ---------------------------------------------------------------------------
// Keys and ranges

bool TTolmidTable::FindKey(const std::vector<fw::Variant>& values) {
  CheckBrowseMode();
  SetKey();
  const int n = std::min<int>(static_cast<int>(values.size()), IndexFieldCount());
  for (int i = 0; i < n; ++i) GetIndexField(i)->SetAsVariant(values[static_cast<std::size_t>(i)]);
  SetKeyFieldCount(n);
  Post();
  return GotoKey();
}

void TTolmidTable::FindNearest(const std::vector<fw::Variant>& values) {
  CheckBrowseMode();
  SetKey();
  const int n = std::min<int>(static_cast<int>(values.size()), IndexFieldCount());
  for (int i = 0; i < n; ++i) GetIndexField(i)->SetAsVariant(values[static_cast<std::size_t>(i)]);
  SetKeyFieldCount(n);
  Post();
  GotoNearest();
}

void TTolmidTable::ApplyRange() {
  CheckBrowseMode();
  if (SetCursorRange()) First();
}

void TTolmidTable::CancelRange() {
  CheckBrowseMode();
  UpdateCursorPos();
  if (ResetCursorRange()) Resync(false, false);
}

void TTolmidTable::SetRange(const std::vector<fw::Variant>& start,
                            const std::vector<fw::Variant>& end) {
  CheckBrowseMode();
  auto fill = [&](const std::vector<fw::Variant>& values) {
    const int n = std::min<int>(static_cast<int>(values.size()), IndexFieldCount());
    for (int i = 0; i < n; ++i) GetIndexField(i)->SetAsVariant(values[static_cast<std::size_t>(i)]);
    SetKeyFieldCount(n);
    Post();
  };
  SetRangeStart();
  fill(start);
  SetRangeEnd();
  fill(end);
  ApplyRange();
}

// ---------------------------------------------------------------------------
// Master/detail

void TTolmidTable::ApplyMasterRange() {
  if (master_link_.Active() && !master_link_.Fields().empty()) {
    SetLinkRanges(master_link_.Fields());
    SetCursorRange();
  }
}

void TTolmidTable::MasterChanged() {
  CheckBrowseMode();
  SetLinkRanges(master_link_.Fields());
  if (SetCursorRange()) First();
}

void TTolmidTable::MasterDisabled() {
  CheckBrowseMode();
  UpdateCursorPos();
  if (ResetCursorRange()) Resync(false, false);
}

void TTolmidTable::DoOnNewRecord() {
  if (master_link_.Active() && !master_link_.Fields().empty()) {
    // As for the range: every master field has its index field.
    const auto& fields = master_link_.Fields();
    for (std::size_t i = 0; i < fields.size(); ++i) GetIndexField(static_cast<int>(i))->Assign(fields[i]);
  }
  TTolmidDBDataSet::DoOnNewRecord();
}

}  // namespace dataset
