// TForm: a top-level window. A form class builds its controls in its
// constructor (owner: the form) and wires their events to its handlers,
// which carry the names their controls and events give them:
//
//   class TAboutForm : public fw::TForm {
//    public:
//     explicit TAboutForm(fw::TComponent* owner) : TForm(owner) {
//       SetName("AboutForm");
//       SetCaption("About ...");
//       SetClientSize(300, 200);
//       SetPosition(fw::TPosition::poScreenCenter);
//       ExitBut = Make<fw::TBitBtn>("ExitBut", this);
//       ExitBut->SetBounds(110, 160, 75, 25);
//       ExitBut->SetKind(fw::TBitBtnKind::bkOK);
//       OnActivate = [this](fw::TComponent* s) { FormActivate(s); };
//     }
//     fw::TBitBtn* ExitBut;
//     void FormActivate(fw::TComponent* sender);
//   };
//
// Create it with fw::NewForm<T>(owner) (or TApplication::CreateForm), which
// runs OnCreate once the constructor is done.
//
// Sizes: Width/Height are the window's size as Qt keeps it (without the
// window system's frame); ClientWidth/ClientHeight the area below the menu
// bar where the controls are.
//
// Showing: Show fires OnShow, then OnActivate by the application's rule
// (framework/forms/application.h). ShowModal runs a modal loop until
// ModalResult is set (a button with a ModalResult sets it when clicked) or
// the form is closed (mrCancel); then OnCloseQuery and OnClose decide, and
// it returns the result. Close on a modeless form runs OnCloseQuery and
// OnClose (action caHide by default); closing the main form ends the
// application.
#pragma once

#include <functional>
#include <string>
#include <utility>

#include "framework/forms/control.h"
#include "framework/forms/message_service.h"

class QEventLoop;
class QMenuBar;

namespace fw {

class TMainMenu;

enum class TPosition {
  poDesigned, poDefault, poDefaultPosOnly, poDefaultSizeOnly, poScreenCenter, poDesktopCenter, poMainFormCenter,
  poOwnerFormCenter
};
enum class TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
enum TBorderIcon : unsigned { biSystemMenu = 1, biMinimize = 2, biMaximize = 4, biHelp = 8 };
enum class TCloseAction { caNone, caHide, caFree, caMinimize };

using TCloseEvent = std::function<void(TComponent* sender, TCloseAction& action)>;
using TCloseQueryEvent = std::function<void(TComponent* sender, bool& can_close)>;

class TForm : public TWinControl {
 public:
  explicit TForm(TComponent* owner);
  ~TForm() override;

  std::string Caption() const override;
  void SetCaption(const std::string& caption) override;
  void SetClientSize(int width, int height);
  void SetClientWidth(int v) override;
  void SetClientHeight(int v) override;
  TPosition Position() const { return position_; }
  void SetPosition(TPosition position) { position_ = position; }
  TFormBorderStyle BorderStyle() const { return border_style_; }
  void SetBorderStyle(TFormBorderStyle style);
  unsigned BorderIcons() const { return border_icons_; }
  void SetBorderIcons(unsigned icons);
  void SetMenu(TMainMenu* menu);
  TMainMenu* Menu() const { return menu_; }

  bool Visible() const override;
  void SetVisible(bool visible) override;
  void Show();
  void Hide();
  // Raises EInvalidOperation "Cannot make a visible window modal" when
  // shown already.
  TModalResult ShowModal();
  TModalResult ModalResult() const { return modal_result_; }
  void SetModalResult(TModalResult result);
  bool Modal() const { return modal_loop_ != nullptr; }
  void Close();
  // OnCloseQuery's answer (true without a handler).
  bool CloseQuery();
  // Frees the form once the events under way are handled.
  void Release();
  bool Active() const;

  // Runs OnCreate (NewForm and TApplication::CreateForm call it); an
  // exception from it is shown and leaves CreateFailed set.
  void DoCreate();
  bool CreateFailed() const { return create_failed_; }
  // Runs OnActivate; the application calls it.
  void DoActivate();

  // Makes a control owned by this form, named name, shown in parent.
  template <class T>
  T* Make(const std::string& name, TWinControl* parent) {
    T* c = new T(this);
    c->SetName(name);
    c->SetParent(parent);
    return c;
  }

  TNotifyEvent OnCreate, OnDestroy, OnShow, OnHide, OnActivate, OnDeactivate;
  TCloseEvent OnClose;
  TCloseQueryEvent OnCloseQuery;

 protected:
  void ApplyBounds(const QRect& r) override;
  bool WidgetEvent(QEvent* event) override;
  void ColorChanged() override;

 private:
  friend class FormWidget;
  void PlaceOnScreen();
  void LayoutClient();
  void WindowClosing();
  // Runs OnCloseQuery and OnClose for a modal form; false keeps it open.
  bool CloseModal();
  void ApplyWindowFlags();

  QWidget* client_area_;
  QMenuBar* menu_bar_ = nullptr;
  TMainMenu* menu_ = nullptr;
  TPosition position_ = TPosition::poDesigned;
  TFormBorderStyle border_style_ = TFormBorderStyle::bsSizeable;
  unsigned border_icons_ = biSystemMenu | biMinimize | biMaximize;
  TModalResult modal_result_ = mrNone;
  QEventLoop* modal_loop_ = nullptr;
  bool shown_once_ = false;
  bool create_failed_ = false;
  bool destroying_form_ = false;
};

// Makes a form (or any component with DoCreate) and runs its OnCreate;
// args go to the constructor after the owner.
template <class T, class... Args>
T* NewForm(TComponent* owner, Args&&... args) {
  T* f = new T(owner, std::forward<Args>(args)...);
  f->DoCreate();
  return f;
}

}  // namespace fw
