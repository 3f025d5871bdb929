#include "framework/forms/application.h"

#include <algorithm>
#include <cstdio>

#include <QApplication>
#include <QEventLoop>

#include "framework/db/db_common.h"
#include "framework/exceptions.h"
#include "framework/forms/form.h"
#include "framework/thread.h"

namespace fw {

TApplication* Application = nullptr;

namespace {

// Synchronize calls from other threads run from the Qt event loop.
void WakeMainThread() {
  if (QCoreApplication* app = QCoreApplication::instance())
    QMetaObject::invokeMethod(app, [] { TThread::CheckSynchronize(); }, Qt::QueuedConnection);
}

}  // namespace

std::string ApplicationTitle() { return Application != nullptr ? Application->Title() : std::string(); }

void Guarded(const std::function<void()>& fn, TComponent* sender) noexcept {
  try {
    fn();
  } catch (...) {
    try {
      if (Application != nullptr) {
        Application->HandleException(sender);
      } else {
        try {
          throw;
        } catch (const std::exception& e) {
          std::fprintf(stderr, "%s\n", e.what());
        }
      }
    } catch (...) {
      // Nothing may leave: the exception box itself failed.
    }
  }
}

TDataModule::~TDataModule() {
  if (OnDestroy) Guarded([&] { OnDestroy(this); }, this);
  DestroyComponents();
}

void TDataModule::DoCreate() {
  if (!OnCreate) return;
  try {
    OnCreate(this);
  } catch (...) {
    create_failed_ = true;
    if (Application != nullptr) Application->HandleException(this);
  }
}

TApplication::TApplication(int& argc, char** argv) : TComponent(nullptr) {
  if (Application != nullptr) throw EInvalidOperation("An application object exists already");
  if (QApplication::instance() == nullptr) own_app_ = std::make_unique<QApplication>(argc, argv);
  Application = this;
  context_ = std::make_unique<QObject>();
  // Once the user has gone to another program, a pending request is moot:
  // the next activation report is the user's own.
  QObject::connect(qApp, &QGuiApplication::applicationStateChanged, context_.get(), [this](Qt::ApplicationState s) {
    if (s != Qt::ApplicationActive) requested_activation_ = nullptr;
  });
  TThread::SetMainThread();
  TThread::SetWakeMainThread(&WakeMainThread);
}

TApplication::~TApplication() {
  destroying_ = true;
  TThread::SetWakeMainThread(nullptr);
  for (QEventLoop* loop : loops_) loop->quit();
  // Forms and data modules go while Qt is still there; the last made first.
  DestroyComponents();
  main_form_ = nullptr;
  context_.reset();
  Application = nullptr;
  own_app_.reset();
}

void TApplication::SetTitle(const std::string& title) {
  title_ = title;
  QCoreApplication::setApplicationName(QString::fromStdString(title));
}

void TApplication::Created(TComponent* component) {
  if (auto* form = dynamic_cast<TForm*>(component)) {
    if (main_form_ == nullptr) main_form_ = form;
    form->DoCreate();
  } else if (auto* module = dynamic_cast<TDataModule*>(component)) {
    module->DoCreate();
  }
}

void TApplication::Run() {
  if (main_form_ == nullptr || terminated_) return;
  Guarded([&] { main_form_->Show(); }, main_form_);
  while (!terminated_) {
    QEventLoop loop;
    RunLoop(loop);
  }
}

void TApplication::RunLoop(QEventLoop& loop) {
  if (terminated_) return;
  loops_.push_back(&loop);
  loop.exec();
  loops_.erase(std::remove(loops_.begin(), loops_.end(), &loop), loops_.end());
}

void TApplication::ProcessMessages() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  TThread::CheckSynchronize();
}

void TApplication::Terminate() {
  terminated_ = true;
  for (QEventLoop* loop : loops_) loop->quit();
}

void TApplication::HandleException(TComponent* sender) {
  std::exception_ptr current = std::current_exception();
  if (!current) return;
  try {
    std::rethrow_exception(current);
  } catch (const EAbort&) {
  } catch (const std::exception& e) {
    if (OnException)
      OnException(sender, e);
    else
      ShowException(e);
  } catch (...) {
    const Exception e("Unknown exception");
    if (OnException)
      OnException(sender, e);
    else
      ShowException(e);
  }
}

