// The capture window: layout, data binding and the single-step handlers.
// The runs (auto-capture and Process) are in type2_edit_form_runs.cpp.
#include "app/type2_edit_form.h"

#include <QEvent>

#include "app/catalogue_counters.h"
#include "app/data_module.h"
#include "app/picture_display.h"
#include "app/picture_files.h"
#include "framework/forms/clipboard.h"
#include "framework/forms/dialogs.h"
#include "framework/forms/shell.h"
#include "framework/sysutils.h"

namespace app {

namespace {

constexpr int kWidth = 620;
constexpr int kHeight = 440;

fw::TButton* MakeButton(TType2EditForm* form, const std::string& name, const std::string& caption, int left,
                        int top) {
  auto* b = form->Make<fw::TButton>(name, form);
  b->SetCaption(caption);
  b->SetBounds(left, top, 75, 25);
  return b;
}

}  // namespace

TType2EditForm::TType2EditForm(fw::TComponent* owner) : TForm(owner), alive_(std::make_shared<bool>(true)) {
  SetName("Type2EditForm");
  SetCaption("Capture Photos");
  SetClientSize(kWidth, kHeight);
  SetPosition(fw::TPosition::poScreenCenter);
  ModeLabel = Make<fw::TLabel>("ModeLabel", this);
  ModeLabel->SetVisible(false);
  HeaderLabel = Make<fw::TLabel>("HeaderLabel", this);
  HeaderLabel->SetFont({"", 12, fw::clNavy, true});
  HeaderLabel->SetCaption("Capture and Process Photos");
  HeaderLabel->SetBounds(12, 10, HeaderLabel->Width(), HeaderLabel->Height());

  URLGrid = Make<fw::TDBGrid>("URLGrid", this);
  URLGrid->SetBounds(12, 40, 320, 250);
  URLGrid->AddColumn("ActivityName", "Photo URL", 300);
  URLGrid->SetOptions(URLGrid->Options() | fw::dgRowSelect | fw::dgAlwaysShowSelection);
  DeleteBut = MakeButton(this, "DeleteBut", "Delete", 12, 296);
  BrowseBut = MakeButton(this, "BrowseBut", "Browse", 95, 296);
  ViewBut = MakeButton(this, "ViewBut", "View", 178, 296);

  PicPanel = Make<fw::TPanel>("PicPanel", this);
  PicPanel->SetBevelOuter(fw::TPanelBevel::bvLowered);
  PicPanel->SetBounds(344, 40, 264, 281);
  Image1 = Make<fw::TImage>("Image1", PicPanel);
  Image1->SetBounds(0, 0, 100, 100);
  Image1->SetVisible(false);
  Memo1 = Make<fw::TMemo>("Memo1", PicPanel);
  Memo1->SetBounds(0, 0, 100, 40);
  Memo1->SetVisible(false);

  PhotoURLLabel = Make<fw::TLabel>("PhotoURLLabel", this);
  PhotoURLLabel->SetCaption("Photo URL");
  PhotoURLLabel->SetBounds(12, 334, PhotoURLLabel->Width(), PhotoURLLabel->Height());
  PhotoURLEdit = Make<fw::TDBEdit>("PhotoURLEdit", this);
  PhotoURLEdit->SetBounds(80, 331, 528, 21);
  PhotoURLEdit->SetDataField("ActivityName");
  PhotoURLEdit->SetForeignChars(fw::TForeignChars::kPercentEncode);
  CategoryLabel = Make<fw::TLabel>("CategoryLabel", this);
  CategoryLabel->SetCaption("Category");
  CategoryLabel->SetBounds(12, 363, CategoryLabel->Width(), CategoryLabel->Height());
  CategoryLookup = Make<fw::TDBLookupComboBox>("CategoryLookup", this);
  CategoryLookup->SetBounds(80, 360, 220, 21);
  CategoryLookup->SetDataField("Category");
  CategoryLookup->SetKeyField("JournalName");
  CategoryLookup->SetListField("JournalName");
  MaskCB = Make<fw::TCheckBox>("MaskCB", this);
  MaskCB->SetCaption("Hide extension");
  MaskCB->SetBounds(320, 362, 130, 17);
  MaskCB->SetChecked(true);

  ProcessBut = MakeButton(this, "ProcessBut", "Process", 12, kHeight - 37);
  CaptureBut = MakeButton(this, "CaptureBut", "Capture", 95, kHeight - 37);
  AutoCapBut = MakeButton(this, "AutoCapBut", "Auto-Cap", 178, kHeight - 37);
  AbortBut = MakeButton(this, "AbortBut", "Abort", 261, kHeight - 37);
  OKBut = Make<fw::TBitBtn>("OKBut", this);
  OKBut->SetKind(fw::TBitBtnKind::bkOK);
  OKBut->SetBounds(kWidth - 174, kHeight - 37, 75, 25);
  OKBut->SetAnchors(fw::akRight | fw::akBottom);
  CancelBut = Make<fw::TBitBtn>("CancelBut", this);
  CancelBut->SetKind(fw::TBitBtnKind::bkCancel);
  CancelBut->SetBounds(kWidth - 87, kHeight - 37, 75, 25);
  CancelBut->SetAnchors(fw::akRight | fw::akBottom);

  PhotoTE = Make<fw::TEdit>("PhotoTE", this);
  PhotoTE->SetBounds(460, 360, 60, 21);
  PhotoTE->SetText("PhotoTE");
  PhotoTE->SetVisible(false);
  AutoCB = Make<fw::TCheckBox>("AutoCB", this);
  AutoCB->SetCaption("AutoCB");
  AutoCB->SetBounds(460, 385, 60, 17);
  AutoCB->SetVisible(false);
  ExtTypeEdit = Make<fw::TDBEdit>("ExtTypeEdit", this);
  ExtTypeEdit->SetBounds(530, 360, 60, 21);
  ExtTypeEdit->SetDataField("ExtType");
  ExtTypeEdit->SetVisible(false);

  NMHTTP1 = new fw::TNMHTTP(this);
  NMHTTP1->SetName("NMHTTP1");

  if (Datamodule1 != nullptr) {
    URLGrid->SetDataSource(Datamodule1->Type2Source);
    PhotoURLEdit->SetDataSource(Datamodule1->Type2Source);
    CategoryLookup->SetDataSource(Datamodule1->Type2Source);
    CategoryLookup->SetListSource(Datamodule1->Type1Source);
    ExtTypeEdit->SetDataSource(Datamodule1->Type2Source);
  }

  OnClose = [this](fw::TComponent* s, fw::TCloseAction& a) { FormClose(s, a); };
  CaptureBut->OnClick = [this](fw::TComponent* s) { CaptureButClick(s); };
  ViewBut->OnClick = [this](fw::TComponent* s) { ViewButClick(s); };
  AutoCapBut->OnClick = [this](fw::TComponent* s) { AutoCapButClick(s); };
  ProcessBut->OnClick = [this](fw::TComponent* s) { ProcessButClick(s); };
  AbortBut->OnClick = [this](fw::TComponent* s) { AbortButClick(s); };
  OKBut->OnClick = [this](fw::TComponent* s) { OKButClick(s); };
  CancelBut->OnClick = [this](fw::TComponent* s) { CancelButClick(s); };
  DeleteBut->OnClick = [this](fw::TComponent* s) { DeleteButClick(s); };
  BrowseBut->OnClick = [this](fw::TComponent* s) { BrowseButClick(s); };
}

TType2EditForm::~TType2EditForm() { *alive_ = false; }

bool TType2EditForm::WidgetEvent(QEvent* event) {
  // The close box ends a run first, so that the modal loop can end.
  if (event->type() == QEvent::Close && running_) fw::Guarded([&] { AbortButClick(this); }, this);
  return TForm::WidgetEvent(event);
}

void TType2EditForm::SetRunning(bool running) {
  running_ = running;
  for (fw::TControl* c : std::initializer_list<fw::TControl*>{URLGrid, DeleteBut, BrowseBut, ViewBut, PhotoURLEdit,
                                                              CategoryLookup, MaskCB, ProcessBut, CaptureBut,
                                                              AutoCapBut})
    c->SetEnabled(!running);
}

void TType2EditForm::FormClose(fw::TComponent*, fw::TCloseAction&) {
  if (running_) AbortButClick(this);
  dataset::TTolmidTable* t = Datamodule1->Type2Table;
  if (t->State() == fw::TDataSetState::dsEdit || t->State() == fw::TDataSetState::dsInsert) t->Post();
}

int TType2EditForm::TakeType2Num() {
  dataset::TTolmidTable& defaults = *Datamodule1->DefaultsTable;
  struct CloseTable {
    dataset::TTolmidTable& t;
    ~CloseTable() { t.Close(); }
  } close{defaults};
  return TakeCounter(defaults, "nextType2Num", 1000);
}

TType2EditForm::AddedUrl TType2EditForm::AppendCapturedUrl(int number, const std::string& url,
                                                           const std::string* category) {
  dataset::TTolmidTable& t = *Datamodule1->Type2Table;
  t.Insert();
  try {
    t.FieldByName("type2Num")->SetAsInteger(number);
    t.FieldByName("ActivityName")->SetAsString(url);
    if (category != nullptr) t.FieldByName("category")->SetAsString(*category);
    t.Post();
  } catch (...) {
    t.Cancel();
    throw;
  }
  AddedUrl added{number, {}};
  if (!t.IsEmpty() && t.FieldByName("type2Num")->AsInteger() == number) added.bookmark = t.GetBookmark();
  return added;
}

void TType2EditForm::DeleteCapturedUrl(const AddedUrl& added) {
  TDatamodule1& dm = *Datamodule1;
  if (!added.bookmark.empty()) {
    dm.Type2Table->GotoBookmark(added.bookmark);
    dm.Type2Table->Delete();
    return;
  }
  // Hidden by the table's filter: the newest record with the number (a
  // live result runs in the table's order, by RecordNum).
  dataset::TTolmidQuery& q = *dm.StandardUpdateQuery;
  q.Close();
  q.SetSQLText("select * from type2 where type2num=" + std::to_string(added.number));
  q.Open();
  struct CloseQuery {
    dataset::TTolmidQuery& q;
    ~CloseQuery() { q.Close(); }
  } close{q};
  if (q.IsEmpty()) return;
  q.Last();
  q.Delete();
}

void TType2EditForm::CaptureButClick(fw::TComponent*) {
  if (running_) return;
  NMHTTP1->Disconnect();
  // One line of text is a URL to capture; anything else is not stored.
  // Characters the catalogue cannot keep are captured percent-escaped, as
  // a browser sends them.
  const std::string text = fw::Clipboard().HasText() ? fw::Trim(fw::Clipboard().AsUrl()) : std::string();
  if (text.empty() || text.find_first_of("\r\n") != std::string::npos) {
    fw::MessageDlg("The clipboard holds no URL to capture.", fw::TMsgDlgType::mtInformation, {fw::TMsgDlgBtn::mbOK});
    return;
  }
  if (!FitsCapturedUrl(text)) return;
  PhotoTE->SelectAll();
  PhotoTE->SetSelText(text);
  (void)AppendCapturedUrl(TakeType2Num(), PhotoTE->Text(), nullptr);
}

bool TType2EditForm::FitsCapturedUrl(const std::string& url) {
  const int size = Datamodule1->Type2Table->FieldByName("ActivityName")->Size();
  if (static_cast<int>(url.size()) <= size) return true;
  fw::MessageDlg("The URL is longer than the " + std::to_string(size) + " characters a captured URL can hold.",
                 fw::TMsgDlgType::mtInformation, {fw::TMsgDlgBtn::mbOK});
  return false;
}

void TType2EditForm::ViewButClick(fw::TComponent*) {
  if (running_) return;
  const std::string url = Datamodule1->Type2Table->FieldByName("ActivityName")->AsString();
  RunScope run(*this);
  View(url);
}

bool TType2EditForm::View(const std::string& url) {
  NMHTTP1->Disconnect();
  NMHTTP1->SetInputFileMode(true);
  NMHTTP1->SetBody(kViewFile);
  const std::shared_ptr<bool> alive = alive_;
  try {
    NMHTTP1->Get(url);
    if (!*alive) return false;
    // "temp" has no extension: it is read as the URL's kind.
    LoadPictureHidden(*Image1, kViewFile, url);
  } catch (...) {
    // The picture of another URL must not stay on show beside this one.
    if (*alive) ClearPicture(*Image1);
    throw;
  }
  // The picture goes inside the panel's sunken frame, not over it.
  const int frame = PicPanel->FrameWidth();
  FitPicture(*Image1, PicPanel->Width() - 2 * frame, PicPanel->Height() - 2 * frame);
  Image1->SetBounds(frame, frame, Image1->Width(), Image1->Height());
  Image1->Show();
  return true;
}

void TType2EditForm::AutoCapButClick(fw::TComponent*) { AutoCapture(); }
void TType2EditForm::ProcessButClick(fw::TComponent*) { Process(); }

void TType2EditForm::AbortButClick(fw::TComponent*) {
  AutoCB->SetChecked(false);
  NMHTTP1->Cancel();
}

void TType2EditForm::AbortAndClose() {
  try {
    AbortBut->Click();
  } catch (...) {
    NMHTTP1->Cancel();
  }
  Close();
}

void TType2EditForm::OKButClick(fw::TComponent*) { AbortAndClose(); }
void TType2EditForm::CancelButClick(fw::TComponent*) { AbortAndClose(); }

void TType2EditForm::DeleteButClick(fw::TComponent*) {
  if (running_) return;
  dataset::TTolmidTable& t = *Datamodule1->Type2Table;
  if (t.IsEmpty()) return;
  if (fw::MessageDlg("Delete This URL?", fw::TMsgDlgType::mtConfirmation,
                     {fw::TMsgDlgBtn::mbYes, fw::TMsgDlgBtn::mbNo}) == fw::mrYes)
    t.Delete();
}

void TType2EditForm::BrowseButClick(fw::TComponent*) {
  if (running_) return;
  const std::string url = Datamodule1->Type2Table->FieldByName("activityname")->AsString();
  fw::ShellExecuteA(Handle(), "open", url.c_str(), "", "", fw::SW_SHOWNORMAL);
}

}  // namespace app
