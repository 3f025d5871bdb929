// TDBDateEdit: a date field with a calendar drop-down. An empty (null)
// field shows blank, and its calendar opens at the current month; clearing
// the text (Delete) makes it null again.
#pragma once

#include "framework/dbctrls/db_field_control.h"
#include "framework/sysutils.h"

class QDateEdit;

namespace fw {

class TDBDateEdit : public TFieldControl {
 public:
  explicit TDBDateEdit(TComponent* owner);
  // The date shown; false when blank.
  bool Date(TDateTime& value) const;
  // As the user's choice does; a negative value blanks it.
  void SetDate(TDateTime value);
  void SetReadOnly(bool v) override;

 protected:
  void DataChange() override;
  void UpdateData() override;
  bool WidgetEvent(QEvent* event) override;

 private:
  QDateEdit* Edit() const;
  void UserChanged();
};

}  // namespace fw
