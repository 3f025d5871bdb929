// TType4EditForm: the editor of internet links, on the current record of
// Type4Table, with the link's picture (a graphic field) and the clipboard.
#pragma once

#include <string>

#include "app/record_edit_form.h"
#include "framework/dbctrls/db_combo_box.h"
#include "framework/dbctrls/db_edit.h"
#include "framework/dbctrls/db_image.h"

namespace app {

class TType4EditForm : public TRecordEditForm {
 public:
  explicit TType4EditForm(fw::TComponent* owner);

  fw::TDBEdit* LinkNameTE;                // LinkName
  fw::TDBEdit* URLEdit;                   // URL
  fw::TDBLookupComboBox* CategoryLookup;  // Category, a JournalName of Type1Table
  fw::TDBMemo* DetailsMemo;               // Details
  fw::TDBImage* DBPic;                    // pic, stretched
  fw::TButton* ConnectBut;                // "Browse"
  fw::TButton* CopyBut;
  fw::TButton* CutBut;
  fw::TButton* PasteBut;

  void FormActivate(fw::TComponent* sender);
  void FormClose(fw::TComponent* sender, fw::TCloseAction& action);
  void ConnectButClick(fw::TComponent* sender);
  void CopyButClick(fw::TComponent* sender);
  void CutButClick(fw::TComponent* sender);
  void PasteButClick(fw::TComponent* sender);
  // Opens the record's URL for which "main"; any other which opens an
  // empty URL.
  void ConnectBrowse(const std::string& which);
};

}  // namespace app
