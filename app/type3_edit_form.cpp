#include "app/type3_edit_form.h"

#include "app/data_module.h"
#include "app/photo_print.h"
#include "app/photo_records.h"
#include "app/picture_display.h"
#include "framework/forms/dialogs.h"
#include "framework/forms/shell.h"

namespace app {

TType3EditForm::TType3EditForm(fw::TComponent* owner)
    : TRecordEditForm(owner, "Type3EditForm", "Edit Photo Information", "Enter/Edit Photo and Information", 800,
                      500) {
  fw::TDataSource* source = Datamodule1->Type3Source;
  ExpenseGrid = Make<fw::TDBGrid>("ExpenseGrid", this);
  ExpenseGrid->SetWidth(372);
  ExpenseGrid->SetAlign(fw::TAlign::alLeft);
  ExpenseGrid->SetOptions(fw::dgTitles | fw::dgIndicator | fw::dgColumnResize | fw::dgColLines | fw::dgRowLines |
                          fw::dgTabs | fw::dgRowSelect | fw::dgAlwaysShowSelection | fw::dgConfirmDelete |
                          fw::dgCancelOnExit);
  ExpenseGrid->SetDataSource(source);
  ExpenseGrid->AddColumn("ResourceName", "Quick-Browse Photos", 350);

  // The scroll box takes what the grid leaves, about 426 x 399 inside;
  // everything shows without scrolling.
  FieldLabel("AffNameLabel", "Photo Name", 8, 8);
  AffNameTE = Bound<fw::TDBEdit>("AffNameTE", source, "ResourceName", 8, 24, 396, 21);
  FieldLabel("PhotoDateLabel", "Date", 8, 50);
  PhotoDateEdit = Bound<fw::TDBDateEdit>("PhotoDateEdit", source, "PhotoDate", 8, 66, 120, 21);
  FieldLabel("CategoryLabel", "Category", 140, 50);
  CategoryLookup = Bound<fw::TDBLookupComboBox>("CategoryLookup", source, "Category", 140, 66, 264, 21);
  CategoryLookup->SetListSource(Datamodule1->Type1Source);
  CategoryLookup->SetKeyField("JournalName");
  CategoryLookup->SetListField("JournalName");
  FieldLabel("PhotoURLLabel", "Photo URL", 8, 92);
  PhotoURLEdit = Bound<fw::TDBEdit>("PhotoURLEdit", source, "PhotoURL", 8, 108, 396, 21);
  PhotoURLEdit->SetForeignChars(fw::TForeignChars::kPercentEncode);
  FieldLabel("FileLabel", "File", 8, 134);
  FileEdit = Bound<fw::TDBEdit>("FileEdit", source, "Filename", 8, 150, 396, 21);
  FieldLabel("DetailsLabel", "Photo Description:", 8, 176);
  DetailsMemo = Bound<fw::TDBMemo>("DetailsMemo", source, "Details", 8, 192, 180, 150);

  PicHolder = Make<fw::TPanel>("PicHolder", EditScrollBox);
  PicHolder->SetBounds(196, 176, 208, 166);
  PicHolder->SetBevelOuter(fw::TPanelBevel::bvNone);
  PicHolder->SetAnchors(fw::akLeft | fw::akTop | fw::akRight | fw::akBottom);
  Panel4 = Make<fw::TPanel>("Panel4", PicHolder);
  Panel4->SetBounds(0, 0, 208, 166);
  Panel4->SetBevelOuter(fw::TPanelBevel::bvNone);
  PicBevel = Make<fw::TBevel>("PicBevel", Panel4);
  PicBevel->SetBounds(4, 4, 200, 158);
  Image1 = Make<fw::TImage>("Image1", Panel4);
  Image1->SetBounds(9, 9, 190, 148);
  Image1->SetVisible(false);

  DeleteBut = Button("DeleteBut", "Delete", 8, 352);
  PrintBut = Button("PrintBut", "Print", 88, 352);
  BrowseBut = Button("BrowseBut", "Browse", 168, 352);
  for (fw::TButton* b : {DeleteBut, PrintBut, BrowseBut}) b->SetAnchors(fw::akLeft | fw::akBottom);
  PicBut = Button("PicBut", "PicBut", 329, 352);
  PicBut->SetVisible(false);
  DirectoryLabel = Make<fw::TLabel>("DirectoryLabel", ButtonPanel);
  DirectoryLabel->SetBounds(100, 12, DirectoryLabel->Width(), DirectoryLabel->Height());
  DirectoryLabel->SetVisible(false);
  Memo1 = Make<fw::TMemo>("Memo1", ButtonPanel);
  Memo1->SetBounds(200, 4, 100, 30);
  Memo1->SetVisible(false);

  using S = fw::TComponent*;
  OnActivate = [this](S s) { FormActivate(s); };
  OnResize = [this](S s) { FormResize(s); };
  OnClose = [this](S s, fw::TCloseAction& a) { FormClose(s, a); };
  PicBut->OnClick = [this](S s) { PicButClick(s); };
  ExpenseGrid->OnCellClick = [this](S s) { ExpenseGridCellClick(s); };
  ExpenseGrid->OnKeyUp = [this](S s, int& key, unsigned shift) { ExpenseGridKeyUp(s, key, shift); };
  DeleteBut->OnClick = [this](S s) { DeleteButClick(s); };
  PrintBut->OnClick = [this](S s) { PrintButClick(s); };
  BrowseBut->OnClick = [this](S s) { BrowseButClick(s); };
}

void TType3EditForm::FormActivate(fw::TComponent*) {
  PicBut->Click();
  AffNameTE->SetFocus();
}

void TType3EditForm::FormResize(fw::TComponent*) { PicBut->Click(); }

void TType3EditForm::FormClose(fw::TComponent*, fw::TCloseAction&) {
  dataset::TTolmidTable* photos = Datamodule1->Type3Table;
  if (photos->State() == fw::TDataSetState::dsEdit || photos->State() == fw::TDataSetState::dsInsert) photos->Post();
}

void TType3EditForm::PicButClick(fw::TComponent*) { UpdateImage(); }
void TType3EditForm::ExpenseGridCellClick(fw::TComponent*) { UpdateImage(); }
void TType3EditForm::ExpenseGridKeyUp(fw::TComponent*, int&, unsigned) { UpdateImage(); }

void TType3EditForm::DeleteButClick(fw::TComponent*) {
  if (fw::MessageDlg("Delete This Photo?", fw::TMsgDlgType::mtConfirmation,
                     {fw::TMsgDlgBtn::mbYes, fw::TMsgDlgBtn::mbNo}) != fw::mrYes)
    return;
  DeleteCurrentPhoto(*Datamodule1->Type3Table);
  UpdateImage();
}

void TType3EditForm::PrintButClick(fw::TComponent*) {
  const fw::TField* number = Datamodule1->Type3Table->FieldByName("type3num");
  PrintPhotoPage(this, number->IsNull() ? std::nullopt : std::optional<int>(number->AsInteger()));
}

void TType3EditForm::BrowseButClick(fw::TComponent*) {
  const std::string url = Datamodule1->Type3Table->FieldByName("photourl")->AsString();
  // A failed open is the desktop's business; nothing is reported.
  fw::ShellExecuteA(Handle(), "open", url.c_str(), "", "", fw::SW_SHOWNORMAL);
}

void TType3EditForm::UpdateImage() {
  dataset::TTolmidTable* photos = Datamodule1->Type3Table;
  const std::string file = photos->FieldByName("filename")->AsString();
  if (file.empty()) {
    // Nothing of the photo before stays on show.
    ClearPicture(*Image1);
    return;
  }
  Panel4->SetAlign(fw::TAlign::alClient);
  PicBevel->SetAlign(fw::TAlign::alClient);
  Panel4->Show();
  try {
    LoadPictureHidden(*Image1, file, photos->FieldByName("Photourl")->AsString());
  } catch (...) {
    // No empty frame stretched over the holder in place of the picture.
    Panel4->SetAlign(fw::TAlign::alNone);
    PicBevel->SetAlign(fw::TAlign::alNone);
    Panel4->Hide();
    throw;
  }
  FitPicture(*Image1, Panel4->Width() - 18, Panel4->Height() - 18);
  FramePicture(*Panel4, *PicBevel, *Image1);
  Image1->Show();
}

}  // namespace app
