#include "dataset/tolmid_master_data_link.h"

#include <algorithm>

#include "framework/db/dataset.h"

namespace dataset {

void TTolmidMasterDataLink::SetFieldNames(const std::string& names) {
  if (names == field_names_) return;
  field_names_ = names;
  ActiveChanged();
}

void TTolmidMasterDataLink::ActiveChanged() {
  fields_.clear();
  if (Active()) {
    try {
      fields_ = DataSet()->GetFieldList(field_names_);
    } catch (...) {
      fields_.clear();
      throw;
    }
  }
  if (!detail_->Active() || detail_->Destroying()) return;
  if (Active() && !fields_.empty()) {
    if (OnMasterChange) OnMasterChange();
  } else if (OnMasterDisable) {
    OnMasterDisable();
  }
}

void TTolmidMasterDataLink::CheckBrowseMode() {
  if (detail_->Active()) detail_->CheckBrowseMode();
}

void TTolmidMasterDataLink::RecordChanged(fw::TField* field) {
  if (DataSource() == nullptr || DataSource()->State() == fw::TDataSetState::dsSetKey) return;
  if (!detail_->Active() || fields_.empty()) return;
  if (field == nullptr || std::find(fields_.begin(), fields_.end(), field) != fields_.end())
    if (OnMasterChange) OnMasterChange();
}

}  // namespace dataset
