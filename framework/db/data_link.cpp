#include "framework/db/data_link.h"

#include <algorithm>

#include "framework/db/dataset.h"

namespace fw {

namespace {

bool IsEditingState(TDataSetState s) {
  return s == TDataSetState::dsEdit || s == TDataSetState::dsInsert || s == TDataSetState::dsSetKey;
}

}  // namespace

// ---------------------------------------------------------------------------
// TDataLink

TDataLink::~TDataLink() {
  if (data_source_ != nullptr) data_source_->RemoveDataLink(this, false);
}

void TDataLink::SetDataSource(TDataSource* data_source) {
  if (data_source == data_source_) return;
  if (data_source_ != nullptr) data_source_->RemoveDataLink(this, true);
  if (data_source != nullptr) data_source->AddDataLink(this);
}

TDataSet* TDataLink::DataSet() const {
  return data_source_ != nullptr ? data_source_->DataSet() : nullptr;
}

void TDataLink::SetReadOnly(bool v) {
  if (read_only_ == v) return;
  read_only_ = v;
  UpdateState();
}

int TDataLink::ActiveRecord() const {
  if (!active_) return 0;
  return DataSet()->active_record_ - first_record_;
}

void TDataLink::SetActiveRecord(int value) {
  if (active_) DataSet()->SetActiveRecordIndex(value + first_record_);
}

void TDataLink::SetBufferCount(int value) {
  if (value < 1) value = 1;
  if (value == buffer_count_) return;
  buffer_count_ = value;
  if (active_) {
    DataSet()->UpdateBufferCount();
    ClampWindow();
  }
}

int TDataLink::RecordCount() const {
  if (!active_) return 0;
  return std::max(0, std::min(DataSet()->record_count_ - first_record_, buffer_count_));
}

bool TDataLink::Edit() {
  if (!read_only_ && data_source_ != nullptr) data_source_->Edit();
  return editing_;
}

void TDataLink::UpdateRecord() {
  updating_ = true;
  try {
    UpdateData();
  } catch (...) {
    updating_ = false;
    throw;
  }
  updating_ = false;
}

void TDataLink::ClampWindow() {
  TDataSet* ds = DataSet();
  if (ds == nullptr) return;
  int max_first = std::max(0, ds->record_count_ - buffer_count_);
  first_record_ = std::clamp(first_record_, 0, max_first);
  int active = ds->active_record_;
  if (active < first_record_) first_record_ = active;
  if (active >= first_record_ + buffer_count_) first_record_ = active - buffer_count_ + 1;
}

void TDataLink::UpdateState() {
  bool active = data_source_ != nullptr && data_source_->State() != TDataSetState::dsInactive;
  if (active != active_) {
    active_ = active;
    first_record_ = 0;
    if (active_) ClampWindow();
    ActiveChanged();
  }
  bool editing = active_ && !read_only_ && IsEditingState(data_source_->State());
  if (editing != editing_) {
    editing_ = editing;
    EditingChanged();
  }
}

void TDataLink::DataEvent(TDataEvent event, std::intptr_t info) {
  if (event == TDataEvent::deUpdateState) {
    UpdateState();
    return;
  }
  if (!active_) return;
  switch (event) {
    case TDataEvent::deFieldChange:
    case TDataEvent::deRecordChange:
      if (!updating_) RecordChanged(reinterpret_cast<TField*>(info));
      break;
    case TDataEvent::deDataSetChange:
      ClampWindow();
      DataSetChanged();
      break;
    case TDataEvent::deLayoutChange:
      ClampWindow();
      LayoutChanged();
      break;
    case TDataEvent::deDataSetScroll: {
      // The buffers moved by info places; the window keeps its records,
      // then follows the active row.
      first_record_ += static_cast<int>(info);
      int kept = first_record_;
      ClampWindow();
      DataSetScrolled(first_record_ - kept);
      break;
    }
    case TDataEvent::deUpdateRecord:
      UpdateRecord();
      break;
    case TDataEvent::deCheckBrowseMode:
      CheckBrowseMode();
      break;
    case TDataEvent::deFocusControl:
      FocusControl(reinterpret_cast<TField*>(info));
      break;
    default:
      break;
  }
}

// ---------------------------------------------------------------------------
// TDataSource

TDataSource::TDataSource(TComponent* owner) : TComponent(owner) {}

TDataSource::~TDataSource() {
  OnStateChange = nullptr;
  OnDataChange = nullptr;
  OnUpdateData = nullptr;
  SetDataSet(nullptr);
  while (!links_.empty()) RemoveDataLink(links_.back(), false);
}

bool TDataSource::IsLinkedTo(const TDataSet* dataset) const {
  for (int guard = 0; dataset != nullptr && guard < 1000; ++guard) {
    TDataSource* ds = dataset->GetDataSource();
    if (ds == nullptr) break;
    if (ds == this) return true;
    dataset = ds->DataSet();
  }
  return false;
}

void TDataSource::SetDataSet(TDataSet* dataset) {
  if (dataset == dataset_) return;
  if (dataset != nullptr && IsLinkedTo(dataset)) DatabaseError(db_msg::kCircularDataLink, this);
  if (dataset_ != nullptr) {
    TDataSet* old = dataset_;
    dataset_ = nullptr;
    old->RemoveDataSource(this);
  }
  dataset_ = dataset;
  if (dataset_ != nullptr) dataset_->AddDataSource(this);
  NotifyState();
}

void TDataSource::SetEnabled(bool v) {
  if (enabled_ == v) return;
  enabled_ = v;
  NotifyState();
}

void TDataSource::Edit() {
  if (auto_edit_ && dataset_ != nullptr && dataset_->State() == TDataSetState::dsBrowse)
    dataset_->Edit();
}

bool TDataSource::HasLink(const TDataLink* link) const {
  return std::find(links_.begin(), links_.end(), link) != links_.end();
}

void TDataSource::AddDataLink(TDataLink* link) {
  links_.push_back(link);
  link->data_source_ = this;
  if (dataset_ != nullptr) dataset_->UpdateBufferCount();
  link->UpdateState();
}

void TDataSource::RemoveDataLink(TDataLink* link, bool notify) {
  auto it = std::find(links_.begin(), links_.end(), link);
  if (it != links_.end()) links_.erase(it);
  link->data_source_ = nullptr;
  if (notify) link->UpdateState();
  if (dataset_ != nullptr && !dataset_->Destroying()) dataset_->UpdateBufferCount();
}

void TDataSource::NotifyState() {
  TDataSetState s = dataset_ != nullptr && enabled_ ? dataset_->State() : TDataSetState::dsInactive;
  if (s == state_) return;
  state_ = s;
  std::vector<TDataLink*> links = links_;
  for (TDataLink* link : links)
    if (HasLink(link)) link->UpdateState();
  if (OnStateChange) OnStateChange(*this);
}

void TDataSource::DataEvent(TDataEvent event, std::intptr_t info) {
  if (event == TDataEvent::deUpdateState) {
    NotifyState();
    return;
  }
  if (state_ == TDataSetState::dsInactive) return;
  std::vector<TDataLink*> links = links_;
  // Detail links first, except for deUpdateRecord (controls store first).
  bool detail_first = event != TDataEvent::deUpdateRecord;
  for (int pass = 0; pass < 2; ++pass) {
    bool want_detail = (pass == 0) == detail_first;
    for (TDataLink* link : links)
      if (link->IsDetailLink() == want_detail && HasLink(link)) link->DataEvent(event, info);
  }
  switch (event) {
    case TDataEvent::deFieldChange:
    case TDataEvent::deRecordChange:
      if (OnDataChange) OnDataChange(*this, reinterpret_cast<TField*>(info));
      break;
    case TDataEvent::deDataSetChange:
    case TDataEvent::deDataSetScroll:
    case TDataEvent::deLayoutChange:
      if (OnDataChange) OnDataChange(*this, nullptr);
      break;
    case TDataEvent::deUpdateRecord:
      if (OnUpdateData) OnUpdateData(*this);
      break;
    default:
      break;
  }
}

}  // namespace fw
