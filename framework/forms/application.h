// TApplication: the program's application object. It owns the forms and
// data modules made by CreateForm, runs the message loop until the main
// form closes, and is the one place where exceptions become message boxes:
// every handler that Qt calls runs through Guarded, which hands any
// exception to HandleException, so none leaves a Qt slot or event handler
// and the program goes on.
//
// Form activation (OnActivate) is decided here, not by the window system:
// a form is activated when it becomes the active window coming from another
// window of the program, and when it is first shown; the program regaining
// the focus from another program activates nothing. When the active form
// is hidden, the form that was active before it (still visible) becomes
// active again. The window system reports activations late: a report about
// another window that arrives while the program's own request is pending
// is stale and ignored, and so is one about a window that a modal form
// blocks.
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/component.h"
#include "framework/forms/message_service.h"

class QApplication;
class QObject;
class QEventLoop;

namespace fw {

class TForm;

// MessageBox flags and results, with the platform's numbers.
inline constexpr unsigned MB_OK = 0x00;
inline constexpr unsigned MB_OKCANCEL = 0x01;
inline constexpr unsigned MB_ABORTRETRYIGNORE = 0x02;
inline constexpr unsigned MB_YESNOCANCEL = 0x03;
inline constexpr unsigned MB_YESNO = 0x04;
inline constexpr unsigned MB_RETRYCANCEL = 0x05;
inline constexpr unsigned MB_ICONERROR = 0x10;
inline constexpr unsigned MB_ICONQUESTION = 0x20;
inline constexpr unsigned MB_ICONWARNING = 0x30;
inline constexpr unsigned MB_ICONINFORMATION = 0x40;
inline constexpr unsigned MB_DEFBUTTON2 = 0x100;
inline constexpr int IDOK = mrOk;
inline constexpr int IDCANCEL = mrCancel;
inline constexpr int IDABORT = mrAbort;
inline constexpr int IDRETRY = mrRetry;
inline constexpr int IDIGNORE = mrIgnore;
inline constexpr int IDYES = mrYes;
inline constexpr int IDNO = mrNo;

// A non-visual container of components (datasets, data sources) with the
// form's creation events.
class TDataModule : public TComponent {
 public:
  using TNotifyEvent = std::function<void(TComponent* sender)>;
  explicit TDataModule(TComponent* owner) : TComponent(owner) {}
  ~TDataModule() override;
  // Runs OnCreate; an exception from it is shown by the application and
  // leaves CreateFailed set.
  void DoCreate();
  bool CreateFailed() const { return create_failed_; }
  TNotifyEvent OnCreate, OnDestroy;

 private:
  bool create_failed_ = false;
};

class TApplication : public TComponent {
 public:
  // Uses the running QApplication, or makes one from argc and argv (which
  // must outlive it). Sets the global Application; one at a time.
  TApplication(int& argc, char** argv);
  ~TApplication() override;

  void Initialize() {}
  const std::string& Title() const { return title_; }
  void SetTitle(const std::string& title);

  // Makes a form or data module owned by the application and runs its
  // OnCreate; the first form made this way is the main form.
  template <class T>
  void CreateForm(T*& reference) {
    reference = new T(this);
    Created(reference);
  }
  TForm* MainForm() const { return main_form_; }
  // Shows the main form and runs the message loop until the main form
  // closes or Terminate is called.
  void Run();
  // Handles the events waiting now (no waiting for more).
  void ProcessMessages();
  void Terminate();
  bool Terminated() const { return terminated_; }

  // Inside a catch handler: shows the exception being handled (through
  // OnException when set). EAbort is silent.
  void HandleException(TComponent* sender);
  // The exception box: the message in an error box captioned with the
  // title, one OK button.
  void ShowException(const std::exception& e);
  // A box with MB_* flags; returns IDOK, IDYES, ...
  int MessageBox(const std::string& text, const std::string& caption, unsigned flags);

  std::function<void(TComponent* sender, const std::exception& e)> OnException;
  // Called once a modal form is up, from inside its modal loop; tests use
  // it to act on modal forms.
  std::function<void(TForm& form)> OnModalShown;

  TForm* ActiveForm() const { return active_form_; }

  // --- used by TForm
  // The program makes form the active window (Show); the window system's
  // word on it comes later, through WindowActivated.
  void ActivateForm(TForm* form);
  // The window system made form's window active.
  void WindowActivated(TForm* form);
  void FormActivated(TForm* form);
  void FormHidden(TForm* form);
  void FormDestroyed(TForm* form);
  // Runs a nested event loop until QuitLoops or loop.quit(); Terminate
  // ends every loop.
  void RunLoop(QEventLoop& loop);

 private:
  void Created(TComponent* component);
  std::unique_ptr<QApplication> own_app_;
  std::unique_ptr<QObject> context_;  // lifetime of our Qt connections
  std::string title_;
  TForm* main_form_ = nullptr;
  TForm* active_form_ = nullptr;
  std::vector<TForm*> activation_order_;  // visible forms, last activated last
  // The form the program asked the window system to activate, until the
  // window system reports it: its reports about other windows until then
  // are older than the request and are not taken.
  TForm* requested_activation_ = nullptr;
  std::vector<QEventLoop*> loops_;
  bool terminated_ = false;
  bool destroying_ = false;  // forms going away activate nothing
};

// The application object (nullptr before one exists).
extern TApplication* Application;
// Application->Title(), or "" without an application.
std::string ApplicationTitle();

// Runs fn; an exception is handed to Application->HandleException (printed
// to standard error when there is no application). Never throws.
void Guarded(const std::function<void()>& fn, TComponent* sender = nullptr) noexcept;

}  // namespace fw
