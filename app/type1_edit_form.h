// TType1EditForm: the editor of category entries, on the current record of
// Type1Table.
#pragma once

#include "app/record_edit_form.h"
#include "framework/dbctrls/db_edit.h"

namespace app {

class TType1EditForm : public TRecordEditForm {
 public:
  explicit TType1EditForm(fw::TComponent* owner);

  fw::TDBEdit* AffNameTE;    // JournalName
  fw::TDBMemo* DetailsMemo;  // Details

  void FormActivate(fw::TComponent* sender);
  void FormClose(fw::TComponent* sender, fw::TCloseAction& action);
};

}  // namespace app
