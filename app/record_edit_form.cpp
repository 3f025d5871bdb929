#include "app/record_edit_form.h"

#include "framework/db/data_link.h"
#include "framework/db/field.h"
#include "framework/dbctrls/db_edit.h"
#include "framework/dbctrls/db_field_control.h"
#include "framework/forms/dialogs.h"

namespace app {

TRecordEditForm::TRecordEditForm(fw::TComponent* owner, const std::string& name, const std::string& caption,
                                 const std::string& header, int client_width, int client_height)
    : TForm(owner) {
  SetName(name);
  SetCaption(caption);
  SetClientSize(client_width, client_height);
  SetPosition(fw::TPosition::poScreenCenter);

  HeaderPanel = Make<fw::TPanel>("HeaderPanel", this);
  HeaderPanel->SetHeight(36);
  HeaderPanel->SetAlign(fw::TAlign::alTop);
  HeaderLabel = Make<fw::TLabel>("HeaderLabel", HeaderPanel);
  HeaderLabel->SetFont({"", 12, fw::clNavy, true});
  HeaderLabel->SetCaption(header);
  HeaderLabel->SetBounds(10, 8, HeaderLabel->Width(), HeaderLabel->Height());

  StatusBar1 = Make<fw::TStatusBar>("StatusBar1", this);
  StatusBar1->SetTop(client_height);
  ButtonPanel = Make<fw::TPanel>("ButtonPanel", this);
  ButtonPanel->SetBounds(0, client_height - 80, client_width, 41);
  ButtonPanel->SetAlign(fw::TAlign::alBottom);
  OKBut = Make<fw::TBitBtn>("OKBut", ButtonPanel);
  OKBut->SetKind(fw::TBitBtnKind::bkOK);
  OKBut->SetBounds(client_width - 170, 8, 75, 25);
  OKBut->SetAnchors(fw::akRight | fw::akTop);
  CancelBut = Make<fw::TBitBtn>("CancelBut", ButtonPanel);
  CancelBut->SetKind(fw::TBitBtnKind::bkCancel);
  CancelBut->SetBounds(client_width - 85, 8, 75, 25);
  CancelBut->SetAnchors(fw::akRight | fw::akTop);

  EditScrollBox = Make<fw::TScrollBox>("EditScrollBox", this);
  EditScrollBox->SetAlign(fw::TAlign::alClient);

  ModeLabel = Make<fw::TLabel>("ModeLabel", ButtonPanel);
  ModeLabel->SetBounds(8, 12, ModeLabel->Width(), ModeLabel->Height());
  ModeLabel->SetVisible(false);
  OKBut->OnClick = [this](fw::TComponent*) { OKButClick(); };
}

void TRecordEditForm::RefuseOverLong(fw::TDBEdit& edit, const std::string& subject, const std::string& holder) {
  edit.SetCutToField(false);
  length_checks_.push_back({&edit, subject, holder});
}

// The button has set the modal result already; a refusal takes it back, so
// the editor stays.
void TRecordEditForm::OKButClick() {
  for (const LengthCheck& c : length_checks_) {
    const fw::TField* field = c.edit->Field();
    if (field == nullptr || field->Size() <= 0 || static_cast<int>(c.edit->Text().size()) <= field->Size()) continue;
    SetModalResult(fw::mrNone);
    fw::MessageDlg(c.subject + " is longer than the " + std::to_string(field->Size()) + " characters " + c.holder +
                       " can hold.",
                   fw::TMsgDlgType::mtInformation, {fw::TMsgDlgBtn::mbOK});
    if (c.edit->CanFocus()) c.edit->SetFocus();
    return;
  }
}

fw::TLabel* TRecordEditForm::FieldLabel(const std::string& name, const std::string& text, int left, int top) {
  auto* l = Make<fw::TLabel>(name, EditScrollBox);
  l->SetCaption(text);
  l->SetBounds(left, top, l->Width(), l->Height());
  return l;
}

fw::TButton* TRecordEditForm::Button(const std::string& name, const std::string& caption, int left, int top) {
  auto* b = Make<fw::TButton>(name, EditScrollBox);
  b->SetCaption(caption);
  b->SetBounds(left, top, 75, 25);
  return b;
}

void TRecordEditForm::Bind(fw::TFieldControl& control, fw::TDataSource* source, const char* field) {
  control.SetDataSource(source);
  control.SetDataField(field);
}

}  // namespace app
