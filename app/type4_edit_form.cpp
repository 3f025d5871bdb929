#include "app/type4_edit_form.h"

#include "app/data_module.h"
#include "framework/forms/shell.h"

namespace app {

TType4EditForm::TType4EditForm(fw::TComponent* owner)
    : TRecordEditForm(owner, "Type4EditForm", "Edit Internet Link", "Enter/Edit Internet Link Information", 480,
                      420) {
  fw::TDataSource* source = Datamodule1->Type4Source;
  FieldLabel("LinkNameLabel", "Link Name", 8, 8);
  LinkNameTE = Bound<fw::TDBEdit>("LinkNameTE", source, "LinkName", 8, 24, 440, 21);
  FieldLabel("URLLabel", "Link URL", 8, 50);
  URLEdit = Bound<fw::TDBEdit>("URLEdit", source, "URL", 8, 66, 440, 21);
  URLEdit->SetForeignChars(fw::TForeignChars::kPercentEncode);
  // A link name or URL cut short would open or name another page.
  RefuseOverLong(*LinkNameTE, "The link name", "a link");
  RefuseOverLong(*URLEdit, "The URL", "a link");
  FieldLabel("CategoryLabel", "Category", 8, 92);
  CategoryLookup = Bound<fw::TDBLookupComboBox>("CategoryLookup", source, "Category", 8, 108, 260, 21);
  CategoryLookup->SetListSource(Datamodule1->Type1Source);
  CategoryLookup->SetKeyField("JournalName");
  CategoryLookup->SetListField("JournalName");
  FieldLabel("DetailsLabel", "Link Description:", 8, 134);
  DetailsMemo = Bound<fw::TDBMemo>("DetailsMemo", source, "Details", 8, 150, 260, 120);
  DBPic = Bound<fw::TDBImage>("DBPic", source, "pic", 288, 92, 160, 130);
  DBPic->SetStretch(true);
  ConnectBut = Button("ConnectBut", "Browse", 8, 282);
  CopyBut = Button("CopyBut", "Copy", 288, 230);
  CutBut = Button("CutBut", "Cut", 288, 258);
  PasteBut = Button("PasteBut", "Paste", 373, 230);

  using S = fw::TComponent*;
  OnActivate = [this](S s) { FormActivate(s); };
  OnClose = [this](S s, fw::TCloseAction& a) { FormClose(s, a); };
  ConnectBut->OnClick = [this](S s) { ConnectButClick(s); };
  CopyBut->OnClick = [this](S s) { CopyButClick(s); };
  CutBut->OnClick = [this](S s) { CutButClick(s); };
  PasteBut->OnClick = [this](S s) { PasteButClick(s); };
}

void TType4EditForm::FormActivate(fw::TComponent*) { LinkNameTE->SetFocus(); }
void TType4EditForm::FormClose(fw::TComponent*, fw::TCloseAction&) {}
void TType4EditForm::ConnectButClick(fw::TComponent*) { ConnectBrowse("main"); }
void TType4EditForm::CopyButClick(fw::TComponent*) { DBPic->CopyToClipboard(); }
void TType4EditForm::CutButClick(fw::TComponent*) { DBPic->CutToClipboard(); }
void TType4EditForm::PasteButClick(fw::TComponent*) { DBPic->PasteFromClipboard(); }

void TType4EditForm::ConnectBrowse(const std::string& which) {
  std::string url;
  if (which == "main") url = Datamodule1->Type4Table->FieldByName("url")->AsString();
  // A failed open is the desktop's business; nothing is reported.
  fw::ShellExecuteA(Handle(), "open", url.c_str(), "", "", fw::SW_SHOWNORMAL);
}

}  // namespace app
