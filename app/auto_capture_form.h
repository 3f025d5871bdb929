// TAutoCaptureForm: the settings of one auto-capture run ("Auto-Capture
// Details"), shown modally by the capture window: a URL prefix, a number
// range, leading zeroes, a URL suffix, the direction, attended or
// unattended, and the category the captured URLs get. OK and Cancel give
// the modal result; the window does no data work beyond filling its
// category list.
//
// The category list is filled from the category table on activation; the
// walk keeps the table where it was (the main window's category grid shows
// the same table).
#pragma once

#include <string>

#include "framework/forms/buttons.h"
#include "framework/forms/check_box.h"
#include "framework/forms/combo_box.h"
#include "framework/forms/edit.h"
#include "framework/forms/form.h"
#include "framework/forms/label.h"
#include "framework/forms/panels.h"

namespace app {

class TAutoCaptureHelpForm;

// What a run reads from the settings window.
struct AutoCaptureSettings {
  std::string category;
  std::string prefix;
  std::string suffix;
  std::string pad;  // "0" with leading zeroes, else ""
  int low = 0;
  int high = 0;
  bool unattended = true;
  bool up = true;  // ascending
};

// The URL of number i: prefix + (pad when i < 10) + decimal i + suffix.
std::string AutoCaptureUrl(const AutoCaptureSettings& settings, int i);

class TAutoCaptureForm : public fw::TForm {
 public:
  explicit TAutoCaptureForm(fw::TComponent* owner);

  fw::TLabel* HeaderLabel;
  fw::TLabel* URLPrefixLabel;
  fw::TEdit* URLPrefixTE;
  fw::TButton* CopyBut;
  fw::TButton* PasteBut;
  fw::TLabel* StartLabel;
  fw::TEdit* StartTE;
  fw::TLabel* EndLabel;
  fw::TEdit* EndTE;
  fw::TCheckBox* LeadingZeroesCB;
  fw::TLabel* URLSuffixLabel;
  fw::TEdit* URLSuffixTE;
  fw::TPanel* DirectionPanel;
  fw::TRadioButton* ASCRB;
  fw::TRadioButton* DESCRB;
  fw::TCheckBox* UnattendedCB;
  fw::TLabel* CategoryLabel;
  fw::TComboBox* CategoryDDLB;
  fw::TButton* ExampleBut;
  fw::TButton* BitBtn5;
  fw::TBitBtn* OKBut;
  fw::TBitBtn* HelpBut;
  fw::TBitBtn* CancelBut;
  // "Nested Range": kept in the layout, hidden, no part in a run.
  fw::TGroupBox* NestedGB;
  fw::TLabel* NestedStartLabel;
  fw::TEdit* NestedStartTE;
  fw::TLabel* NestedEndLabel;
  fw::TEdit* NestedEndTE;
  fw::TCheckBox* NestedLeadingZeroesCB;
  fw::TRadioButton* NestedASCRB;
  fw::TRadioButton* NestedDESCRB;
  fw::TLabel* NestedNoteLabel;

  // The help window of this window, made at the first activation.
  TAutoCaptureHelpForm* HelpForm() const { return help_; }

  // The run's settings; EConvertError when a range end is not a whole
  // number.
  AutoCaptureSettings Settings() const;
  // Both range ends are filled in.
  bool HasRange() const;

  void FormActivate(fw::TComponent* sender);
  void FormClose(fw::TComponent* sender, fw::TCloseAction& action);
  void CopyButClick(fw::TComponent* sender);
  void PasteButClick(fw::TComponent* sender);
  void HelpButClick(fw::TComponent* sender);
  void ExampleButClick(fw::TComponent* sender);
  void BitBtn5Click(fw::TComponent* sender);

  // The picture folders of the examples on the maker's web site.
  static constexpr const char* kExample1Prefix = "http://www.morvella.example/images/aqua";
  static constexpr const char* kExample2Prefix = "http://www.morvella.example/images/betta";

 private:
  void FillCategories();
  TAutoCaptureHelpForm* help_ = nullptr;
};

extern TAutoCaptureForm* AutoCaptureForm;

}  // namespace app
