#include "framework/forms/form.h"

#include <QCloseEvent>
#include <QEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QMenuBar>
#include <QScreen>
#include <QTimer>

#include "framework/exceptions.h"
#include "framework/forms/application.h"
#include "framework/forms/menus.h"
#include "framework/forms/qt_text.h"

namespace fw {

namespace {

// A form owned by a form is a window of that window (it stays in front of
// it); others are windows of their own.
QWidget* OwnerWindow(TComponent* owner) {
  auto* form = dynamic_cast<TForm*>(owner);
  return form != nullptr ? form->Widget() : nullptr;
}

}  // namespace

TForm::TForm(TComponent* owner) : TWinControl(owner, new QWidget(OwnerWindow(owner), Qt::Window)), client_area_(nullptr) {
  client_area_ = new QWidget(Widget());
  client_area_->setObjectName(QStringLiteral("client"));
  SetClientWidget(client_area_);
  Widget()->setAttribute(Qt::WA_DeleteOnClose, false);
  ColorChanged();
  SetClientSize(320, 240);
}

TForm::~TForm() {
  destroying_form_ = true;
  if (OnDestroy) Guarded([&] { OnDestroy(this); }, this);
  if (modal_loop_ != nullptr) modal_loop_->quit();
  if (Application != nullptr) Application->FormDestroyed(this);
  // Controls go before the window they show in.
  DestroyComponents();
}

std::string TForm::Caption() const { return AnsiStr(Widget() ? Widget()->windowTitle() : QString()); }

void TForm::SetCaption(const std::string& caption) {
  TControl::SetCaption(caption);
  if (Widget() != nullptr) Widget()->setWindowTitle(QStr(caption));
}

void TForm::LayoutClient() {
  QWidget* w = Widget();
  if (w == nullptr) return;
  int top = 0;
  if (menu_bar_ != nullptr) {
    top = menu_bar_->sizeHint().height();
    menu_bar_->setGeometry(0, 0, w->width(), top);
  }
  client_area_->setGeometry(0, top, w->width(), std::max(0, w->height() - top));
}

namespace {
int MenuHeight(QMenuBar* bar) { return bar != nullptr ? bar->sizeHint().height() : 0; }
}  // namespace

void TForm::SetClientSize(int width, int height) {
  SetBounds(Left(), Top(), width, height + MenuHeight(menu_bar_));
}

void TForm::SetClientWidth(int v) { SetClientSize(v, ClientHeight()); }
void TForm::SetClientHeight(int v) { SetClientSize(ClientWidth(), v); }

void TForm::ApplyBounds(const QRect& r) {
  QWidget* w = Widget();
  if (w == nullptr) return;
  w->move(r.topLeft());
  w->resize(r.size());
  LayoutClient();
  AlignControls();
}

void TForm::ColorChanged() {
  QPalette p = client_area_->palette();
  p.setColor(QPalette::Window, QtColor(Color()));
  client_area_->setPalette(p);
  client_area_->setAutoFillBackground(true);
}

void TForm::SetBorderStyle(TFormBorderStyle style) {
  border_style_ = style;
  ApplyWindowFlags();
}

void TForm::SetBorderIcons(unsigned icons) {
  border_icons_ = icons;
  ApplyWindowFlags();
}

void TForm::ApplyWindowFlags() {
  QWidget* w = Widget();
  if (w == nullptr) return;
  const bool visible = w->isVisible();
  Qt::WindowFlags f = Qt::Window;
  switch (border_style_) {
    case TFormBorderStyle::bsNone: f |= Qt::FramelessWindowHint; break;
    case TFormBorderStyle::bsDialog: f = Qt::Dialog; break;
    case TFormBorderStyle::bsToolWindow:
    case TFormBorderStyle::bsSizeToolWin: f = Qt::Tool; break;
    default: break;
  }
  if (border_style_ != TFormBorderStyle::bsNone) {
    f |= Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (border_icons_ & biSystemMenu) f |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (border_icons_ & biMinimize) f |= Qt::WindowMinimizeButtonHint;
    if (border_icons_ & biMaximize) f |= Qt::WindowMaximizeButtonHint;
  }
  w->setWindowFlags(f);
  if (visible) w->show();
}

void TForm::SetMenu(TMainMenu* menu) {
  menu_ = menu;
  if (menu_bar_ == nullptr && menu != nullptr) {
    const int client_height = ClientHeight();
    menu_bar_ = new QMenuBar(Widget());
    menu->Populate(menu_bar_);
    SetClientSize(ClientWidth(), client_height);
  } else if (menu_bar_ != nullptr && menu != nullptr) {
    menu_bar_->clear();
    menu->Populate(menu_bar_);
  }
  LayoutClient();
}

bool TForm::Visible() const { return Widget() != nullptr && Widget()->isVisible(); }

void TForm::SetVisible(bool visible) {
  if (visible)
    Show();
  else
    Hide();
}

void TForm::PlaceOnScreen() {
  QWidget* w = Widget();
  QRect area;
  switch (position_) {
    case TPosition::poScreenCenter:
    case TPosition::poDesktopCenter:
      if (QScreen* s = QGuiApplication::primaryScreen()) area = s->availableGeometry();
      break;
    case TPosition::poMainFormCenter:
      if (Application != nullptr && Application->MainForm() != nullptr && Application->MainForm() != this)
        area = Application->MainForm()->Widget()->geometry();
      break;
    case TPosition::poOwnerFormCenter:
      if (auto* f = dynamic_cast<TForm*>(Owner())) area = f->Widget()->geometry();
      break;
    default:
      break;
  }
  if (area.isValid())
    w->move(area.left() + (area.width() - w->width()) / 2, area.top() + (area.height() - w->height()) / 2);
}

void TForm::Show() {
  QWidget* w = Widget();
  if (w == nullptr) return;
  const bool was_visible = w->isVisible();
  if (!shown_once_) {
    shown_once_ = true;
    PlaceOnScreen();
    if (border_style_ == TFormBorderStyle::bsSingle || border_style_ == TFormBorderStyle::bsDialog ||
        border_style_ == TFormBorderStyle::bsToolWindow)
      w->setFixedSize(w->size());
  }
  w->show();
  LayoutClient();
  AlignControls();
  if (!was_visible && OnShow) OnShow(this);
  // The offscreen platform has no window stacking to change.
  if (QGuiApplication::platformName() != QLatin1String("offscreen")) w->raise();
  if (Application != nullptr && w->isVisible())
    Application->ActivateForm(this);
  else
    w->activateWindow();
}

void TForm::Hide() {
  QWidget* w = Widget();
  if (w == nullptr || !w->isVisible()) return;
  w->hide();
  if (OnHide) OnHide(this);
  if (Application != nullptr) Application->FormHidden(this);
}

TModalResult TForm::ShowModal() {
  if (Visible() || modal_loop_ != nullptr) throw EInvalidOperation("Cannot make a visible window modal");
  QEventLoop loop;
  modal_result_ = mrNone;
  Widget()->setWindowModality(Qt::ApplicationModal);
  modal_loop_ = &loop;
  struct Restore {
    TForm* form;
    ~Restore() {
      form->modal_loop_ = nullptr;
      if (form->Widget() != nullptr) {
        form->Hide();
        form->Widget()->setWindowModality(Qt::NonModal);
      }
    }
  } restore{this};
  Show();
  if (Application != nullptr && Application->OnModalShown) {
    QTimer::singleShot(0, Widget(), [this] {
      Guarded([&] {
        if (Application != nullptr && Application->OnModalShown) Application->OnModalShown(*this);
      }, this);
    });
  }
  for (;;) {
    if (modal_result_ == mrNone) {
      if (Application != nullptr)
        Application->RunLoop(loop);
      else
        loop.exec();
    }
    if (Application != nullptr && Application->Terminated()) {
      if (modal_result_ == mrNone) modal_result_ = mrCancel;
      break;
    }
    if (modal_result_ == mrNone) continue;
    if (CloseModal()) break;
    modal_result_ = mrNone;
  }
  return modal_result_;
}

bool TForm::CloseModal() {
  if (!CloseQuery()) return false;
  TCloseAction action = TCloseAction::caHide;
  if (OnClose) OnClose(this, action);
  if (action == TCloseAction::caNone) return false;
  if (action == TCloseAction::caFree) Release();
  return true;
}

void TForm::SetModalResult(TModalResult result) {
  modal_result_ = result;
  if (modal_loop_ != nullptr && result != mrNone) modal_loop_->quit();
}

bool TForm::CloseQuery() {
  bool can_close = true;
  if (OnCloseQuery) OnCloseQuery(this, can_close);
  return can_close;
}

void TForm::Close() {
  if (modal_loop_ != nullptr) {
    if (modal_result_ == mrNone) SetModalResult(mrCancel);
    return;
  }
  if (!CloseQuery()) return;
  TCloseAction action = TCloseAction::caHide;
  if (OnClose) OnClose(this, action);
  if (action == TCloseAction::caNone) return;
  if (Application != nullptr && Application->MainForm() == this) {
    Hide();
    Application->Terminate();
    return;
  }
  switch (action) {
    case TCloseAction::caMinimize:
      Widget()->showMinimized();
      break;
    case TCloseAction::caFree:
      Hide();
      Release();
      break;
    default:
      Hide();
      break;
  }
}

void TForm::WindowClosing() { Close(); }

void TForm::Release() {
  if (Widget() == nullptr) return;
  QMetaObject::invokeMethod(Widget(), [this] { delete this; }, Qt::QueuedConnection);
}

bool TForm::Active() const { return Application != nullptr && Application->ActiveForm() == this; }

void TForm::DoCreate() {
  if (!OnCreate) return;
  try {
    OnCreate(this);
  } catch (...) {
    create_failed_ = true;
    if (Application != nullptr) Application->HandleException(this);
  }
}

void TForm::DoActivate() {
  if (OnActivate) Guarded([&] { OnActivate(this); }, this);
}

bool TForm::WidgetEvent(QEvent* event) {
  switch (event->type()) {
    case QEvent::Close:
      // The window's close box: the form decides.
      event->ignore();
      WindowClosing();
      return true;
    case QEvent::WindowActivate:
      if (Application != nullptr && !destroying_form_) Application->WindowActivated(this);
      break;
    case QEvent::Resize:
      LayoutClient();
      break;
    default:
      break;
  }
  return TWinControl::WidgetEvent(event);
}

}  // namespace fw
