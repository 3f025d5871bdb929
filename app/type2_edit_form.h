// TType2EditForm: the capture window ("Capture Photos"), the editor of the
// captured photo URLs (type2.dat). The main window shows it modally for
// New and Edit in "Capture" mode. In it the user
//   - captures a URL from the clipboard ("Capture"),
//   - fetches and shows the current URL ("View", into the file "temp" in
//     the home directory),
//   - auto-captures a numbered series of URLs ("Auto-Cap", settings from
//     TAutoCaptureForm), fetching and showing each, attended (asking
//     "Keep this Photo?") or unattended,
//   - turns the whole list into photos with picture files in the data
//     folder ("Process"),
//   - deletes a URL or opens it in the browser.
//
// Runs. Auto-capture and Process are runs: each fetch keeps the event loop
// going, so the window repaints and "Abort" works while it waits. A run
// checks AutoCB (the running flag, cleared by "Abort") between its steps;
// "Abort" also cancels the fetch under way, which then ends at once. While
// a run goes, the window's other actions are disabled (only "Abort", OK
// and Cancel work), so the current captured URL is the run's own and no
// action runs inside another. A single "View" is a run for the length of
// its fetch. Closing the window (OK, Cancel or its close box) aborts the
// run first.
//
// What a run leaves. A URL that auto-capture drops (not kept, a failed
// fetch, an abort) is deleted again; Process adds a photo record only for
// a picture file it fetched whole, under a pending name that becomes the
// picture's name only once the photo is posted (app/pending_pictures.h),
// and removes the pending file when the photo record could not be made. A
// failed "View" leaves no picture on show.
//
// Layout (620 x 440): header; the URL grid on the left with "Delete",
// "Browse" and "View" under it; the picture panel PicPanel on the right;
// "Photo URL" and "Category" below them; "Hide extension" and the button
// row (Process, Capture, Auto-Cap, Abort ... OK, Cancel) at the bottom.
#pragma once

#include <memory>
#include <string>

#include "framework/db/dataset.h"
#include "framework/dbctrls/db_combo_box.h"
#include "framework/dbctrls/db_edit.h"
#include "framework/dbctrls/db_grid.h"
#include "framework/forms/buttons.h"
#include "framework/forms/check_box.h"
#include "framework/forms/edit.h"
#include "framework/forms/form.h"
#include "framework/forms/image.h"
#include "framework/forms/label.h"
#include "framework/forms/memo.h"
#include "framework/forms/panels.h"
#include "framework/net/nm_http.h"

class QEvent;

namespace app {

class TAutoCaptureForm;

class TType2EditForm : public fw::TForm {
 public:
  explicit TType2EditForm(fw::TComponent* owner);
  ~TType2EditForm() override;

  fw::TLabel* ModeLabel;
  fw::TLabel* HeaderLabel;
  fw::TDBGrid* URLGrid;
  fw::TButton* DeleteBut;
  fw::TButton* BrowseBut;
  fw::TButton* ViewBut;
  fw::TPanel* PicPanel;
  fw::TImage* Image1;
  fw::TMemo* Memo1;
  fw::TLabel* PhotoURLLabel;
  fw::TDBEdit* PhotoURLEdit;
  fw::TLabel* CategoryLabel;
  fw::TDBLookupComboBox* CategoryLookup;
  fw::TCheckBox* MaskCB;
  fw::TButton* ProcessBut;
  fw::TButton* CaptureBut;
  fw::TButton* AutoCapBut;
  fw::TButton* AbortBut;
  fw::TBitBtn* OKBut;
  fw::TBitBtn* CancelBut;
  // Hidden state.
  fw::TEdit* PhotoTE;
  fw::TCheckBox* AutoCB;
  fw::TDBEdit* ExtTypeEdit;

  fw::TNMHTTP* NMHTTP1;

  // The settings window of the run under way (nullptr between runs).
  TAutoCaptureForm* Settings() const { return settings_; }
  // Whether an auto-capture or Process run, or a View, is under way.
  bool Running() const { return running_; }

  // --- event handlers
  void FormClose(fw::TComponent* sender, fw::TCloseAction& action);
  void CaptureButClick(fw::TComponent* sender);
  void ViewButClick(fw::TComponent* sender);
  void AutoCapButClick(fw::TComponent* sender);
  void ProcessButClick(fw::TComponent* sender);
  void AbortButClick(fw::TComponent* sender);
  void OKButClick(fw::TComponent* sender);
  void CancelButClick(fw::TComponent* sender);
  void DeleteButClick(fw::TComponent* sender);
  void BrowseButClick(fw::TComponent* sender);

  // --- procedures (type2_edit_form_runs.cpp)
  void AutoCapture();
  void Process();

  // The file "View" fetches into, in the home directory.
  static constexpr const char* kViewFile = "temp";

 protected:
  bool WidgetEvent(QEvent* event) override;

 private:
  // Marks a run for its length: the other actions of the window are off.
  class RunScope {
   public:
    explicit RunScope(TType2EditForm& form) : form_(form), alive_(form.alive_) { form_.SetRunning(true); }
    ~RunScope() {
      if (*alive_) form_.SetRunning(false);
    }
    RunScope(const RunScope&) = delete;
    RunScope& operator=(const RunScope&) = delete;

   private:
    TType2EditForm& form_;
    std::shared_ptr<bool> alive_;
  };
  void AbortAndClose();
  // Takes the next captured-URL number (0 counts as 1000) and closes the
  // counters table.
  int TakeType2Num();
  // A captured URL as it was posted: its number, and its bookmark when the
  // table shows it (a filter on the table may hide it).
  struct AddedUrl {
    int number = 0;
    fw::TBookmark bookmark;
  };
  // Posts a captured URL with its number, URL and category (none: left
  // empty).
  AddedUrl AppendCapturedUrl(int number, const std::string& url, const std::string* category);
  // Deletes a URL that a run posted: through the table when it shows it,
  // else found by its number.
  static void DeleteCapturedUrl(const AddedUrl& added);
  // Whether url fits the captured URL's column (a longer one would be
  // stored cut short); says so when not.
  static bool FitsCapturedUrl(const std::string& url);
  void SetRunning(bool running);
  // Fetches url into "temp" and shows it; false when the window went away
  // during the fetch.
  bool View(const std::string& url);

  TAutoCaptureForm* settings_ = nullptr;
  bool running_ = false;
  // False once the window is destroyed: a handler further up the stack
  // (a fetch that was waiting) checks it before it touches the window.
  std::shared_ptr<bool> alive_;
};

}  // namespace app
