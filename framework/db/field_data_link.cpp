#include "framework/db/field_data_link.h"

#include "framework/db/dataset.h"

namespace fw {

void TFieldDataLink::SetFieldName(const std::string& name) {
  if (name == field_name_) return;
  field_name_ = name;
  UpdateField();
}

void TFieldDataLink::UpdateField() {
  // A name the dataset does not have leaves the control without a field
  // rather than raising inside a change notification.
  field_ = Active() && !field_name_.empty() ? DataSet()->FindField(field_name_) : nullptr;
  RecordChanged(nullptr);
}

bool TFieldDataLink::CanModify() const {
  return !ReadOnly() && field_ != nullptr && field_->CanModify();
}

bool TFieldDataLink::Edit() {
  if (CanModify()) TDataLink::Edit();
  return Editing();
}

void TFieldDataLink::ActiveChanged() {
  UpdateField();
  if (OnActiveChange) OnActiveChange();
}

void TFieldDataLink::EditingChanged() {
  if (OnEditingChange) OnEditingChange();
}

void TFieldDataLink::LayoutChanged() { UpdateField(); }

void TFieldDataLink::RecordChanged(TField* field) {
  if (field == nullptr || field == field_) {
    if (OnDataChange) OnDataChange();
    modified_ = false;
  }
}

void TFieldDataLink::UpdateData() {
  if (!modified_) return;
  if (field_ != nullptr && OnUpdateData) OnUpdateData();
  modified_ = false;
}

}  // namespace fw