void TApplication::ShowException(const std::exception& e) {
  TMessageRequest r;
  r.type = TMsgDlgType::mtError;
  r.caption = title_;
  r.text = e.what();
  r.buttons = {TMsgDlgBtn::mbOK};
  r.escape_result = mrOk;
  MessageService().Ask(r);
}

int TApplication::MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
  TMessageRequest r;
  r.caption = caption;
  r.text = text;
  switch (flags & 0xF0) {
    case MB_ICONERROR: r.type = TMsgDlgType::mtError; break;
    case MB_ICONQUESTION: r.type = TMsgDlgType::mtConfirmation; break;
    case MB_ICONWARNING: r.type = TMsgDlgType::mtWarning; break;
    case MB_ICONINFORMATION: r.type = TMsgDlgType::mtInformation; break;
    default: r.type = TMsgDlgType::mtCustom; break;
  }
  using B = TMsgDlgBtn;
  switch (flags & 0x0F) {
    case MB_OKCANCEL: r.buttons = {B::mbOK, B::mbCancel}; break;
    case MB_ABORTRETRYIGNORE: r.buttons = {B::mbAbort, B::mbRetry, B::mbIgnore}; break;
    case MB_YESNOCANCEL: r.buttons = {B::mbYes, B::mbNo, B::mbCancel}; break;
    case MB_YESNO: r.buttons = {B::mbYes, B::mbNo}; break;
    case MB_RETRYCANCEL: r.buttons = {B::mbRetry, B::mbCancel}; break;
    default: r.buttons = {B::mbOK}; break;
  }
  const std::size_t def = (flags & MB_DEFBUTTON2) != 0 && r.buttons.size() > 1 ? 1 : 0;
  r.default_button = r.buttons[def];
  const bool has_cancel = std::find(r.buttons.begin(), r.buttons.end(), B::mbCancel) != r.buttons.end();
  r.escape_result = has_cancel ? mrCancel : (r.buttons.size() == 1 ? mrOk : mrNone);
  return MessageService().Ask(r);
}

void TApplication::ActivateForm(TForm* form) {
  if (destroying_) return;
  requested_activation_ = form;
  form->Widget()->activateWindow();
  FormActivated(form);
}

void TApplication::WindowActivated(TForm* form) {
  if (requested_activation_ != nullptr) {
    if (requested_activation_ != form) return;
    requested_activation_ = nullptr;
  }
  if (!form->Visible()) return;
  // While a modal form is up only it can be active.
  for (auto it = activation_order_.rbegin(); it != activation_order_.rend(); ++it)
    if ((*it)->Modal()) {
      if (*it != form) return;
      break;
    }
  FormActivated(form);
}

void TApplication::FormActivated(TForm* form) {
  activation_order_.erase(std::remove(activation_order_.begin(), activation_order_.end(), form),
                          activation_order_.end());
  activation_order_.push_back(form);
  if (form == active_form_ || destroying_) return;
  active_form_ = form;
  form->DoActivate();
}

void TApplication::FormHidden(TForm* form) {
  activation_order_.erase(std::remove(activation_order_.begin(), activation_order_.end(), form),
                          activation_order_.end());
  if (requested_activation_ == form) requested_activation_ = nullptr;
  if (active_form_ != form) return;
  active_form_ = nullptr;
  // The window the user came from takes over.
  for (auto it = activation_order_.rbegin(); it != activation_order_.rend(); ++it) {
    TForm* next = *it;
    if (next->Visible()) {
      ActivateForm(next);
      return;
    }
  }
}

void TApplication::FormDestroyed(TForm* form) {
  if (requested_activation_ == form) requested_activation_ = nullptr;
  const bool was_active = active_form_ == form;
  if (was_active && form->Visible()) {
    FormHidden(form);
  } else {
    activation_order_.erase(std::remove(activation_order_.begin(), activation_order_.end(), form),
                            activation_order_.end());
    if (was_active) active_form_ = nullptr;
  }
  if (main_form_ == form) main_form_ = nullptr;
}

}  // namespace fw
