#include "app/type1_edit_form.h"

#include "app/catalogue_schema.h"
#include "app/data_module.h"

namespace app {

TType1EditForm::TType1EditForm(fw::TComponent* owner)
    : TRecordEditForm(owner, "Type1EditForm", "Edit Category Entry", "Enter/Edit Category Entry", 440, 330) {
  fw::TDataSource* source = Datamodule1->Type1Source;
  FieldLabel("AffNameLabel", "Category", 8, 8);
  AffNameTE = Bound<fw::TDBEdit>("AffNameTE", source, "JournalName", 8, 24, 400, 21);
  // The name is what links, photos and captured URLs store as their
  // category.
  AffNameTE->SetMaxLength(kCategorySize);
  FieldLabel("DetailsLabel", "Category Description", 8, 54);
  DetailsMemo = Bound<fw::TDBMemo>("DetailsMemo", source, "Details", 8, 70, 400, 130);

  OnActivate = [this](fw::TComponent* s) { FormActivate(s); };
  OnClose = [this](fw::TComponent* s, fw::TCloseAction& a) { FormClose(s, a); };
}

void TType1EditForm::FormActivate(fw::TComponent*) { AffNameTE->SetFocus(); }

void TType1EditForm::FormClose(fw::TComponent*, fw::TCloseAction&) {}

}  // namespace app
