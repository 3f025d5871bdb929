#include "framework/forms/control.h"

#include <algorithm>

#include <QEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QResizeEvent>

#include "framework/exceptions.h"
#include "framework/forms/application.h"
#include "framework/forms/form.h"
#include "framework/forms/qt_text.h"

namespace fw {

QColor QtColor(TColor color) {
  const TColor c = ColorToRGB(color);
  return QColor(GetRValue(c), GetGValue(c), GetBValue(c));
}

// Forwards the widget's (and a container's client widget's) events to the
// control. Lives as a child of the widget, so it goes with it.
class ControlEventFilter : public QObject {
 public:
  ControlEventFilter(TControl* control, QObject* parent) : QObject(parent), control_(control) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (control_ == nullptr) return false;
    auto* win = dynamic_cast<TWinControl*>(control_);
    if (win != nullptr && watched == win->ClientWidget() && watched != control_->Widget()) {
      if (event->type() == QEvent::Resize) win->AlignControls();
      return false;
    }
    if (watched != control_->Widget()) return false;
    bool eaten = false;
    Guarded([&] { eaten = control_->WidgetEvent(event); }, control_);
    return eaten;
  }
  void Detach() { control_ = nullptr; }

 private:
  TControl* control_;
};

namespace {

unsigned ShiftOf(Qt::KeyboardModifiers m) {
  unsigned s = 0;
  if (m & Qt::ShiftModifier) s |= ssShift;
  if (m & Qt::AltModifier) s |= ssAlt;
  if (m & Qt::ControlModifier) s |= ssCtrl;
  return s;
}

}  // namespace

// ---------------------------------------------------------------------------
// TControl

TControl::TControl(TComponent* owner, QWidget* widget) : TComponent(owner), widget_(widget) {
  filter_ = new ControlEventFilter(this, widget_);
  widget_->installEventFilter(filter_);
  font_.Size = widget_->font().pointSize() > 0 ? widget_->font().pointSize() : 8;
}

TControl::~TControl() {
  if (parent_ != nullptr) {
    auto& v = parent_->controls_;
    v.erase(std::remove(v.begin(), v.end(), this), v.end());
  }
  if (filter_ != nullptr) filter_->Detach();
  if (widget_ != nullptr) delete widget_.data();
}

void TControl::SetName(const std::string& name) {
  TComponent::SetName(name);
  if (widget_ != nullptr) widget_->setObjectName(QString::fromStdString(name));
}

void TControl::SetParent(TWinControl* parent) {
  if (parent == parent_) return;
  if (parent_ != nullptr) {
    auto& v = parent_->controls_;
    v.erase(std::remove(v.begin(), v.end(), this), v.end());
  }
  parent_ = parent;
  if (widget_ == nullptr) return;
  const QRect r = widget_->geometry();
  if (parent != nullptr)
    parent->InsertWidget(this);
  else
    widget_->setParent(nullptr);
  widget_->setGeometry(r);
  if (parent != nullptr) {
    parent->controls_.push_back(this);
    if (parent_show_hint_) SetParentShowHintValue(parent->show_hint_);
    ApplyVisibility();
    TakeAnchorOrigin();
    if (align_ != TAlign::alNone) parent->AlignControls();
  }
}

TForm* TControl::ParentForm() const {
  const TControl* c = this;
  while (c != nullptr) {
    if (auto* f = dynamic_cast<const TForm*>(c)) return const_cast<TForm*>(f);
    c = c->parent_;
  }
  return nullptr;
}

int TControl::Left() const { return widget_ ? widget_->geometry().x() : 0; }
int TControl::Top() const { return widget_ ? widget_->geometry().y() : 0; }
int TControl::Width() const { return widget_ ? widget_->geometry().width() : 0; }
int TControl::Height() const { return widget_ ? widget_->geometry().height() : 0; }

void TControl::ApplyBounds(const QRect& r) {
  if (widget_ == nullptr) return;
  const QSize old = widget_->size();
  widget_->setGeometry(r);
  // A hidden widget gets its resize event only when shown; lay out now.
  if (auto* w = dynamic_cast<TWinControl*>(this); w != nullptr && old != r.size()) w->AlignControls();
}

void TControl::SetBounds(int left, int top, int width, int height) {
  ApplyBounds(QRect(left, top, std::max(0, width), std::max(0, height)));
  TakeAnchorOrigin();
  if (parent_ != nullptr && align_ != TAlign::alNone) parent_->AlignControls();
}

void TControl::SetAlign(TAlign align) {
  if (align == align_) return;
  align_ = align;
  if (parent_ != nullptr) parent_->AlignControls();
}

