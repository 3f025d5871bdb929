// TType3EditForm: the editor of photos, on the current record of
// Type3Table. Its grid browses the same table, so choosing another row
// moves the record being edited. The picture shows in the picture panel
// Panel4, which fills the holder PicHolder and then shrinks to the fitted
// picture (app/picture_display.h); the holder grows with the window. A
// picture that cannot be loaded hides the panel.
//
// Closing the editor posts a pending edit of Type3Table, so Cancel keeps
// what was typed.
#pragma once

#include "app/record_edit_form.h"
#include "framework/dbctrls/db_combo_box.h"
#include "framework/dbctrls/db_date_edit.h"
#include "framework/dbctrls/db_edit.h"
#include "framework/dbctrls/db_grid.h"
#include "framework/forms/image.h"
#include "framework/forms/memo.h"

namespace app {

class TType3EditForm : public TRecordEditForm {
 public:
  explicit TType3EditForm(fw::TComponent* owner);

  fw::TDBGrid* ExpenseGrid;               // ResourceName, "Quick-Browse Photos"
  fw::TDBEdit* AffNameTE;                 // ResourceName
  fw::TDBDateEdit* PhotoDateEdit;         // PhotoDate
  fw::TDBEdit* PhotoURLEdit;              // PhotoURL
  fw::TDBEdit* FileEdit;                  // Filename
  fw::TDBLookupComboBox* CategoryLookup;  // Category, a JournalName of Type1Table
  fw::TDBMemo* DetailsMemo;               // Details
  fw::TPanel* PicHolder;
  fw::TPanel* Panel4;
  fw::TBevel* PicBevel;
  fw::TImage* Image1;
  fw::TButton* DeleteBut;
  fw::TButton* PrintBut;
  fw::TButton* BrowseBut;
  fw::TButton* PicBut;           // hidden
  fw::TLabel* DirectoryLabel;    // hidden: the home directory
  fw::TMemo* Memo1;              // hidden scratch list

  void FormActivate(fw::TComponent* sender);
  void FormResize(fw::TComponent* sender);
  void FormClose(fw::TComponent* sender, fw::TCloseAction& action);
  void PicButClick(fw::TComponent* sender);
  void ExpenseGridCellClick(fw::TComponent* sender);
  void ExpenseGridKeyUp(fw::TComponent* sender, int& key, unsigned shift);
  void DeleteButClick(fw::TComponent* sender);
  void PrintButClick(fw::TComponent* sender);
  void BrowseButClick(fw::TComponent* sender);

  // Shows the current photo's picture fitted into the holder.
  void UpdateImage();
};

}  // namespace app
