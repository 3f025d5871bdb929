// The main window's event handlers. Every road to an action is the same
// road: a menu item clicks its button, a button sets the action under way
// and runs the procedure.
#include <memory>

#include "app/about_form.h"
#include "app/graph_form.h"
#include "app/main_form.h"
#include "app/report_form.h"
#include "framework/forms/dialogs.h"
#include "framework/forms/shell.h"

namespace app {

void TMainForm::FormActivate(fw::TComponent*) {
  if (InitialLoadCB->Checked()) {
    InitialLoadCB->SetChecked(false);
    ModeLabel->SetCaption("Program Options");
    InitialSetup();
  }
  PlaceFrontImage();
}

void TMainForm::Type1ButClick(fw::TComponent*) {
  ModeLabel->SetCaption("Type1");
  ListData();
}

void TMainForm::Type2ButClick(fw::TComponent*) {
  ModeLabel->SetCaption("Type2");
  ListData();
}

void TMainForm::Type3ButClick(fw::TComponent*) {
  ModeLabel->SetCaption("Type3");
  ListData();
}

void TMainForm::Type4ButClick(fw::TComponent*) {
  ModeLabel->SetCaption("Type4");
  ListData();
}

void TMainForm::ResourceCategories1Click(fw::TComponent*) { Type1But->Click(); }
void TMainForm::CapturedPhotos1Click(fw::TComponent*) { Type2But->Click(); }
void TMainForm::PhotoAlbum1Click(fw::TComponent*) { Type3But->Click(); }
void TMainForm::InternetLinks1Click(fw::TComponent*) { Type4But->Click(); }

void TMainForm::FunctionPadClick(fw::TComponent*) {
  Image1->Hide();
  const std::string page = FunctionPad->ActivePage();
  if (page == "Category") {
    ModeLabel->SetCaption("Type1");
    RecipientGrid->Refresh();
  } else if (page == "Capture") {
    ModeLabel->SetCaption("Type2");
    RevenueGrid->Refresh();
  } else if (page == "Photos") {
    ModeLabel->SetCaption("Type3");
    ExpenseGrid->Refresh();
    Updateimage();
  } else if (page == "Internet") {
    ModeLabel->SetCaption("Type4");
    InternetGrid->Refresh();
  }
  ListData();
}

void TMainForm::NewButClick(fw::TComponent*) {
  NextActionLabel->SetCaption("New");
  NewData();
  NextActionLabel->SetCaption("None");
}

void TMainForm::New1Click(fw::TComponent*) { NewBut->Click(); }
void TMainForm::BitBtn1Click(fw::TComponent* sender) { NewButClick(sender); }

void TMainForm::EditButClick(fw::TComponent*) {
  NextActionLabel->SetCaption("Edit");
  EditData();
  NextActionLabel->SetCaption("None");
}

void TMainForm::Edit1Click(fw::TComponent*) { EditBut->Click(); }
void TMainForm::GridDblClick(fw::TComponent* sender) { EditButClick(sender); }

void TMainForm::DeleteButClick(fw::TComponent*) {
  NextActionLabel->SetCaption("Delete");
  DeleteData();
  NextActionLabel->SetCaption("None");
}

void TMainForm::Delete1Click(fw::TComponent*) { DeleteBut->Click(); }

void TMainForm::DeleteCaptureButClick(fw::TComponent*) {
  NextActionLabel->SetCaption("DeleteAll");
  DeleteData();
  NextActionLabel->SetCaption("None");
}

void TMainForm::DeleteAllButClick(fw::TComponent* sender) { DeleteCaptureButClick(sender); }

void TMainForm::ExpenseGridCellClick(fw::TComponent*) { Updateimage(); }
void TMainForm::ExpenseGridKeyUp(fw::TComponent*, int&, unsigned) { Updateimage(); }
void TMainForm::ReProcessButClick(fw::TComponent*) { ReProcess(); }
void TMainForm::CategoryFilterCBClick(fw::TComponent*) { UpdateCategoryFilter(); }

void TMainForm::ReportsButClick(fw::TComponent*) {
  std::unique_ptr<TReportForm> form(new TReportForm(this));
  form->ShowModal();
}

void TMainForm::GraphsButClick(fw::TComponent*) {
  std::unique_ptr<TGraphForm> form(new TGraphForm(this));
  form->ShowModal();
}

void TMainForm::About1Click(fw::TComponent*) {
  ModeLabel->SetCaption("Help-About");
  About();
}

void TMainForm::UserGuide1Click(fw::TComponent*) {
  ModeLabel->SetCaption("Help-UsersGuide");
  OpenWebPage(kUserGuideURL);
}

void TMainForm::HelpdeskTechnicalSupport1Click(fw::TComponent*) {
  ModeLabel->SetCaption("Help-Helpdesk");
  OpenWebPage(kHelpdeskURL);
}

void TMainForm::BitBtn2Click(fw::TComponent*) { ExitSystem(); }
void TMainForm::ExitButClick(fw::TComponent*) { ExitSystem(); }
void TMainForm::Exit1Click(fw::TComponent*) { ExitSystem(); }

void TMainForm::ProgramOptions1Click(fw::TComponent*) {
  ModeLabel->SetCaption("Program Options");
  InitialSetup();
}

void TMainForm::RebuildDataTables1Click(fw::TComponent*) {
  ModeLabel->SetCaption("Rebuild Data Tables");
  CrashRecovery();
}

void TMainForm::SpeedButton8Click(fw::TComponent*) { OpenWebPage(kUpdatesURL); }

void TMainForm::OpenWebPage(const char* url) { fw::ShellExecuteA(Handle(), "open", url, "", "", fw::SW_SHOWNORMAL); }

void TMainForm::About() {
  std::unique_ptr<TAboutForm> form(new TAboutForm(this));
  form->DirectoryLabel->SetCaption(DirectoryLabel->Caption());
  form->ExitBut->SetShowHint(ShowHintsCB->Checked());
  form->ShowModal();
}

void TMainForm::ExitSystem() {
  ModeLabel->SetCaption("Exit System");
  if (fw::MessageDlg("Exit Morvella Software?", fw::TMsgDlgType::mtConfirmation,
                     {fw::TMsgDlgBtn::mbYes, fw::TMsgDlgBtn::mbNo}) == fw::mrYes)
    Close();
}

void TMainForm::UpdateTitleBar(const std::string& text) {
  ActionLabel->SetCaption(text);
  SetCaption(text);
}

void TMainForm::EnableButtons(bool enable) {
  EditBut->SetEnabled(enable);
  Edit1->SetEnabled(enable);
  DeleteBut->SetEnabled(enable);
  Delete1->SetEnabled(enable);
}

void TMainForm::EnableNewButton() {
  NewBut->SetEnabled(true);
  New1->SetEnabled(true);
}

}  // namespace app
