// TFieldControl: the base of the controls that show one field of a data
// source's current record (DataSource + DataField), and TDBText, the
// read-only one.
//
// Editing follows the framework's rule: the user's first change puts the
// dataset into edit state (when the field can be modified; otherwise the
// control shows the field's value again), the control keeps its text as
// modified, and writes it into the field when the dataset asks the
// controls for their values (before a post) or when the control loses the
// focus.
#pragma once

#include <string>

#include "framework/db/field_data_link.h"
#include "framework/forms/control.h"

namespace fw {

class TDataSource;
class TField;

class TFieldControl : public TControl {
 public:
  ~TFieldControl() override;
  TDataSource* DataSource() const { return link_.DataSource(); }
  void SetDataSource(TDataSource* source) { link_.SetDataSource(source); }
  const std::string& DataField() const { return link_.FieldName(); }
  void SetDataField(const std::string& name) { link_.SetFieldName(name); }
  TField* Field() const { return link_.Field(); }
  bool ReadOnly() const { return read_only_; }
  virtual void SetReadOnly(bool v) { read_only_ = v; }

 protected:
  TFieldControl(TComponent* owner, QWidget* widget);
  // Shows the field's value (or nothing without a field).
  virtual void DataChange() = 0;
  // Writes the control's value into the field.
  virtual void UpdateData() {}
  // The user changed the value: puts the dataset into edit state. False
  // when it cannot be edited; the control then shows the field again.
  bool BeginUserChange();
  bool WidgetEvent(QEvent* event) override;
  TFieldDataLink link_;
  // Set while the control shows a value itself, so that its own change
  // signals are not taken for the user's.
  bool showing_ = false;

 private:
  bool read_only_ = false;
};

class TDBText : public TFieldControl {
 public:
  explicit TDBText(TComponent* owner);

 protected:
  void DataChange() override;
};

}  // namespace fw