void TControl::SetAnchors(unsigned anchors) {
  anchors_ = anchors;
  TakeAnchorOrigin();
}

void TControl::TakeAnchorOrigin() {
  if (parent_ == nullptr) return;
  right_gap_ = parent_->ClientWidth() - (Left() + Width());
  bottom_gap_ = parent_->ClientHeight() - (Top() + Height());
}

void TControl::AnchorTo(int parent_width, int parent_height) {
  int l = Left(), t = Top(), w = Width(), h = Height();
  if (anchors_ & akRight) {
    if (anchors_ & akLeft)
      w = std::max(0, parent_width - right_gap_ - l);
    else
      l = parent_width - right_gap_ - w;
  }
  if (anchors_ & akBottom) {
    if (anchors_ & akTop)
      h = std::max(0, parent_height - bottom_gap_ - t);
    else
      t = parent_height - bottom_gap_ - h;
  }
  ApplyBounds(QRect(l, t, w, h));
}

void TControl::ApplyVisibility() {
  if (widget_ == nullptr) return;
  // A control without a parent would become a window of its own.
  if (parent_ == nullptr && dynamic_cast<TForm*>(this) == nullptr) return;
  widget_->setVisible(visible_);
}

void TControl::SetVisible(bool visible) {
  const bool changed = visible != visible_;
  visible_ = visible;
  ApplyVisibility();
  if (changed && parent_ != nullptr && align_ != TAlign::alNone) parent_->AlignControls();
}

void TControl::SetEnabled(bool enabled) {
  enabled_ = enabled;
  if (widget_ != nullptr) widget_->setEnabled(enabled);
}

void TControl::SetHint(const std::string& hint) {
  hint_ = hint;
  ApplyHint();
}

void TControl::ApplyHint() {
  if (widget_ != nullptr) widget_->setToolTip(show_hint_ ? QStr(hint_) : QString());
}

void TControl::SetShowHint(bool show) {
  parent_show_hint_ = false;
  SetParentShowHintValue(show);
}

void TControl::SetParentShowHintValue(bool show) {
  show_hint_ = show;
  ApplyHint();
  ShowHintChanged();
}

void TControl::ShowHintChanged() {}

void TControl::SetCaption(const std::string& caption) { caption_ = caption; }

void TControl::SetColor(TColor color) {
  color_ = color;
  ColorChanged();
}

void TControl::ColorChanged() {}

void TControl::SetFont(const TFont& font) {
  font_ = font;
  FontChanged();
}

void TControl::FontChanged() {
  if (widget_ == nullptr) return;
  QFont f = widget_->font();
  if (!font_.Name.empty()) f.setFamily(QStr(font_.Name));
  if (font_.Size > 0) f.setPointSize(font_.Size);
  f.setBold(font_.Bold);
  f.setItalic(font_.Italic);
  f.setUnderline(font_.Underline);
  widget_->setFont(f);
  QPalette p = widget_->palette();
  p.setColor(QPalette::WindowText, QtColor(font_.Color));
  p.setColor(QPalette::Text, QtColor(font_.Color));
  p.setColor(QPalette::ButtonText, QtColor(font_.Color));
  widget_->setPalette(p);
}

void TControl::Invalidate() {
  if (widget_ != nullptr) widget_->update();
}

void TControl::Repaint() {
  if (widget_ != nullptr) widget_->repaint();
}

void TControl::Update() {
  if (widget_ != nullptr) widget_->update();
}

bool TControl::Focused() const { return widget_ != nullptr && widget_->hasFocus(); }

bool TControl::CanFocus() const {
  for (const TControl* c = this; c != nullptr; c = c->parent_)
    if (!c->visible_ || !c->enabled_) return false;
  return widget_ != nullptr;
}

void TControl::SetFocus() {
  if (!CanFocus()) throw EInvalidOperation("Cannot focus a disabled or invisible window");
  widget_->setFocus(Qt::OtherFocusReason);
}

void TControl::Click() {
  if (OnClick) OnClick(this);
}

