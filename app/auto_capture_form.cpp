#include "app/auto_capture_form.h"

#include "app/auto_capture_help_form.h"
#include "app/data_module.h"
#include "framework/forms/application.h"
#include "framework/forms/dialogs.h"
#include "framework/sysutils.h"

namespace app {

TAutoCaptureForm* AutoCaptureForm = nullptr;

namespace {

fw::TLabel* MakeLabel(TAutoCaptureForm* form, const std::string& name, fw::TWinControl* parent,
                      const std::string& caption, int left, int top) {
  auto* l = form->Make<fw::TLabel>(name, parent);
  l->SetCaption(caption);
  l->SetBounds(left, top, l->Width(), l->Height());
  return l;
}

fw::TEdit* MakeEdit(TAutoCaptureForm* form, const std::string& name, fw::TWinControl* parent, int left, int top,
                    int width, const std::string& text) {
  auto* e = form->Make<fw::TEdit>(name, parent);
  e->SetBounds(left, top, width, 21);
  e->SetText(text);
  return e;
}

fw::TButton* MakeButton(TAutoCaptureForm* form, const std::string& name, const std::string& caption, int left,
                        int top, int width) {
  auto* b = form->Make<fw::TButton>(name, form);
  b->SetCaption(caption);
  b->SetBounds(left, top, width, 25);
  return b;
}

}  // namespace

std::string AutoCaptureUrl(const AutoCaptureSettings& settings, int i) {
  return settings.prefix + (i < 10 ? settings.pad : std::string()) + std::to_string(i) + settings.suffix;
}

TAutoCaptureForm::TAutoCaptureForm(fw::TComponent* owner) : TForm(owner) {
  constexpr int kWidth = 440;
  constexpr int kHeight = 330;
  SetName("AutoCaptureForm");
  SetCaption("Auto-Capture Details");
  SetClientSize(kWidth, kHeight);
  SetPosition(fw::TPosition::poScreenCenter);
  HeaderLabel = Make<fw::TLabel>("HeaderLabel", this);
  HeaderLabel->SetFont({"", 12, fw::clNavy, true});
  HeaderLabel->SetCaption("Auto-Capture Details");
  HeaderLabel->SetBounds(12, 10, HeaderLabel->Width(), HeaderLabel->Height());

  URLPrefixLabel = MakeLabel(this, "URLPrefixLabel", this, "URL Prefix", 12, 44);
  URLPrefixTE = MakeEdit(this, "URLPrefixTE", this, 12, 60, 300, "");
  CopyBut = MakeButton(this, "CopyBut", "Copy", 320, 58, 50);
  PasteBut = MakeButton(this, "PasteBut", "Paste", 376, 58, 50);

  StartLabel = MakeLabel(this, "StartLabel", this, "Range Low", 12, 92);
  StartTE = MakeEdit(this, "StartTE", this, 12, 108, 80, "");
  EndLabel = MakeLabel(this, "EndLabel", this, "Range High", 110, 92);
  EndTE = MakeEdit(this, "EndTE", this, 110, 108, 80, "");
  LeadingZeroesCB = Make<fw::TCheckBox>("LeadingZeroesCB", this);
  LeadingZeroesCB->SetCaption("Embed Leading Zeroes");
  LeadingZeroesCB->SetBounds(210, 110, 200, 17);

  URLSuffixLabel = MakeLabel(this, "URLSuffixLabel", this, "URL Suffix", 12, 140);
  URLSuffixTE = MakeEdit(this, "URLSuffixTE", this, 12, 156, 120, ".jpg");
  // Parts of URLs: what the code page lacks goes in as a browser sends it.
  for (fw::TEdit* e : {URLPrefixTE, URLSuffixTE}) e->SetForeignChars(fw::TForeignChars::kPercentEncode);
  // The direction buttons have a parent of their own, apart from the
  // nested range's.
  DirectionPanel = Make<fw::TPanel>("DirectionPanel", this);
  DirectionPanel->SetBevelOuter(fw::TPanelBevel::bvNone);
  DirectionPanel->SetBounds(210, 136, 220, 42);
  ASCRB = Make<fw::TRadioButton>("ASCRB", DirectionPanel);
  ASCRB->SetCaption("Ascending (Low to High)");
  ASCRB->SetBounds(0, 2, 210, 17);
  ASCRB->SetChecked(true);
  DESCRB = Make<fw::TRadioButton>("DESCRB", DirectionPanel);
  DESCRB->SetCaption("Descending (High to Low)");
  DESCRB->SetBounds(0, 22, 210, 17);

  UnattendedCB = Make<fw::TCheckBox>("UnattendedCB", this);
  UnattendedCB->SetCaption("Run Unattended");
  UnattendedCB->SetBounds(12, 196, 150, 17);
  UnattendedCB->SetChecked(true);
  CategoryLabel = MakeLabel(this, "CategoryLabel", this, "Category", 210, 188);
  CategoryDDLB = Make<fw::TComboBox>("CategoryDDLB", this);
  CategoryDDLB->SetBounds(210, 204, 218, 21);

  ExampleBut = MakeButton(this, "ExampleBut", "Example 1", 12, 244, 80);
  BitBtn5 = MakeButton(this, "BitBtn5", "Example 2", 100, 244, 80);

  OKBut = Make<fw::TBitBtn>("OKBut", this);
  OKBut->SetKind(fw::TBitBtnKind::bkOK);
  OKBut->SetBounds(kWidth - 261, kHeight - 37, 75, 25);
  OKBut->SetAnchors(fw::akRight | fw::akBottom);
  HelpBut = Make<fw::TBitBtn>("HelpBut", this);
  HelpBut->SetKind(fw::TBitBtnKind::bkHelp);
  HelpBut->SetBounds(kWidth - 174, kHeight - 37, 75, 25);
  HelpBut->SetAnchors(fw::akRight | fw::akBottom);
  CancelBut = Make<fw::TBitBtn>("CancelBut", this);
  CancelBut->SetKind(fw::TBitBtnKind::bkCancel);
  CancelBut->SetBounds(kWidth - 87, kHeight - 37, 75, 25);
  CancelBut->SetAnchors(fw::akRight | fw::akBottom);

  NestedGB = Make<fw::TGroupBox>("NestedGB", this);
  NestedGB->SetCaption("Nested Range");
  NestedGB->SetBounds(12, 236, 416, 50);
  NestedGB->SetVisible(false);
  NestedStartLabel = MakeLabel(this, "NestedStartLabel", NestedGB, "Range Low", 8, 18);
  NestedStartTE = MakeEdit(this, "NestedStartTE", NestedGB, 70, 16, 40, "1");
  NestedEndLabel = MakeLabel(this, "NestedEndLabel", NestedGB, "Range High", 120, 18);
  NestedEndTE = MakeEdit(this, "NestedEndTE", NestedGB, 185, 16, 40, "1");
  NestedLeadingZeroesCB = Make<fw::TCheckBox>("NestedLeadingZeroesCB", NestedGB);
  NestedLeadingZeroesCB->SetCaption("Embed Leading Zeroes");
  NestedLeadingZeroesCB->SetBounds(235, 18, 160, 17);
  NestedASCRB = Make<fw::TRadioButton>("NestedASCRB", NestedGB);
  NestedASCRB->SetCaption("Ascending (Low to High)");
  NestedASCRB->SetBounds(8, 60, 180, 17);
  NestedASCRB->SetChecked(true);
  NestedDESCRB = Make<fw::TRadioButton>("NestedDESCRB", NestedGB);
  NestedDESCRB->SetCaption("Descending (High to Low)");
  NestedDESCRB->SetBounds(200, 60, 180, 17);
  NestedNoteLabel = MakeLabel(this, "NestedNoteLabel", NestedGB,
                              "Put the keyword [NEST] into the URL where the nested number goes; "
                              "each number of the outer range then runs through the nested range.",
                              8, 84);

  OnActivate = [this](fw::TComponent* s) { FormActivate(s); };
  OnClose = [this](fw::TComponent* s, fw::TCloseAction& a) { FormClose(s, a); };
  CopyBut->OnClick = [this](fw::TComponent* s) { CopyButClick(s); };
  PasteBut->OnClick = [this](fw::TComponent* s) { PasteButClick(s); };
  HelpBut->OnClick = [this](fw::TComponent* s) { HelpButClick(s); };
  ExampleBut->OnClick = [this](fw::TComponent* s) { ExampleButClick(s); };
  BitBtn5->OnClick = [this](fw::TComponent* s) { BitBtn5Click(s); };
}

void TAutoCaptureForm::FormActivate(fw::TComponent*) {
  if (help_ == nullptr) {
    help_ = new TAutoCaptureHelpForm(this);
    // A window of this one, so that it takes input while this one is
    // modal.
    help_->Widget()->setParent(Widget(), help_->Widget()->windowFlags());
  }
  FillCategories();
}

void TAutoCaptureForm::FillCategories() {
  CategoryDDLB->Items().Clear();
  if (Datamodule1 == nullptr || !Datamodule1->Type1Table->Active()) return;
  dataset::TTolmidTable& t = *Datamodule1->Type1Table;
  // The walk moves the table that the main window's category grid shows:
  // its controls wait, and the table goes back to the record it was on.
  const fw::TBookmark mark = t.GetBookmark();
  t.DisableControls();
  struct Restore {
    dataset::TTolmidTable& t;
    const fw::TBookmark& mark;
    ~Restore() {
      try {
        if (mark.empty() || !t.BookmarkValid(mark))
          t.First();
        else
          t.GotoBookmark(mark);
      } catch (...) {
        // The record went away meanwhile: the first one instead.
        fw::Guarded([&] { t.First(); });
      }
      t.EnableControls();
    }
  } restore{t, mark};
  for (t.First(); !t.Eof(); t.Next()) CategoryDDLB->Items().Add(t.FieldByName("journalname")->AsString());
}

void TAutoCaptureForm::FormClose(fw::TComponent*, fw::TCloseAction&) {
  int low = 0;
  int high = 0;
  if (HasRange() && fw::TryStrToInt(StartTE->Text(), low) && fw::TryStrToInt(EndTE->Text(), high) && low > high)
    fw::MessageDlg("Note: Invalid Range (The Low end is Higher than the High End)", fw::TMsgDlgType::mtInformation,
                   {fw::TMsgDlgBtn::mbOK});
}

bool TAutoCaptureForm::HasRange() const { return !StartTE->Text().empty() && !EndTE->Text().empty(); }

AutoCaptureSettings TAutoCaptureForm::Settings() const {
  AutoCaptureSettings s;
  s.category = CategoryDDLB->Text();
  s.low = fw::StrToInt(StartTE->Text());
  s.high = fw::StrToInt(EndTE->Text());
  s.prefix = URLPrefixTE->Text();
  s.suffix = URLSuffixTE->Text();
  s.unattended = UnattendedCB->Checked();
  s.pad = LeadingZeroesCB->Checked() ? "0" : "";
  s.up = ASCRB->Checked();
  return s;
}

void TAutoCaptureForm::CopyButClick(fw::TComponent*) { URLPrefixTE->CopyToClipboard(); }

void TAutoCaptureForm::PasteButClick(fw::TComponent*) {
  URLPrefixTE->SelectAll();
  URLPrefixTE->PasteFromClipboard();
}

void TAutoCaptureForm::HelpButClick(fw::TComponent*) {
  if (help_ == nullptr) FormActivate(this);
  help_->Show();
}

void TAutoCaptureForm::ExampleButClick(fw::TComponent*) {
  URLPrefixTE->SetText(kExample1Prefix);
  URLSuffixTE->SetText(".jpg");
  StartTE->SetText("1");
  EndTE->SetText("10");
  ASCRB->SetChecked(true);
  LeadingZeroesCB->SetChecked(true);
  UnattendedCB->SetChecked(true);
}

void TAutoCaptureForm::BitBtn5Click(fw::TComponent*) {
  URLPrefixTE->SetText(kExample2Prefix);
  URLSuffixTE->SetText(".gif");
  StartTE->SetText("1");
  EndTE->SetText("12");
  ASCRB->SetChecked(true);
  LeadingZeroesCB->SetChecked(false);
  UnattendedCB->SetChecked(true);
}

}  // namespace app
