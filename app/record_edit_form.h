// TRecordEditForm: what the record editors (TType1EditForm,
// TType3EditForm, TType4EditForm) have in common. The main window makes an
// editor on the current record of its kind, shows it modally and posts
// the record on OK, cancels it otherwise; the editor's controls are bound
// to the data module's sources directly, so typing puts the table into
// edit state.
//
// Layout (client area):
//   HeaderPanel    HeaderLabel                         (alTop, 36)
//   EditScrollBox  the record's fields                 (alClient)
//   ButtonPanel    OKBut (mrOk), CancelBut (mrCancel)  (alBottom, 41)
//   StatusBar1                                         (alBottom)
// and the hidden ModeLabel, into which the main window copies its mode.
// Editors with a grid put it at the left of the client area, beside the
// scroll box.
#pragma once

#include <string>
#include <vector>

#include "framework/forms/buttons.h"
#include "framework/forms/form.h"
#include "framework/forms/label.h"
#include "framework/forms/panels.h"

namespace fw {
class TDataSource;
class TDBEdit;
class TFieldControl;
}  // namespace fw

namespace app {

class TRecordEditForm : public fw::TForm {
 public:
  fw::TLabel* ModeLabel;
  fw::TPanel* HeaderPanel;
  fw::TLabel* HeaderLabel;
  fw::TStatusBar* StatusBar1;
  fw::TPanel* ButtonPanel;
  fw::TBitBtn* OKBut;
  fw::TBitBtn* CancelBut;
  fw::TScrollBox* EditScrollBox;

 protected:
  TRecordEditForm(fw::TComponent* owner, const std::string& name, const std::string& caption,
                  const std::string& header, int client_width, int client_height);

  // A caption label at left, top of the scroll box.
  fw::TLabel* FieldLabel(const std::string& name, const std::string& text, int left, int top);
  // A control bound to field of source, in the scroll box.
  template <class T>
  T* Bound(const std::string& name, fw::TDataSource* source, const char* field, int left, int top, int width,
           int height) {
    T* c = Make<T>(name, EditScrollBox);
    c->SetBounds(left, top, width, height);
    Bind(*c, source, field);
    return c;
  }
  // A button in the scroll box.
  fw::TButton* Button(const std::string& name, const std::string& caption, int left, int top);
  // Text that edit's field would store cut short is refused instead: the
  // edit takes any length, and OK with a longer text says
  // "<subject> is longer than the <n> characters <holder> can hold." and
  // leaves the editor open on that edit.
  void RefuseOverLong(fw::TDBEdit& edit, const std::string& subject, const std::string& holder);

 private:
  static void Bind(fw::TFieldControl& control, fw::TDataSource* source, const char* field);
  void OKButClick();
  struct LengthCheck {
    fw::TDBEdit* edit;
    std::string subject;
    std::string holder;
  };
  std::vector<LengthCheck> length_checks_;
};

}  // namespace app
