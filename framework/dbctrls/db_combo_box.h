// TDBComboBox: a field's text with a list of suggested values (Items).
// TDBLookupComboBox: a field that holds a key of another dataset's records
// (ListSource): the list shows ListField of those records; choosing one
// stores its KeyField value in the field at once.
#pragma once

#include <memory>

#include "framework/dbctrls/dataset_table_model.h"
#include "framework/dbctrls/db_field_control.h"
#include "framework/forms/control_strings.h"

class QComboBox;

namespace fw {

class TDBComboBox : public TFieldControl {
 public:
  explicit TDBComboBox(TComponent* owner);
  ~TDBComboBox() override;
  TControlStrings& Items() { return *items_; }
  std::string Text() const;
  // As a user's choice or typing does.
  void SetText(const std::string& text);

 protected:
  void DataChange() override;
  void UpdateData() override;

 private:
  QComboBox* Combo() const;
  std::unique_ptr<TControlStrings> items_;
};

class TDBLookupComboBox : public TFieldControl {
 public:
  static constexpr int kMaxLookupRows = 10000;
  explicit TDBLookupComboBox(TComponent* owner);
  ~TDBLookupComboBox() override;
  TDataSource* ListSource() const { return list_->DataSource(); }
  void SetListSource(TDataSource* source);
  const std::string& KeyField() const { return key_field_; }
  void SetKeyField(const std::string& name);
  const std::string& ListField() const { return list_field_; }
  void SetListField(const std::string& name);
  // The text shown: the list field of the record whose key the field
  // holds (the key itself when no list record has it).
  std::string Text() const;
  // The list rows (for a view of them and for tests).
  TDataSetTableModel& ListModel() { return *list_; }
  // As choosing row of the list does: stores that row's key in the field.
  void SelectRow(int row);

 protected:
  void DataChange() override;

 private:
  QComboBox* Combo() const;
  void ApplyListColumns();
  int FindKey(const QString& key);
  std::unique_ptr<TDataSetTableModel> list_;
  std::string key_field_;
  std::string list_field_;
};

}  // namespace fw