bool TControl::WidgetEvent(QEvent* event) {
  switch (event->type()) {
    case QEvent::Resize:
      if (OnResize) OnResize(this);
      break;
    case QEvent::KeyPress:
      if (OnKeyDown) {
        auto* k = static_cast<QKeyEvent*>(event);
        int key = k->key();
        OnKeyDown(this, key, ShiftOf(k->modifiers()));
        return key == 0;
      }
      break;
    case QEvent::KeyRelease:
      if (OnKeyUp && !static_cast<QKeyEvent*>(event)->isAutoRepeat()) {
        auto* k = static_cast<QKeyEvent*>(event);
        int key = k->key();
        OnKeyUp(this, key, ShiftOf(k->modifiers()));
      }
      break;
    case QEvent::MouseButtonPress:
      mouse_pressed_ = static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton;
      break;
    case QEvent::MouseButtonRelease:
      if (click_on_release_ && mouse_pressed_ && enabled_ &&
          widget_->rect().contains(static_cast<QMouseEvent*>(event)->position().toPoint()))
        Click();
      mouse_pressed_ = false;
      break;
    case QEvent::MouseButtonDblClick:
      if (OnDblClick) OnDblClick(this);
      break;
    default:
      break;
  }
  return false;
}

// ---------------------------------------------------------------------------
// TWinControl

TWinControl::TWinControl(TComponent* owner, QWidget* widget, QWidget* client) : TControl(owner, widget) {
  SetClientWidget(client);
}

TWinControl::~TWinControl() {
  // Children that outlive us (owned elsewhere) lose their parent.
  for (TControl* c : controls_) c->parent_ = nullptr;
  controls_.clear();
}

void TWinControl::SetClientWidget(QWidget* client) {
  client_ = client;
  if (client != nullptr && client != Widget() && filter_ != nullptr) client->installEventFilter(filter_);
}

void TWinControl::InsertWidget(TControl* child) { child->Widget()->setParent(ClientWidget()); }

int TWinControl::ClientWidth() const { return ClientWidget() != nullptr ? ClientWidget()->width() : 0; }
int TWinControl::ClientHeight() const { return ClientWidget() != nullptr ? ClientWidget()->height() : 0; }

QRect TWinControl::AlignRect() const {
  return ClientWidget() != nullptr ? QRect(0, 0, ClientWidget()->width(), ClientWidget()->height()) : QRect();
}

bool TWinControl::WidgetEvent(QEvent* event) {
  if (event->type() == QEvent::Resize && ClientWidget() == Widget()) AlignControls();
  return TControl::WidgetEvent(event);
}

void TWinControl::ShowHintChanged() {
  for (TControl* c : controls_)
    if (c->parent_show_hint_) c->SetParentShowHintValue(ShowHint());
}

void TWinControl::AlignControls() {
  if (aligning_ || ClientWidget() == nullptr) return;
  aligning_ = true;
  QRect r = AlignRect();
  auto pick = [&](TAlign a) {
    std::vector<TControl*> v;
    for (TControl* c : controls_)
      if (c->align_ == a && c->visible_) v.push_back(c);
    return v;
  };
  std::vector<TControl*> v = pick(TAlign::alTop);
  std::stable_sort(v.begin(), v.end(), [](TControl* a, TControl* b) { return a->Top() < b->Top(); });
  for (TControl* c : v) {
    const int h = c->Height();
    c->ApplyBounds(QRect(r.left(), r.top(), r.width(), h));
    r.setTop(r.top() + h);
  }
  v = pick(TAlign::alBottom);
  std::stable_sort(v.begin(), v.end(),
                   [](TControl* a, TControl* b) { return a->Top() + a->Height() > b->Top() + b->Height(); });
  for (TControl* c : v) {
    const int h = c->Height();
    c->ApplyBounds(QRect(r.left(), r.bottom() + 1 - h, r.width(), h));
    r.setBottom(r.bottom() - h);
  }
  v = pick(TAlign::alLeft);
  std::stable_sort(v.begin(), v.end(), [](TControl* a, TControl* b) { return a->Left() < b->Left(); });
  for (TControl* c : v) {
    const int w = c->Width();
    c->ApplyBounds(QRect(r.left(), r.top(), w, std::max(0, r.height())));
    r.setLeft(r.left() + w);
  }
  v = pick(TAlign::alRight);
  std::stable_sort(v.begin(), v.end(),
                   [](TControl* a, TControl* b) { return a->Left() + a->Width() > b->Left() + b->Width(); });
  for (TControl* c : v) {
    const int w = c->Width();
    c->ApplyBounds(QRect(r.right() + 1 - w, r.top(), w, std::max(0, r.height())));
    r.setRight(r.right() - w);
  }
  for (TControl* c : pick(TAlign::alClient))
    c->ApplyBounds(QRect(r.left(), r.top(), std::max(0, r.width()), std::max(0, r.height())));
  const int pw = ClientWidth(), ph = ClientHeight();
  for (TControl* c : controls_)
    if (c->align_ == TAlign::alNone && (c->anchors_ & (akRight | akBottom)) != 0) c->AnchorTo(pw, ph);
  aligning_ = false;
}

}  // namespace fw
