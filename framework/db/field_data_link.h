// TFieldDataLink: the link a data-aware control keeps to one field of a
// data source. The control shows the field on OnDataChange, marks its own
// edits with SetModified and writes them back on OnUpdateData.
#pragma once

#include <functional>
#include <string>

#include "framework/db/data_link.h"

namespace fw {

class TFieldDataLink : public TDataLink {
 public:
  using TNotify = std::function<void()>;

  TField* Field() const { return field_; }
  const std::string& FieldName() const { return field_name_; }
  void SetFieldName(const std::string& name);
  // The field may be written through this link now.
  bool CanModify() const;
  bool Modified() const { return modified_; }
  // The control's text differs from the field's value.
  void SetModified() { modified_ = true; }
  // Shows the field's value again, dropping the control's change.
  void Reset() { RecordChanged(nullptr); }
  // Puts the dataset into edit state when the field can be modified.
  bool Edit();

  TNotify OnDataChange;
  TNotify OnEditingChange;
  TNotify OnUpdateData;
  TNotify OnActiveChange;

 protected:
  void ActiveChanged() override;
  void EditingChanged() override;
  void LayoutChanged() override;
  void RecordChanged(TField* field) override;
  void UpdateData() override;

 private:
  void UpdateField();
  std::string field_name_;
  TField* field_ = nullptr;
  bool modified_ = false;
};

}  // namespace fw
