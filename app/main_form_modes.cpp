// The main window's modes, browsing, record numbering and record actions.
// Every procedure reads the mode (ModeLabel) and the action under way
// (NextActionLabel) back from the window, as the handlers left them.
#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

#include "app/data_module.h"
#include "app/main_form.h"
#include "app/photo_records.h"
#include "app/type1_edit_form.h"
#include "app/type2_edit_form.h"
#include "app/type3_edit_form.h"
#include "app/type4_edit_form.h"
#include "framework/forms/dialogs.h"

namespace app {

namespace {

struct KindView {
  const char* page;
  const char* title;
};

constexpr KindView kKindViews[] = {
    {"Category", "Browsing All Morvella Category Entries"},
    {"Capture", "Browsing All Morvella Captured Photo Entries"},
    {"Photos", "Browsing All Morvella Photos"},
    {"Internet", "Browsing All Morvella Internet Links"},
};

const KindView& ViewOf(int kind) { return kKindViews[kind - 1]; }

bool Confirmed(const std::string& question) {
  return fw::MessageDlg(question, fw::TMsgDlgType::mtConfirmation, {fw::TMsgDlgBtn::mbYes, fw::TMsgDlgBtn::mbNo}) ==
         fw::mrYes;
}

// The text as a string literal of a filter ('...', quotes doubled).
std::string FilterLiteral(const std::string& text) {
  std::string out = "'";
  for (const char c : text) {
    if (c == '\'') out.push_back('\'');
    out.push_back(c);
  }
  return out + "'";
}

// (outer - inner) / 2 rounded to the nearest integer (halves to even),
// at least 5.
int CentredOffset(int outer, int inner) {
  return std::max(5, static_cast<int>(std::nearbyint((outer - inner) / 2.0)));
}

// Goes back to the record that was current when an editor opened (here).
// The edit may have deleted that record (the photo editor's Delete) or
// taken it out of the table's filter (its category changed): the table then
// stays on the record it is on now, or goes to its first when that one is
// out of view as well. An empty bookmark (a new record) leaves the table
// where it is.
void ReturnTo(dataset::TTolmidTable& t, const fw::TBookmark& here) {
  if (here.empty()) return;
  const fw::TBookmark now = t.GetBookmark();
  if (t.BookmarkValid(here))
    t.GotoBookmark(here);
  else if (!now.empty() && t.BookmarkValid(now))
    t.GotoBookmark(now);
  else
    t.First();
}

}  // namespace

int TMainForm::ModeKind() const {
  const std::string mode = ModeLabel->Caption();
  for (int kind = 1; kind <= 4; ++kind)
    if (mode == "Type" + std::to_string(kind)) return kind;
  return 0;
}

fw::TDBGrid* TMainForm::KindGrid(int kind) const {
  fw::TDBGrid* grids[] = {RecipientGrid, RevenueGrid, ExpenseGrid, InternetGrid};
  return grids[kind - 1];
}

fw::TScrollBox* TMainForm::KindDetailBox(int kind) const {
  fw::TScrollBox* boxes[] = {RecipientScrollBox, RevenueScrollBox, ExpenseScrollBox, InternetScrollBox};
  return boxes[kind - 1];
}

void TMainForm::ListData() {
  const int kind = ModeKind();
  EnableNewButton();
  SaveData();
  if (kind == 0) return;
  EnableWidgets(!Datamodule1->TypeTable(kind)->Eof());
  UpdateTitleBar(ViewOf(kind).title);
  Image1->Hide();
  FunctionPad->SetActivePage(ViewOf(kind).page);
  KindGrid(kind)->Refresh();
  FunctionPad->SetAlign(fw::TAlign::alClient);
  FunctionPad->Show();
  // Last, so that a photo whose picture cannot be read still leaves the
  // page on show for the user to move on or delete it.
  if (kind == 3) Updateimage();
}

void TMainForm::EnableWidgets(bool enable) {
  EnableButtons(enable);
  const int kind = ModeKind();
  if (kind == 0) return;
  KindGrid(kind)->SetEnabled(enable);
  KindDetailBox(kind)->SetVisible(enable);
}

// Numbers of each kind count from 1000 upward; a number is used up even
// when its record is cancelled later.
int TMainForm::GetNextNum() {
  const int kind = ModeKind();
  if (kind == 0) return 0;
  dataset::TTolmidTable* defaults = Datamodule1->DefaultsTable;
  defaults->Open();
  fw::TField* counter = defaults->FieldByName("nextType" + std::to_string(kind) + "Num");
  int value = counter->AsInteger();
  if (value == 0) value = 1000;
  defaults->Edit();
  counter->SetAsInteger(value + 1);
  defaults->Post();
  return value;
}

void TMainForm::NewData() {
  if (NextActionLabel->Caption() != "New") return;
  SaveData();
  const int kind = ModeKind();
  // The capture window makes its own records.
  if (kind == 1 || kind == 3 || kind == 4) {
    dataset::TTolmidTable* t = Datamodule1->TypeTable(kind);
    t->Insert();
    t->FieldByName("Type" + std::to_string(kind) + "Num")->SetAsInteger(GetNextNum());
  }
  if (kind != 0) {
    EnableWidgets(true);
    NextActionLabel->SetCaption("Edit");
    EditData();
    SaveData();
  }
  NextActionLabel->SetCaption("None");
}

std::unique_ptr<fw::TForm> TMainForm::NewEditor(int kind) {
  const bool hints = ShowHintsCB->Checked();
  auto hinted = [this, hints](TRecordEditForm* editor) {
    editor->ButtonPanel->SetShowHint(hints);
    editor->EditScrollBox->SetShowHint(hints);
    editor->ModeLabel->SetCaption(ModeLabel->Caption());
    return std::unique_ptr<fw::TForm>(editor);
  };
  switch (kind) {
    case 1: return hinted(fw::NewForm<TType1EditForm>(this));
    case 2: {
      auto* editor = fw::NewForm<TType2EditForm>(this);
      editor->ModeLabel->SetCaption(ModeLabel->Caption());
      return std::unique_ptr<fw::TForm>(editor);
    }
    case 3: {
      auto* editor = fw::NewForm<TType3EditForm>(this);
      editor->DirectoryLabel->SetCaption(DirectoryLabel->Caption());
      return hinted(editor);
    }
    default: return hinted(fw::NewForm<TType4EditForm>(this));
  }
}

void TMainForm::EditData() {
  if (NextActionLabel->Caption() != "Edit") return;
  const int kind = ModeKind();
  if (kind != 0) {
    dataset::TTolmidTable* t = Datamodule1->TypeTable(kind);
    const fw::TBookmark here = t->GetBookmark();
    {
      // The editor stays until the record is posted or cancelled: a post
      // takes the text its controls hold, also of a control that never
      // had the focus.
      const std::unique_ptr<fw::TForm> editor = NewEditor(kind);
      if (editor->ShowModal() == fw::mrOk)
        SaveData();
      else
        CancelData();
    }
    ReturnTo(*t, here);
  }
  ListData();
  NextActionLabel->SetCaption("None");
}

void TMainForm::DeleteData() {
  TDatamodule1& dm = *Datamodule1;
  const std::string action = NextActionLabel->Caption();
  const int kind = ModeKind();
  if (action == "Delete") {
    SaveData();
    switch (kind) {
      case 1:
        if (Confirmed("Delete This Category Entry?")) dm.Type1Table->Delete();
        EnableWidgets(!dm.Type1Table->Eof());
        break;
      case 2:
        if (Confirmed("Delete This Captured Photo URL?")) {
          dm.Type2Table->Delete();
          EnableWidgets(!dm.Type2Table->Eof());
        }
        break;
      case 3:
        if (Confirmed("Delete This Photo?")) {
          DeleteCurrentPhoto(*dm.Type3Table);
          EnableWidgets(!dm.Type3Table->Eof());
          Updateimage();
        }
        break;
      case 4:
        if (Confirmed("Delete This Internet Link?")) dm.Type4Table->Delete();
        EnableWidgets(!dm.Type4Table->Eof());
        break;
      default:
        break;
    }
    NextActionLabel->SetCaption("None");
  } else if (action == "DeleteAll") {
    if (kind == 2) {
      if (Confirmed("Delete All Captured Photo URLs?"))
        for (dm.Type2Table->First(); !dm.Type2Table->Eof();) dm.Type2Table->Delete();
      EnableWidgets(!dm.Type2Table->Eof());
    } else if (kind == 3) {
      if (Confirmed("Delete All Photos?"))
        for (dm.Type3Table->First(); !dm.Type3Table->Eof();) DeleteCurrentPhoto(*dm.Type3Table);
      EnableWidgets(!dm.Type3Table->Eof());
      Updateimage();
    }
  }
}

// The filter takes the category that is current when the box is clicked;
// moving in the category grid later does not change it.
void TMainForm::UpdateCategoryFilter() {
  TDatamodule1& dm = *Datamodule1;
  const bool on = CategoryFilterCB->Checked();
  const std::string filter = "category=" + FilterLiteral(dm.Type1Table->FieldByName("JournalName")->AsString());
  for (dataset::TTolmidTable* t : {dm.Type2Table, dm.Type3Table, dm.Type4Table}) {
    t->SetFiltered(false);
    if (on) {
      t->SetFilter(filter);
      t->SetFiltered(true);
    }
    t->Close();
    t->Open();
  }
}

// The current photo goes back to the captured URLs: its URL becomes a new
// captured record, the photo and its picture file go. The question comes
// first, so that No leaves both lists as they were.
void TMainForm::ReProcess() {
  TDatamodule1& dm = *Datamodule1;
  SaveData();
  if (dm.Type3Table->IsEmpty() || !Confirmed("Delete This Photo?")) return;
  const std::string url = dm.Type3Table->FieldByName("photourl")->AsString();
  dataset::TTolmidTable* defaults = dm.DefaultsTable;
  defaults->Open();
  // Taken as stored: an empty counter gives 0 here.
  const int n = defaults->FieldByName("nextType2num")->AsInteger();
  defaults->Edit();
  defaults->FieldByName("nextType2num")->SetAsInteger(n + 1);
  defaults->Post();
  defaults->Close();
  dm.Type2Table->Insert();
  dm.Type2Table->FieldByName("type2Num")->SetAsInteger(n);
  dm.Type2Table->FieldByName("activityName")->SetAsString(url);
  dm.Type2Table->Post();
  DeleteCurrentPhoto(*dm.Type3Table);
  EnableWidgets(!dm.Type3Table->Eof());
  Updateimage();
}

// The front picture may arrive later (PlaceFrontImage): the introduction
// then shows once it has a picture, centred at its size.
void TMainForm::InitialSetup() {
  const std::string mode = ModeLabel->Caption();
  PlaceFrontImage();
  FunctionPad->Hide();
  OptionsGB->Hide();
  if (mode == "Program Options") {
    CentreIntroduction();
    if (!front_pending_ || FrontImage->Picture().Graphic() != nullptr) OptionsGB->Show();
  }
}

void TMainForm::CentreIntroduction() {
  OptionsGB->SetBounds(CentredOffset(ResultsPanel->Width(), OptionsGB->Width()),
                       CentredOffset(ResultsPanel->Height(), OptionsGB->Height()), OptionsGB->Width(),
                       OptionsGB->Height());
}

void TMainForm::CrashRecovery() {
  SaveData();
  for (int kind = 1; kind <= 4; ++kind) Datamodule1->TypeTable(kind)->Close();
  for (int kind = 1; kind <= 4; ++kind) Datamodule1->TypeTable(kind)->RepairTable();
  OpenFiles();
}

void TMainForm::OpenFiles() {
  for (int kind = 1; kind <= 4; ++kind) Datamodule1->TypeTable(kind)->Open();
}

void TMainForm::zapbutClick(fw::TComponent*) {
  for (int kind = 1; kind <= 3; ++kind) {
    dataset::TTolmidTable* t = Datamodule1->TypeTable(kind);
    t->Close();
    t->SetFiltered(false);
    t->SetExclusive(true);
    t->Open();
    t->EmptyTable();
  }
}

}  // namespace app
